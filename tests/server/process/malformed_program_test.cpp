// Malformed request frames against the real pellmar program, a master whose PostgreSQL client
// library is the recording ODBC driver, while 200 client connections keep asking it simple
// requests. For every opcode, on each connection kind, a request cut inside its arguments, a
// frame shorter than its opcode, a frame above the largest allowed and bytes past the announced
// length end only the connection that sent them; the opcodes without a handler keep their echo.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "lib_common/commbuffer.h"
#include "lib_common/opcodes.h"
#include "server/dispatch/dbserver.h"
#include "server/process/lockconn.h"
#include "server/process/monitor.h"
#include "tests/server/process/support/programprocess.h"
#include "tests/server/process/support/programrun.h"
#include "tests/server/process/support/wireclient.h"
#include "tests/support/tempdir.h"

namespace {

using gmtest::RequestFrame;
using gmtest::WireClient;
using gmtest::WireLong;

constexpr int kWaitSeconds = 10;
constexpr size_t kServedClients = 200;
constexpr int kCheckers = 4;  // connections that send malformed frames at the same time
// The client connections' database: PostgreSQL through the recording driver, whose check-up
// reads back the row its test table holds.
const std::string kClientTexts("POSTGRES/RECO\0malformed\0ana\0PC01\0", 34);
constexpr const char* kCheckUpScript =
    "RESULT\tselect MAX(CPOC) as CPOMAX from gmltemp\nCOLUMN\tCPOMAX\t1\t10\nROW\t0000000001\n";

struct tKind {
    const char* name;
    char packetKind;
    std::string packetRest;
    bool (*serves)(i16);
    std::set<i16> withoutArguments;  // served opcodes whose handler reads nothing
    bool echoes;                     // an opcode without a handler is answered with the request
};

const tKind kClient{"client",
                    '0',
                    kClientTexts,
                    &tDBServer::Serves,
                    {OP_STRCMTCTL, OP_ENDCMTCTL, OP_COMMIT, OP_ROLLBACK, OP_GETERROR, OP_GETSID,
                     OP_GETDBSID, OP_BUILD},
                    true};
const tKind kMonitor{"monitor",
                     '1',
                     "",
                     &tMonitor::Serves,
                     {OP_INFO, OP_READLOG, OP_CLEARLOG, OP_LOCKINFO, OP_IS_CONNECTION_ENABLED,
                      OP_GETDIAGINFO, OP_DIAGMISCINFO, OP_GETINIFILE, OP_BUILD},
                     true};
const tKind kLock{"lock", '2', "", &tLockConn::Serves, {}, false};

// Every code of the opcode table, and the codes in use that have no name (sent by the client
// library, the audit server's, the monitor's).
std::vector<i16> AllOpcodes() {
    std::vector<i16> codes;
#define GM_ADD_OPCODE(name, code) codes.push_back(code);
    GM_OPCODES(GM_ADD_OPCODE)
#undef GM_ADD_OPCODE
    for (i16 code :
         {i16{90}, i16{91}, i16{101}, i16{102}, OP_DIAGMISCINFO, OP_GETINIFILE, OP_SETINIFILE}) {
        codes.push_back(code);
    }
    return codes;
}

// A connection of the kind whose connect reply came with code 0; null otherwise.
std::unique_ptr<WireClient> Open(u16 port, const tKind& kind) {
    auto client = std::make_unique<WireClient>(port, kWaitSeconds);
    if (!client->Send(gmtest::ConnectPacket(kind.packetKind, kind.packetRest))) return nullptr;
    const std::string reply = client->ReadFrame();
    if (reply.size() < 6 || reply[4] != 0 || reply[5] != 0) return nullptr;
    return client;
}

// The 200 client connections, each asking in turn for its session id and the build: every
// answer must be the one it gave first, and no two connections share a session id.
class ServedClients {
public:
    ~ServedClients() { Stop(); }
    ::testing::AssertionResult Start(u16 port) {
        for (size_t i = 0; i < kServedClients; ++i) {
            clients.push_back(Open(port, kClient));
            if (!clients.back()) return ::testing::AssertionFailure() << "client " << i;
        }
        answers.resize(kServedClients * 2);
        Round(0);
        Round(1);
        if (!failures.empty()) return ::testing::AssertionFailure() << failures.front();
        std::set<std::string> sessions;
        for (size_t i = 0; i < kServedClients; ++i) sessions.insert(answers[i * 2]);
        if (sessions.size() != kServedClients) {
            return ::testing::AssertionFailure() << "connections share a session id";
        }
        driver = std::thread([this] {
            for (u64 n = 2; !stop && failures.empty(); ++n) {
                Round(n % 2);
                std::this_thread::sleep_for(std::chrono::milliseconds(2));  // leave the CPU some
            }
        });
        return ::testing::AssertionSuccess();
    }
    // Ends the asking and the connections; the failures seen.
    std::vector<std::string> Stop() {
        stop = true;
        if (driver.joinable()) driver.join();
        for (auto& client : clients) {
            if (client) client->Send(RequestFrame(OP_DISCONNECT));
        }
        clients.clear();
        return failures;
    }
    u64 Rounds() const { return rounds; }  // rounds that every connection answered

private:
    void Round(u64 which) {
        const i16 opcode = which == 0 ? OP_GETSID : OP_BUILD;
        for (auto& client : clients) client->Send(RequestFrame(opcode));
        for (size_t i = 0; i < clients.size(); ++i) {
            const std::string reply = clients[i]->ReadFrame();
            std::string& first = answers[i * 2 + which];
            if (first.empty()) first = reply;
            if (reply.empty() || reply != first) {
                failures.push_back("client " + std::to_string(i) + " answered " +
                                   std::to_string(reply.size()) + " bytes to " +
                                   OpcodeName(opcode));
                return;
            }
        }
        ++rounds;
    }

