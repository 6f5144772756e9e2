// Monitors against a server running in this process: a listener with its workers on loopback,
// acceptance making monitors, and client connections of a test kind that register themselves and
// can be killed. Covers the connect reply, idle waits, the echo of unknown opcodes, malformed
// frames, killing connections (also while they end by themselves), traces switched off when a
// monitor goes, and large replies over the socket.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "lib_base/threads.h"
#include "lib_common/opcodes.h"
#include "platform/thread_id.h"
#include "server/process/gmlserver.h"
#include "server/runtime/diagnostics.h"
#include "server/runtime/gmlthreads.h"
#include "tests/lib_base/support/countingsocket.h"
#include "tests/server/process/support/monitortest.h"
#include "tests/server/process/support/threadlists.h"
#include "tests/support/gmtest.h"

namespace {

using gmtest::MonitorClient;
using gmtest::ReadFileText;
using gmtest::TakeText;
using gmtest::WriteFileText;

constexpr i32 kWaitMs = 50;  // the monitors' wait for a request, shortened

// What the test's client connections did.
struct ClientLog {
    std::atomic<int> deleted{0};
};

// A client connection as the monitor sees one: it may be killed, registers itself in the
// connection registry under its thread id, tells its client that id, and serves until it is
// asked to stop or its client sends a byte or goes away.
class ClientConn : public tGMLSockConn {
public:
    explicit ClientConn(ClientLog& log) : log(log) {}
    ~ClientConn() override { ++log.deleted; }

    i32 GetThreadType() override { return kThreadTypeGenServer; }
    const char* GetClassName() override { return "testClient"; }
    bool CanKill() override { return true; }

    i32 Execute() override {
        tGmlThreads& registry = *Globals()->GetThreads();
        tDBProperties* record = registry.AddThread(GetCommBuffer());
        record->SetSID(GetThreadId());
        record->SetUser("alice");
        tCommBuffer& out = *GetCommBuffer();
        out.Reset();
        out.PutLong(static_cast<i32>(GetThreadId()));
        Send(out.GetFrame(), static_cast<i32>(out.GetFrameLength()), 0);
        // The request boundary of a real connection: it looks at its stop flag between waits.
        while (!IsTerminated() && !WaitRead(0, 5000)) {
        }
        registry.RemoveThread(record);
        return 0;
    }

private:
    ClientLog& log;
};

class MonitorServer : public gmtest::MonitorGlobals {
protected:
    void SetUp() override {
        MonitorGlobals::SetUp();
        StartGlobals("[General]\nThreadMin=4\nThreadInc=4\n");
        threads = &gmtest::NewThreadList();
        globals->SetThreadList(threads);
        RegisterMonitorConnections(kWaitMs);
        ClientLog* target = &clientLog;
        SetConnectionMaker(kKindClient, [target]() -> std::unique_ptr<tGMLSockConn> {
            return std::make_unique<ClientConn>(*target);
        });
        server = std::make_unique<tGMLServer>(threads, kModeStandalone, false);
        tListenerPacing pacing;
        pacing.roundMs = 20;
        server->SetPacing(pacing);
        ASSERT_TRUE(server->ListenAddr(0, "127.0.0.1"));
        server->LoadThreadLimits();
        ASSERT_TRUE(server->Start(1));
    }
    void TearDown() override {
        monitors.clear();
        clients.clear();
        if (server) {
            server->Terminate(0);
            server->WaitEnd();
            server.reset();  // waits for every worker
        }
        SetConnectionMaker(kKindClient, nullptr);
        SetConnectionMaker(kKindMonitor, nullptr);
        globals->SetThreadList(nullptr);
        MonitorGlobals::TearDown();
    }

    u16 Port() { return static_cast<u16>(server->GetPort()); }

