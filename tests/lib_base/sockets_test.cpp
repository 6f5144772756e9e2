#include "lib_base/sockets.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>

namespace {

constexpr u32 kLoopback = 0x7F000001u;

// A listening socket on a port the system chose, a client connected to it, and the accepted
// server side of that connection.
class LoopbackPair : public ::testing::Test {
protected:
    void SetUp() override {
        listener = std::make_unique<tSocket>(plat::kAfInet, kLoopback, 0, plat::kSockStream);
        ASSERT_EQ(listener->GetLastError(), 0);
        ASSERT_TRUE(listener->Bind());
        ASSERT_NE(listener->GetPort(), 0);
        ASSERT_TRUE(listener->Listen(5));
        client = std::make_unique<tSocket>(plat::kAfInet, "127.0.0.1", listener->GetPort(),
                                           plat::kSockStream);
        ASSERT_TRUE(client->Connect());
        server = listener->AcceptCounted(5);
        ASSERT_NE(server, nullptr);
    }

    void Send(tSocket& socket, const std::string& bytes) {
        ASSERT_EQ(socket.Send(bytes.data(), static_cast<i32>(bytes.size()), 0),
                  static_cast<i32>(bytes.size()));
    }

    std::unique_ptr<tSocket> listener;
    std::unique_ptr<tSocket> client;
    std::unique_ptr<tSocket> server;
};

TEST_F(LoopbackPair, BytesSentArriveAndTheAcceptedSocketKnowsItsPeer) {
    Send(*client, "hello, server");
    char buffer[64] = {};
    i32 got = 0;
    while (got < 13) {
        i32 n = server->Recv(buffer + got, static_cast<i32>(sizeof buffer) - got);
        ASSERT_GT(n, 0);
        got += n;
    }
    EXPECT_STREQ(buffer, "hello, server");
    tString peer;
    server->GetAddressText(peer);
    EXPECT_STREQ(peer, "127.0.0.1");
    EXPECT_EQ(server->GetType(), plat::kSockStream);
}

TEST_F(LoopbackPair, ReceiveWithTimeOutOnASilentPeerReturnsNothing) {
    char c = 'x';
    EXPECT_EQ(server->RecvTimeout(&c, 1, 0, 1), 0);
    EXPECT_EQ(server->GetLastError(), plat::kSockTimedOut);
    EXPECT_EQ(c, 'x');
    // The wait read nothing: data sent afterwards is all still there.
    Send(*client, "z");
    EXPECT_EQ(server->RecvTimeout(&c, 1, 0, 5), 1);
    EXPECT_EQ(c, 'z');
}

TEST_F(LoopbackPair, ReceiveTimeOutOptionEndsABlockingReceiveWith10060) {
    u32 ms = 200;
    ASSERT_TRUE(server->SetOption(plat::kSolSocket, plat::kSoRcvTimeo, &ms, sizeof ms));
    char c = 0;
    EXPECT_EQ(server->Recv(&c, 1), -1);
    EXPECT_EQ(server->GetLastError(), plat::kSockTimedOut);
}

TEST_F(LoopbackPair, RecvLineStopsAfterCrLfOrAtTheBufferSize) {
    const struct {
        std::string input;
        u32 size;
        bool peerCloses;
        u32 length;
        std::string line;
    } cases[] = {
        {"AB\r\nC", 16, false, 4, "AB\r\n"},
        {"AB\r\nC", 3, false, 2, "AB"},
        {"AB\rC\r\n", 16, false, 6, "AB\rC\r\n"},  // a CR alone does not end the line
        {"AB\r", 3, false, 2, "AB"},               // no room left: the CR stays unread
        {"ABC", 16, true, 3, "ABC"},               // the peer's close ends the line
        {"A\r", 16, true, 2, "A\r"},               // ... also right after a CR
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input + " size " + std::to_string(c.size));
        SetUp();
        Send(*client, c.input);
        if (c.peerCloses) client->CloseSocket();
        char buffer[16];
        std::memset(buffer, '#', sizeof buffer);
        EXPECT_EQ(server->RecvLine(buffer, c.size, 5), c.length);
        EXPECT_EQ(std::string(buffer, c.length), c.line);
        EXPECT_EQ(buffer[c.length], 0) << "the line is NUL-terminated";
    }
}

TEST_F(LoopbackPair, RecvLineOnASilentPeerGivesAnEmptyLineAfterTheTimeOut) {
    char buffer[8] = "xxxxxxx";
    EXPECT_EQ(server->RecvLine(buffer, sizeof buffer, 1), 0u);
    EXPECT_STREQ(buffer, "");
}

TEST_F(LoopbackPair, IsConnectedUntilThePeerClosesAndNeverEatsInput) {
    EXPECT_TRUE(server->IsConnected());
    Send(*client, "q");
    ASSERT_TRUE(server->WaitRead(5, 0));
    EXPECT_TRUE(server->IsConnected());
    char c = 0;
    ASSERT_EQ(server->Recv(&c, 1), 1);
    EXPECT_EQ(c, 'q');
    client->CloseSocket();
    ASSERT_TRUE(server->WaitRead(5, 0));
    EXPECT_FALSE(server->IsConnected());
}

