// Connections: the connect packets of every kind byte for byte, the retries and their sleeps,
// the build check, refusals, bad connect replies, a server that goes away, and handles.
#include "client/clientconn.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "client/gatemillapi.h"
#include "lib_base/gmlalloc.h"
#include "lib_base/sockets.h"
#include "tests/client/support/clienttest.h"
#include "tests/client/support/fakeserver.h"
#include "tests/client/support/wirebytes.h"
#include "tests/lib_base/support/loopback.h"
#include "tests/support/gmtest.h"

using gmtest::Reply;
using gmtest::tFakeAnswer;
using gmtest::tFakeServer;
using gmtest::tTestEnvironment;
using gmtest::tWire;

namespace {

const char kGml[] =
    "\xAE"
    "GML"
    "\xAE";
const char kAdt[] =
    "\xAE"
    "ADT"
    "\xAE";
const char kHost[] = "127.0.0.1";

// A port on which nothing listens: bound by a socket that is then closed.
u16 RefusingPort() {
    std::unique_ptr<tSocket> listener = gmtest::ListenOnLoopback();
    const u16 port = listener->GetPort();
    listener->Close();
    return port;
}

struct tKindCase {
    const char* name;
    std::function<GM_HANDLE(u16)> make;
    std::function<int16_t(GM_HANDLE)> connect;
    std::function<int16_t(GM_HANDLE)> disconnect;
    std::vector<tFakeAnswer> script;
    std::string packet;
    std::function<int16_t(GM_HANDLE)> release;
    bool releaseDisconnects;  // the release export says goodbye before it destroys
};

std::vector<tKindCase> KindCases() {
    const tWire serverOk = tWire().Short(0).Text("WinNT");
    const tWire build = tWire().Text("20110117");
    const tWire statusOk = tWire().Short(0);
    return {
        {"GM_Connect",
         [](u16 port) { return GM_GetGmlConn(0, port); },
         [](GM_HANDLE h) { return GM_Connect(h, kHost, "POSTGRES/ERP", "@!!@program"); },
         GM_DisConnect,
         {Reply(serverOk.Payload()), Reply(build.Payload())},
         tWire()
             .Text(kGml)
             .Byte('1')
             .Byte('0')
             .Text("POSTGRES/ERP")
             .Text("@!!@program")
             .Text("tester")
             .Text("box")
             .Byte('0')
             .Frame(),
         GM_Release,
         false},
        {"GM_m4GLConnect",
         [](u16 port) { return GM_GetGmlConn(0, port); },
         [](GM_HANDLE h) { return GM_m4GLConnect(h, kHost, "MYSQL/SALES", ""); },
         GM_DisConnect,
         {Reply(serverOk.Payload()), Reply(build.Payload())},
         tWire()
             .Text(kGml)
             .Byte('1')
             .Byte('0')
             .Text("MYSQL/SALES")
             .Text("")
             .Text("tester")
             .Text("box")
             .Byte('1')
             .Frame(),
         GM_Release,
         false},
        {"GM_ConnectManager",
         GM_GetManager,
         [](GM_HANDLE h) { return GM_ConnectManager(h, kHost); },
         GM_DisconnectManager,
         {Reply(tWire().Short(0).Text("WinNT").Text("pellmar 4").Payload()),
          Reply(build.Payload())},
         tWire().Text(kGml).Byte('1').Byte('1').Frame(),
         GM_ReleaseManager,
         false},
        {"GM_ConnectLockClient",
         GM_GetLockClient,
         [](GM_HANDLE h) { return GM_ConnectLockClient(h, kHost); },
         GM_DisconnectLockClient,
         {Reply(statusOk.Payload())},
         tWire().Text(kGml).Byte('1').Byte('2').Frame(),
         GM_ReleaseLockClient,
         true},
        {"GM_ConnectAudit",
         GM_GetAudit,
         [](GM_HANDLE h) { return GM_ConnectAudit(h, kHost, "ERP\\box"); },
         GM_DisconnectAudit,
         {Reply(statusOk.Payload())},
         tWire().Text(kAdt).Byte('1').Byte('0').Text("tester").Text("box").Text("ERP\\box").Frame(),
         GM_ReleaseAudit,
         true},
        {"GM_ConnectAuditMonitor",
         GM_GetAuditMonitor,
         [](GM_HANDLE h) { return GM_ConnectAuditMonitor(h, kHost, nullptr); },
         GM_DisconnectAuditMonitor,
         {Reply(statusOk.Payload())},
         tWire().Text(kAdt).Byte('1').Byte('1').Text("tester").Text("box").Byte(0).Frame(),
         GM_ReleaseAuditMonitor,
         true},
    };
}

}  // namespace

