// A connection and statement for tests of the database side's base classes: the statements run
// nothing but record what they are asked to run, and answer as the test scripts them.
#pragma once
#include <deque>
#include <set>
#include <string>
#include <vector>

#include "server/isam/dbconn.h"

namespace gmtest {

class TestConnection;

// Rows that an execution answers: the first scripted result whose prefix starts the executed
// text is taken (and used up). Each row holds one text per column; the columns read as
// character columns.
struct ScriptedResult {
    std::string sqlPrefix;
    std::vector<std::vector<std::string>> rows;
};

// Records each execution in its connection's log and answers from the connection's script.
class ScriptedStatement : public tStatement {
public:
    explicit ScriptedStatement(TestConnection* connection);
    bool ExecDirect(const char* sql, const char* routine, u8 report) override;
    // The scripted result's rows; without one, one row holding the connection's count, then no
    // more.
    bool Fetch() override;
    void Close() override;  // counted by the connection
    i16 SPExec(const char* name, const char* owner, tArray<tDATAField>& inputs,
               tArray<tDATAField>& outputs) override;

private:
    bool FetchScripted();

    TestConnection& owner;
    bool fetched = false;
    bool scripted = false;
    ScriptedResult result;
    size_t nextRow = 0;
    std::vector<std::string> row;  // the values the columns point into
};

// A connection that needs no database. Its calls (commit control, rollback, its destruction)
// are written to the log given to it, so that a test sees their order across connections.
class TestConnection : public tDBConnection {
public:
    explicit TestConnection(std::vector<std::string>* calls = nullptr, const char* name = "conn",
                            const char* dbType = "MSSQL", const char* alias = "PRODUCAO");
    ~TestConnection() override;

    bool Connect() override;
    bool GetServerName(tString& out) override;
    tStatement* NewStatement() override { return new ScriptedStatement(this); }
    i16 StrCmtCtl() override;
    i16 EndCmtCtl() override;
    i16 Rollback() override;
    f64 GetRecCount(const char* table) override { return recCount; }
    const char* GetOwner() override { return owner.empty() ? nullptr : owner.c_str(); }

    void SetLastError(const char* text) { lastError = text; }
    void Note(const std::string& call);

    // What it answers.
    f64 recCount = 0.0;
    f64 count = 0.0;                // the value a statement's row holds
    std::set<size_t> failingExecs;  // 0-based numbers of the executions that fail
    std::deque<ScriptedResult> results;
    bool fetchFails = false;
    i16 spResult = 0;
    std::string owner;
    // What it was asked: "routine: sql" per execution, "SPExec name owner inputs outputs".
    std::vector<std::string> executed;
    size_t closes = 0;  // statement Close calls

private:
    std::vector<std::string>* calls;
    std::string name;
};

}  // namespace gmtest