    std::vector<std::unique_ptr<WireClient>> clients;
    std::vector<std::string> answers;  // per client: its session id's reply, its build's
    std::vector<std::string> failures;
    std::atomic<bool> stop{false};
    std::atomic<u64> rounds{0};
    std::thread driver;
};

class MalformedFrames : public ::testing::Test {
protected:
    void SetUp() override {
        port = gmtest::FreePort();
        ASSERT_NE(port, 0);
        gmtest::WriteFileText(
            dir.File("gatemill.ini"),
            gmtest::RecordingDriverIni(
                port, "Mode=MASTER\r\nThreadMin=240\r\nThreadInc=16\r\nODBC30=1\r\n", "POSTGRES"));
        program = gmtest::StartWithRecordingDriver(dir, kCheckUpScript);
        ASSERT_TRUE(program->Started());
        ASSERT_TRUE(program->WaitFor("Listening port " + std::to_string(port) + " \n"))
            << program->Output();
        drain = std::thread([this] {
            while (!drained) program->Drain(50);
        });
    }
    void TearDown() override { StopDrain(); }
    void StopDrain() {
        drained = true;
        if (drain.joinable()) drain.join();
    }

    // One connection of the kind sends bytes; what comes back until the server ends it must be
    // expected, and the server must end it.
    void ExpectEnds(const tKind& kind, i16 opcode, const char* what, const std::string& bytes,
                    const std::string& expected = "") {
        SCOPED_TRACE(std::string(kind.name) + " " + OpcodeName(opcode) + " (" +
                     std::to_string(opcode) + "): " + what);
        std::unique_ptr<WireClient> client = Open(port, kind);
        ASSERT_NE(client, nullptr);
        ASSERT_TRUE(client->Send(bytes));
        EXPECT_EQ(client->ReadToEnd(), expected);
        EXPECT_TRUE(client->Ended()) << "the connection stayed open";
    }

