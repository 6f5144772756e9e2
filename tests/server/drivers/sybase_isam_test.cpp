// The Sybase table file, its column changes and its query files: whole client filters through
// its hooks, the record fetch and key cursor of both dialect forms, the rebuild through
// <table>_BKP as golden texts, and the pool of child connections over the recording driver.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "lib_common/commbuffer.h"
#include "server/drivers/sybase.h"
#include "server/isam/gatemill_query.h"
#include "tests/server/support/odbcdialect.h"
#include "tests/server/support/recodbc_fixture.h"
#include "tests/server/support/testisam.h"

namespace {

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

using gmtest::FillActions;
using gmtest::Lines;

// F1 C 10, A N 10,2, NAME C 20, TWO C 2.
std::shared_ptr<tTableDefinitionShared> FilteredDefinition() {
    auto def = std::make_shared<tTableDefinitionShared>("FILTRADA", "PRODUCAO");
    def->AddField("F1", 'C', 10, 0, true, true);
    def->AddField("A", 'N', 10, 2, true, true);
    def->AddField("NAME", 'C', 20, 0, true, true);
    def->AddField("TWO", 'C', 2, 0, true, true);
    def->AddField("R_E_C_N_O_", 'N', 15, 0, false, true);
    def->AddField("D_E_L_E_T_", 'C', 1, 0, true, true);
    return def;
}

class SybaseFilter : public ::testing::Test, public gmtest::IsamTestBed {
protected:
    SybaseFilter() : file(&conn, FilteredDefinition(), reply, session.threadId) {}

    tSybaseISAMFile file;
};

TEST_F(SybaseFilter, WholeFiltersUseTheDialectsForms) {
    const struct {
        const char* filter;
        std::string sql;
    } cases[] = {
        // Control characters first, inside and last in a literal.
        {"NAME *EQ \"\x01"
         "ab\"",
         "NAME = CHAR(1) + 'ab'"},
        {"NAME *EQ \"a\x02\x05"
         "b\"",
         "NAME = 'a' +CHAR(2) + CHAR(5) + 'b'"},
        {"NAME *EQ \"ab\x03\"", "NAME = 'ab' +CHAR(3)"},
        {"NAME *EQ \"it's\"", "NAME = 'it' +CHAR(39) + 's'"},
        // Containment: every character field at its full width.
        {"NAME *CT 'ab'", "CHARINDEX('ab',CONVERT(CHAR(20),NAME))>0 "},
        {"'ab' *CT F1", "CHARINDEX(CONVERT(CHAR(10),F1),'ab')>0 "},
        {"TWO *CT 'a'", "CHARINDEX('a',CONVERT(CHAR(2),TWO))>0 "},
        // Substrings; without a length the rest of the field.
        {"%SST(NAME 2 3) *EQ 'abc'", " SUBSTRING(NAME,2,3) = 'abc'"},
        {"%SST(F1 3) *EQ 'ab'", " SUBSTRING(F1,3,8) = 'ab'"},
        {"%SST(F1 11) *EQ 'ab'", "(fallback)"},
        {"%SST(F1 0) *EQ 'ab'", "(fallback)"},
        {"trim(NAME) *EQ 'x'", "(fallback)"},  // no function names of its own
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.filter);
        EXPECT_EQ(gmtest::TranslateFilter(file, c.filter), c.sql);
    }
}

class SybaseODBC : public gmtest::RecordedODBC {
protected:
    std::unique_ptr<tSybaseConnection> Connected(const char* version = "12.5") {
        rec.SetInfoText(SQL_DBMS_VER, version);
        auto conn = std::make_unique<tSybaseConnection>("SYBASE", tString("RECDSN"), tString("gm"),
                                                        tString("pw"), loader);
        EXPECT_TRUE(conn->Connect());
        rec.ClearLog();
        process.ClearLog();
        return conn;
    }
    void ScriptNumber(const char* sql, const char* value) {
        rec.AddResult(sql);
        rec.AddColumn("N", SQL_VARCHAR, 20, 0, SQL_NULLABLE);
        rec.AddRow();
        rec.AddValue(value);
    }
    tCommBuffer reply;
};

