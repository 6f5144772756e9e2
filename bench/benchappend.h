// Appends through a gateway on the private PostgreSQL: the append tables' shape, made afresh, a
// client of the gateway with such a table open that appends records to it, and the benchmark
// loop of one such client.
#pragma once
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "bench/benchdb.h"
#include "bench/benchwire.h"
#include "lib_common/opcodes.h"
#include "server/drivers/postgres.h"
#include "server/tables/dbtable.h"

namespace gmbench {

// The client's record of an append table: NOME C 30, VALOR as an f64, D_E_L_E_T_ C 1.
constexpr size_t kNameLength = 30;
constexpr u32 kRecordLength = 39;

inline std::unique_ptr<tTableDefinition> AppendDefinition(const char* table) {
    auto def = std::make_unique<tTableDefinition>(table, kAlias);
    def->AddField("NOME", 'C', 30, 0, true, true);
    def->AddField("VALOR", 'N', 15, 2, true, true);
    def->AddField("D_E_L_E_T_", 'C', 1, 0, true, true);
    def->AddField("R_E_C_N_O_", 'R', 4, 0, false, true);
    return def;
}

// The table dropped and created empty in the append shape; false when either failed.
inline bool MakeAppendTable(tPostgresConnection& conn, const char* table) {
    const std::string drop = std::string("DROP TABLE IF EXISTS ") + table;
    tString create;
    conn.CreateTable(*AppendDefinition(table), create);
    return RunSql(conn, drop.c_str()) && RunSql(conn, create.GetText());
}

// A client of a gateway with an append table open; one thread at a time.
class tAppender {
public:
    // Connected to the gateway on the port and the table opened; false when any step failed.
    bool Start(u16 port, const char* table) {
        u32 length = 0;
        return port && StartClient(wire, port) && OpenTable(wire, table, fileId, length) &&
               length == kRecordLength;
    }
    // One record appended, and its lock given back when asked; false when the server refused.
    bool Append(i64 n, bool unlock) {
        char record[kRecordLength];
        std::memset(record, ' ', sizeof record);
        std::snprintf(record, kNameLength, "CLIENT %lld", static_cast<long long>(n));
        record[std::strlen(record)] = ' ';
        const f64 value = static_cast<f64>(n) * 1.5;
        std::memcpy(record + kNameLength, &value, sizeof value);
        if (!wire.Call(OP_WRITE, AppendArgs(record)) || wire.Reply().size() < 10) return false;
        if (!unlock) return true;
        f64 recno = 0;
        std::memcpy(&recno, wire.Reply().data() + 2, sizeof recno);
        return wire.Call(OP_UNLOCK, Short(fileId) + '\0' + Long(static_cast<i32>(recno)));
    }
    bool GoTo(i32 recno) { return wire.Call(OP_GO, Short(fileId) + Long(recno)); }
    // The sizes of an append's request and reply frames, as the last append had them.
    size_t AppendRequestSize() const { return 6 + 2 + kRecordLength; }
    size_t LastReplySize() const { return wire.Reply().size() + 4; }
    void End() { wire.End(); }

private:
    std::string AppendArgs(const char* record) const {
        return Short(fileId) + std::string(record, kRecordLength);
    }

    tWire wire;
    i16 fileId = 0;
};

// The benchmark's loop: one append of the client per iteration, each new record's lock given
// back when asked, and the counter appends/s. started: whether the client is connected with its
// table open; the client is ended afterwards.
inline void TimeAppends(benchmark::State& state, tAppender& client, bool started, bool unlock) {
    if (!started) state.SkipWithError("connect or open failed");
    i64 appends = 0;
    for (auto _ : state) {
        if (!client.Append(appends, unlock)) {
            state.SkipWithError("append refused");
            break;
        }
        ++appends;
    }
    client.End();
    state.counters["appends/s"] = Rate(static_cast<double>(appends));
}

}  // namespace gmbench
