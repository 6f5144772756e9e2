// The SQL Server table file: the prepared record fetch, character codes as CHAR() calls, the
// index space, and the filter hooks in T-SQL (CHARINDEX, SUBSTRING and the function names).
#include <utility>

#include "server/drivers/dialect_hooks.h"
#include "server/drivers/mssql.h"
#include "server/filter/filterelement.h"
#include "server/tables/dbtable.h"

tGenericFile* tMSSQLConnection::NewISAMFile(tCommBuffer& reply,
                                            const std::shared_ptr<tTableDefinitionShared>& def,
                                            u32 lockOwner) {
    return new tMSSQLISAMFile(this, def, reply, lockOwner);
}

tMSSQLISAMFile::tMSSQLISAMFile(tDBConnection* connection,
                               std::shared_ptr<tTableDefinitionShared> def, tCommBuffer& reply,
                               u32 lockOwner)
    : tISAMFile(connection, std::move(def), reply, lockOwner) {
    PrepareRecordFetch();
}

bool tMSSQLISAMFile::CharFunc(tString& out, u8 c, bool afterFunction, bool first, bool last) {
    AppendCharCall(out, c, afterFunction, first, last);
    return true;
}

void tMSSQLISAMFile::RecnoParamMarker() {
    sql += " = ?";
    AddAfterOrder();
}

void tMSSQLISAMFile::AddIndexSpace() { connection->IndexSpaceClause(sql, 0); }

bool tMSSQLISAMFile::ContainsExpr(tString& out, tFilterElement& left, tFilterElement& right) {
    return AppendCharIndex(out, left, right, 3);  // a C field of 1 or 2 stays as it is
}

bool tMSSQLISAMFile::SubstrFunc(tString& out, tFilterElement& text, tFilterElement& start,
                                tFilterElement* length) {
    return AppendSubstring(out, " SUBSTRING(", text, start, length);
}

bool tMSSQLISAMFile::MapFunction(tString& name, tFilterElement* argument, tString& replacement,
                                 tString& suffix) {
    if (MapFunctionName(name, {"LOWER", "UPPER", "SPACE", "LEFT", "RIGHT"},
                        {{"CHR", "CHAR"}, {"ASC", "ASCII"}, {"STRTRAN", "REPLACE"}})) {
        return true;
    }
    if (IsNamed(name, "TRIM")) {
        name = "RTRIM(LTRIM";
        suffix = ")";
        return true;
    }
    if (IsNamed(name, "EMPTY")) {
        return AppendEmptyArgument(argument, replacement);
    }
    return false;  // ROUND, LEN, VAL and the rest fall back
}
