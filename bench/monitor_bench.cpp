// Monitor connections to the gateway of bench/benchpeer: request round trips (OP_BUILD, a 6-byte
// request and a 13-byte reply) beside a plain TCP echo of the same frame sizes, and a burst of
// 200 monitors connecting at once, each making 5 requests, against the pool's default settings.
//
// Run by bench/run.sh, which starts benchpeer and exports its ports (bench/benchwire.h).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>

#include "bench/benchratio.h"
#include "bench/benchwire.h"
#include "lib_common/opcodes.h"

namespace {

constexpr i32 kBurstClients = 200;
constexpr i32 kBurstRequests = 5;
// A client of the burst gives up after waiting this long for its connect or a reply.
constexpr u32 kBurstWaitMs = 10000;
constexpr size_t kBuildRequest = 6;
constexpr size_t kBuildReply = 13;

using tClock = std::chrono::steady_clock;

// Round trips of request, each answered by a frame of replyLength bytes.
void RoundTrips(benchmark::State& state, gmbench::tWire& wire, const std::string& request,
                size_t replyLength) {
    for (auto _ : state) {
        if (!wire.Exchange(request) || wire.Reply().size() + 4 != replyLength) {
            return state.SkipWithError("round trip failed");
        }
    }
    state.counters["trips/s"] = gmbench::Rate(static_cast<double>(state.iterations()));
}

void MonitorBuildRoundTrip(benchmark::State& state) {
    gmbench::tWire monitor;
    const u16 port = gmbench::PeerPort("GM_BENCH_GATEWAY");
    if (!port || !gmbench::StartMonitor(monitor, port)) {
        return state.SkipWithError("monitor connect failed");
    }
    RoundTrips(state, monitor, gmbench::Frame(OP_BUILD, ""), kBuildReply);
    monitor.End();
}

void PlainEchoRoundTrip(benchmark::State& state) {
    gmbench::tWire echo;
    const u16 port = gmbench::PeerPort("GM_BENCH_ECHO");
    if (!port || !echo.Connect(port)) return state.SkipWithError("echo connect failed");
    RoundTrips(state, echo, gmbench::EchoRequest(kBuildRequest, kBuildReply), kBuildReply);
}

// One monitor of the burst: connected, kBurstRequests requests answered, disconnected; false
// when any step failed or waited too long.
bool ServeOneMonitor(u16 port) {
    gmbench::tWire monitor;
    if (!gmbench::StartMonitor(monitor, port, kBurstWaitMs)) return false;
    const std::string request = gmbench::Frame(OP_BUILD, "");
    for (i32 i = 0; i < kBurstRequests; ++i) {
        if (!monitor.Exchange(request)) return false;
    }
    monitor.End();
    return true;
}

// Each of the benchmark's threads is one monitor, and all start together: the counters are how
// many were served and the seconds until the last of them was.
void MonitorBurst(benchmark::State& state) {
    static std::atomic<i32> served{0};
    static std::atomic<i64> lastServedUs{0};
    const u16 port = gmbench::PeerPort("GM_BENCH_GATEWAY");
    if (!port) state.SkipWithError("no gateway");
    if (state.thread_index() == 0) {
        served = 0;
        lastServedUs = 0;
    }
    for (auto _ : state) {
        const tClock::time_point start = tClock::now();
        if (!ServeOneMonitor(port)) continue;
        const i64 us =
            std::chrono::duration_cast<std::chrono::microseconds>(tClock::now() - start).count();
        ++served;
        i64 last = lastServedUs.load();
        while (us > last && !lastServedUs.compare_exchange_weak(last, us)) {
        }
    }
    // Every thread has passed the loop's closing barrier: the totals are complete.
    if (state.thread_index() != 0) return;
    state.counters["served"] = served.load();
    state.counters["last_served_s"] = static_cast<double>(lastServedUs.load()) / 1e6;
}

BENCHMARK(MonitorBuildRoundTrip)->MinTime(1.0)->UseRealTime();
BENCHMARK(PlainEchoRoundTrip)->MinTime(1.0)->UseRealTime();
BENCHMARK(MonitorBurst)->Threads(kBurstClients)->Iterations(1)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    return gmbench::Main(argc, argv, [](const gmbench::tRatioReporter& r) {
        gmbench::PrintRow("monitor_build",
                          gmbench::Ratio(r.Get("PlainEchoRoundTrip", "trips/s"),
                                         r.Get("MonitorBuildRoundTrip", "trips/s")),
                          "x", "monitor OP_BUILD round trip / TCP echo of the same sizes");
        const double served = r.Get("MonitorBurst", "served");
        gmbench::PrintRow("burst_served", served, "of 200",
                          "200 monitors connecting at once, 5 requests each: served");
        gmbench::PrintRow("burst_seconds", served > 0 ? r.Get("MonitorBurst", "last_served_s") : 0,
                          "s", "200 monitors connecting at once, 5 requests each: last served");
    });
}