TEST(ClientConnect, EachKindSendsItsConnectPacketAndEndsWithDisconnect) {
    for (const tKindCase& c : KindCases()) {
        SCOPED_TRACE(c.name);
        tFakeServer server;
        server.Run({c.script});
        tTestEnvironment environment;
        const GM_HANDLE handle = c.make(server.Port());
        gmtest::ClientOf(handle).SetEnvironment(&environment);
        EXPECT_EQ(c.connect(handle), 0);
        EXPECT_EQ(GM_IsConnected(handle), 1);
        EXPECT_EQ(c.disconnect(handle), 0);
        EXPECT_EQ(GM_IsConnected(handle), 0);
        auto frames = server.Join();
        ASSERT_EQ(frames.size(), 1u);
        ASSERT_GE(frames[0].size(), 2u);
        EXPECT_EQ(frames[0].front(), c.packet);
        EXPECT_EQ(frames[0].back(), gmtest::DisconnectFrame());
        GM_Release(handle);
        EXPECT_TRUE(environment.sleeps.empty());
    }
}

TEST(ClientConnect, OnlyLockAndAuditReleasesDisconnectFirst) {
    for (const tKindCase& c : KindCases()) {
        SCOPED_TRACE(c.name);
        tFakeServer server;
        server.Run({c.script});
        tTestEnvironment environment;
        const GM_HANDLE handle = c.make(server.Port());
        gmtest::ClientOf(handle).SetEnvironment(&environment);
        ASSERT_EQ(c.connect(handle), 0);
        EXPECT_EQ(c.release(handle), 0);
        EXPECT_EQ(GM_IsConnected(handle), 0);  // the handle is gone
        auto frames = server.Join();
        ASSERT_EQ(frames.size(), 1u);
        const bool saidGoodbye = frames[0].back() == gmtest::DisconnectFrame();
        EXPECT_EQ(saidGoodbye, c.releaseDisconnects);
    }
}

TEST(ClientConnect, NamesLongerThanTheirBuffersAreCutTo99Characters) {
    tFakeServer server;
    server.Run({{Reply(tWire().Short(0).Payload())}});
    tTestEnvironment environment;
    environment.user = tString(std::string(150, 'u').c_str());
    const GM_HANDLE handle = GM_GetLockClient(server.Port());
    gmtest::ClientOf(handle).SetEnvironment(&environment);
    EXPECT_EQ(GM_ConnectAudit(handle, kHost, "c"), RC_NOT_CONNECTED);  // a lock client
    GM_ReleaseLockClient(handle);
    const GM_HANDLE audit = GM_GetAudit(server.Port());
    gmtest::ClientOf(audit).SetEnvironment(&environment);
    EXPECT_EQ(GM_ConnectAudit(audit, kHost, "c"), 0);
    GM_ReleaseAudit(audit);
    auto frames = server.Join();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0][0], tWire()
                                .Text(kAdt)
                                .Byte('1')
                                .Byte('0')
                                .Text(std::string(99, 'u').c_str())
                                .Text("box")
                                .Text("c")
                                .Frame());
}

TEST(ClientConnect, RefusedTableConnectTriesTenTimesOneSecondApart) {
    tTestEnvironment environment;
    const GM_HANDLE handle = GM_GetGmlConn(0, RefusingPort());
    gmtest::ClientOf(handle).SetEnvironment(&environment);
    EXPECT_EQ(GM_Connect(handle, kHost, "POSTGRES/ERP", "x"), RC_NOT_CONNECTED);
    EXPECT_EQ(environment.sleeps, std::vector<u32>(10, 1000));
    EXPECT_EQ(GM_IsConnected(handle), 0);
    GM_Release(handle);
}

