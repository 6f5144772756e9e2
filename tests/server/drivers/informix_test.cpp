// The Informix connection over the recording driver: the session set-up and its number, the
// owner prefixes, the lower-cased probes, the transaction words, the date part of a date-time,
// the check-up with MSCHARINDEX, columns and indexes described by type code and part number,
// and the DDL texts with their storage clauses.
#include "server/drivers/informix.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "server/tables/dbtable.h"
#include "tests/server/support/informixconn.h"
#include "tests/server/support/odbcdialect.h"
#include "tests/server/support/recodbc_fixture.h"
#include "tests/support/fixedclock.h"

namespace {

using gmtest::Lines;

using gmtest::kInformixSessionQuery;
constexpr const char* kColumns =
    "select colname,collength as length,coltype-trunc(coltype/256)*256 as type, colno from "
    "systables a, syscolumns b where a.tabname = 't1' and a.tabid = b.tabid order by colno asc";
constexpr const char* kColumnCount =
    "SELECT ncols from systables where tabtype = 'T' and tabname = 't1'";
constexpr const char* kIndexCount =
    "SELECT nindexes from systables where tabtype = 'T' and tabname = 't1'";
constexpr const char* kIndexRows =
    "select b.idxname, b.owner, b.tabid, b.part1, b.part2, b.part3, b.part4, b.part5, b.part6, "
    "b.part7, b.part8, b.part9, b.part10, b.part11, b.part12, b.part13, b.part14, b.part15, "
    "b.part16 from informix.systables a, informix.sysindexes b where a.tabname = 't1' and "
    "b.tabid=a.tabid";
constexpr const char* kAddRecnoKey =
    "ALTER TABLE infx.T1 ADD CONSTRAINT PRIMARY KEY (R_E_C_N_O_) CONSTRAINT T1_PK";

class Informix : public gmtest::RecordedODBC {
protected:
    std::unique_ptr<tInformixConnection> Make(const char* user = "infx") {
        return std::make_unique<tInformixConnection>("INFORMIX", tString("RECDSN"), tString(user),
                                                     tString("pw"), loader);
    }
    std::unique_ptr<tInformixConnection> Connected(const char* user = "infx") {
        process.ClearLog();
        return gmtest::ConnectedInformix(rec, loader, user);
    }
    void Rows(const char* sql, const std::vector<const char*>& columns,
              const std::vector<std::vector<const char*>>& rows) {
        gmtest::ScriptRows(rec, sql, columns, rows);
    }
    // T1: CODE C 10, NOTE M, QTY N, DT of type 7, D_E_L_E_T_, R_E_C_N_O_.
    void DescribeT1(tTableDefinition& def) {
        Rows(kColumnCount, {"ncols"}, {{"6"}});
        Rows(kColumns, {"colname", "length", "type", "colno"},
             {{"code", "10", "13", "1"},
              {"note", "56", "12", "2"},
              {"qty", "4", "2", "3"},
              {"dt", "4", "7", "4"},
              {"d_e_l_e_t_", "1", "13", "5"},
              {"r_e_c_n_o_", "4", "2", "6"}});
        ASSERT_TRUE(conn->DescribeTable(def));
    }
    std::string Error() {
        tString text;
        conn->GetLastErrorInfo(text);
        return text.GetText();
    }

    std::unique_ptr<tInformixConnection> conn;
};

TEST_P(Informix, ConnectSetsTheSessionAndKeepsItsNumber) {
    conn = gmtest::InformixConnection(rec, loader);
    ASSERT_TRUE(conn->Connect());
    EXPECT_EQ(
        std::string(rec.Statements()),
        Lines({"SET ISOLATION TO DIRTY READ", "SET LOCK MODE TO WAIT", kInformixSessionQuery}));
    tString id;
    conn->GetSessionID(id);
    EXPECT_STREQ(id.GetText(), "(SID: 4711) ");

    rec.ClearLog();
    auto none = Make();  // the number query answers no row
    EXPECT_FALSE(none->Connect());
    EXPECT_FALSE(none->IsConnected());
    EXPECT_EQ(rec.CountCalls("SQLDisconnect"), 1) << rec.Calls();
    const std::vector<std::string> log = process.LogEntries();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0], "[ERROR] INFORMIX - RECDSN - Unable to get SESSIONID value.\n");
}

