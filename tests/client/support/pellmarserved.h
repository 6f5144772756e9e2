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
#include "tests/client/support/pellmarrun.h"
#include "tests/lib_common/support/inipassword.h"
#include "tests/server/support/mariadatabase.h"
#include "tests/server/support/pgdatabase.h"
#include "tests/support/tempdir.h"

// The database drivers' own leaks, which the db test programs suppress (driver_leaks.cpp).
extern "C" const char* __lsan_default_suppressions();

namespace gmtest {

// What start() gives, run with LSAN_OPTIONS naming the driver-leak suppressions written into
// dir: a program it starts under LeakSanitizer ignores the same driver leaks as this one.
template <class Start>
auto WithDriverLeaks(const TempDir& dir, Start start) {
    WriteFileText(dir.File("driver_leaks.supp"), __lsan_default_suppressions());
    const char* options = std::getenv("LSAN_OPTIONS");
    const std::string kept = options ? options : "";
    setenv("LSAN_OPTIONS", ("suppressions=" + dir.File("driver_leaks.supp")).c_str(), 1);
    auto result = start();
    if (options) {
        setenv("LSAN_OPTIONS", kept.c_str(), 1);
    } else {
        unsetenv("LSAN_OPTIONS");
    }
    return result;
}

// Starts the copy in dir as PellmarRun::Start does, ignoring the driver leaks.
inline ::testing::AssertionResult StartWithDriverLeaks(PellmarRun& pellmar, TempDir& dir) {
    return WithDriverLeaks(dir, [&] { return pellmar.Start(dir); });
}

// A copy of pellmar in dir run in console mode over the gatemill.ini there, ignoring the driver
// leaks.
inline std::unique_ptr<ProgramRun> StartPellmar(const TempDir& dir) {
    return WithDriverLeaks(dir, [&] {
        return std::make_unique<ProgramRun>(CopyProgram(dir), std::vector<std::string>{"-console"});
    });
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
        port = pellmar.Port();
        ASSERT_NE(port, 0);
        gmtest::WriteFileText(dir.File("gatemill.ini"),
                              "[General]\r\nPort=" + std::to_string(port) +
                                  "\r\nThreadMin=4\r\nThreadInc=2\r\n" + moreGeneral + "[" +
                                  Environment() + "]\r\nuser=" + server.user +
                                  "\r\npassword=" + gmtest::IniPassword(server.password) + "\r\n");
        ASSERT_TRUE(StartWithDriverLeaks(pellmar, dir));
        program = &pellmar.Program();
    }

    void TearDown() override {
        pellmar.Stop();
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
        return pellmar.Connection(status, environment, "gatemill main road");
    }
    GM_HANDLE Connected() {
        int16_t status = 0;
        const GM_HANDLE handle = Connection(status, Environment());
        EXPECT_EQ(status, 0) << program->Output();
        return handle;
    }

    std::string moreGeneral;  // further [General] lines ("Key=value\r\n"), set before SetUp
    gmtest::PellmarRun pellmar;
    u16 port = 0;
    gmtest::ProgramRun* program = nullptr;  // pellmar's, once started
};

struct DatabaseName {
    template <class Database>
    static std::string GetName(int) {
        return std::is_same_v<Database, gmtest::PostgresDatabase> ? "PostgreSQL" : "MariaDB";
    }
};
using Databases = ::testing::Types<gmtest::PostgresDatabase, gmtest::MariaDatabase>;

}  // namespace gmtest
