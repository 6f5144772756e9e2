// Table-definition loading of the connection base: the failures and their messages, the field
// types that GML_FIELD corrects, the record counter and audit switch of a loaded table, the
// definition cache, the unique key <table>_UNQ and the join descriptions.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lib_common/retcodes.h"
#include "server/isam/dbconn.h"
#include "server/isam/gatemill.h"
#include "server/tables/dbtable.h"
#include "tests/server/support/catalogconn.h"
#include "tests/server/support/testprocess.h"
#include "tests/server/support/testsession.h"

namespace {

using Column = gmtest::CatalogConnection::Column;

const std::vector<Column> kColumns = {
    {"A1_COD", 'C', 6, 0, true},      {"A1_ATIVO", 'C', 1, 0, true},
    {"A1_DATA", 'C', 8, 0, true},     {"A1_VALOR", 'N', 15, 6, true},
    {"A1_OBS", 'M', 10, 0, true},     {"D_E_L_E_T_", 'C', 1, 0, true},
    {"R_E_C_N_O_", 'N', 15, 6, false}};

// FIELD_TABLE, FIELD_NAME, FIELD_TYPE, FIELD_PREC, FIELD_DEC as a char table gives them back.
const std::vector<std::vector<std::string>> kFieldRows = {
    {"SA1010", "A1_ATIVO  ", "L ", "1   ", "0   "},
    {"SA1010", "A1_DATA", "D", "8", "0"},
    {"SA1010", "A1_OBS", "M", "10", "0"},
    {"SA1010", "A1_VALOR", "N", "12", "2"}};

std::string Layout(const tTableDefinition& def) {
    std::string text;
    for (i32 i = 0; i < def.GetFieldCount(); ++i) {
        const tField& f = *def.GetField(i);
        text += std::string(i ? " " : "") + f.GetName() + ":" + static_cast<char>(f.GetType()) +
                std::to_string(f.GetLen()) + "." + std::to_string(f.GetDecimals());
    }
    return text;
}

class TableDefLoad : public ::testing::Test {
protected:
    TableDefLoad() {
        conn.SetDBServer(&session);
        conn.columns = kColumns;
        conn.indexes = {{"SA1010_1", {"A1_COD", "R_E_C_N_O_"}}};
        conn.recCount = 250.0;
    }
    // The rows of GML_FIELD, and no virtual index, for the next load.
    void ScriptFieldRows(const std::vector<std::vector<std::string>>& rows) {
        ScriptLoad(conn, rows);
    }
    static void ScriptLoad(gmtest::CatalogConnection& c,
                           const std::vector<std::vector<std::string>>& rows) {
        c.results.push_back({"SELECT * FROM GML_FIELD", rows});
        c.results.push_back({"SELECT IDX_NAME,IDX_KEY FROM GML_VIRTUALIDX", {}});
    }
    std::string LastError() {
        tString text;
        conn.GetLastErrorInfo(text);
        return text.GetText();
    }

