// Server start and stop. The listening servers that StartServer makes are kept here, one for
// each set of globals, until EndServer; the globals only point to theirs.
#include "server/process/pellmar.h"

#include <cstdlib>
#include <memory>
#include <vector>

#include "lib_base/critsec.h"
#include "lib_base/gmlassert.h"
#include "lib_base/stringz.h"
#include "lib_common/configcache.h"
#include "lib_common/logwriter.h"
#include "platform/procinfo.h"
#include "platform/thread_id.h"
#include "server/dispatch/dbserver.h"
#include "server/process/dbservices.h"
#include "server/process/gmlserver.h"
#include "server/process/lockconn.h"
#include "server/process/monitor.h"
#include "server/runtime/appsummary.h"
#include "server/runtime/consolelog.h"
#include "server/runtime/diagnostics.h"
#include "server/runtime/globals.h"

namespace {

// Read by the Oracle client of the drivers.
constexpr const char* kNlsLang = "BRAZILIAN PORTUGUESE_BRAZIL.WE8MSWIN1252";

struct tModeName {
    const char* name;
    u32 mode;
};
const tModeName kModes[] = {
    {"STANDALONE", kModeStandalone}, {"MASTER", kModeMaster}, {"SLAVE", kModeSlave}};

struct tStartedServer {
    tGMLGlobals* globals;  // not owned
    std::unique_ptr<tGMLServer> server;
    bool started;  // its thread was started, so it must end before deletion
};

struct tServerRegistry {
    tCriticalSection lock;
    // Guarded by lock.
    tListenerPacing pacing;
    std::vector<tStartedServer> servers;
};

tServerRegistry& Registry() {
    static tServerRegistry* const registry = new tServerRegistry;  // never destroyed
    return *registry;
}

// The [GENERAL] MODE key with blanks trimmed, compared with case; text keeps the trimmed value.
u32 ReadMode(tConfigCache& config, tString& text) {
    config.GetString("GENERAL", "MODE", "STANDALONE", text);
    text.Trim();
    for (const tModeName& m : kModes) {
        if (CompareText(text, m.name) == 0) return m.mode;
    }
    ConsolePrintf("[WARNING] Invalid Mode [%s]. Using default STANDALONE MODE.\n", text.GetText());
    return kModeStandalone;
}

void WriteStartLine(const tString& modeText) {
    tString line(kDefaultDisplayName);
    line += " Started - Build ";
    line += kBuildNumber;
    line += " - ";
    line += modeText;
    line += "\nMultiDB Version - Windows [DEBUG]";
    WriteLog(line, 0);
}

// The thread and process ids, the memory report and the operating-system report.
void PrintStartReports(tGMLGlobals& globals) {
    ConsolePrintf("Main Application Thread .. [%ld] PID [%u]\n",
                  static_cast<long>(plat::CurrentThreadId()), plat::ProcessId());
    tString memory;
    CheckMemoryStatus(memory);
    ConsolePrintf("%s", memory.GetText());
    tString& os = globals.GetOSReport();
    GMLCheckOS(os);
    ConsolePrintf("%s", os.GetText());
    tString check;
    CheckOS(check);  // every system that runs this program passes
}

tGMLServer* KeepServer(tGMLGlobals* globals, std::unique_ptr<tGMLServer> server) {
    tServerRegistry& registry = Registry();
    tWaiting hold(&registry.lock, __FILE__, __LINE__);
    server->SetPacing(registry.pacing);
    tGMLServer* kept = server.get();
    registry.servers.push_back(tStartedServer{globals, std::move(server), false});
    return kept;
}

void MarkStarted(tGMLServer* server) {
    tServerRegistry& registry = Registry();
    tWaiting hold(&registry.lock, __FILE__, __LINE__);
    for (tStartedServer& s : registry.servers) {
        if (s.server.get() == server) s.started = true;
    }
}

}  // namespace

void SetListenerPacing(const tListenerPacing& pacing) {
    tServerRegistry& registry = Registry();
    tWaiting hold(&registry.lock, __FILE__, __LINE__);
    registry.pacing = pacing;
}

bool StartServer(tGMLGlobals* globals, i32 port) {
    GML_ASSERT(globals != nullptr, "StartServer - no process globals");
    if (setenv("NLS_LANG", kNlsLang, 1) != 0) {
        ConsolePrintf("[WARNING] SET NLS_LANG ENVIRONMENT VARIABLE FAILED.\n");
    }
    tConfigCache& config = *globals->GetConfig();
    tString modeText;
    const u32 mode = ReadMode(config, modeText);
    tGMLServer* server =
        KeepServer(globals, std::make_unique<tGMLServer>(globals->GetThreadList(), mode, false));
    globals->SetServer(server);
    server->LoadThreadLimits();
    if (port == kDefaultPort) port = config.GetInt("General", "Port", kDefaultPort);
    WriteStartLine(modeText);
    globals->InitProcessCounters();
    PrintStartReports(*globals);
    if (!server->Listen(port)) {
        tString line;
        line.sprintf("Failed to connect to port %d - Unable to Start Service.\n", port);
        WriteLog(line, 0);
        return false;
    }
    ConsolePrintf("Listening port %d %s\n", port, port == kDefaultPort ? "(default)" : "");
    // The connection makers and the lock servers exist before the first worker can accept.
    RegisterClientConnections();
    RegisterMonitorConnections();
    RegisterLockConnections();
    globals->CreateLockServers();
    MarkStarted(server);
    server->Start(1);
    return true;
}

void ShutdownReport(tGMLGlobals* globals) {
    GML_ASSERT(globals != nullptr, "ShutdownReport - no process globals");
    tString line;
    line.sprintf("[SHUTDOWN] %s...\n", kDefaultDisplayName);
    WriteLog(line, 0);
    tString report;
    CheckMemoryStatus(report);
    ApplicationSummary(report, false, false);
    ConsolePrintf("%s", report.GetText());
}

void EndServer(tGMLGlobals* globals) {
    tStartedServer ending{nullptr, nullptr, false};
    {
        tServerRegistry& registry = Registry();
        tWaiting hold(&registry.lock, __FILE__, __LINE__);
        for (auto it = registry.servers.begin(); it != registry.servers.end(); ++it) {
            if (it->globals != globals) continue;
            ending = std::move(*it);
            registry.servers.erase(it);
            break;
        }
    }
    if (!ending.server) return;
    if (globals->GetServer() == ending.server.get()) globals->SetServer(nullptr);
    if (ending.started) {
        ending.server->Terminate(0);
        ending.server->WaitEnd();
    }
    ending.server.reset();  // waits for the workers that still point to it
}
