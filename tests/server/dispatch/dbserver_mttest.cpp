// Client connections on real threads: a monitor's kill racing the end of a connection (whichever
// of Terminate and Done comes first, the user is uncounted exactly once and every lock of the
// connection is released), kills during served requests, and clients served by the workers of a
// started server.
#include <gtest/gtest.h>

#include <thread>

#include "lib_common/opcodes.h"
#include "platform/event.h"
#include "server/dispatch/dbserver.h"
#include "server/locks/lockengine.h"
#include "server/process/pellmar.h"
#include "tests/server/dispatch/support/dbserverfixture.h"
#include "tests/support/gmtest.h"

namespace {

class DBServerThreads : public gmtest::DBServerTest {};

TEST_F(DBServerThreads, KillRacingTheEndUncountsOnceAndReleasesAll) {
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

TEST_F(DBServerThreads, KillOfAServedConnectionEndsItsLoopAndKeepsOthersCounted) {
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

// A thread list for one server, kept to the end of the process: workers that delete themselves
// touch it last.
tThreadList& KeptThreadList() {
    static tThreadList* const list = new tThreadList;
    return *list;
}

TEST_F(DBServerThreads, StartedServerServesClientsOnItsWorkers) {
    StartGlobals("ThreadMin=2\nThreadInc=1\n");
    ScriptConnections();
    globals->SetThreadList(&KeptThreadList());
    tListenerPacing pacing;
    pacing.roundMs = 50;
    SetListenerPacing(pacing);
    const u16 port = static_cast<u16>(listener->GetPort());
    listener.reset();  // the server takes the port
    gmtest::ConsoleCapture quiet;
    ASSERT_TRUE(StartServer(globals.get(), port));
    for (int client = 0; client < 3; ++client) {
        SCOPED_TRACE(client);
        auto socket = gmtest::ConnectLoopback(port);
        ASSERT_NE(socket, nullptr);
        const std::string packet =
            gmtest::ConnectPacket('0', gmtest::ConnectTexts("MSSQL/ERP", "ERP", "ana", "PC01"));
        ASSERT_EQ(socket->Send(packet.data(), static_cast<i32>(packet.size()), 0),
                  static_cast<i32>(packet.size()));
        EXPECT_EQ(gmtest::ReadFrame(*socket), gmtest::Short(0) + "WinNT" + '\0');
        const std::string sid = gmtest::Request(OP_GETSID);
        ASSERT_EQ(socket->Send(sid.data(), 6, 0), 6);
        EXPECT_EQ(gmtest::ReadFrame(*socket).size(), 4u);
        const std::string bye = gmtest::Request(OP_DISCONNECT);
        ASSERT_EQ(socket->Send(bye.data(), 6, 0), 6);
        EXPECT_EQ(gmtest::ReadFrame(*socket), gmtest::kClosed);  // the worker ended it
    }
    EndServer(globals.get());
    SetListenerPacing(tListenerPacing());
    EXPECT_EQ(script.checkUps, 1);
    EXPECT_EQ(globals->GetActiveConnections(), 0u);
}

}  // namespace
