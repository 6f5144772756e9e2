// A copy of the real pellmar in console mode serving a fresh database of the test's own on the
// private PostgreSQL or MariaDB, through the alias <type>/<database> of its gatemill.ini, and
// client connections to it through the shared library's GM_ functions. Db tests only.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "client/gatemillapi.h"
#include "tests/lib_common/support/inipassword.h"
#include "tests/server/process/support/programprocess.h"
#include "tests/server/process/support/programrun.h"
#include "tests/server/support/mariadatabase.h"
#include "tests/server/support/pgdatabase.h"

// The database drivers' own leaks, which the db test programs suppress (driver_leaks.cpp).
extern "C" const char* __lsan_default_suppressions();

namespace gmtest {

// The connection's last error text, for failure messages.
inline std::string ErrorOf(GM_HANDLE db) {
    char text[512] = "";
    GM_GetError(db, text, sizeof text - 1);
    return text;
}

// A copy of pellmar in dir run in console mode over the gatemill.ini there; under LeakSanitizer
// it ignores the same driver leaks as the test program.
inline std::unique_ptr<ProgramRun> StartPellmar(const TempDir& dir) {
    WriteFileText(dir.File("driver_leaks.supp"), __lsan_default_suppressions());
    const char* options = std::getenv("LSAN_OPTIONS");
    const std::string kept = options ? options : "";
    setenv("LSAN_OPTIONS", ("suppressions=" + dir.File("driver_leaks.supp")).c_str(), 1);
    auto program = std::make_unique<ProgramRun>(CopyProgram(dir), std::vector<std::string>{"-console"});
    if (options) {
        setenv("LSAN_OPTIONS", kept.c_str(), 1);
    } else {
        unsetenv("LSAN_OPTIONS");
    }
    return program;
}

// A copy of pellmar in the test's directory, serving the test's database (Database: the server's
// fresh-database fixture), and table connections to it that are released at the end.
template <class Database>
class PellmarServed : public Database {
protected:
    using Database::dir;
    using Database::dsn;
    using Database::server;

    void SetUp() override {
        Database::SetUp();
        if (this->HasFatalFailure()) return;
        port = gmtest::FreePort();
        ASSERT_NE(port, 0);
        gmtest::WriteFileText(dir.File("gatemill.ini"),
                              "[General]\r\nPort=" + std::to_string(port) +
                                  "\r\nThreadMin=4\r\nThreadInc=2\r\n" + moreGeneral + "[" +
                                  Environment() + "]\r\nuser=" + server.user +
                                  "\r\npassword=" + gmtest::IniPassword(server.password) + "\r\n");
        program = StartPellmar(dir);
        ASSERT_TRUE(program->Started());
        ASSERT_TRUE(program->WaitFor("Listening port " + std::to_string(port) + " \n"))
            << program->Output();
    }

    void TearDown() override {
        for (GM_HANDLE handle : handles) {
            GM_DisConnect(handle);
            GM_Release(handle);
        }
        if (program && program->Started()) {
            size_t from = 0;
            EXPECT_EQ(program->StopAnsweringYes(from), 0) << program->Output();
        }
        Database::TearDown();
    }

    std::string Environment() const { return server.dbType + "/" + dsn; }
    // The SQL of the schema the test's tables are made in: information_schema of MariaDB lists
    // every database's tables.
    static std::string CurrentSchema() {
        return std::is_same_v<Database, gmtest::PostgresDatabase> ? "current_schema()"
                                                                  : "database()";
    }

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
        EXPECT_EQ(status, 0) << program->Output();
        return handle;
    }

    std::string moreGeneral;  // further [General] lines ("Key=value\r\n"), set before SetUp
    u16 port = 0;
    std::unique_ptr<gmtest::ProgramRun> program;
    std::vector<GM_HANDLE> handles;
};

struct DatabaseName {
    template <class Database>
    static std::string GetName(int) {
        return std::is_same_v<Database, gmtest::PostgresDatabase> ? "PostgreSQL" : "MariaDB";
    }
};
using Databases = ::testing::Types<gmtest::PostgresDatabase, gmtest::MariaDatabase>;

}  // namespace gmtest
