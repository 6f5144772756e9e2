#include "lib_base/sockserver.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "lib_base/gmlassert.h"
#include "tests/lib_base/support/loopback.h"
#include "tests/support/gmtest.h"

namespace {

constexpr tListenerPacing kQuick{0, 3, 0};

// A listener whose hooks record what the loop did; its body runs on the test thread.
class tRecordingServer : public tSockServer {
public:
    explicit tRecordingServer(tThreadList* threads = nullptr) : tSockServer(threads, false) {
        SetPacing(kQuick);
    }

    i32 stopAfterSteps = 0;  // the step hook terminates the loop at this step
    i32 steps = 0;
    i32 accepts = 0;
    std::vector<i32> maintenanceAfter;  // the step count at each maintenance pass
    bool nestedStepRan = true;
    bool assertOnce = false;

protected:
    void OnAccept() override {
        ++accepts;
        nestedStepRan = RunAcceptStep();
        if (assertOnce) {
            assertOnce = false;
            GML_ASSERT(false, "accept step failed");
        }
    }
    void OnStep() override {
        if (++steps == stopAfterSteps) Terminate(0);
    }
    void OnMaintenance() override { maintenanceAfter.push_back(steps); }
};

TEST(TryWaiting, EntersAFreeSectionAndLeavesItAtTheEndOfTheScope) {
    tCriticalSection section;
    {
        tTryWaiting hold(&section);
        EXPECT_TRUE(hold.IsEntered());
        EXPECT_TRUE(section.IsHeldByMe());
    }
    EXPECT_FALSE(section.IsHeldByMe());
    tTryWaiting none(nullptr);
    EXPECT_FALSE(none.IsEntered());
}

TEST(SockServer, LoopStepsEveryRoundAndMaintainsAfter50RoundsThenEvery51) {
    tRecordingServer server;
    ASSERT_TRUE(server.Listen(0));
    server.stopAfterSteps = 160;
    EXPECT_EQ(server.Execute(), 0);
    EXPECT_EQ(server.steps, 160);
    EXPECT_EQ(server.accepts, 160) << "one accept step per round while listening";
    EXPECT_EQ(server.maintenanceAfter, (std::vector<i32>{50, 101, 152}));
    EXPECT_TRUE(server.IsTerminated());
    // Accepts still running on the socket return nothing from now on.
    ASSERT_NE(server.GetListenSocket(), nullptr);
    EXPECT_TRUE(server.GetListenSocket()->IsRefusing());
    EXPECT_EQ(server.GetListenSocket()->GetHandle(), -1);
}

TEST(SockServer, WithoutAListeningSocketTheLoopRunsNoAcceptStep) {
    tRecordingServer server;
    server.stopAfterSteps = 3;
    EXPECT_EQ(server.Execute(), 0);
    EXPECT_EQ(server.steps, 3);
    EXPECT_EQ(server.accepts, 0);
}

TEST(SockServer, AStepInsideOnAcceptMakesAnotherOneSkip) {
    tRecordingServer server;
    EXPECT_TRUE(server.RunAcceptStep());
    EXPECT_EQ(server.accepts, 1);
    EXPECT_FALSE(server.nestedStepRan) << "the nested step ran OnAccept a second time";
    // A step that left with an assertion was counted out all the same.
    server.assertOnce = true;
    EXPECT_EQ(gmtest::AssertText([&] { server.RunAcceptStep(); }), "accept step failed");
    EXPECT_TRUE(server.RunAcceptStep());
    EXPECT_EQ(server.accepts, 3);
}

TEST(SockServer, BindToATakenPortIsTriedAsOftenAsPacedThenFails) {
    std::unique_ptr<tSocket> holder = gmtest::ListenOnLoopback();
    ASSERT_NE(holder, nullptr);
    const i32 taken = holder->GetPort();
    tRecordingServer server;
    gmtest::ConsoleCapture console;
    EXPECT_FALSE(server.Listen(taken));
    std::string line =
        "[SOCKSERVER] Trying connect to port " + std::to_string(taken) + " - bind error #10048\n";
    EXPECT_EQ(console.Get(), line + line + line);
    EXPECT_EQ(server.GetListenSocket(), nullptr);
    EXPECT_EQ(server.GetPort(), -1);
}

TEST(SockServer, ListenOnPortZeroReportsThePortTheSystemChose) {
    tRecordingServer server;
    EXPECT_EQ(server.GetPort(), -1);
    ASSERT_TRUE(server.Listen(0));
    const i32 chosen = server.GetPort();
    EXPECT_GT(chosen, 0);
    std::unique_ptr<tSocket> client = gmtest::ConnectLoopback(static_cast<u16>(chosen));
    ASSERT_NE(client, nullptr);
    EXPECT_NE(server.GetListenSocket()->AcceptCounted(5), nullptr);
    // A second Listen replaces the socket: the old port is free again.
    ASSERT_TRUE(server.ListenAddr(0, "127.0.0.1"));
    EXPECT_NE(server.GetPort(), chosen);
    tRecordingServer other;
    EXPECT_TRUE(other.Listen(chosen));
}

TEST(SockServer, CreateSocketMakesAnEmptyStreamSocket) {
    struct tMaker : tRecordingServer {
        using tSockServer::CreateSocket;
    } server;
    const std::unique_ptr<tSocket> socket = server.CreateSocket();
    ASSERT_NE(socket, nullptr);
    EXPECT_EQ(socket->GetHandle(), -1);
}

TEST(SockServer, SocketsThatCannotBeMadeOrBoundFailListen) {
    const struct {
        i32 port;
        const char* address;  // null: Listen
        const char* message;
    } cases[] = {
        {-1, nullptr, "[SOCKSERVER] Failed to create Socket on port -1 - error #10022\n"},
        {65536, nullptr, "[SOCKSERVER] Failed to create Socket on port 65536 - error #10022\n"},
        {70000, "127.0.0.1",
         "[SOCKSERVER] Failed to create Socket on port 70000 Addr 127.0.0.1 - error #10022\n"},
        {0, "no-such-host.invalid",
         "[SOCKSERVER] Trying connect to port 0 - bind error #11001\n"
         "[SOCKSERVER] Trying connect to port 0 - bind error #11001\n"
         "[SOCKSERVER] Trying connect to port 0 - bind error #11001\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        tRecordingServer server;
        gmtest::ConsoleCapture console;
        EXPECT_FALSE(c.address ? server.ListenAddr(c.port, c.address) : server.Listen(c.port));
        EXPECT_EQ(console.Get(), c.message);
        EXPECT_EQ(server.GetListenSocket(), nullptr);
    }
}

TEST(SockServer, ShuttingDownStopsBindRetriesAndTheLoopAtOnce) {
    tThreadList threads;
    tShutdownPacing noWait;
    noWait.pause = [](i32) {};
    threads.SetShutdownPacing(noWait);
    {
        gmtest::ConsoleCapture quiet;
        threads.Shutdown();
    }
    std::unique_ptr<tSocket> holder = gmtest::ListenOnLoopback();
    ASSERT_NE(holder, nullptr);
    tRecordingServer server(&threads);
    gmtest::ConsoleCapture console;
    EXPECT_FALSE(server.Listen(holder->GetPort()));
    EXPECT_EQ(console.Get(), "") << "no bind was tried";
    server.stopAfterSteps = 1000;
    EXPECT_EQ(server.Execute(), 0);
    EXPECT_EQ(server.steps, 0);
}

TEST(SockServer, LimitTakes1To32000) {
    tRecordingServer server;
    EXPECT_EQ(server.GetLimit(), 20);
    const struct {
        i32 limit;
        i32 result;
        i32 kept;
    } cases[] = {{0, -1, 20},           {32001, -1, 20}, {-5, -1, 20},
                 {32000, 32000, 32000}, {1, 1, 1},       {0, -1, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.limit);
        EXPECT_EQ(server.SetLimit(c.limit), c.result);
        EXPECT_EQ(server.GetLimit(), c.kept);
    }
}

TEST(SockServer, EnabledUntilDisabled) {
    tRecordingServer server;
    EXPECT_TRUE(server.IsEnabled());
    EXPECT_TRUE(server.Disable());
    EXPECT_FALSE(server.IsEnabled());
    EXPECT_TRUE(server.Enable());
    EXPECT_TRUE(server.IsEnabled());
}

TEST(SockServer, CountGuardsCountForTheirLifeAndIgnoreANullServer) {
    tRecordingServer server;
    {
        tThreadCountGuard thread(&server);
        tThreadCountGuard other(&server);
        tBusyCountGuard busy(&server);
        tThreadCountGuard none(nullptr);
        tBusyCountGuard noneBusy(nullptr);
        EXPECT_EQ(server.GetThreadCount(), 2);
        EXPECT_EQ(server.GetBusyCount(), 1);
    }
    EXPECT_EQ(server.GetThreadCount(), 0);
    EXPECT_EQ(server.GetBusyCount(), 0);
}

// A connection whose answers and end the tests can see.
class tAnsweringConn : public tSockConn {
public:
    tString GetClientComputer() override { return tString("PC-7"); }
    tString GetClientUser() override { return tString("bob"); }
    bool Done() override { return false; }
};

// A worker whose connection the test sets; never started.
class tTestWorker : public tWThreadBase {
public:
    tTestWorker() : tWThreadBase(nullptr, nullptr) {}
    tAnsweringConn* Serve() {
        tWaiting hold(&connectionLock, __FILE__, __LINE__);
        HoldConnection(std::make_unique<tAnsweringConn>());
        return static_cast<tAnsweringConn*>(GetConnection());
    }
    void Clear() {
        tWaiting hold(&connectionLock, __FILE__, __LINE__);
        HoldConnection(nullptr);
    }
    void HoldWithoutLock() { HoldConnection(nullptr); }
};

TEST(WThreadBase, IdleWorkerAnswersEmptyTextsAndDone) {
    tTestWorker worker;
    EXPECT_EQ(worker.GetConnection(), nullptr);
    EXPECT_STREQ(worker.GetClientComputer(), "");
    EXPECT_STREQ(worker.GetClientUser(), "");
    EXPECT_TRUE(worker.Done());
    EXPECT_EQ(worker.GetThreadType(), kThreadTypeWThread);
    EXPECT_FALSE(worker.CanKill());
}

TEST(WThreadBase, WorkerAnswersForTheConnectionItServes) {
    tTestWorker worker;
    worker.Serve();
    EXPECT_STREQ(worker.GetClientComputer(), "PC-7");
    EXPECT_STREQ(worker.GetClientUser(), "bob");
    EXPECT_FALSE(worker.Done());
    // Kill permission and type are the worker's own, set by whoever attached the connection.
    EXPECT_FALSE(worker.CanKill());
    worker.SetCanKill(1);
    worker.SetThreadType(kThreadTypeGenServer);
    EXPECT_TRUE(worker.CanKill());
    EXPECT_EQ(worker.GetThreadType(), kThreadTypeGenServer);
    worker.Clear();
    EXPECT_STREQ(worker.GetClientUser(), "");
    EXPECT_TRUE(worker.Done());
}

TEST(WThreadBase, TerminateReachesTheConnectionWithTheSameForce) {
    for (u8 force : {0, 1}) {
        SCOPED_TRACE(force);
        tTestWorker worker;
        tAnsweringConn* conn = worker.Serve();
        worker.Terminate(force);
        EXPECT_TRUE(conn->IsTerminated());
        EXPECT_EQ(conn->IsKilled(), force != 0);
        EXPECT_TRUE(worker.IsTerminated());
        EXPECT_EQ(worker.IsKilled(), force != 0);
    }
    tTestWorker idle;
    idle.Terminate(1);
    EXPECT_TRUE(idle.IsKilled());
}

TEST(WThreadBase, ChangingTheConnectionWithoutItsLockIsAnAssertion) {
    tTestWorker worker;
    EXPECT_EQ(gmtest::AssertText([&] { worker.HoldWithoutLock(); }),
              "connection changed without its lock");
}

}  // namespace
