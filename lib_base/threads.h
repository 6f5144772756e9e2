// Threads of the server: the event tSemaphore, the thread-like base tThreadBase, tThread that
// owns a real thread, and tThreadList, the process registry through which shutdown reaches
// every thread.
#pragma once
#include <atomic>
#include <functional>
#include <memory>

#include "lib_base/critsec.h"
#include "lib_base/stringz.h"
#include "lib_base/types.h"
#include "platform/event.h"

class tThreadList;
struct tThreadNode;

// Thread-type codes of the kinds this system creates.
constexpr i32 kThreadTypeThread = 0;
constexpr i32 kThreadTypeWThread = 1;  // a pooled worker that serves no connection yet
constexpr i32 kThreadTypeSockServer = 7;
constexpr i32 kThreadTypeMonitSockThread = 10;
constexpr i32 kThreadTypeGenServer = 24;  // a client connection, or another server's lock client

// "WThread" for 1; "*** UNKNOW ***" for the kinds this system never creates.
const char* ThreadTypeName(i32 type);

// A manual-reset event, created not set and never reset: once set, every wait returns at once.
// Any thread may set it or wait on it.
class tSemaphore {
public:
    tSemaphore() = default;
    virtual ~tSemaphore() = default;
    tSemaphore(const tSemaphore&) = delete;
    tSemaphore& operator=(const tSemaphore&) = delete;

    void Set() { event.Set(); }
    bool Wait(i32 ms) { return event.Wait(ms); }  // -1: without limit; true when set

private:
    plat::ManualResetEvent event;
};

// What every thread-like object has: the state flags and the operations that shutdown, the
// thread list and the monitor call. Flags are read from any thread. Terminate only asks: each
// body polls IsTerminated and returns.
class tThreadBase {
public:
    tThreadBase() = default;
    virtual ~tThreadBase() = default;
    tThreadBase(const tThreadBase&) = delete;
    tThreadBase& operator=(const tThreadBase&) = delete;

    u32 GetThreadId() const { return threadId.load(); }  // 0 before the body runs
    bool IsRunning() const { return running.load() && !terminated.load(); }
    bool IsKilled() const { return killed.load(); }
    // For an object whose body runs on a thread it does not own (a connection served by a
    // worker): takes that thread's id and counts as running from now on.
    void AdoptThread(u32 id);

    virtual bool IsTerminated() { return terminated.load(); }
    virtual i32 GetThreadType() = 0;
    virtual i32 Execute() = 0;  // the body
    virtual const char* GetClassName() = 0;
    virtual bool Disable() { return false; }
    virtual bool Enable() { return false; }
    virtual bool IsEnabled() { return false; }
    // Queries about the connection a thread serves; a thread class that serves one answers them.
    virtual bool CanKill() { return false; }  // whether the monitor may end it
    virtual tString GetClientComputer() { return tString(); }
    virtual tString GetClientUser() { return tString(); }
    // Sets the terminated flag; force sets the killed flag, which stays set.
    virtual void Terminate(u8 force);
    virtual bool Done() { return false; }  // the end of the thread's work; true when it did any

protected:
    void MarkTerminated() { terminated.store(true); }
    void MarkRunning() { running.store(true); }
    void SetThreadId(u32 id) { threadId.store(id); }

private:
    std::atomic<bool> running{false};
    std::atomic<bool> terminated{false};
    std::atomic<bool> killed{false};
    std::atomic<u32> threadId{0};
};

// Starts threads; tests replace it to make starts fail. Gives 0 or the start's error number.
using tThreadStarter = int (*)(void (*body)(void* arg), void* arg);
// Null restores the real one. Set before threads start.
void SetThreadStarter(tThreadStarter starter);

// A thread object that owns a detached operating-system thread running its body.
// Life: constructed (pending in its list) -> Start -> running (listed) -> terminated -> ended
// (left the list, end event set) -> deleted by its owner, or by itself when auto-delete.
// An auto-delete thread must not be touched after a Start in mode 0 returns: it may be gone.
// Delete any other started thread only after WaitEnd: the destructor waits for the body as a
// last resort, but the parts of a derived class are gone by then.
class tThread : public tThreadBase {
public:
    // With a list, the thread is counted as pending there until its body starts.
    tThread(tThreadList* list, bool autoDelete);
    ~tThread() override;

