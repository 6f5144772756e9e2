// The catalogue check-up of the connection base: its mode lines and early exits, the catalogue
// tables it creates where missing (in order, with their layouts and indexes), the clean-up of an
// overgrown GML_PARAM, and the start of the index-use trace.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "server/isam/dbconn.h"
#include "server/tables/dbtable.h"
#include "tests/server/support/catalogconn.h"
#include "tests/server/support/testprocess.h"
#include "tests/server/support/testsession.h"
#include "tests/support/gmtest.h"

namespace {

const std::string kModes =
    "------------- Generic Connection Check-Up -----------------\n"
    "Prepared Stmt Cache .......: ENABLED\n"
    "Index Trace ...............: DISABLED\n"
    "ISAM Compatibility Mode ...: ENABLED\n";
const std::string kClosing = "-----------------------------------------------------------\n\n";
const char* kRoutine = "tDBConnection::InitialCheckUp: ";

const std::string kCreateField =
    std::string(kRoutine) +
    "CREATE TABLE GML_FIELD(FIELD_TABLE C 64 64 0,FIELD_NAME C 32 32 0,FIELD_TYPE C 2 2 0,"
    "FIELD_PREC C 4 4 0,FIELD_DEC C 4 4 0)";
const std::string kFieldIndex =
    std::string(kRoutine) + "CREATE UNIQUE INDEX GML_FIELDI ON GML_FIELD(FIELD_TABLE,FIELD_NAME)";
const std::string kCreateIdxStats =
    std::string(kRoutine) +
    "CREATE TABLE GML_IDXSTATS(IDX_ENV C 32 32 0,IDX_TABLE C 32 32 0,IDX_NAME C 32 32 0,"
    "IDX_KEY C 255 255 0,IDX_USE N 8 0 0,R_E_C_N_O_ R 4 0 0)";
const std::string kIdxStatsIndex =
    std::string(kRoutine) +
    "CREATE INDEX GML_IDXSTATSI ON GML_IDXSTATS(IDX_ENV,IDX_USE,IDX_TABLE,IDX_NAME)";
const std::string kCreateVirtualIdx =
    std::string(kRoutine) +
    "CREATE TABLE GML_VIRTUALIDX(IDX_ENV C 32 32 0,IDX_TABLE C 32 32 0,IDX_NAME C 32 32 0,"
    "IDX_KEY C 255 255 0)";
const std::string kVirtualIdxIndex =
    std::string(kRoutine) +
    "CREATE UNIQUE INDEX GML_VIRTUALIDXI ON GML_VIRTUALIDX(IDX_ENV,IDX_TABLE,IDX_NAME)";
const std::string kCreateSp =
    std::string(kRoutine) +
    "CREATE TABLE GML_SP(SP_NOME C 20 20 0,SP_VERSAO C 20 20 0,SP_DATA C 8 8 0,SP_HORA C 8 8 0,"
    "SP_ASSINAT C 3 3 0)";
const std::string kParamCount =
    "tDBConnection::GetTableCount: SELECT COUNT(*) AS TOTAL FROM GML_PARAM";

class CatalogCheckUp : public ::testing::Test {
protected:
    void SetUp() override { tDBConnection::ForgetIndexTraceDefinition(); }
    void TearDown() override { tDBConnection::ForgetIndexTraceDefinition(); }

    static void ScriptParamCount(gmtest::CatalogConnection& conn, const char* count) {
        conn.results.push_back({"SELECT COUNT(*) AS TOTAL FROM GML_PARAM", {{count}}});
    }

