// Settings of the private database servers for the db test programs.
//
// How it fits together: the CTest fixture test db_start runs scripts/privatedb.sh, which starts
// private PostgreSQL and MariaDB servers under <build>/testdb and writes <build>/testdb/db.env
// (lines "export NAME='value'"); db_stop ends them after the last db test. This object library is
// linked into every *_dbtest program. Before the first test it reads that file (the path comes in
// the compile definition GM_TESTDB_ENV; the environment variable of the same name overrides it)
// and setenv()s every value, so that unixODBC finds the DSNs through ODBCSYSINI and ODBCINI and
// the product's code reads the same environment as a test does. A missing or incomplete file
// fails the program and every test that asks for the settings: a missing server never lets a db
// test pass or skip.
//
// DSNs: "gm_pg" (PostgreSQL, database encoding WIN1252) and "gm_maria" (MariaDB, latin1).
#pragma once
#include <string>

namespace gmtest {

struct DbSettings {
    std::string pgDsn = "gm_pg";
    std::string pgPort, pgUser, pgPassword, pgDb;
    std::string pgNoSuperUser, pgNoSuperPassword;  // a login role without any create rights
    std::string mariaDsn = "gm_maria";
    std::string mariaPort, mariaUser, mariaPassword, mariaDb;
};

// The settings read from db.env; loads it on the first call (thread-safe). When a value is
// missing, the calling test fails (non-fatally) and the missing fields are empty.
const DbSettings& DbEnv();

}  // namespace gmtest
