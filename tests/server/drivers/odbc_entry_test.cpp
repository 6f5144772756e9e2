// The ODBC loader: every entry point bound from the real driver manager, the ODBC mode choice
// and its console lines, libraries that are missing or lack a required entry point, and the
// final loaded state.
#include "server/drivers/odbc_entry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/shared_library.h"
#include "tests/server/support/testprocess.h"
#include "tests/support/gmtest.h"

namespace {

class ODBCLoader : public ::testing::Test {
protected:
    gmtest::TestDBProcess process;
    gmtest::ConsoleCapture console;
    tODBCLibrary loader;
    const tString alias{"PRODUCAO"};
};

// The address that the library exports under each name, and the loader's pointer of that name.
#define GM_ENTRY(fn) \
    { #fn, reinterpret_cast < const void*>(loader.Entries().fn) }

TEST_F(ODBCLoader, BindsEveryEntryPointOfTheDriverManagerByItsOwnName) {
    ASSERT_TRUE(loader.Load("MSSQL", alias));
    EXPECT_TRUE(loader.IsLoaded());
    EXPECT_TRUE(loader.HoldsLibrary());

    plat::SharedLibrary manager;
    ASSERT_TRUE(manager.Open("libodbc.so.2"));
    const struct {
        const char* name;
        const void* bound;
    } entries[] = {
        GM_ENTRY(SQLError),          GM_ENTRY(SQLFreeConnect),
        GM_ENTRY(SQLConnect),        GM_ENTRY(SQLDriverConnect),
        GM_ENTRY(SQLDisconnect),     GM_ENTRY(SQLSetConnectOption),
        GM_ENTRY(SQLAllocEnv),       GM_ENTRY(SQLAllocConnect),
        GM_ENTRY(SQLTransact),       GM_ENTRY(SQLFreeEnv),
        GM_ENTRY(SQLGetFunctions),   GM_ENTRY(SQLAllocStmt),
        GM_ENTRY(SQLSetStmtOption),  GM_ENTRY(SQLFreeStmt),
        GM_ENTRY(SQLParamData),      GM_ENTRY(SQLPrepare),
        GM_ENTRY(SQLExecute),        GM_ENTRY(SQLExecDirect),
        GM_ENTRY(SQLNumResultCols),  GM_ENTRY(SQLMoreResults),
        GM_ENTRY(SQLDescribeCol),    GM_ENTRY(SQLProcedureColumns),
        GM_ENTRY(SQLFetch),          GM_ENTRY(SQLExtendedFetch),
        GM_ENTRY(SQLGetData),        GM_ENTRY(SQLPutData),
        GM_ENTRY(SQLBindCol),        GM_ENTRY(SQLBindParameter),
        GM_ENTRY(SQLTables),         GM_ENTRY(SQLDrivers),
        GM_ENTRY(SQLGetInfo),        GM_ENTRY(SQLGetDiagRec),
        GM_ENTRY(SQLGetDiagField),   GM_ENTRY(SQLAllocHandle),
        GM_ENTRY(SQLSetConnectAttr), GM_ENTRY(SQLGetConnectAttr),
        GM_ENTRY(SQLEndTran),        GM_ENTRY(SQLFreeHandle),
        GM_ENTRY(SQLSetEnvAttr),     GM_ENTRY(SQLSetStmtAttr),
        GM_ENTRY(SQLGetStmtAttr),    GM_ENTRY(SQLFetchScroll),
        GM_ENTRY(SQLRowCount),       GM_ENTRY(SQLSetCursorName),
    };
    static_assert(sizeof entries / sizeof entries[0] == 44, "one check per entry point");
    static_assert(sizeof(tODBCEntryPoints) == 44 * sizeof(void*), "44 entry points");
    for (const auto& e : entries) {
        SCOPED_TRACE(e.name);
        ASSERT_NE(e.bound, nullptr);
        EXPECT_EQ(e.bound, manager.Find(e.name));
    }
    EXPECT_TRUE(process.LogEntries().empty());
}

#undef GM_ENTRY

TEST_F(ODBCLoader, ModeFollowsODBC30AndTheConsoleLineNamesTheConfiguredLibrary) {
    const struct {
        const char* odbc30;  // null: key absent
        bool odbc3;
        const char* line;
    } cases[] = {
        {nullptr, false,
         "[INFO] Connection [MSSQL/PRODUCAO] using client library [ODBC32.DLL] (ODBC10)\n"},
        {"0", false,
         "[INFO] Connection [MSSQL/PRODUCAO] using client library [ODBC32.DLL] (ODBC10)\n"},
        {"1", true,
         "[INFO] Connection [MSSQL/PRODUCAO] using client library [ODBC32.DLL] (ODBC30)\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.odbc30 ? c.odbc30 : "absent");
        gmtest::TestDBProcess own;
        if (c.odbc30) own.SetIni("General", "ODBC30", c.odbc30);
        gmtest::ConsoleCapture lines;
        tODBCLibrary fresh;
        ASSERT_TRUE(fresh.Load("MSSQL", alias));
        EXPECT_EQ(fresh.UseODBC3(), c.odbc3);
        EXPECT_EQ(gmtest::WithoutLogEcho(lines.Get()), c.line);
    }
}

TEST_F(ODBCLoader, ODBC3WantedButIncompleteFallsBackToODBC1WithItsLine) {
    process.SetIni("General", "ODBC30", "1");
    process.SetIni("POSTGRES", "ClientLibrary", GM_ODBC1ONLY_PATH);
    ASSERT_TRUE(loader.Load("POSTGRES", alias));
    EXPECT_FALSE(loader.UseODBC3());
    EXPECT_EQ(gmtest::WithoutLogEcho(console.Get()),
              std::string("[INFO] ODBC 3.0 functions not supported. Using ODBC 1.0\n"
                          "[INFO] Connection [POSTGRES/PRODUCAO] using client "
                          "library [") +
                  GM_ODBC1ONLY_PATH + "] (ODBC10)\n");
    EXPECT_EQ(loader.Entries().SQLSetStmtAttr, nullptr);
    EXPECT_NE(loader.Entries().SQLConnect, nullptr);
}

TEST_F(ODBCLoader, MissingLibraryIsLoggedRefusedAndTriedAgainOnTheNextCall) {
    process.SetIni("MYSQL", "ClientLibrary", "libgm_missing_client.so");
    for (int attempt = 0; attempt < 2; ++attempt) {
        SCOPED_TRACE(attempt);
        process.ClearLog();
        EXPECT_FALSE(loader.Load("MYSQL", alias));
        EXPECT_FALSE(loader.IsLoaded());
        EXPECT_FALSE(loader.HoldsLibrary());
        const std::vector<std::string> log = process.LogEntries();
        ASSERT_EQ(log.size(), 2u);
        EXPECT_EQ(log[0],
                  "Connection [MYSQL/PRODUCAO] could not load database client library "
                  "[libgm_missing_client.so]");
        EXPECT_NE(log[1].find("libgm_missing_client.so"), std::string::npos) << log[1];
    }
    // Each attempt reads the configuration again: once the name is right, the library binds.
    process.SetIni("MYSQL", "ClientLibrary", "");
    EXPECT_TRUE(loader.Load("MYSQL", alias));
    EXPECT_EQ(gmtest::WithoutLogEcho(console.Get()),
              "[INFO] Connection [MYSQL/PRODUCAO] using client library [ODBC32.DLL] (ODBC10)\n");
}

TEST_F(ODBCLoader, LibraryLackingARequiredEntryPointIsReleasedAndRefusedAgainNextTime) {
    const struct {
        const char* library;
        const char* missing;
    } cases[] = {
        {GM_NOALLOCENV_PATH, "_SQLAllocEnv"},        // exports SQLConnect only
        {GM_RECODBC_NOCONNECT_PATH, "_SQLConnect"},  // the recording driver without SQLConnect
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.missing);
        process.SetIni("SYBASE", "ClientLibrary", c.library);
        for (int attempt = 0; attempt < 2; ++attempt) {
            SCOPED_TRACE(attempt);
            process.ClearLog();
            EXPECT_FALSE(loader.Load("SYBASE", alias));
            EXPECT_FALSE(loader.IsLoaded());
            EXPECT_FALSE(loader.HoldsLibrary());
            // Nothing of a refused library stays bound.
            EXPECT_EQ(loader.Entries().SQLConnect, nullptr);
            EXPECT_EQ(loader.Entries().SQLAllocEnv, nullptr);
            EXPECT_EQ(process.LogEntries(),
                      std::vector<std::string>{std::string("[ERROR] ") + c.missing +
                                               " NOT FOUND - Invalid client library [" + c.library +
                                               "] (ODBC) used in [SYBASE/PRODUCAO] connection."});
        }
    }
    EXPECT_EQ(gmtest::WithoutLogEcho(console.Get()), "");
}

TEST_F(ODBCLoader, LoadedStateIsFinalWhateverLaterConnectionsConfigure) {
    ASSERT_TRUE(loader.Load("MSSQL", alias));
    const auto connect = loader.Entries().SQLConnect;
    process.SetIni("ORACLE", "ClientLibrary", "libgm_missing_client.so");
    process.SetIni("General", "ODBC30", "1");
    EXPECT_TRUE(loader.Load("ORACLE", tString("OTHER")));
    EXPECT_EQ(loader.Entries().SQLConnect, connect);
    EXPECT_FALSE(loader.UseODBC3());
    EXPECT_TRUE(process.LogEntries().empty());
    EXPECT_EQ(gmtest::WithoutLogEcho(console.Get()),
              "[INFO] Connection [MSSQL/PRODUCAO] using client library [ODBC32.DLL] (ODBC10)\n");
}

// Unload releases everything; the next Load reads the configuration as the first one did.
TEST_F(ODBCLoader, UnloadReleasesTheLibraryAndTheNextLoadReadsTheConfigurationAgain) {
    ASSERT_TRUE(loader.Load("MSSQL", alias));
    loader.Unload();
    EXPECT_FALSE(loader.IsLoaded());
    EXPECT_FALSE(loader.HoldsLibrary());
    EXPECT_EQ(loader.Entries().SQLConnect, nullptr);
    EXPECT_EQ(loader.Entries().SQLAllocEnv, nullptr);

    process.SetIni("General", "ODBC30", "1");
    process.SetIni("POSTGRES", "ClientLibrary", GM_ODBC1ONLY_PATH);
    ASSERT_TRUE(loader.Load("POSTGRES", alias));
    EXPECT_FALSE(loader.UseODBC3());  // that library has no ODBC 3 calls
    plat::SharedLibrary minimal;
    ASSERT_TRUE(minimal.Open(GM_ODBC1ONLY_PATH));
    EXPECT_EQ(reinterpret_cast<void*>(loader.Entries().SQLConnect), minimal.Find("SQLConnect"));
    loader.Unload();
    process.SetIni("POSTGRES", "ClientLibrary", "");
    ASSERT_TRUE(loader.Load("POSTGRES", alias));
    EXPECT_TRUE(loader.UseODBC3());
}

TEST_F(ODBCLoader, DefaultNameIsMatchedWithoutRegardToCase) {
    process.SetIni("MSSQL", "ClientLibrary", "odbc32.dll");
    ASSERT_TRUE(loader.Load("MSSQL", alias));
    EXPECT_EQ(gmtest::WithoutLogEcho(console.Get()),
              "[INFO] Connection [MSSQL/PRODUCAO] using client library [odbc32.dll] (ODBC10)\n");
}

}  // namespace
