// Table alteration: the client sends the structure it believes the table has and the one it
// wants; the connection plans the change column by column, has the database rebuild the table,
// registers the new field types in GML_FIELD and reloads the cached definition.
//
// Alteration:
//  (1) Names from the wire (the table, every column of both structures) are checked before any
//      SQL is sent; a bad one fails the request with -19 and nothing reaches the database.
//  (2) It runs under the table's named node and while this connection holds the table's only
//      opening, so no connection has the table open while its structure changes.
//  (3) A failed change leaves no cached definition of the table: the next open describes the
//      table as the database now has it.
#include <memory>

#include "lib_base/critsec.h"
#include "lib_common/commbuffer.h"
#include "lib_common/configcache.h"
#include "lib_common/logwriter.h"
#include "lib_common/retcodes.h"
#include "lib_common/sqltext.h"
#include "server/dispatch/dbserver.h"
#include "server/dispatch/structtext.h"
#include "server/isam/dbconn.h"
#include "server/locks/lockengine.h"
#include "server/runtime/consolelog.h"
#include "server/runtime/globals.h"
#include "server/runtime/namedlock.h"
#include "server/tables/dbtable.h"

namespace {

constexpr const char* kAlterRoutine = "tDBServer::AlterFile";

// Switches the connection's statement log on for the alteration when [General] AlterTraceLog
// asks for it, and back to what it was whatever way the request ends.
class tAlterTraceLog {
public:
    explicit tAlterTraceLog(tDBConnection& conn) : conn(conn), was(conn.IsOpLog()) {
        if (!was && Globals()->GetConfig()->GetBool("General", "AlterTraceLog", 0)) {
            conn.SetOpLog(true);
        }
    }
    ~tAlterTraceLog() { conn.SetOpLog(was); }
    tAlterTraceLog(const tAlterTraceLog&) = delete;
    tAlterTraceLog& operator=(const tAlterTraceLog&) = delete;

private:
    tDBConnection& conn;
    const bool was;
};

i16 AlterError(tDBConnection& conn, const tString& message) {
    conn.SetError(RC_FAILED, kAlterRoutine, message, nullptr);
    return RC_FAILED;
}

// The GML_FIELD rows of the altered table: its new columns and the reserved ones.
bool RegisterNewStructure(tDBConnection& conn, const char* table, const char* environment,
                          const tArray<tActionField>& columns, bool hasRecDel) {
    tTableDefinitionExclusive def(table, environment);
    def.SetFieldCapacity(columns.Count() + 3);
    for (i32 i = 0; i < columns.Count(); ++i) {
        const tActionField& c = *columns.Get(i);
        def.AddField(c.name, c.newType, static_cast<i16>(c.newLength), c.newDecimals, true, true);
    }
    def.AddField(kDeletedColumn, 'C', 1, 0, true, true);
    def.AddField(kRecnoColumn, 'R', 4, 0, false, true);
    if (hasRecDel) def.AddField(kRecDelColumn, 'R', 4, 0, false, true);
    return conn.UnregisterFields(table) && conn.RegisterFields(def);
}

}  // namespace

void tDBServer::AlterFile() {
    tCommBuffer& in = *GetCommBuffer();
    tString table;
    tString oldText;
    tString newText;
    in.GetString(table);
    in.GetString(oldText);
    in.GetString(newText);
    if (in.IsMalformed()) return;
    in.Reset();
    table.Trim();
    table.Upper();
    AddDetails(table);
    tDBConnection& conn = *connection;
    if (!CanAlter(table)) {
        in.PutReturnCode(RC_FAILED);
        return;
    }
    tAutoArray<tActionField> oldColumns;
    tAutoArray<tActionField> newColumns;
    i16 code = RC_FAILED;
    if (!ParseStructureText(oldText, false, oldColumns) ||
        !ParseStructureText(newText, conn.IsMemoAsBlob(), newColumns)) {  // (1)
        tString message;
        message.sprintf("[ERROR] Table %s : Invalid Field Name or Size.\n", table.GetText());
        AlterError(conn, message);
    } else {
        tWaiting hold(GetTableNode(table), __FILE__, __LINE__);  // (2)
        tAlterTraceLog traceLog(conn);
        code = AlterTableLocked(table, oldColumns, newColumns);
    }
    in.PutReturnCode(code);
}

bool tDBServer::CanAlter(const tString& table) {
    tDBConnection& conn = *connection;
    if (!IsSqlIdentifier(table)) {  // (1): no such table
        tString message("[ERROR] File [");
        message += table;
        message += "] does NOT exists.\n";
        AlterError(conn, message);
        return false;
    }
    if (!CheckTransaction(kAlterRoutine, table)) return false;
    if (!conn.IsIsamAllowed()) {
        AlterError(conn, "[WARNING] AlterFile only supported when IsamConnection is ENABLED.\n");
        return false;
    }
    if (conn.IsReadOnly()) {
        AlterError(conn, "[WARNING] AlterFile not supported on READONLY Connection.\n");
        return false;
    }
    return true;
}

i16 tDBServer::AlterTableLocked(const char* table, const tArray<tActionField>& oldColumns,
                                const tArray<tActionField>& newColumns) {
    tDBConnection& conn = *connection;
    if (!conn.CanOpen(table, nullptr)) {
        tString message;
        message.sprintf("[ERROR] File [%s] does NOT exists.\n", table);
        return AlterError(conn, message);
    }
    conn.SetRowCount(0);
    const std::shared_ptr<tTableDefinitionShared> def = conn.GetTableDef(table, environment, true);
    if (!def) return RC_FAILED;                    // the load said why
    if (!TakeSoleOpening(*def)) return RC_IN_USE;  // (2)
    const bool hasRecDel = def->GetRecDelField() >= 0;
    tAutoArray<tActionField> actions;
    PlanAlterActions(oldColumns, newColumns, actions);
    conn.AbortTran();
    conn.ClearError();
    bool ok = conn.AlterTable(table, actions, hasRecDel ? 1 : 0);
    ok = ok && RegisterNewStructure(conn, table, environment, newColumns, hasRecDel);
    if (!GetRecordLockEngine()->SetClose(GetThreadId(), static_cast<i32>(def->GetLockBucket()),
                                         def->GetFullName(), 0)) {
        tString line;
        line.sprintf("[WARNING] Close Table [%s] Failed or Already Closed on AlterTable.\n",
                     def->GetFullName());
        ConsolePrintf("%s", line.GetText());
        WriteLog(line, 0);
    }
    conn.BeginTran();
    ok = ok && ReloadTableDef(table) == RC_OK;
    if (ok) return RC_OK;
    conn.RemoveTableDef(table, environment);  // (3)
    tString text;
    text.sprintf(
        "GM_ALTER FAILED on file [%s]. Table DATA or STRUCTURE should be INVALID or CORRUPTED.",
        table);
    conn.LogError(text, kAlterRoutine, nullptr);
    return RC_FAILED;
}
