// What the benchmarks on the private databases share: the process services they install, the
// servers' settings read from the db tests' db.env, connections to the private PostgreSQL, the
// navigation table, and the ratio report (benchratio.h).
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <string>

#include "bench/benchratio.h"
#include "lib_common/configcache.h"
#include "lib_common/logwriter.h"
#include "server/drivers/odbc_entry.h"
#include "server/drivers/postgres.h"
#include "server/isam/dbprocess.h"
#include "server/tables/dbtable.h"

namespace gmbench {

// The process services with ODBC 3 chosen and every other key at its default.
class tBenchProcess : public tDBProcess {
public:
    explicit tBenchProcess(const std::string& iniPath) : config(iniPath.c_str()) {}
    tConfigCache& GetConfig() override { return config; }
    bool GetLogFull() override { return false; }
    tTableCache& GetTableCache() override { return tableCache; }
    bool GetThreadInfo() override { return false; }
    bool IsIndexTraceChanged() override { return false; }

private:
    tConfigCache config;
    tTableCache tableCache;
};

// Reads "export NAME='value'" lines into the environment; the values by name.
inline std::map<std::string, std::string> LoadDbEnv(const std::string& path) {
    std::map<std::string, std::string> values;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        if (line.compare(0, 7, "export ") != 0) continue;
        const size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string value = line.substr(eq + 1);
        if (value.size() >= 2 && value.front() == '\'') value = value.substr(1, value.size() - 2);
        const std::string name = line.substr(7, eq - 7);
        setenv(name.c_str(), value.c_str(), 1);
        values[name] = value;
    }
    return values;
}

// Where the private servers' settings are: GM_TESTDB_ENV, else the build's db.env.
inline std::string DbEnvPath() {
    const char* given = std::getenv("GM_TESTDB_ENV");
    return given && *given ? given : GM_TESTDB_ENV;
}

// Reads the private servers' settings into the environment; the settings, or none after a
// message when they name no private PostgreSQL.
inline std::map<std::string, std::string> ReadPostgresEnv() {
    const std::string envPath = DbEnvPath();
    std::map<std::string, std::string> env = LoadDbEnv(envPath);
    if (!env.count("GM_PG_USER")) {
        std::fprintf(stderr,
                     "%s names no private PostgreSQL: start it with "
                     "scripts/privatedb.sh start <dir> pg\n",
                     envPath.c_str());
        return {};
    }
    return env;
}

// ReadPostgresEnv, then the process services installed, the log beside db.env.
inline std::map<std::string, std::string> StartPostgresBench() {
    std::map<std::string, std::string> env = ReadPostgresEnv();
    if (env.empty()) return env;
    const std::string envPath = DbEnvPath();
    SetLogPath((envPath + ".bench.log").c_str());  // notices of the set-up land here
    const std::string ini = envPath + ".bench.ini";
    std::ofstream(ini) << "[General]\nODBC30=1\n";
    SetDBProcess(new tBenchProcess(ini));  // lives as long as the process
    return env;
}

// A connection to the private PostgreSQL through the data source gm_pg; null after a message.
inline std::unique_ptr<tPostgresConnection> ConnectPostgres(
    const std::map<std::string, std::string>& env) {
    auto conn = std::make_unique<tPostgresConnection>("POSTGRES", tString("gm_pg"),
                                                      tString(env.at("GM_PG_USER").c_str()),
                                                      tString(env.at("GM_PG_PASSWORD").c_str()));
    if (conn->Connect()) return conn;
    tString text;
    conn->GetLastErrorInfo(text);
    std::fprintf(stderr, "connect failed: %s\n", text.GetText());
    return nullptr;
}

// StartPostgresBench, then make (the program's tables) on a connection of its own; the settings,
// or none after a message when either failed.
inline std::map<std::string, std::string> StartPostgresWith(bool (*make)(tPostgresConnection&)) {
    std::map<std::string, std::string> env = StartPostgresBench();
    if (env.empty()) return env;
    std::unique_ptr<tPostgresConnection> conn = ConnectPostgres(env);
    if (conn && make(*conn)) return env;
    std::fprintf(stderr, "the benchmark's tables could not be made\n");
    return {};
}

inline bool RunSql(tDBConnection& conn, const char* sql) {
    std::unique_ptr<tStatement> stmt(conn.NewStatement());
    return stmt->ExecDirect(sql, "bench", 1);
}

