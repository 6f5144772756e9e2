// The process globals: construction from the configuration, the connection counters with the
// idle clean of the table cache, the run-time switches, the environment registry and the
// process meters.
//
// Counter invariants (under the globals' lock):
//  (1) userConnections <= activeConnections <= peakConnections, as long as every DisconnectUser
//      matches a ConnectUser with the same flag; a surplus disconnect leaves the counts at 0.
//  (2) The environment registry holds at most one entry per name, compared without case, as
//      long as callers add only names that CheckEnvironment answered 0 for.
#include "server/runtime/globals.h"

#include <strings.h>

#include <atomic>
#include <cstdlib>
#include <ctime>

#include "lib_base/misc.h"
#include "lib_common/configcache.h"
#include "lib_common/pdhquery.h"
#include "server/locks/recordlockserver.h"
#include "server/locks/virtuallockserver.h"
#include "server/runtime/consolelog.h"
#include "server/runtime/diagnostics.h"
#include "server/runtime/gmlthreads.h"
#include "server/runtime/namedlock.h"
#include "server/tables/dbtable.h"

namespace {

constexpr i32 kNamedLockCapacity = 1024;

// The processor-time counter of all processors, under the names the system may give it.
const char* const kProcessorCounterPaths[] = {
    "\\Processador(_Total)\\% tempo de processador",
    "\\Procesador(_Total)\\% de tiempo de procesador",
    "\\Processor(_Total)\\% Processor Time",
};

std::atomic<tGMLGlobals*> published{nullptr};

}  // namespace

f64 GetYearSeconds() {
    std::tm local{};
    LocalTimeOf(CurrentTime(), local);
    return static_cast<f64>(local.tm_yday) * 86400.0 + local.tm_hour * 3600.0 +
           local.tm_min * 60.0 + local.tm_sec;
}

tGMLGlobals* Globals() { return published.load(); }

void PublishGlobals(tGMLGlobals* globals) { published.store(globals); }

tGMLGlobals::tGMLGlobals(const char* iniPath)
    : tRWLock("tGMLGlobals"),
      tableCache(new tTableCache()),
      config(new tConfigCache(iniPath)),
      threads(new tGmlThreads()),
      namedLocks(new tNamedLock()) {
    namedLocks->SetCapacity(kNamedLockCapacity);
    threadInfo = config->GetBool("General", "ThreadInfo", 0);
    glbProfiler = config->GetBool("General", "GlbProfiler", 0);
    logFull = config->GetBool("General", "LogFull", 0);
    const i32 limit = config->GetInt("General", "MemLimit", 0);
    memLimit = limit > 0 ? static_cast<u32>(limit) : 0;
    tString timer;
    config->GetString("General", "RWTimer", "", timer);
    if (timer.GetLength() > 0)
        ConsolePrintf("[RWLOCK] Using RWLock Timer set to %.3f\n", std::atof(timer));
    lastDisconnect = GetYearSeconds();
}

tGMLGlobals::~tGMLGlobals() {
    virtualLockServer.reset();
    recordLockServer.reset();
    tableCache->Clean("~tGMLGlobals");
    tableCache.reset();
    config.reset();
    namedLocks.reset();
    threads.reset();
    processorQuery.reset();
}

void tGMLGlobals::CreateLockServers() {
    virtualLockServer.reset(new tVirtualLockServer());
    recordLockServer.reset(new tRecordLockServer());
}

u32 tGMLGlobals::GetServerMode() const { return server ? server->GetMode() : kModeStandalone; }

u32 tGMLGlobals::GetActiveConnections() {
    tReading hold(this, __FILE__, __LINE__);
    return activeConnections;
}

u32 tGMLGlobals::GetUserConnections() {
    tReading hold(this, __FILE__, __LINE__);
    return userConnections;
}

u32 tGMLGlobals::GetPeakConnections() {
    tReading hold(this, __FILE__, __LINE__);
    return peakConnections;
}

void tGMLGlobals::ConnectUser(bool user) {
    tWriting hold(this, __FILE__, __LINE__);
    if (activeConnections == 0 && GetYearSeconds() - lastDisconnect > kIdleCleanSeconds) {
        tableCache->Clean("ConnectUser");
        cleanCacheOnIdle = 0;
    }
    ++activeConnections;
    if (activeConnections > peakConnections) peakConnections = activeConnections;
    if (user) ++userConnections;
}

