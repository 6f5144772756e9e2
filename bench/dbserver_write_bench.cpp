// Appends through the server on the private PostgreSQL: OP_WRITE round trips of clients over
// loopback to a server in this process, from one client and from 16 clients on one table, with
// the new record's lock kept or given back at once (OP_UNLOCK), each beside plain prepared
// INSERTs through ODBC from as many connections into a table of the same shape, printed as
// ratios.
//
// It expects the private servers that the db tests use, found through their db.env:
//   scripts/privatedb.sh start build/bench/testdb pg
//   cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DGM_BENCH=ON
//   cmake --build build/bench --target dbserver_write_bench
//   build/bench/bench/dbserver_write_bench    (or GM_TESTDB_ENV=<dir>/db.env for another place)
// Every run makes both tables afresh.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "bench/benchdb.h"
#include "bench/benchserver.h"
#include "lib_base/sockets.h"
#include "lib_common/cipher.h"
#include "lib_common/logwriter.h"
#include "lib_common/opcodes.h"
#include "server/dispatch/dbserver.h"
#include "server/drivers/postgres.h"
#include "server/process/dbservices.h"
#include "server/tables/dbtable.h"

namespace {

constexpr const char* kAlias = "gm_pg";
constexpr const char* kServerTable = "GM_BENCH_APPEND";
constexpr const char* kPlainTable = "GM_BENCH_INSERT";
constexpr const char* kInsert =
    "INSERT INTO GM_BENCH_INSERT (NOME, VALOR, D_E_L_E_T_, R_E_C_N_O_) VALUES (?, ?, ?, ?)";
constexpr i32 kClients = 16;
// The client's record of both tables: NOME C 30, VALOR as an f64, D_E_L_E_T_ C 1.
constexpr size_t kNameLength = 30;
constexpr u32 kRecordLength = 39;

std::string Enciphered(const std::string& password) {
    std::string text = password;
    const tCryptor cryptor(kIniPasswordKeyLength, kIniPasswordKey);
    cryptor.Encrypt(text.data(), static_cast<u32>(text.size()));
    return text;
}

std::unique_ptr<tTableDefinition> Definition(const char* table) {
    auto def = std::make_unique<tTableDefinition>(table, kAlias);
    def->AddField("NOME", 'C', 30, 0, true, true);
    def->AddField("VALOR", 'N', 15, 2, true, true);
    def->AddField("D_E_L_E_T_", 'C', 1, 0, true, true);
    def->AddField("R_E_C_N_O_", 'R', 4, 0, false, true);
    return def;
}

bool RunSql(tDBConnection& conn, const char* sql) {
    std::unique_ptr<tStatement> stmt(conn.NewStatement());
    return stmt->ExecDirect(sql, "dbserver_write_bench", 1);
}

// The catalogue checked up, both tables dropped and created empty.
bool MakeTables(tPostgresConnection& conn) {
    tString report;
    if (!conn.InitialCheckUp(report)) return false;
    for (const char* table : {kServerTable, kPlainTable}) {
        const std::string drop = std::string("DROP TABLE IF EXISTS ") + table;
        tString create;
        conn.CreateTable(*Definition(table), create);
        if (!RunSql(conn, drop.c_str()) || !RunSql(conn, create.GetText())) return false;
    }
    return true;
}

// The private PostgreSQL with both tables made afresh, and a server in this process over it
// whose workers serve client connections; its files beside db.env, the same ones every run.
// Made at the first use, kept to the end of the process.
class tAppendWorld {
public:
    tAppendWorld() {
        const std::map<std::string, std::string> env = gmbench::ReadPostgresEnv();
        if (env.empty()) return;
        user = env.at("GM_PG_USER");
        password = env.at("GM_PG_PASSWORD");
        const std::string base = gmbench::DbEnvPath() + ".append";
        SetLogPath((base + ".log").c_str());
        server = std::make_unique<gmbench::tBenchServer>(
            base + ".ini", "[General]\nODBC30=1\nThreadMin=" + std::to_string(kClients + 4) +
                               "\nThreadInc=4\n[POSTGRES/" + kAlias + "]\nuser=" + user +
                               "\npassword=" + Enciphered(password) + "\n");
        RegisterClientConnections();  // the database side's services answer from the globals
        std::unique_ptr<tPostgresConnection> admin = NewConnection();
        if (!admin) return;
        if (MakeTables(*admin)) {
            server->Start();
        } else {
            Failed(*admin);
        }
    }
    bool IsReady() const { return server && server->IsReady(); }
    u16 Port() const { return server->Port(); }
    // A connection of the benchmark's own to the database; null after a message.
    std::unique_ptr<tPostgresConnection> NewConnection() {
        auto conn = std::make_unique<tPostgresConnection>(
            "POSTGRES", tString(kAlias), tString(user.c_str()), tString(password.c_str()));
        if (conn->Connect()) return conn;
        Failed(*conn);
        return nullptr;
    }

private:
    static void Failed(tDBConnection& conn) {
        tString text;
        conn.GetLastErrorInfo(text);
        std::fprintf(stderr, "set-up failed: %s\n", text.GetText());
    }