    // A monitor connected, its connect reply read.
    MonitorClient& Monitor() {
        auto& monitor = *monitors.emplace_back(std::make_unique<MonitorClient>(Port()));
        EXPECT_TRUE(monitor.Connected());
        std::string type, report;
        EXPECT_TRUE(monitor.Connected() && monitor.ReadConnectReply(type, report));
        return monitor;
    }
    // A client connection; its thread id.
    u32 Client() {
        clients.push_back(gmtest::ConnectLoopback(Port()));
        tSocket* client = clients.back().get();
        const std::string packet = gmtest::ConnectPacket('0');
        if (!client || client->Send(packet.data(), static_cast<i32>(packet.size()), 0) < 1) {
            ADD_FAILURE() << "client connect failed";
            return 0;
        }
        tCommBuffer in;
        gmtest::MonitorFrameSource source(*client);
        i32 id = 0;
        if (in.ReceiveFrame(source, 64) == tReceiveStatus::Received) in.GetLong(id);
        EXPECT_NE(id, 0);
        return static_cast<u32>(id);
    }
    std::string Build(MonitorClient& monitor) {
        monitor.Request(OP_BUILD);
        tCommBuffer* reply = monitor.Call();
        return reply ? TakeText(*reply) : "(no reply)";
    }
    // A request with one text argument; the number that opens its reply (1 when none came).
    template <class Number>
    Number NumberReply(MonitorClient& monitor, i16 opcode, const std::string& text) {
        monitor.Request(opcode).PutString(text.c_str());
        tCommBuffer* reply = monitor.Call();
        Number value = 1;
        if (reply && sizeof value == sizeof(i32)) {
            i32 number = 1;
            reply->GetLong(number);
            value = static_cast<Number>(number);
        } else if (reply) {
            i16 number = 1;
            reply->GetShort(number);
            value = static_cast<Number>(number);
        }
        return value;
    }
    // The end events and the thread ids of the running workers that serve that kind of thread.
    std::vector<std::shared_ptr<tSemaphore>> EndEvents(i32 type) {
        return gmtest::EndEvents(*threads, type);
    }
    std::vector<u32> ThreadIds(i32 type) { return gmtest::ThreadIds(*threads, type); }

    tThreadList* threads = nullptr;
    std::unique_ptr<tGMLServer> server;
    ClientLog clientLog;
    std::vector<std::unique_ptr<MonitorClient>> monitors;
    std::vector<std::unique_ptr<tSocket>> clients;
};

TEST_F(MonitorServer, ConnectReplyBuildIdleWaitsEchoAndDisconnect) {
    gmtest::ConsoleCapture console;
    MonitorClient monitor(Port());
    ASSERT_TRUE(monitor.Connected());
    std::string type, report;
    ASSERT_TRUE(monitor.ReadConnectReply(type, report));
    EXPECT_EQ(type, "WinNT");
    tString expected;
    GMLCheckOS(expected);
    EXPECT_EQ(report, expected.GetText());
    EXPECT_NE(report.find("OS System Info"), std::string::npos);
    EXPECT_EQ(Build(monitor), "20110117");

    // Idle for several of its waits, the monitor still answers.
    std::this_thread::sleep_for(std::chrono::milliseconds(8 * kWaitMs));
    EXPECT_EQ(Build(monitor), "20110117");

    monitor.Request(OP_ERRORCNT).PutString("echo me");
    const std::string sent(reinterpret_cast<const char*>(monitor.out.GetFrame()),
                           monitor.out.GetFrameLength());
    ASSERT_NE(monitor.Call(), nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(monitor.in.GetFrame()),
                          monitor.in.GetFrameLength()),
              sent);

    monitor.Request(OP_DISCONNECT);
    ASSERT_TRUE(monitor.Send());
    EXPECT_TRUE(monitor.IsClosedByServer());
    const std::string printed = console.Get();
    EXPECT_NE(printed.find("Begin DBMonitor Thread ("), std::string::npos);
    EXPECT_NE(printed.find(",127.0.0.1,WinNT)\n"), std::string::npos);
    EXPECT_NE(printed.find(") IGNORED - Thread ("), std::string::npos);
    EXPECT_NE(printed.find("[WARNING] (tMonitor) Operation (41)"), std::string::npos);
    EXPECT_NE(printed.find("End DBMonitor Thread ("), std::string::npos);
}

