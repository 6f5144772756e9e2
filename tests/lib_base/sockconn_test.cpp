#include "lib_base/sockconn.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "tests/lib_base/support/loopback.h"

namespace {

// A connection attached to the accepted side of a loopback connection, and its client.
class SockConnTest : public ::testing::Test {
protected:
    void SetUp() override {
        listener = gmtest::ListenOnLoopback();
        ASSERT_NE(listener, nullptr);
        client = gmtest::ConnectLoopback(listener->GetPort());
        ASSERT_NE(client, nullptr);
        std::unique_ptr<tSocket> accepted = listener->AcceptCounted(5);
        ASSERT_NE(accepted, nullptr);
        attachResult = conn->Attach(std::move(accepted), nullptr);
    }

    void ClientSends(const std::string& bytes) {
        ASSERT_EQ(client->Send(bytes.data(), static_cast<i32>(bytes.size()), 0),
                  static_cast<i32>(bytes.size()));
    }

    std::unique_ptr<tSocket> listener;
    std::unique_ptr<tSocket> client;
    std::unique_ptr<tSockConn> conn = std::make_unique<tSockConn>();
    u32 attachResult = 0;
};

TEST_F(SockConnTest, AttachSetsBothTimeOutsAndReportsTheSendBuffer) {
    EXPECT_EQ(conn->GetSendTimeout(), 30000);
    EXPECT_EQ(conn->GetRecvTimeout(), 30000);
    for (i32 option : {plat::kSoSndTimeo, plat::kSoRcvTimeo}) {
        u32 ms = 0;
        i32 length = sizeof ms;
        ASSERT_TRUE(conn->GetOption(plat::kSolSocket, option, &ms, &length));
        EXPECT_EQ(ms, 30000u) << "option " << option;
    }
    EXPECT_GT(attachResult, 0u);
    EXPECT_EQ(attachResult, conn->GetSendBufferSize());
    EXPECT_EQ(conn->GetSendBufferSizeField(), attachResult);
    EXPECT_TRUE(conn->OwnsSocket());
}

TEST_F(SockConnTest, ReceiveBufferSizeIsSetOnTheSocketAndReadBack) {
    // Far below the usual default, so the size read back shows the change; the system may
    // double it for its own bookkeeping, never keep less.
    const u32 wanted = 8192;
    ASSERT_GT(conn->GetRecvBufferSize(), 4 * wanted);
    EXPECT_EQ(conn->SetRecvBufferSize(wanted), 0);
    EXPECT_GE(conn->GetRecvBufferSize(), wanted);
    EXPECT_LE(conn->GetRecvBufferSize(), 2 * wanted);

    tSockConn unattached;
    EXPECT_EQ(unattached.GetRecvBufferSize(), 0u);
    EXPECT_NE(unattached.SetRecvBufferSize(wanted), 0);
}

TEST_F(SockConnTest, DeletingTheConnectionClosesThePeersSide) {
    conn.reset();
    char c = 0;
    EXPECT_LT(client->RecvTimeout(&c, 1, 0, 5), 1);
    EXPECT_NE(client->GetLastError(), plat::kSockTimedOut) << "the peer's side was not closed";
}

TEST_F(SockConnTest, SendLinesCutsTheTextIntoPiecesEachEndedByCrLf) {
    const struct {
        const char* text;
        i32 length;
        i32 pieceSize;
        const char* wire;
    } cases[] = {
        {"ABCDEFGHIJ", 10, 4, "ABCD\r\nEFGH\r\nIJ\r\n"},
        {"ABCDEFGHIJ", -1, 4, "ABCD\r\nEFGH\r\nIJ\r\n"},  // below 1: the whole text
        {"ABCDEFGHIJ", 3, 2, "AB\r\nC\r\n"},
        {"ABCD", 4, 4, "ABCD\r\n"},
        {"ABCD", 4, 100, "ABCD\r\n"},
        {"ABCD", 4, 0, "ABCD\r\n"},  // no piece size: one piece, never an endless loop
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " / " + std::to_string(c.pieceSize));
        std::string wire(c.wire);
        EXPECT_EQ(conn->SendLines(c.text, c.length, c.pieceSize), static_cast<i32>(wire.size()));
        EXPECT_EQ(gmtest::ReadBytes(*client, wire.size()), wire);
    }
}

