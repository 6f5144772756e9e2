// The worker pool on real threads and loopback sockets: the passes that start workers up to
// ThreadMin, extra workers up to ThreadMax, the TOO MANY and WAIT lines, the limits read again at
// maintenance, an extra worker ending after its idle limit, shutdown waking the workers blocked
// in accept, and one failing connection among others that are served.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "lib_base/threads.h"
#include "server/process/gmlserver.h"
#include "tests/server/process/support/acceptfixture.h"
#include "tests/server/process/support/threadlists.h"
#include "tests/support/gmtest.h"

namespace {

using gmtest::Body;
using gmtest::ConnectPacket;
using gmtest::EndEvents;
using gmtest::NewThreadList;
using gmtest::ReplyOf;

constexpr i32 kBoundMs = 20000;

// A listener whose thread runs no pass until it is ended, so that the test runs the passes.
class DrivenServer : public tGMLServer {
public:
    explicit DrivenServer(tThreadList* threads) : tGMLServer(threads, kModeStandalone, false) {}
    i32 Execute() override {
        release.Wait(-1);
        return tGMLServer::Execute();
    }
    // The loop ends before its first pass and closes the listening socket, which wakes the
    // workers inside an accept.
    void End() {
        Terminate(0);
        release.Set();
        WaitEnd();
    }

private:
    plat::ManualResetEvent release;
};

// A thread constructed on the list and never started: it counts as starting.
class PendingThread : public tThread {
public:
    explicit PendingThread(tThreadList* list) : tThread(list, false) {}
    i32 GetThreadType() override { return kThreadTypeThread; }
    i32 Execute() override { return 0; }
    const char* GetClassName() override { return "pending"; }
};

class Pool : public gmtest::AcceptTest {
protected:
    void TearDown() override {
        log.release.Set();
        if (driven) driven->End();
        AcceptTest::TearDown();  // deleting the server waits for every worker
    }

    // Globals with these [General] lines, and a driven server listening and started.
    void Drive(const std::string& general, const tWorkerPacing& pacing = tWorkerPacing()) {
        StartGlobals(general);
        threads = &NewThreadList();
        auto made = std::make_unique<DrivenServer>(threads);
        driven = made.get();
        server = std::move(made);
        server->SetWorkerPacing(pacing);
        ASSERT_TRUE(server->ListenAddr(0, "127.0.0.1"));
        ASSERT_TRUE(server->Start(1));
        server->LoadThreadLimits();
    }
    // One pass of the pool; what it printed.
    std::string Pass() {
        gmtest::ConsoleCapture console;
        EXPECT_TRUE(server->RunAcceptStep());
        return console.Get();
    }
    // Another client that has sent a whole connect packet of that kind.
    void Connect(char kind) { clients.push_back(Send(ConnectPacket(kind))); }

