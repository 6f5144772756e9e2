// The test process services: an ini of the test's own and a log kept in memory.
#include "tests/server/support/testprocess.h"

#include <gtest/gtest.h>

namespace gmtest {

TestDBProcess::TestDBProcess() {
    const std::string ini = dir.File("gatemill.ini");
    WriteFileText(ini, "[General]\r\n");
    config = std::make_unique<tConfigCache>(ini.c_str());
    SetDBProcess(this);
}

TestDBProcess::~TestDBProcess() { SetDBProcess(nullptr); }

bool TestDBProcess::WriteLog(const char* text) {
    std::lock_guard<std::mutex> hold(logLock);
    log.emplace_back(text);
    return true;
}

void TestDBProcess::SetIni(const char* section, const char* key, const char* value) {
    ASSERT_TRUE(config->WriteString(section, key, value)) << section << " " << key;
}

std::vector<std::string> TestDBProcess::LogEntries() const {
    std::lock_guard<std::mutex> hold(logLock);
    return log;
}

void TestDBProcess::ClearLog() {
    std::lock_guard<std::mutex> hold(logLock);
    log.clear();
}

}  // namespace gmtest