    std::string user;
    std::string password;
    std::unique_ptr<gmbench::tBenchServer> server;
};

tAppendWorld& Server() {
    static tAppendWorld* const world = new tAppendWorld;  // outlives every worker
    return *world;
}

// A client over loopback that speaks the frames as a little-endian client library does.
class tBenchClient {
public:
    // Connected to the alias and the server table opened; false when any step failed.
    bool Start(u16 port) {
        socket = std::make_unique<tSocket>(plat::kAfInet, "127.0.0.1", port, plat::kSockStream);
        if (!socket->Connect()) return false;
        const std::string texts = std::string("POSTGRES/") + kAlias + '\0' + "BENCH" + '\0' +
                                  "bench" + '\0' + "localhost" + '\0';
        const std::string body = std::string(
                                     "\xAE"
                                     "GML"
                                     "\xAE",
                                     5) +
                                 '\0' + '1' + '0' + texts;
        if (!SendAll(Long(static_cast<i32>(body.size() + 4)) + body) || !Receive() || Code() != 0) {
            return false;
        }
        if (!Exchange(OP_OPEN, std::string(kServerTable) + '\0' + '\0' + '\0') || Code() != 0 ||
            reply.size() < 8) {
            return false;
        }
        std::memcpy(&fileId, reply.data() + 2, 2);
        i32 length = 0;
        std::memcpy(&length, reply.data() + 4, 4);
        return static_cast<u32>(length) == kRecordLength;
    }
    // One record appended; false when the server refused it.
    // One record appended, and its lock given back when asked; false when the server refused.
    bool Append(i64 n, bool unlock) {
        char record[kRecordLength];
        std::memset(record, ' ', sizeof record);
        std::snprintf(record, kNameLength, "CLIENT %lld", static_cast<long long>(n));
        record[std::strlen(record)] = ' ';
        const f64 value = static_cast<f64>(n) * 1.5;
        std::memcpy(record + kNameLength, &value, sizeof value);
        if (!Exchange(OP_WRITE, Short(fileId) + std::string(record, sizeof record)) ||
            Code() != 0 || reply.size() < 10) {
            return false;
        }
        if (!unlock) return true;
        f64 recno = 0;
        std::memcpy(&recno, reply.data() + 2, sizeof recno);
        const std::string args = Short(fileId) + '\0' + Long(static_cast<i32>(recno));
        return Exchange(OP_UNLOCK, args) && Code() == 0;
    }
    void End() {
        if (socket) SendAll(Frame(OP_DISCONNECT, ""));
    }

private:
    static std::string Short(i16 v) { return std::string(reinterpret_cast<const char*>(&v), 2); }
    static std::string Long(i32 v) { return std::string(reinterpret_cast<const char*>(&v), 4); }
    static std::string Frame(i16 opcode, const std::string& payload) {
        return Long(static_cast<i32>(6 + payload.size())) + Short(opcode) + payload;
    }
    bool SendAll(const std::string& bytes) {
        return socket->Send(bytes.data(), static_cast<i32>(bytes.size()), 0) ==
               static_cast<i32>(bytes.size());
    }
    bool RecvAll(char* at, u32 length) {
        while (length > 0) {
            const i32 got = socket->Recv(at, static_cast<i32>(length));
            if (got <= 0) return false;
            at += got;
            length -= static_cast<u32>(got);
        }
        return true;
    }
    // The next frame's payload into reply.
    bool Receive() {
        u32 length = 0;
        if (!RecvAll(reinterpret_cast<char*>(&length), 4) || length < 6 || length > (1u << 24)) {
            return false;
        }
        reply.resize(length - 4);
        return RecvAll(reply.data(), length - 4);
    }
    bool Exchange(i16 opcode, const std::string& payload) {
        return SendAll(Frame(opcode, payload)) && Receive();
    }
    i16 Code() const {
        i16 code = 0;
        std::memcpy(&code, reply.data(), 2);
        return code;
    }

