// The c-treeSQL driver over the recording driver: the lower-cased catalogue probes, golden DDL
// texts, columns and indexes described from syscolumns and sysindexes, the rebuild through
// <table>_bkp, the duplicate-key tests, and whole filters through the table file's hooks.
#include "server/drivers/ctreesql.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "lib_common/commbuffer.h"
#include "server/tables/dbtable.h"
#include "tests/server/support/odbcdialect.h"
#include "tests/server/support/recodbc_fixture.h"
#include "tests/server/support/testisam.h"

namespace {

constexpr const char* kColumns = "select col, coltype, width from syscolumns where tbl = 't1'";
constexpr const char* kIndexes =
    "select idxseq, id, idxname, tbl, colname from sysindexes where tbl = 't1' order by "
    "idxname,idxseq";
constexpr const char* kAddRecnoKey = "alter table t1 add primary key (r_e_c_n_o_)";

using gmtest::Lines;

class CTreeSQL : public gmtest::RecordedODBC {
protected:
    std::unique_ptr<tCTreeSQLConnection> Connected() {
        auto conn = std::make_unique<tCTreeSQLConnection>("CTREESQL", tString("RECDSN"),
                                                          tString("gm"), tString("pw"), loader);
        EXPECT_TRUE(conn->Connect());
        rec.ClearLog();
        process.ClearLog();
        return conn;
    }
    void Rows(const char* sql, const std::vector<const char*>& columns,
              const std::vector<std::vector<const char*>>& rows) {
        gmtest::ScriptRows(rec, sql, columns, rows);
    }
    // T1: CODE C 10, PRICE N, R_E_C_N_O_, D_E_L_E_T_.
    void DescribeT1(tTableDefinition& def) {
        Rows(kColumns, {"col", "coltype", "width"},
             {{"code", "varchar", "10"},
              {"price", "float", "8"},
              {"r_e_c_n_o_", "integer", "4"},
              {"d_e_l_e_t_", "char", "1"}});
        ASSERT_TRUE(conn->DescribeTable(def));
    }

