// Appends through the gateway of bench/benchpeer on the private PostgreSQL: OP_WRITE round trips
// from one client and from 16 clients on one table, keeping each new record's lock or giving it
// back at once (OP_UNLOCK), beside plain prepared INSERTs through ODBC from as many connections
// into a table of the same shape and beside a TCP echo of the append's frame sizes; and OP_GO
// round trips of 8 readers on that table alone, while 8 clients append keeping their locks, and
// while 8 plain connections insert (the database's own share of the readers' slowdown).
//
// Run by bench/run.sh, which starts benchpeer and exports its ports (bench/benchwire.h). Every
// run makes both tables afresh.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "bench/benchappend.h"
#include "bench/benchdb.h"
#include "bench/benchwire.h"
#include "server/drivers/postgres.h"

namespace {

constexpr const char* kServerTable = "GM_BENCH_APPEND";
constexpr const char* kPlainTable = "GM_BENCH_INSERT";
constexpr const char* kInsert =
    "INSERT INTO GM_BENCH_INSERT (NOME, VALOR, D_E_L_E_T_, R_E_C_N_O_) VALUES (?, ?, ?, ?)";
constexpr i32 kClients = 16;
constexpr i32 kReaders = 8;
// The rows that readers go to, there before the appends.
constexpr i32 kReaderRows = 1000;
constexpr auto kReadTime = std::chrono::seconds(2);

using tClock = std::chrono::steady_clock;
using gmbench::kNameLength;

// The catalogue checked up, both tables dropped and created, the server table holding the
// readers' rows.
bool MakeTables(tPostgresConnection& conn) {
    tString report;
    if (!conn.InitialCheckUp(report)) return false;
    for (const char* table : {kServerTable, kPlainTable}) {
        if (!gmbench::MakeAppendTable(conn, table)) return false;
    }
    const std::string fill = std::string("INSERT INTO ") + kServerTable +
                             " (NOME, VALOR, D_E_L_E_T_, R_E_C_N_O_) SELECT 'READ ' || g, g, ' ', "
                             "g FROM generate_series(1, " +
                             std::to_string(kReaderRows) + ") g";
    return gmbench::RunSql(conn, fill.c_str());
}

// The private PostgreSQL's settings with both tables made; empty after a message. Made once.
const std::map<std::string, std::string>& World() {
    static const std::map<std::string, std::string> env = gmbench::StartPostgresWith(MakeTables);
    return env;
}

// A client of the gateway with the server table open; false when the tables or the client could
// not be had.
bool StartAppender(gmbench::tAppender& client) {
    return !World().empty() && client.Start(gmbench::PeerPort("GM_BENCH_GATEWAY"), kServerTable);
}

// Each of the benchmark's threads is one client, connected and with the table open before the
// timing starts. Without unlock each client keeps the lock of every record it appended, as an
// append leaves it; with unlock it gives each one back at once, as applications do.
void ServerAppends(benchmark::State& state, bool unlock) {
    gmbench::tAppender client;
    gmbench::TimeAppends(state, client, StartAppender(client), unlock);
}

// One ODBC connection with the INSERT prepared once; record numbers come from one counter, as the
// lock engine gives them out to the server's appends.
class tPlainInserter {
public:
    bool Start() {
        if (!World().empty()) conn = gmbench::ConnectPostgres(World());
        const tODBCEntryPoints& odbc = ODBCEntryPoints();
        if (!conn ||
            !SQL_SUCCEEDED(odbc.SQLAllocHandle(SQL_HANDLE_STMT, conn->GetHandle(), &stmt)) ||
            !SQL_SUCCEEDED(odbc.SQLPrepare(
                stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(kInsert)), SQL_NTS))) {
            return false;
        }
        odbc.SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_CHAR, kNameLength, 0, name,
                              sizeof name, &nts);
        odbc.SQLBindParameter(stmt, 2, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 15, 0, &value, 0,
                              nullptr);
        odbc.SQLBindParameter(stmt, 3, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_CHAR, 1, 0, deleted,
                              sizeof deleted, &nts);
        odbc.SQLBindParameter(stmt, 4, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 15, 0, &recno, 0,
                              nullptr);
        return true;
    }
    bool Insert() {
        static std::atomic<i64> nextRecno{1};
        const i64 n = nextRecno.fetch_add(1);
        std::snprintf(name, sizeof name, "CLIENT %lld", static_cast<long long>(n));
        value = static_cast<f64>(n) * 1.5;
        recno = static_cast<f64>(n);
        return SQL_SUCCEEDED(ODBCEntryPoints().SQLExecute(stmt));
    }
    ~tPlainInserter() {
        if (stmt != SQL_NULL_HSTMT) ODBCEntryPoints().SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    }

