// The server's listener and its pool of worker threads: tGMLServer keeps enough tWThread
// workers waiting in accept on its listening socket; each worker serves the one connection it
// accepted (see AcceptConnection) and ends, and the listener's next pass tops the pool up.
#pragma once
#include "lib_base/critsec.h"
#include "lib_base/sockserver.h"
#include "lib_base/stringz.h"
#include "lib_base/types.h"
#include "server/runtime/globals.h"

class tThreadList;

// How the workers wait; tests shorten it. Set before the first worker starts.
struct tWorkerPacing {
    i32 firstAcceptSeconds = 0;    // 0: a worker's first accept blocks until a connection comes
    i32 pollSeconds = 2;           // the wait of every later accept, added to the idle time
    i32 extraIdleSeconds = 180;    // idle time after which an extra worker ends
    i32 connectTimeoutMs = 30000;  // receive time-out of a new connection's connect packet
};

// The listening server. The listener thread runs the pool adjustment once a round (OnAccept) and
// the maintenance about every 30 s; nothing else runs either. Pool limits are guarded by the
// process's pool lock.
class tGMLServer : public tSockServer, public tListeningServer {
public:
    static constexpr i32 kDefaultThreadMin = 10;
    static constexpr i32 kDefaultThreadInc = 5;
    static constexpr i32 kDefaultThreadMax = 1000;

    // threads: the process thread list (not owned), which also lists the workers; mode: one of
    // the kMode values. The limits stay 0 until LoadThreadLimits.
    tGMLServer(tThreadList* threads, u32 mode, bool autoDelete);

    void SetWorkerPacing(const tWorkerPacing& pacing);  // before workers start
    const tWorkerPacing& GetWorkerPacing() const { return workerPacing; }
    u32 GetMode() const override { return mode; }
    void RequestShutdown() override;  // sets the process stop event
    u8 GetOSVersionCode();

    const char* GetClassName() override { return "tGMLServer"; }
    tString GetClientComputer() override { return tString("THIS"); }
    tString GetClientUser() override { return tString("SockServer"); }

    // Reads [General] ThreadMin, ThreadInc and ThreadMax from the published globals'
    // configuration and copies their ThreadInfo flag.
    void LoadThreadLimits();
    // One pass of the pool: starts workers up to ThreadMin, else enough extra workers to keep
    // ThreadInc waiting, never more than ThreadMax in all.
    void AdjustThreadPool();
    // Unless the thread list is shutting down: the profiler's reports when GlbProfiler is on,
    // then the configuration is read again from the file, and the limits with it.
    void Maintenance();

protected:
    void OnAccept() override { AdjustThreadPool(); }
    void OnMaintenance() override { Maintenance(); }

private:
    void StartWorkers(i32 count, i32 idleLimit, const char* failure);

    // Constant after construction; the pacing is set before workers start.
    tThreadList* const threadList;
    const u32 mode;
    tWorkerPacing workerPacing;
    // Guarded by the pool lock.
    i32 threadMin = 0;
    i32 threadInc = 0;
    i32 threadMax = 0;
    u8 threadInfo = 0;
    u8 infoPending = 0;
};

// A pooled worker: it counts itself in its server's thread count from its creation to its end,
// accepts one connection on the server's listening socket (blocking at first, then polling),
// serves it on its own thread and ends; a worker with an idle limit also ends after that many
// idle seconds. It deletes itself when its body ends. Once created it reaches its server only as
// the listener (tSockServer), whose destructor waits for it.
class tWThread : public tWThreadBase {
public:
    // threads: the process thread list (not owned); server: not owned, it outlives its workers;
    // its worker pacing is copied. idleLimit: seconds, 0 for none.
    tWThread(tThreadList* threads, tGMLServer* server, i32 idleLimit);
    ~tWThread() override = default;

    i32 Execute() override;
    const tWorkerPacing& GetPacing() const { return pacing; }
    // Held while the connection is set up or ended; the monitor's kill request holds it while it
    // reaches the connection, so that the connection cannot be deleted meanwhile.
    tCriticalSection& GetConnectionLock() { return connectionLock; }
    // Acceptance sets and clears the connection, holding the connection lock.
    using tWThreadBase::HoldConnection;

private:
    // Constant after construction.
    const tWorkerPacing pacing;
    const i32 idleLimit;
    // Counts the worker in from its creation, so that the pool's next pass never misses a
    // worker that has started but not yet reached its body.
    tThreadCountGuard counted;
};
