// The recording driver's control functions, looked up by name.
#include "tests/server/support/recodbc_control.h"

#include <cstring>
#include <sstream>
#include <stdexcept>

namespace gmtest {

RecordingDriver::RecordingDriver() {
    if (!lib.Open(GM_RECODBC_PATH)) throw std::runtime_error(lib.GetError());
    Resolve(Reset, "RecOdbcReset");
    Resolve(AddResult, "RecOdbcAddResult");
    Resolve(AddColumn, "RecOdbcAddColumn");
    Resolve(AddRow, "RecOdbcAddRow");
    Resolve(AddValue, "RecOdbcAddValue");
    Resolve(AddValueBytes, "RecOdbcAddValueBytes");
    Resolve(SetOutput, "RecOdbcSetOutput");
    Resolve(FailNext, "RecOdbcFailNext");
    Resolve(WarnNext, "RecOdbcWarnNext");
    Resolve(NoRowsNext, "RecOdbcNoRowsNext");
    Resolve(SetInfoText, "RecOdbcSetInfoText");
    Resolve(Pending, "RecOdbcPendingScripts");
    Resolve(ClearLog, "RecOdbcClearLog");
    Resolve(Calls, "RecOdbcCalls");
    Resolve(Statements, "RecOdbcStatements");
    Resolve(LogCount, "RecOdbcLogCount");
    Resolve(LogEntry, "RecOdbcLogEntry");
}

template <class F>
void RecordingDriver::Resolve(F& f, const char* name) {
    void* address = lib.Find(name);
    if (!address) throw std::runtime_error(std::string("recording driver lacks ") + name);
    std::memcpy(&f, &address, sizeof address);
}

std::vector<std::string> RecordingDriver::CallLines() const {
    std::vector<std::string> lines;
    std::istringstream in(Calls());
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

int RecordingDriver::CountCalls(const std::string& name) const {
    int n = 0;
    for (const std::string& line : CallLines()) {
        if (line.compare(0, name.size() + 1, name + "(") == 0) ++n;
    }
    return n;
}

std::vector<RecOdbcParam> RecordingDriver::LastExecutedParams() const {
    for (int i = LogCount() - 1; i >= 0; --i) {
        RecOdbcEntry e{};
        if (LogEntry(i, &e) == 0 && e.executed) {
            return std::vector<RecOdbcParam>(e.param, e.param + e.paramCount);
        }
    }
    return {};
}

}  // namespace gmtest
