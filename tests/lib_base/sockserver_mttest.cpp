#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "lib_base/sockserver.h"
#include "platform/event.h"
#include "tests/lib_base/support/loopback.h"
#include "tests/support/gmtest.h"

namespace {

// Set once Arrive has been called as often as the count given at construction.
class tCountdown {
public:
    explicit tCountdown(int count) : left(count) {}
    void Arrive() {
        if (left.fetch_sub(1) == 1) reached.Set();
    }
    bool Wait(long ms) { return reached.Wait(ms); }

private:
    std::atomic<int> left;
    plat::ManualResetEvent reached;
};

constexpr int kWorkers = 5;
constexpr int kClients = 3;
constexpr long kBoundMs = 20000;

// What the workers of one test run report.
struct tWorkerLog {
    tCountdown entered{kWorkers};  // counted into the server, about to accept
    tCountdown served{kClients};
    tCountdown gone{kWorkers};
    std::atomic<int> accepted{0};
};

class tIdleServer : public tSockServer {
public:
    explicit tIdleServer(tThreadList* threads) : tSockServer(threads, false) {}

protected:
    void OnAccept() override {}
};

// A worker that accepts one connection on the server's socket and runs the default
// connection body for it, as the server's workers do.
class tServingWorker : public tWThreadBase {
public:
    tServingWorker(tThreadList* threads, tSockServer* server, tWorkerLog* log)
        : tWThreadBase(threads, server), log(log) {}
    ~tServingWorker() override { log->gone.Arrive(); }

    i32 Execute() override {
        tThreadCountGuard counted(GetServer());
        log->entered.Arrive();
        std::unique_ptr<tSocket> accepted = GetServer()->GetListenSocket()->AcceptCounted(0);
        if (!accepted) return 0;
        ++log->accepted;
        tBusyCountGuard busy(GetServer());
        {
            tWaiting hold(&connectionLock, __FILE__, __LINE__);
            HoldConnection(std::make_unique<tSockConn>());
            GetConnection()->Attach(std::move(accepted), GetServer());
        }
        GetConnection()->Execute();
        {
            tWaiting hold(&connectionLock, __FILE__, __LINE__);
            tThreadBase::Terminate(0);
            GetConnection()->Done();
            HoldConnection(nullptr);
        }
        log->served.Arrive();
        return 0;
    }

private:
    tWorkerLog* const log;
};

TEST(Listener, WorkersServeLoopbackClientsThenShutdownEndsEveryThread) {
    // Kept to the end of the process: self-deleting workers run their last steps after they
    // reported.
    static std::vector<std::unique_ptr<tThreadList>> lists;
    static std::vector<std::unique_ptr<tWorkerLog>> logs;
    tThreadList& threads = *lists.emplace_back(std::make_unique<tThreadList>());
    tWorkerLog& log = *logs.emplace_back(std::make_unique<tWorkerLog>());
    tShutdownPacing pacing;
    pacing.pauseMs = 20;
    threads.SetShutdownPacing(pacing);

    auto server = std::make_unique<tIdleServer>(&threads);
    server->SetPacing(tListenerPacing{10, 3, 0});
    ASSERT_TRUE(server->Listen(0));
    ASSERT_TRUE(server->Start(1));
    for (int i = 0; i < kWorkers; ++i) {
        // Owned by itself: the worker deletes itself when its body ends.
        ASSERT_TRUE((new tServingWorker(&threads, server.get(), &log))->Start(0));
    }
    ASSERT_TRUE(log.entered.Wait(kBoundMs));
    EXPECT_EQ(server->GetThreadCount(), kWorkers);

    const u16 port = static_cast<u16>(server->GetPort());
    for (int i = 0; i < kClients; ++i) {
        SCOPED_TRACE(i);
        std::unique_ptr<tSocket> client = gmtest::ConnectLoopback(port);
        ASSERT_NE(client, nullptr);
        EXPECT_EQ(gmtest::ReadBytes(*client, 41), "Connect Successful ... Now Disconnecting.");
    }
    ASSERT_TRUE(log.served.Wait(kBoundMs));

    // Two workers are still blocked in their accept: the listener's end must wake them.
    gmtest::ConsoleCapture console;
    threads.Shutdown();
    EXPECT_EQ(console.Get().find("TIME-OUT"), std::string::npos) << console.Get();
    EXPECT_TRUE(server->WaitEnd(kBoundMs));
    EXPECT_TRUE(log.gone.Wait(kBoundMs));
    EXPECT_EQ(log.accepted.load(), kClients);
    EXPECT_EQ(server->GetThreadCount(), 0);
    EXPECT_EQ(server->GetBusyCount(), 0);
    EXPECT_EQ(threads.CountAlive(), 0);
}

// A listener that tells when its destruction has begun.
class tEndingServer : public tSockServer {
public:
    explicit tEndingServer(plat::ManualResetEvent* ending)
        : tSockServer(nullptr, false), ending(ending) {}
    ~tEndingServer() override { ending->Set(); }

protected:
    void OnAccept() override {}

private:
    plat::ManualResetEvent* const ending;
};

// A worker, never started, that reads its server's counters while it is being deleted.
class tLateWorker : public tWThreadBase {
public:
    explicit tLateWorker(tSockServer* server) : tWThreadBase(nullptr, server) {}
    ~tLateWorker() override { threadsSeen = GetServer()->GetThreadCount(); }
    static i32 threadsSeen;
};
i32 tLateWorker::threadsSeen = -1;

// A worker that has not counted itself in yet (started, not yet in its body) still points to
// the server: deleting the server waits until the worker is gone.
TEST(SockServer, DeletionWaitsForWorkerObjectsThatPointToIt) {
    plat::ManualResetEvent ending;
    auto server = std::make_unique<tEndingServer>(&ending);
    auto worker = std::make_unique<tLateWorker>(server.get());
    std::thread deleter([&server] { server.reset(); });
    ending.Wait(-1);
    worker.reset();  // reads the server, which must still be there
    deleter.join();
    EXPECT_EQ(tLateWorker::threadsSeen, 0);
}

// A connection that answers the monitor's text query with its user name.
class tNamedConn : public tSockConn {
public:
    tString GetClientUser() override { return tString("bob"); }
};

// Attaches and clears connections on its own thread; never started as a thread.
class tSwitchingWorker : public tWThreadBase {
public:
    tSwitchingWorker() : tWThreadBase(nullptr, nullptr) {}
    void Switch(bool on) {
        tWaiting hold(&connectionLock, __FILE__, __LINE__);
        HoldConnection(on ? std::make_unique<tNamedConn>() : nullptr);
    }
};

// Another thread's queries and Terminate meet either no connection or a whole one, never one
// being attached or deleted.
TEST(WThreadBase, QueriesFromAnotherThreadMeetWholeConnectionsOnly) {
    tSwitchingWorker worker;
    plat::ManualResetEvent querying;
    std::atomic<bool> stop{false};
    std::atomic<int> badAnswers{0};
    std::thread monitor([&] {
        querying.Set();
        while (!stop.load()) {
            tString user = worker.GetClientUser();
            if (user != "" && user != "bob") ++badAnswers;
        }
        worker.Terminate(1);
    });
    querying.Wait(-1);
    for (int i = 0; i <= 2000; ++i) worker.Switch(i % 2 == 0);  // ends with one attached
    stop.store(true);
    monitor.join();
    EXPECT_EQ(badAnswers.load(), 0);
    EXPECT_TRUE(worker.IsKilled());
    ASSERT_NE(worker.GetConnection(), nullptr);
    EXPECT_TRUE(worker.GetConnection()->IsKilled());
}

}  // namespace
