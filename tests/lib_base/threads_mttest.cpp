#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "lib_base/gmlassert.h"
#include "lib_base/threads.h"
#include "platform/thread.h"
#include "platform/thread_id.h"
#include "tests/support/gmtest.h"

namespace {

constexpr long kLongWaitMs = 30000;  // a bound for waits that end at once when all is well

// A journal of what the threads did, in order.
class tJournal {
public:
    void Write(const std::string& entry) {
        std::lock_guard<std::mutex> hold(lock);
        entries.push_back(entry);
    }
    std::vector<std::string> Read() {
        std::lock_guard<std::mutex> hold(lock);
        return entries;
    }

private:
    std::mutex lock;
    std::vector<std::string> entries;
};

// A thread whose body is given by the test. By default Terminate is obeyed and wakes the body
// through `stop`; a stubborn thread ignores it.
class tTestThread : public tThread {
public:
    tTestThread(tThreadList* list, bool autoDelete, i32 type, std::string name, tJournal* journal,
                std::function<void(tTestThread&)> body)
        : tThread(list, autoDelete),
          type(type),
          name(std::move(name)),
          journal(journal),
          body(std::move(body)) {}
    ~tTestThread() override {
        Note("deleted");
        deleted.Set();
    }

    i32 GetThreadType() override { return type; }
    i32 Execute() override {
        body(*this);
        return 0;
    }
    const char* GetClassName() override { return "testThread"; }
    void Terminate(u8 force) override {
        Note(force ? "terminate(force)" : "terminate");
        if (stubborn) return;
        tThread::Terminate(force);
        stop.Set();
    }
    bool Done() override {
        Note("done");
        return true;
    }

    void Note(const std::string& what) {
        if (journal) journal->Write(name + ": " + what);
    }

