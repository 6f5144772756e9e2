// Unique keys and index services of a client connection: the request that gives a table its
// unique key <table>_UNQ (the key's columns, then R_E_C_D_E_L_, so that deleted duplicates
// coexist with one live record), and the services that drop indexes, tell an index's direction
// and list the unique key's columns. Each runs under the table's named node, and each change is
// followed by a reload of the cached definition.
#include <strings.h>

#include <memory>

#include "lib_base/critsec.h"
#include "lib_common/commbuffer.h"
#include "lib_common/retcodes.h"
#include "lib_common/sqltext.h"
#include "server/dispatch/dbserver.h"
#include "server/isam/dbconn.h"
#include "server/isam/gatemill.h"
#include "server/runtime/namedlock.h"
#include "server/tables/dbtable.h"

namespace {

constexpr const char* kUniqueRoutine = "tDBServer::UniqueKey()";

// "OP_UNIQUE - Table <table><tail>" as the connection's error; the code.
i16 UniqueError(tDBConnection& conn, i16 code, const char* table, const char* tail) {
    tString message("OP_UNIQUE - Table ");
    message += table;
    message += tail;
    conn.SetError(code, kUniqueRoutine, message, nullptr);
    return code;
}

// A service text cut at its first separator into two identifiers; false when the separator is
// missing (the warning set as the connection's error) or a part is no identifier.
bool SplitServiceText(tDBConnection& conn, const char* text, char separator, const char* service,
                      tString& table, tString& index) {
    const tString whole(text);
    const i32 at = whole.FindChar(separator);
    if (at < 0) {
        tString message("[WARNING] Index not specified on ");
        message += service;
        message += " [";
        message += whole;
        message += "]\n";
        tString routine("tDBServer::");
        routine += service;
        conn.SetError(RC_FAILED, routine, message, nullptr);
        return false;
    }
    table = whole.Copy(0, at);
    index = whole.Copy(at + 1);
    return IsSqlIdentifier(table) && IsSqlIdentifier(index);
}

}  // namespace

// ---- OP_UNIQUE ---------------------------------------------------------------------------------

void tDBServer::UniqueKey() {
    tCommBuffer& in = *GetCommBuffer();
    tString table;
    tString keys;
    in.GetString(table);
    in.GetString(keys);
    if (in.IsMalformed()) return;
    in.Reset();
    if (IsOpLogOn()) {
        tString details(table);
        details += " Unique ";
        details += keys;
        AddDetails(details);
    }
    tDBConnection& conn = *connection;
    if (!IsSqlIdentifier(table)) {
        in.PutReturnCode(UniqueError(conn, RC_NOT_FOUND, table, " - Unknow File.\n"));
        return;
    }
    tWaiting hold(GetTableNode(table), __FILE__, __LINE__);
    const std::shared_ptr<tTableDefinitionShared> def = conn.FindTableDef(table, environment);
    if (!def) {
        in.PutReturnCode(UniqueError(conn, RC_NOT_FOUND, table, " - Unknow File.\n"));
        return;
    }
    tGenericFile* file = nullptr;  // not owned: the open-file table keeps it
    for (i16 id = 1; id <= GetFileCount() && !file; ++id) {
        tGenericFile* candidate = GetFile(id);
        if (candidate && !candidate->IsQuery() &&
            strcasecmp(candidate->GetTableName(), def->GetName()) == 0) {
            file = candidate;
        }
    }
    if (!file) {
        in.PutReturnCode(UniqueError(conn, RC_NOT_OPEN, table, " - File NOT OPENED.\n"));
        return;
    }
    if (!file->IsExclusive()) {
        in.PutReturnCode(
            UniqueError(conn, RC_NOT_EXCLUSIVE, table, " - File is in use by another process.\n"));
        return;
    }
    i16 code = conn.UniqueKey(table, keys);
    const i16 refresh = ReloadTableDef(table);
    if (refresh == RC_OK) {
        file->ResetMirror();
    } else if (code == RC_OK) {
        code = refresh;
    }
    in.PutReturnCode(code);
}

// ---- index services ----------------------------------------------------------------------------

bool tDBServer::DropIndexes(const char* table) {
    if (!IsSqlIdentifier(table)) return false;
    tWaiting hold(GetTableNode(table), __FILE__, __LINE__);
    tDBConnection& conn = *connection;
    const std::shared_ptr<tTableDefinitionShared> shared =
        conn.GetTableDef(table, environment, true);
    if (!shared) return false;
    const tTableDefinitionExclusive def(*shared);  // stays whole while the indexes go
    bool ok = true;
    {
        std::unique_ptr<tStatement> stmt(conn.NewStatement());
        tString sql;
        for (i32 i = 0; i < def.GetIndexCount() && ok; ++i) {
            conn.DropIndex(sql, table, def.GetIndex(i)->GetName());
            ok = stmt->ExecDirect(sql, "tDBServer::DropIndexes", 1);
        }
    }
    return ReloadTableDef(table) == RC_OK && ok;
}

bool tDBServer::DropIndex(const char* tableAndIndex) {
    tDBConnection& conn = *connection;
    tString table;
    tString index;
    if (!SplitServiceText(conn, tableAndIndex, '|', "DropIndex", table, index)) return false;
    tWaiting hold(GetTableNode(table), __FILE__, __LINE__);
    tString sql;
    conn.DropIndex(sql, table, index);
    bool ok = false;
    {
        std::unique_ptr<tStatement> stmt(conn.NewStatement());
        ok = stmt->ExecDirect(sql, "tDBServer::DropIndex", 1);
    }
    return ok && ReloadTableDef(table) == RC_OK;
}

bool tDBServer::IsIndexReverse(const char* tableAndIndex) {
    tDBConnection& conn = *connection;
    tString table;
    tString index;
    if (!SplitServiceText(conn, tableAndIndex, '.', "IsIndexReverse", table, index)) return false;
    tWaiting hold(GetTableNode(table), __FILE__, __LINE__);
    const std::shared_ptr<tTableDefinitionShared> def = conn.GetTableDef(table, environment, true);
    // Asked of the cached definition itself: a copy's indexes do not keep the reverse flag.
    return def && def->IsIndexReverse(index);
}

tString tDBServer::GetUniqueKeyFields(const char* table) {
    tString fields;
    if (!IsSqlIdentifier(table)) return fields;
    tString sought(table);
    sought += "_unq";
    tWaiting hold(GetTableNode(table), __FILE__, __LINE__);
    const std::shared_ptr<tTableDefinitionShared> shared =
        connection->GetTableDef(table, environment, true);
    if (!shared) return fields;
    const tTableDefinitionExclusive def(*shared);
    for (i32 i = 0; i < def.GetIndexCount(); ++i) {
        const tIndexDefinition& index = *def.GetIndex(i);
        if (strcasecmp(index.GetName(), sought) != 0) continue;
        for (i32 k = 0; k + 1 < index.GetFieldCount(); ++k) {
            if (k > 0) fields += "+";
            fields += def.GetField(index.GetField(k))->GetName();
        }
        break;
    }
    return fields;
}