TEST_F(MonitorServer, MalformedFramesEndTheirConnectionOnly) {
    MonitorClient& keeper = Monitor();
    const std::string opcodeBuild("\xF0\0", 2);
    const struct {
        const char* name;
        std::string bytes;
        const char* logged;
    } cases[] = {
        {"short header", std::string("\x09\0", 2), "disconnected prematurely"},
        {"header only", std::string("\x04\0\0\0", 4), "wrong length"},
        {"length below six", std::string("\x05\0\0\0", 4) + "\xF0", "wrong length"},
        {"length beyond what is sent", std::string("\x64\0\0\0", 4) + opcodeBuild + "0123456789",
         "disconnected prematurely"},
        {"length beyond any frame", std::string("\xFF\xFF\xFF\x7F", 4) + opcodeBuild,
         "wrong length"},
        {"argument without its NUL", std::string("\x09\0\0\0\x46\0", 6) + "123",
         "malformed request"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::remove(LogPath().c_str());
        MonitorClient& monitor = Monitor();
        ASSERT_TRUE(monitor.SendBytes(c.bytes));
        monitor.Socket().Shutdown(plat::kShutWrite);
        EXPECT_TRUE(monitor.IsClosedByServer());
        EXPECT_EQ(Build(keeper), "20110117");
        EXPECT_NE(ReadFileText(LogPath()).find(c.logged), std::string::npos);
    }
    EXPECT_EQ(Build(Monitor()), "20110117");  // and new monitors are served
}

TEST_F(MonitorServer, RequestsSentTogetherAreAnsweredInTurn) {
    MonitorClient& monitor = Monitor();
    monitor.Request(OP_BUILD);
    const std::string build(reinterpret_cast<const char*>(monitor.out.GetFrame()),
                            monitor.out.GetFrameLength());
    monitor.Request(OP_IS_CONNECTION_ENABLED);
    const std::string enabled(reinterpret_cast<const char*>(monitor.out.GetFrame()),
                              monitor.out.GetFrameLength());
    ASSERT_TRUE(monitor.SendBytes(build + enabled + build));
    ASSERT_TRUE(monitor.Receive());
    EXPECT_EQ(TakeText(monitor.in), "20110117");
    ASSERT_TRUE(monitor.Receive());
    i16 code = 1;
    u8 flag = 0;
    monitor.in.GetShort(code);
    monitor.in.GetByte(flag);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(flag, 1);
    ASSERT_TRUE(monitor.Receive());
    EXPECT_EQ(TakeText(monitor.in), "20110117");
}

TEST_F(MonitorServer, KillUserEndsAClientConnectionButNoMonitor) {
    MonitorClient& monitor = Monitor();
    MonitorClient& other = Monitor();
    const u32 id = Client();
    monitor.Request(OP_INFO);
    tCommBuffer* info = monitor.Call();
    ASSERT_NE(info, nullptr);
    i32 count = -1;
    info->GetLong(count);  // user connections: the test's clients count none
    EXPECT_EQ(count, 0);
    EXPECT_EQ(TakeText(*info).find(std::to_string(id) + "\x02"
                                                        "alice\x02"),
              0u);

    gmtest::ConsoleCapture console;
    EXPECT_EQ(NumberReply<i32>(monitor, OP_KILLUSER, " " + std::to_string(id) + " "), 0);
    EXPECT_TRUE(gmtest::ReadBytes(*clients.back(), 1).empty());  // closed by the server
    for (const u32 monitorId : ThreadIds(kThreadTypeMonitSockThread)) {
        EXPECT_EQ(NumberReply<i32>(monitor, OP_KILLUSER, std::to_string(monitorId)), 0);
        EXPECT_NE(console.Get().find("[KILLUSER] Thread (" + std::to_string(monitorId) +
                                     ") NOT FOUND OR TERMINATED.\n"),
                  std::string::npos);
    }
    EXPECT_EQ(Build(other), "20110117");
    EXPECT_EQ(Build(monitor), "20110117");
}

// Kills race connections that end by themselves: the killer never meets a deleted connection.
TEST_F(MonitorServer, KillRacingTheEndOfTheWorkerIsSafe) {
    MonitorClient& monitor = Monitor();
    constexpr int kRounds = 60;
    for (int round = 0; round < kRounds; ++round) {
        const u32 id = Client();
        // The client ends its connection while the kill is on its way, sent before or after.
        const char byte = 'x';
        monitor.Request(OP_KILLUSER).PutString(std::to_string(id).c_str());
        if (round % 2 == 0) clients.back()->Send(&byte, 1, 0);
        ASSERT_TRUE(monitor.Send());
        if (round % 2 == 1) clients.back()->Send(&byte, 1, 0);
        ASSERT_TRUE(monitor.Receive());
        i32 code = 1;
        monitor.in.GetLong(code);
        EXPECT_EQ(code, 0);
        EXPECT_TRUE(gmtest::ReadBytes(*clients.back(), 1).empty());
        clients.pop_back();
    }
    EXPECT_EQ(Build(monitor), "20110117");
    for (const auto& ended : EndEvents(kThreadTypeGenServer)) EXPECT_TRUE(ended->Wait(10000));
    tString list;
    EXPECT_EQ(globals->GetThreads()->GetThreadList(list), 0);
}

TEST_F(MonitorServer, ClosingAMonitorSwitchesOffItsTrace) {
    const u32 id = Client();
    {
        MonitorClient& tracer = Monitor();
        ASSERT_EQ(NumberReply<i32>(tracer, OP_STARTTRACE, std::to_string(id)), 0);
        EXPECT_EQ(NumberReply<i32>(tracer, OP_STARTTRACE, std::to_string(id)), -19);
        EXPECT_GT(NumberReply<i16>(tracer, OP_TRACECOUNT, std::to_string(id)), 0);
        EXPECT_EQ(NumberReply<i16>(tracer, OP_TRACECOUNT, std::to_string(id + 1)), -19);
        const auto ended = EndEvents(kThreadTypeMonitSockThread);
        ASSERT_EQ(ended.size(), 1u);
        gmtest::ConsoleCapture console;
        monitors.clear();
        EXPECT_TRUE(ended.front()->Wait(10000));
        EXPECT_NE(console.Get().find("[INFO] Trace Operation Finished\n"), std::string::npos);
    }
    MonitorClient& next = Monitor();
    EXPECT_EQ(NumberReply<i32>(next, OP_STARTTRACE, std::to_string(id)), 0);  // free again
}

TEST_F(MonitorServer, LargeRepliesCrossTheSocketWhole) {
    std::string log(1200000, 'l');
    for (size_t i = 99; i < log.size(); i += 100) log[i] = '\n';
    WriteFileText(LogPath(), log);
    MonitorClient& monitor = Monitor();
    monitor.Request(OP_READLOG);
    tCommBuffer* reply = monitor.Call();
    ASSERT_NE(reply, nullptr);
    i16 code = 1;
    reply->GetShort(code);
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(TakeText(*reply) == log.substr(0, 1000000));

    const std::string ini = "[General]\nThreadMin=4\nThreadInc=4\npassword=s3cret\n";
    EXPECT_EQ(NumberReply<i16>(monitor, OP_SETINIFILE, ini), 0);
    monitor.Request(OP_GETINIFILE);
    reply = monitor.Call();
    ASSERT_NE(reply, nullptr);
    reply->GetShort(code);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(TakeText(*reply), ini);
    EXPECT_EQ(ReadFileText(IniPath()).find("s3cret"), std::string::npos);
}

// One monitor served on a thread of the test over a loopback socket that counts its calls, the
// test playing the monitor's client.
class MonitorLoop : public gmtest::MonitorGlobals {
protected:
    void TearDown() override {
        client.reset();
        if (thread.joinable()) thread.join();
        monitor.reset();
        MonitorGlobals::TearDown();
    }
    void Start(i32 waitMs) {
        listener = gmtest::ListenOnLoopback();
        ASSERT_NE(listener, nullptr);
        client = gmtest::ConnectLoopback(listener->GetPort());
        ASSERT_NE(client, nullptr);
        auto made = std::make_unique<gmtest::CountingSocket>(listener->Accept());
        counting = made.get();
        monitor = std::make_unique<tMonitor>(waitMs);
        monitor->Attach(std::move(made), nullptr);
        monitor->SetCommBuffer(std::make_unique<tCommBuffer>());
        thread = std::thread([this] {
            monitor->AdoptThread(plat::CurrentThreadId());
            result = monitor->Execute();
        });
        ASSERT_NE(ReadFrame(), "(closed)");  // the connect reply
    }
    static std::string Frame(i16 opcode) {
        return gmtest::WireLong(6, false) + std::string(reinterpret_cast<const char*>(&opcode), 2);
    }
    bool Send(const std::string& bytes) {
        return client->Send(bytes.data(), static_cast<i32>(bytes.size()), 0) ==
               static_cast<i32>(bytes.size());
    }
    // The payload of the next reply, or "(closed)".
    std::string ReadFrame() {
        const std::string head = gmtest::ReadBytes(*client, 4);
        if (head.size() < 4) return "(closed)";
        u32 length = 0;
        std::memcpy(&length, head.data(), 4);
        const std::string body = gmtest::ReadBytes(*client, length - 4);
        return body.size() == length - 4 ? body : "(closed)";
    }

    std::unique_ptr<tSocket> listener;
    std::unique_ptr<tSocket> client;
    gmtest::CountingSocket* counting = nullptr;
    std::unique_ptr<tMonitor> monitor;
    std::thread thread;
    i32 result = -1;  // the monitor's thread's until joined
};

const std::string kBuildReply("20110117\0", 9);

TEST_F(MonitorLoop, EachRequestTakesOneReceiveAndOneSend) {
    Start(60000);  // no wait runs out during the test
    const int receives = counting->receives;
    const int sends = counting->sends;
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(Send(Frame(OP_BUILD)));
        ASSERT_EQ(ReadFrame(), kBuildReply);
    }
    EXPECT_EQ(counting->receives - receives, 20);
    EXPECT_EQ(counting->sends - sends, 20);
    // Three requests in one segment, the last one cut short: one receive for the first two.
    const std::string last = Frame(OP_BUILD);
    ASSERT_TRUE(Send(Frame(OP_BUILD) + Frame(OP_BUILD) + last.substr(0, 5)));
    EXPECT_EQ(ReadFrame(), kBuildReply);
    EXPECT_EQ(ReadFrame(), kBuildReply);
    EXPECT_EQ(counting->receives - receives, 21);
    ASSERT_TRUE(Send(last.substr(5)));
    EXPECT_EQ(ReadFrame(), kBuildReply);
    EXPECT_EQ(counting->waits, 0) << "no wait before a receive";
    EXPECT_EQ(counting->probes, 0) << "no probe of a connection that has just been read";
    ASSERT_TRUE(Send(Frame(OP_DISCONNECT)));
    thread.join();
    EXPECT_EQ(result, 1);
}

