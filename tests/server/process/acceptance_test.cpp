// Acceptance of one connection over real loopback sockets, run on the test thread with a worker
// that is not started: the connect packet's checks and refusals, the receive time-out, the byte
// order, the critical-memory refusal, the factory, and the exception report with the object's
// end. The connect packet's receipt from a scripted source, piece by piece.
#include "server/process/acceptance.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "lib_common/opcodes.h"
#include "server/dispatch/dbserver.h"
#include "server/process/lockconn.h"
#include "server/process/monitor.h"
#include "tests/server/process/support/acceptfixture.h"
#include "tests/support/bytesource.h"
#include "tests/support/gmtest.h"

namespace {

using gmtest::Body;
using gmtest::ConnectPacket;
using gmtest::ReplyOf;
using gmtest::WireLong;

const std::string kNoText;
const std::string kUnknown = "[WARNING] Unknown Client Connection from [127.0.0.1]. (CLOSED)\n";
const std::string kStars = "****************************************\n";

class Acceptance : public gmtest::AcceptTest {
protected:
    void SetUp() override {
        AcceptTest::SetUp();
        MakeServer(nullptr);
    }

    // Accepts the waiting connection on this thread and runs acceptance for it.
    void Accept() {
        std::unique_ptr<tSocket> accepted = server->GetListenSocket()->Accept();
        ASSERT_NE(accepted, nullptr);
        tWThread worker(nullptr, server.get(), 0);
        AcceptConnection(worker, std::move(accepted));
        workerType = worker.GetThreadType();
        workerCanKill = worker.CanKill();
        workerConnection = worker.GetConnection() != nullptr;
    }
    // Sends bytes, closes the client's sending side, runs acceptance; what the client then reads
    // until the server closes.
    std::string Exchange(const std::string& bytes) {
        std::unique_ptr<tSocket> client = Send(bytes);
        if (!client) return "(no client)";
        client->Shutdown(plat::kShutWrite);
        Accept();
        return gmtest::ReadBytes(*client, 64);
    }

    i32 workerType = -1;
    bool workerCanKill = false;
    bool workerConnection = true;
};

TEST_F(Acceptance, ConnectPacketsReachTheirObjectsOrAreRefused) {
    const std::string head = gmtest::kMagicText + '\0' + '1';
    const struct {
        const char* name;
        std::string bytes;
        std::string console;
        std::string kinds;  // of the objects whose body ran
    } cases[] = {
        {"client", ConnectPacket('0', "user"), kNoText, "0"},
        {"monitor", ConnectPacket('1'), kNoText, "1"},
        {"lock client", ConnectPacket('2'), kNoText, "2"},
        {"other magic", WireLong(12, false) + "XGML\xAE" + '\0' + "10", kUnknown, ""},
        {"kind 3", ConnectPacket('3'),
         "[WARNING] Invalid Client Connection Type [51] from [127.0.0.1]. (CLOSED)\n", ""},
        {"no bytes", "", "[WARNING] Client Connection Error (0): Failed to Receive. (CLOSED)\n",
         ""},
        {"one byte", "\x0C", kUnknown, ""},
        {"three bytes", std::string("\x0C\x00\x00", 3), kUnknown, ""},
        {"magic without its NUL", WireLong(12, false) + gmtest::kMagicText + "10X", kUnknown, ""},
        {"length without the kind", WireLong(11, false) + head + '0', kUnknown, ""},
        {"length past the largest", WireLong(65537, false) + head + '0', kUnknown, ""},
        {"cut short", WireLong(40, false) + head + '0', kUnknown, ""},
        {"zero length", WireLong(0, false) + head + '0', kUnknown, ""},
    };
    MakeEveryKind(Body::Reply);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const int before = log.made;
        gmtest::ConsoleCapture console;
        const std::string answer = Exchange(c.bytes);
        EXPECT_EQ(console.Get(), c.console);
        const bool served = !c.kinds.empty();
        EXPECT_EQ(answer, served ? ReplyOf(c.kinds[0]) : "");
        EXPECT_EQ(log.made - before, served ? 1 : 0);
    }
    EXPECT_EQ(log.Kinds(), "012");
    EXPECT_EQ(log.done, 3);
    EXPECT_EQ(log.Deletions(), 3);
}