    // Mode 1 waits until the body has started, mode 2 until it has ended, others return at
    // once. A second Start starts nothing and answers true. False when the thread could not
    // be started ("[SYSTEM] Erro beginthread : %i" printed; retried while resources are short).
    bool Start(i32 mode);
    void WaitEnd();        // without limit
    bool WaitEnd(i32 ms);  // true when ended within ms
    bool IsAutoDelete() const { return autoDelete; }
    // The end event itself: it outlives a self-deleting thread, whose destructor sets it last.
    std::shared_ptr<tSemaphore> GetEndEvent() const { return endEvent; }

private:
    friend class tThreadList;

    static void ThreadProc(void* object);
    void RunBody();
    void Finish();

    // Constant after construction. Shared so that a waiter outlives a self-deleting thread.
    tThreadList* const list;
    const bool autoDelete;
    const std::shared_ptr<tSemaphore> endEvent = std::make_shared<tSemaphore>();
    const std::shared_ptr<tSemaphore> startedEvent = std::make_shared<tSemaphore>();
    std::atomic<bool> started{false};
    // The list's: changed by Add and Remove on the thread's own thread, or by its owner after
    // the body ended.
    tThreadNode* node = nullptr;
    bool listed = false;
    bool counted = false;  // pending in the list
};

// How long Shutdown gives threads: the rounds of each phase and the pause after each round.
struct tShutdownPacing {
    i32 notifyRounds = 60;
    i32 waitRounds = 30;
    i32 pauseMs = 500;
    std::function<void(i32 ms)> pause;  // null: sleeps; tests wait on their threads instead
};

// The registry of running threads: a chain of nodes that only grows (a leaving thread empties
// its node, which the next thread takes), so walks need no lock on the chain.
// Locks: the chain lock guards linking; each node's own lock guards its thread pointer, and a
// thread is never deleted while a walk holds its node; the count lock guards the pending count
// and the shutting-down flag. Destroy the list only when no listed thread can still run.
// Set (as a tSemaphore) when a shutdown has finished.
class tThreadList : public tSemaphore {
public:
    // Called for a running thread with its node locked (the thread cannot go meanwhile).
    using tVisitor = void (*)(tThread* thread, void* arg, i32* result);

    tThreadList();
    ~tThreadList() override;  // Shutdown, then frees the nodes

    void IncCount();
    void DecCount();
    i32 GetCount();  // threads constructed with this list whose body has not started
    bool IsShuttingDown();

    void Add(tThread* thread);  // takes the first free node, else links a new one
    void Remove(tThread* thread);

    i32 CountAlive();                 // listed threads that are IsRunning
    i32 CountByType(i32 type);        // ... of one thread type
    tThread* FindByThreadId(u32 id);  // not owned; may end at any time after the answer
    tThread* FindByType(i32 type);    // the first running thread of the type
    // Calls visit for every running thread whose node is free now; the result starts at 0.
    // Does nothing once shutting down.
    i32 ForEach(tVisitor visit, void* arg);
    i32 GetNodeCount();

    void SetShutdownPacing(const tShutdownPacing& pacing);  // before Shutdown
    // Runs once. First asks idle workers and monitor connections to stop until none runs, then
    // every thread, until none is listed; each phase gives up after its rounds. Prints its
    // progress; threads that never end are left running.
    void Shutdown();

private:
    template <class Visit>
    void WalkLocked(Visit visit);
    i32 AskToStop(bool firstPhase);
    void Pause();

    tCriticalSection chainLock;
    tCriticalSection countLock;
    // Under countLock.
    i32 pending = 0;
    bool shuttingDown = false;
    // first is constant; last is under chainLock; a node's next is published with release.
    tThreadNode* const first;
    tThreadNode* last;
    // Set before Shutdown, read by it.
    tShutdownPacing pacing;
};
