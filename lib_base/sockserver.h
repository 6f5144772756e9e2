// The listening thread and the base of the worker threads that accept on its socket: the
// listener owns the listening socket and paces the server's steps; each worker accepts one
// connection itself and serves it.
#pragma once
#include <atomic>
#include <memory>

#include "lib_base/critsec.h"
#include "lib_base/sockconn.h"
#include "lib_base/sockets.h"
#include "lib_base/threads.h"
#include "lib_base/types.h"
#include "platform/event.h"

// Enters a critical section only when TryEnter lets it (a hint: see tCriticalSection), and
// leaves it at the end of the scope only when it entered.
class tTryWaiting {
public:
    explicit tTryWaiting(tCriticalSection* section);
    ~tTryWaiting();
    tTryWaiting(const tTryWaiting&) = delete;
    tTryWaiting& operator=(const tTryWaiting&) = delete;

    bool IsEntered() const { return section != nullptr; }  // false for a null or busy section

private:
    tCriticalSection* section;  // null when not entered
};

// How the listener paces itself; tests shorten the pauses.
struct tListenerPacing {
    i32 roundMs = 600;       // the pause that ends each round of the loop
    i32 bindAttempts = 30;   // binds tried before Listen gives up
    i32 bindPauseMs = 1000;  // the pause after a failed bind
};

// The listening thread. Listen binds the socket (before Start) and listens with the system's
// largest backlog, so that a burst of connections waits for the workers instead of being
// dropped. The body then runs rounds until terminated or the thread list shuts down: each round
// one accept step (OnAccept, never two at once), the step hook and a pause; the maintenance hook
// after kMaintenanceRounds rounds, then after every kMaintenanceRounds + 1 (about every 30 s).
// A worker that takes the last waiting slot wakes the pause for one more accept step at once,
// so the pool keeps up with a burst; the round goes on to its end. When the loop ends the listening
// socket is set to refuse and closed, which wakes every worker still inside an accept on it.
// Workers reach the server through the counters and the listening socket; the destructor waits
// until no worker is inside its body and every worker object pointing to it is gone, so the server
// outlives its workers.
class tSockServer : public tThread {
public:
    static constexpr i32 kDefaultLimit = 20;
    static constexpr i32 kMaxLimit = 32000;
    static constexpr i32 kMaintenanceRounds = 50;

    // threads: the process thread list (not owned; may be null in tests); autoDelete as tThread.
    tSockServer(tThreadList* threads, bool autoDelete);
    // Waits until no worker is in its body and no worker object points here any more (a worker
    // just started may not have counted itself in yet); then deletes the socket.
    ~tSockServer() override;

    void SetPacing(const tListenerPacing& pacing);  // before Listen and Start

    i32 GetThreadType() override { return kThreadTypeSockServer; }
    const char* GetClassName() override { return "tSockServer"; }
    i32 Execute() override;
    bool Disable() override;
    bool Enable() override;
    bool IsEnabled() override;
    void Terminate(u8 force) override;

    // Listens on port of every local address (Listen) or of one address or host name
    // (ListenAddr); 0 lets the system choose. Replaces an earlier listening socket. False when
    // the socket cannot be made, bound (after the pacing's attempts) or set listening.
    bool Listen(i32 port);
    bool ListenAddr(i32 port, const char* address);
    // The listening socket that workers accept on; null when not listening. Changed only by
    // Listen (before Start) and the destructor (after the workers).
    tSocket* GetListenSocket() const { return listening.get(); }

    // Runs OnAccept unless another accept step is inside it; true when this one ran it.
    bool RunAcceptStep();
    // Ends the listener's pause at once for an accept step (any thread).
    void WakeListener() { wake.Set(); }

    i32 SetLimit(i32 limit);  // 1..kMaxLimit: the limit; otherwise -1, unchanged
    i32 GetLimit() const { return limit.load(); }
    void SetPort(i32 newPort) { port = newPort; }
    i32 GetPort();         // the stored port; when that is 0, the port the listening socket got
    i32 GetThreadCount();  // workers inside their body
    i32 GetBusyCount();    // workers serving a connection

protected:
    // New sockets: an empty one (no handle), and those for Listen; a subclass may make its own
    // kind.
    virtual std::unique_ptr<tSocket> CreateSocket();
    virtual std::unique_ptr<tSocket> CreateSocketHost(i32 family, const char* host, i32 port,
                                                      i32 type);
    virtual std::unique_ptr<tSocket> CreateSocketAddr(i32 family, u32 address, i32 port, i32 type);

