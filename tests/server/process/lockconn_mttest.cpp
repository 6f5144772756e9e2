// Lock connections against a master running in this process, through the client library's
// lock-client exports and over bare sockets: the connect reply in each mode, every operation's
// reply, holders told apart by their connection, the release when a connection ends however it
// ends, and requests that end only their own connection.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "lib_common/opcodes.h"
#include "server/locks/lockengine.h"
#include "server/runtime/globals.h"
#include "tests/server/process/support/lockmaster.h"
#include "tests/support/gmtest.h"

namespace {

using gmtest::Eventually;
using gmtest::LockMaster;
using gmtest::MonitorClient;
using gmtest::ReadFileText;

constexpr u32 kHash = 7;
constexpr const char* kTable = "SA1010";

class LockConnTest : public LockMaster {
protected:
    void SetUp() override {
        LockMaster::SetUp();
        StartServer(kModeMaster);
    }
    // Whether another holder can take the record now (and lets it go again).
    bool Free(GM_HANDLE probe, const char* table, double recno) {
        if (GM_LockClientRLock(probe, 999, kHash, table, recno) != -31) return false;
        EXPECT_EQ(GM_LockClientRUnLock(probe, 999, kHash, table, recno), 0);
        return true;
    }
};

TEST_F(LockConnTest, EveryOperationAnswersWithItsCode) {
    const GM_HANDLE a = Client();
    const GM_HANDLE b = Client();
    // Record locks: -31 is yes. Equal owners on two connections are two holders.
    EXPECT_EQ(GM_LockClientRLock(a, 1, kHash, kTable, 5), -31);
    EXPECT_EQ(GM_LockClientRLock(a, 1, kHash, kTable, 5), -31);
    EXPECT_EQ(GM_LockClientRLock(b, 1, kHash, kTable, 5), 0);
    EXPECT_EQ(GM_LockClientIsLocked(a, 1, kHash, kTable, 5), -31);
    EXPECT_EQ(GM_LockClientIsLocked(b, 1, kHash, kTable, 5), 0);
    // The holder's information text, and none for a free record.
    EXPECT_EQ(GM_LockClientSetOwnerInfo(a, 1, "alice|pc01"), 0);
    char info[GM_LOCK_OWNER_SIZE] = "unchanged";
    EXPECT_EQ(GM_LockClientLockOwnerInfo(b, kHash, kTable, 5, info), 0);
    EXPECT_STREQ(info, "alice|pc01");
    std::strcpy(info, "unchanged");
    EXPECT_EQ(GM_LockClientLockOwnerInfo(b, kHash, kTable, 6, info), -25);
    EXPECT_STREQ(info, "unchanged");
    // An unlock of what b does not hold is done all the same, and changes nothing.
    EXPECT_EQ(GM_LockClientRUnLock(b, 1, kHash, kTable, 5), 0);
    EXPECT_EQ(GM_LockClientRLock(b, 2, kHash, kTable, 5), 0);
    EXPECT_EQ(GM_LockClientRUnLock(a, 1, kHash, kTable, 5), 0);
    EXPECT_EQ(GM_LockClientRLock(b, 2, kHash, kTable, 5), -31);

    // Table locks, named locks: -31 is no.
    EXPECT_EQ(GM_LockClientFLock(a, 1, kHash, "SB1010"), 0);
    EXPECT_EQ(GM_LockClientFLock(b, 1, kHash, "SB1010"), -31);
    EXPECT_EQ(GM_LockClientRLock(b, 1, kHash, "SB1010", 3), 0);
    EXPECT_EQ(GM_LockClientFUnLock(a, 1, kHash, "SB1010"), 0);
    EXPECT_EQ(GM_LockClientFLock(b, 1, kHash, "SB1010"), 0);
    EXPECT_EQ(GM_LockClientVLock(a, 1, "SEQ", "ERP"), 0);
    EXPECT_EQ(GM_LockClientVLock(b, 1, "SEQ", "ERP"), -31);
    EXPECT_EQ(GM_LockClientVUnLock(b, 1, "SEQ", "ERP"), -31);
    EXPECT_EQ(GM_LockClientVUnLock(a, 1, "SEQ", "ERP"), 0);
    EXPECT_EQ(GM_LockClientVLock(b, 1, "SEQ", "ERP"), 0);

    // Record numbers and openings.
    EXPECT_EQ(GM_LockClientSetRecCount(a, kHash, "SC1010", 100), 0);
    EXPECT_EQ(GM_LockClientRecCount(b, kHash, "SC1010"), 100.0);
    EXPECT_EQ(GM_LockClientNextRecno(a, 1, kHash, "SC1010"), 101.0);
    EXPECT_EQ(GM_LockClientNextRecno(b, 1, kHash, "SC1010"), 102.0);
    EXPECT_EQ(GM_LockClientSetOpen(a, 1, kHash, "SC1010", 1), 0);
    EXPECT_EQ(GM_LockClientSetOpen(b, 1, kHash, "SC1010", 0), -15);
    EXPECT_EQ(GM_LockClientSetClose(b, 1, kHash, "SC1010"), -10);
    EXPECT_EQ(GM_LockClientSetClose(a, 1, kHash, "SC1010"), 0);
    EXPECT_EQ(GM_LockClientSetOpen(b, 1, kHash, "SC1010", 0), 0);
    EXPECT_EQ(GM_LockClientIsConnected(a), 1);
    EXPECT_EQ(GM_LockClientIsConnected(b), 1);
}

TEST_F(LockConnTest, NumberAndFreeRecordRepliesCarryNothingElse) {
    i16 code = 1;
    auto raw = RawClient(code);
    ASSERT_EQ(code, 0);
    struct tCase {
        i16 opcode;
        u32 frameLength;
    };
    for (const tCase& c :
         {tCase{OP_NEXTRECNO, 12}, tCase{OP_GETLASTREC, 12}, tCase{OP_LOCKINFO, 6}}) {
        SCOPED_TRACE(c.opcode);
        tCommBuffer& out = raw->Request(c.opcode);
        if (c.opcode == OP_NEXTRECNO) out.PutLong(1);
        out.PutLong(kHash);
        out.PutString(kTable);
        if (c.opcode == OP_LOCKINFO) out.PutDouble(9);
        ASSERT_NE(raw->Call(), nullptr);
        EXPECT_EQ(raw->in.GetFrameLength(), c.frameLength);
        if (c.opcode == OP_LOCKINFO) {
            i16 status = 0;
            raw->in.GetShort(status);
            EXPECT_EQ(status, -25);
        }
    }
}

TEST_F(LockConnTest, OnlyAMasterServesLockConnections) {
    for (const u32 mode : {kModeStandalone, kModeSlave}) {
        SCOPED_TRACE(mode);
        StopServer();
        StartServer(mode);
        // A local client's lock, at location 0, outlives the refused connections' end.
        tRecordLockEngine& records = *globals->GetRecordLockServer();
        ASSERT_TRUE(records.RLock(1, kHash, kTable, 5, 0));
        i16 code = 1;
        Client(&code);
        EXPECT_EQ(code, -33);
        auto raw = RawClient(code);
        EXPECT_EQ(code, -33);
        EXPECT_TRUE(raw->IsClosedByServer());
        StopServer();  // every connection has ended
        EXPECT_FALSE(records.RLock(2, kHash, kTable, 5, 0));
    }
}

TEST_F(LockConnTest, DisconnectAndUnknownOpcodeEndTheConnection) {
    gmtest::ConsoleCapture console;
    const GM_HANDLE a = Client();
    EXPECT_EQ(GM_LockClientRLock(a, 1, kHash, kTable, 5), -31);
    EXPECT_EQ(GM_DisconnectLockClient(a), 0);
    EXPECT_TRUE(Eventually(
        [&] { return console.Get().find("End LockConn Thread (") != std::string::npos; }));
    const std::string ended = console.Get();
    EXPECT_NE(ended.find("Begin LockConn Thread ("), std::string::npos);
    EXPECT_NE(ended.find(") (IOs 2 / RCV "), std::string::npos) << ended;
    const GM_HANDLE probe = Client();
    EXPECT_TRUE(Eventually([&] { return Free(probe, kTable, 5); }));

    i16 code = 1;
    auto raw = RawClient(code);
    ASSERT_EQ(code, 0);
    raw->Request(33).PutLong(1);
    ASSERT_TRUE(raw->Send());
    EXPECT_TRUE(raw->IsClosedByServer());
    EXPECT_NE(console.Get().find("[ERROR] (tLockConn) Operation (21) IGNORED - Thread ("),
              std::string::npos);
}

TEST_F(LockConnTest, AConnectionClosedWithoutGoodbyeReleasesWhatItHeld) {
    const GM_HANDLE probe = Client();
    {
        i16 code = 1;
        auto raw = RawClient(code);
        ASSERT_EQ(code, 0);
        raw->Request(OP_LOCK).PutLong(1);
        raw->out.PutLong(kHash);
        raw->out.PutString(kTable);
        raw->out.PutDouble(5);
        ASSERT_NE(raw->Call(), nullptr);
        i16 status = 0;
        raw->in.GetShort(status);
        ASSERT_EQ(status, -31);
        ASSERT_FALSE(Free(probe, kTable, 5));
    }  // the socket closes
    EXPECT_TRUE(Eventually([&] { return Free(probe, kTable, 5); }));
    EXPECT_TRUE(Eventually([&] {
        return ReadFileText(LogPath()).find(") disconnected prematurely.") != std::string::npos;
    }));
}

TEST_F(LockConnTest, ReleaseOfEveryTableStaysWithThatOwnerAndConnection) {
    const GM_HANDLE a = Client();
    const GM_HANDLE b = Client();
    const GM_HANDLE probe = Client();
    EXPECT_EQ(GM_LockClientRLock(a, 1, kHash, kTable, 5), -31);
    EXPECT_EQ(GM_LockClientFLock(a, 1, 300, "SB1010"), 0);
    EXPECT_EQ(GM_LockClientRLock(a, 2, kHash, kTable, 6), -31);  // another owner
    EXPECT_EQ(GM_LockClientRLock(b, 1, kHash, kTable, 7), -31);  // another connection
    EXPECT_EQ(GM_LockClientFUnLock(a, 1, 0, nullptr), 0);
    EXPECT_TRUE(Free(probe, kTable, 5));
    EXPECT_EQ(GM_LockClientFLock(probe, 9, 300, "SB1010"), 0);
    EXPECT_FALSE(Free(probe, kTable, 6));
    EXPECT_FALSE(Free(probe, kTable, 7));
}

// Each request ends its own connection, whose locks go, while another connection serves on.
TEST_F(LockConnTest, MalformedRequestsEndOnlyTheirConnection) {
    const GM_HANDLE probe = Client();
    const GM_HANDLE other = Client();
    ASSERT_EQ(GM_LockClientRLock(other, 1, kHash, kTable, 1), -31);
    struct tCase {
        const char* name;
        std::function<void(MonitorClient&)> send;
    };
    const auto lockOfBucket = [](i32 hash) {
        return [hash](MonitorClient& raw) {
            raw.Request(OP_LOCK).PutLong(1);
            raw.out.PutLong(hash);
            raw.out.PutString(kTable);
            raw.out.PutDouble(9);
            EXPECT_TRUE(raw.Send());
        };
    };
    const std::vector<tCase> cases = {
        {"bucket 600", lockOfBucket(600)},
        {"bucket -1", lockOfBucket(-1)},
        {"record number not a number",
         [](MonitorClient& raw) {
             raw.Request(OP_ISLOCKED).PutLong(1);
             raw.out.PutLong(kHash);
             raw.out.PutString(kTable);
             raw.out.PutDouble(std::nan(""));
             EXPECT_TRUE(raw.Send());
         }},
        {"table without its end",
         [](MonitorClient& raw) {
             raw.Request(OP_FLOCK).PutLong(1);
             raw.out.PutLong(kHash);
             raw.out.PutBytes("SA10", 4);
             EXPECT_TRUE(raw.Send());
         }},
        {"arguments missing",
         [](MonitorClient& raw) {
             raw.Request(OP_SETOPEN).PutLong(1);
             EXPECT_TRUE(raw.Send());
         }},
        {"header below 6",
         [](MonitorClient& raw) { EXPECT_TRUE(raw.SendBytes(std::string("\x05\0\0\0\x13", 5))); }},
        {"header above the largest frame",
         [](MonitorClient& raw) {
             EXPECT_TRUE(raw.SendBytes(std::string("\xff\xff\xff\x7f\x13\0", 6)));
         }},
    };
    for (const tCase& c : cases) {
        SCOPED_TRACE(c.name);
        i16 code = 1;
        auto raw = RawClient(code);
        ASSERT_EQ(code, 0);
        raw->Request(OP_FLOCK).PutLong(1);
        raw->out.PutLong(kHash);
        raw->out.PutString("SZ1010");
        ASSERT_NE(raw->Call(), nullptr);
        ASSERT_EQ(GM_LockClientFLock(probe, 9, kHash, "SZ1010"), -31);
        c.send(*raw);
        EXPECT_TRUE(raw->IsClosedByServer());
        EXPECT_TRUE(Eventually([&] { return GM_LockClientFLock(probe, 9, kHash, "SZ1010") == 0; }));
        EXPECT_EQ(GM_LockClientFUnLock(probe, 9, kHash, "SZ1010"), 0);
    }
    EXPECT_EQ(GM_LockClientIsLocked(other, 1, kHash, kTable, 1), -31);
    // The library's own bad bucket goes the same way: its connection drops.
    EXPECT_EQ(GM_LockClientRLock(other, 1, 600, kTable, 1), -88);
    EXPECT_EQ(GM_LockClientIsConnected(other), 0);
    EXPECT_TRUE(Eventually([&] { return Free(probe, kTable, 1); }));
}

}  // namespace
