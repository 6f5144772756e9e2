// The test harness's own check: the private servers answer through unixODBC under the DSNs that
// db.env names, with the encodings and roles that the db tests rely on.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <string>
#include <vector>

#include "tests/support_db/db_env.h"

namespace {

// One environment and connection, freed by the destructor.
class tOdbcSession {
public:
    tOdbcSession() {
        SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
        SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
        SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
    }
    ~tOdbcSession() {
        if (connected) SQLDisconnect(dbc);
        SQLFreeHandle(SQL_HANDLE_DBC, dbc);
        SQLFreeHandle(SQL_HANDLE_ENV, env);
    }
    tOdbcSession(const tOdbcSession&) = delete;
    tOdbcSession& operator=(const tOdbcSession&) = delete;

    // Empty on success, else the SQLSTATE and message of the first diagnostic.
    std::string Connect(const std::string& dsn, const std::string& user, const std::string& pw) {
        const SQLRETURN rc =
            SQLConnect(dbc, Text(dsn), SQL_NTS, Text(user), SQL_NTS, Text(pw), SQL_NTS);
        connected = SQL_SUCCEEDED(rc);
        return connected ? "" : Diagnostic(SQL_HANDLE_DBC, dbc);
    }

    // Runs a statement; returns "" on success, else its SQLSTATE. Fills the first row as texts.
    std::string Run(const std::string& sql, std::vector<std::string>* row = nullptr) {
        SQLHSTMT stmt = SQL_NULL_HSTMT;
        SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt);
        std::string state;
        if (!SQL_SUCCEEDED(SQLExecDirect(stmt, Text(sql), SQL_NTS))) {
            state = Diagnostic(SQL_HANDLE_STMT, stmt).substr(0, 5);
        } else if (row) {
            ReadFirstRow(stmt, row);
        }
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        return state;
    }

private:
    static SQLCHAR* Text(const std::string& s) {
        return reinterpret_cast<SQLCHAR*>(const_cast<char*>(s.c_str()));
    }

    static void ReadFirstRow(SQLHSTMT stmt, std::vector<std::string>* row) {
        row->clear();
        SQLSMALLINT columns = 0;
        SQLNumResultCols(stmt, &columns);
        if (!SQL_SUCCEEDED(SQLFetch(stmt))) return;
        for (SQLUSMALLINT c = 1; c <= columns; ++c) {
            char value[256] = {};
            SQLLEN length = 0;
            SQLGetData(stmt, c, SQL_C_CHAR, value, sizeof value, &length);
            row->push_back(length == SQL_NULL_DATA ? "(null)" : value);
        }
    }

    static std::string Diagnostic(SQLSMALLINT type, SQLHANDLE handle) {
        SQLCHAR state[6] = {};
        SQLINTEGER native = 0;
        SQLCHAR message[512] = {};
        SQLSMALLINT length = 0;
        SQLGetDiagRec(type, handle, 1, state, &native, message, sizeof message, &length);
        return std::string(reinterpret_cast<char*>(state)) + " " + reinterpret_cast<char*>(message);
    }

    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
    bool connected = false;
};

TEST(PrivateDb, PostgresTestDatabaseIsWin1252AndOwnedByTheTestRole) {
    const gmtest::DbSettings& db = gmtest::DbEnv();
    tOdbcSession s;
    ASSERT_EQ(s.Connect(db.pgDsn, db.pgUser, db.pgPassword), "");
    std::vector<std::string> row;
    ASSERT_EQ(s.Run("select pg_encoding_to_char(d.encoding), r.rolname, current_database(), "
                    "current_setting('port') from pg_database d join pg_roles r on "
                    "r.oid = d.datdba where d.datname = current_database()",
                    &row),
              "");
    EXPECT_EQ(row, (std::vector<std::string>{"WIN1252", db.pgUser, db.pgDb, db.pgPort}));
}

TEST(PrivateDb, PostgresNoSuperRoleIsNoSuperuserAndCannotCreate) {
    const gmtest::DbSettings& db = gmtest::DbEnv();
    ASSERT_NE(db.pgNoSuperUser, db.pgUser);
    tOdbcSession s;
    ASSERT_EQ(s.Connect(db.pgDsn, db.pgNoSuperUser, db.pgNoSuperPassword), "");
    std::vector<std::string> row;
    ASSERT_EQ(s.Run("select current_user, r.rolsuper::int, r.rolcreatedb::int, "
                    "has_schema_privilege('public', 'CREATE')::int, "
                    "has_database_privilege(current_database(), 'CREATE')::int "
                    "from pg_roles r where r.rolname = current_user",
                    &row),
              "");
    EXPECT_EQ(row, (std::vector<std::string>{db.pgNoSuperUser, "0", "0", "0", "0"}));
    EXPECT_EQ(s.Run("create table gm_nosuper_probe (a int)"), "42501");  // insufficient privilege
}

TEST(PrivateDb, PostgresRefusesAWrongPassword) {
    const gmtest::DbSettings& db = gmtest::DbEnv();
    tOdbcSession s;
    EXPECT_NE(s.Connect(db.pgDsn, db.pgNoSuperUser, db.pgPassword + "x"), "");
}

TEST(PrivateDb, MariaDbTestDatabaseAndConnectionAreLatin1) {
    const gmtest::DbSettings& db = gmtest::DbEnv();
    tOdbcSession s;
    ASSERT_EQ(s.Connect(db.mariaDsn, db.mariaUser, db.mariaPassword), "");
    std::vector<std::string> row;
    ASSERT_EQ(s.Run("select database(), @@character_set_database, @@character_set_client, "
                    "@@port, default_character_set_name from information_schema.schemata "
                    "where schema_name = database()",
                    &row),
              "");
    EXPECT_EQ(row,
              (std::vector<std::string>{db.mariaDb, "latin1", "latin1", db.mariaPort, "latin1"}));
}

}  // namespace