TEST_F(Acceptance, WorkerReportsTheKindItServesAndHoldsNothingAfterwards) {
    const struct {
        char kind;
        i32 type;
        bool canKill;
    } cases[] = {{'0', kThreadTypeGenServer, true},
                 {'1', kThreadTypeMonitSockThread, false},
                 {'2', kThreadTypeGenServer, false}};
    MakeEveryKind(Body::Reply);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        Exchange(ConnectPacket(c.kind));
        EXPECT_EQ(workerType, c.type);
        EXPECT_EQ(workerCanKill, c.canKill);
        EXPECT_FALSE(workerConnection);
    }
}

TEST_F(Acceptance, KindWithoutMakerIsClosedWithTheFactoryLine) {
    MakeKind('0', Body::Reply);
    gmtest::ConsoleCapture console;
    EXPECT_EQ(Exchange(ConnectPacket('2')), "");
    EXPECT_EQ(console.Get(),
              "[ERROR] Unable to Create Connection Server Object Type [50]. (CLOSED)\n");
    EXPECT_EQ(log.made, 0);
}

TEST_F(Acceptance, SilentPeerEndsWithFailedToReceiveAfterTheTimeOut) {
    tWorkerPacing pacing;
    pacing.connectTimeoutMs = 200;
    server->SetWorkerPacing(pacing);
    MakeEveryKind(Body::Reply);
    std::unique_ptr<tSocket> client = Send("");  // connected, sends nothing, stays open
    ASSERT_NE(client, nullptr);
    gmtest::ConsoleCapture console;
    Accept();
    EXPECT_EQ(console.Get(),
              "[WARNING] Client Connection Error (-1): Failed to Receive. (CLOSED)\n");
    EXPECT_EQ(log.made, 0);
}

// The packet's rest as a sender of that byte order writes it: i16 -2, i32 0x01020304, f64 1.5.
std::string Numbers(bool bigEndian) {
    const u64 bits = 0x3FF8000000000000ull;  // 1.5
    std::string bytes = bigEndian ? std::string("\xFF\xFE", 2) : std::string("\xFE\xFF", 2);
    bytes += WireLong(0x01020304, bigEndian);
    for (int i = 0; i < 8; ++i) {
        const int shift = bigEndian ? 56 - 8 * i : 8 * i;
        bytes += static_cast<char>((bits >> shift) & 0xFF);
    }
    return bytes;
}

TEST_F(Acceptance, ByteOrderOfThePacketSetsTheSwapFlagForEveryNumber) {
    MakeKind('0', Body::ReadNumbers);
    for (bool bigEndian : {true, false}) {
        SCOPED_TRACE(bigEndian);
        const std::string answer = Exchange(ConnectPacket('0', Numbers(bigEndian), bigEndian));
        std::lock_guard<std::mutex> hold(log.lock);
        EXPECT_EQ(log.swapped, bigEndian);
        EXPECT_FALSE(log.malformed);
        EXPECT_EQ(log.shortValue, -2);
        EXPECT_EQ(log.longValue, 0x01020304);
        EXPECT_EQ(log.doubleValue, 1.5);
        // The reply goes out in the client's order too.
        EXPECT_EQ(answer,
                  WireLong(7, bigEndian) + '0' +
                      (bigEndian ? std::string("\x00\x07", 2) : std::string("\x07\x00", 2)));
    }
}