TEST_P(SybaseODBC, FileSetsTheRowLimitAndOldServersReadWithNoLock) {
    for (const char* version : {"12.5", "15.7"}) {
        SCOPED_TRACE(version);
        const bool old = version[1] == '2';
        rec.Reset();
        auto conn = Connected(version);
        tSybaseISAMFile file(conn.get(), gmtest::ClientesDefinition(), reply, 1);
        file.GoTo(12, false);
        file.GoTop();
        const std::string hint = old ? " NOLOCK " : "";
        EXPECT_EQ(rec.Statements(),
                  Lines({"SET ROWCOUNT 40",
                         "SELECT * FROM dbo.CLIENTES TBL" + hint +
                             " WHERE TBL.R_E_C_N_O_ = CONVERT( INT , ? ) [1='12']",
                         "SELECT R_E_C_N_O_ FROM dbo.CLIENTES" + hint +
                             " WHERE R_E_C_N_O_  > 0 ORDER BY R_E_C_N_O_"}));
    }
}

constexpr const char* kBackupProbe = "SELECT name FROM sysobjects NOLOCK WHERE name = 'T1_BKP'";

TEST_P(SybaseODBC, AlterTableRebuildsOnlyForChangesTheColumnsCannotTake) {
    const struct {
        const char* name;
        std::vector<gmtest::ActionSpec> actions;
        bool rebuilds;
    } cases[] = {
        {"decimals only",
         {{"PRICE", 'N', 12, 0, 'N', 12, 0, tActionField::kDecimalsChange}},
         false},
        {"length of an N field",
         {{"A", 'C', 10, 0, 'C', 10, 0, 0},
          {"PRICE", 'N', 12, 0, 'N', 14, 0, tActionField::kLengthChange}},
         false},
        {"an added column",
         {{"A", 'C', 10, 0, 'C', 10, 0, 0}, {"NEW", 'C', 3, 0, 'C', 3, 0, tActionField::kAdd}},
         true},
        {"length of a C field", {{"A", 'C', 10, 0, 'C', 12, 0, tActionField::kLengthChange}}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        rec.Reset();
        auto conn = Connected();
        ScriptNumber("select max(R_E_C_N_O_) from T1_BKP", "3");
        tAutoArray<tActionField> list;
        FillActions(list, c.actions);
        EXPECT_TRUE(conn->AlterTable("T1", list, 0));
        const std::string statements = rec.Statements();
        EXPECT_EQ(Contains(statements, kBackupProbe), c.rebuilds) << statements;
        EXPECT_EQ(Contains(statements, "select * into T1_BKP from T1\n"), c.rebuilds);
        EXPECT_EQ(Contains(statements, "INSERT INTO T1(A,"), c.rebuilds);
        if (!c.rebuilds) {
            EXPECT_EQ(statements, "");
        }
    }
}

TEST_P(SybaseODBC, AlterStructureRebuildsThroughTheBackupAndCopiesBackInBlocks) {
    process.SetIni("SYBASE", "IndexSpace", "IDX1");
    auto conn = Connected();
    const char* create =
        "CREATE TABLE dbo.T1(A VARCHAR(10) DEFAULT '          ',PRICE VARCHAR(4) DEFAULT '    "
        "',B VARCHAR(5) DEFAULT '     ',NEW FLOAT DEFAULT 0,D_E_L_E_T_ VARCHAR(1) DEFAULT ' "
        "',R_E_C_N_O_ INT DEFAULT 0,R_E_C_D_E_L_ INT DEFAULT 0)";
    const std::string copy =
        "INSERT INTO T1(A,PRICE,B,D_E_L_E_T_,R_E_C_N_O_,R_E_C_D_E_L_) select "
        "A,convert(varchar(255),PRICE),substring(B,1,5),D_E_L_E_T_,R_E_C_N_O_,R_E_C_D_E_L_ from "
        "T1_BKP WHERE R_E_C_N_O_ > ";
    ScriptNumber("select max(R_E_C_N_O_) from T1_BKP", "5000");
    tAutoArray<tActionField> list;
    FillActions(list, {{"A", 'C', 10, 0, 'C', 10, 0, 0},
                       {"PRICE", 'N', 12, 0, 'C', 4, 0, tActionField::kTypeChange},
                       {"B", 'C', 10, 0, 'C', 5, 0, tActionField::kLengthChange},
                       {"GONE", 'C', 3, 0, 'C', 3, 0, tActionField::kDrop},
                       {"NEW", 'N', 5, 0, 'N', 5, 0, tActionField::kAdd}});
    EXPECT_TRUE(conn->AlterStructure("T1", list, 1));
    EXPECT_EQ(rec.Statements(),
              Lines({kBackupProbe, "select * into T1_BKP from T1",
                     "ALTER TABLE dbo.T1_BKP ADD CONSTRAINT T1_BKP_PK PRIMARY KEY CLUSTERED "
                     "(R_E_C_N_O_) ON [IDX1]",
                     "drop table T1", create, "select max(R_E_C_N_O_) from T1_BKP",
                     copy + "0 AND R_E_C_N_O_ <= 4096", copy + "4096 AND R_E_C_N_O_ <= 8192"}));
    EXPECT_FALSE(conn->IsQueryStmt("select * into T1_BKP from T1"));  // makes a table, no rows

    // Every column turned into a number: nothing to copy, and still a success.
    rec.ClearLog();
    tAutoArray<tActionField> numbers;
    FillActions(numbers, {{"A", 'C', 10, 0, 'N', 10, 0, tActionField::kTypeChange}});
    EXPECT_TRUE(conn->AlterStructure("T1", numbers, 0));
    EXPECT_FALSE(Contains(rec.Statements(), "select max"));
    EXPECT_FALSE(Contains(rec.Statements(), "INSERT"));
    EXPECT_TRUE(Contains(console->Get(),
                         "[WARNING] (tSybaseConnection::AlterStructure) Structure too diferent. "
                         "No data restored from [T1_BKP]\n"));

    // A failed statement ends the rebuild there.
    rec.ClearLog();
    rec.FailNext("CREATE TABLE dbo.T1(*", "42000", 2714, "There is already an object named 'T1'");
    tAutoArray<tActionField> again;
    FillActions(again, {{"A", 'C', 10, 0, 'C', 12, 0, tActionField::kLengthChange}});
    EXPECT_FALSE(conn->AlterStructure("T1", again, 0));
    EXPECT_FALSE(Contains(rec.Statements(), "select max"));
}

TEST_P(SybaseODBC, ABackupLargerThanTheTableIsKeptAndASmallerOneDropped) {
    auto conn = Connected();
    tAutoArray<tActionField> list;
    FillActions(list, {{"A", 'C', 10, 0, 'C', 12, 0, tActionField::kLengthChange}});
    const std::vector<std::string> counts = {"SELECT COUNT(*) AS TOTAL FROM dbo.T1",
                                             "SELECT COUNT(*) AS TOTAL FROM dbo.T1_BKP"};
    ScriptNumber(kBackupProbe, "T1_BKP");
    ScriptNumber(counts[0].c_str(), "0");
    ScriptNumber(counts[1].c_str(), "7");
    EXPECT_FALSE(conn->AlterStructure("T1", list, 0));
    EXPECT_EQ(rec.Statements(), Lines({kBackupProbe, counts[0], counts[1]}));
    EXPECT_TRUE(Contains(LastError(*conn), "GML Error -19"));
    EXPECT_TRUE(Contains(LastError(*conn), "Backup table [T1_BKP] kept"));

    rec.ClearLog();
    ScriptNumber(kBackupProbe, "T1_BKP");
    ScriptNumber(counts[0].c_str(), "7");
    ScriptNumber(counts[1].c_str(), "3");
    ScriptNumber("select max(R_E_C_N_O_) from T1_BKP", "7");
    EXPECT_TRUE(conn->AlterStructure("T1", list, 0));
    EXPECT_TRUE(Contains(rec.Statements(),
                         Lines({counts[1], "drop table T1_BKP", "select * into T1_BKP from T1"})));

    rec.ClearLog();
    tAutoArray<tActionField> badName;
    FillActions(badName, {{"A;DROP", 'C', 10, 0, 'C', 12, 0, tActionField::kLengthChange}});
    EXPECT_FALSE(conn->AlterStructure("T1", badName, 0));
    EXPECT_EQ(std::string(rec.Statements()), "");
}

class SybaseQueryFile : public SybaseODBC {
protected:
    std::unique_ptr<tQueryFile> Query(tSybaseConnection& conn, const char* sql) {
        rec.AddResult(sql);
        rec.AddColumn("NAME", SQL_VARCHAR, 9, 0, SQL_NULLABLE);
        rec.AddColumn("QTY", SQL_INTEGER, 10, 0, SQL_NULLABLE);
        tString text(sql);
        return std::unique_ptr<tQueryFile>(conn.GetQueryFile(reply, 1, text));
    }
    // Closes the file as the dispatcher does: the file first, then its child back to the pool.
    static void Close(tSybaseConnection& conn, std::unique_ptr<tQueryFile>& file) {
        tDBConnection* child = file->GetConnection();
        file.reset();
        conn.ReleaseChild(child);
    }
    int FreedConnections() {
        int n = rec.CountCalls("SQLFreeConnect");
        for (const std::string& line : rec.CallLines()) {
            if (line.rfind("SQLFreeHandle(2)", 0) == 0) ++n;
        }
        return n;
    }
};

TEST_P(SybaseQueryFile, EachOpenQueryHasAChildAndClosedChildrenAreReused) {
    auto conn = Connected();
    std::unique_ptr<tQueryFile> first = Query(*conn, "SELECT NAME, QTY FROM T1");
    std::unique_ptr<tQueryFile> second = Query(*conn, "SELECT NAME, QTY FROM T2");
    ASSERT_TRUE(first && second);
    const tTableDefinition& def = *first->GetTableDef();
    ASSERT_EQ(def.GetFieldCount(), 2);
    EXPECT_EQ(def.GetField(0)->GetLen(), 9);
    EXPECT_EQ(def.GetField(1)->GetType(), 'N');
    tDBConnection* firstChild = first->GetConnection();
    EXPECT_NE(firstChild, conn.get());
    EXPECT_NE(second->GetConnection(), firstChild);
    EXPECT_EQ(rec.CountCalls("SQLConnect"), 2);
    EXPECT_EQ(conn->Count(), 2);
    EXPECT_TRUE(Contains(rec.Statements(), "SET TRANSACTION ISOLATION LEVEL READ UNCOMMITTED"));
    Close(*conn, first);
    Close(*conn, second);
    EXPECT_EQ(conn->Count(), 0);
    EXPECT_EQ(conn->GetPool()->Count(), 2);

    rec.ClearLog();
    std::unique_ptr<tQueryFile> third = Query(*conn, "SELECT NAME, QTY FROM T3");
    ASSERT_TRUE(third);
    EXPECT_EQ(third->GetConnection(), firstChild);
    EXPECT_EQ(rec.CountCalls("SQLConnect"), 0);
    EXPECT_EQ(conn->GetPool()->Count(), 1);

    // A statement without columns: -19, and the pooled child goes back.
    tString update("UPDATE T1 SET A = 'x'");
    EXPECT_FALSE(conn->GetQueryFile(reply, 1, update));
    EXPECT_TRUE(Contains(LastError(*conn),
                         "GML Error -19 - Query does not return any supported column.\nQuery : "
                         "UPDATE T1 SET A = 'x'\n"));
    EXPECT_EQ(conn->GetPool()->Count(), 1);

    // A pooled child whose session ended is deleted, not kept and not leaked.
    conn->GetPool()->Get(0)->Disconnect();
    rec.ClearLog();
    tString any("SELECT 1 AS ONE");
    EXPECT_FALSE(conn->GetQueryFile(reply, 1, any));
    EXPECT_EQ(conn->GetPool()->Count(), 0);
    EXPECT_EQ(std::string(rec.Statements()), "");
    EXPECT_EQ(FreedConnections(), 1);
    Close(*conn, third);
}

INSTANTIATE_TEST_SUITE_P(Modes, SybaseODBC, ::testing::Bool(), gmtest::ODBCModeName);
INSTANTIATE_TEST_SUITE_P(Modes, SybaseQueryFile, ::testing::Bool(), gmtest::ODBCModeName);

}  // namespace