    // The accept step: on the listener thread once a round, or from RunAcceptStep.
    virtual void OnAccept() = 0;
    virtual void OnMaintenance() {}  // about every 30 s
    virtual void OnStep() {}         // every round

    bool IsShuttingDown();  // the thread list is shutting down

private:
    friend class tThreadCountGuard;
    friend class tBusyCountGuard;
    friend class tWThreadBase;

    bool ListenOn(std::unique_ptr<tSocket> socket, i32 port);
    void PauseRound();
    bool BindWithRetries(tSocket& socket, i32 port);
    void CountThread(i32 delta);
    void CountWorkerObject(i32 delta);
    void UpdateNoWorkers();
    void CountBusy(i32 delta);

    // Constant after construction; pacing set before Start.
    tThreadList* const threads;
    tListenerPacing pacing;
    std::atomic<i32> limit{kDefaultLimit};
    // Set before Start, read by any thread.
    i32 port = -1;
    std::unique_ptr<tSocket> listening;
    // Guarded by enableLock.
    tCriticalSection enableLock;
    bool enabled = true;
    // Guarded by countLock; noWorkers is set exactly while both worker counts are 0.
    tCriticalSection countLock;
    i32 threadCount = 0;
    i32 workerObjects = 0;  // tWThreadBase objects that point here, started or not
    i32 busyCount = 0;
    plat::ManualResetEvent noWorkers{true};
    // Set by a worker that took the last waiting slot, and by Terminate; reset by the listener.
    plat::ManualResetEvent wake;
    // Guarded by stepLock: accept steps inside OnAccept (0 or 1).
    tCriticalSection stepLock;
    i32 stepCount = 0;
};

// Counts a worker in the server's thread count for its life (a null server is ignored).
class tThreadCountGuard {
public:
    explicit tThreadCountGuard(tSockServer* server);
    ~tThreadCountGuard();
    tThreadCountGuard(const tThreadCountGuard&) = delete;
    tThreadCountGuard& operator=(const tThreadCountGuard&) = delete;

private:
    tSockServer* server;
};

// Counts a worker in the server's busy count for its life (a null server is ignored).
class tBusyCountGuard {
public:
    explicit tBusyCountGuard(tSockServer* server);
    ~tBusyCountGuard();
    tBusyCountGuard(const tBusyCountGuard&) = delete;
    tBusyCountGuard& operator=(const tBusyCountGuard&) = delete;

private:
    tSockServer* server;
};

// The base of the worker threads: a thread that serves one connection object at a time and
// answers the thread queries for it, so that the thread list and the monitor see the worker
// as the connection it serves.
// The connection is set and cleared under the connection lock, which queries and Terminate
// from other threads also take: they never meet a half-attached or deleted connection. The
// connection's own body runs on the worker without that lock.
class tWThreadBase : public tThread {
public:
    // threads: the process thread list (not owned); server: the listener the worker accepts
    // for (not owned; its destructor waits for this one's). The thread deletes itself when its
    // body ends.
    tWThreadBase(tThreadList* threads, tSockServer* server);
    ~tWThreadBase() override;  // deletes a connection still held

    i32 GetThreadType() override;
    void SetThreadType(i32 type);
    const char* GetClassName() override { return "WThread"; }
    i32 Execute() override { return 0; }
    bool CanKill() override;  // the kill-allowed flag, not the connection's answer
    void SetCanKill(u8 allowed);
    // Answered by the connection when one is held; else "" and true.
    tString GetClientComputer() override;
    tString GetClientUser() override;
    bool Done() override;
    // Passes the request on to the held connection with the same force, then stops itself.
    void Terminate(u8 force) override;

    tSockServer* GetServer() const { return server; }
    // The connection served now, null when idle; for the worker's own thread (other threads
    // use the queries above).
    tSockConn* GetConnection();

protected:
    // Holds connection from now on (null: none); an old one is deleted. The caller holds
    // connectionLock, so that it can attach and set up the new one in the same hold.
    void HoldConnection(std::unique_ptr<tSockConn> connection);
    tCriticalSection connectionLock;

private:
    tSockServer* const server;
    // Guarded by connectionLock.
    std::unique_ptr<tSockConn> connection;
    std::atomic<i32> threadType{kThreadTypeWThread};
    std::atomic<bool> canKill{false};
};