TEST_F(Acceptance, CriticalMemoryRefusesAllButMonitorsWithMinusSix) {
    const std::string refused = "[ERROR] *** Connection REFUSED due CRITYCAL MEMORY LIMIT ***\n";
    const struct {
        char kind;
        bool bigEndian;
        std::string answer;
        std::string console;
    } cases[] = {
        {'0', false, std::string("\x06\x00\x00\x00\xFA\xFF", 6), refused},
        {'0', true, std::string("\x00\x00\x00\x06\xFF\xFA", 6), refused},
        {'2', false, std::string("\x06\x00\x00\x00\xFA\xFF", 6), refused},
        {'1', false, ReplyOf('1'), kNoText},
    };
    MakeEveryKind(Body::Reply);
    globals->SetCriticalMemory(1);
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(1, c.kind) + (c.bigEndian ? " big-endian" : ""));
        gmtest::ConsoleCapture console;
        EXPECT_EQ(Exchange(ConnectPacket(c.kind, "", c.bigEndian)), c.answer);
        EXPECT_EQ(console.Get(), c.console);
    }
    EXPECT_EQ(log.Kinds(), "1");
}

std::string DoAssertLine(const char* file, u32 line, const char* extra) {
    return std::string("[ERROR] DoAssert call from [") + file + "] line [" + std::to_string(line) +
           "] extra [" + extra + "] log [0]\n";
}

// The box of an assertion; the worker answers for its connection's names while it holds one.
std::string AssertBox(const std::string& failure, const std::string& connection, bool held = true) {
    const std::string name = held ? "(unknow)" : "";
    return "\n" + kStars + "***      Assert exception found      *** \n" + kStars + failure +
           "Thread ID: 0\nComputer: " + name + "\nUser: " + name + "\nConnection: " + connection +
           "\n" + kStars;
}

const char kDeleting[] = "[WARNING] Thread (0) CRYTICAL ERROR ... DELETING...\n";

TEST_F(Acceptance, AssertionInTheBodyIsBoxedWithTheKindAndEndsTheObjectOnce) {
    const struct {
        char kind;
        const char* connection;
    } cases[] = {{'0', "GMLCLIENT[client report]"}, {'1', "GMLMONITOR"}, {'2', "GMLLOCKSERVER"}};
    MakeEveryKind(Body::Assert);
    const std::string failure = "body failed in file body.cpp at line 4242\n";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        const int done = log.done;
        const int deleted = log.Deletions();
        gmtest::ConsoleCapture console;
        EXPECT_EQ(Exchange(ConnectPacket(c.kind)), "");
        EXPECT_EQ(console.Get(), DoAssertLine("body.cpp", gmtest::kAssertLine, "body failed") +
                                     AssertBox(failure, c.connection) + kDeleting);
        EXPECT_EQ(log.done - done, 1);
        EXPECT_EQ(log.Deletions() - deleted, 1);
        EXPECT_FALSE(workerConnection);
    }
}

TEST_F(Acceptance, FailedDoneRunsOnceAndDeletesOnce) {
    MakeKind('0', Body::FailInDone);
    gmtest::ConsoleCapture console;
    EXPECT_EQ(Exchange(ConnectPacket('0')), ReplyOf('0'));
    EXPECT_EQ(console.Get(), DoAssertLine("done.cpp", 7, "done failed") +
                                 AssertBox("done failed in file done.cpp at line 7\n",
                                           "GMLCLIENT[client report]") +
                                 kDeleting);
    EXPECT_EQ(log.done, 1);
    EXPECT_EQ(log.Deletions(), 1);
    EXPECT_FALSE(workerConnection);
}

TEST_F(Acceptance, AssertionBeforeTheBodyHasNoClientReportAndNoSecondEnd) {
    SetConnectionMaker(kKindClient, []() -> std::unique_ptr<tGMLSockConn> {
        DoAssert("maker.cpp", 3, nullptr, 0);
    });
    gmtest::ConsoleCapture console;
    EXPECT_EQ(Exchange(ConnectPacket('0')), "");
    EXPECT_EQ(console.Get(), DoAssertLine("maker.cpp", 3, "(null)") +
                                 AssertBox("assert failed in file maker.cpp at line 3\n",
                                           "GMLCLIENT (Exception Info Unavailable)", false));
}