TEST_F(MonitorLoop, IdleMonitorStaysUntilItsClientGoes) {
    gmtest::ConsoleCapture console;
    Start(kWaitMs);
    std::this_thread::sleep_for(std::chrono::milliseconds(6 * kWaitMs));
    ASSERT_TRUE(Send(Frame(OP_BUILD)));
    EXPECT_EQ(ReadFrame(), kBuildReply);
    EXPECT_GE(counting->probes, 1) << "each wait that ran out asked whether the client is there";
    client->Close();
    thread.join();
    EXPECT_EQ(result, 0);
    EXPECT_NE(console.Get().find("Exit DBMonitor Thread ("), std::string::npos);
    EXPECT_EQ(ReadFileText(LogPath()).find("disconnected prematurely"), std::string::npos)
        << "a client that leaves between requests is no failure";
}

TEST_F(MonitorLoop, WaitRunningOutOnALostSocketEndsWithTheFailureLine) {
    gmtest::ConsoleCapture console;
    Start(kWaitMs);
    counting->lost = true;
    thread.join();
    EXPECT_EQ(result, 0);
    EXPECT_NE(ReadFileText(LogPath()).find("Thread (" + std::to_string(monitor->GetThreadId()) +
                                           ") communication failure (ISCONNECTED)."),
              std::string::npos)
        << ReadFileText(LogPath());
    EXPECT_EQ(console.Get().find("Exit DBMonitor Thread ("), std::string::npos);
}

TEST_F(MonitorLoop, ShortSendEndsWithTheSentAndFrameSizes) {
    Start(60000);
    counting->shortSends = true;
    ASSERT_TRUE(Send(Frame(OP_BUILD)));
    thread.join();
    EXPECT_EQ(result, 0);
    EXPECT_NE(ReadFileText(LogPath()).find("Thread (" + std::to_string(monitor->GetThreadId()) +
                                           ") communication failure. ( snd : 12, buffer size : "
                                           "13 )"),
              std::string::npos)
        << ReadFileText(LogPath());
}

}  // namespace
