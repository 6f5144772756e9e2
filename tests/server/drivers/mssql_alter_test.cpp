// The SQL Server connection's DDL and alterations over the recording driver: golden DDL texts,
// the in-place alteration's statement plans, the rebuild through <table>_BKP, the session
// parameter row, the row limit, error classes, identity numbers and query files on children.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "lib_common/commbuffer.h"
#include "platform/registry.h"
#include "server/drivers/mssql.h"
#include "server/isam/gatemill_query.h"
#include "server/tables/dbtable.h"
#include "tests/server/support/recodbc_fixture.h"
#include "tests/support/tempdir.h"

namespace {

constexpr const char* kColumnsQuery =
    "SELECT c.name, t.type, c.length , c.isnullable , c.cdefault , c.status from syscolumns c , "
    "systypes t WHERE c.id = object_id('dbo.T1') AND c.xusertype = t.xusertype ORDER BY colid "
    "ASC";
constexpr const char* kIndexesQuery = "SELECT x.name as indexname, c.name as fieldname from*";
constexpr const char* kCount = "SELECT MAX(R_E_C_N_O_) FROM dbo.T1";

std::string Lines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

struct Action {
    const char* name;
    u8 oldType;
    u16 oldLength;
    u8 newType;
    u16 newLength;
    u16 flags;
};

class MSSQLAlter : public gmtest::RecordedODBC {
protected:
    void SetUp() override {
        RecordedODBC::SetUp();
        plat::SetRegistryFile(dir.File("registry.ini"));
    }
    void TearDown() override { plat::SetRegistryFile(""); }