    plat::ManualResetEvent stop;
    plat::ManualResetEvent release;
    bool stubborn = false;
    // Set by the destructor; shared so that it outlives a thread that deletes itself.
    static plat::ManualResetEvent deleted;

private:
    const i32 type;
    const std::string name;
    tJournal* const journal;
    const std::function<void(tTestThread&)> body;
};

plat::ManualResetEvent tTestThread::deleted;

void WaitForStop(tTestThread& t) { t.stop.Wait(-1); }

// A shutdown pacing whose pauses do not sleep: each waits until every given thread that was
// asked to stop has ended.
tShutdownPacing WaitForAskedThreads(std::vector<tTestThread*> threads, std::vector<i32>* pauses) {
    tShutdownPacing pacing;
    pacing.pause = [threads, pauses](i32 ms) {
        if (pauses) pauses->push_back(ms);
        for (tTestThread* t : threads) {
            if (t->IsTerminated()) {
                EXPECT_TRUE(t->WaitEnd(kLongWaitMs));
            }
        }
    };
    return pacing;
}

// A list that shuts down without pauses when the test is over.
struct tQuietList : tThreadList {
    tQuietList() { SetShutdownPacing(WaitForAskedThreads({}, nullptr)); }
};

TEST(Thread, SecondStartStartsNothing) {
    tQuietList list;
    std::atomic<int> runs{0};
    tTestThread t(&list, false, kThreadTypeThread, "t", nullptr, [&runs](tTestThread& self) {
        ++runs;
        WaitForStop(self);
    });
    EXPECT_TRUE(t.Start(1));
    EXPECT_TRUE(t.Start(1));
    EXPECT_TRUE(t.Start(0));
    t.Terminate(0);
    t.WaitEnd();
    EXPECT_EQ(runs.load(), 1);
    EXPECT_TRUE(t.Start(2)) << "a thread that has ended is still started";
    EXPECT_EQ(runs.load(), 1);
}

TEST(Thread, ModeOneReturnsWithTheBodyStartedAndListed) {
    tQuietList list;
    tTestThread t(&list, false, kThreadTypeWThread, "t", nullptr, WaitForStop);
    EXPECT_EQ(list.GetCount(), 1) << "pending until its body starts";
    ASSERT_TRUE(t.Start(1));
    EXPECT_TRUE(t.IsRunning());
    EXPECT_EQ(list.GetCount(), 0);
    EXPECT_NE(t.GetThreadId(), 0u);
    EXPECT_NE(t.GetThreadId(), plat::CurrentThreadId());
    EXPECT_EQ(list.FindByThreadId(t.GetThreadId()), &t);
    t.Terminate(0);
    t.WaitEnd();
    EXPECT_FALSE(t.IsRunning());
    EXPECT_EQ(list.FindByThreadId(t.GetThreadId()), nullptr) << "an ended thread leaves the list";
}

TEST(Thread, ModeTwoReturnsWithTheBodyEnded) {
    tQuietList list;
    std::atomic<bool> bodyDone{false};
    tTestThread t(&list, false, kThreadTypeThread, "t", nullptr,
                  [&bodyDone](tTestThread&) { bodyDone = true; });
    ASSERT_TRUE(t.Start(2));
    EXPECT_TRUE(bodyDone.load());
    EXPECT_TRUE(t.IsTerminated());
    EXPECT_TRUE(t.WaitEnd(0));
}

TEST(Thread, ModeZeroReturnsBeforeTheBodyMayGoOn) {
    tQuietList list;
    tTestThread t(&list, false, kThreadTypeThread, "t", nullptr,
                  [](tTestThread& self) { self.release.Wait(-1); });
    // Were Start to wait for the body, the body would wait for the release below for ever.
    ASSERT_TRUE(t.Start(0));
    t.release.Set();
    t.WaitEnd();
}

TEST(Thread, AutoDeleteThreadRunsDoneThenDeletesItself) {
    tQuietList list;
    tJournal journal;
    tTestThread::deleted.Reset();
    auto* t =
        new tTestThread(&list, true, kThreadTypeThread, "auto", &journal, [](tTestThread& self) {
            self.Note("body");
            self.release.Wait(-1);
        });
    ASSERT_TRUE(t->Start(1));
    EXPECT_EQ(list.CountAlive(), 1);
    std::shared_ptr<tSemaphore> ended = t->GetEndEvent();
    t->release.Set();  // the last touch: from here on the thread may be gone
    ASSERT_TRUE(tTestThread::deleted.Wait(kLongWaitMs));
    // Only the end event says the thread has let go of the list, which dies with this test.
    ASSERT_TRUE(ended->Wait(kLongWaitMs));
    EXPECT_EQ(journal.Read(),
              (std::vector<std::string>{"auto: body", "auto: done", "auto: deleted"}));
    EXPECT_EQ(list.CountAlive(), 0);
    EXPECT_EQ(list.FindByType(kThreadTypeThread), nullptr);
}

TEST(Thread, AutoDeleteThreadStartedInModeTwoOutlivesNoWaiter) {
    tQuietList list;
    tTestThread::deleted.Reset();
    auto* t =
        new tTestThread(&list, true, kThreadTypeThread, "quick", nullptr, [](tTestThread&) {});
    std::shared_ptr<tSemaphore> ended = t->GetEndEvent();
    // The thread may delete itself while Start still waits for its end event.
    EXPECT_TRUE(t->Start(2));
    EXPECT_TRUE(tTestThread::deleted.Wait(kLongWaitMs));
    EXPECT_TRUE(ended->Wait(kLongWaitMs));
}

TEST(Thread, EscapingExceptionPrintsTheBannerAndTheThreadStillEnds) {
    const struct {
        const char* name;
        std::function<void(tTestThread&)> body;
    } cases[] = {
        {"runtime_error", [](tTestThread&) { throw std::runtime_error("boom"); }},
        {"assertion", [](tTestThread&) { GML_ASSERT(false, "thread body check"); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        gmtest::ConsoleCapture console;
        tQuietList list;
        tTestThread t(&list, false, kThreadTypeThread, "t", nullptr, c.body);
        ASSERT_TRUE(t.Start(0));
        ASSERT_TRUE(t.WaitEnd(kLongWaitMs));
        EXPECT_NE(console.Get().find("\n****************************************\n"
                                     "*** Unexpected exception found *** \n"
                                     "*** theThreadProc -DoExecute() *** \n"
                                     "****************************************\n"
                                     "Please, contact Korvane Technology Department.\n"),
                  std::string::npos)
            << console.Get();
        EXPECT_TRUE(t.IsTerminated());
        EXPECT_FALSE(t.IsRunning());
        EXPECT_EQ(list.CountAlive(), 0);
    }
}

// A starter that fails with a given error a given number of times, then starts for real.
std::atomic<int> gFailures{0};
std::atomic<int> gFailWith{0};
std::atomic<int> gAttempts{0};
int FlakyStarter(void (*body)(void*), void* arg) {
    ++gAttempts;
    if (gFailures.load() > 0) {
        --gFailures;
        return gFailWith.load();
    }
    return plat::StartThread(body, arg);
}

size_t CountOf(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

TEST(Thread, StartRetriesWhileResourcesAreShortAndGivesUpOnOtherErrors) {
    const struct {
        int failWith;
        int failures;
        bool started;
        int attempts;
    } cases[] = {
        {11, 2, true, 3},     // EAGAIN twice, then started
        {12, 1, false, 1},    // ENOMEM: no retry
        {11, 99, false, 11},  // EAGAIN every time: the first try and ten retries
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.failWith) + " x" + std::to_string(c.failures));
        gmtest::ConsoleCapture console;
        tQuietList list;
        tTestThread t(&list, false, kThreadTypeThread, "t", nullptr, WaitForStop);
        gFailWith = c.failWith;
        gFailures = c.failures;
        gAttempts = 0;
        SetThreadStarter(FlakyStarter);
        bool started = t.Start(1);
        SetThreadStarter(nullptr);
        EXPECT_EQ(started, c.started);
        EXPECT_EQ(gAttempts.load(), c.attempts);
        std::string line = "[SYSTEM] Erro beginthread : " + std::to_string(c.failWith) + "\n";
        EXPECT_EQ(CountOf(console.Get(), line),
                  static_cast<size_t>(c.failures < c.attempts ? c.failures : c.attempts));
        if (!started) {
            EXPECT_EQ(list.GetCount(), 1) << "still pending";
            EXPECT_TRUE(t.Start(1)) << "a failed start can be tried again";
        }
        t.Terminate(0);
        t.WaitEnd();
    }
}

// Threads that wait for their stop, one per type given, started and listed.
class ListedThreads {
public:
    ListedThreads(tThreadList& list, std::vector<std::pair<i32, std::string>> kinds,
                  tJournal* journal = nullptr) {
        for (auto& k : kinds) {
            threads.push_back(std::make_unique<tTestThread>(&list, false, k.first, k.second,
                                                            journal, WaitForStop));
        }
        for (auto& t : threads) EXPECT_TRUE(t->Start(1));
    }
    ~ListedThreads() {
        for (auto& t : threads) {
            t->stubborn = false;
            t->Terminate(0);
            t->release.Set();
            t->WaitEnd();
        }
    }
    tTestThread& operator[](size_t i) { return *threads[i]; }
    std::vector<tTestThread*> All() {
        std::vector<tTestThread*> all;
        for (auto& t : threads) all.push_back(t.get());
        return all;
    }

private:
    std::vector<std::unique_ptr<tTestThread>> threads;
};

TEST(ThreadList, FindsAndCountsRunningThreadsByIdAndType) {
    tQuietList list;
    ListedThreads threads(
        list,
        {{kThreadTypeWThread, "w"}, {kThreadTypeGenServer, "g1"}, {kThreadTypeGenServer, "g2"}});
    EXPECT_EQ(list.CountAlive(), 3);
    const struct {
        i32 type;
        i32 count;
    } counts[] = {{kThreadTypeWThread, 1}, {kThreadTypeGenServer, 2}, {kThreadTypeSockServer, 0}};
    for (const auto& c : counts) {
        SCOPED_TRACE(c.type);
        EXPECT_EQ(list.CountByType(c.type), c.count);
    }
    EXPECT_EQ(list.FindByType(kThreadTypeWThread), &threads[0]);
    tThread* server = list.FindByType(kThreadTypeGenServer);
    EXPECT_TRUE(server == &threads[1] || server == &threads[2]);
    EXPECT_EQ(list.FindByType(kThreadTypeSockServer), nullptr);
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(list.FindByThreadId(threads[i].GetThreadId()), &threads[i]);
    EXPECT_EQ(list.FindByThreadId(plat::CurrentThreadId()), nullptr);

    // A terminated thread still listed no longer counts as alive.
    threads[1].tThread::Terminate(0);
    EXPECT_EQ(list.CountAlive(), 2);
    EXPECT_EQ(list.CountByType(kThreadTypeGenServer), 1);
    EXPECT_EQ(list.FindByType(kThreadTypeGenServer), &threads[2]);

    std::vector<tThread*> visitedThreads;
    i32 visited = list.ForEach(
        [](tThread* t, void* arg, i32* result) {
            *result += 1;
            static_cast<std::vector<tThread*>*>(arg)->push_back(t);
        },
        &visitedThreads);
    EXPECT_EQ(visited, 2) << "running threads only";
    EXPECT_EQ(visitedThreads, (std::vector<tThread*>{&threads[0], &threads[2]}));
}

TEST(ThreadList, LeavingThreadsFreeTheirNodesForTheNext) {
    tQuietList list;
    for (int round = 0; round < 10; ++round) {
        SCOPED_TRACE(round);
        ListedThreads threads(
            list,
            {{kThreadTypeWThread, "a"}, {kThreadTypeWThread, "b"}, {kThreadTypeWThread, "c"}});
        EXPECT_EQ(list.CountAlive(), 3);
    }
    EXPECT_LE(list.GetNodeCount(), 4) << "no more nodes than threads alive at once, plus one";
    EXPECT_EQ(list.CountAlive(), 0);
}

TEST(ThreadList, CooperatingThreadsEndInTheirPhaseAndConnectionsAreAskedLast) {
    gmtest::ConsoleCapture console;
    tJournal journal;
    tThreadList list;
    ListedThreads threads(list,
                          {{kThreadTypeWThread, "worker1"},
                           {kThreadTypeGenServer, "client"},
                           {kThreadTypeMonitSockThread, "monitor"},
                           {kThreadTypeWThread, "worker2"}},
                          &journal);
    std::vector<i32> pauses;
    list.SetShutdownPacing(WaitForAskedThreads(threads.All(), &pauses));
    list.Shutdown();

    EXPECT_EQ(console.Get(),
              "[SHUTDOWN] Notifying shutdown to 3 thread(s)...\n"
              "[SHUTDOWN] Waiting end of 1 thread(s)...\n"
              "[SHUTDOWN] Waiting end of 0 thread(s)...\n");
    std::vector<std::string> entries = journal.Read();
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[3], "client: terminate(force)") << "the client is asked in the second phase";
    for (size_t i = 0; i < 4; ++i) EXPECT_TRUE(threads[i].IsKilled());
    EXPECT_EQ(pauses, (std::vector<i32>{500, 500, 500, 500}));
    EXPECT_TRUE(list.Wait(0)) << "the list's own event tells that the shutdown has finished";
    EXPECT_TRUE(list.IsShuttingDown());
    EXPECT_EQ(list.CountAlive(), 0);
}

TEST(ThreadList, ThreadThatWillNotStopGivesBothTimeOuts) {
    gmtest::ConsoleCapture console;
    tThreadList list;
    ListedThreads threads(list, {{kThreadTypeWThread, "stubborn"}});
    threads[0].stubborn = true;
    tShutdownPacing pacing;
    pacing.notifyRounds = 3;
    pacing.waitRounds = 2;
    pacing.pause = [](i32) {};
    list.SetShutdownPacing(pacing);
    list.Shutdown();
    EXPECT_EQ(console.Get(),
              "[SHUTDOWN] Notifying shutdown to 1 thread(s)...\n"
              "[SHUTDOWN] Notifying shutdown to 1 thread(s)...\n"
              "[SHUTDOWN] Notifying shutdown to 1 thread(s)...\n"
              "[SHUTDOWN] Shutdown TIME-OUT *** CONTINUE ANYWAY ***\n"
              "[SHUTDOWN] Waiting end of 1 thread(s)...\n"
              "[SHUTDOWN] Waiting end of 1 thread(s)...\n"
              "[SHUTDOWN] End of 1 thread(s) TIME-OUT ** EXIT ANYWAY **\n");
    EXPECT_TRUE(threads[0].IsRunning()) << "left running";
    list.Shutdown();
    EXPECT_EQ(CountOf(console.Get(), "[SHUTDOWN]"), 7u) << "a second shutdown does nothing";
}

TEST(ThreadList, EmptyListShutsDownAfterTwoPausesAndOneWaitingLine) {
    gmtest::ConsoleCapture console;
    tThreadList list;
    std::vector<i32> pauses;
    list.SetShutdownPacing(WaitForAskedThreads({}, &pauses));
    list.Shutdown();
    EXPECT_EQ(console.Get(), "[SHUTDOWN] Waiting end of 0 thread(s)...\n");
    EXPECT_EQ(pauses, (std::vector<i32>{500, 500}));
}

TEST(ThreadList, ForEachVisitsNothingOnceShuttingDown) {
    tQuietList list;
    ListedThreads threads(list, {{kThreadTypeGenServer, "client"}});
    threads[0].stubborn = true;  // still running after the shutdown
    gmtest::ConsoleCapture console;
    list.Shutdown();
    ASSERT_TRUE(threads[0].IsRunning());
    bool called = false;
    EXPECT_EQ(
        list.ForEach([](tThread*, void* arg, i32*) { *static_cast<bool*>(arg) = true; }, &called),
        0);
    EXPECT_FALSE(called);
}

// Threads come and go while others walk the list: every walk sees whole threads only. (A node
// that a walk holds may be skipped by Add, so here the chain may grow past the threads alive.)
TEST(ThreadList, ThreadsComeAndGoWhileOthersWalkTheList) {
    tQuietList list;
    constexpr int kStarters = 4;
    constexpr int kRounds = 50;
    std::atomic<bool> stopWalking{false};
    std::thread walker([&] {
        while (!stopWalking.load()) {
            i32 alive = list.CountAlive();
            EXPECT_GE(alive, 0);
            EXPECT_LE(alive, kStarters);
            list.ForEach([](tThread* t, void*, i32* r) { *r += t->GetThreadType(); }, nullptr);
        }
    });
    std::vector<std::thread> starters;
    for (int s = 0; s < kStarters; ++s) {
        starters.emplace_back([&list] {
            for (int round = 0; round < kRounds; ++round) {
                tTestThread t(&list, false, kThreadTypeWThread, "t", nullptr, WaitForStop);
                EXPECT_TRUE(t.Start(1));
                EXPECT_EQ(list.FindByThreadId(t.GetThreadId()), &t);
                t.Terminate(0);
                t.WaitEnd();
            }
        });
    }
    for (auto& th : starters) th.join();
    stopWalking = true;
    walker.join();
    EXPECT_EQ(list.CountAlive(), 0);
}

}  // namespace