    tThreadList* threads = nullptr;
    DrivenServer* driven = nullptr;
    std::vector<std::unique_ptr<tSocket>> clients;
};

std::string Figures(int available, int count, int starting) {
    return " - Available (" + std::to_string(available) + ") Count (" + std::to_string(count) +
           ") Starting (" + std::to_string(starting) + ")\n";
}

std::string Info(int available, int count, int starting) {
    return "[INFO] Connection Threads Info" + Figures(available, count, starting);
}

TEST_F(Pool, FirstPassStartsThreadMinWorkersAndLaterPassesAddNone) {
    Drive("ThreadInfo=1\nThreadMin=4\nThreadInc=2\nThreadMax=8\n");
    EXPECT_EQ(Pass(), "[INFO] Add 4 Start Threads" + Figures(0, 0, 0));
    EXPECT_EQ(server->GetThreadCount(), 4);
    EXPECT_EQ(Pass(), Info(4, 4, 0));
    EXPECT_EQ(Pass(), "");
    EXPECT_EQ(server->GetThreadCount(), 4);
}

TEST_F(Pool, WithoutThreadInfoThePassesPrintNothing) {
    Drive("ThreadMin=3\nThreadInc=4\n");
    EXPECT_EQ(Pass(), "");  // three start-up workers
    EXPECT_EQ(Pass(), "");  // and one extra
    EXPECT_EQ(server->GetThreadCount(), 4);
}

TEST_F(Pool, ExtraWorkersKeepThreadIncWaitingButNeverPassThreadMax) {
    Drive("ThreadInfo=1\nThreadMin=2\nThreadInc=2\nThreadMax=4\n");
    MakeKind('1', Body::Block);
    EXPECT_EQ(Pass(), "[INFO] Add 2 Start Threads" + Figures(0, 0, 0));

    Connect('1');
    ASSERT_TRUE(log.WaitArrivals(1));
    EXPECT_EQ(Pass(), Info(1, 2, 0) + "[INFO] Add 1 Extra Threads" + Figures(1, 2, 0));

    Connect('1');
    Connect('1');
    ASSERT_TRUE(log.WaitArrivals(3));
    // Two more would pass ThreadMax: one only.
    EXPECT_EQ(Pass(), Info(0, 3, 0) + "[INFO] Add 1 Extra Threads" + Figures(0, 3, 0));

    Connect('1');
    ASSERT_TRUE(log.WaitArrivals(4));
    const std::string tooMany = "[WARNING] TOO MANY Connection Threads" + Figures(0, 4, 0);
    EXPECT_EQ(Pass(), Info(0, 4, 0) + tooMany);
    EXPECT_EQ(Pass(), tooMany);
    EXPECT_EQ(server->GetThreadCount(), 4);
    EXPECT_EQ(server->GetBusyCount(), 4);
    // Each worker reports the kind of connection it serves.
    EXPECT_EQ(threads->CountByType(kThreadTypeMonitSockThread), 4);

    log.release.Set();
    for (auto& client : clients) EXPECT_EQ(gmtest::ReadBytes(*client, 64), ReplyOf('1'));
    EXPECT_TRUE(log.WaitDeleted(4));
}

TEST_F(Pool, ThreadsStillStartingHoldThePoolBack) {
    Drive("ThreadInfo=1\nThreadMin=2\nThreadInc=4\nThreadMax=3\n");
    EXPECT_EQ(Pass(), "[INFO] Add 2 Start Threads" + Figures(0, 0, 0));
    std::vector<std::unique_ptr<PendingThread>> pending;
    pending.push_back(std::make_unique<PendingThread>(threads));
    // Four waiting would need two more, and one more would already pass ThreadMax: none.
    EXPECT_EQ(Pass(), Info(2, 2, 1));
    EXPECT_EQ(Pass(), Info(2, 2, 1));
    for (int i = 0; i < 4; ++i) pending.push_back(std::make_unique<PendingThread>(threads));
    const std::string wait = "[INFO] WAIT for Threads Starting" + Figures(2, 2, 5);
    EXPECT_EQ(Pass(), Info(2, 2, 5) + wait);
    EXPECT_EQ(Pass(), wait);
    EXPECT_EQ(server->GetThreadCount(), 2);
}

TEST_F(Pool, ChangedThreadMinTakesEffectAtTheNextMaintenance) {
    Drive("ThreadInfo=1\nThreadMin=2\nThreadInc=1\n");
    EXPECT_EQ(Pass(), "[INFO] Add 2 Start Threads" + Figures(0, 0, 0));
    gmtest::WriteFileText(dir.File("gatemill.ini"), "[General]\nThreadInfo=1\nThreadMin=3\n");
    EXPECT_EQ(Pass(), Info(2, 2, 0));  // the cached value still holds
    gmtest::ConsoleCapture console;
    server->Maintenance();
    EXPECT_EQ(console.Get(), "");  // no profiler reports
    EXPECT_EQ(Pass(), "[INFO] Add 1 Start Threads" + Figures(2, 2, 0));
    EXPECT_EQ(server->GetThreadCount(), 3);
}

TEST_F(Pool, MaintenanceWithTheProfilerPrintsMemoryAndSummary) {
    Drive("GlbProfiler=1\nThreadMin=0\nThreadInc=0\n");
    gmtest::ConsoleCapture console;
    server->Maintenance();
    const std::string text = console.Get();
    const size_t memory = text.find("Physical memory .");
    const size_t summary = text.find("Application Summary");
    EXPECT_NE(memory, std::string::npos) << text;
    EXPECT_NE(summary, std::string::npos) << text;
    EXPECT_LT(memory, summary);
}

TEST_F(Pool, ExtraWorkerEndsAfterItsIdleLimit) {
    tWorkerPacing pacing;
    pacing.firstAcceptSeconds = 1;
    pacing.pollSeconds = 1;
    pacing.extraIdleSeconds = 2;
    Drive("ThreadInfo=1\nThreadMin=0\nThreadInc=1\n", pacing);
    EXPECT_EQ(Pass(), "[INFO] Add 1 Extra Threads" + Figures(0, 0, 0));
    EXPECT_EQ(server->GetThreadCount(), 1);
    const auto ends = EndEvents(*threads, kThreadTypeWThread);
    ASSERT_EQ(ends.size(), 1u);
    // Nobody asks it to stop and the listener still listens: it ends on its own.
    EXPECT_TRUE(ends[0]->Wait(kBoundMs));
    EXPECT_EQ(server->GetThreadCount(), 0);
    EXPECT_EQ(Pass(), Info(0, 0, 0) + "[INFO] Add 1 Extra Threads" + Figures(0, 0, 0));
}

TEST_F(Pool, OneFailingConnectionLeavesTheOthersServed) {
    Drive("ThreadMin=3\n");
    MakeKind('0', Body::Block);
    MakeKind('1', Body::Assert);
    Pass();
    gmtest::ConsoleCapture console;
    Connect('0');
    ASSERT_TRUE(log.WaitArrivals(1));
    Connect('1');
    ASSERT_TRUE(log.WaitDeleted(1));
    Connect('0');
    ASSERT_TRUE(log.WaitArrivals(3));
    log.release.Set();
    EXPECT_EQ(gmtest::ReadBytes(*clients[0], 64), ReplyOf('0'));
    EXPECT_EQ(gmtest::ReadBytes(*clients[1], 64), "");
    EXPECT_EQ(gmtest::ReadBytes(*clients[2], 64), ReplyOf('0'));
    ASSERT_TRUE(log.WaitDeleted(3));
    EXPECT_EQ(log.done, 3);
    const std::string text = console.Get();
    EXPECT_EQ(text.find("Assert exception found"), text.rfind("Assert exception found"));
    EXPECT_NE(text.find("Connection: GMLMONITOR\n"), std::string::npos) << text;
    EXPECT_NE(text.find("CRYTICAL ERROR ... DELETING..."), std::string::npos) << text;
    EXPECT_EQ(text.find("Thread ID: 0\n"), std::string::npos) << text;  // the worker's own id
}

TEST_F(Pool, PacketInTwoPiecesIsAccepted) {
    Drive("ThreadMin=1\n");
    MakeKind('2', Body::Reply);
    Pass();
    const std::string packet = ConnectPacket('2', "rest");
    clients.push_back(Send(packet.substr(0, 5)));
    ASSERT_NE(clients[0], nullptr);
    EXPECT_EQ(clients[0]->Send(packet.data() + 5, static_cast<i32>(packet.size() - 5), 0),
              static_cast<i32>(packet.size() - 5));
    EXPECT_EQ(gmtest::ReadBytes(*clients[0], 64), ReplyOf('2'));
}

// Every "[INFO] Add <n> ... Threads" line printed: the n of each.
std::vector<int> Additions(const std::string& text) {
    std::vector<int> added;
    const std::string mark = "[INFO] Add ";
    for (size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at + 1)) {
        added.push_back(std::stoi(text.substr(at + mark.size())));
    }
    return added;
}