TEST_P(Informix, PrefixesAndProbes) {
    conn = Connected("Infx");
    EXPECT_STREQ(conn->GetOwner(), "Infx.");
    EXPECT_STREQ(conn->GetSchema(), "INFX.");
    EXPECT_STREQ(Make("")->GetOwner(), "");
    EXPECT_STREQ(Make("")->GetSchema(), "");

    const char* table = "select tabname from systables where tabname = 'mytab' and owner = 'infx'";
    const char* index =
        "select idxname from sysindexes where idxname = 'mytab_1' and owner = 'infx'";
    const char* procedure =
        "SELECT PROCNAME FROM SYSPROCEDURES WHERE UPPER(PROCNAME) = 'MSCHARINDEX'";
    Rows(table, {"tabname"}, {{"mytab"}});
    EXPECT_TRUE(conn->CanOpen("MyTab", nullptr));
    EXPECT_FALSE(conn->CanOpen("MyTab", ""));  // no row
    Rows(index, {"idxname"}, {{"mytab_1"}});
    EXPECT_TRUE(conn->CanOpen("MyTab", "MyTab_1"));
    Rows(procedure, {"procname"}, {{"mscharindex"}});
    EXPECT_TRUE(conn->SPExist("MsCharIndex"));
    rec.FailNext(procedure, "42000", -206, "no table");
    EXPECT_FALSE(conn->SPExist("MsCharIndex"));
    EXPECT_EQ(std::string(rec.Statements()), Lines({table, table, index, procedure, procedure}));
    EXPECT_TRUE(process.LogEntries().empty());  // probes are quiet

    tString sql;
    conn->ListTables(sql);
    EXPECT_STREQ(sql.GetText(),
                 "SELECT tabname FNAMF1 FROM systables WHERE tabtype = 'T' and tabname not like "
                 "'%fk' ORDER BY tabname");
    EXPECT_TRUE(conn->IsDuplicateKey(-239));
    EXPECT_TRUE(conn->IsDuplicateKey(-268));
    EXPECT_FALSE(conn->IsDuplicateKey(-1));

    rec.ClearLog();
    Rows("SELECT MAX(R_E_C_N_O_) FROM Infx.T1", {"m"}, {{"42"}});
    EXPECT_EQ(conn->GetRecCount("T1"), 42.0);
    rec.FailNext("SELECT MAX(R_E_C_N_O_) FROM Infx.T1", "42S02", -206, "not found");
    EXPECT_EQ(conn->GetRecCount("T1"), -1.0);
    EXPECT_EQ(conn->GetRecCount("T1; DROP"), -1.0);  // no identifier: nothing runs
    EXPECT_TRUE(conn->ClearTable("T1"));
    EXPECT_TRUE(conn->CreateGMLParam());
    rec.FailNext("create table GML_PARAM*", "42000", -310, "exists");
    EXPECT_FALSE(conn->CreateGMLParam());
    EXPECT_EQ(std::string(rec.Statements()),
              Lines({"SELECT MAX(R_E_C_N_O_) FROM Infx.T1", "SELECT MAX(R_E_C_N_O_) FROM Infx.T1",
                     "DELETE FROM Infx.T1",
                     "create table GML_PARAM(PARAM_NAME VarChar(50) not null,PARAM_SESSION "
                     "Smallint not null, PARAM_VALUE VarChar(50) not null)",
                     "create index GML_PARAM1 on GML_PARAM( PARAM_SESSION, PARAM_NAME )",
                     "create table GML_PARAM(PARAM_NAME VarChar(50) not null,PARAM_SESSION "
                     "Smallint not null, PARAM_VALUE VarChar(50) not null)"}));
}

TEST_P(Informix, TransactionsRunTheirWordsOnlyInsideCommitControl) {
    conn = Connected();
    const u32 seq = conn->GetAuditSeq();
    EXPECT_EQ(conn->Commit(), 0);
    EXPECT_EQ(conn->Rollback(), 0);
    EXPECT_EQ(conn->GetAuditSeq(), seq + 1);
    EXPECT_EQ(rec.CountCalls("SQLExecDirect"), 0);

    ASSERT_EQ(conn->StrCmtCtl(), 0);
    rec.FailNext("COMMIT WORK", "25000", -255, "Not in transaction.");
    EXPECT_EQ(conn->Commit(), -13);
    EXPECT_NE(Error().find("Not in transaction."), std::string::npos) << Error();
    EXPECT_EQ(conn->Commit(), 0);
    rec.FailNext("ROLLBACK WORK", "25000", -255, "Not in transaction.");
    EXPECT_EQ(conn->Rollback(), -13);
    EXPECT_EQ(conn->GetAuditSeq(), seq + 2);  // advanced even though it failed
    EXPECT_EQ(std::string(rec.Statements()),
              Lines({"COMMIT WORK", "COMMIT WORK", "ROLLBACK WORK"}));
}