    gmtest::TestDBProcess process;
    gmtest::TestSession session;
    gmtest::CatalogConnection conn;
};

TEST_F(TableDefLoad, FailuresNameTheTableAndLeaveNothingCached) {
    const struct {
        const char* name;
        const char* table;
        void (*setUp)(gmtest::CatalogConnection&, gmtest::TestDBProcess&);
        const char* message;
    } cases[] = {
        {"bad name", "SA1010;DROP", [](auto&, auto&) {},
         "Table [SA1010;DROP] Error - Invalid Table Name.\n"},
        {"describe", "SA1010", [](auto& c, auto&) { c.describeOk = false; },
         "Table [SA1010] Error - Describe Structure Failed.\n"},
        {"indexes", "SA1010", [](auto& c, auto&) { c.indexesOk = false; },
         "Table [SA1010] Error - Describe Indexes Failed.\n"},
        {"no recno", "SA1010",
         [](auto& c, auto&) {
             c.columns.pop_back();
             c.indexes.clear();
         },
         "Table [SA1010] Error - R_E_C_N_O_ field NOT FOUND.\n"},
        {"no deletion mark", "SA1010",
         [](auto& c, auto&) { c.columns.erase(c.columns.begin() + 5); },
         "Table [SA1010] Error - D_E_L_E_T_ field NOT FOUND.\n"},
        {"GML_FIELD incomplete", "SA1010",
         [](auto&, auto& p) { p.SetIni("General", "AdjustError", "1"); },
         "Table [SA1010] Error - ADJUSTFIELDS FAILED.\n"},
        {"negative count", "SA1010", [](auto& c, auto&) { c.recCount = -1.0; },
         "Table [SA1010] Error - GETRECCOUNT FAILED.\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        gmtest::CatalogConnection failing;
        failing.columns = kColumns;
        failing.indexes = {{"SA1010_1", {"A1_COD"}}};
        c.setUp(failing, process);
        ScriptLoad(failing, {});
        EXPECT_EQ(failing.GetTableDef(c.table, "PRODUCAO", true), nullptr);
        EXPECT_EQ(failing.FindTableDef(c.table, "PRODUCAO"), nullptr);
        tString text;
        EXPECT_EQ(failing.GetLastErrorInfo(text), RC_FAILED);
        EXPECT_EQ(std::string(text.GetText())
                      .find(std::string("GML Error -19 - ") + c.message +
                            " ( From tDBServer::OpenFile )\n"),
                  0u);
        process.SetIni("General", "AdjustError", "0");
    }
    EXPECT_EQ(process.GetTableCache().GetCount(), 0);
}

TEST_F(TableDefLoad, LoadedTableCarriesCorrectedTypesRecordCounterAndAuditSwitch) {
    process.SetIni("AUDIT/PRODUCAO", "SA1010", "1");
    ScriptFieldRows(kFieldRows);
    const std::shared_ptr<tTableDefinitionShared> def =
        conn.GetTableDef("SA1010", "PRODUCAO", true);
    ASSERT_NE(def, nullptr);
    EXPECT_EQ(Layout(*def),
              "A1_COD:C6.0 A1_ATIVO:L1.0 A1_DATA:D8.0 A1_VALOR:N12.2 A1_OBS:M10.0 "
              "D_E_L_E_T_:C1.0 R_E_C_N_O_:N15.6");
    EXPECT_EQ(def->GetRecnoField(), 6);
    EXPECT_EQ(def->GetDeletedField(), 5);
    ASSERT_EQ(def->GetIndexCount(), 1);
    EXPECT_STREQ(def->GetIndex(0)->GetName(), "SA1010_1");
    EXPECT_EQ(def->GetIndex(0)->GetFieldCount(), 2);
    EXPECT_TRUE(def->IsAuditable());
    EXPECT_EQ(
        session.lockServer.RecCount(static_cast<i32>(def->GetLockBucket()), def->GetFullName()),
        250.0);
    EXPECT_TRUE(process.LogEntries().empty());

    // Cached: the next request and a request without loading touch nothing.
    conn.executed.clear();
    EXPECT_EQ(conn.GetTableDef("SA1010", "PRODUCAO", true), def);
    EXPECT_EQ(conn.GetTableDef("sa1010", "PRODUCAO", false), def);
    EXPECT_EQ(conn.GetTableDef("SA1020", "PRODUCAO", false), nullptr);
    EXPECT_TRUE(conn.executed.empty());
    EXPECT_EQ(conn.described, std::vector<std::string>{"SA1010"});
    EXPECT_TRUE(conn.RemoveTableDef("SA1010", "PRODUCAO"));
    EXPECT_EQ(conn.FindTableDef("SA1010", "PRODUCAO"), nullptr);
}

TEST_F(TableDefLoad, AuditAllMarksEveryTable) {
    process.SetIni("General", "AuditAll", "1");
    ScriptFieldRows(kFieldRows);
    const std::unique_ptr<tTableDefinitionShared> def = conn.LoadTableDef("SA1010", "PRODUCAO");
    ASSERT_NE(def, nullptr);
    EXPECT_TRUE(def->IsAuditable());
    ScriptFieldRows(kFieldRows);
    process.SetIni("General", "AuditAll", "0");
    EXPECT_FALSE(conn.LoadTableDef("SA1010", "PRODUCAO")->IsAuditable());
}

TEST_F(TableDefLoad, FieldTableQueryUsesTheSchemaOrAPattern) {
    conn.owner = "dbo.";
    tTableDefinition def("SA1010", "PRODUCAO");
    ScriptFieldRows({});
    conn.AdjustFields(def);
    conn.SetUseSysTables(false);
    ScriptFieldRows({});
    conn.AdjustFields(def);
    EXPECT_EQ(conn.executed,
              (std::vector<std::string>{
                  "tDBConnection::AdjustFields: SELECT * FROM GML_FIELD WHERE FIELD_TABLE "
                  "='dbo.SA1010' ORDER BY FIELD_TABLE,FIELD_NAME",
                  "tDBConnection::AdjustFields: SELECT * FROM GML_FIELD WHERE FIELD_TABLE LIKE "
                  "'%.SA1010 %' ORDER BY FIELD_TABLE,FIELD_NAME"}));
    conn.failingExecs = {2};
    EXPECT_FALSE(conn.AdjustFields(def));
}

TEST_F(TableDefLoad, FieldTableRowsThatDoNotFitWarnAndRefuseOnlyWithAdjustError) {
    const std::string a = "[WARNING] Table SA1010 ";
    const struct {
        const char* name;
        std::vector<std::string> row;  // FIELD_NAME, FIELD_TYPE, FIELD_PREC, FIELD_DEC
        std::string warning;
        std::string layout;
    } cases[] = {
        {"L on C 6",
         {"A1_COD", "L", "1", "0"},
         a + "GML_Field A1_COD invalid conversion from [C] to [L].\n",
         "A1_COD:C6.0"},
        {"D on C 1",
         {"A1_ATIVO", "D", "8", "0"},
         a + "GML_Field A1_ATIVO invalid conversion from [C / 1] to [D].\n",
         "A1_ATIVO:C1.0"},
        {"M on C",
         {"A1_DATA", "M", "10", "0"},
         a + "GML_Field A1_DATA invalid conversion from [C] to [M].\n",
         "A1_DATA:C8.0"},
        {"P on C",
         {"A1_COD", "P", "5", "0"},
         a + "GML_Field A1_COD invalid conversion from [C] to [P].\n",
         "A1_COD:C6.0"},
        {"unknown letter",
         {"A1_COD", "Q", "1", "0"},
         a + "GML_Field A1_COD invalid type [Q].\n",
         "A1_COD:C6.0"},
        {"row of no field", {"A1_GONE", "L", "1", "0"}, "", "A1_COD:C6.0"},
    };
    for (const bool adjustError : {false, true}) {
        process.SetIni("General", "AdjustError", adjustError ? "1" : "0");
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (adjustError ? " AdjustError" : ""));
            process.ClearLog();
            tTableDefinition def("SA1010", "PRODUCAO");
            for (const Column& col : kColumns) {
                def.AddField(col.name.c_str(), col.type, col.length, col.decimals, col.data, true);
            }
            // A1_VALOR is always adjusted, so only the row under test can warn.
            std::vector<std::string> row = {"SA1010"};
            row.insert(row.end(), c.row.begin(), c.row.end());
            ScriptFieldRows({row, {"SA1010", "A1_VALOR", "B", "9", "3"}});
            const bool fits = c.warning.empty();
            EXPECT_EQ(conn.AdjustFields(def), fits || !adjustError);
            const std::string layout = Layout(def);
            EXPECT_NE(layout.find(c.layout), std::string::npos) << layout;
            EXPECT_NE(layout.find("A1_VALOR:N9.3"), std::string::npos) << layout;
            const std::vector<std::string> log = process.LogEntries();
            if (fits) {
                EXPECT_TRUE(log.empty());
                continue;
            }
            const std::string refusal =
                adjustError ? "[ERROR] INCOMPLETE OR INVALID GML_FIELD DEFINITION : Table "
                              "[SA1010] Env ( MSSQL/PRODUCAO ).\n"
                            : "";
            EXPECT_EQ(log, std::vector<std::string>{c.warning + refusal});
        }
    }
}

