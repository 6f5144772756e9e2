// Locks through a master: record lock-and-unlock pairs per second that lock clients of the client
// library get from a master's lock connections in this process (GM_LockClientRLock and
// GM_LockClientRUnLock), from 1 and 16 connections, beside a plain TCP echo of the same frame
// sizes (bench/benchpeer's echo), printed as the ratio of their times. And appends per second on
// the private PostgreSQL by a client of a slave gateway beside a client of its master on the
// same table (bench/benchpeer's gateway and its slave, GM_BENCH_GATEWAY and GM_BENCH_SLAVE):
// each alone, and both at once.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>
#include <fstream>
#include <map>
#include <memory>
#include <string>

#include "bench/benchappend.h"
#include "bench/benchdb.h"
#include "bench/benchratio.h"
#include "bench/benchwire.h"
#include "client/gatemillapi.h"
#include "lib_base/printer.h"
#include "lib_base/threads.h"
#include "server/locks/lockbucket.h"
#include "server/process/gmlserver.h"
#include "server/process/lockconn.h"
#include "server/runtime/globals.h"

namespace {

constexpr const char* kTable = "SA1010";
// The table that clients of the master and of the slave append to.
constexpr const char* kSharedTable = "GM_BENCH_SHARED";
// How long the clients of both gateways append at once.
constexpr auto kTogetherTime = std::chrono::seconds(1);
// OP_LOCK's request: length, opcode, owner, hash, the table with its NUL, the record number; its
// reply: length and code.
constexpr size_t kRequestSize = 4 + 2 + 4 + 4 + 7 + 8;
constexpr size_t kReplySize = 4 + 2;

void DropConsole(const char*) {}

// A master listening on loopback in this process, made once and left to the process's end.
class tMaster {
public:
    tMaster() {
        char dir[] = "/tmp/gm_lockconnbench_XXXXXX";
        if (!mkdtemp(dir)) return;
        const std::string ini = std::string(dir) + "/gatemill.ini";
        std::ofstream(ini) << "[General]\nThreadMin=20\nThreadInc=4\n";
        SetConsolePrinter(&DropConsole);
        globals = std::make_unique<tGMLGlobals>(ini.c_str());
        globals->CreateLockServers();
        PublishGlobals(globals.get());
        RegisterLockConnections();
        server = std::make_unique<tGMLServer>(&threads, kModeMaster, false);
        if (!server->ListenAddr(0, "127.0.0.1")) return;
        server->LoadThreadLimits();
        if (server->Start(1)) port = static_cast<u16>(server->GetPort());
    }

