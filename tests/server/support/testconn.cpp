// The test connection and its scripted statements.
#include "tests/server/support/testconn.h"

#include <cstdio>

namespace gmtest {

ScriptedStatement::ScriptedStatement(TestConnection* connection)
    : tStatement(connection), owner(*connection) {}

bool ScriptedStatement::ExecDirect(const char* sql, const char* routine, u8 report) {
    const size_t n = owner.executed.size();
    owner.executed.push_back(std::string(routine) + ": " + sql);
    fetched = false;
    scripted = false;
    if (owner.failingExecs.count(n) != 0) return false;
    for (auto it = owner.results.begin(); it != owner.results.end(); ++it) {
        if (std::string(sql).compare(0, it->sqlPrefix.size(), it->sqlPrefix) != 0) continue;
        result = *it;
        owner.results.erase(it);
        scripted = true;
        nextRow = 0;
        break;
    }
    return true;
}

bool ScriptedStatement::FetchScripted() {
    if (nextRow >= result.rows.size()) return false;
    row = result.rows[nextRow++];
    AllocColumns(static_cast<i16>(row.size()));
    columnCount = static_cast<i16>(row.size());
    for (size_t c = 0; c < row.size(); ++c) {
        tColumnDesc& column = GetColumns()[c];
        std::snprintf(column.name, sizeof column.name, "COL%zu", c);
        column.type = 'C';
        column.bufferLength = static_cast<i16>(row[c].size() + 1);
        column.returnedLength = static_cast<i64>(row[c].size());
        column.value.text = row[c].data();
    }
    return true;
}

bool ScriptedStatement::Fetch() {
    if (owner.fetchFails) return false;
    if (scripted) return FetchScripted();
    if (fetched) return false;
    fetched = true;
    AllocColumns(1);
    columnCount = 1;
    tColumnDesc& total = GetColumns()[0];
    std::snprintf(total.name, sizeof total.name, "TOTAL");
    total.type = 'N';
    total.returnedLength = 8;
    total.value.number = owner.count;
    return true;
}

void ScriptedStatement::Close() { ++owner.closes; }

i16 ScriptedStatement::SPExec(const char* name, const char* prefix, tArray<tDATAField>& inputs,
                              tArray<tDATAField>& outputs) {
    owner.executed.push_back("SPExec " + std::string(name) + " " + (prefix ? prefix : "(null)") +
                             " " + std::to_string(inputs.Count()) + " " +
                             std::to_string(outputs.Count()));
    return owner.spResult;
}

TestConnection::TestConnection(std::vector<std::string>* calls, const char* name,
                               const char* dbType, const char* alias)
    : tDBConnection(dbType, alias, "gm", "secret"), calls(calls), name(name) {}

TestConnection::~TestConnection() { Note("deleted"); }

bool TestConnection::Connect() {
    connected = 1;
    return true;
}

bool TestConnection::GetServerName(tString& out) {
    out = "TESTSERVER";
    return true;
}

i16 TestConnection::StrCmtCtl() {
    commitControl = 1;
    return 0;
}

i16 TestConnection::EndCmtCtl() {
    Note("EndCmtCtl");
    commitControl = 0;
    return 0;
}

i16 TestConnection::Rollback() {
    Note("Rollback");
    return tDBConnection::Rollback();
}

void TestConnection::Note(const std::string& call) {
    if (calls) calls->push_back(name + " " + call);
}

}  // namespace gmtest