TEST_F(TableDefLoad, EveryNumericFieldNeedsItsFieldTableRow) {
    tTableDefinition def("SA1010", "PRODUCAO");
    for (const Column& col : kColumns) {
        def.AddField(col.name.c_str(), col.type, col.length, col.decimals, col.data, true);
    }
    def.AddField("A1_SALDO", 'N', 15, 6, true, true);
    ScriptFieldRows(kFieldRows);
    EXPECT_TRUE(conn.AdjustFields(def));
    EXPECT_EQ(process.LogEntries(),
              std::vector<std::string>{"[WARNING] Table SA1010 has 2 numeric fields on DBMS, but "
                                       "1 was adjusted using GML_FIELD.\n"});
}

TEST_F(TableDefLoad, UniqueKeyRebuildsTheIndexOverTheKeyAndTheDeletionRecno) {
    ScriptFieldRows({});
    ASSERT_NE(conn.GetTableDef("SA1010", "PRODUCAO", true), nullptr);
    const std::string u = "tDBConnection::UniqueKey: ";
    const std::string update =
        u +
        "UPDATE SA1010 SET R_E_C_D_E_L_ = R_E_C_N_O_ WHERE D_E_L_E_T_ = '*' AND R_E_C_N_O_ "
        "!= R_E_C_D_E_L_";
    const std::string create =
        u + "CREATE UNIQUE INDEX SA1010_UNQ ON SA1010(A1_COD,A1_DATA,R_E_C_D_E_L_)";
    const std::string alter =
        "AlterTable SA1010 0 A1_COD:C:6:0:0,A1_ATIVO:C:1:0:0,A1_DATA:C:8:0:0,A1_VALOR:N:15:6:0,"
        "A1_OBS:M:10:0:0,R_E_C_D_E_L_:R:4:0:2";
    const struct {
        const char* name;
        const char* table;
        const char* keys;
        bool indexExists;
        i16 code;
        std::vector<std::string> executed;
    } cases[] = {
        {"new key", " sa1010 ", "a1_cod+A1_DATA", false, RC_OK, {alter, update, create}},
        {"key replaced",
         "SA1010",
         "A1_COD + A1_DATA",
         true,
         RC_OK,
         {u + "DROP INDEX SA1010_UNQ", alter, update, create}},
        {"key removed", "SA1010", "", true, RC_OK, {u + "DROP INDEX SA1010_UNQ"}},
        {"not a field", "SA1010", "A1_COD+A1_COD);DROP TABLE X", true, RC_FAILED, {}},
        {"unknown table", "SA1020", "A1_COD", false, RC_NOT_FOUND, {}},
        {"bad table name", "SA1010;", "A1_COD", false, RC_NOT_FOUND, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        conn.executed.clear();
        conn.existing.clear();
        if (c.indexExists) conn.existing.insert("SA1010.SA1010_UNQ");
        EXPECT_EQ(conn.UniqueKey(c.table, c.keys), c.code);
        EXPECT_EQ(conn.executed, c.executed);
    }
}

TEST_F(TableDefLoad, UniqueKeyOnATableWithTheDeletionRecnoNeedsNoAlteration) {
    conn.columns.push_back({"R_E_C_D_E_L_", 'N', 15, 6, false});
    ScriptFieldRows({});
    ASSERT_NE(conn.GetTableDef("SA1010", "PRODUCAO", true), nullptr);
    conn.executed.clear();
    EXPECT_EQ(conn.UniqueKey("SA1010", "A1_COD"), RC_OK);
    ASSERT_EQ(conn.executed.size(), 2u);
    EXPECT_EQ(conn.executed[0].find("tDBConnection::UniqueKey: UPDATE SA1010"), 0u);

    // A failed statement answers -19 and stops there.
    conn.executed.clear();
    conn.failingExecs = {0};
    EXPECT_EQ(conn.UniqueKey("SA1010", "A1_COD"), RC_FAILED);
    EXPECT_EQ(conn.executed.size(), 1u);
}

TEST_F(TableDefLoad, FailedAlterationStopsTheUniqueKey) {
    ScriptFieldRows({});
    ASSERT_NE(conn.GetTableDef("SA1010", "PRODUCAO", true), nullptr);
    conn.executed.clear();
    conn.alterOk = false;
    EXPECT_EQ(conn.UniqueKey("SA1010", "A1_COD"), RC_FAILED);
    ASSERT_EQ(conn.executed.size(), 1u);
    EXPECT_EQ(conn.executed[0].find("AlterTable SA1010 0 "), 0u);
}

TEST(DBConnectionJoin, JoinDescriptionsQueueCompleteGroupsAndAnswerWhatIsMissing) {
    gmtest::TestDBProcess process;
    gmtest::TestSession session;
    const struct {
        const char* description;
        const char* result;
        std::vector<std::string> joins;  // table|fields|condition|prefix
    } cases[] = {
        {"", "0", {}},
        {"SA2010|B_;A2_NOME|NOME,A2_END;A2_COD=A1_FORN",
         "0",
         {"SA2010|A2_NOME|NOME,A2_END|A2_COD=A1_FORN|B_"}},
        {"SA2010;A2_NOME;X=Y;SB1010;B1_DESC;Z=W",
         "0",
         {"SA2010|A2_NOME|X=Y|", "SB1010|B1_DESC|Z=W|"}},
        {"SA2010;A2_NOME", "2", {}},
        {"SA2010", "1", {}},
        {"SA2010;A2_NOME;X=Y;SB1010", "1", {"SA2010|A2_NOME|X=Y|"}},
        {"|P;F;C", "0", {"|P|F|C|"}},  // a bar in front splits nothing
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        gmtest::TestConnection conn;
        conn.SetDBServer(&session);
        session.traces.clear();
        tString result;
        conn.SetJoinInfo(c.description, result);
        EXPECT_STREQ(result.GetText(), c.result);
        std::vector<std::string> joins;
        if (std::unique_ptr<tAutoArray<tJoinInfo>> list = conn.TakeJoinInfo()) {
            for (i32 i = 0; i < list->Count(); ++i) {
                const tJoinInfo& j = *list->Get(i);
                joins.push_back(std::string(j.table.GetText()) + "|" + j.fields.GetText() + "|" +
                                j.condition.GetText() + "|" + j.prefix.GetText());
            }
        }
        EXPECT_EQ(joins, c.joins);
        ASSERT_EQ(session.traces.size(), 1u);
        EXPECT_EQ(session.traces[0].label, "tDBConnection::SetJoinInfo");
        EXPECT_EQ(session.traces[0].text, std::string("-- Set IsamFile Join Fields [") +
                                              c.description + "] RET [" + c.result + "]");
    }
}

}  // namespace