TEST_P(Informix, DateTimeParametersTakeTheDateFromTheDatabase) {
    gmtest::FixedClock clock;  // 14/11/2023 on the local clock
    const char* current = "SELECT CURRENT FROM SYSTABLES WHERE TABID = 1";
    const char* query = "SELECT A FROM T WHERE B = ?";
    auto bindTime = [&](tODBCConnection& target) {
        auto stmt = std::make_unique<tODBCStatement>(&target);
        EXPECT_TRUE(stmt->Prepare(query, "test"));
        auto values = std::make_unique<tAutoArray<tDATAField>>();
        auto time = std::make_unique<tDateTimeField>("", 'T', 24, 0);
        time->SetData("10:20:30", 8);
        time->SetFirstUnit(4);
        time->SetLastUnit(6);
        values->Add(time.release());
        gmtest::ScriptRows(rec, query, {"A"}, {{"x"}});
        EXPECT_TRUE(stmt->BindParam(std::move(values))) << LastError(target);
        const std::vector<RecOdbcParam> got = rec.LastExecutedParams();
        return got.size() == 1 ? std::string(got[0].text) : std::string("(none)");
    };
    conn = Connected();
    rec.AddResult(current);
    rec.AddColumn("CURRENT", SQL_TYPE_TIMESTAMP, 23, 3, SQL_NULLABLE);
    rec.AddRow();
    rec.AddValue("2030-02-03 04:05:06.000");
    EXPECT_EQ(bindTime(*conn), "{ts '2030-02-03 10:20:30.000000000'}");
    EXPECT_NE(std::string(rec.Statements()).find(std::string(current) + "\n"), std::string::npos)
        << rec.Statements();
    EXPECT_EQ(console->Get().find("Unsupported column type"), std::string::npos);

    rec.ClearLog();
    auto other = MakeConnection("MSSQL");
    EXPECT_EQ(bindTime(*other), "{ts '2023-11-14 10:20:30.000000000'}");
    EXPECT_EQ(std::string(rec.Statements()).find("CURRENT"), std::string::npos);
}

constexpr const char* kCharIndexText =
    "Create procedure MSCHARINDEX (sExpr1 varchar(255), sExpr2 varchar(255),nStart integer "
    "default 1 )\n Returning  Integer ;\n Define J integer;\n Define Len1 Integer;\n Define Len2 "
    "Integer;\n Define sExprA varchar(255);\n Define sExprB varchar(255);\n Let sExprA = sExpr1 "
    "|| '#';\n Let sExprB = sExpr2 || '#';\n Let Len1 =  LENGTH(sExprA) -1;\n Let Len2 =  "
    "LENGTH(sExprB) -1;\n IF Len1 = 0 or Len2 = 0 then\n   Return 0;\n End If\n For J = nStart TO "
    "Len2\n   IF sExpr1 = Substr(sExpr2 , J, Len1) then\n      Exit For;\n   End if\n End For\n "
    "IF J > len2 then\n   Let j= 0;\n End If\n Return J;\n end procedure;\n ";