TEST_F(Acceptance, OtherExceptionIsBoxedAndPassedOn) {
    MakeKind('1', Body::Throw);
    std::unique_ptr<tSocket> client = Send(ConnectPacket('1'));
    ASSERT_NE(client, nullptr);
    std::unique_ptr<tSocket> accepted = server->GetListenSocket()->Accept();
    ASSERT_NE(accepted, nullptr);
    gmtest::ConsoleCapture console;
    {
        tWThread worker(nullptr, server.get(), 0);
        EXPECT_THROW(AcceptConnection(worker, std::move(accepted)), std::runtime_error);
        EXPECT_EQ(console.Get(), "\n" + kStars + "***    Unexpected exception found    *** \n" +
                                     kStars +
                                     "Thread ID: 0\nComputer: (unknow)\nUser: (unknow)\n"
                                     "Connection: GMLMONITOR\n" +
                                     kStars);
        EXPECT_EQ(log.done, 0);
        EXPECT_EQ(log.Deletions(), 0);  // still held by the worker
    }
    EXPECT_EQ(log.Deletions(), 1);
}

TEST_F(Acceptance, ServerAnswersAsTheListenerAndGivesTheGlobalsItsMode) {
    EXPECT_EQ(server->GetThreadType(), kThreadTypeSockServer);
    EXPECT_STREQ(server->GetClassName(), "tGMLServer");
    EXPECT_EQ(server->GetClientComputer(), "THIS");
    EXPECT_EQ(server->GetClientUser(), "SockServer");
    EXPECT_FALSE(server->CanKill());
    EXPECT_EQ(server->GetOSVersionCode(), 5);              // Linux
    EXPECT_EQ(globals->GetServerMode(), kModeStandalone);  // no server yet
    for (u32 mode : {kModeStandalone, kModeMaster, kModeSlave}) {
        tGMLServer other(nullptr, mode, false);
        globals->SetServer(&other);
        EXPECT_EQ(globals->GetServerMode(), mode);
        globals->SetServer(nullptr);
    }
}

TEST_F(Acceptance, ClientNamesStartEmptyAndAreKept) {
    gmtest::TestConn conn('0', Body::Reply, log);
    EXPECT_EQ(conn.GetUserName(), "");
    EXPECT_EQ(conn.GetComputerName(), "");
    EXPECT_EQ(conn.GetCommBuffer(), nullptr);
    conn.SetClientNames("ana", "desk-7");
    EXPECT_EQ(conn.GetUserName(), "ana");
    EXPECT_EQ(conn.GetComputerName(), "desk-7");
    conn.SetClientNames(nullptr, nullptr);
    EXPECT_EQ(conn.GetUserName(), "");
}

TEST(ConnectPacket, ReceivedWholeInAnyPiecesAndNeverPastItsLength) {
    const std::string head = gmtest::kMagicText + '\0' + '1';
    const std::string largest = ConnectPacket('0', std::string(65536 - 12, 'x'));
    const struct {
        const char* name;
        std::string bytes;
        tConnectStatus status;
        size_t served;
        bool swapped;
    } cases[] = {
        {"whole", ConnectPacket('1'), tConnectStatus::Received, 12, false},
        {"request behind it", ConnectPacket('0', "ab") + "next request", tConnectStatus::Received,
         14, false},
        {"big-endian", ConnectPacket('0', "ab", true) + "next", tConnectStatus::Received, 14, true},
        {"largest", largest, tConnectStatus::Received, 65536, false},
        {"past the largest", WireLong(65537, false) + head + '0' + "more",
         tConnectStatus::Malformed, 12, false},
        {"below the smallest", WireLong(11, false) + head + '0', tConnectStatus::Malformed, 12,
         false},
        {"cut short", ConnectPacket('0', "abc").substr(0, 13), tConnectStatus::Malformed, 13,
         false},
        {"below the smallest and cut", head, tConnectStatus::Malformed, 7, false},
        {"nothing", "", tConnectStatus::ReceiveFailed, 0, false},
    };
    for (const auto& c : cases) {
        for (u32 piece : {1u, 5u, 70000u}) {
            SCOPED_TRACE(std::string(c.name) + " in pieces of " + std::to_string(piece));
            gmtest::ScriptedSource source(c.bytes, piece);
            tCommBuffer buffer;
            EXPECT_EQ(ReceiveConnectPacket(source, buffer), c.status);
            EXPECT_EQ(source.served, c.served);
            if (c.status != tConnectStatus::Received) {
                EXPECT_TRUE(buffer.IsMalformed());
                continue;
            }
            EXPECT_EQ(buffer.IsSwapped(), c.swapped);
            EXPECT_EQ(buffer.GetFrameLength(), c.served);
            tConnectHead connect;
            EXPECT_TRUE(ReadConnectHead(buffer, connect));
            EXPECT_EQ(connect.byteOrder, c.swapped ? '0' : '1');
            EXPECT_EQ(buffer.GetBytesLeft(), c.served - 12);
        }
    }
}

