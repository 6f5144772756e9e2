// The test process services: an ini and a log file of the test's own.
#include "tests/server/support/testprocess.h"

#include <gtest/gtest.h>

#include "lib_common/logwriter.h"
#include "server/drivers/odbc_entry.h"
#include "tests/server/support/odbctargets.h"

namespace gmtest {

TestDBProcess::TestDBProcess()
    : logPath(dir.File("gatemill.log")), previousLogPath(GetLogPath().GetText()) {
    const std::string ini = dir.File("gatemill.ini");
    WriteFileText(ini, "[General]\r\n");
    config = std::make_unique<tConfigCache>(ini.c_str());
    SetLogPath(logPath.c_str());
    SetDBProcess(this);
}

TestDBProcess::~TestDBProcess() {
    ForgetProcessODBCLibrary();
    SetDBProcess(nullptr);
    SetLogPath(previousLogPath.c_str());
}

void ForgetProcessODBCLibrary() {
    KeepDriverManagerLoaded();
    ODBCLibrary().Unload();
}

void TestDBProcess::SetIni(const char* section, const char* key, const char* value) {
    ASSERT_TRUE(config->WriteString(section, key, value)) << section << " " << key;
}

namespace {

// Whether text holds the log writer's prefix "dd/mm/yyyy hh:mm:ss : " at pos.
bool IsDatePrefix(const std::string& text, size_t pos) {
    static const char kShape[] = "99/99/9999 99:99:99 : ";
    const size_t n = sizeof kShape - 1;
    if (text.size() - pos < n) return false;
    for (size_t i = 0; i < n; ++i) {
        const char c = text[pos + i];
        if (kShape[i] == '9' ? (c < '0' || c > '9') : c != kShape[i]) return false;
    }
    return true;
}

}  // namespace

std::vector<std::string> TestDBProcess::LogEntries() const { return ReadLogEntries(logPath); }

std::vector<std::string> ReadLogEntries(const std::string& path) {
    const std::string text = ReadFileText(path);
    const size_t prefixLength = 22;
    std::vector<size_t> starts;  // each entry: prefix, message, "\n"
    for (size_t pos = 0; pos < text.size();) {
        if (IsDatePrefix(text, pos)) starts.push_back(pos);
        const size_t lineEnd = text.find('\n', pos);
        if (lineEnd == std::string::npos) break;
        pos = lineEnd + 1;
    }
    std::vector<std::string> entries;
    for (size_t i = 0; i < starts.size(); ++i) {
        const size_t stop = i + 1 < starts.size() ? starts[i + 1] : text.size();
        const size_t from = starts[i] + prefixLength;
        entries.push_back(text.substr(from, stop - from - 1));
    }
    return entries;
}

void TestDBProcess::ClearLog() { WriteFileText(logPath, ""); }

std::string WithoutLogEcho(const std::string& console) {
    static const std::string kBegin = "[BEGINLOG]\n";
    static const std::string kEnd = "\n[ENDLOG]\n";
    std::string out;
    size_t pos = 0;
    for (size_t at; (at = console.find(kBegin, pos)) != std::string::npos;) {
        const size_t end = console.find(kEnd, at + kBegin.size() - 1);
        if (end == std::string::npos) break;
        out += console.substr(pos, at - pos);
        pos = end + kEnd.size();
    }
    return out + console.substr(pos);
}

}  // namespace gmtest