TEST_F(SockConnTest, SendTextSendsTheWholeTextOrNothing) {
    EXPECT_EQ(conn->SendText("hello", -1, 0), 5);
    EXPECT_EQ(conn->SendText("ignored", 0, 0), 0);
    EXPECT_EQ(conn->SendText("xyz", 2, 0), 2);
    EXPECT_EQ(gmtest::ReadBytes(*client, 7), "helloxy");
}

TEST_F(SockConnTest, SendLinesStopsAtTheFirstFailedSend) {
    client.reset();  // abortive close: the next sends meet the reset
    std::string block(65536, 'b');
    i32 result = 1;
    for (int i = 0; i < 100 && result > 0; ++i) {
        result = conn->SendLines(block.c_str(), -1, 1000);
    }
    EXPECT_EQ(result, -1);
    EXPECT_EQ(conn->GetLastError(), plat::kSockConnReset);
}

TEST_F(SockConnTest, RefuseConnectionAnswersATalkingPeer) {
    ClientSends("connect please");
    const std::string refusal = "Too Many Connections, Please Try Later.";
    EXPECT_EQ(conn->RefuseConnection(), static_cast<i32>(refusal.size()));
    EXPECT_EQ(gmtest::ReadBytes(*client, refusal.size()), refusal);
}

TEST_F(SockConnTest, RefuseConnectionSendsNothingToAPeerThatClosedSilently) {
    ASSERT_EQ(client->Shutdown(plat::kShutWrite), 0);
    EXPECT_EQ(conn->RefuseConnection(), 0);
    // Nothing came before this marker.
    ASSERT_EQ(conn->SendText("!", -1, 0), 1);
    EXPECT_EQ(gmtest::ReadBytes(*client, 1), "!");
}

TEST_F(SockConnTest, DefaultBodySaysConnectOkAndEnds) {
    EXPECT_EQ(conn->Execute(), 0);
    EXPECT_EQ(gmtest::ReadBytes(*client, 41), "Connect Successful ... Now Disconnecting.");
    EXPECT_TRUE(conn->Done());
    EXPECT_STREQ(conn->GetClassName(), "sockConn");
}

TEST(SockConn, OnlyTheFirstTerminateCounts) {
    const struct {
        u8 first;
        u8 second;
        bool killed;
    } cases[] = {{0, 1, false}, {1, 0, true}, {0, 0, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.first) + " then " + std::to_string(c.second));
        tSockConn conn;
        EXPECT_FALSE(conn.IsTerminated());
        conn.Terminate(c.first);
        conn.Terminate(c.second);
        EXPECT_TRUE(conn.IsTerminated());
        EXPECT_EQ(conn.IsKilled(), c.killed);
    }
}

TEST_F(SockConnTest, DrainInputDropsWhatIsWaiting) {
    EXPECT_FALSE(conn->HasInput());
    const size_t sent = 30000;
    ClientSends(std::string(sent, 'd'));
    ASSERT_TRUE(conn->WaitRead(5, 0));
    EXPECT_TRUE(conn->HasInput());
    EXPECT_EQ(conn->DrainInput(), 0);
    // Bytes still on their way when the drain ended stay; the drained ones are gone.
    ClientSends("E");
    size_t left = 0;
    char c = 0;
    for (;;) {
        ASSERT_EQ(conn->RecvTimeout(&c, 1, 0, 5), 1);
        if (c == 'E') break;
        ++left;
    }
    EXPECT_LT(left, sent);
}

TEST_F(SockConnTest, NonBlockingFlagReachesTheSocket) {
    EXPECT_FALSE(conn->IsNonBlocking());
    EXPECT_EQ(conn->SetNonBlocking(1), 0);
    EXPECT_TRUE(conn->IsNonBlocking());
    char c = 0;
    EXPECT_EQ(conn->Recv(&c, 1), -1);
    EXPECT_EQ(conn->GetLastError(), plat::kSockWouldBlock);
    EXPECT_EQ(conn->SetNonBlocking(0), 0);
    EXPECT_FALSE(conn->IsNonBlocking());
}