    std::unique_ptr<tSocket> socket;
    std::string reply;
    i16 fileId = 0;
};

// Each of the benchmark's threads is one client, connected and with the table open before the
// timing starts. Without unlock each client keeps the lock of every record it appended, as an
// append leaves it; with unlock it gives each one back at once, as applications do.
void ServerAppends(benchmark::State& state, bool unlock) {
    if (!Server().IsReady()) return state.SkipWithError("server or private PostgreSQL not ready");
    tBenchClient client;
    if (!client.Start(Server().Port())) return state.SkipWithError("connect or open failed");
    i64 appends = 0;
    for (auto _ : state) {
        if (!client.Append(appends, unlock)) {
            state.SkipWithError("append refused");
            break;
        }
        ++appends;
    }
    client.End();
    state.counters["appends/s"] =
        benchmark::Counter(static_cast<double>(appends), benchmark::Counter::kIsRate);
}

// Each of the benchmark's threads is one ODBC connection with the INSERT prepared once; record
// numbers come from one counter, as the lock engine gives them out to the server's appends.
void PlainInserts(benchmark::State& state) {
    static std::atomic<i64> nextRecno{1};
    if (!Server().IsReady()) return state.SkipWithError("server or private PostgreSQL not ready");
    std::unique_ptr<tPostgresConnection> conn = Server().NewConnection();
    if (!conn) return state.SkipWithError("connect failed");
    const tODBCEntryPoints& odbc = ODBCEntryPoints();
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    odbc.SQLAllocHandle(SQL_HANDLE_STMT, conn->GetHandle(), &stmt);
    odbc.SQLPrepare(stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(kInsert)), SQL_NTS);
    char name[kNameLength + 1];
    f64 value = 0.0;
    char deleted[2] = " ";
    f64 recno = 0.0;
    SQLLEN nts = SQL_NTS;
    odbc.SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_CHAR, kNameLength, 0, name,
                          sizeof name, &nts);
    odbc.SQLBindParameter(stmt, 2, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 15, 0, &value, 0,
                          nullptr);
    odbc.SQLBindParameter(stmt, 3, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_CHAR, 1, 0, deleted,
                          sizeof deleted, &nts);
    odbc.SQLBindParameter(stmt, 4, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 15, 0, &recno, 0,
                          nullptr);
    i64 inserts = 0;
    for (auto _ : state) {
        const i64 n = nextRecno.fetch_add(1);
        std::snprintf(name, sizeof name, "CLIENT %lld", static_cast<long long>(n));
        value = static_cast<f64>(n) * 1.5;
        recno = static_cast<f64>(n);
        if (!SQL_SUCCEEDED(odbc.SQLExecute(stmt))) {
            state.SkipWithError("insert failed");
            break;
        }
        ++inserts;
    }
    odbc.SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    state.counters["appends/s"] =
        benchmark::Counter(static_cast<double>(inserts), benchmark::Counter::kIsRate);
}

void ServerAppendsOneClient(benchmark::State& state) { ServerAppends(state, false); }
void ServerAppendsManyClients(benchmark::State& state) { ServerAppends(state, false); }
void ServerAppendsUnlockedOneClient(benchmark::State& state) { ServerAppends(state, true); }
void ServerAppendsUnlockedManyClients(benchmark::State& state) { ServerAppends(state, true); }
void PlainInsertsOneConnection(benchmark::State& state) { PlainInserts(state); }
void PlainInsertsManyConnections(benchmark::State& state) { PlainInserts(state); }

// Real time: the clients and the driver wait for the servers during each append.
BENCHMARK(ServerAppendsOneClient)->Unit(benchmark::kMicrosecond)->MinTime(3.0)->UseRealTime();
BENCHMARK(ServerAppendsUnlockedOneClient)
    ->Unit(benchmark::kMicrosecond)
    ->MinTime(3.0)
    ->UseRealTime();
BENCHMARK(PlainInsertsOneConnection)->Unit(benchmark::kMicrosecond)->MinTime(3.0)->UseRealTime();
BENCHMARK(ServerAppendsManyClients)
    ->Unit(benchmark::kMicrosecond)
    ->Threads(kClients)
    ->MinTime(3.0)
    ->UseRealTime();
BENCHMARK(ServerAppendsUnlockedManyClients)
    ->Unit(benchmark::kMicrosecond)
    ->Threads(kClients)
    ->MinTime(3.0)
    ->UseRealTime();
BENCHMARK(PlainInsertsManyConnections)
    ->Unit(benchmark::kMicrosecond)
    ->Threads(kClients)
    ->MinTime(3.0)
    ->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    return gmbench::tRatioReporter::Main(
        argc, argv,
        {{"server appends / plain prepared INSERTs, one client", "ServerAppendsOneClient",
          "PlainInsertsOneConnection"},
         {"server appends each unlocked / plain prepared INSERTs, one client",
          "ServerAppendsUnlockedOneClient", "PlainInsertsOneConnection"},
         {"server appends / plain prepared INSERTs, 16 clients on one table",
          "ServerAppendsManyClients", "PlainInsertsManyConnections"},
         {"server appends each unlocked / plain prepared INSERTs, 16 clients on one table",
          "ServerAppendsUnlockedManyClients", "PlainInsertsManyConnections"}},
        "appends/s", "appends");
}