TEST(ClientConnect, OtherKindsTryOnceWithoutSleeping) {
    const u16 port = RefusingPort();
    const struct {
        GM_HANDLE handle;
        std::function<int16_t(GM_HANDLE)> connect;
    } cases[] = {
        {GM_GetManager(port), [](GM_HANDLE h) { return GM_ConnectManager(h, kHost); }},
        {GM_GetLockClient(port), [](GM_HANDLE h) { return GM_ConnectLockClient(h, kHost); }},
        {GM_GetAudit(port), [](GM_HANDLE h) { return GM_ConnectAudit(h, kHost, "c"); }},
        {GM_GetAuditMonitor(port),
         [](GM_HANDLE h) { return GM_ConnectAuditMonitor(h, kHost, "c"); }},
    };
    for (const auto& c : cases) {
        tTestEnvironment environment;
        gmtest::ClientOf(c.handle).SetEnvironment(&environment);
        EXPECT_EQ(c.connect(c.handle), RC_NOT_CONNECTED);
        EXPECT_TRUE(environment.sleeps.empty());
        GM_Release(c.handle);
    }
}

TEST(ClientConnect, ServerAnsweringNothingIsRetriedOnTheSameCount) {
    // Ten accepted connections closed without a reply, then the count is spent.
    tFakeServer server;
    server.Run(std::vector<std::vector<tFakeAnswer>>(10, {gmtest::Hangup()}));
    tTestEnvironment environment;
    const GM_HANDLE handle = GM_GetGmlConn(0, server.Port());
    gmtest::ClientOf(handle).SetEnvironment(&environment);
    EXPECT_EQ(GM_Connect(handle, kHost, "POSTGRES/ERP", "x"), RC_NOT_CONNECTED);
    auto connections = server.Join();
    EXPECT_EQ(connections.size(), 10u);
    EXPECT_FALSE(server.HasPendingConnection());  // no eleventh attempt
    EXPECT_EQ(environment.sleeps, std::vector<u32>(10, 500));
    GM_Release(handle);
}

TEST(ClientConnect, ConnectsAfterEmptyRepliesWithTheirPauses) {
    tFakeServer server;
    std::vector<std::vector<tFakeAnswer>> scripts(3, {gmtest::Hangup()});
    scripts.push_back(gmtest::AcceptTable());
    server.Run(scripts);
    tTestEnvironment environment;
    const GM_HANDLE handle = GM_GetGmlConn(0, server.Port());
    gmtest::ClientOf(handle).SetEnvironment(&environment);
    EXPECT_EQ(GM_Connect(handle, kHost, "POSTGRES/ERP", "x"), 0);
    EXPECT_EQ(environment.sleeps, std::vector<u32>(3, 500));
    GM_Release(handle);
    EXPECT_EQ(server.Join().size(), 4u);
}

TEST(ClientConnect, ServerBuildBelowTheMinimumIsRefused) {
    const struct {
        const char* build;
        int16_t result;
        int16_t connected;
    } cases[] = {{"20050831", RC_OLD_SERVER, 0},
                 {"20050901", 0, 1},
                 {"20110117", 0, 1},
                 {"", RC_OLD_SERVER, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.build);
        tFakeServer server;
        server.Run({gmtest::AcceptTable(c.build)});
        const GM_HANDLE handle = GM_GetGmlConn(0, server.Port());
        EXPECT_EQ(GM_Connect(handle, kHost, "POSTGRES/ERP", "x"), c.result);
        EXPECT_EQ(GM_IsConnected(handle), c.connected);
        GM_DisConnect(handle);
        auto frames = server.Join();
        ASSERT_EQ(frames.size(), 1u);
        ASSERT_EQ(frames[0].size(), 3u);  // connect packet, build request, disconnect
        EXPECT_EQ(frames[0][1], tWire().Short(240).Frame());
        EXPECT_EQ(frames[0][2], gmtest::DisconnectFrame());
        GM_Release(handle);
    }
}

