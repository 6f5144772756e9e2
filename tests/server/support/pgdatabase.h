// A fresh PostgreSQL database of the test's own on the private server (freshdatabase.h).
#pragma once
#include "server/drivers/postgres.h"
#include "tests/server/support/freshdatabase.h"

namespace gmtest {

class PostgresDatabase : public FreshDatabase<tPostgresConnection> {
protected:
    tDatabaseServer Server() const override {
        const DbSettings& env = DbEnv();
        return {"POSTGRES", "gmpg_", env.pgDsn, env.pgUser, env.pgPassword, "", " WITH (FORCE)",
                // The shared source's client encoding, so that 8-bit bytes pass unchanged.
                "Driver=gm PostgreSQL\nServername=127.0.0.1\nPort=" + env.pgPort +
                    "\nDatabase=%DB%\nConnSettings=SET client_encoding TO 'WIN1252'\n"};
    }
};

}  // namespace gmtest