TEST(ConnectPacket, HeadNeedsTheWholeMagicWithItsNul) {
    const struct {
        const char* name;
        std::string body;  // after the length
        bool accepted;
    } cases[] = {
        {"magic", gmtest::kMagicText + '\0' + "10", true},
        {"longer magic", gmtest::kMagicText + "X" + '\0' + "10", false},
        {"shorter magic", gmtest::kMagicText.substr(0, 4) + '\0' + "100", false},
        {"other magic", "\xAEGMX\xAE" + std::string(1, '\0') + "10", false},
        {"no NUL", gmtest::kMagicText + "1000000", false},
        {"empty magic", std::string(1, '\0') + "1000000", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        gmtest::ScriptedSource source(WireLong(static_cast<u32>(c.body.size() + 4), false) + c.body,
                                      64);
        tCommBuffer buffer;
        tConnectHead connect;
        // A longer magic moves the byte order, so its length may read out of bounds.
        EXPECT_EQ(ReceiveConnectPacket(source, buffer) == tConnectStatus::Received &&
                      ReadConnectHead(buffer, connect),
                  c.accepted);
        if (c.accepted) {
            EXPECT_EQ(connect.kind, '0');
        }
    }
}

// Which connection kinds run an operation for each code: 'C' client, 'M' monitor, 'L' lock
// connection. Every code not listed, named or not, has no operation on any kind and gets that
// kind's unknown-operation answer. OP_DISCONNECT ends every kind before any dispatch.
TEST(ConnectionKinds, EachOpcodeHasAnOperationOnExactlyTheKindsThatServeIt) {
    const struct {
        i16 first;
        i16 last;
        const char* kinds;
    } ranges[] = {
        {1, 11, "C"},  {13, 13, "C"}, {19, 20, "CL"},  {21, 26, "C"},   {28, 38, "C"},
        {40, 40, "C"}, {42, 49, "C"}, {51, 57, "L"},   {63, 63, "C"},   {64, 64, "M"},
        {66, 74, "M"}, {77, 79, "M"}, {81, 81, "ML"},  {82, 83, "M"},   {87, 87, "C"},
        {89, 89, "C"}, {92, 95, "C"}, {121, 124, "L"}, {128, 132, "M"}, {240, 240, "CM"},
    };
    for (i32 code = 1; code <= 255; ++code) {
        if (code == OP_DISCONNECT) continue;
        std::string expected;
        for (const auto& r : ranges) {
            if (code >= r.first && code <= r.last) expected = r.kinds;
        }
        const i16 opcode = static_cast<i16>(code);
        std::string served;
        if (tDBServer::Serves(opcode)) served += 'C';
        if (tMonitor::Serves(opcode)) served += 'M';
        if (tLockConn::Serves(opcode)) served += 'L';
        EXPECT_EQ(served, expected) << code << " " << OpcodeName(opcode);
    }
}

}  // namespace
