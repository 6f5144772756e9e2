// The process services of the database side for tests: a configuration cache over an ini file
// of the test's own, a log that keeps its entries, and the full-log switch.
#pragma once
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "lib_common/configcache.h"
#include "server/isam/dbprocess.h"
#include "tests/support/tempdir.h"

namespace gmtest {

// Installs itself for its lifetime (one at a time). Any thread may log.
class TestDBProcess : public tDBProcess {
public:
    TestDBProcess();
    ~TestDBProcess() override;

    tConfigCache& GetConfig() override { return *config; }
    bool GetLogFull() override { return logFull.load(); }
    bool WriteLog(const char* text) override;

    // Writes the value into the ini file; the cache sees it at once.
    void SetIni(const char* section, const char* key, const char* value);
    std::vector<std::string> LogEntries() const;
    void ClearLog();

    std::atomic<bool> logFull{false};

private:
    TempDir dir;
    std::unique_ptr<tConfigCache> config;
    mutable std::mutex logLock;
    std::vector<std::string> log;  // guarded by logLock
};

}  // namespace gmtest
