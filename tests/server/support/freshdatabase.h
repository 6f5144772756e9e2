// A fresh database of the test's own on one of the private servers, reached through a data
// source of the same name: the catalogue tables of one test never meet another's. The servers'
// fixtures (pgdatabase.h, mariadatabase.h) say how their server makes, reaches and drops a
// database. Only the db test programs include this (it needs the private servers' settings).
#pragma once
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "server/isam/dbconn.h"
#include "server/tables/dbtable.h"
#include "tests/server/support/testprocess.h"
#include "tests/server/support/testsession.h"
#include "tests/support/gmtest.h"
#include "tests/support/tempdir.h"
#include "tests/support_db/db_env.h"

namespace gmtest {

// What a server's fixture tells the fresh database.
struct tDatabaseServer {
    std::string dbType;      // the connections' database type
    std::string namePrefix;  // of the database and its data source
    std::string sharedDsn;   // the server's own data source, for the administrator
    std::string user;        // the owner of the database
    std::string password;
    std::string createOptions;  // after "CREATE DATABASE <name>"
    std::string dropOptions;    // after "DROP DATABASE <name>"
    std::string dsnLines;       // the data source's lines after its name, "%DB%" for the name
};

// SetUp creates the database and a connection to it (connected, with the test session as its
// owner and the session's trace on, so that every statement run is kept in the trace); TearDown
// drops the database whatever happened.
template <class Connection>
class FreshDatabase : public ::testing::Test {
protected:
    virtual tDatabaseServer Server() const = 0;

    void SetUp() override {
        server = Server();
        ASSERT_FALSE(server.user.empty());
        static std::atomic<int> sequence{0};
        dsn = server.namePrefix + std::to_string(getpid()) + "_" + std::to_string(sequence++);
        admin = Connect(server.sharedDsn, server.user, server.password);
        ASSERT_TRUE(admin->IsConnected());
        ASSERT_TRUE(Run(*admin, "CREATE DATABASE " + dsn + server.createOptions));
        created = true;
        // The data source list of this test: the shared one and the new database.
        const char* shared = std::getenv("ODBCINI");
        ASSERT_NE(shared, nullptr);
        sharedIni = shared;
        std::string lines = server.dsnLines;
        const size_t at = lines.find("%DB%");
        if (at != std::string::npos) lines.replace(at, 4, dsn);
        WriteFileText(dir.File("odbc.ini"), ReadFileText(sharedIni) + "\n[" + dsn + "]\n" + lines);
        setenv("ODBCINI", dir.File("odbc.ini").c_str(), 1);
        conn = Connect(dsn, server.user, server.password);
        ASSERT_TRUE(conn->IsConnected());
        conn->SetDBServer(&session);
        tDBConnection::ForgetIndexTraceDefinition();
    }

    void TearDown() override {
        conn.reset();
        for (auto& other : others) other.reset();
        if (created) {
            EXPECT_TRUE(Run(*admin, "DROP DATABASE " + dsn + server.dropOptions));
        }
        admin.reset();
        if (!sharedIni.empty()) setenv("ODBCINI", sharedIni.c_str(), 1);
        tDBConnection::ForgetIndexTraceDefinition();
    }

    // A connection to a data source, connected when it can be.
    std::unique_ptr<Connection> Connect(const std::string& source, const std::string& user,
                                        const std::string& password) {
        auto c = std::make_unique<Connection>(server.dbType.c_str(), tString(source.c_str()),
                                              tString(user.c_str()), tString(password.c_str()));
        c->Connect();
        return c;
    }

    // Another connection to the test's database as the given user (the owner by default); it
    // lives until TearDown.
    Connection& Other(const std::string& user = "", const std::string& password = "") {
        others.push_back(Connect(dsn, user.empty() ? server.user : user,
                                 user.empty() ? server.password : password));
        return *others.back();
    }

    static bool Run(tDBConnection& c, const std::string& sql) {
        std::unique_ptr<tStatement> stmt(c.NewStatement());
        return stmt->ExecDirect(sql.c_str(), "test", 1);
    }
    bool Run(const std::string& sql) { return Run(*conn, sql); }

    // Checks the catalogue up, as a session's first connect does, then creates the table with
    // the connection's own CREATE TABLE.
    void CheckUpAndCreate(const tTableDefinition& table) {
        tString report;
        ASSERT_TRUE(conn->InitialCheckUp(report)) << report.GetText();
        tString create;
        conn->CreateTable(table, create);
        ASSERT_TRUE(Run(create.GetText()));
    }

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
    TempDir dir;
    tDatabaseServer server;
    std::string dsn;
    std::string sharedIni;
    bool created = false;
    std::unique_ptr<Connection> admin;
    std::unique_ptr<Connection> conn;
    std::vector<std::unique_ptr<Connection>> others;
};

}  // namespace gmtest