    gmtest::TestDBProcess process;
    gmtest::TestSession session;
};

TEST_F(CatalogCheckUp, ReadOnlyConnectionReportsItsModesAndTouchesNoTable) {
    process.SetIni("MSSQL/PRODUCAO", "ReadOnly", "1");
    gmtest::CatalogConnection conn;
    gmtest::ConsoleCapture console;
    tString report;
    EXPECT_TRUE(conn.InitialCheckUp(report));
    EXPECT_EQ(std::string(report.GetText()),
              kModes +
                  "Connection Access Mode ....: READONLY\n"
                  "[INFO] Initial CheckUp - READ ONLY CONNECTION MODE.\n");
    EXPECT_NE(console.Get().find("[INFO] READ ONLY CONNECTION on Environment [PRODUCAO]\n"),
              std::string::npos);
    EXPECT_TRUE(conn.executed.empty());
    EXPECT_FALSE(conn.InUnitOfWork());
}

TEST_F(CatalogCheckUp, IsamSwitchedOffStopsBeforeTheCatalogue) {
    const std::string readWrite = "Connection Access Mode ....: READWRITE (DEFAULT)\n";
    {
        process.SetIni("MSSQL", "IsamConnection", "0");
        gmtest::CatalogConnection conn;
        gmtest::ConsoleCapture console;
        tString report;
        EXPECT_TRUE(conn.InitialCheckUp(report));
        std::string modes = kModes;
        modes.replace(modes.find("Mode ...: ENABLED"), 17, "Mode ...: DISABLED");
        EXPECT_EQ(std::string(report.GetText()),
                  modes + readWrite + "[INFO] Initial CheckUp - ISAM OPERATIONS NOT SUPPORTED.\n" +
                      kClosing);
        EXPECT_NE(console.Get().find("[INFO] ISAM OPERATIONS NOT SUPPORTED on Environment "
                                     "[PRODUCAO]\n"),
                  std::string::npos);
        EXPECT_TRUE(conn.executed.empty());
    }
    {
        // Switched off after the connection was made: read again, with no closing line.
        process.SetIni("MSSQL", "IsamConnection", "1");
        gmtest::CatalogConnection conn;
        process.SetIni("MSSQL", "IsamConnection", "0");
        tString report;
        EXPECT_TRUE(conn.InitialCheckUp(report));
        EXPECT_EQ(std::string(report.GetText()),
                  kModes + readWrite + "[WARNING] Initial CheckUp - ISAM Operations DISABLED.\n");
        EXPECT_FALSE(conn.IsIsamAllowed());
        EXPECT_TRUE(conn.executed.empty());
    }
}

TEST_F(CatalogCheckUp, CreatesTheMissingCatalogueTablesInOrder) {
    const struct {
        const char* name;
        std::set<std::string> existing;
        std::vector<std::string> executed;
    } cases[] = {
        {"fresh database",
         {},
         {kCreateField, kFieldIndex, "CreateGMLParam", kParamCount, kCreateIdxStats, kIdxStatsIndex,
          kCreateVirtualIdx, kVirtualIdxIndex, kCreateSp}},
        {"two missing",
         {"GML_FIELD", "GML_PARAM", "GML_VIRTUALIDX"},
         {kParamCount, kCreateIdxStats, kIdxStatsIndex, kCreateSp}},
        {"complete",
         {"GML_FIELD", "GML_PARAM", "GML_IDXSTATS", "GML_VIRTUALIDX", "GML_SP"},
         {kParamCount}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        gmtest::CatalogConnection conn;
        conn.existing = c.existing;
        ScriptParamCount(conn, "12");
        tString report;
        EXPECT_TRUE(conn.InitialCheckUp(report));
        EXPECT_EQ(conn.executed, c.executed);
        EXPECT_EQ(std::string(report.GetText()),
                  kModes + "Connection Access Mode ....: READWRITE (DEFAULT)\n" + kClosing);
        EXPECT_TRUE(conn.InUnitOfWork());
    }
    EXPECT_TRUE(process.LogEntries().empty());
}

TEST_F(CatalogCheckUp, FailedCreationStopsTheLaterStepsAndLogsTheReport) {
    gmtest::CatalogConnection conn;
    conn.existing = {"GML_FIELD"};
    conn.createParamOk = false;
    tString report;
    EXPECT_FALSE(conn.InitialCheckUp(report));
    EXPECT_EQ(conn.executed, std::vector<std::string>{"CreateGMLParam"});
    const std::string before = kModes + "Connection Access Mode ....: READWRITE (DEFAULT)\n";
    EXPECT_EQ(std::string(report.GetText()), before + kClosing);
    EXPECT_EQ(process.LogEntries(),
              std::vector<std::string>{"[WARNING] Initial CheckUp FAILED - Environment [PRODUCAO]\n"
                                       "Environment Information : \n" +
                                       before + "\n"});
}

TEST_F(CatalogCheckUp, OvergrownParamTableKeepsOnlyItsFkInUseRows) {
    const std::string select =
        "tDBConnection::InitialCheckUp: SELECT PARAM_NAME,PARAM_SESSION,PARAM_VALUE FROM "
        "GML_PARAM WHERE PARAM_NAME LIKE 'FKINUSE%'";
    const std::string kept = kParamCount + " WHERE PARAM_NAME LIKE 'FKINUSE%'";
    const std::string drop = "tDBConnection::InitialCheckUp: DROP TABLE GML_PARAM";
    const std::string insert =
        "tDBConnection::InitialCheckUp: INSERT INTO GML_PARAM(PARAM_NAME,PARAM_SESSION,"
        "PARAM_VALUE) VALUES(";
    const struct {
        const char* name;
        const char* dbType;
        const char* count;
        const char* keptCount;  // what the count of FKINUSE rows answers after reading them
        bool ok;
        std::vector<std::string> executed;
    } cases[] = {
        {"999 rows", "MSSQL", "999", "2", true, {kParamCount}},
        {"1000 rows",
         "MSSQL",
         "1000",
         "2",
         true,
         {kParamCount, select, kept, drop, "CreateGMLParam", insert + "'FKINUSE_A ',1,'O''Neil')",
          insert + "'FKINUSE_B',1,'7')"}},
        {"DB2 writes the session as text",
         "DB2",
         "1000",
         "2",
         true,
         {kParamCount, select, kept, drop, "CreateGMLParam", insert + "'FKINUSE_A ','1','O''Neil')",
          insert + "'FKINUSE_B','1','7')"}},
        {"a row was not read", "MSSQL", "1000", "3", false, {kParamCount, select, kept}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        process.ClearLog();
        gmtest::CatalogConnection conn(c.dbType);
        conn.existing = {"GML_FIELD", "GML_PARAM", "GML_IDXSTATS", "GML_VIRTUALIDX", "GML_SP"};
        ScriptParamCount(conn, c.count);
        conn.results.push_back(
            {"SELECT PARAM_NAME", {{"FKINUSE_A ", "3", "O'Neil"}, {"FKINUSE_B", "4", "7"}}});
        ScriptParamCount(conn, c.keptCount);
        tString report;
        EXPECT_EQ(conn.InitialCheckUp(report), c.ok);
        EXPECT_EQ(conn.executed, c.executed);
        const std::vector<std::string> log = process.LogEntries();
        if (c.executed.size() > 4) {
            EXPECT_EQ(log, (std::vector<std::string>{
                               "[WARNING] GML_PARAM over 1000 rows. Running clean routine.\n",
                               "[INFO] Restore GML_PARAM information.\n"}));
        } else if (!c.ok) {
            ASSERT_EQ(log.size(), 3u);
            EXPECT_EQ(log[1],
                      "[ERROR] GML_PARAM clean routine stopped: its FKINUSE rows could not be "
                      "read.\n");
        }
    }
}

TEST_F(CatalogCheckUp, ParamCleanUpNeverDropsTheTableWhenItsRowsCannotBeRead) {
    gmtest::CatalogConnection conn;
    conn.existing = {"GML_FIELD", "GML_PARAM", "GML_IDXSTATS", "GML_VIRTUALIDX", "GML_SP"};
    ScriptParamCount(conn, "5000");
    conn.failingExecs = {1};  // the SELECT of the FKINUSE rows
    tString report;
    EXPECT_FALSE(conn.InitialCheckUp(report));
    ASSERT_EQ(conn.executed.size(), 2u);
    EXPECT_EQ(conn.executed[1].find("tDBConnection::InitialCheckUp: SELECT PARAM_NAME"), 0u);
}

TEST_F(CatalogCheckUp, IndexTraceCountsItsTableAndResetsUseCountsWhenSwitchedOn) {
    process.SetIni("General", "TraceIndex", "1");
    const std::string reset = "tDBConnection::InitialCheckUp: UPDATE GML_IDXSTATS SET IDX_USE=0";
    const std::string warning = "[WARNING] LOW Performance Alert : TRACEINDEX is active.\n";
    const struct {
        const char* name;
        f64 recCount;
        bool changed;
        bool ok;
        std::vector<std::string> log;
    } cases[] = {
        {"empty table", 0.0, false, true, {warning}},
        {"switched on while running", 57.0, true, true, {warning}},
        {"count failed",
         -1.0,
         true,
         false,
         {warning,
          "[ERROR] (TRACEINDEX) Create Index Trace "
          "Definition Failed."}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        tDBConnection::ForgetIndexTraceDefinition();
        process.ClearLog();
        process.indexTraceChanged = c.changed;
        gmtest::CatalogConnection conn;
        conn.SetDBServer(&session);
        conn.existing = {"GML_FIELD", "GML_PARAM", "GML_IDXSTATS", "GML_VIRTUALIDX", "GML_SP"};
        conn.recCount = c.recCount;
        ScriptParamCount(conn, "1");
        tString report;
        EXPECT_EQ(conn.InitialCheckUp(report), c.ok);
        EXPECT_NE(std::string(report.GetText())
                      .find("Index Trace ...............: ENABLED\n" + std::string("ISAM")),
                  std::string::npos);
        EXPECT_NE(std::string(report.GetText()).find(warning), std::string::npos);
        EXPECT_EQ(conn.described, std::vector<std::string>{"GML_IDXSTATS"});
        const bool reset_run = conn.executed.back() == reset;
        EXPECT_EQ(reset_run, c.changed);
        std::vector<std::string> log = process.LogEntries();
        if (!c.ok) log.pop_back();  // the FAILED report
        EXPECT_EQ(log, c.log);
        if (c.ok) {
            tTableDefinition stats("GML_IDXSTATS", "PRODUCAO");
            EXPECT_EQ(session.lockServer.RecCount(static_cast<i32>(stats.GetLockBucket()),
                                                  stats.GetFullName()),
                      c.recCount);
        }
    }
}

TEST_F(CatalogCheckUp, ThreadInfoNamesTheEnvironmentOnTheConsole) {
    process.threadInfo = true;
    gmtest::CatalogConnection conn;
    conn.existing = {"GML_FIELD", "GML_PARAM", "GML_IDXSTATS", "GML_VIRTUALIDX", "GML_SP"};
    ScriptParamCount(conn, "1");
    gmtest::ConsoleCapture console;
    tString report;
    EXPECT_TRUE(conn.InitialCheckUp(report));
    EXPECT_EQ(console.Get(), "[INFO] Initial CheckUp - Environment [PRODUCAO]\n");
}

}  // namespace