TEST(ClientConnect, ServerRefusalIsReturnedAndLeavesTheHandleUnconnected) {
    tFakeServer server;
    server.Run({{Reply(tWire().Short(-35).Payload())}});
    const GM_HANDLE handle = GM_GetGmlConn(0, server.Port());
    EXPECT_EQ(GM_Connect(handle, kHost, "FOO/ERP", "x"), -35);
    EXPECT_EQ(GM_IsConnected(handle), 0);
    EXPECT_EQ(GM_DisConnect(handle), 0);  // not connected: nothing is sent
    GM_Release(handle);
    auto frames = server.Join();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].size(), 1u);
}

TEST(ClientConnect, BadConnectRepliesFailWithoutRetry) {
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"header below two payload bytes", tWire().Byte(0).Frame()},
        {"header of 3", tWire().Long(3).Short(0).Payload()},
        {"header beyond the largest frame", tWire().Long(-1).Short(0).Payload()},
        {"frame cut short", tWire().Long(100).Short(0).Payload()},
        {"bytes beyond the frame", tWire().Short(0).Frame() + "xx"},
        {"server type without its end", tWire().Short(0).Raw("WinNT").Frame()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        tFakeServer server;
        server.Run({{gmtest::RawThenClose(c.bytes)}});
        tTestEnvironment environment;
        const GM_HANDLE handle = GM_GetGmlConn(0, server.Port());
        gmtest::ClientOf(handle).SetEnvironment(&environment);
        EXPECT_EQ(GM_Connect(handle, kHost, "POSTGRES/ERP", "x"), RC_NOT_CONNECTED);
        EXPECT_EQ(GM_IsConnected(handle), 0);
        EXPECT_TRUE(environment.sleeps.empty());
        GM_Release(handle);
        EXPECT_EQ(server.Join().size(), 1u);
    }
}

TEST(ClientConnect, SilentServerEndsEveryHandshakeAfterItsReplyLimit) {
    // Each kind against a server that accepts and then stops answering at every reply of its
    // handshake in turn (the connect reply, then the build reply).
    for (const tKindCase& c : KindCases()) {
        for (size_t answered = 0; answered < c.script.size(); ++answered) {
            SCOPED_TRACE(std::string(c.name) + " after " + std::to_string(answered));
            tFakeServer server;
            server.Run({std::vector<tFakeAnswer>(c.script.begin(), c.script.begin() + answered)});
            tTestEnvironment environment;
            environment.replyLimitMs = 100;
            const GM_HANDLE handle = c.make(server.Port());
            gmtest::ClientOf(handle).SetEnvironment(&environment);
            EXPECT_EQ(c.connect(handle), RC_NOT_CONNECTED);
            EXPECT_EQ(GM_IsConnected(handle), 0);
            EXPECT_TRUE(environment.sleeps.empty());  // a silent server is not asked again
            GM_Release(handle);
            auto frames = server.Join();
            ASSERT_EQ(frames.size(), 1u);
            EXPECT_EQ(frames[0].size(), answered + 1);
        }
    }
}

TEST(ClientConnect, RequestsAfterTheHandshakeWaitPastItsReplyLimit) {
    std::vector<tFakeAnswer> script = gmtest::AcceptTable();
    script.push_back(gmtest::LateReply(gmtest::Status(0), 400));
    tFakeServer server;
    server.Run({script});
    tTestEnvironment environment;
    environment.replyLimitMs = 100;
    const GM_HANDLE handle = GM_GetGmlConn(0, server.Port());
    gmtest::ClientOf(handle).SetEnvironment(&environment);
    ASSERT_EQ(GM_Connect(handle, kHost, "POSTGRES/ERP", "x"), 0);
    EXPECT_EQ(GM_Commit(handle, 0), 0);
    EXPECT_EQ(GM_IsConnected(handle), 1);
    GM_DisConnect(handle);
    GM_Release(handle);
    server.Join();
}