private:
    std::unique_ptr<tPostgresConnection> conn;
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    char name[kNameLength + 1] = {};
    f64 value = 0.0;
    char deleted[2] = " ";
    f64 recno = 0.0;
    SQLLEN nts = SQL_NTS;
};

// Each of the benchmark's threads is one plain inserting connection.
void PlainInserts(benchmark::State& state) {
    tPlainInserter inserter;
    if (!inserter.Start()) state.SkipWithError("connect or prepare failed");
    i64 inserts = 0;
    for (auto _ : state) {
        if (!inserter.Insert()) {
            state.SkipWithError("insert failed");
            break;
        }
        ++inserts;
    }
    state.counters["appends/s"] = gmbench::Rate(static_cast<double>(inserts));
}

// A TCP echo of an append's request and reply sizes, read from one append made first.
void EchoOfAppend(benchmark::State& state) {
    gmbench::tAppender probe;
    if (!StartAppender(probe) || !probe.Append(0, false))
        return state.SkipWithError("append failed");
    const std::string request =
        gmbench::EchoRequest(probe.AppendRequestSize(), probe.LastReplySize());
    const size_t replySize = probe.LastReplySize();
    probe.End();
    gmbench::tWire echo;
    const u16 port = gmbench::PeerPort("GM_BENCH_ECHO");
    if (!port || !echo.Connect(port)) return state.SkipWithError("echo connect failed");
    for (auto _ : state) {
        if (!echo.Exchange(request) || echo.Reply().size() + 4 != replySize) {
            return state.SkipWithError("echo failed");
        }
    }
    state.counters["trips/s"] = gmbench::Rate(static_cast<double>(state.iterations()));
}

// The readers' round-trip times of one run, gathered from their threads.
struct tReadTimes {
    std::mutex lock;
    std::vector<i64> us;
};

// Reads records by number until the deadline, each round trip's time kept; false on a failure.
bool ReadUntil(gmbench::tAppender& client, tClock::time_point deadline, std::vector<i64>& us) {
    for (i32 i = 0; tClock::now() < deadline; ++i) {
        const tClock::time_point start = tClock::now();
        if (!client.GoTo(1 + (i * 37) % kReaderRows)) return false;
        us.push_back(
            std::chrono::duration_cast<std::chrono::microseconds>(tClock::now() - start).count());
    }
    return true;
}

// The first kReaders threads read by record number for kReadTime; the others, if any, write
// meanwhile: appends through the server keeping their locks, or plain prepared INSERTs on
// connections of their own (the same load on the database without the server). The counter is the
// readers' median round trip.
void ReadersGoTo(benchmark::State& state, bool plainWriters) {
    static tReadTimes times;
    if (state.thread_index() == 0) times.us.clear();
    const bool reader = state.thread_index() < kReaders;
    gmbench::tAppender client;
    tPlainInserter inserter;
    const bool started = reader || !plainWriters ? StartAppender(client) : inserter.Start();
    if (!started) state.SkipWithError("connect or open failed");
    for (auto _ : state) {
        const tClock::time_point deadline = tClock::now() + kReadTime;
        std::vector<i64> us;
        i64 n = 0;
        bool ok = reader ? ReadUntil(client, deadline, us) : true;
        while (ok && !reader && tClock::now() < deadline) {
            ok = plainWriters ? inserter.Insert() : client.Append(++n, false);
        }
        if (!ok) state.SkipWithError(reader ? "goto failed" : "write refused");
        std::lock_guard<std::mutex> hold(times.lock);
        times.us.insert(times.us.end(), us.begin(), us.end());
    }
    if (reader || !plainWriters) client.End();
    // Every thread has passed the loop's closing barrier: the times are all in.
    if (state.thread_index() != 0 || times.us.empty()) return;
    std::nth_element(times.us.begin(), times.us.begin() + times.us.size() / 2, times.us.end());
    state.counters["goto_median_us"] = static_cast<double>(times.us[times.us.size() / 2]);
}