TEST_P(Informix, CheckUpReportsTheAlterationAndInstallsMSCHARINDEXWhenMissing) {
    process.SetIni("INFORMIX/RECDSN", "ForceAlterTable", "1");
    const char* probe = "SELECT PROCNAME FROM SYSPROCEDURES WHERE UPPER(PROCNAME) = 'MSCHARINDEX'";
    const struct {
        const char* name;
        bool exists;
        bool creationFails;
        bool answer;
    } cases[] = {
        {"missing", false, false, true},
        {"present", true, false, true},
        {"creation fails", false, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        conn = Connected();
        if (c.exists) Rows(probe, {"procname"}, {{"mscharindex"}});
        if (c.creationFails) rec.FailNext("Create procedure MSCHARINDEX*", "42000", -1, "no");
        tString report;
        EXPECT_EQ(conn->InitialCheckUp(report), c.answer);
        EXPECT_EQ(std::string(report.GetText())
                      .rfind("--------------- Initial Connection Check-Up ---------------\n"
                             "Database......: INFORMIX\nEnvironment...: RECDSN\n"
                             "GMALTER using ForceAlterTable [1] CleanAddFields [0]\n"
                             "GMALTER Multi-Thread EXCLUSIVE using Critical Section.\n"
                             "-----------------------------------------------------------\n\n",
                             0),
                  0u)
            << report.GetText();
        const std::string ran = rec.Statements();
        const size_t created = ran.find(kCharIndexText);
        EXPECT_EQ(created != std::string::npos, !c.exists) << ran;
        if (!c.exists && created != std::string::npos) {
            EXPECT_EQ(ran.substr(created), std::string(kCharIndexText) + "\n");  // run last
        }
    }
}

TEST_P(Informix, DescribeTableMapsTheTypeCodes) {
    conn = Connected();
    tTableDefinitionExclusive def("T1", "RECDSN");
    DescribeT1(def);
    gmtest::ExpectFields(def, {{"CODE", 'C', 10, 0, true},
                               {"NOTE", 'M', 10, 0, true},
                               {"QTY", 'N', 15, 6, true},
                               {"DT", 'X', 0, 0, false},
                               {"D_E_L_E_T_", 'C', 1, 0, true},
                               {"R_E_C_N_O_", 'N', 15, 6, false}});
    EXPECT_NE(console->Get().find("[WARNING] (tInformixConnection::DescribeTable) Table [T1] "
                                  "unsupported field [DT] type [7].\n"),
              std::string::npos)
        << console->Get();
    EXPECT_EQ(std::string(rec.Statements()), Lines({kColumnCount, kColumns}));

    tTableDefinitionExclusive missing("T1", "RECDSN");
    Rows(kColumnCount, {"ncols"}, {{"0"}});
    EXPECT_FALSE(conn->DescribeTable(missing));
    EXPECT_FALSE(conn->DescribeTable(missing));  // no row
    EXPECT_EQ(missing.GetFieldCount(), 0);
}

TEST_P(Informix, DescribeIndexesReadsThePartsAndAddsTheRecordNumberKeyWhenMissing) {
    conn = Connected();
    const std::vector<const char*> columns = {"idxname", "owner",  "tabid",  "part1",  "part2",
                                              "part3",   "part4",  "part5",  "part6",  "part7",
                                              "part8",   "part9",  "part10", "part11", "part12",
                                              "part13",  "part14", "part15", "part16"};
    auto row = [](const char* name, std::vector<const char*> parts) {
        std::vector<const char*> r = {name, "infx", "100"};
        r.insert(r.end(), parts.begin(), parts.end());
        while (r.size() < 19) r.push_back("0");
        return r;
    };
    const struct {
        const char* name;
        std::vector<std::vector<const char*>> rows;
        std::vector<std::vector<i16>> keys;  // of the indexes added
        bool addsKey;
    } cases[] = {
        {"the record-number key with D_E_L_E_T_ only", {row("t1_pk", {"6", "5"})}, {}, false},
        {"no record-number key", {row("t1_1", {"1", "5", "6"})}, {{0, 5}}, true},
        {"a descending part takes its column",
         {row("t1_1", {"-3", "1"}), row("t1_pk", {"6"})},
         {{2, 0}},
         false},
        {"a part beyond the fields leaves its index out",
         {row("t1_1", {"1", "9"}), row("t1_2", {"3"}), row("t1_pk", {"6"})},
         {{2}},
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        tTableDefinitionExclusive def("T1", "RECDSN");
        DescribeT1(def);
        rec.ClearLog();
        Rows(kIndexCount, {"nindexes"}, {{"2"}});
        Rows(kIndexRows, columns, c.rows);
        ASSERT_TRUE(conn->DescribeIndexes(def));
        ASSERT_EQ(def.GetIndexCount(), static_cast<i32>(c.keys.size()));
        for (size_t i = 0; i < c.keys.size(); ++i) {
            const tIndexDefinition& index = *def.GetIndex(static_cast<i32>(i));
            std::vector<i16> key;
            for (i32 k = 0; k < index.GetFieldCount(); ++k) key.push_back(index.GetField(k));
            EXPECT_EQ(key, c.keys[i]);
        }
        EXPECT_EQ(std::string(rec.Statements()),
                  c.addsKey ? Lines({kIndexCount, kIndexRows, kAddRecnoKey})
                            : Lines({kIndexCount, kIndexRows}));
    }
    EXPECT_NE(console->Get().find("index [T1_1] skipped: column [9] names no field."),
              std::string::npos)
        << console->Get();

    // A table that is not found still gets its key statement.
    rec.ClearLog();
    tTableDefinitionExclusive none("T1", "RECDSN");
    EXPECT_FALSE(conn->DescribeIndexes(none));
    EXPECT_EQ(std::string(rec.Statements()), Lines({kIndexCount, kAddRecnoKey}));
}

TEST_P(Informix, CreateTableWritesTheColumnsAndTheStorageClauses) {
    conn = Connected();
    const std::string columns =
        "CREATE TABLE infx.T1(CODE VARCHAR(300) DEFAULT '" + std::string(300, ' ') +
        "' NOT NULL,NOTE TEXT,PRICE FLOAT DEFAULT 0.0 NOT NULL,OK VARCHAR(1) DEFAULT 'F' NOT "
        "NULL,DT VARCHAR(8) DEFAULT '        ' NOT NULL,ODD,R_E_C_N_O_ INTEGER DEFAULT 0 NOT NULL)";
    const struct {
        const char* name;
        std::vector<std::pair<const char*, const char*>> keys;
        std::string tail;
        std::string indexClause;  // for T1
    } cases[] = {
        {"nothing set", {}, "", ""},
        {"the whole list",
         {{"T1_def", "64,32,dbs1,idx1"}, {"TableSpace", "other"}, {"IndexSpace", "otheridx"}},
         " IN dbs1 EXTENT SIZE 64 NEXT SIZE 32",
         " IN idx1"},
        {"empty items shift the others", {{"T1_def", ",,dbs1"}}, "", ""},
        {"the single keys",
         {{"TableSpace", "dbs2"},
          {"ExtentSize", "16"},
          {"NextExtent", "8"},
          {"IndexSpace", "idx2"}},
         " IN dbs2 EXTENT SIZE 16 NEXT SIZE 8",
         " IN idx2"},
        {"extents of 0, negative and not a number",
         {{"ExtentSize", "0"}, {"NextExtent", "-5"}},
         "",
         ""},
        {"extents that are no number", {{"T1_def", "abc,x"}}, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (const char* key : {"T1_def", "TableSpace", "ExtentSize", "NextExtent", "IndexSpace"}) {
            process.SetIni("INFORMIX", key, "");
        }
        for (const auto& kv : c.keys) process.SetIni("INFORMIX", kv.first, kv.second);
        tTableDefinitionExclusive def("T1", "RECDSN");
        gmtest::AddDDLFields(def);
        tString sql;
        conn->CreateTable(def, sql);
        EXPECT_EQ(std::string(sql.GetText()), columns + c.tail + " LOCK MODE ROW");
        tString clause;
        conn->IndexSpaceClause(clause, "T1");
        EXPECT_EQ(std::string(clause.GetText()), c.indexClause);
    }
    // Without a table the index space is the key's.
    process.SetIni("INFORMIX", "IndexSpace", "idx3");
    process.SetIni("INFORMIX", "T1_def", "1,2,dbs,idx");
    tString clause;
    conn->IndexSpaceClause(clause, nullptr);
    EXPECT_STREQ(clause.GetText(), " IN idx3");

    tString sql;
    EXPECT_TRUE(conn->AddPrimaryKey(sql, "T1"));
    EXPECT_STREQ(sql.GetText(), kAddRecnoKey);
    conn->GetRecnoIndex("T1", sql);
    EXPECT_STREQ(sql.GetText(), kAddRecnoKey);
}

TEST(InformixColumnType, EveryLetter) {
    const struct {
        u8 letter;
        const char* text;
    } cases[] = {
        {'A', " VARCHAR(3) DEFAULT '   ' NOT NULL"},
        {'C', " VARCHAR(3) DEFAULT '   ' NOT NULL"},
        {'D', " VARCHAR(3) DEFAULT '   ' NOT NULL"},
        {'B', " FLOAT DEFAULT 0.0 NOT NULL"},
        {'F', " FLOAT DEFAULT 0.0 NOT NULL"},
        {'N', " FLOAT DEFAULT 0.0 NOT NULL"},
        {'P', " FLOAT DEFAULT 0.0 NOT NULL"},
        {'Z', " FLOAT DEFAULT 0.0 NOT NULL"},
        {'L', " VARCHAR(1) DEFAULT 'F' NOT NULL"},
        {'M', " TEXT"},
        {'R', " INTEGER DEFAULT 0 NOT NULL"},
        {'X', ""},
        {'Q', ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.letter);
        tString out("F");
        tInformixConnection::ColumnType(out, c.letter, 3);
        EXPECT_EQ(std::string(out.GetText()), std::string("F") + c.text);
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, Informix, ::testing::Bool(), gmtest::ODBCModeName);

}  // namespace
