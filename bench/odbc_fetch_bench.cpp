// Forward-only fetch of 100,000 rows from the private PostgreSQL: rows per second through the
// ODBC layer (ExecDirect, bound columns, Fetch, the typed readers) beside the same fetch through
// plain ODBC calls on the same connection, and the ratio of the two.
//
// bench/run.sh runs it beside the others. By hand, with the private servers that it finds through
// their db.env (GM_TESTDB_ENV=<dir>/db.env for another place than the build's):
//   scripts/privatedb.sh start build/bench/testdb pg
//   build/bench/bench/odbc_fetch_bench
// The first run fills the table gm_bench_fetch, which later runs reuse.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/benchdb.h"
#include "server/drivers/odbc.h"
#include "server/tables/dbtable.h"

namespace {

constexpr int kRows = 100000;
constexpr const char* kSelect = "SELECT R_E_C_N_O_, NOME, VALOR FROM gm_bench_fetch";

// The connection that both fetches use, with the table filled; null after a message when the
// private PostgreSQL cannot be reached.
tODBCConnection* Connection() {
    static tODBCConnection* const conn = []() -> tODBCConnection* {
        const std::map<std::string, std::string> env = gmbench::StartPostgresBench();
        if (env.empty()) return nullptr;
        auto* c =
            new tODBCConnection("POSTGRES", tString("gm_pg"), tString(env.at("GM_PG_USER").c_str()),
                                tString(env.at("GM_PG_PASSWORD").c_str()));
        if (!c->Connect()) {
            tString text;
            c->GetLastErrorInfo(text);
            std::fprintf(stderr, "connect failed: %s\n", text.GetText());
            return nullptr;
        }
        return c;
    }();
    return conn;
}

bool RunSql(tODBCConnection& conn, const char* sql) {
    tODBCStatement stmt(&conn);
    return stmt.ExecDirect(sql, "odbc_fetch_bench", 1);
}

bool FillTable(tODBCConnection& conn) {
    tODBCStatement count(&conn);
    if (count.ExecDirect("SELECT COUNT(*) FROM gm_bench_fetch", "odbc_fetch_bench", 0) &&
        count.Fetch() && count.FieldAsDouble(0) == kRows) {
        return true;
    }
    return RunSql(conn, "DROP TABLE IF EXISTS gm_bench_fetch") &&
           RunSql(conn,
                  "CREATE TABLE gm_bench_fetch (R_E_C_N_O_ INTEGER, NOME CHAR(30), VALOR "
                  "DOUBLE PRECISION)") &&
           RunSql(conn,
                  "INSERT INTO gm_bench_fetch SELECT g, 'NOME ' || g, g * 1.5 FROM "
                  "generate_series(1, 100000) g");
}

tODBCConnection* Prepared(benchmark::State& state) {
    tODBCConnection* conn = Connection();
    if (!conn) {
        state.SkipWithError("no private PostgreSQL");
        return nullptr;
    }
    static const bool filled = FillTable(*conn);
    if (!filled) {
        state.SkipWithError("could not fill gm_bench_fetch");
        return nullptr;
    }
    return conn;
}

void FetchThroughLayer(benchmark::State& state) {
    tODBCConnection* conn = Prepared(state);
    if (!conn) return;
    i64 rows = 0;
    for (auto _ : state) {
        tODBCStatement stmt(conn);
        if (!stmt.ExecDirect(kSelect, "odbc_fetch_bench", 1)) {
            state.SkipWithError("query failed");
            return;
        }
        f64 sum = 0.0;
        while (stmt.Fetch()) {
            sum += stmt.FieldAsDouble(0) + stmt.FieldAsDouble(2);
            benchmark::DoNotOptimize(stmt.FieldAsPChar(1));
            ++rows;
        }
        benchmark::DoNotOptimize(sum);
    }
    state.counters["rows/s"] = gmbench::Rate(static_cast<double>(rows));
}

void FetchPlainODBC(benchmark::State& state) {
    tODBCConnection* conn = Prepared(state);
    if (!conn) return;
    const tODBCEntryPoints& odbc = ODBCEntryPoints();
    i64 rows = 0;
    for (auto _ : state) {
        SQLHSTMT stmt = SQL_NULL_HSTMT;
        odbc.SQLAllocHandle(SQL_HANDLE_STMT, conn->GetHandle(), &stmt);
        if (!SQL_SUCCEEDED(odbc.SQLExecDirect(
                stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(kSelect)), SQL_NTS))) {
            state.SkipWithError("query failed");
            odbc.SQLFreeHandle(SQL_HANDLE_STMT, stmt);
            return;
        }
        f64 recno = 0.0;
        f64 valor = 0.0;
        char nome[31];
        SQLLEN lengths[3];
        odbc.SQLBindCol(stmt, 1, SQL_C_DOUBLE, &recno, sizeof recno, &lengths[0]);
        odbc.SQLBindCol(stmt, 2, SQL_C_CHAR, nome, sizeof nome, &lengths[1]);
        odbc.SQLBindCol(stmt, 3, SQL_C_DOUBLE, &valor, sizeof valor, &lengths[2]);
        f64 sum = 0.0;
        while (SQL_SUCCEEDED(odbc.SQLFetch(stmt))) {
            sum += recno + valor;
            benchmark::DoNotOptimize(nome);
            ++rows;
        }
        benchmark::DoNotOptimize(sum);
        odbc.SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    }
    state.counters["rows/s"] = gmbench::Rate(static_cast<double>(rows));
}

// Real time: the driver reads the rows from the server's socket during the query.
BENCHMARK(FetchThroughLayer)->Unit(benchmark::kMillisecond)->MinTime(1.0)->UseRealTime();
BENCHMARK(FetchPlainODBC)->Unit(benchmark::kMillisecond)->MinTime(1.0)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    return gmbench::Main(argc, argv, [](const gmbench::tRatioReporter& r) {
        gmbench::PrintRow(
            "odbc_layer_fetch",
            gmbench::Ratio(r.Get("FetchPlainODBC", "rows/s"), r.Get("FetchThroughLayer", "rows/s")),
            "x", "forward fetch of 100,000 rows, ODBC layer / plain ODBC (time)");
    });
}
