// Thread start, the thread procedure with its exception banner, the thread list and its
// two-phase shutdown.
//
// Thread list:
//  (1) Nodes are linked at the end and freed only by the list's destructor, so a walk that
//      follows next pointers never meets a freed node.
//  (2) A node's thread pointer changes only under the node's lock, and a thread leaves its node
//      before it ends or is deleted: a thread seen under a node's lock is alive until unlock.
#include "lib_base/threads.h"

#include <atomic>

#include "lib_base/gmlassert.h"
#include "lib_base/printer.h"
#include "platform/thread.h"
#include "platform/thread_id.h"

struct tThreadNode : tCriticalSection {
    tThread* thread = nullptr;  // under the node's own lock
    std::atomic<tThreadNode*> next{nullptr};
};

namespace {

constexpr i32 kStartRetries = 10;
constexpr u32 kStartRetryMs = 100;

// Threads asked in the first phase of a shutdown: idle workers and monitor connections.
constexpr i32 kShutdownClassFirst = 20;

std::atomic<tThreadStarter> gStarter{plat::StartThread};

i32 ShutdownClass(i32 type) {
    return type == kThreadTypeWThread || type == kThreadTypeMonitSockThread ? kShutdownClassFirst
                                                                            : 10;
}

void PrintUnexpectedException() {
    BasePrintf(
        "\n****************************************\n"
        "*** Unexpected exception found *** \n"
        "*** theThreadProc -DoExecute() *** \n"
        "****************************************\n"
        "Please, contact Korvane Technology Department.\n");
}

// Runs f; an exception that escapes it is reported and ends here.
template <class F>
void RunReported(F f) {
    try {
        f();
    } catch (tAssertException* e) {
        std::unique_ptr<tAssertException> owned(e);  // thrown by pointer: the catcher deletes it
        PrintUnexpectedException();
    } catch (...) {
        PrintUnexpectedException();
    }
}

}  // namespace

const char* ThreadTypeName(i32 type) {
    switch (type) {
        case kThreadTypeThread:
            return "Thread";
        case kThreadTypeWThread:
            return "WThread";
        case kThreadTypeSockServer:
            return "SockServer";
        case kThreadTypeMonitSockThread:
            return "MonitSockThread";
        case kThreadTypeGenServer:
            return "GenServer";
        default:
            return "*** UNKNOW ***";
    }
}

void SetThreadStarter(tThreadStarter starter) {
    gStarter.store(starter ? starter : plat::StartThread);
}

void tThreadBase::AdoptThread(u32 id) {
    SetThreadId(id);
    MarkRunning();
}

void tThreadBase::Terminate(u8 force) {
    terminated.store(true);
    if (force) killed.store(true);
}

tThread::tThread(tThreadList* list, bool autoDelete) : list(list), autoDelete(autoDelete) {
    if (!list) return;
    list->IncCount();
    counted = true;
}

tThread::~tThread() {
    // The thread procedure's last touch of a thread that does not delete itself is its end
    // event; wait for it, unless this is the procedure deleting its own thread.
    bool ownThread = GetThreadId() == plat::CurrentThreadId();
    if (started.load() && !autoDelete && !ownThread) {
        if (!tThreadBase::IsTerminated()) tThreadBase::Terminate(1);
        endEvent->Wait(-1);
    }
    if (list) {
        list->Remove(this);
        if (counted) list->DecCount();
    }
    counted = false;
    endEvent->Set();
}

bool tThread::Start(i32 mode) {
    // Recorded before the thread exists: the body may end, and delete the object, at once.
    if (started.exchange(true)) return true;
    std::shared_ptr<tSemaphore> bodyStarted = startedEvent;
    std::shared_ptr<tSemaphore> ended = endEvent;
    for (i32 attempt = 0;; ++attempt) {
        int rc = gStarter.load()(&tThread::ThreadProc, this);
        if (rc == 0) break;
        BasePrintf("[SYSTEM] Erro beginthread : %i\n", rc);
        if (rc != plat::kThreadStartAgain || attempt == kStartRetries) {
            started.store(false);
            return false;
        }
        plat::Sleep(kStartRetryMs);
    }
    if (mode == 1) bodyStarted->Wait(-1);
    if (mode == 2) ended->Wait(-1);
    return true;
}

void tThread::WaitEnd() { endEvent->Wait(-1); }

bool tThread::WaitEnd(i32 ms) { return endEvent->Wait(ms); }

void tThread::ThreadProc(void* object) {
    tThread* thread = static_cast<tThread*>(object);
    if (!thread) return;
    thread->SetThreadId(plat::CurrentThreadId());
    RunReported([thread] { thread->RunBody(); });
    thread->Finish();
}

void tThread::RunBody() {
    MarkRunning();
    // Listed before the starter hears of it, so a Start in mode 1 finds the thread listed.
    if (list) {
        list->Add(this);
        if (counted) {
            list->DecCount();
            counted = false;
        }
    }
    startedEvent->Set();
    Execute();
}

void tThread::Finish() {
    // Also after a body that threw: the thread has ended either way.
    MarkTerminated();
    std::shared_ptr<tSemaphore> ended = endEvent;  // may outlive the object
    if (!autoDelete) {
        if (list) list->Remove(this);
        ended->Set();  // the last touch: the owner may delete the object from here on
        return;
    }
    // The end event is set last, by the destructor: whoever waits for it may then delete the
    // thread list, which this thread must no longer touch.
    if (list) list->Remove(this);
    RunReported([this] { Done(); });
    delete this;
}

tThreadList::tThreadList() : first(new tThreadNode), last(first) {}