    std::unique_ptr<tCTreeSQLConnection> conn;
};

TEST_P(CTreeSQL, ProbesAreLowerCasedAndLogNothing) {
    conn = Connected();
    EXPECT_STREQ(conn->GetOwner(), "");
    const char* table = "select tbl from systables where tbl = 'orders'";
    Rows(table, {"tbl"}, {{"orders"}});
    EXPECT_TRUE(conn->CanOpen("ORDERS", nullptr));
    rec.FailNext(table, "42S02", -20005, "Table/View/Synonym not found");
    EXPECT_FALSE(conn->CanOpen("Orders", nullptr));
    const char* index =
        "select idxname from sysindexes where tbl = 'orders' and idxname = 'orders_1'";
    Rows(index, {"idxname"}, {{"orders_1"}});
    EXPECT_TRUE(conn->CanOpen("ORDERS", "ORDERS_1"));
    EXPECT_FALSE(conn->CanOpen("ORDERS", "ORDERS_1"));  // no row
    EXPECT_EQ(std::string(rec.Statements()), Lines({table, table, index, index}));
    EXPECT_TRUE(process.LogEntries().empty());
}

TEST_P(CTreeSQL, DDLTexts) {
    conn = Connected();
    gmtest::ExpectDDLTexts(
        *conn, rec,
        {"create table T1(CODE varchar(300) not null default '" + std::string(245, ' ') +
             "',NOTE lvarchar,PRICE float not null default 0.0,OK varchar(1) not null default "
             "'F',DT varchar(8) not null default '        ',ODD,R_E_C_N_O_ int not null default "
             "0.0) ",
         kAddRecnoKey, "drop index t1_2 on t1", "select tbl from systables",
         "select max(r_e_c_n_o_) recno from T1", "delete from T1"});
}

TEST_P(CTreeSQL, DescribeTableMapsTheCatalogueTypes) {
    conn = Connected();
    Rows(kColumns, {"col", "coltype", "width"},
         {{"code", "varchar", "10"},
          {"price", "float", "8"},
          {"total", "float8", "8"},
          {"qty", "integer", "4"},
          {"r_e_c_d_e_l_", "integer", "4"}});
    tTableDefinitionExclusive def("T1", "RECDSN");
    ASSERT_TRUE(conn->DescribeTable(def));
    gmtest::ExpectFields(def, {{"CODE", 'C', 10, 0, true},
                               {"PRICE", 'N', 15, 6, true},
                               {"TOTAL", 'X', 0, 0, false},
                               {"QTY", 'N', 15, 6, true},
                               {"R_E_C_D_E_L_", 'N', 15, 6, false}});
    EXPECT_NE(console->Get().find("[WARNING] (tCTreeSQLConnection::DescribeTable) Table [T1] "
                                  "unsupported field [TOTAL] type [float8].\n"),
              std::string::npos)
        << console->Get();
}

TEST_P(CTreeSQL, IndexesComeFromTheRowsOfSysindexes) {
    conn = Connected();
    tTableDefinitionExclusive def("T1", "RECDSN");
    DescribeT1(def);
    Rows(kIndexes, {"idxseq", "id", "idxname", "tbl", "colname"},
         {{"0", "1", "a", "t1", "code"},
          {"1", "1", "a", "t1", "d_e_l_e_t_"},
          {"0", "2", "b", "t1", "r_e_c_n_o_"},
          {"0", "3", "c", "t1", "price"},
          {"1", "3", "c", "t1", "nosuch"},
          {"2", "3", "c", "t1", "code"}});
    ASSERT_TRUE(conn->DescribeIndexes(def));
    ASSERT_EQ(def.GetIndexCount(), 1);
    EXPECT_STREQ(def.GetIndex(0)->GetName(), "A");
    ASSERT_EQ(def.GetIndex(0)->GetFieldCount(), 1);
    EXPECT_EQ(def.GetIndex(0)->GetField(0), 0);
    EXPECT_NE(console->Get().find("index [C] skipped: no field [NOSUCH]"), std::string::npos)
        << console->Get();
    EXPECT_EQ(std::string(rec.Statements()), Lines({kColumns, kIndexes}));  // no key added

    tTableDefinitionExclusive bare("T1", "RECDSN");
    DescribeT1(bare);
    Rows(kIndexes, {"idxseq", "id", "idxname", "tbl", "colname"}, {{"0", "1", "a", "t1", "code"}});
    ASSERT_TRUE(conn->DescribeIndexes(bare));
    EXPECT_EQ(bare.GetIndexCount(), 1);
    EXPECT_EQ(std::string(rec.Statements()),
              Lines({kColumns, kIndexes, kColumns, kIndexes, kAddRecnoKey}));
}

TEST_P(CTreeSQL, EveryAlterationRebuildsTheTable) {
    conn = Connected();
    const struct {
        const char* name;
        u8 hasRecDel;
        std::vector<gmtest::ActionSpec> actions;
        std::string create;
        std::string insert;
    } cases[] = {
        {"an added field, without R_E_C_D_E_L_",
         0,
         {{"CODE", 'C', 5, 0, 'C', 5, 0, 0}, {"NEW", 'N', 10, 2, 'N', 10, 2, tActionField::kAdd}},
         "create table T1(CODE varchar(5) not null default '     ',NEW float not null default "
         "0.0,D_E_L_E_T_ varchar(1) not null default ' ',R_E_C_N_O_ int not null default 0.0) ",
         "insert into T1(CODE,D_E_L_E_T_,R_E_C_N_O_) select CODE,D_E_L_E_T_,R_E_C_N_O_ from "
         "T1_bkp "},
        {"N 10,2 to C 20, C shortened, one dropped, with R_E_C_D_E_L_",
         1,
         {{"PRICE", 'N', 10, 2, 'C', 20, 0, tActionField::kTypeChange},
          {"NAME", 'C', 30, 0, 'C', 8, 0, tActionField::kLengthChange},
          {"OLD", 'C', 5, 0, 'C', 5, 0, tActionField::kDrop},
          {"QTY", 'C', 5, 0, 'N', 10, 0, tActionField::kTypeChange}},
         "create table T1(PRICE varchar(20) not null default '" + std::string(20, ' ') +
             "',NAME varchar(8) not null default '        ',QTY float not null default "
             "0.0,D_E_L_E_T_ varchar(1) not null default ' ',R_E_C_N_O_ int not null default "
             "0.0,R_E_C_D_E_L_ int not null default 0.0) ",
         "insert into T1(PRICE,NAME,D_E_L_E_T_,R_E_C_N_O_,R_E_C_D_E_L_) select "
         "substr(char(decimal(PRICE,10,2)),1,12),substr(NAME,1,8),D_E_L_E_T_,R_E_C_N_O_,R_E_C_D_"
         "E_L_ from T1_bkp "},
        {"only added fields",
         0,
         {{"NEW", 'C', 2, 0, 'C', 2, 0, tActionField::kAdd}},
         "create table T1(NEW varchar(2) not null default '  ',D_E_L_E_T_ varchar(1) not null "
         "default ' ',R_E_C_N_O_ int not null default 0.0) ",
         "insert into T1(D_E_L_E_T_,R_E_C_N_O_) select D_E_L_E_T_,R_E_C_N_O_ from T1_bkp "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        rec.ClearLog();
        Rows("select max(r_e_c_n_o_) from T1", {"m"}, {{"5000"}});
        tAutoArray<tActionField> actions;
        gmtest::FillActions(actions, c.actions);
        ASSERT_TRUE(conn->AlterTable("T1", actions, c.hasRecDel));
        EXPECT_EQ(gmtest::StatementsWithout(rec, {"select tbl from systables"}),
                  Lines({"create table T1_bkp as select * from T1",
                         "create index T1_BKPidx on T1_BKP(r_e_c_n_o_)",
                         "select max(r_e_c_n_o_) from T1", "drop table T1", c.create,
                         c.insert + " WHERE R_E_C_N_O_ > 0 AND R_E_C_N_O_ <= 4096",
                         c.insert + " WHERE R_E_C_N_O_ > 4096 AND R_E_C_N_O_ <= 8192"}));
    }
}

TEST_P(CTreeSQL, BackupWithMoreRowsThanTheTableIsKept) {
    conn = Connected();
    tAutoArray<tActionField> actions;
    gmtest::FillActions(actions, {{"OLD", 'C', 5, 0, 'C', 5, 0, tActionField::kDrop}});
    Rows("select tbl from systables where tbl = 't1_bkp'", {"tbl"}, {{"t1_bkp"}});
    Rows("SELECT COUNT(*) AS TOTAL FROM T1", {"N"}, {{"3"}});
    Rows("SELECT COUNT(*) AS TOTAL FROM T1_BKP", {"N"}, {{"5"}});
    EXPECT_FALSE(conn->AlterStructure("T1", actions, 0));
    EXPECT_EQ(gmtest::StatementsWithout(rec, {"select tbl ", "SELECT COUNT(*)"}), "");
    tString text;
    EXPECT_EQ(conn->GetLastErrorInfo(text), -19);
    EXPECT_NE(std::string(text.GetText()).find("Backup table [T1_BKP] kept"), std::string::npos);
}

TEST_P(CTreeSQL, DuplicateKeysAndTheRecordNumberKey) {
    conn = Connected();
    EXPECT_TRUE(conn->IsDuplicateKey(-17002));
    EXPECT_FALSE(conn->IsDuplicateKey(-1));
    tTableDefinitionExclusive def("T1", "RECDSN");
    std::unique_ptr<tStatement> stmt(conn->NewStatement());
    rec.FailNext("insert*", "23000", -17002, "Key value already exists");
    EXPECT_FALSE(stmt->ExecDirect("insert into T1 values (1)", "test", 1));
    EXPECT_TRUE(conn->IsRecnoKeyError(def));
    rec.FailNext("insert*", "23000", -17002, "Some other failure");
    EXPECT_FALSE(stmt->ExecDirect("insert into T1 values (1)", "test", 1));
    EXPECT_FALSE(conn->IsRecnoKeyError(def));
}

INSTANTIATE_TEST_SUITE_P(Modes, CTreeSQL, ::testing::Bool(), gmtest::ODBCModeName);

class CTreeSQLFilter : public ::testing::Test, public gmtest::IsamTestBed {
protected:
    CTreeSQLFilter() : file(&conn, gmtest::ClientesDefinition(), reply, session.threadId) {}
    tCTreeSQLISAMFile file;
};

TEST_F(CTreeSQLFilter, QuotesAreWrittenWithCHR) {
    EXPECT_EQ(gmtest::TranslateFilter(file, "NOME *EQ \"it's\""), "NOME = 'it' || CHR(39) || 's'");
    EXPECT_EQ(gmtest::TranslateFilter(file, "NOME *CT 'ab'"), "LOCATE('ab',NOME)>0 ");
}

}  // namespace