TEST_F(LoopbackPair, IsConnectedIsFalseAfterAnAbortiveClose) {
    client.reset();  // the destructor closes with linger 0: the peer gets a reset
    ASSERT_TRUE(server->WaitRead(5, 0));
    EXPECT_FALSE(server->IsConnected());
}

TEST_F(LoopbackPair, SendToAPeerThatClosedFailsAndTheProcessLives) {
    server->CloseSocket();
    char block[4096] = {};
    i32 result = 0;
    // The first sends may still be taken in; the reset that answers them ends the next one.
    for (int i = 0; i < 1000 && result >= 0; ++i) {
        result = client->Send(block, sizeof block, 0);
    }
    EXPECT_EQ(result, -1);
    EXPECT_EQ(client->GetLastError(), plat::kSockConnReset);
}

TEST_F(LoopbackPair, AcceptCountedTimesOutWithNothing) {
    EXPECT_EQ(listener->AcceptCounted(1), nullptr);
}

TEST_F(LoopbackPair, RefusingListenerDiscardsWhatItAccepts) {
    listener->SetRefuse();
    tSocket late(plat::kAfInet, kLoopback, listener->GetPort(), plat::kSockStream);
    ASSERT_TRUE(late.Connect());
    EXPECT_EQ(listener->AcceptCounted(5), nullptr);
    // The discarded connection was closed: its client sees the end.
    ASSERT_TRUE(late.WaitRead(5, 0));
    EXPECT_FALSE(late.IsConnected());
}

TEST_F(LoopbackPair, ClosedListenerAcceptsNothing) {
    EXPECT_EQ(listener->CloseSocket(), 0);
    EXPECT_EQ(listener->GetHandle(), -1);
    EXPECT_EQ(listener->AcceptCounted(0), nullptr);
    EXPECT_EQ(listener->GetLastError(), plat::kSockNotSocket);
}

TEST_F(LoopbackPair, SocketApiForwardsToTheSocketItOwns) {
    tSocketAPI api(server.release(), true);
    EXPECT_TRUE(api.OwnsSocket());
    Send(*client, "AB\r\nrest");
    char line[8];
    EXPECT_EQ(api.RecvLine(line, sizeof line, 5), 4u);
    EXPECT_STREQ(line, "AB\r\n");
    EXPECT_EQ(api.Send("ok", 2, 0), 2);
    char reply[3] = {};
    EXPECT_EQ(client->RecvTimeout(reply, 2, 0, 5), 2);
    EXPECT_STREQ(reply, "ok");
}

TEST_F(LoopbackPair, MoveSocketCarriesTheConnectionOver) {
    tSocket target;
    MoveSocket(target, std::move(server));
    Send(*client, "m");
    char c = 0;
    EXPECT_EQ(target.RecvTimeout(&c, 1, 0, 5), 1);
    EXPECT_EQ(c, 'm');
    tString peer;
    target.GetAddressText(peer);
    EXPECT_STREQ(peer, "127.0.0.1");
}

TEST(Socket, ConnectToAClosedPortStores10061WithItsText) {
    // Bind a port and close it again, so nothing listens there.
    u16 port = 0;
    {
        tSocket probe(plat::kAfInet, kLoopback, 0, plat::kSockStream);
        ASSERT_TRUE(probe.Bind());
        port = probe.GetPort();
    }
    tSocket client(plat::kAfInet, "127.0.0.1", port, plat::kSockStream);
    EXPECT_FALSE(client.Connect());
    EXPECT_EQ(client.GetLastError(), 10061);
    tString text;
    client.GetErrorText(text);
    EXPECT_STREQ(text, "Connection refused");
}

TEST(Socket, UnknownHostFailsToConnectOrBindWithHostNotFound) {
    tSocket client(plat::kAfInet, "no-such-host.invalid", 9, plat::kSockStream);
    EXPECT_FALSE(client.Connect());
    EXPECT_EQ(client.GetLastError(), 11001);
    tSocket server(plat::kAfInet, "no-such-host.invalid", 0, plat::kSockStream);
    EXPECT_FALSE(server.Bind()) << "bound every local address instead";
    EXPECT_EQ(server.GetLastError(), 11001);
}

TEST(Socket, BindingATakenPortFailsWithAddressInUse) {
    tSocket first(plat::kAfInet, kLoopback, 0, plat::kSockStream);
    ASSERT_TRUE(first.Bind());
    ASSERT_TRUE(first.Listen(5));
    tSocket second(plat::kAfInet, kLoopback, first.GetPort(), plat::kSockStream);
    EXPECT_FALSE(second.Bind());
    EXPECT_EQ(second.GetLastError(), 10048);
}