tThreadList::~tThreadList() {
    Shutdown();
    tWaiting hold(&chainLock, __FILE__, __LINE__);
    tThreadNode* node = first;
    while (node) {
        tThreadNode* next = node->next.load(std::memory_order_acquire);
        delete node;
        node = next;
    }
}

void tThreadList::IncCount() {
    tWaiting hold(&countLock, __FILE__, __LINE__);
    ++pending;
}

void tThreadList::DecCount() {
    tWaiting hold(&countLock, __FILE__, __LINE__);
    --pending;
}

i32 tThreadList::GetCount() {
    tWaiting hold(&countLock, __FILE__, __LINE__);
    return pending;
}

bool tThreadList::IsShuttingDown() {
    tWaiting hold(&countLock, __FILE__, __LINE__);
    return shuttingDown;
}

void tThreadList::Add(tThread* thread) {
    GML_ASSERT(thread != nullptr, nullptr);
    for (tThreadNode* n = first; n; n = n->next.load(std::memory_order_acquire)) {
        if (!n->TryEnter()) continue;
        bool taken = n->thread == nullptr;
        if (taken) {
            n->thread = thread;
            thread->node = n;
            thread->listed = true;
        }
        n->Leave();
        if (taken) return;
    }
    // Filled before it is linked: no walk can see it yet.
    tThreadNode* n = new tThreadNode;
    n->thread = thread;
    thread->node = n;
    thread->listed = true;
    tWaiting hold(&chainLock, __FILE__, __LINE__);
    last->next.store(n, std::memory_order_release);
    last = n;
}

void tThreadList::Remove(tThread* thread) {
    if (!thread || !thread->listed) return;
    tThreadNode* n = thread->node;
    {
        tWaiting hold(n, __FILE__, __LINE__);
        if (n->thread == thread) n->thread = nullptr;
    }
    thread->node = nullptr;
    thread->listed = false;
}

template <class Visit>
void tThreadList::WalkLocked(Visit visit) {
    for (tThreadNode* n = first; n; n = n->next.load(std::memory_order_acquire)) {
        tWaiting hold(n, __FILE__, __LINE__);
        if (n->thread) visit(n->thread);
    }
}

i32 tThreadList::CountAlive() {
    i32 count = 0;
    WalkLocked([&count](tThread* t) { count += t->IsRunning() ? 1 : 0; });
    return count;
}

i32 tThreadList::CountByType(i32 type) {
    i32 count = 0;
    WalkLocked([&](tThread* t) { count += t->IsRunning() && t->GetThreadType() == type ? 1 : 0; });
    return count;
}

tThread* tThreadList::FindByThreadId(u32 id) {
    tThread* found = nullptr;
    WalkLocked([&](tThread* t) {
        if (!found && t->GetThreadId() == id) found = t;
    });
    return found;
}

tThread* tThreadList::FindByType(i32 type) {
    tThread* found = nullptr;
    WalkLocked([&](tThread* t) {
        if (!found && t->IsRunning() && t->GetThreadType() == type) found = t;
    });
    return found;
}

i32 tThreadList::ForEach(tVisitor visit, void* arg) {
    i32 result = 0;
    if (IsShuttingDown()) return result;
    for (tThreadNode* n = first; n; n = n->next.load(std::memory_order_acquire)) {
        if (!n->TryEnter()) continue;
        if (n->thread && n->thread->IsRunning()) visit(n->thread, arg, &result);
        n->Leave();
    }
    return result;
}

i32 tThreadList::GetNodeCount() {
    i32 count = 0;
    for (tThreadNode* n = first; n; n = n->next.load(std::memory_order_acquire)) ++count;
    return count;
}

void tThreadList::SetShutdownPacing(const tShutdownPacing& newPacing) { pacing = newPacing; }

// Asks the threads of one phase to stop (with force) and counts them: in the first phase the
// running threads of the first shutdown class, in the second every listed thread.
i32 tThreadList::AskToStop(bool firstPhase) {
    i32 count = 0;
    WalkLocked([&](tThread* t) {
        if (firstPhase &&
            (!t->IsRunning() || ShutdownClass(t->GetThreadType()) != kShutdownClassFirst)) {
            return;
        }
        ++count;
        if (!t->IsTerminated()) t->Terminate(1);
    });
    return count;
}

void tThreadList::Pause() {
    if (pacing.pause) {
        pacing.pause(pacing.pauseMs);
    } else {
        plat::Sleep(static_cast<u32>(pacing.pauseMs > 0 ? pacing.pauseMs : 0));
    }
}

void tThreadList::Shutdown() {
    {
        tWaiting hold(&countLock, __FILE__, __LINE__);
        if (shuttingDown) return;
        shuttingDown = true;
    }
    i32 left = 0;
    for (i32 round = 0; round < pacing.notifyRounds; ++round) {
        left = AskToStop(true);
        if (left > 0) BasePrintf("[SHUTDOWN] Notifying shutdown to %i thread(s)...\n", left);
        Pause();
        if (left == 0) break;
    }
    if (left > 0) BasePrintf("[SHUTDOWN] Shutdown TIME-OUT *** CONTINUE ANYWAY ***\n");
    for (i32 round = 0; round < pacing.waitRounds; ++round) {
        left = AskToStop(false);
        BasePrintf("[SHUTDOWN] Waiting end of %i thread(s)...\n", left);
        Pause();
        if (left == 0) break;
    }
    if (left > 0) BasePrintf("[SHUTDOWN] End of %i thread(s) TIME-OUT ** EXIT ANYWAY **\n", left);
    Set();
}
