// Client connections to a fresh PostgreSQL database of the test's own: the environment
// "postgres/<dsn>" names it, and its alias's user and password come from the ini. A second data
// source, "<dsn>_bad", reaches the same database with the wrong password. Db tests only.
#pragma once
#include <string>

#include "tests/lib_common/support/inipassword.h"
#include "tests/server/dispatch/support/dbserverfixture.h"
#include "tests/server/support/pgdatabase.h"

namespace gmtest {

class DBServerPostgres : public PostgresDatabase, public DBServerWorld {
protected:
    void SetUp() override {
        PostgresDatabase::SetUp();
        if (HasFatalFailure()) return;
        StartServerGlobals("");
    }
    // Globals over the ini of both aliases, with these lines after them.
    void StartServerGlobals(const std::string& more) {
        const DbSettings& env = DbEnv();
        const std::string sources = ReadFileText(dir.File("odbc.ini"));
        if (sources.find("[" + dsn + "_bad]") == std::string::npos) {
            WriteFileText(dir.File("odbc.ini"), sources + "\n[" + dsn +
                                                    "_bad]\nDriver=gm PostgreSQL\n"
                                                    "Servername=127.0.0.1\nPort=" +
                                                    env.pgPort + "\nDatabase=" + dsn + "\n");
        }
        StartGlobals("[POSTGRES/" + dsn + "]\nuser=" + env.pgUser +
                     "\npassword=" + IniPassword(env.pgPassword) + "\n[POSTGRES/" + dsn +
                     "_bad]\nuser=" + env.pgUser + "\npassword=" + IniPassword("wrong") + "\n" +
                     more);
    }
    std::string Environment() const { return "postgres/" + dsn; }
};

}  // namespace gmtest