TEST(ClientConnect, ServerTypeAndInfoAreKeptFromTheHandshake) {
    tFakeServer server;
    server.Run(
        {{Reply(tWire().Short(0).Text("WinNT").Text("pellmar 4").Payload()),
          Reply(tWire().Text("20110117").Payload()), Reply(tWire().Text("20110117").Payload())}});
    const GM_HANDLE handle = GM_GetManager(server.Port());
    char text[256] = "junk";
    EXPECT_EQ(GM_GetServerType(handle, text), RC_NOT_CONNECTED);
    EXPECT_STREQ(text, "");
    ASSERT_EQ(GM_ConnectManager(handle, kHost), 0);
    EXPECT_EQ(GM_GetServerType(handle, text), 0);
    EXPECT_STREQ(text, "WinNT");
    EXPECT_EQ(GM_GetServerInfo(handle, text), 0);
    EXPECT_STREQ(text, "pellmar 4");
    EXPECT_EQ(GM_GetBuild(handle, text), 0);
    EXPECT_STREQ(text, "20110117");
    EXPECT_EQ(GM_GetApiBuild(handle, text), 0);
    EXPECT_STREQ(text, "20090120");
    EXPECT_EQ(GM_GetConnType(handle), 2);
    GM_ReleaseManager(handle);
    server.Join();
}