// The navigation table GM_BENCH_ISAM: kNavRows rows, record numbers 1 to kNavRows, NOME "NOME
// <recno>", and the index GM_BENCH_ISAM1 on NOME that seeks use. Made once, reused by later runs.
constexpr int kNavRows = 100000;
inline bool FillNavTable(tDBConnection& conn) {
    std::unique_ptr<tStatement> count(conn.NewStatement());
    const bool filled = count->ExecDirect("SELECT COUNT(*) FROM GM_BENCH_ISAM", "bench", 0) &&
                        count->Fetch() && count->FieldAsDouble(0) == kNavRows;
    count.reset();
    if (!filled &&
        !(RunSql(conn, "DROP TABLE IF EXISTS GM_BENCH_ISAM") &&
          RunSql(conn,
                 "CREATE TABLE GM_BENCH_ISAM (NOME CHAR(30) NOT NULL, VALOR FLOAT8 NOT NULL, "
                 "D_E_L_E_T_ CHAR(1) NOT NULL, R_E_C_N_O_ INT4 PRIMARY KEY)") &&
          RunSql(conn,
                 "INSERT INTO GM_BENCH_ISAM SELECT 'NOME ' || g, g * 1.5, ' ', g FROM "
                 "generate_series(1, 100000) g"))) {
        return false;
    }
    return RunSql(conn,
                  "CREATE INDEX IF NOT EXISTS GM_BENCH_ISAM1 ON GM_BENCH_ISAM (NOME, R_E_C_N_O_)");
}

// The key of a navigation row: its NOME as stored, blank-padded to the column's 30 bytes.
inline std::string NavKey(i64 recno) {
    std::string key = "NOME " + std::to_string(recno);
    key.resize(30, ' ');
    return key;
}

// Record numbers spread over the navigation table, far from the one before.
inline i64 NavRecno(i64 i) { return 1 + (i * 7919) % kNavRows; }

// A select of one navigation row, by record number or by key, prepared once on a connection
// through plain ODBC calls, with its parameter and the row's columns bound. The connection must
// outlive it; one thread at a time.
class tNavSelect {
public:
    tNavSelect(tODBCConnection& conn, bool byKey) : odbc(ODBCEntryPoints()) {
        const char* sql = byKey ? "SELECT * FROM GM_BENCH_ISAM WHERE NOME = ?"
                                : "SELECT * FROM GM_BENCH_ISAM WHERE R_E_C_N_O_ = ?";
        ready =
            SQL_SUCCEEDED(odbc.SQLAllocHandle(SQL_HANDLE_STMT, conn.GetHandle(), &stmt)) &&
            SQL_SUCCEEDED(odbc.SQLPrepare(stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql)),
                                          SQL_NTS)) &&
            (byKey ? SQL_SUCCEEDED(odbc.SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_CHAR,
                                                         SQL_CHAR, sizeof key - 1, 0, key,
                                                         sizeof key, &keyLength))
                   : SQL_SUCCEEDED(odbc.SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_DOUBLE,
                                                         SQL_DOUBLE, 15, 0, &recnoParam, 0,
                                                         nullptr))) &&
            SQL_SUCCEEDED(odbc.SQLBindCol(stmt, 1, SQL_C_CHAR, nome, sizeof nome, &lengths[0])) &&
            SQL_SUCCEEDED(odbc.SQLBindCol(stmt, 2, SQL_C_DOUBLE, &valor, 0, &lengths[1])) &&
            SQL_SUCCEEDED(
                odbc.SQLBindCol(stmt, 3, SQL_C_CHAR, deleted, sizeof deleted, &lengths[2])) &&
            SQL_SUCCEEDED(odbc.SQLBindCol(stmt, 4, SQL_C_DOUBLE, &recno, 0, &lengths[3]));
    }
    ~tNavSelect() {
        if (stmt != SQL_NULL_HSTMT) odbc.SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    }
    tNavSelect(const tNavSelect&) = delete;
    tNavSelect& operator=(const tNavSelect&) = delete;

    bool IsReady() const { return ready; }
    // One run: executed, the row fetched, the cursor closed; false when no row came.
    bool ByRecno(f64 value) {
        recnoParam = value;
        return Run();
    }
    bool ByKey(const std::string& value) {
        const size_t n = value.size() < sizeof key ? value.size() : sizeof key - 1;
        std::memcpy(key, value.data(), n);
        key[n] = '\0';
        keyLength = static_cast<SQLLEN>(n);
        return Run();
    }
    // The last row as the floor sends it: the record number, then the columns' bytes.
    std::string Row() const {
        return std::string(reinterpret_cast<const char*>(&recno), sizeof recno) +
               std::string(nome, sizeof nome - 1) +
               std::string(reinterpret_cast<const char*>(&valor), sizeof valor) + deleted[0];
    }

private:
    bool Run() {
        const bool found =
            SQL_SUCCEEDED(odbc.SQLExecute(stmt)) && SQL_SUCCEEDED(odbc.SQLFetch(stmt));
        odbc.SQLFreeStmt(stmt, SQL_CLOSE);
        return found;
    }

    const tODBCEntryPoints& odbc;
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    bool ready = false;
    f64 recnoParam = 0.0;
    char key[31] = {};
    SQLLEN keyLength = 0;
    char nome[31] = {};
    f64 valor = 0.0;
    char deleted[2] = {};
    f64 recno = 0.0;
    SQLLEN lengths[4] = {};
};

}  // namespace gmbench
