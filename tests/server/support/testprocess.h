// The process services of the database side for tests: a configuration cache over an ini file
// of the test's own, the full-log switch, and the server's log written into the same directory.
#pragma once
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "lib_common/configcache.h"
#include "server/isam/dbprocess.h"
#include "server/tables/dbtable.h"
#include "tests/support/tempdir.h"

namespace gmtest {

// Installs itself, and points the log writer at its own log file, for its lifetime (one at a
// time).
class TestDBProcess : public tDBProcess {
public:
    TestDBProcess();
    ~TestDBProcess() override;

    tConfigCache& GetConfig() override { return *config; }
    bool GetLogFull() override { return logFull.load(); }
    tTableCache& GetTableCache() override { return tableCache; }
    bool GetThreadInfo() override { return threadInfo.load(); }
    bool IsIndexTraceChanged() override { return indexTraceChanged.load(); }

    // Writes the value into the ini file; the cache sees it at once.
    void SetIni(const char* section, const char* key, const char* value);
    // The messages written to the log so far, without their date prefixes (a message may hold
    // line feeds).
    std::vector<std::string> LogEntries() const;
    void ClearLog();

    std::atomic<bool> logFull{false};
    std::atomic<bool> threadInfo{false};
    std::atomic<bool> indexTraceChanged{false};

private:
    TempDir dir;
    std::string logPath;
    std::string previousLogPath;
    std::unique_ptr<tConfigCache> config;
    tTableCache tableCache;
};

// Returns the process's ODBC loader to not loaded, so that the next test binds the library its
// own configuration names (the loader read the ending test's). The driver manager stays resident,
// as in the server, so that its own caches stay reachable. Called as process services end.
void ForgetProcessODBCLibrary();

// The messages of the log file at path, without their date prefixes (a message may hold line
// feeds); none when there is no such file.
std::vector<std::string> ReadLogEntries(const std::string& path);

// The console text without the log writer's echoes ("[BEGINLOG]\n...\n[ENDLOG]\n").
std::string WithoutLogEcho(const std::string& console);

}  // namespace gmtest
