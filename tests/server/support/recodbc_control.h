// The recording ODBC driver's control functions for the server's tests, resolved from the same
// library instance that the ODBC loader binds (GM_RECODBC_PATH), and a view of its call log.
#pragma once
#include <string>
#include <vector>

#include "platform/shared_library.h"
#include "tests/recodbc/recodbc.h"

namespace gmtest {

// Loading it never unloads the driver: its scripts and log outlive this object.
class RecordingDriver {
public:
    RecordingDriver();  // throws std::runtime_error when the library or a function is missing

    decltype(&RecOdbcReset) Reset;
    decltype(&RecOdbcAddResult) AddResult;
    decltype(&RecOdbcAddColumn) AddColumn;
    decltype(&RecOdbcAddRow) AddRow;
    decltype(&RecOdbcAddValue) AddValue;
    decltype(&RecOdbcAddValueBytes) AddValueBytes;
    decltype(&RecOdbcSetOutput) SetOutput;
    decltype(&RecOdbcFailNext) FailNext;
    decltype(&RecOdbcWarnNext) WarnNext;
    decltype(&RecOdbcNoRowsNext) NoRowsNext;
    decltype(&RecOdbcSetInfoText) SetInfoText;
    decltype(&RecOdbcPendingScripts) Pending;
    decltype(&RecOdbcClearLog) ClearLog;
    decltype(&RecOdbcCalls) Calls;
    decltype(&RecOdbcStatements) Statements;
    decltype(&RecOdbcLogCount) LogCount;
    decltype(&RecOdbcLogEntry) LogEntry;

    // The logged calls, one "SQLName(args)=rc" line each.
    std::vector<std::string> CallLines() const;
    // How many logged calls went to the named entry point.
    int CountCalls(const std::string& name) const;
    // The parameters of the last logged execution (the call that ran a statement); empty when
    // none ran. Valid until the log changes.
    std::vector<RecOdbcParam> LastExecutedParams() const;

private:
    template <class F>
    void Resolve(F& f, const char* name);
    plat::SharedLibrary lib;
};

}  // namespace gmtest
