// The worker-thread pool: the listener's adjustment and maintenance, and the workers' accept loop.
//
// Pool:
//  (1) Only the listener thread adjusts the pool, under the pool lock; the limits change only
//      under that lock.
//  (2) A worker is in its server's thread count from its creation to its end, so a pass counts
//      every worker started by an earlier pass: with Starting, the pool never passes ThreadMin
//      through start-up workers nor ThreadMax through extra ones.
#include "server/process/gmlserver.h"

#include <memory>

#include "lib_base/gmlassert.h"
#include "lib_base/threads.h"
#include "lib_common/configcache.h"
#include "server/process/acceptance.h"
#include "server/process/win32start.h"
#include "server/runtime/appsummary.h"
#include "server/runtime/consolelog.h"
#include "server/runtime/diagnostics.h"
#include "server/runtime/globals.h"

namespace {

constexpr const char* kLimitsSection = "General";

// The process's pool lock. Never destroyed, like the console it prints to.
tCriticalSection& PoolLock() {
    static tCriticalSection* const lock = new tCriticalSection;
    return *lock;
}

tGMLGlobals& TheGlobals() {
    tGMLGlobals* globals = Globals();
    GML_ASSERT(globals != nullptr, "tGMLServer - no process globals");
    return *globals;
}

// The pool's figures at the start of a pass.
struct tPoolFigures {
    i32 count = 0;      // workers alive
    i32 available = 0;  // of those, not serving a connection
    i32 starting = 0;   // threads of the list started and not yet in their body
};

}  // namespace

tGMLServer::tGMLServer(tThreadList* threads, u32 mode, bool autoDelete)
    : tSockServer(threads, autoDelete), threadList(threads), mode(mode) {}

void tGMLServer::SetWorkerPacing(const tWorkerPacing& pacing) { workerPacing = pacing; }

u8 tGMLServer::GetOSVersionCode() { return ::GetOSVersionCode(); }

void tGMLServer::RequestShutdown() { SignalShutdown(); }

void tGMLServer::LoadThreadLimits() {
    tGMLGlobals& globals = TheGlobals();
    tConfigCache* config = globals.GetConfig();
    const i32 newMin = config->GetInt(kLimitsSection, "ThreadMin", kDefaultThreadMin);
    const i32 newInc = config->GetInt(kLimitsSection, "ThreadInc", kDefaultThreadInc);
    const i32 newMax = config->GetInt(kLimitsSection, "ThreadMax", kDefaultThreadMax);
    tWaiting hold(&PoolLock(), __FILE__, __LINE__);
    threadMin = newMin;
    threadInc = newInc;
    threadMax = newMax;
    threadInfo = globals.GetThreadInfo();
}

void tGMLServer::AdjustThreadPool() {
    tWaiting hold(&PoolLock(), __FILE__, __LINE__);
    tPoolFigures now;
    now.count = GetThreadCount();
    now.available = now.count - GetBusyCount();
    now.starting = threadList ? threadList->GetCount() : 0;
    if (infoPending && threadInfo) {
        ConsolePrintf("[INFO] Connection Threads Info - Available (%i) Count (%i) Starting (%i)\n",
                      now.available, now.count, now.starting);
        infoPending = 0;
    }
    if (now.starting > threadInc) {
        if (threadInfo) {
            ConsolePrintf(
                "[INFO] WAIT for Threads Starting - Available (%i) Count (%i) "
                "Starting (%i)\n",
                now.available, now.count, now.starting);
        }
        return;
    }
    if (now.count >= threadMax) {
        ConsolePrintf(
            "[WARNING] TOO MANY Connection Threads - Available (%i) Count (%i) "
            "Starting (%i)\n",
            now.available, now.count, now.starting);
        return;
    }
    if (now.count + now.starting < threadMin) {
        infoPending = 1;
        const i32 add = threadMin - now.count - now.starting;
        if (threadInfo) {
            ConsolePrintf("[INFO] Add %i Start Threads - Available (%i) Count (%i) Starting (%i)\n",
                          add, now.available, now.count, now.starting);
        }
        StartWorkers(add, 0, "[WARNING] Start Thread Resume FAILED...\n");
        return;
    }
    if (now.available + now.starting >= threadInc) return;
    infoPending = 1;
    i32 add = threadInc - now.available - now.starting;
    while (add > 0 && now.count + now.starting + add > threadMax) --add;
    if (add <= 0) return;
    if (threadInfo) {
        ConsolePrintf("[INFO] Add %i Extra Threads - Available (%i) Count (%i) Starting (%i)\n",
                      add, now.available, now.count, now.starting);
    }
    StartWorkers(add, workerPacing.extraIdleSeconds, "[WARNING] Extra Thread Resume FAILED...\n");
}

void tGMLServer::StartWorkers(i32 count, i32 idleLimit, const char* failure) {
    for (i32 i = 0; i < count; ++i) {
        auto worker = std::make_unique<tWThread>(threadList, this, idleLimit);
        if (!worker->Start(1)) {
            ConsolePrintf("%s", failure);
            continue;  // never started: deleted here
        }
        worker.release();  // started: the worker deletes itself when its body ends
    }
}

void tGMLServer::Maintenance() {
    if (IsShuttingDown()) return;
    tGMLGlobals& globals = TheGlobals();
    if (globals.GetGlbProfiler()) {
        tString memory;
        CheckMemoryStatus(memory);
        ConsolePrintf("%s", memory.GetText());
        tString summary;
        ApplicationSummary(summary, true, true);
        ConsolePrintf("%s", summary.GetText());
    }
    // The next reads see the file as it is now.
    globals.GetConfig()->Flush();
    LoadThreadLimits();
}

tWThread::tWThread(tThreadList* threads, tGMLServer* server, i32 idleLimit)
    : tWThreadBase(threads, server),
      pacing(server->GetWorkerPacing()),
      idleLimit(idleLimit),
      counted(server) {}

i32 tWThread::Execute() {
    tSockServer* server = GetServer();
    i32 waited = 0;
    while (!IsTerminated()) {
        if (idleLimit != 0 && waited >= idleLimit) break;
        tSocket* listening = server->GetListenSocket();
        // A listener that has ended gives no connection any more: its accepts fail at once.
        if (!listening || listening->IsRefusing()) break;
        std::unique_ptr<tSocket> socket =
            listening->AcceptCounted(waited == 0 ? pacing.firstAcceptSeconds : pacing.pollSeconds);
        if (!socket) {
            waited += pacing.pollSeconds;
            continue;
        }
        tBusyCountGuard busy(server);
        AcceptConnection(*this, std::move(socket));
        break;
    }
    return 0;
}