TEST_F(SockConnTest, TimeOutsAreKeptOnlyWhenTheSocketTookThem) {
    EXPECT_EQ(conn->SetRecvTimeout(1500), 0);
    EXPECT_EQ(conn->GetRecvTimeout(), 1500);
    tSockConn detached;
    EXPECT_EQ(detached.SetRecvTimeout(1500), plat::kSockNotSocket);
    EXPECT_EQ(detached.SetSendTimeout(1500), plat::kSockNotSocket);
    EXPECT_EQ(detached.GetRecvTimeout(), 0);
    EXPECT_EQ(detached.GetSendTimeout(), 0);
}

TEST_F(SockConnTest, PeerQueriesFitTheTextWithItsNulOrReport35) {
    tString hostName;
    ASSERT_TRUE(conn->GetHostByAddr(plat::kAfInet, hostName));
    const i32 nameSize = hostName.GetLength() + 1;
    const i32 addressSize = 10;  // "127.0.0.1" and its NUL
    const struct {
        const char* what;
        i32 size;
        i32 code;
    } cases[] = {{"address", addressSize, 0}, {"address", addressSize - 1, 35}, {"address", 0, 35},
                 {"host", nameSize, 0},       {"host", nameSize - 1, 35},       {"host", -1, 35}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.what) + " " + std::to_string(c.size));
        char buffer[1100];
        std::memset(buffer, '#', sizeof buffer);
        bool address = std::string(c.what) == "address";
        i32 code =
            address ? conn->GetPeerAddress(buffer, c.size) : conn->GetPeerHostName(buffer, c.size);
        EXPECT_EQ(code, c.code);
        if (c.code == 0) {
            EXPECT_STREQ(buffer, address ? "127.0.0.1" : hostName.GetText());
        } else {
            EXPECT_EQ(buffer[0], '#') << "nothing is copied when the text does not fit";
        }
    }
}

TEST(SockConn, ResolveUserHostBoundsItsTextAtSizeMinusOne) {
    tSockConn conn;
    const struct {
        const char* text;
        i32 size;
        i32 code;
    } cases[] = {
        {"user@127.0.0.1", 10, 0},
        {"user@127.0.0.1", 9, 35},  // nine characters leave no room for the NUL
        {"a@b@localhost", 16, 0},
        {"127.0.0.1", 16, 0},
        {"user@", 16, 7},
        {"user@no-such-host.invalid", 16, 7},
        {nullptr, 16, 7},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text ? c.text : "(null)");
        char buffer[16];
        std::memset(buffer, '#', sizeof buffer);
        EXPECT_EQ(conn.ResolveUserHost(c.text, buffer, c.size), c.code);
        if (c.code == 0) {
            EXPECT_STREQ(buffer, "127.0.0.1");
        } else {
            EXPECT_EQ(buffer[9], '#') << "no byte written at or past the size";
        }
    }
}

TEST(SockConn, AddressNameOfADottedAddress) {
    tSockConn conn;
    char buffer[64];
    EXPECT_EQ(conn.GetAddressName("127.0.0.1", buffer, sizeof buffer), 0);
    EXPECT_STREQ(buffer, "localhost");
    EXPECT_EQ(conn.GetAddressName("127.0.0.1", buffer, 9), 35);  // "localhost" needs 10
    EXPECT_EQ(conn.GetAddressName("not an address", buffer, sizeof buffer), 1);
    EXPECT_EQ(conn.GetAddressName(nullptr, buffer, sizeof buffer), 1);
}

// A connection that reports its codes in a range of its own.
class tOffsetCodes : public tSockConn {
public:
    i32 ResultCode(i32 code) override { return 1000 + code; }
};

TEST(SockConn, TextQueriesReportThroughResultCode) {
    tOffsetCodes conn;
    char buffer[16];
    EXPECT_EQ(conn.GetPeerAddress(buffer, sizeof buffer), 1007);  // no socket: no address
    EXPECT_EQ(conn.GetPeerHostName(buffer, sizeof buffer), 1007);
    EXPECT_EQ(conn.ResolveUserHost("x@127.0.0.1", buffer, sizeof buffer), 1000);
    EXPECT_EQ(conn.ResolveUserHost("x@127.0.0.1", buffer, 4), 1035);
}

}  // namespace