    std::unique_ptr<tMSSQLConnection> Connected() {
        ScriptNumber("select substring(@@version,charindex('-',@@version)+2,2)", "8.");
        ScriptNumber("SELECT @@SPID AS PARAM_SESSION", "53");
        auto conn = std::make_unique<tMSSQLConnection>("MSSQL", tString("RECDSN"), tString("gm"),
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
    void ScriptRows(const char* sql, const std::vector<const char*>& columns,
                    const std::vector<std::vector<const char*>>& rows) {
        rec.AddResult(sql);
        for (const char* c : columns) rec.AddColumn(c, SQL_VARCHAR, 128, 0, SQL_NULLABLE);
        for (const auto& row : rows) {
            rec.AddRow();
            for (const char* v : row) rec.AddValue(v);
        }
    }
    // T1 with A C 10, PRICE N 12, B C 10, R_E_C_N_O_; indexes T1_1 (A), T1_2 (PRICE, B) and the
    // record-number index.
    void ScriptStructure() {
        ScriptRows(kColumnsQuery, {"name", "type", "length", "isnullable", "cdefault", "status"},
                   {{"A", "39", "10", "0", "1", "0"},
                    {"PRICE", "62", "8", "0", "1", "0"},
                    {"B", "39", "10", "0", "1", "0"},
                    {"R_E_C_N_O_", "56", "4", "0", "1", "0"}});
        ScriptRows(kIndexesQuery, {"indexname", "fieldname"},
                   {{"T1_1", "A"}, {"T1_2", "PRICE"}, {"T1_2", "B"}, {"T1_REC", "R_E_C_N_O_"}});
    }
    // The default-constraint query of the field, answering its constraint or none.
    void ScriptDefault(const char* field, bool found = true) {
        std::string sql =
            "select oo.name from sysobjects o, syscolumns c, sysobjects oo where o.id = "
            "object_id('dbo.T1') and o.id = c.id and c.name = '" +
            std::string(field) + "' and c.cdefault = oo.id and oo.parent_obj = o.id";
        const std::string name = std::string("T1_") + field + "_DF";
        ScriptRows(sql.c_str(), {"name"}, {});
        if (found) {
            rec.AddRow();
            rec.AddValue(name.c_str());
        }
    }
    static void Fill(tArray<tActionField>& list, const std::vector<Action>& actions) {
        for (const Action& a : actions) {
            auto* f = new tActionField(a.name, a.newType, a.newLength, 0);
            f->oldType = a.oldType;
            f->oldLength = a.oldLength;
            f->actions = a.flags;
            list.Add(f);
        }
    }
    // The statements that change something: the catalogue reads left out.
    std::string Changes() {
        std::string all = rec.Statements();
        std::string kept;
        size_t at = 0;
        while (at < all.size()) {
            const size_t end = all.find('\n', at);
            const std::string line = all.substr(at, end - at);
            if (!StartsWith(line, "SELECT ") && !StartsWith(line, "select oo.") &&
                !StartsWith(line, "select count")) {
                kept += line + "\n";
            }
            at = end + 1;
        }
        return kept;
    }

    gmtest::TempDir dir;
};

TEST_P(MSSQLAlter, SmallDDLTextsAndTheIndexSpace) {
    auto conn = Connected();
    tString sql("CREATE INDEX T1_1 ON dbo.T1(A)");
    conn->IndexSpaceClause(sql, 1);
    EXPECT_STREQ(sql, "CREATE INDEX T1_1 ON dbo.T1(A)");
    process.SetIni("MSSQL", "IndexSpace", "IDX1");
    conn->IndexSpaceClause(sql, 0);
    EXPECT_STREQ(sql, "CREATE INDEX T1_1 ON dbo.T1(A) ON [IDX1]");
    conn->DropIndex(sql, "T1", "T1_1");
    EXPECT_STREQ(sql, "DROP INDEX T1.T1_1");
    tString column;
    conn->FieldDefinition(column, "T1", "OBS", 'M', 11);
    EXPECT_STREQ(column, "OBS TEXT");
    EXPECT_TRUE(conn->ClearTable("T1"));
    EXPECT_FALSE(conn->ClearTable("T1;DROP TABLE X"));
    EXPECT_EQ(rec.Statements(), Lines({"TRUNCATE TABLE T1"}));
}

TEST_P(MSSQLAlter, SetParamUpdatesOrInsertsWithQuotesDoubled) {
    auto conn = Connected();
    const char* select =
        "SELECT * FROM GML_PARAM WHERE PARAM_NAME = 'O''K' AND PARAM_SESSION = @@SPID";
    ScriptRows(select, {"PARAM_NAME"}, {{"O'K"}});
    EXPECT_TRUE(conn->SetParam("O'K", "it's"));
    EXPECT_EQ(rec.Statements(),
              Lines({select,
                     "UPDATE GML_PARAM SET PARAM_VALUE = 'it''s' WHERE PARAM_NAME = 'O''K' AND "
                     "PARAM_SESSION = @@SPID"}));
    rec.ClearLog();
    rec.FailNext(select, "42S02", 208, "Invalid object name");
    EXPECT_TRUE(conn->SetParam("O'K", "v"));
    EXPECT_EQ(rec.Statements(),
              Lines({select,
                     "INSERT INTO GML_PARAM(PARAM_NAME,PARAM_VALUE,PARAM_SESSION) "
                     "VALUES('O''K','v',@@SPID)"}));
}

TEST_P(MSSQLAlter, RowCountIsSentOnlyOnChangeAndErrorsAreClassedByNativeNumber) {
    auto conn = Connected();
    EXPECT_TRUE(conn->SetRowCount(250));
    EXPECT_TRUE(conn->SetRowCount(250));
    rec.FailNext("SET ROWCOUNT 0", "42000", 1, "refused");
    EXPECT_FALSE(conn->SetRowCount(0));
    EXPECT_EQ(conn->GetRowCount(), 0);  // stored before it ran
    EXPECT_EQ(rec.Statements(), Lines({"SET ROWCOUNT 250", "SET ROWCOUNT 0"}));
    for (i32 code : {2601, 2627}) EXPECT_TRUE(conn->IsDuplicateKey(code)) << code;
    for (i32 code : {547, 50000}) EXPECT_TRUE(conn->IsUserError(code)) << code;
    for (i32 code : {0, 2600, 515, 50001}) {
        EXPECT_FALSE(conn->IsDuplicateKey(code) || conn->IsUserError(code)) << code;
    }
    ScriptNumber("SELECT SCOPE_IDENTITY() AS LASTID", "4711");
    EXPECT_EQ(conn->GetInsertedRecno(), 4711.0);
    rec.FailNext("SELECT SCOPE_IDENTITY() AS LASTID", "42000", 1, "no");
    EXPECT_EQ(conn->GetInsertedRecno(), -1.0);
}

TEST_P(MSSQLAlter, AlterTablePlansAsStatementSequences) {
    const std::string tmpDrop = "ALTER TABLE dbo.T1 DROP CONSTRAINT T1_";
    const struct {
        const char* name;
        const char* recCount;
        std::vector<Action> actions;
        std::vector<const char*> defaults;  // fields whose default constraint is found
        std::vector<const char*> bare;      // fields asked for theirs that have none
        std::vector<std::string> changes;
    } cases[] = {
        {"N to C keeps its values",
         "812",
         {{"PRICE", 'N', 12, 'C', 10, tActionField::kTypeChange}},
         {"PRICE"},
         {},
         {"DROP INDEX T1.T1_2", "ALTER TABLE dbo.T1 DROP CONSTRAINT T1_PRICE_DF",
          "sp_rename 'T1.PRICE', 'TMPC0'",
          "ALTER TABLE dbo.T1 ADD PRICE VARCHAR(10) NOT NULL CONSTRAINT T1_PRICE_DF DEFAULT '    "
          "      '",
          "UPDATE dbo.T1 SET PRICE = left(convert(varchar(2000),TMPC0),10) WHERE R_E_C_N_O_ > 0 "
          "AND R_E_C_N_O_ <= 4096",
          "ALTER TABLE dbo.T1 DROP COLUMN  TMPC0"}},
        {"C to N drops and adds",
         "812",
         {{"A", 'C', 10, 'N', 12, tActionField::kTypeChange}},
         {"A"},
         {},
         {"DROP INDEX T1.T1_1", "ALTER TABLE dbo.T1 DROP CONSTRAINT T1_A_DF",
          "ALTER TABLE dbo.T1 DROP COLUMN A",
          "ALTER TABLE dbo.T1 ADD A FLOAT NOT NULL CONSTRAINT T1_A_DF DEFAULT 0"}},
        {"an empty table drops and adds",
         "0",
         {{"PRICE", 'N', 12, 'C', 10, tActionField::kTypeChange},
          {"B", 'C', 10, 'C', 5, tActionField::kLengthChange}},
         {},
         {"PRICE", "B"},
         {"DROP INDEX T1.T1_2", "ALTER TABLE dbo.T1 DROP COLUMN PRICE,B",
          "ALTER TABLE dbo.T1 ADD PRICE VARCHAR(10) NOT NULL CONSTRAINT T1_PRICE_DF DEFAULT '    "
          "      ',B VARCHAR(5) NOT NULL CONSTRAINT T1_B_DF DEFAULT '     '"}},
        {"decimals of an N field run nothing",
         "812",
         {{"PRICE", 'N', 12, 'N', 12, tActionField::kDecimalsChange}},
         {},
         {},
         {}},
        {"C 10 to 5 is cut before ALTER COLUMN",
         "812",
         {{"B", 'C', 10, 'C', 5, tActionField::kLengthChange}},
         {"B"},
         {},
         {"DROP INDEX T1.T1_2",
          "UPDATE dbo.T1 SET B =  substring(B,1,5) WHERE R_E_C_N_O_ > 0 AND R_E_C_N_O_ <= 4096",
          "ALTER TABLE dbo.T1 DROP CONSTRAINT T1_B_DF",
          "ALTER TABLE dbo.T1 ALTER COLUMN B VARCHAR(5) NOT NULL",
          "ALTER TABLE dbo.T1 ADD CONSTRAINT T1_B_DF DEFAULT '     ' FOR B"}},
        {"converted entries 0 and 2",
         "5000",
         {{"PRICE", 'N', 12, 'C', 4, tActionField::kTypeChange},
          {"NEW", 'C', 3, 'C', 3, tActionField::kAdd},
          {"Q", 'N', 5, 'C', 6, tActionField::kTypeChange}},
         {},
         {"PRICE", "Q"},
         {"DROP INDEX T1.T1_2", "sp_rename 'T1.PRICE', 'TMPC0'", "sp_rename 'T1.Q', 'TMPC2'",
          "ALTER TABLE dbo.T1 ADD PRICE VARCHAR(4) NOT NULL CONSTRAINT T1_PRICE_DF DEFAULT '    "
          "',NEW VARCHAR(3) NOT NULL CONSTRAINT T1_NEW_DF DEFAULT '   ',Q VARCHAR(6) NOT NULL "
          "CONSTRAINT T1_Q_DF DEFAULT '      '",
          "UPDATE dbo.T1 SET PRICE = left(convert(varchar(2000),TMPC0),4),Q = "
          "left(convert(varchar(2000),TMPC2),6) WHERE R_E_C_N_O_ > 0 AND R_E_C_N_O_ <= 4096",
          "UPDATE dbo.T1 SET PRICE = left(convert(varchar(2000),TMPC0),4),Q = "
          "left(convert(varchar(2000),TMPC2),6) WHERE R_E_C_N_O_ > 4096 AND R_E_C_N_O_ <= 8192",
          "ALTER TABLE dbo.T1 DROP COLUMN  TMPC0, TMPC2"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        rec.Reset();
        auto conn = Connected();
        ScriptNumber(kCount, c.recCount);
        ScriptStructure();
        for (const char* field : c.defaults) ScriptDefault(field);
        for (const char* field : c.bare) ScriptDefault(field, false);
        tAutoArray<tActionField> list;
        Fill(list, c.actions);
        EXPECT_TRUE(conn->AlterTable("T1", list, 0));
        EXPECT_EQ(Changes(), Lines(c.changes));
    }
}

TEST_P(MSSQLAlter, AlterTableRecoversFromRowSizeErrorAndFallsBackWhenNotForced) {
    auto conn = Connected();
    ScriptNumber(kCount, "10");
    const char* add =
        "ALTER TABLE dbo.T1 ADD NEW VARCHAR(3) NOT NULL CONSTRAINT T1_NEW_DF DEFAULT '   '";
    rec.FailNext(add, "42000", 511, "Cannot create a row of size");
    tAutoArray<tActionField> list;
    Fill(list, {{"NEW", 'C', 3, 'C', 3, tActionField::kAdd}});
    EXPECT_TRUE(conn->AlterTable("T1", list, 0));
    EXPECT_EQ(Changes(), Lines({add, "DBCC DBREINDEX('dbo.T1')", add}));
    const std::string log = ::testing::PrintToString(process.LogEntries());
    EXPECT_NE(log.find("[RECOVER] Rebuild Indexes SQL feature completed Ok."), std::string::npos);

    // Another native error is no row-size error: no rebuild.
    conn.reset();
    rec.Reset();
    conn = Connected();
    ScriptNumber(kCount, "10");
    rec.FailNext(add, "42000", 2705, "Column names must be unique");
    tAutoArray<tActionField> again;
    Fill(again, {{"NEW", 'C', 3, 'C', 3, tActionField::kAdd}});
    EXPECT_FALSE(conn->AlterTable("T1", again, 0));
    EXPECT_EQ(Changes(), Lines({add}));

    // ForceAlterTable off: a shortening goes to the rebuild.
    process.SetIni("MSSQL", "ForceAlterTable", "0");
    conn.reset();
    rec.Reset();
    conn = Connected();
    ScriptNumber(kCount, "10");
    ScriptNumber(kCount, "10");
    tAutoArray<tActionField> shorten;
    Fill(shorten, {{"B", 'C', 10, 'C', 5, tActionField::kLengthChange}});
    conn->AlterTable("T1", shorten, 0);
    EXPECT_TRUE(StartsWith(Changes(), "select * into T1_BKP from T1\n"));
}

TEST_P(MSSQLAlter, FailedCountChangesNothing) {
    auto conn = Connected();
    tAutoArray<tActionField> list;
    Fill(list, {{"B", 'C', 10, 'C', 5, tActionField::kLengthChange}});
    rec.FailNext(kCount, "42000", 1, "timeout");
    EXPECT_FALSE(conn->AlterTable("T1", list, 0));
    rec.FailNext(kCount, "42000", 1, "timeout");
    EXPECT_FALSE(conn->AlterStructure("T1", list, 0));
    EXPECT_EQ(Changes(), "");
}

TEST_P(MSSQLAlter, AlterStructureRebuildsThroughTheBackupAndCopiesBack) {
    const char* create =
        "CREATE TABLE dbo.T1(A VARCHAR(10) NOT NULL CONSTRAINT T1_A_DF DEFAULT '          ',PRICE "
        "VARCHAR(4) NOT NULL CONSTRAINT T1_PRICE_DF DEFAULT '    ',B VARCHAR(5) NOT NULL "
        "CONSTRAINT T1_B_DF DEFAULT '     ',NEW FLOAT NOT NULL CONSTRAINT T1_NEW_DF DEFAULT "
        "0,D_E_L_E_T_ VARCHAR(1) NOT NULL CONSTRAINT T1_D_E_L_E_T__DF DEFAULT ' ',R_E_C_N_O_ INT "
        "NOT NULL CONSTRAINT T1_R_E_C_N_O__DF DEFAULT 0,R_E_C_D_E_L_ INT NOT NULL CONSTRAINT "
        "T1_R_E_C_D_E_L__DF DEFAULT 0)";
    const std::vector<Action> actions = {{"A", 'C', 10, 'C', 10, 0},
                                         {"PRICE", 'N', 12, 'C', 4, tActionField::kTypeChange},
                                         {"B", 'C', 10, 'C', 5, tActionField::kLengthChange},
                                         {"GONE", 'C', 3, 'C', 3, tActionField::kDrop},
                                         {"NEW", 'N', 5, 'N', 5, tActionField::kAdd}};
    const std::string copy =
        "INSERT INTO T1(A,PRICE,B,D_E_L_E_T_,R_E_C_N_O_,R_E_C_D_E_L_) select "
        "A,left(convert(varchar(2000),PRICE),4),substring(B,1,5),D_E_L_E_T_,R_E_C_N_O_,R_E_C_D_"
        "E_L_ from T1_BKP  WHERE R_E_C_N_O_ > 0 AND R_E_C_N_O_ <= 4096";
    for (bool identity : {false, true}) {
        SCOPED_TRACE(identity);
        process.SetIni("MSSQL", "AutoRecnoT1", identity ? "1" : "0");
        rec.Reset();
        auto conn = Connected();
        ScriptNumber(kCount, "7");
        ScriptNumber("SELECT MAX(R_E_C_N_O_) FROM dbo.T1_BKP", "7");
        tAutoArray<tActionField> list;
        Fill(list, actions);
        EXPECT_TRUE(conn->AlterStructure("T1", list, 1));
        std::string expectedCreate = create;
        if (identity) {
            expectedCreate.replace(expectedCreate.find("CONSTRAINT T1_R_E_C_N_O__DF DEFAULT 0"), 37,
                                   "IDENTITY (1,1)");
        }
        std::vector<std::string> expected = {"select * into T1_BKP from T1",
                                             "CREATE INDEX T1_BKPIDX ON T1_BKP(R_E_C_N_O_)",
                                             "drop table T1", expectedCreate};
        if (identity) expected.push_back("SET IDENTITY_INSERT T1 ON");
        expected.push_back(copy);
        if (identity) expected.push_back("SET IDENTITY_INSERT T1 OFF");
        EXPECT_EQ(Changes(), Lines(expected));
    }
}

TEST_P(MSSQLAlter, AlterStructureKeepsALargerBackupAndWarnsWhenNothingIsCopied) {
    const char* probe =
        "SELECT name FROM sysobjects WHERE sysstat & 0xf IN (3) AND id = object_id('T1_BKP')";
    auto conn = Connected();
    ScriptNumber(kCount, "7");
    ScriptNumber(probe, "T1_BKP");
    ScriptNumber("SELECT COUNT(*) AS TOTAL FROM dbo.T1", "0");
    ScriptNumber("SELECT COUNT(*) AS TOTAL FROM dbo.T1_BKP", "7");
    tAutoArray<tActionField> list;
    Fill(list, {{"A", 'C', 10, 'N', 10, tActionField::kTypeChange}});
    EXPECT_FALSE(conn->AlterStructure("T1", list, 0));
    EXPECT_EQ(Changes(), "");
    EXPECT_NE(LastError(*conn).find("GML Error -19"), std::string::npos);
    EXPECT_NE(LastError(*conn).find("Backup table [T1_BKP] kept"), std::string::npos);

    // A smaller backup is dropped; a type change to N leaves nothing to copy.
    rec.ClearLog();
    ScriptNumber(kCount, "7");
    ScriptNumber(probe, "T1_BKP");
    ScriptNumber("SELECT COUNT(*) AS TOTAL FROM dbo.T1", "7");
    ScriptNumber("SELECT COUNT(*) AS TOTAL FROM dbo.T1_BKP", "3");
    EXPECT_TRUE(conn->AlterStructure("T1", list, 0));
    const std::string changes = Changes();
    EXPECT_TRUE(StartsWith(changes, "drop table T1_BKP\nselect * into T1_BKP from T1\n"));
    EXPECT_EQ(changes.find("INSERT"), std::string::npos);
    EXPECT_NE(console->Get().find("[WARNING] (tMSSQLConnection::AlterStructure) Structure too "
                                  "diferent. No data restored from [T1_BKP]\n"),
              std::string::npos);
}

class MSSQLQueryFile : public MSSQLAlter {
protected:
    void ScriptChild(const char* spid) {
        ScriptNumber("select substring(@@version,charindex('-',@@version)+2,2)", "8.");
        ScriptNumber("SELECT @@SPID AS PARAM_SESSION", spid);
    }
    tCommBuffer reply;
};

TEST_P(MSSQLQueryFile, ColumnsBecomeFieldsAndEachOpenFileHasItsChild) {
    auto conn = Connected();
    ScriptChild("54");
    rec.AddResult("SELECT NAME, QTY, WHEN FROM T1");
    rec.AddColumn("NAME", SQL_VARCHAR, 9, 0, SQL_NULLABLE);
    rec.AddColumn("QTY", SQL_INTEGER, 10, 0, SQL_NULLABLE);
    rec.AddColumn("WHEN", SQL_TYPE_TIMESTAMP, 23, 3, SQL_NULLABLE);
    tString query("SELECT NAME, QTY, WHEN FROM T1");
    std::unique_ptr<tQueryFile> first(conn->GetQueryFile(reply, 1, query));
    ASSERT_TRUE(first);
    const tTableDefinition& def = *first->GetTableDef();
    ASSERT_EQ(def.GetFieldCount(), 2);
    EXPECT_EQ(def.GetField(0)->GetType(), 'C');
    EXPECT_EQ(def.GetField(0)->GetLen(), 9);  // a result length of 10 with its terminator
    EXPECT_EQ(def.GetField(1)->GetType(), 'N');
    EXPECT_EQ(def.GetField(1)->GetLen(), 15);
    EXPECT_EQ(def.GetField(1)->GetDecimals(), 8);
    EXPECT_NE(first->GetConnection(), conn.get());
    EXPECT_EQ(conn->Count(), 1);

    ScriptChild("55");
    rec.AddResult("SELECT 1 AS ONE");
    rec.AddColumn("ONE", SQL_INTEGER, 10, 0, SQL_NULLABLE);
    tString second("SELECT 1 AS ONE");
    std::unique_ptr<tQueryFile> other(conn->GetQueryFile(reply, 1, second));
    ASSERT_TRUE(other);
    EXPECT_NE(other->GetConnection(), first->GetConnection());
    EXPECT_EQ(rec.CountCalls("SQLConnect"), 2);
    tDBConnection* served = first->GetConnection();
    first.reset();
    conn->ReleaseChild(served);
    tDBConnection* servedOther = other->GetConnection();
    other.reset();
    conn->ReleaseChild(servedOther);
    EXPECT_EQ(conn->GetPool()->Count(), 2);
}

TEST_P(MSSQLQueryFile, FailuresLeaveTheChildsErrorOrTheColumnlessText) {
    auto conn = Connected();
    ScriptChild("54");
    tString none("UPDATE T1 SET A = 'x'");
    EXPECT_FALSE(conn->GetQueryFile(reply, 1, none));
    EXPECT_NE(LastError(*conn).find("GML Error -19 - Query does not return any supported "
                                    "column.\nQuery : UPDATE T1 SET A = 'x'\n"),
              std::string::npos);
    EXPECT_EQ(conn->GetPool()->Count(), 0);  // a new child that failed is destroyed
    EXPECT_EQ(rec.CountCalls("SQLDisconnect"), 1);

    // A pooled child that fails goes back to the pool, its error copied.
    ScriptChild("55");
    std::unique_ptr<tTSQLConnection> child = conn->TakeChild();
    tTSQLConnection* pooled = child.get();
    conn->AddBusyChild(child.release());
    conn->ReleaseChild(pooled);
    tString bad("SELECT * FROM NOWHERE");
    rec.FailNext("SELECT * FROM NOWHERE", "42S02", 208, "Invalid object name 'NOWHERE'.");
    EXPECT_FALSE(conn->GetQueryFile(reply, 1, bad));
    EXPECT_NE(LastError(*conn).find("Invalid object name 'NOWHERE'."), std::string::npos);
    EXPECT_EQ(conn->GetPool()->Count(), 1);

    // A pooled child whose session ended is deleted, and the query answers null.
    pooled->Disconnect();
    rec.ClearLog();
    tString any("SELECT 1 AS ONE");
    EXPECT_FALSE(conn->GetQueryFile(reply, 1, any));
    EXPECT_EQ(conn->GetPool()->Count(), 0);
    EXPECT_EQ(rec.Statements(), std::string());
}

INSTANTIATE_TEST_SUITE_P(Modes, MSSQLAlter, ::testing::Bool(), gmtest::ODBCModeName);
INSTANTIATE_TEST_SUITE_P(Modes, MSSQLQueryFile, ::testing::Bool(), gmtest::ODBCModeName);

}  // namespace
