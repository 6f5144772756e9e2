// A monitor's kill racing the end of a client connection: whichever of Terminate and Done comes
// first, the user is uncounted exactly once and every lock of the connection is released.
#include <gtest/gtest.h>

#include <thread>

#include "lib_common/opcodes.h"
#include "platform/event.h"
#include "server/dispatch/dbserver.h"
#include "server/locks/lockengine.h"
#include "tests/server/dispatch/support/dbserverfixture.h"
#include "tests/support/gmtest.h"

namespace {

class DBServerKill : public gmtest::DBServerTest {};

TEST_F(DBServerKill, KillRacingTheEndUncountsOnceAndReleasesAll) {
    ScriptConnections();
    gmtest::ConsoleCapture quiet;      // the rounds print their begin, end and kill lines
    auto bystander = OpenConnected();  // one user that stays counted throughout
    tRecordLockEngine& records = *globals->GetRecordLockServer();
    constexpr int kRounds = 40;
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE(round);
        auto session = OpenConnected();
        session->Disconnect();
        tDBServer& server = *session->server;
        ASSERT_TRUE(records.RLock(server.GetThreadId(), 7, "ERP|SA1010", 1, 0));
        plat::ManualResetEvent go;
        std::thread monitor([&] {
            go.Wait(-1);
            server.Terminate(0);
        });
        std::thread worker([&] {
            go.Wait(-1);
            server.Done();
        });
        go.Set();
        monitor.join();
        worker.join();
        EXPECT_EQ(globals->GetUserConnections(), 1u);
        EXPECT_EQ(globals->GetActiveConnections(), 1u);
        EXPECT_TRUE(records.RLock(4242, 7, "ERP|SA1010", 1, 0));
        records.RUnLock(4242, 7, "ERP|SA1010", 0, 0);
        session->server.reset();
    }
    bystander->Disconnect();
    bystander->End();
    EXPECT_EQ(globals->GetUserConnections(), 0u);
}

TEST_F(DBServerKill, KillOfAServedConnectionEndsItsLoopAndKeepsOthersCounted) {
    ScriptConnections();
    gmtest::ConsoleCapture quiet;
    auto bystander = OpenConnected();
    constexpr int kRounds = 8;
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE(round);
        auto session = OpenConnected();
        std::thread monitor([&] { session->server->Terminate(0); });
        // Requests may still come while the kill runs; each is answered or finds the end.
        const std::string reply = session->Exchange(OP_GETSID);
        EXPECT_TRUE(reply.size() == 4 || reply == gmtest::kClosed) << reply;
        monitor.join();
        session->Join();  // the loop leaves within its wait
        EXPECT_EQ(session->result, 1);
        session->End();
        EXPECT_EQ(globals->GetUserConnections(), 1u);
    }
    bystander->Disconnect();
    bystander->End();
}

}  // namespace
