// Client connections under test: a tDBServer served on a thread of its own over a real loopback
// socket (as a worker serves it after acceptance), the test playing the client; connections of
// the database side that answer as scripted; published globals over a private ini, the lock
// servers, the log and the audit handles of the test.
#pragma once
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "lib_base/gmlassert.h"
#include "lib_common/commbuffer.h"
#include "lib_common/logwriter.h"
#include "lib_common/opcodes.h"
#include "lib_common/retcodes.h"
#include "platform/thread_id.h"
#include "server/dispatch/dbserver.h"
#include "server/drivers/factory.h"
#include "server/isam/dbprocess.h"
#include "server/process/acceptance.h"
#include "server/process/dbservices.h"
#include "server/runtime/globals.h"
#include "tests/lib_base/support/loopback.h"
#include "tests/server/process/support/acceptfixture.h"
#include "tests/server/support/recordingaudit.h"
#include "tests/server/support/testconn.h"
#include "tests/server/support/testprocess.h"
#include "tests/support/gmtest.h"
#include "tests/support/tempdir.h"

namespace gmtest {

// How the scripted database connections answer, and what they did. Read by the test once the
// client connections that use them have ended.
struct ConnScript {
    std::mutex lock;
    bool connectOk = true;
    bool checkUpOk = true;
    bool inTransaction = false;  // a connection opens commit control when it connects
    bool linkLost = false;       // a connection loses its link right after connecting
    bool transactions = true;    // commit control and commits are supported
    std::string report = "*** CHECK-UP REPORT ***\n";
    int checkUps = 0;
    std::vector<std::string> made;   // "TYPE/alias user:password" per connection made
    std::vector<std::string> calls;  // the connections' own records: rollbacks, deletions
};

// A database connection that needs no database: it connects as scripted and counts check-ups.
class ScriptedConnection : public TestConnection {
public:
    ScriptedConnection(ConnScript& script, const tDBConnectionRequest& request)
        : TestConnection(&script.calls, "conn", request.dbType, request.alias), script(script) {}

    bool Connect() override {
        connected = script.connectOk ? 1 : 0;
        if (script.inTransaction) StrCmtCtl();
        if (script.linkLost) linkLost = 1;
        return script.connectOk;
    }
    void Disconnect() override {
        Note("Disconnect");
        connected = 0;
    }
    bool InitialCheckUp(tString& report) override {
        std::lock_guard<std::mutex> hold(script.lock);
        ++script.checkUps;
        report = script.report.c_str();
        return script.checkUpOk;
    }
    void GetSessionID(tString& text) override { text += "(SID 77) "; }
    // Native 2627 is a duplicate key; 50000, the base's user error, stays one.
    bool IsDuplicateKey(i32 native) override { return native == kDuplicateKeyError; }
    i16 StrCmtCtl() override {
        return script.transactions ? TestConnection::StrCmtCtl() : RC_NOT_SUPPORTED;
    }
    i16 EndCmtCtl() override {
        return script.transactions ? TestConnection::EndCmtCtl() : RC_NOT_SUPPORTED;
    }
    i16 Commit() override {
        Note("Commit");
        return script.transactions ? RC_OK : RC_NOT_SUPPORTED;
    }
    i16 Rollback() override {
        const i16 base = TestConnection::Rollback();  // noted; the audit sequence advances
        return script.transactions ? RC_OK : base;
    }

    static constexpr i32 kDuplicateKeyError = 2627;

private:
    ConnScript& script;
};

// Reads the byte stream of a socket.
class SocketSource : public tByteSource {
public:
    explicit SocketSource(tSocket& socket) : socket(socket) {}
    i64 Receive(void* dst, u32 maxBytes, bool) override {
        return socket.Recv(dst, static_cast<i32>(maxBytes));
    }

private:
    tSocket& socket;
};

const std::string kClosed = "(closed)";

// The payload of the next frame the peer sends, or kClosed when the peer closes first.
inline std::string ReadFrame(tSocket& socket) {
    const std::string head = ReadBytes(socket, 4);
    if (head.size() < 4) return kClosed;
    u32 length = 0;
    for (int i = 3; i >= 0; --i)
        length = length << 8 | static_cast<u8>(head[static_cast<size_t>(i)]);
    if (length < 4) return kClosed;
    const std::string body = ReadBytes(socket, length - 4);
    return body.size() == length - 4 ? body : kClosed;
}

// A request frame from a little-endian client: the length, the opcode and the payload.
inline std::string Request(i16 opcode, const std::string& payload = "") {
    const std::string op(reinterpret_cast<const char*>(&opcode), 2);
    return WireLong(static_cast<u32>(6 + payload.size()), false) + op + payload;
}

inline std::string Short(i16 value) {
    return std::string(reinterpret_cast<const char*>(&value), 2);
}
inline std::string Long(i32 value) { return std::string(reinterpret_cast<const char*>(&value), 4); }

// One client connection: the tDBServer runs Execute on its own thread; the test holds the
// client's socket. Destroying the session closes the client and waits for Execute to end.
struct Session {
    std::unique_ptr<tDBServer> server = std::make_unique<tDBServer>();
    std::unique_ptr<tSocket> client;
    std::thread thread;
    // Written by the session's thread before it ends.
    i32 result = 0;
    std::string assertion;  // the text of an assertion that left Execute