void tGMLGlobals::DisconnectUser(bool user) {
    tWriting hold(this, __FILE__, __LINE__);
    if (user && userConnections > 0) --userConnections;
    if (activeConnections > 0) --activeConnections;
    if (activeConnections == 0 && cleanCacheOnIdle) {
        tableCache->Clean("DisconnectUser");
        cleanCacheOnIdle = 0;
    }
    lastDisconnect = GetYearSeconds();
}

void tGMLGlobals::SetCleanCacheOnIdle() {
    tWriting hold(this, __FILE__, __LINE__);
    cleanCacheOnIdle = 1;
}

void tGMLGlobals::SetConnectionsEnabled(bool enabled) {
    tWriting hold(this, __FILE__, __LINE__);
    connectionsEnabled.store(enabled ? 1 : 0);
    if (enabled) {
        ConsolePrintf(
            "\n********************************\n*** Connections are enabled. *** \n"
            "********************************\n");
    } else {
        ConsolePrintf(
            "\n***********************************\n*** Connections are disabled!!! *** \n"
            "***********************************\n");
    }
}

bool tGMLGlobals::IndexTraceChanged(bool set) {
    tWriting hold(this, __FILE__, __LINE__);
    if (set) {
        indexTrace = 1;
        environments.clear();
    }
    return indexTrace != 0;
}

i32 tGMLGlobals::CheckEnvironment(const char* name, const char* database, tString& message) {
    tReading hold(this, __FILE__, __LINE__);
    for (const tEnvironment& env : environments) {
        if (strcasecmp(env.name, name) != 0) continue;
        if (strcasecmp(env.database, database) == 0) return 1;
        message.sprintf(
            "[ERROR] DOUBLE ENVIRONMENT NAME CONFIG ERROR. The same connection name (%s) used "
            "with two different databases (%s AND %s) are not supported. Reconfigure one of those "
            "connections using a different unique name.",
            name, env.database.GetText(), database);
        return 2;
    }
    return 0;
}

void tGMLGlobals::AddEnvironment(const char* name, const char* database, const char* report) {
    tWriting hold(this, __FILE__, __LINE__);
    environments.push_back(tEnvironment{tString(name), tString(database), tString(report)});
}

void tGMLGlobals::GetEnvironmentReports(tString& out) {
    tReading hold(this, __FILE__, __LINE__);
    for (const tEnvironment& env : environments) {
        out += env.report;
        out += "\n";
    }
}

// Without a readable process the memory meters stay off; without a processor counter the
// processor meter stays off and reads 0, while the memory meters keep working.
void tGMLGlobals::InitProcessCounters() {
    tWriting hold(this, __FILE__, __LINE__);
    plat::ProcessMemory sample;
    processMeter = GetMemorySource().ReadProcess(sample);
    if (!processMeter) return;
    processorQuery.reset(new tPdhQuery());
    processorCounter = -1;
    if (processorQuery->Open()) {
        for (const char* path : kProcessorCounterPaths) {
            processorCounter = processorQuery->AddCounter(path);
            if (processorCounter >= 0) break;
        }
    }
    processorMeter = processorCounter >= 0;
}

f64 tGMLGlobals::GetProcessMemory() {
    tReading hold(this, __FILE__, __LINE__);
    plat::ProcessMemory sample;
    if (!processMeter || !GetMemorySource().ReadProcess(sample)) return 0;
    processMemory =
        sample.workingSet > sample.privateBytes ? sample.workingSet : sample.privateBytes;
    return static_cast<f64>(processMemory >> 10);
}

f64 tGMLGlobals::GetVirtualMemory() {
    tReading hold(this, __FILE__, __LINE__);
    plat::SystemMemory sample;
    if (!processMeter || !GetMemorySource().ReadSystem(sample)) return 0;
    if (sample.virtualFree >= sample.virtualTotal) return 0;
    return static_cast<f64>((sample.virtualTotal - sample.virtualFree) / 1024);
}

f64 tGMLGlobals::GetCpuUsage() {
    tReading hold(this, __FILE__, __LINE__);
    if (!processorMeter || !processorQuery->Collect()) return 0;
    const i32 value = processorQuery->GetValue(processorCounter);
    return value < 0 ? 0 : static_cast<f64>(value);
}
