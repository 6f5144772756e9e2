// The table file on the private PostgreSQL: GoTop then Skip(1) over 100,000 rows, each record
// read and put into a reply, beside a plain ODBC forward-only fetch of the same rows (with their
// ratio); and one GoTo by record number beside one run of a prepared indexed SELECT.
//
// It expects the private servers that the db tests use, found through their db.env:
//   scripts/privatedb.sh start build/bench/testdb pg
//   cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DGM_BENCH=ON
//   cmake --build build/bench --target isam_nav_bench
//   build/bench/bench/isam_nav_bench    (or GM_TESTDB_ENV=<dir>/db.env for another place)
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

constexpr int kRows = 100000;
constexpr const char* kSelectAll = "SELECT * FROM GM_BENCH_ISAM ORDER BY R_E_C_N_O_";
constexpr const char* kSelectOne = "SELECT * FROM GM_BENCH_ISAM WHERE R_E_C_N_O_ = ?";

bool RunSql(tDBConnection& conn, const char* sql) {
    std::unique_ptr<tStatement> stmt(conn.NewStatement());
    return stmt->ExecDirect(sql, "isam_nav_bench", 1);
}

bool FillTable(tDBConnection& conn) {
    std::unique_ptr<tStatement> count(conn.NewStatement());
    if (count->ExecDirect("SELECT COUNT(*) FROM GM_BENCH_ISAM", "isam_nav_bench", 0) &&
        count->Fetch() && count->FieldAsDouble(0) == kRows) {
        return true;
    }
    return RunSql(conn, "DROP TABLE IF EXISTS GM_BENCH_ISAM") &&
           RunSql(conn,
                  "CREATE TABLE GM_BENCH_ISAM (NOME CHAR(30) NOT NULL, VALOR FLOAT8 NOT NULL, "
                  "D_E_L_E_T_ CHAR(1) NOT NULL, R_E_C_N_O_ INT4 PRIMARY KEY)") &&
           RunSql(conn,
                  "INSERT INTO GM_BENCH_ISAM SELECT 'NOME ' || g, g * 1.5, ' ', g FROM "
                  "generate_series(1, 100000) g");
}

// The connection with the table filled; null after a message when the private PostgreSQL cannot
// be reached.
tPostgresConnection* Connection() {
    static tPostgresConnection* const conn = []() -> tPostgresConnection* {
        const std::map<std::string, std::string> env = gmbench::StartPostgresBench();
        if (env.empty()) return nullptr;
        auto* c = new tPostgresConnection("POSTGRES", tString("gm_pg"),
                                          tString(env.at("GM_PG_USER").c_str()),
                                          tString(env.at("GM_PG_PASSWORD").c_str()));
        if (!c->Connect() || !FillTable(*c)) {
            tString text;
            c->GetLastErrorInfo(text);
            std::fprintf(stderr, "set-up failed: %s\n", text.GetText());
            return nullptr;
        }
        return c;
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
    state.counters["rows/s"] =
        benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kIsRate);
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
    state.counters["rows/s"] =
        benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kIsRate);
}

// Record numbers spread over the table, outside any window the previous GoTo left.
f64 NextRecno(i64 i) { return static_cast<f64>(1 + (i * 7919) % kRows); }

void IsamGoToByRecno(benchmark::State& state) {
    tPostgresConnection* conn = Connection();
    if (!conn) return state.SkipWithError("no private PostgreSQL");
    tCommBuffer reply;
    std::unique_ptr<tGenericFile> file(conn->NewISAMFile(reply, Definition(), 1));
    i64 i = 0;
    for (auto _ : state) {
        if (!file->GoTo(NextRecno(i++), true)) return state.SkipWithError("GoTo failed");
    }
}

void PreparedIndexedSelect(benchmark::State& state) {
    tPostgresConnection* conn = Connection();
    if (!conn) return state.SkipWithError("no private PostgreSQL");
    const tODBCEntryPoints& odbc = ODBCEntryPoints();
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    odbc.SQLAllocHandle(SQL_HANDLE_STMT, conn->GetHandle(), &stmt);
    odbc.SQLPrepare(stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(kSelectOne)), SQL_NTS);
    f64 param = 0.0;
    odbc.SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 15, 0, &param, 0,
                          nullptr);
    char nome[31];
    SQLLEN length = 0;
    odbc.SQLBindCol(stmt, 1, SQL_C_CHAR, nome, sizeof nome, &length);
    i64 i = 0;
    for (auto _ : state) {
        param = NextRecno(i++);
        odbc.SQLExecute(stmt);
        if (!SQL_SUCCEEDED(odbc.SQLFetch(stmt))) return state.SkipWithError("no row");
        benchmark::DoNotOptimize(nome);
        odbc.SQLFreeStmt(stmt, SQL_CLOSE);
    }
    odbc.SQLFreeHandle(SQL_HANDLE_STMT, stmt);
}

// Real time: the driver waits for the server during each query.
BENCHMARK(IsamSkipThroughEveryRecord)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(PlainForwardFetch)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(IsamGoToByRecno)->Unit(benchmark::kMicrosecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(PreparedIndexedSelect)->Unit(benchmark::kMicrosecond)->MinTime(2.0)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    return gmbench::tRatioReporter::Main(argc, argv, "ISAM skip / plain forward fetch",
                                         "IsamSkipThroughEveryRecord", "PlainForwardFetch");
}
