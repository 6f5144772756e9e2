// The test session: trace entries split at line feeds as a session trace keeps them.
#include "tests/server/support/testsession.h"

#include "lib_base/stringz.h"

namespace gmtest {

void TestSession::Trace(const char* label, f64 elapsed, const char* text) {
    std::string rest = text;
    std::string lineLabel = label;
    for (;;) {
        const size_t end = rest.find('\n');
        traces.push_back({lineLabel, elapsed, rest.substr(0, end)});
        if (end == std::string::npos || end + 1 == rest.size()) return;
        rest.erase(0, end + 1);
        lineLabel = "...";
        elapsed = 0.0;
    }
}

void TestSession::DescribeThread(tString& text, bool withStatement) {
    text += stateLine.c_str();
    if (withStatement) {
        text += "Last/Run Stmt [";
        text += lastStatement.c_str();
        text += "]\t";
    }
}

void TestSession::SetLastStatement(const char* routine, const char* sql) {
    lastStatement = std::string(routine) + " - " + sql;
}

i16 TestSession::WriteAudit(const char* action, const char* table, f64 recno, const char* detail1,
                            const char* detail2, const char* extra) {
    audits.push_back(
        {action, table, recno, detail1, detail2, extra ? extra : "", extra != nullptr});
    return auditResult;
}

}  // namespace gmtest
