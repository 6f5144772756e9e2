// The servers that the benchmarks over loopback measure, in one process that bench/run.sh pins to
// a CPU of its own: the gateway (the server's listener and worker pool with their default
// settings, serving client connections and monitors on the private PostgreSQL, and as a master
// the lock connections of a slave), a plain TCP echo, and the floor of any separate gateway,
// which answers each frame with one run of a prepared select through ODBC. It prints the three
// ports as shell assignments, then serves until ended.
//
// "benchpeer --slave <port>" is a second gateway instead, a slave of the gateway on that port
// (its locks and record numbers kept there), serving client connections on the same database;
// it prints its port as GM_BENCH_SLAVE.
//
// It reaches the private PostgreSQL as the benchmarks do (bench/benchdb.h); its ini and log lie
// beside db.env. The frames of the echo and the floor are described in bench/benchwire.h.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include "bench/benchdb.h"
#include "bench/benchserver.h"
#include "bench/benchwire.h"
#include "lib_common/cipher.h"
#include "lib_common/logwriter.h"
#include "server/process/dbservices.h"
#include "server/process/lockconn.h"
#include "server/process/monitor.h"

namespace {

constexpr u32 kLoopback = 0x7F000001u;
constexpr i32 kBacklog = 4096;  // a burst of clients at once; the kernel caps it at its maximum

std::string Enciphered(const std::string& password) {
    std::string text = password;
    const tCryptor cryptor(kIniPasswordKeyLength, kIniPasswordKey);
    cryptor.Encrypt(text.data(), static_cast<u32>(text.size()));
    return text;
}

// Accepts connections on a free loopback port and serves each on a thread of its own.
class tPeerListener {
public:
    using tServe = std::function<void(gmbench::tWire&)>;
    explicit tPeerListener(tServe serve)
        : serve(std::move(serve)), listener(plat::kAfInet, kLoopback, 0, plat::kSockStream) {
        if (listener.Bind() && listener.Listen(kBacklog)) {
            accepting = std::thread([this] { Accept(); });
        }
    }
    u16 Port() { return accepting.joinable() ? listener.GetPort() : 0; }
    void Join() { accepting.join(); }

private:
    void Accept() {
        for (;;) {
            std::unique_ptr<tSocket> peer = listener.Accept();
            if (!peer) return;
            std::thread([this, peer = std::move(peer)]() mutable {
                gmbench::tWire wire(std::move(peer));
                serve(wire);
            }).detach();
        }
    }

    const tServe serve;
    tSocket listener;
    std::thread accepting;
};

// Each request answered with a frame of the length it asks for.
void ServeEcho(gmbench::tWire& wire) {
    while (wire.Receive()) {
        u16 length = 0;
        if (wire.Reply().size() < 2) return;
        std::memcpy(&length, wire.Reply().data(), 2);
        if (length < 4) return;
        std::string frame = gmbench::Long(length);
        frame.resize(length, 'r');
        if (!wire.SendAll(frame)) return;
    }
}

// Each request answered with one run of the prepared select it names, on a connection of this
// client's own: code 0 and the row, or -25 alone when no row came.
void ServeFloor(gmbench::tWire& wire, const std::map<std::string, std::string>& env) {
    std::unique_ptr<tPostgresConnection> conn = gmbench::ConnectPostgres(env);
    if (!conn) return;
    gmbench::tNavSelect byRecno(*conn, false);
    gmbench::tNavSelect byKey(*conn, true);
    if (!byRecno.IsReady() || !byKey.IsReady()) return;
    while (wire.Receive()) {
        const std::string& request = wire.Reply();
        if (request.size() < 2) return;
        i16 kind = 0;
        std::memcpy(&kind, request.data(), 2);
        bool found = false;
        gmbench::tNavSelect* select = &byKey;
        if (kind == gmbench::kFloorByRecno && request.size() >= 6) {
            i32 recno = 0;
            std::memcpy(&recno, request.data() + 2, 4);
            select = &byRecno;
            found = byRecno.ByRecno(recno);
        } else if (kind == gmbench::kFloorByKey) {
            found = byKey.ByKey(request.substr(2));
        } else {
            return;
        }
        const std::string body = found ? gmbench::Short(0) + select->Row() : gmbench::Short(-25);
        if (!wire.SendAll(gmbench::Long(static_cast<i32>(body.size() + 4)) + body)) return;
    }
}

// A gateway in the mode over an ini of its own beside db.env, named by its role: the alias of the
// private PostgreSQL, the general keys given and every other key at its default. Made once and
// never deleted: workers may still run at the end.
gmbench::tBenchServer* StartGateway(const std::map<std::string, std::string>& env, u32 mode,
                                    const char* role, const std::string& general) {
    const std::string base = gmbench::DbEnvPath() + "." + role;
    SetLogPath((base + ".log").c_str());
    auto* server = new gmbench::tBenchServer(
        base + ".ini", "[General]\nODBC30=1\n" + general + "[POSTGRES/" + gmbench::kAlias +
                           "]\nuser=" + env.at("GM_PG_USER") +
                           "\npassword=" + Enciphered(env.at("GM_PG_PASSWORD")) + "\n");
    RegisterClientConnections();
    RegisterMonitorConnections();
    RegisterLockConnections();
    return server->Start(mode) ? server : nullptr;
}

// The slave gateway of the master on the port; the process's status.
int ServeSlave(const std::map<std::string, std::string>& env, const char* masterPort) {
    const long port = std::strtol(masterPort, nullptr, 10);
    if (port <= 0 || port >= 65536) {
        std::fprintf(stderr, "benchpeer: '%s' is no port\n", masterPort);
        return 2;
    }
    const std::string general = "MasterServer=127.0.0.1\nMasterPort=" + std::to_string(port) + "\n";
    gmbench::tBenchServer* slave = StartGateway(env, kModeSlave, "slave", general);
    if (!slave) {
        std::fprintf(stderr, "benchpeer: the slave did not start\n");
        return 1;
    }
    std::printf("GM_BENCH_SLAVE=%u\n", slave->Port());
    std::fflush(stdout);
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));  // served until ended
}

}  // namespace

int main(int argc, char** argv) {
    const std::map<std::string, std::string> env = gmbench::ReadPostgresEnv();
    if (env.empty()) return 1;
    if (argc == 3 && std::strcmp(argv[1], "--slave") == 0) return ServeSlave(env, argv[2]);
    gmbench::tBenchServer* gateway = StartGateway(env, kModeMaster, "peer", "");
    tPeerListener echo(ServeEcho);
    tPeerListener floor([&env](gmbench::tWire& wire) { ServeFloor(wire, env); });
    if (!gateway || !echo.Port() || !floor.Port()) {
        std::fprintf(stderr, "benchpeer: a server did not start\n");
        return 1;
    }
    std::printf("GM_BENCH_GATEWAY=%u\nGM_BENCH_ECHO=%u\nGM_BENCH_FLOOR=%u\n", gateway->Port(),
                echo.Port(), floor.Port());
    std::fflush(stdout);
    echo.Join();  // the listeners serve until the process is ended
    return 0;
}
