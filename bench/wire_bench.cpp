// Client connections to the gateway of bench/benchpeer on the private PostgreSQL, one request at
// a time: OP_BUILD beside a TCP echo of the same frame sizes, and OP_GO and OP_SEEK on the
// navigation table (bench/benchdb.h) beside a TCP echo of their sizes plus the prepared select of
// the same row, and beside the floor: a gateway that only runs that prepared select.
//
// Run by bench/run.sh, which starts benchpeer and exports its ports (bench/benchwire.h).
#include <benchmark/benchmark.h>

#include <map>
#include <memory>
#include <string>

#include "bench/benchdb.h"
#include "bench/benchwire.h"
#include "lib_common/opcodes.h"

namespace {

constexpr i16 kKeyOrder = 1;  // GM_BENCH_ISAM1, on NOME
constexpr i16 kKeyLength = 30;

// The private PostgreSQL's settings with the navigation table filled; empty after a message.
const std::map<std::string, std::string>& World() {
    static const std::map<std::string, std::string> env = gmbench::StartPostgresWith(
        [](tPostgresConnection& conn) { return gmbench::FillNavTable(conn); });
    return env;
}

// A client of the gateway with the navigation table open in its key order.
class tNavigator {
public:
    // Connected, the table opened and ordered; false when any step failed.
    bool Start() {
        const u16 port = gmbench::PeerPort("GM_BENCH_GATEWAY");
        return !World().empty() && port && gmbench::StartClient(wire, port) &&
               gmbench::OpenTable(wire, "GM_BENCH_ISAM", fileId, recordLength) &&
               recordLength >= static_cast<u32>(kKeyLength) &&
               wire.Call(OP_SETKEY, gmbench::Short(fileId) + gmbench::Short(kKeyOrder));
    }
    std::string BuildRequest() const { return gmbench::Frame(OP_BUILD, ""); }
    std::string GoToRequest(i64 recno) const {
        return gmbench::Frame(OP_GO,
                              gmbench::Short(fileId) + gmbench::Long(static_cast<i32>(recno)));
    }
    // An exact seek of the row's key, laid out as a record.
    std::string SeekRequest(i64 recno) const {
        std::string key = gmbench::NavKey(recno);
        key.resize(recordLength, '\0');
        return gmbench::Frame(OP_SEEK, gmbench::Short(fileId) + gmbench::Short(1) +
                                           gmbench::Short(kKeyLength) + '\0' + '\0' + key);
    }
    // The request and a reply of code 0 (a build's reply is its text, whatever it starts with).
    bool Exchange(const std::string& request, bool coded = true) {
        return wire.Exchange(request) && (!coded || wire.Code() == 0);
    }
    size_t LastReplySize() const { return wire.Reply().size() + 4; }
    void End() { wire.End(); }

private:
    gmbench::tWire wire;
    i16 fileId = 0;
    u32 recordLength = 0;
};

// The frame sizes of the three requests and their replies, read from one of each.
struct tSizes {
    size_t build[2] = {};
    size_t goTo[2] = {};
    size_t seek[2] = {};
};

// The request's size and its reply's, when it was answered.
void Measure(tNavigator& probe, const std::string& request, bool coded, size_t (&sizes)[2]) {
    if (!probe.Exchange(request, coded)) return;
    sizes[0] = request.size();
    sizes[1] = probe.LastReplySize();
}

const tSizes& Sizes() {
    static const tSizes sizes = [] {
        tSizes made;
        tNavigator probe;
        if (!probe.Start()) return made;
        Measure(probe, probe.BuildRequest(), false, made.build);
        Measure(probe, probe.GoToRequest(1), true, made.goTo);
        Measure(probe, probe.SeekRequest(1), true, made.seek);
        probe.End();
        return made;
    }();
    return sizes;
}

// Round trips of the gateway: the request of each iteration and a reply of code 0.
template <typename tRequest>
void GatewayTrips(benchmark::State& state, tRequest request, bool coded) {
    tNavigator client;
    if (!client.Start()) return state.SkipWithError("connect, open or order failed");
    i64 i = 0;
    for (auto _ : state) {
        if (!client.Exchange(request(client, gmbench::NavRecno(i++)), coded)) {
            return state.SkipWithError("request failed");
        }
    }
    client.End();
    state.counters["trips/s"] = gmbench::Rate(static_cast<double>(state.iterations()));
}

void ClientBuild(benchmark::State& state) {
    GatewayTrips(
        state, [](const tNavigator& c, i64) { return c.BuildRequest(); }, false);
}
void GoToOverWire(benchmark::State& state) {
    GatewayTrips(
        state, [](const tNavigator& c, i64 recno) { return c.GoToRequest(recno); }, true);
}
void SeekOverWire(benchmark::State& state) {
    GatewayTrips(
        state, [](const tNavigator& c, i64 recno) { return c.SeekRequest(recno); }, true);
}

// Round trips of the echo with the sizes given (request, reply).
void EchoTrips(benchmark::State& state, const size_t (&sizes)[2]) {
    gmbench::tWire echo;
    const u16 port = gmbench::PeerPort("GM_BENCH_ECHO");
    if (sizes[0] < 6 || !port || !echo.Connect(port)) {
        return state.SkipWithError("no sizes or echo connect failed");
    }
    const std::string request = gmbench::EchoRequest(sizes[0], sizes[1]);
    for (auto _ : state) {
        if (!echo.Exchange(request) || echo.Reply().size() + 4 != sizes[1]) {
            return state.SkipWithError("echo failed");
        }
    }
    state.counters["trips/s"] = gmbench::Rate(static_cast<double>(state.iterations()));
}

void EchoOfBuild(benchmark::State& state) { EchoTrips(state, Sizes().build); }
void EchoOfGoTo(benchmark::State& state) { EchoTrips(state, Sizes().goTo); }
void EchoOfSeek(benchmark::State& state) { EchoTrips(state, Sizes().seek); }

// The prepared select of a row in this process, by record number or by key.
void PreparedSelect(benchmark::State& state, bool byKey) {
    std::unique_ptr<tPostgresConnection> conn;
    if (!World().empty()) conn = gmbench::ConnectPostgres(World());
    if (!conn) return state.SkipWithError("connect failed");
    gmbench::tNavSelect select(*conn, byKey);
    if (!select.IsReady()) return state.SkipWithError("prepare failed");
    i64 i = 0;
    for (auto _ : state) {
        const i64 recno = gmbench::NavRecno(i++);
        if (!(byKey ? select.ByKey(gmbench::NavKey(recno)) : select.ByRecno(recno))) {
            return state.SkipWithError("no row");
        }
    }
    state.counters["trips/s"] = gmbench::Rate(static_cast<double>(state.iterations()));
}

void PreparedPkSelect(benchmark::State& state) { PreparedSelect(state, false); }
void PreparedKeySelect(benchmark::State& state) { PreparedSelect(state, true); }

// Round trips of the floor: the same selects, run by the floor for each frame.
void FloorTrips(benchmark::State& state, bool byKey) {
    gmbench::tWire floor;
    const u16 port = gmbench::PeerPort("GM_BENCH_FLOOR");
    if (World().empty() || !port || !floor.Connect(port)) {
        return state.SkipWithError("floor connect failed");
    }
    i64 i = 0;
    for (auto _ : state) {
        const i64 recno = gmbench::NavRecno(i++);
        const std::string args =
            byKey ? gmbench::Short(gmbench::kFloorByKey) + gmbench::NavKey(recno)
                  : gmbench::Short(gmbench::kFloorByRecno) + gmbench::Long(static_cast<i32>(recno));
        if (!floor.Exchange(gmbench::Long(static_cast<i32>(4 + args.size())) + args) ||
            floor.Code() != 0) {
            return state.SkipWithError("floor request failed");
        }
    }
    state.counters["trips/s"] = gmbench::Rate(static_cast<double>(state.iterations()));
}

void FloorGoTo(benchmark::State& state) { FloorTrips(state, false); }
void FloorSeek(benchmark::State& state) { FloorTrips(state, true); }

BENCHMARK(ClientBuild)->MinTime(1.0)->UseRealTime();
BENCHMARK(EchoOfBuild)->MinTime(1.0)->UseRealTime();
BENCHMARK(GoToOverWire)->MinTime(1.0)->UseRealTime();
BENCHMARK(EchoOfGoTo)->MinTime(1.0)->UseRealTime();
BENCHMARK(PreparedPkSelect)->MinTime(1.0)->UseRealTime();
BENCHMARK(FloorGoTo)->MinTime(1.0)->UseRealTime();
BENCHMARK(SeekOverWire)->MinTime(1.0)->UseRealTime();
BENCHMARK(EchoOfSeek)->MinTime(1.0)->UseRealTime();
BENCHMARK(PreparedKeySelect)->MinTime(1.0)->UseRealTime();
BENCHMARK(FloorSeek)->MinTime(1.0)->UseRealTime();

// The rows of a request measured beside its echo plus select and beside the floor.
void PrintMoveRows(const gmbench::tRatioReporter& r, const char* move, const char* select,
                   const char* floor, const char* name) {
    const double us = gmbench::MicrosPer(r.Get(std::string(move) + "OverWire", "trips/s"));
    const double echo = gmbench::MicrosPer(r.Get(std::string("EchoOf") + move, "trips/s"));
    const std::string key = std::string(move) == "GoTo" ? "goto" : "seek";
    const std::string what = std::string(name) + " over the wire";
    gmbench::PrintRow((key + "_us").c_str(), us, "us", (what + ", round trip").c_str());
    gmbench::PrintRow(
        (key + "_vs_echo_select").c_str(),
        gmbench::Ratio(us, gmbench::Sum(echo, gmbench::MicrosPer(r.Get(select, "trips/s")))), "x",
        (what + " / (TCP echo + " + (key == "goto" ? "prepared PK select" : "prepared key select") +
         ") (time)")
            .c_str());
    gmbench::PrintRow((key + "_vs_floor").c_str(),
                      gmbench::Ratio(us, gmbench::MicrosPer(r.Get(floor, "trips/s"))), "x",
                      (what + " / minimal gateway running the prepared select (time)").c_str());
}

}  // namespace

int main(int argc, char** argv) {
    return gmbench::Main(argc, argv, [](const gmbench::tRatioReporter& r) {
        gmbench::PrintRow(
            "client_build",
            gmbench::Ratio(r.Get("EchoOfBuild", "trips/s"), r.Get("ClientBuild", "trips/s")), "x",
            "client-connection OP_BUILD round trip / TCP echo of the same sizes");
        PrintMoveRows(r, "GoTo", "PreparedPkSelect", "FloorGoTo", "OP_GO");
        PrintMoveRows(r, "Seek", "PreparedKeySelect", "FloorSeek", "OP_SEEK");
    });
}
