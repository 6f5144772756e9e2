// A fresh latin1 database of the test's own on the private MariaDB server, reached through a
// data source of the same name: the catalogue tables of one test never meet another's. Only the
// db test programs include this (it needs the private servers' settings).
#pragma once
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "server/drivers/mysql.h"
#include "tests/server/support/testprocess.h"
#include "tests/server/support/testsession.h"
#include "tests/support/gmtest.h"
#include "tests/support/tempdir.h"
#include "tests/support_db/db_env.h"

namespace gmtest {

// SetUp creates the database and a connection to it (connected, with the test session as its
// owner and the session's trace on, so that every statement run is kept in the trace); TearDown
// drops the database whatever happened.
class MariaDatabase : public ::testing::Test {
protected:
    void SetUp() override {
        const DbSettings& env = DbEnv();
        ASSERT_FALSE(env.mariaPort.empty());
        static std::atomic<int> sequence{0};
        dsn = "gmmy_" + std::to_string(getpid()) + "_" + std::to_string(sequence++);
        admin = Connect(env.mariaDsn);
        ASSERT_TRUE(admin->IsConnected());
        ASSERT_TRUE(Run(
            *admin, "CREATE DATABASE " + dsn + " CHARACTER SET latin1 COLLATE latin1_swedish_ci"));
        created = true;
        const char* shared = std::getenv("ODBCINI");
        ASSERT_NE(shared, nullptr);
        sharedIni = shared;
        WriteFileText(dir.File("odbc.ini"),
                      ReadFileText(sharedIni) + "\n[" + dsn +
                          "]\nDriver=gm MariaDB\nSERVER=127.0.0.1\nPORT=" + env.mariaPort +
                          "\nDATABASE=" + dsn + "\nCHARSET=latin1\n");
        setenv("ODBCINI", dir.File("odbc.ini").c_str(), 1);
        conn = Connect(dsn);
        ASSERT_TRUE(conn->IsConnected());
        conn->SetDBServer(&session);
        tDBConnection::ForgetIndexTraceDefinition();
    }

    void TearDown() override {
        conn.reset();
        for (auto& other : others) other.reset();
        if (created) {
            EXPECT_TRUE(Run(*admin, "DROP DATABASE " + dsn));
        }
        admin.reset();
        if (!sharedIni.empty()) setenv("ODBCINI", sharedIni.c_str(), 1);
        tDBConnection::ForgetIndexTraceDefinition();
    }

    // A connection to a data source as the private server's user, connected when it can be.
    static std::unique_ptr<tMySQLConnection> Connect(const std::string& source) {
        const DbSettings& env = DbEnv();
        auto c = std::make_unique<tMySQLConnection>("MYSQL", tString(source.c_str()),
                                                    tString(env.mariaUser.c_str()),
                                                    tString(env.mariaPassword.c_str()));
        c->Connect();
        return c;
    }

    // Another connection to the test's database; it lives until TearDown.
    tMySQLConnection& Other() {
        others.push_back(Connect(dsn));
        return *others.back();
    }

    static bool Run(tDBConnection& c, const std::string& sql) {
        std::unique_ptr<tStatement> stmt(c.NewStatement());
        return stmt->ExecDirect(sql.c_str(), "test", 1);
    }
    bool Run(const std::string& sql) { return Run(*conn, sql); }

    // The first column of the first row as text; "(none)" when no row came, "(failed)" when the
    // query failed.
    static std::string Value(tDBConnection& c, const std::string& sql) {
        std::unique_ptr<tStatement> stmt(c.NewStatement());
        if (!stmt->ExecDirect(sql.c_str(), "test", 1)) return "(failed)";
        if (!stmt->Fetch()) return "(none)";
        tString text;
        return stmt->FieldAsString(text, 0).GetText();
    }
    std::string Value(const std::string& sql) { return Value(*conn, sql); }

    // The first column of every row as text.
    std::vector<std::string> Values(const std::string& sql) {
        std::vector<std::string> values;
        std::unique_ptr<tStatement> stmt(conn->NewStatement());
        EXPECT_TRUE(stmt->ExecDirect(sql.c_str(), "test", 1)) << sql;
        tString text;
        while (stmt->Fetch()) values.push_back(stmt->FieldAsString(text, 0).GetText());
        return values;
    }

    // The SQL texts that the connection ran under the routine, in order, from the trace (error
    // texts traced under the same routine are left out).
    std::vector<std::string> Ran(const std::string& routine) const {
        std::vector<std::string> texts;
        for (const auto& entry : session.traces) {
            if (entry.label != routine) continue;
            if (entry.text.rfind("GML Error ", 0) == 0 || entry.text.rfind("Error : ", 0) == 0) {
                continue;
            }
            texts.push_back(entry.text);
        }
        return texts;
    }

    std::string LastError() const {
        tString text;
        conn->GetLastErrorInfo(text);
        return text.GetText();
    }

    TestDBProcess process;
    TestSession session;
    ConsoleCapture console;
    TempDir dir;
    std::string dsn;
    std::string sharedIni;
    bool created = false;
    std::unique_ptr<tMySQLConnection> admin;
    std::unique_ptr<tMySQLConnection> conn;
    std::vector<std::unique_ptr<tMySQLConnection>> others;
};

}  // namespace gmtest