TEST(Socket, ResolveHostUsesThePartAfterTheLastAtSign) {
    tSocket socket;
    const struct {
        const char* text;
        bool ok;
    } cases[] = {{"user@127.0.0.1", true},
                 {"a@b@127.0.0.1", true},
                 {"127.0.0.1", true},
                 {"user@", false},
                 {"user@no-such-host.invalid", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        tString address("unchanged");
        ASSERT_EQ(socket.ResolveHost(c.text, address), c.ok);
        if (c.ok) {
            EXPECT_STREQ(address, "127.0.0.1");
        }
    }
}

// The machine's own name resolves to one of its addresses; where the name has no address, the
// failure is the host-not-found code and the text is left alone.
TEST(Socket, LocalHostAddressIsTheDottedAddressOfThisMachinesName) {
    tSocket socket;
    tString address("unchanged");
    if (socket.GetLocalHostAddr(address)) {
        in_addr parsed{};
        EXPECT_EQ(inet_pton(AF_INET, address.GetText(), &parsed), 1) << address.GetText();
        char name[256] = {};
        ASSERT_EQ(gethostname(name, sizeof name - 1), 0);
        tString again;
        ASSERT_TRUE(socket.ResolveHost(name, again));
        EXPECT_STREQ(address, again);
    } else {
        EXPECT_EQ(socket.GetLastError(), plat::kSockHostNotFound);
        EXPECT_STREQ(address, "unchanged");
    }
}

TEST(Socket, EmptySocketFailsEveryCallWithoutTouchingDescriptorZero) {
    tSocket empty;
    char c = 0;
    EXPECT_EQ(empty.GetHandle(), -1);
    EXPECT_EQ(empty.Send("x", 1, 0), -1);
    EXPECT_EQ(empty.GetLastError(), plat::kSockNotSocket);
    EXPECT_EQ(empty.RecvTimeout(&c, 1, 0, 1), 0);  // no wait: fails at once
    EXPECT_EQ(empty.GetLastError(), plat::kSockNotSocket);
    EXPECT_FALSE(empty.IsConnected());
    EXPECT_EQ(empty.Close(), 0);
}

TEST(Socket, NegativeLengthsAreRefusedBeforeAnyCall) {
    tSocket socket(plat::kAfInet, kLoopback, 0, plat::kSockStream);
    char buffer[4];
    EXPECT_EQ(socket.Send(buffer, -1, 0), -1);
    EXPECT_EQ(socket.GetLastError(), 10014);
    EXPECT_EQ(socket.RecvTimeout(buffer, -5, 0, 0), -1);
    EXPECT_EQ(socket.GetLastError(), 10014);
}

TEST(Socket, DatagramsTravelBetweenTwoBoundSockets) {
    tSocket a(plat::kAfInet, kLoopback, 0, plat::kSockDgram);
    tSocket b(plat::kAfInet, kLoopback, 0, plat::kSockDgram);
    ASSERT_TRUE(a.Bind());
    ASSERT_TRUE(b.Bind());
    EXPECT_TRUE(a.Listen(5)) << "a socket that is not a stream listens as is";
    plat::SockAddr4 to{plat::kAfInet, plat::HostToNet16(b.GetPort()), plat::HostToNet32(kLoopback)};
    ASSERT_EQ(a.SendTo(to, "dgram", 5), 5);
    ASSERT_TRUE(b.WaitRead(5, 0));
    char buffer[8] = {};
    plat::SockAddr4 from;
    ASSERT_EQ(b.RecvFrom(&from, buffer, sizeof buffer), 5);
    EXPECT_STREQ(buffer, "dgram");
    EXPECT_EQ(plat::NetToHost16(from.port), a.GetPort());
    EXPECT_EQ(a.Accept(), nullptr);
}

TEST(SocketApi, WithoutASocketEveryOperationFails) {
    tSocketAPI api;
    char c = 0;
    EXPECT_FALSE(api.OwnsSocket());
    EXPECT_EQ(api.Send("x", 1, 0), -1);
    EXPECT_EQ(api.RecvLine(&c, 1, 0), 0u);
    EXPECT_FALSE(api.Connect());
    EXPECT_EQ(api.GetLastError(), plat::kSockNotSocket);
    EXPECT_EQ(api.AcceptCounted(0), nullptr);
}

TEST(SocketErrorText, NamesListedCodesAndNumbersTheRest) {
    const struct {
        i32 code;
        const char* text;
    } cases[] = {{10061, "Connection refused"},
                 {10038, "tSocket operation on non-socket"},
                 {10055, "No buffer space is supported"},
                 {11001, "Host not found"},
                 {11004, "No data record available"},
                 {10090, "Error : 10090"},
                 {0, "Error : 0"},
                 {-7, "Error : -7"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        tString text;
        SocketErrorText(c.code, text);
        EXPECT_STREQ(text, c.text);
    }
}

}  // namespace