TEST_F(Pool, ABurstWakesTheListenerToTopUpThreadIncAtATimeUpToThreadMax) {
    StartGlobals("ThreadInfo=1\nThreadMin=2\nThreadInc=2\nThreadMax=7\n");
    MakeKind('1', Body::Block);
    threads = &NewThreadList();
    server = std::make_unique<tGMLServer>(threads, kModeStandalone, false);
    // Rounds far longer than the test: every pass after the first is one a worker woke.
    server->SetPacing(tListenerPacing{600000, 3, 0});
    ASSERT_TRUE(server->ListenAddr(0, "127.0.0.1"));
    server->LoadThreadLimits();
    gmtest::ConsoleCapture console;
    ASSERT_TRUE(server->Start(1));
    std::atomic<bool> burstOver{false};
    std::atomic<int> mostWorkers{0};
    std::thread watcher([&] {
        while (!burstOver) {
            mostWorkers = std::max(mostWorkers.load(), server->GetThreadCount());
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    for (int i = 0; i < 10; ++i) Connect('1');
    const bool served = log.WaitArrivals(7);
    burstOver = true;
    watcher.join();
    ASSERT_TRUE(served) << "the pool did not keep up with the burst";
    EXPECT_LE(mostWorkers, 7);
    EXPECT_EQ(server->GetThreadCount(), 7);
    EXPECT_EQ(server->GetBusyCount(), 7);
    const std::string text = console.Get();
    const std::vector<int> added = Additions(text);
    ASSERT_FALSE(added.empty());
    EXPECT_EQ(added.front(), 2) << text;  // the start-up workers
    int total = 0;
    for (int n : added) {
        EXPECT_LE(n, 2) << text;
        total += n;
    }
    EXPECT_EQ(total, 7) << text;

    log.release.Set();
    for (size_t i = 0; i < 7; ++i) EXPECT_EQ(gmtest::ReadBytes(*clients[i], 64), ReplyOf('1'));
    server->Terminate(0);  // ends the round's pause at once
    EXPECT_TRUE(server->WaitEnd(kBoundMs));
}

// A listener that tells when it has run three rounds.
class CountingServer : public tGMLServer {
public:
    explicit CountingServer(tThreadList* threads) : tGMLServer(threads, kModeStandalone, false) {}
    plat::ManualResetEvent threeRounds;

protected:
    void OnStep() override {
        if (++rounds == 3) threeRounds.Set();
    }

private:
    int rounds = 0;  // the listener thread's
};

TEST_F(Pool, ListenerFillsThePoolOnceAndShutdownWakesTheWorkersInAccept) {
    StartGlobals("ThreadInfo=1\n");
    tThreadList& list = NewThreadList();
    auto made = std::make_unique<CountingServer>(&list);
    CountingServer& counting = *made;
    server = std::move(made);
    server->SetPacing(tListenerPacing{10, 3, 0});
    ASSERT_TRUE(server->ListenAddr(0, "127.0.0.1"));
    server->LoadThreadLimits();
    gmtest::ConsoleCapture console;
    ASSERT_TRUE(server->Start(1));
    ASSERT_TRUE(counting.threeRounds.Wait(kBoundMs));
    EXPECT_EQ(console.Get(), "[INFO] Add 10 Start Threads" + Figures(0, 0, 0) + Info(10, 10, 0));
    EXPECT_EQ(server->GetThreadCount(), 10);

    const auto ends = EndEvents(list, kThreadTypeWThread);
    EXPECT_EQ(ends.size(), 10u);
    list.Shutdown();
    for (const auto& end : ends) EXPECT_TRUE(end->Wait(kBoundMs));
    EXPECT_TRUE(server->WaitEnd(kBoundMs));
    EXPECT_EQ(console.Get().find("TIME-OUT"), std::string::npos) << console.Get();
    EXPECT_EQ(server->GetThreadCount(), 0);
    EXPECT_EQ(list.CountAlive(), 0);
}

}  // namespace
