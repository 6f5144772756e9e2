// The PostgreSQL table file: the dialect's hooks for key cursors, literals and the prepared
// record fetch, and the connection's operation that makes it.
#include <cstdio>
#include <utility>

#include "server/drivers/dialect_hooks.h"
#include "server/drivers/postgres.h"
#include "server/tables/dbtable.h"

tGenericFile* tPostgresConnection::NewISAMFile(tCommBuffer& reply,
                                               const std::shared_ptr<tTableDefinitionShared>& def,
                                               u32 lockOwner) {
    return new tPostgresISAMFile(this, def, reply, lockOwner);
}

tPostgresISAMFile::tPostgresISAMFile(tDBConnection* connection,
                                     std::shared_ptr<tTableDefinitionShared> def,
                                     tCommBuffer& reply, u32 lockOwner)
    : tISAMFile(connection, std::move(def), reply, lockOwner) {
    PrepareRecordFetch();
    connection->SetRowCount(kKeyCursorRows);
}

bool tPostgresISAMFile::NeedsCharFunc(char c) { return c == '\'' || c == '\\'; }

bool tPostgresISAMFile::CharFunc(tString& out, u8 c, bool afterFunction, bool first, bool last) {
    AppendChrCall(out, c, afterFunction, first, last);
    return true;
}

void tPostgresISAMFile::AddRowLimit() {
    char text[24];
    std::snprintf(text, sizeof text, " LIMIT %u",
                  static_cast<u32>(static_cast<u16>(connection->GetRowCount())));
    sql += text;
}

void tPostgresISAMFile::RecnoParamMarker() { sql += " = ?"; }