TEST(ClientConnect, ISeriesIsTheExactServerType) {
    // The flag shows in how the service channel sends its sub-code: 16 bits for iSeries.
    const struct {
        const char* type;
        std::string request;
    } cases[] = {
        {"iSeries", tWire().Short(42).Short(7).Short(0).Frame()},
        {"ISERIES", tWire().Short(42).Byte(7).Short(0).Frame()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        tFakeServer server;
        server.Run(
            {{Reply(tWire().Short(0).Text(c.type).Payload()),
              Reply(tWire().Text("20110117").Payload()), Reply(tWire().Text("").Payload())}});
        const GM_HANDLE handle = GM_GetGmlConn(0, server.Port());
        ASSERT_EQ(GM_Connect(handle, kHost, "POSTGRES/ERP", "x"), 0);
        EXPECT_EQ(GM_InternalF(handle, 7, nullptr, 0, 0), 1);
        GM_Release(handle);
        auto frames = server.Join();
        ASSERT_EQ(frames[0].size(), 3u);
        EXPECT_EQ(frames[0][2], c.request);
    }
}

TEST(ClientTransport, ServerGoneGivesCommFailureThenNotConnectedWithoutTraffic) {
    gmtest::tTableSession session({gmtest::Hangup()});
    ASSERT_EQ(session.connectStatus, 0);
    EXPECT_EQ(GM_StrCmtCtl(session.handle), RC_COMM_FAILURE);
    EXPECT_EQ(GM_IsConnected(session.handle), 0);
    auto connections = session.server.Join();
    EXPECT_EQ(GM_StrCmtCtl(session.handle), RC_NOT_CONNECTED);
    EXPECT_EQ(GM_Open(session.handle, "T", 0, 0), RC_NOT_CONNECTED);
    EXPECT_FALSE(session.server.HasPendingConnection());
    ASSERT_EQ(connections.size(), 1u);
    EXPECT_EQ(connections[0].size(), 3u);  // connect packet, build, the request that failed
}

TEST(ClientTransport, RepliesInSmallPiecesAreReassembled) {
    // A header split byte by byte, and a reply much larger than one receive.
    const std::string big(20000, 'x');
    gmtest::tTableSession session({Reply(tWire().Short(-19).Text("no such table").Payload(), 1),
                                   Reply(tWire().Short(-19).Text(big.c_str()).Payload(), 3000)});
    ASSERT_EQ(session.connectStatus, 0);
    std::vector<char> text(30000, '\0');
    EXPECT_EQ(GM_GetError(session.handle, text.data(), 30000), -19);
    EXPECT_STREQ(text.data(), "no such table");
    EXPECT_EQ(GM_GetError(session.handle, text.data(), 30000), -19);
    EXPECT_EQ(std::string(text.data()), big);
    EXPECT_EQ(GM_IsConnected(session.handle), 1);
}

TEST(ClientTransport, ExceptionDuringAReplyDropsTheConnection) {
    const tWire open = tWire()
                           .Short(0)
                           .Short(1)
                           .Long(4)
                           .Short(1)
                           .Text("NAME")
                           .Byte('C')
                           .Short(4)
                           .Short(0)
                           .Byte(1)
                           .Byte(0)
                           .Byte(0)
                           .Long(0)
                           .Text("")
                           .Text("");
    gmtest::tTableSession session({Reply(open.Payload())});
    ASSERT_EQ(session.connectStatus, 0);
    // Every tagged allocation fails from here: the field name cannot be kept.
    static const tRawAllocator failing{[](size_t) -> void* { return nullptr; },
                                       [](void*, size_t) -> void* { return nullptr; }};
    int16_t result = 0;
    {
        gmtest::ConsoleCapture console;
        SetRawAllocator(&failing);
        result = GM_Open(session.handle, "T", 0, 0);
        SetRawAllocator(nullptr);
        EXPECT_NE(console.Get().find("Memory Allocation Failure"), std::string::npos);
    }
    EXPECT_EQ(result, RC_COMM_FAILURE);
    EXPECT_EQ(GM_IsConnected(session.handle), 0);
    EXPECT_EQ(gmtest::TableOf(session.handle).FindWorkArea(1), nullptr);
}

TEST(ClientTransport, ExceptionInAHandshakeDropsTheSocket) {
    class tThrowingEnvironment : public tTestEnvironment {
        tString UserName() override { throw 7; }
    } environment;
    tFakeServer server;
    server.Run({{}});
    const GM_HANDLE handle = GM_GetAudit(server.Port());
    gmtest::ClientOf(handle).SetEnvironment(&environment);
    EXPECT_EQ(GM_ConnectAudit(handle, kHost, "c"), RC_NOT_CONNECTED);
    EXPECT_EQ(GM_IsConnected(handle), 0);
    auto connections = server.Join();  // ends only once the client's socket is closed
    ASSERT_EQ(connections.size(), 1u);
    EXPECT_TRUE(connections[0].empty());
    GM_ReleaseAudit(handle);
}

TEST(ClientHandles, StaleAndForeignHandlesAreRefused) {
    const GM_HANDLE table = GM_GetGmlConn(0, 1);
    const GM_HANDLE descriptor = GM_GetCreateStruct(1, 0, 0);
    ASSERT_NE(table, 0u);
    ASSERT_NE(descriptor, 0u);
    EXPECT_NE(table, descriptor);
    EXPECT_EQ(GM_Release(table), 0);
    const GM_HANDLE next = GM_GetGmlConn(0, 1);
    EXPECT_NE(next, table);  // a released number is not handed out again
    char text[256];
    for (GM_HANDLE stale : {table, descriptor, GM_HANDLE{0}, GM_HANDLE{0xFFFFFFFF}}) {
        SCOPED_TRACE(stale);
        EXPECT_EQ(GM_Connect(stale, kHost, "A/B", "x"), RC_NOT_CONNECTED);
        EXPECT_EQ(GM_StrCmtCtl(stale), RC_NOT_CONNECTED);
        EXPECT_EQ(GM_First(stale, 1, 0, 0), RC_NOT_CONNECTED);
        EXPECT_EQ(GM_IsConnected(stale), 0);
        EXPECT_EQ(GM_GetServerType(stale, text), RC_NOT_CONNECTED);
        EXPECT_EQ(GM_GetInternalRec(stale, 1), nullptr);
        EXPECT_EQ(GM_GetColCount(stale, 1), 0);
        EXPECT_EQ(GM_Release(stale), 0);
    }
    EXPECT_EQ(GM_SetCreateField(table, 0, "A", 'C', 1, 0, 0), nullptr);
    EXPECT_NE(GM_SetCreateField(descriptor, 0, "A", 'C', 1, 0, 0), nullptr);
    EXPECT_EQ(GM_Release(descriptor), 0);  // a descriptor is no connection: still there
    EXPECT_NE(GM_SetCreateField(descriptor, 0, "A", 'C', 1, 0, 0), nullptr);
    GM_Release(next);
}
