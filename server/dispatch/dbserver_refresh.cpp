// Bringing a cached table definition up to date with the database: the client's refresh of a
// table changed outside the gateway, and the reload after a structure change made here.
//
// A cached definition is shared by every connection that has the table open, so it is never
// replaced: its content is rewritten in place under the cache's lock, and a definition that
// leaves the cache lives on for the files that still hold it.
#include "lib_base/critsec.h"
#include "lib_common/commbuffer.h"
#include "lib_common/retcodes.h"
#include "lib_common/sqltext.h"
#include "server/dispatch/dbserver.h"
#include "server/isam/dbconn.h"
#include "server/runtime/namedlock.h"
#include "server/tables/dbtable.h"

namespace {

constexpr const char* kRefreshRoutine = "tDBServer::RefreshFile";

}  // namespace

void tDBServer::RefreshFile() {
    tCommBuffer& in = *GetCommBuffer();
    tString table;
    in.GetString(table);
    if (in.IsMalformed()) return;
    in.Reset();
    if (IsTraceOn()) {
        tString line("-- Refresh File Definition - ");
        line += table;
        Trace(kRefreshRoutine, 0.0, line);
    }
    // Nothing of another name can be cached or described: the refresh has nothing to do.
    if (!IsSqlIdentifier(table)) {
        in.PutReturnCode(RC_OK);
        return;
    }
    tWaiting hold(GetTableNode(table), __FILE__, __LINE__);
    WarnReservedSuffix(table, kRefreshRoutine);
    tDBConnection& conn = *connection;
    const bool cached = conn.FindTableDef(table, environment) != nullptr;
    std::unique_ptr<tTableDefinitionShared> fresh = conn.LoadTableDef(table, environment);
    if (cached && !fresh) {
        conn.RemoveTableDef(table, environment);
    } else if (!cached && fresh) {
        conn.AddTableDef(std::move(fresh), environment);
    } else if (cached && fresh) {
        conn.UpdateTableDef(*fresh, environment);
    }
    in.PutReturnCode(RC_OK);
}

i16 tDBServer::ReloadTableDef(const char* table) {
    std::unique_ptr<tTableDefinitionShared> fresh = connection->LoadTableDef(table, environment);
    if (!fresh) return RC_FAILED;
    connection->UpdateTableDef(*fresh, environment);
    return RC_OK;
}