    // A request of an opcode without a handler comes back as it went, and the connection goes on.
    void ExpectEcho(const tKind& kind, i16 opcode) {
        SCOPED_TRACE(std::string(kind.name) + " " + OpcodeName(opcode) + " (" +
                     std::to_string(opcode) + "): echo");
        std::unique_ptr<WireClient> client = Open(port, kind);
        ASSERT_NE(client, nullptr);
        const std::string request = RequestFrame(opcode, std::string("echo me\0", 8));
        ASSERT_TRUE(client->Send(request));
        EXPECT_EQ(client->ReadFrame(), request);
        ASSERT_TRUE(client->Send(RequestFrame(OP_BUILD)));
        EXPECT_GT(client->ReadFrame().size(), 6u);
        ASSERT_TRUE(client->Send(RequestFrame(OP_DISCONNECT)));
        EXPECT_EQ(client->ReadToEnd(), "");
        EXPECT_TRUE(client->Ended());
    }

    void CheckOpcode(const tKind& kind, i16 opcode) {
        const bool served = kind.serves(opcode);
        const bool readsArguments = served && kind.withoutArguments.count(opcode) == 0;
        const std::string request = RequestFrame(opcode);
        if (readsArguments) {
            ExpectEnds(kind, opcode, "cut before its arguments", request);
            ExpectEnds(kind, opcode, "cut inside its first argument",
                       RequestFrame(opcode, std::string(1, 'A')));
        }
        const std::string code = request.substr(4);
        ExpectEnds(kind, opcode, "header 5", WireLong(5, false) + code.substr(0, 1));
        ExpectEnds(kind, opcode, "above the largest frame",
                   WireLong(tCommBuffer::kMaxFrameLength + 1, false) + code);
        // The bytes past the frame are the start of a next one whose length is out of bounds:
        // they never reach the request's handler.
        const std::string past = request + WireLong(5, false) + "A";
        if (opcode == OP_DISCONNECT || readsArguments || (!served && !kind.echoes)) {
            ExpectEnds(kind, opcode, "bytes past the frame", past);
        } else if (!served) {
            ExpectEnds(kind, opcode, "bytes past the frame", past, request);
            ExpectEcho(kind, opcode);
        } else {
            std::unique_ptr<WireClient> client = Open(port, kind);
            ASSERT_NE(client, nullptr);
            ASSERT_TRUE(client->Send(past));
            EXPECT_GE(client->ReadFrame().size(), 6u) << OpcodeName(opcode);
            EXPECT_EQ(client->ReadToEnd(), "") << OpcodeName(opcode);
            EXPECT_TRUE(client->Ended()) << OpcodeName(opcode);
        }
    }

    gmtest::TempDir dir;
    u16 port = 0;
    std::unique_ptr<gmtest::ProgramRun> program;
    std::atomic<bool> drained{false};
    std::thread drain;
};

TEST_F(MalformedFrames, EndOnlyTheirConnectionWhileTwoHundredClientsAreServed) {
    ServedClients served;
    ASSERT_TRUE(served.Start(port));
    const u64 roundsBefore = served.Rounds();
    // The monitor's OP_CLEARLOG empties the log: its turn comes first.
    const std::vector<i16> opcodes = AllOpcodes();
    for (const tKind* kind : {&kMonitor, &kLock, &kClient}) {
        ExpectEnds(*kind, OP_NULL, "header 4", WireLong(4, false));
        std::atomic<size_t> next{0};
        std::vector<std::thread> checkers;
        for (int i = 0; i < kCheckers; ++i) {
            checkers.emplace_back([&] {
                for (size_t at = next++; at < opcodes.size(); at = next++) {
                    CheckOpcode(*kind, opcodes[at]);
                }
            });
        }
        for (std::thread& checker : checkers) checker.join();
    }
    const u64 roundsDuring = served.Rounds() - roundsBefore;
    const std::vector<std::string> failures = served.Stop();
    EXPECT_TRUE(failures.empty()) << failures.front();
    EXPECT_GT(roundsDuring, 0u);

    StopDrain();
    size_t stopped = 0;
    EXPECT_EQ(program->StopAnsweringYes(stopped), 0) << program->Output();
    const std::string log = gmtest::ReadFileText(dir.File("gatemill.log"));
    EXPECT_NE(log.find("invalid request length"), std::string::npos) << log;
    EXPECT_NE(log.find("malformed request"), std::string::npos) << log;
}

}  // namespace
