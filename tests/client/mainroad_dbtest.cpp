// The main road of an application, through the shared library's GM_ functions only, against the
// real pellmar in console mode over a fresh PostgreSQL database of the test's own, reached
// through the alias POSTGRES/<database> of the program's gatemill.ini.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "client/gatemillapi.h"
#include "tests/lib_common/support/inipassword.h"
#include "tests/server/process/support/programprocess.h"
#include "tests/server/process/support/programrun.h"
#include "tests/server/support/pgdatabase.h"

// The database drivers' own leaks, which the db test programs suppress (driver_leaks.cpp).
extern "C" const char* __lsan_default_suppressions();

namespace {

// Status codes of the library's header.
constexpr int16_t kNotConnected = -2;
constexpr int16_t kConnectFailed = -35;

// A copy of pellmar in the test's directory, serving the test's database, and table
// connections to it that are released at the end.
class MainRoad : public gmtest::PostgresDatabase {
protected:
    void SetUp() override {
        PostgresDatabase::SetUp();
        if (HasFatalFailure()) return;
        port = gmtest::FreePort();
        ASSERT_NE(port, 0);
        const gmtest::DbSettings& env = gmtest::DbEnv();
        gmtest::WriteFileText(dir.File("gatemill.ini"),
                              "[General]\r\nPort=" + std::to_string(port) +
                                  "\r\nThreadMin=4\r\nThreadInc=2\r\n[POSTGRES/" + dsn +
                                  "]\r\nuser=" + env.pgUser +
                                  "\r\npassword=" + gmtest::IniPassword(env.pgPassword) + "\r\n");
        // The program under LeakSanitizer ignores the same driver leaks as this one.
        gmtest::WriteFileText(dir.File("driver_leaks.supp"), __lsan_default_suppressions());
        const char* options = std::getenv("LSAN_OPTIONS");
        const std::string kept = options ? options : "";
        setenv("LSAN_OPTIONS", ("suppressions=" + dir.File("driver_leaks.supp")).c_str(), 1);
        server = std::make_unique<gmtest::ProgramRun>(gmtest::CopyProgram(dir),
                                                      std::vector<std::string>{"-console"});
        if (options) {
            setenv("LSAN_OPTIONS", kept.c_str(), 1);
        } else {
            unsetenv("LSAN_OPTIONS");
        }
        ASSERT_TRUE(server->Started());
        ASSERT_TRUE(server->WaitFor("Listening port " + std::to_string(port) + " \n"))
            << server->Output();
    }

    void TearDown() override {
        for (GM_HANDLE handle : handles) GM_Release(handle);
        if (server && server->Started()) {
            size_t from = 0;
            EXPECT_EQ(server->StopAnsweringYes(from), 0) << server->Output();
        }
        PostgresDatabase::TearDown();
    }

    std::string Environment() const { return "POSTGRES/" + dsn; }

    // A new table connection, released at the end, and the status of its connect.
    GM_HANDLE Connection(int16_t& status, const std::string& environment) {
        const GM_HANDLE handle = GM_GetGmlConn(0, port);
        EXPECT_NE(handle, 0u);
        handles.push_back(handle);
        status = GM_Connect(handle, "127.0.0.1", environment.c_str(), "gatemill main road");
        return handle;
    }
    GM_HANDLE Connected() {
        int16_t status = 0;
        const GM_HANDLE handle = Connection(status, Environment());
        EXPECT_EQ(status, 0) << server->Output();
        return handle;
    }

    u16 port = 0;
    std::unique_ptr<gmtest::ProgramRun> server;
    std::vector<GM_HANDLE> handles;
};

TEST_F(MainRoad, ConnectChecksTheBuildAndDisconnectEndsTheSession) {
    const GM_HANDLE db = Connected();
    EXPECT_EQ(GM_IsConnected(db), 1);
    char text[256] = "x";
    EXPECT_EQ(GM_GetServerType(db, text), 0);
    EXPECT_STREQ(text, "WinNT");
    EXPECT_EQ(GM_GetBuild(db, text), 0);
    EXPECT_STREQ(text, "20110117");
    EXPECT_GT(GM_GetSID(db), 0);
    // The catalogue the first connect of the alias made, seen from the test's own connection.
    EXPECT_EQ(Value("select count(*) from pg_tables where tablename = 'gml_field'"), "1");

    EXPECT_EQ(GM_DisConnect(db), 0);
    EXPECT_EQ(GM_IsConnected(db), 0);
    EXPECT_EQ(GM_GetSID(db), kNotConnected);
    EXPECT_EQ(GM_GetBuild(db, text), kNotConnected);

    // The same handle connects again.
    EXPECT_EQ(GM_Connect(db, "127.0.0.1", Environment().c_str(), "again"), 0) << server->Output();
    EXPECT_GT(GM_GetSID(db), 0);
}

TEST_F(MainRoad, AnAliasTheServerCannotConnectIsRefused) {
    for (const std::string& environment : {std::string("POSTGRES/NOSUCHSOURCE"), "FOO/" + dsn}) {
        SCOPED_TRACE(environment);
        int16_t status = 0;
        const GM_HANDLE db = Connection(status, environment);
        EXPECT_EQ(status, kConnectFailed);
        EXPECT_EQ(GM_IsConnected(db), 0);
        char text[256];
        EXPECT_EQ(GM_GetBuild(db, text), kNotConnected);
    }
}

}  // namespace