void ServerAppendsOneClient(benchmark::State& state) { ServerAppends(state, false); }
void ServerAppendsManyClients(benchmark::State& state) { ServerAppends(state, false); }
void ServerAppendsUnlockedManyClients(benchmark::State& state) { ServerAppends(state, true); }
void PlainInsertsOneConnection(benchmark::State& state) { PlainInserts(state); }
void PlainInsertsManyConnections(benchmark::State& state) { PlainInserts(state); }
void ReadersAlone(benchmark::State& state) { ReadersGoTo(state, false); }
void ReadersWhileAppending(benchmark::State& state) { ReadersGoTo(state, false); }
void ReadersWhilePlainInserts(benchmark::State& state) { ReadersGoTo(state, true); }

// Real time: the clients and the driver wait for the servers during each append.
BENCHMARK(ServerAppendsOneClient)->MinTime(1.0)->UseRealTime();
BENCHMARK(PlainInsertsOneConnection)->MinTime(1.0)->UseRealTime();
BENCHMARK(EchoOfAppend)->MinTime(1.0)->UseRealTime();
BENCHMARK(ServerAppendsManyClients)->Threads(kClients)->MinTime(1.0)->UseRealTime();
BENCHMARK(ServerAppendsUnlockedManyClients)->Threads(kClients)->MinTime(1.0)->UseRealTime();
BENCHMARK(PlainInsertsManyConnections)->Threads(kClients)->MinTime(1.0)->UseRealTime();
BENCHMARK(ReadersAlone)->Threads(kReaders)->Iterations(1)->UseRealTime();
BENCHMARK(ReadersWhileAppending)->Threads(2 * kReaders)->Iterations(1)->UseRealTime();
BENCHMARK(ReadersWhilePlainInserts)->Threads(2 * kReaders)->Iterations(1)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    return gmbench::Main(argc, argv, [](const gmbench::tRatioReporter& r) {
        const double many = r.Get("PlainInsertsManyConnections", "appends/s");
        gmbench::PrintRow("appends16",
                          gmbench::Ratio(r.Get("ServerAppendsManyClients", "appends/s"), many), "x",
                          "appends from 16 clients keeping locks / plain prepared INSERTs, 16 "
                          "connections (rate)");
        gmbench::PrintRow(
            "appends16_unlocked",
            gmbench::Ratio(r.Get("ServerAppendsUnlockedManyClients", "appends/s"), many), "x",
            "appends from 16 clients, each unlocked / plain prepared INSERTs, 16 connections "
            "(rate)");
        const double alone = r.Get("ReadersAlone", "goto_median_us");
        const double busy = r.Get("ReadersWhileAppending", "goto_median_us");
        gmbench::PrintRow(
            "goto_readers", gmbench::Ratio(busy, alone), "x",
            "OP_GO median, 8 readers while 8 clients append keeping locks / readers alone");
        gmbench::PrintRow("goto_readers_busy_us", busy, "us",
                          "OP_GO median, 8 readers while 8 clients append");
        gmbench::PrintRow("goto_readers_alone_us", alone, "us", "OP_GO median, 8 readers alone");
        const double plain = r.Get("ReadersWhilePlainInserts", "goto_median_us");
        gmbench::PrintRow(
            "goto_readers_plain", gmbench::Ratio(plain, alone), "x",
            "OP_GO median, 8 readers while 8 plain connections insert / readers alone");
        gmbench::PrintRow(
            "goto_readers_vs_plain", gmbench::Ratio(busy, plain), "x",
            "OP_GO median, readers while 8 clients append / while 8 plain connections insert");
        const double floor =
            gmbench::Sum(gmbench::MicrosPer(r.Get("EchoOfAppend", "trips/s")),
                         gmbench::MicrosPer(r.Get("PlainInsertsOneConnection", "appends/s")));
        gmbench::PrintRow(
            "append_vs_echo_insert",
            gmbench::Ratio(gmbench::MicrosPer(r.Get("ServerAppendsOneClient", "appends/s")), floor),
            "x", "append over the wire, one client / (TCP echo + prepared INSERT) (time)");
    });
}