    ~Session() {
        client.reset();
        Join();
    }
    void Join() {
        if (thread.joinable()) thread.join();
    }
    bool Send(const std::string& bytes) {
        return client->Send(bytes.data(), static_cast<i32>(bytes.size()), 0) ==
               static_cast<i32>(bytes.size());
    }
    // Sends the request and gives the payload of the reply.
    std::string Exchange(i16 opcode, const std::string& payload = "") {
        if (!Send(Request(opcode, payload))) return "(not sent)";
        return ReadFrame(*client);
    }
    // Ends the connection as a client does, and waits for Execute.
    void Disconnect() {
        Send(Request(OP_DISCONNECT));
        Join();
    }
    // After Execute: Done, then the object's deletion, which closes the server's socket.
    void End() {
        Join();
        server->Done();
        server.reset();
    }
};

// The connect packet's texts after the head.
inline std::string ConnectTexts(const std::string& environment, const std::string& program,
                                const std::string& user, const std::string& computer) {
    return environment + '\0' + program + '\0' + user + '\0' + computer + '\0';
}

// What client connections under test need around them, for a test's life: the log, the
// globals, the database side's services over them, and a loopback listener.
class DBServerWorld {
public:
    DBServerWorld() {
        SetLogPath(serverDir.File("gatemill.log").c_str());
        StartGlobals("");
        EXPECT_NE(listener, nullptr);
    }
    ~DBServerWorld() {
        SetDBConnectionFactory(nullptr);
        ForgetProcessODBCLibrary();
        SetDBProcess(nullptr);
        PublishGlobals(nullptr);
        globals.reset();
        SetLogPath(previousLogPath.c_str());
    }
    DBServerWorld(const DBServerWorld&) = delete;
    DBServerWorld& operator=(const DBServerWorld&) = delete;

    // Globals over an ini holding these lines under [General] (and any sections after them),
    // with both lock servers, and the database side's services over them.
    void StartGlobals(const std::string& ini) {
        SetDBProcess(nullptr);
        PublishGlobals(nullptr);
        globals.reset();
        WriteFileText(serverDir.File("gatemill.ini"), "[General]\n" + ini);
        globals = std::make_unique<tGMLGlobals>(serverDir.File("gatemill.ini").c_str());
        globals->CreateLockServers();
        PublishGlobals(globals.get());
        InstallDBServices();
    }
    // Every database type connects through a ScriptedConnection from now on.
    void ScriptConnections() {
        SetDBConnectionFactory([this](const tDBConnectionRequest& request,
                                      std::unique_ptr<tDBConnection>& out) {
            std::lock_guard<std::mutex> hold(script.lock);
            script.made.push_back(std::string(request.dbType) + "/" + request.alias.GetText() +
                                  " " + request.user.GetText() + ":" + request.password.GetText());
            out = std::make_unique<ScriptedConnection>(script, request);
            return tDBTypeAnswer::Made;
        });
    }

    // A client connection that has sent its connect packet with these texts; its server runs
    // setup (on its own thread, before Execute), then Execute. Short waits unless setup sets
    // others.
    std::unique_ptr<Session> Open(const std::string& texts,
                                  const std::function<void(tDBServer&)>& setup = nullptr) {
        auto session = std::make_unique<Session>();
        session->client = ConnectLoopback(static_cast<u16>(listener->GetPort()));
        EXPECT_NE(session->client, nullptr);
        std::unique_ptr<tSocket> accepted = listener->Accept();
        EXPECT_NE(accepted, nullptr);
        if (!session->client || !accepted) return session;
        session->Send(ConnectPacket('0', texts));
        session->server->SetPacing({1, 1});
        Session* s = session.get();
        tSocket* socket =
            (wrapSocket ? wrapSocket(std::move(accepted)) : std::move(accepted)).release();
        s->thread = std::thread([s, socket, setup] {
            std::unique_ptr<tSocket> owned(socket);
            s->server->AdoptThread(plat::CurrentThreadId());
            auto buffer = std::make_unique<tCommBuffer>();
            SocketSource source(*owned);
            tConnectHead head;
            if (ReceiveConnectPacket(source, *buffer) != tConnectStatus::Received ||
                !ReadConnectHead(*buffer, head)) {
                s->assertion = "bad connect packet";
                return;
            }
            s->server->Attach(std::move(owned), nullptr);
            s->server->SetCommBuffer(std::move(buffer));
            s->assertion = AssertText([&] {
                if (setup) setup(*s->server);
                s->result = s->server->Execute();
            });
        });
        return session;
    }
    // A client connection to a scripted database, past its connect reply (0 and "WinNT").
    std::unique_ptr<Session> OpenConnected(const std::string& environment = "MSSQL/ERP",
                                           const std::string& program = "ERP",
                                           const std::function<void(tDBServer&)>& setup = nullptr) {
        std::unique_ptr<Session> session =
            Open(ConnectTexts(environment, program, "ana", "PC01"), setup);
        EXPECT_EQ(ReadFrame(*session->client), Short(0) + "WinNT" + '\0');
        return session;
    }

    std::vector<std::string> LogEntries() { return ReadLogEntries(LogPath()); }
    std::string LogPath() const { return serverDir.File("gatemill.log"); }

    // When set, the next sessions' server sockets are what it makes of the accepted ones.
    std::function<std::unique_ptr<tSocket>(std::unique_ptr<tSocket>)> wrapSocket;
    TempDir serverDir;
    const std::string previousLogPath = GetLogPath().GetText();
    std::unique_ptr<tGMLGlobals> globals;
    std::unique_ptr<tSocket> listener = ListenOnLoopback();
    ConnScript script;
};

class DBServerTest : public ::testing::Test, public DBServerWorld {};

}  // namespace gmtest
