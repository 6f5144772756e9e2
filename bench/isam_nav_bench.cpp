// The table file on the private PostgreSQL: GoTop then Skip(1) over 100,000 rows, each record
// read and put into a reply, beside a plain ODBC forward-only fetch of the same rows (with their
// ratio); and one GoTo by record number beside one run of a prepared indexed SELECT.
//
// bench/run.sh runs it beside the others. By hand, with the private servers that it finds through
// their db.env (GM_TESTDB_ENV=<dir>/db.env for another place than the build's):
//   scripts/privatedb.sh start build/bench/testdb pg
//   build/bench/bench/isam_nav_bench
// The first run fills the table GM_BENCH_ISAM, which later runs reuse.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/benchdb.h"
#include "lib_common/commbuffer.h"
#include "server/drivers/postgres.h"
#include "server/tables/dbtable.h"

namespace {

constexpr const char* kSelectAll = "SELECT * FROM GM_BENCH_ISAM ORDER BY R_E_C_N_O_";

// The connection with the table filled; null after a message when the private PostgreSQL cannot
// be reached.
tPostgresConnection* Connection() {
    static tPostgresConnection* const conn = []() -> tPostgresConnection* {
        const std::map<std::string, std::string> env = gmbench::StartPostgresBench();
        if (env.empty()) return nullptr;
        std::unique_ptr<tPostgresConnection> c = gmbench::ConnectPostgres(env);
        if (!c || !gmbench::FillNavTable(*c)) {
            std::fprintf(stderr, "the navigation table could not be made\n");
            return nullptr;
        }
        return c.release();  // kept to the end of the process
    }();
    return conn;
}

std::shared_ptr<tTableDefinitionShared> Definition() {
    auto def = std::make_shared<tTableDefinitionShared>("GM_BENCH_ISAM", "gm_pg");
    def->AddField("NOME", 'C', 30, 0, true, true);
    def->AddField("VALOR", 'N', 15, 2, true, true);
    def->AddField("D_E_L_E_T_", 'C', 1, 0, true, true);
    def->AddField("R_E_C_N_O_", 'N', 15, 0, false, true);
    return def;
}

void IsamSkipThroughEveryRecord(benchmark::State& state) {
    tPostgresConnection* conn = Connection();
    if (!conn) return state.SkipWithError("no private PostgreSQL");
    tCommBuffer reply;
    std::unique_ptr<tGenericFile> file(conn->NewISAMFile(reply, Definition(), 1));
    i64 rows = 0;
    for (auto _ : state) {
        bool on = file->GoTop();
        while (on) {
            reply.Reset();
            file->SendRecord();
            ++rows;
            on = file->Skip(1);
        }
    }
    state.counters["rows/s"] = gmbench::Rate(static_cast<double>(rows));
}

void PlainForwardFetch(benchmark::State& state) {
    tPostgresConnection* conn = Connection();
    if (!conn) return state.SkipWithError("no private PostgreSQL");
    const tODBCEntryPoints& odbc = ODBCEntryPoints();
    i64 rows = 0;
    for (auto _ : state) {
        SQLHSTMT stmt = SQL_NULL_HSTMT;
        odbc.SQLAllocHandle(SQL_HANDLE_STMT, conn->GetHandle(), &stmt);
        odbc.SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(kSelectAll)),
                           SQL_NTS);
        char nome[31];
        f64 valor = 0.0;
        char deleted[2];
        f64 recno = 0.0;
        SQLLEN lengths[4];
        odbc.SQLBindCol(stmt, 1, SQL_C_CHAR, nome, sizeof nome, &lengths[0]);
        odbc.SQLBindCol(stmt, 2, SQL_C_DOUBLE, &valor, sizeof valor, &lengths[1]);
        odbc.SQLBindCol(stmt, 3, SQL_C_CHAR, deleted, sizeof deleted, &lengths[2]);
        odbc.SQLBindCol(stmt, 4, SQL_C_DOUBLE, &recno, sizeof recno, &lengths[3]);
        while (SQL_SUCCEEDED(odbc.SQLFetch(stmt))) {
            benchmark::DoNotOptimize(nome);
            ++rows;
        }
        odbc.SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    }
    state.counters["rows/s"] = gmbench::Rate(static_cast<double>(rows));
}

void IsamGoToByRecno(benchmark::State& state) {
    tPostgresConnection* conn = Connection();
    if (!conn) return state.SkipWithError("no private PostgreSQL");
    tCommBuffer reply;
    std::unique_ptr<tGenericFile> file(conn->NewISAMFile(reply, Definition(), 1));
    i64 i = 0;
    for (auto _ : state) {
        if (!file->GoTo(gmbench::NavRecno(i++), true)) return state.SkipWithError("GoTo failed");
    }
    state.counters["moves/s"] = gmbench::Rate(static_cast<double>(state.iterations()));
}

void PreparedIndexedSelect(benchmark::State& state) {
    tPostgresConnection* conn = Connection();
    if (!conn) return state.SkipWithError("no private PostgreSQL");
    gmbench::tNavSelect select(*conn, false);
    i64 i = 0;
    for (auto _ : state) {
        if (!select.ByRecno(gmbench::NavRecno(i++))) return state.SkipWithError("no row");
    }
    state.counters["moves/s"] = gmbench::Rate(static_cast<double>(state.iterations()));
}

// Real time: the driver waits for the server during each query. The skip through every record
// runs once whatever the repetitions asked: one pass is 100,000 moves, and it takes long.
BENCHMARK(IsamSkipThroughEveryRecord)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(1)
    ->UseRealTime();
BENCHMARK(PlainForwardFetch)->Unit(benchmark::kMillisecond)->MinTime(1.0)->UseRealTime();
BENCHMARK(IsamGoToByRecno)->Unit(benchmark::kMicrosecond)->MinTime(1.0)->UseRealTime();
BENCHMARK(PreparedIndexedSelect)->Unit(benchmark::kMicrosecond)->MinTime(1.0)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    return gmbench::Main(argc, argv, [](const gmbench::tRatioReporter& r) {
        gmbench::PrintRow("skip_vs_fetch",
                          gmbench::Ratio(r.Get("PlainForwardFetch", "rows/s"),
                                         r.Get("IsamSkipThroughEveryRecord", "rows/s")),
                          "x",
                          "Skip(1) through 100,000 rows (table file) / plain forward fetch (time)");
        gmbench::PrintRow("isam_goto_vs_select",
                          gmbench::Ratio(r.Get("PreparedIndexedSelect", "moves/s"),
                                         r.Get("IsamGoToByRecno", "moves/s")),
                          "x", "GoTo of the table file / prepared PK select (time)");
    });
}
