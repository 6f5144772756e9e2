// Client connections of a slave server: their lock clients at the master (the attempts, the
// refusal when there is no master, the log line), the end of a connection whose master link
// broke, and the release at the master when a connection ends. The master is a lock listener in
// this process over the same lock servers; the slave's connections reach it only through the
// lock-client connection.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "lib_base/stringz.h"
#include "server/locks/lockengine.h"
#include "server/process/gmlserver.h"
#include "tests/server/dispatch/support/dbserverfixture.h"
#include "tests/server/process/support/lockmaster.h"
#include "tests/support/gmtest.h"

namespace {

using gmtest::Eventually;
using gmtest::LockListener;
using gmtest::ReadFrame;
using gmtest::Short;

// A request for sub-code 51 or 52 of the service channel with its key.
std::string NamedLock(u8 subcode, const std::string& key) {
    const i16 length = static_cast<i16>(key.size());
    return std::string(1, static_cast<char>(subcode)) + Short(length) + key;
}

class SlaveConnections : public gmtest::DBServerTest {
protected:
    void SetUp() override {
        ScriptConnections();
        globals->SetServer(&slave);
    }
    void TearDown() override { globals->SetServer(nullptr); }

    // The slave's ini pointing at the master's port; the globals keep the slave's mode.
    void PointAt(u16 port) {
        StartGlobals("MasterServer=127.0.0.1\nMasterPort=" + std::to_string(port) + "\n");
        globals->SetServer(&slave);
    }
    int ConnectErrorLines() {
        int count = 0;
        for (const std::string& entry : LogEntries()) {
            if (entry.find("Connect Error (") != std::string::npos) ++count;
        }
        return count;
    }
    // Whether a holder other than the slave's could take the named lock at the master now.
    bool NamedLockFree(const char* key) {
        tVirtualLockEngine& virtuals = *globals->GetVirtualLockServer();
        tString info;
        if (!virtuals.VLock(9999, key, 9999, "", info)) return false;
        virtuals.VUnLock(9999, key, 9999, "");
        return true;
    }
    std::unique_ptr<gmtest::Session> Refused() {
        auto session = Open(gmtest::ConnectTexts("MSSQL/ERP", "ERP", "ana", "PC01"));
        EXPECT_EQ(ReadFrame(*session->client), Short(RC_MASTER_UNREACHABLE));
        session->Join();
        EXPECT_EQ(session->result, RC_MASTER_UNREACHABLE);
        session->End();
        return session;
    }

    tGMLServer slave{nullptr, kModeSlave, false};
};

TEST_F(SlaveConnections, WithoutAMasterTheConnectIsRefusedAfterTenAttempts) {
    // A peer that takes the connection and closes it: every attempt fails, none says -33.
    std::unique_ptr<tSocket> peer = gmtest::ListenOnLoopback();
    ASSERT_NE(peer, nullptr);
    std::atomic<int> accepted{0};
    std::atomic<bool> stop{false};
    std::thread acceptor([&] {
        while (auto socket = peer->Accept()) {
            if (stop) break;
            ++accepted;
        }
    });
    PointAt(static_cast<u16>(peer->GetPort()));
    Refused();
    EXPECT_EQ(accepted.load(), 10);
    EXPECT_EQ(ConnectErrorLines(), 1);
    stop = true;
    gmtest::ConnectLoopback(static_cast<u16>(peer->GetPort()));
    acceptor.join();
    EXPECT_TRUE(script.made.empty());

    // Nothing listening at all.
    const u16 closed = static_cast<u16>(peer->GetPort());
    peer.reset();
    PointAt(closed);
    Refused();
    EXPECT_EQ(ConnectErrorLines(), 2);
}

TEST_F(SlaveConnections, AServerThatIsNoMasterIsAskedOnce) {
    LockListener standalone;
    ASSERT_TRUE(standalone.Start(kModeStandalone));
    PointAt(standalone.Port());
    gmtest::ConsoleCapture console;
    Refused();
    const std::string printed = console.Get();
    const std::string head = "Exit GmlClient Thread (";
    const std::string tail = ") [DBSERVER_INITERROR]\n";
    const size_t exit = printed.find(head);
    ASSERT_NE(exit, std::string::npos) << printed;
    const std::string line = printed.substr(exit, printed.find('\n', exit) + 1 - exit);
    ASSERT_GT(line.size(), head.size() + tail.size()) << line;
    EXPECT_EQ(line.substr(line.size() - tail.size()), tail);
    const std::string thread = line.substr(head.size(), line.size() - head.size() - tail.size());
    EXPECT_EQ(thread.find_first_not_of("0123456789"), std::string::npos) << line;
    EXPECT_EQ(standalone.made.load(), 1);
    const std::vector<std::string> entries = LogEntries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_NE(entries[0].find("Connect Error (-33) on ServerMaster 127.0.0.1:" +
                              std::to_string(standalone.Port())),
              std::string::npos);
}

TEST_F(SlaveConnections, LocksLiveAtTheMasterAndGoWithTheConnection) {
    LockListener master;
    ASSERT_TRUE(master.Start(kModeMaster));
    PointAt(master.Port());
    auto session = OpenConnected();
    EXPECT_EQ(master.made.load(), 1);
    EXPECT_EQ(session->Exchange(OP_INTERNALF, NamedLock(51, "SEQ")), std::string("1") + '\0');
    EXPECT_FALSE(NamedLockFree("SEQ"));
    // The slave's own lock server never saw it: the lock is the master's lock connection's.
    EXPECT_EQ(session->Exchange(OP_INTERNALF, NamedLock(52, "SEQ")), std::string("1") + '\0');
    EXPECT_TRUE(NamedLockFree("SEQ"));
    EXPECT_EQ(session->Exchange(OP_INTERNALF, NamedLock(51, "SEQ")), std::string("1") + '\0');
    session->Disconnect();
    session->End();
    EXPECT_TRUE(Eventually([&] { return NamedLockFree("SEQ"); }));
}

TEST_F(SlaveConnections, ALostMasterEndsEachConnectionAtItsNextLockAndRefusesNewOnes) {
    auto master = std::make_unique<LockListener>();
    ASSERT_TRUE(master->Start(kModeMaster));
    const u16 port = master->Port();
    PointAt(port);
    auto first = OpenConnected();
    auto second = OpenConnected();
    master.reset();

    // The request is answered from the failed exchange, then the connection ends.
    EXPECT_EQ(first->Exchange(OP_INTERNALF, NamedLock(51, "SEQ")), std::string("0") + '\0');
    first->Join();
    EXPECT_EQ(ReadFrame(*first->client), gmtest::kClosed);
    EXPECT_EQ(second->Exchange(OP_INTERNALF, NamedLock(51, "SEQ")), std::string("0") + '\0');
    second->Join();
    int lost = 0;
    for (const std::string& entry : LogEntries()) {
        if (entry.find(") RECORD_LOCK communication failure !!! (ISCONNECTED)") !=
            std::string::npos) {
            ++lost;
        }
    }
    EXPECT_EQ(lost, 2);
    first->End();
    second->End();

    Refused();
    Refused();
    master = std::make_unique<LockListener>();
    ASSERT_TRUE(master->Start(kModeMaster, port));
    auto back = OpenConnected();
    EXPECT_EQ(back->Exchange(OP_INTERNALF, NamedLock(51, "SEQ")), std::string("1") + '\0');
    back->Disconnect();
    back->End();
}

}  // namespace
