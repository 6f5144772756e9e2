// The Sybase table file and query files: the prepared record fetch with its converted marker,
// NOLOCK after the table on old servers, character codes as CHAR() calls, the index space, the
// filter hooks (CHARINDEX, SUBSTRING), and query files on child connections.
#include <utility>

#include "server/drivers/dialect_hooks.h"
#include "server/drivers/sybase.h"

tGenericFile* tSybaseConnection::NewISAMFile(tCommBuffer& reply,
                                             const std::shared_ptr<tTableDefinitionShared>& def,
                                             u32 lockOwner) {
    return new tSybaseISAMFile(this, def, reply, lockOwner);
}

tQueryFile* tSybaseConnection::GetQueryFile(tCommBuffer& reply, u32 lockOwner, tString& query) {
    return QueryOnChild(reply, lockOwner, query, "tSybaseConnection::GetQueryFile");
}

tSybaseISAMFile::tSybaseISAMFile(tDBConnection* connection,
                                 std::shared_ptr<tTableDefinitionShared> def, tCommBuffer& reply,
                                 u32 lockOwner)
    : tISAMFile(connection, std::move(def), reply, lockOwner) {
    PrepareRecordFetch();
    connection->SetRowCount(kKeyCursorRows);
}

bool tSybaseISAMFile::CharFunc(tString& out, u8 c, bool afterFunction, bool first, bool last) {
    AppendCharCall(out, c, afterFunction, first, last);
    return true;
}

void tSybaseISAMFile::AddTableHint() {
    if (connection->GetDBVersion() < tSybaseConnection::kVersionWithoutNoLock) sql += " NOLOCK ";
}

void tSybaseISAMFile::RecnoParamMarker() { sql += " = CONVERT( INT , ? )"; }

void tSybaseISAMFile::AddIndexSpace() { connection->IndexSpaceClause(sql, 0); }

bool tSybaseISAMFile::ContainsExpr(tString& out, tFilterElement& left, tFilterElement& right) {
    return AppendCharIndex(out, left, right, 1);  // every C field at its full width
}

bool tSybaseISAMFile::SubstrFunc(tString& out, tFilterElement& text, tFilterElement& start,
                                 tFilterElement* length) {
    return AppendSubstring(out, " SUBSTRING(", text, start, length);
}
