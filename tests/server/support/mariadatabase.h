// A fresh latin1 database of the test's own on the private MariaDB server (freshdatabase.h),
// with the console captured.
#pragma once
#include "server/drivers/mysql.h"
#include "tests/server/support/freshdatabase.h"

namespace gmtest {

class MariaDatabase : public FreshDatabase<tMySQLConnection> {
protected:
    tDatabaseServer Server() const override {
        const DbSettings& env = DbEnv();
        return {"MYSQL",
                "gmmy_",
                env.mariaDsn,
                env.mariaUser,
                env.mariaPassword,
                " CHARACTER SET latin1 COLLATE latin1_swedish_ci",
                "",
                "Driver=gm MariaDB\nSERVER=127.0.0.1\nPORT=" + env.mariaPort +
                    "\nDATABASE=%DB%\nCHARSET=latin1\n"};
    }

    ConsoleCapture console;
};

}  // namespace gmtest