    u16 port = 0;

private:
    tThreadList threads;
    std::unique_ptr<tGMLGlobals> globals;
    std::unique_ptr<tGMLServer> server;
};

u16 MasterPort() {
    static tMaster* master = new tMaster();  // serves until the process ends
    return master->port;
}

// Each thread its own lock connection and owner, locking and unlocking its own records.
void MasterLockPairs(benchmark::State& state) {
    const u16 port = MasterPort();
    const GM_HANDLE handle = GM_GetLockClient(port);
    const bool connected = port && GM_ConnectLockClient(handle, "127.0.0.1") == 0;
    const u32 owner = static_cast<u32>(state.thread_index()) + 1;
    const u32 hash = LockBucketOf(kTable);
    // Records first to first + 999 in turn, apart from every other thread's.
    const double first = 1 + 1000.0 * state.thread_index();
    double recno = first;
    bool failed = !connected;
    for (auto _ : state) {
        if (failed) continue;
        if (GM_LockClientRLock(handle, owner, hash, kTable, recno) != -31 ||
            GM_LockClientRUnLock(handle, owner, hash, kTable, recno) != 0) {
            failed = true;
        }
        recno = recno < first + 999 ? recno + 1 : first;
    }
    GM_ReleaseLockClient(handle);
    if (failed) return state.SkipWithError("lock client failed");
    state.counters["pairs/s"] = gmbench::Rate(static_cast<double>(state.iterations()));
}

// Two echo round trips of a lock request's and reply's sizes per iteration.
void EchoOfLockPairs(benchmark::State& state) {
    gmbench::tWire echo;
    const u16 port = gmbench::PeerPort("GM_BENCH_ECHO");
    const bool connected = port && echo.Connect(port);
    const std::string request = gmbench::EchoRequest(kRequestSize, kReplySize);
    bool failed = !connected;
    for (auto _ : state) {
        if (failed) continue;
        if (!echo.Exchange(request) || !echo.Exchange(request)) failed = true;
    }
    if (failed) return state.SkipWithError("echo failed");
    state.counters["pairs/s"] = gmbench::Rate(static_cast<double>(state.iterations()));
}

// The catalogue checked up and the shared table made afresh.
bool MakeSharedTable(tPostgresConnection& conn) {
    tString report;
    return conn.InitialCheckUp(report) && gmbench::MakeAppendTable(conn, kSharedTable);
}

// The private PostgreSQL's settings with the shared table made; empty after a message. Made once.
const std::map<std::string, std::string>& World() {
    static const std::map<std::string, std::string> env =
        gmbench::StartPostgresWith(MakeSharedTable);
    return env;
}

// A client of the gateway whose port the variable names, with the shared table open.
bool StartAppender(gmbench::tAppender& client, const char* portName) {
    return !World().empty() && client.Start(gmbench::PeerPort(portName), kSharedTable);
}

// One client of the gateway appending to the shared table, each new record unlocked at once as
// applications do: at a slave the record number, the lock and the unlock travel to the master.
void AppendsThrough(benchmark::State& state, const char* portName) {
    gmbench::tAppender client;
    gmbench::TimeAppends(state, client, StartAppender(client, portName), true);
}

void MasterClientAppends(benchmark::State& state) { AppendsThrough(state, "GM_BENCH_GATEWAY"); }
void SlaveClientAppends(benchmark::State& state) { AppendsThrough(state, "GM_BENCH_SLAVE"); }

// Thread 0 a client of the master, thread 1 one of the slave, appending to the shared table at
// the same time for kTogetherTime; each its own rate.
void AppendsSideBySide(benchmark::State& state) {
    const bool atSlave = state.thread_index() == 1;
    gmbench::tAppender client;
    if (!StartAppender(client, atSlave ? "GM_BENCH_SLAVE" : "GM_BENCH_GATEWAY")) {
        state.SkipWithError("connect or open failed");
    }
    i64 appends = 0;
    double seconds = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const auto deadline = start + kTogetherTime;
        while (std::chrono::steady_clock::now() < deadline) {
            if (!client.Append(appends, true)) {
                state.SkipWithError("append refused");
                break;
            }
            ++appends;
        }
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    client.End();
    if (seconds > 0) {
        state.counters[atSlave ? "slave appends/s" : "master appends/s"] =
            static_cast<double>(appends) / seconds;
    }
}

// One function per thread count: the report keeps counters by function.
void MasterLockPairs16(benchmark::State& state) { MasterLockPairs(state); }
void EchoOfLockPairs16(benchmark::State& state) { EchoOfLockPairs(state); }

BENCHMARK(MasterLockPairs)->MinTime(1.0)->UseRealTime();
BENCHMARK(EchoOfLockPairs)->MinTime(1.0)->UseRealTime();
BENCHMARK(MasterLockPairs16)->Threads(16)->MinTime(1.0)->UseRealTime();
BENCHMARK(EchoOfLockPairs16)->Threads(16)->MinTime(1.0)->UseRealTime();
BENCHMARK(MasterClientAppends)->UseRealTime();
BENCHMARK(SlaveClientAppends)->UseRealTime();
BENCHMARK(AppendsSideBySide)->Threads(2)->Iterations(1)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    return gmbench::Main(argc, argv, [](const gmbench::tRatioReporter& r) {
        const auto row = [&r](const char* key, const std::string& suffix, const char* what) {
            gmbench::PrintRow(key,
                              gmbench::Ratio(r.Get("EchoOfLockPairs" + suffix, "pairs/s"),
                                             r.Get("MasterLockPairs" + suffix, "pairs/s")),
                              "x", what);
        };
        row("lockconn_vs_echo", "",
            "lock and unlock through a master, 1 connection / two TCP echoes of the same frame "
            "sizes (time)");
        row("lockconn16_vs_echo", "16",
            "lock and unlock through a master, 16 connections / two TCP echoes of the same frame "
            "sizes each (time)");
        const double master = r.Get("MasterClientAppends", "appends/s");
        const double slave = r.Get("SlaveClientAppends", "appends/s");
        gmbench::PrintRow("slave_appends", slave, "/s", "appends, one client of a slave, unlocked");
        gmbench::PrintRow("master_appends", master, "/s",
                          "appends, one client of the master, unlocked");
        gmbench::PrintRow("slave_vs_master_appends", gmbench::Ratio(slave, master), "x",
                          "appends, a client of a slave / a client of its master, each alone "
                          "(rate)");
        gmbench::PrintRow(
            "slave_beside_master_appends",
            gmbench::Ratio(r.Get("AppendsSideBySide", "slave appends/s"),
                           r.Get("AppendsSideBySide", "master appends/s")),
            "x",
            "appends, a client of a slave / a client of its master, both at once on one table "
            "(rate)");
    });
}
