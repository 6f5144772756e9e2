// The monitor connection on loopback: request round trips per second (OP_BUILD, a 6-byte request
// and a 13-byte reply) beside a plain TCP echo of the same frame sizes, printed as a ratio; and
// monitor connects per second (connect packet, connect reply, OP_DISCONNECT) from 100 concurrent
// clients against a server with the listener's own pacing and 100 workers kept waiting.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "bench/benchratio.h"
#include "bench/benchserver.h"
#include "lib_base/sockets.h"
#include "lib_common/commbuffer.h"
#include "lib_common/opcodes.h"
#include "server/process/monitor.h"

namespace {

constexpr u32 kLoopback = 0x7F000001u;
constexpr i32 kClients = 100;

std::unique_ptr<tSocket> Connect(u16 port) {
    auto socket = std::make_unique<tSocket>(plat::kAfInet, "127.0.0.1", port, plat::kSockStream);
    if (!socket->Connect()) return nullptr;
    return socket;
}

bool RecvAll(tSocket& socket, void* buffer, i32 length) {
    char* at = static_cast<char*>(buffer);
    while (length > 0) {
        const i32 got = socket.Recv(at, length);
        if (got <= 0) return false;
        at += got;
        length -= got;
    }
    return true;
}

// One whole frame: its length prefix, then the rest.
bool RecvFrame(tSocket& socket, std::string& frame) {
    u32 length = 0;
    if (!RecvAll(socket, &length, 4) || length < 4 || length > (1u << 24)) return false;
    frame.resize(length);
    std::memcpy(frame.data(), &length, 4);
    return RecvAll(socket, frame.data() + 4, static_cast<i32>(length - 4));
}

std::string Frame(i16 opcode) {
    tCommBuffer buffer;
    buffer.PutShort(opcode);
    return std::string(reinterpret_cast<const char*>(buffer.GetFrame()), buffer.GetFrameLength());
}

std::string ConnectPacket() {
    const std::string body = std::string(
                                 "\xAE"
                                 "GML"
                                 "\xAE",
                                 5) +
                             '\0' + (IsLittleEndian() ? '1' : '0') + '1';
    const u32 length = static_cast<u32>(body.size() + 4);
    return std::string(reinterpret_cast<const char*>(&length), 4) + body;
}

// A connected monitor whose connect reply has been read; null when that failed.
std::unique_ptr<tSocket> ConnectMonitor(u16 port) {
    std::unique_ptr<tSocket> socket = Connect(port);
    const std::string packet = ConnectPacket();
    std::string reply;
    if (!socket || socket->Send(packet.data(), static_cast<i32>(packet.size()), 0) < 1 ||
        !RecvFrame(*socket, reply)) {
        return nullptr;
    }
    return socket;
}

// A server in this process whose workers serve monitors, over an ini in a directory of its own.
// Made at the first use, kept to the end of the process.
gmbench::tBenchServer& Server() {
    static gmbench::tBenchServer* const server = [] {
        char pattern[] = "/tmp/gmbenchXXXXXX";
        const std::string dir = mkdtemp(pattern) ? pattern : "/tmp";
        auto* made = new gmbench::tBenchServer(
            dir + "/gatemill.ini", "[General]\nThreadMin=" + std::to_string(kClients) +
                                       "\nThreadInc=" + std::to_string(kClients) + "\n");
        RegisterMonitorConnections();
        made->Start();
        return made;
    }();
    return *server;
}

// A plain TCP server that answers every 6-byte request with 13 bytes, as the monitor answers
// OP_BUILD.
class tEchoServer {
public:
    tEchoServer() : listener(plat::kAfInet, kLoopback, 0, plat::kSockStream) {
        ready = listener.Bind() && listener.Listen(5);
        if (ready) serving = std::thread([this] { Serve(); });
    }
    ~tEchoServer() {
        if (serving.joinable()) serving.join();
    }
    u16 Port() { return listener.GetPort(); }
    bool IsReady() const { return ready; }

private:
    void Serve() {
        std::unique_ptr<tSocket> peer = listener.Accept();
        if (!peer) return;
        char request[6];
        const std::string reply(13, 'r');
        while (RecvAll(*peer, request, sizeof request)) {
            if (peer->Send(reply.data(), static_cast<i32>(reply.size()), 0) < 1) return;
        }
    }

    tSocket listener;
    std::thread serving;
    bool ready = false;
};

void RoundTrips(benchmark::State& state, tSocket& socket, const std::string& request) {
    char reply[13];
    for (auto _ : state) {
        if (socket.Send(request.data(), static_cast<i32>(request.size()), 0) < 1 ||
            !RecvAll(socket, reply, sizeof reply)) {
            state.SkipWithError("round trip failed");
            return;
        }
    }
    state.counters["trips/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void MonitorBuildRoundTrip(benchmark::State& state) {
    if (!Server().IsReady()) return state.SkipWithError("server did not start");
    std::unique_ptr<tSocket> monitor = ConnectMonitor(Server().Port());
    if (!monitor) return state.SkipWithError("monitor connect failed");
    RoundTrips(state, *monitor, Frame(OP_BUILD));
    const std::string bye = Frame(OP_DISCONNECT);
    monitor->Send(bye.data(), static_cast<i32>(bye.size()), 0);
}

void PlainEchoRoundTrip(benchmark::State& state) {
    tEchoServer echo;
    if (!echo.IsReady()) return state.SkipWithError("echo server did not start");
    std::unique_ptr<tSocket> client = Connect(echo.Port());
    if (!client) return state.SkipWithError("echo connect failed");
    RoundTrips(state, *client, Frame(OP_BUILD));
    client.reset();  // the echo server's receive ends
}

// Each of the benchmark's threads is one client that connects, is answered and disconnects. The
// listening socket's backlog is short (5): a connect that the kernel drops or resets while every
// worker is busy is counted as refused, and the client tries again.
void MonitorConnects(benchmark::State& state) {
    if (!Server().IsReady()) return state.SkipWithError("server did not start");
    const std::string bye = Frame(OP_DISCONNECT);
    i64 connects = 0;
    i64 refused = 0;
    for (auto _ : state) {
        std::unique_ptr<tSocket> monitor = ConnectMonitor(Server().Port());
        if (!monitor) {
            ++refused;
            continue;
        }
        ++connects;
        monitor->Send(bye.data(), static_cast<i32>(bye.size()), 0);
        char byte;
        monitor->Recv(&byte, 1);  // the server closes it
    }
    state.counters["connects/s"] =
        benchmark::Counter(static_cast<double>(connects), benchmark::Counter::kIsRate);
    state.counters["refused"] = benchmark::Counter(static_cast<double>(refused));
}

BENCHMARK(MonitorBuildRoundTrip)->MinTime(2.0)->UseRealTime();
BENCHMARK(PlainEchoRoundTrip)->MinTime(2.0)->UseRealTime();
BENCHMARK(MonitorConnects)->Threads(kClients)->MinTime(5.0)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    return gmbench::tRatioReporter::Main(argc, argv, "monitor OP_BUILD / plain TCP echo",
                                         "MonitorBuildRoundTrip", "PlainEchoRoundTrip", "trips/s",
                                         "round trips");
}
