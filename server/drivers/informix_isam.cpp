// The Informix table file: literals with a single quote written as a double quote, the key
// fields in the key cursor, the bound record fetch, the table's index space, and the filter
// hooks (MSCHARINDEX, SUBSTR and the function names).
#include <strings.h>

#include <utility>

#include "server/drivers/dialect_hooks.h"
#include "server/drivers/informix.h"
#include "server/filter/filterelement.h"
#include "server/tables/dbtable.h"

namespace {

bool IsRecordColumn(const char* name) {
    return strcasecmp(name, kRecnoColumn) == 0 || strcasecmp(name, kDeletedColumn) == 0 ||
           strcasecmp(name, kRecDelColumn) == 0;
}

}  // namespace

tGenericFile* tInformixConnection::NewISAMFile(tCommBuffer& reply,
                                               const std::shared_ptr<tTableDefinitionShared>& def,
                                               u32 lockOwner) {
    return new tInformixISAMFile(this, def, reply, lockOwner);
}

tInformixISAMFile::tInformixISAMFile(tDBConnection* connection,
                                     std::shared_ptr<tTableDefinitionShared> def,
                                     tCommBuffer& reply, u32 lockOwner)
    : tISAMFile(connection, std::move(def), reply, lockOwner) {
    PrepareRecordFetch();
    connection->SetRowCount(40);
}

bool tInformixISAMFile::NeedsCharFunc(char) { return false; }

bool tInformixISAMFile::AppendLiteral(tString& out, const char* text, i32 length, i32& written) {
    for (; text && written < length && text[written] != '\0'; ++written) {
        const char c = text[written];
        out += c == '\'' ? '"' : c;
    }
    return true;
}

void tInformixISAMFile::AddKeyColumns(i32 keyFields) {
    const tIndexDefinition* index = GetCurrentIndex();
    if (!index) return;
    for (i32 i = keyFields > 0 ? keyFields : 0; i < index->GetFieldCount(); ++i) {
        const char* name = GetMirror().GetField(index->GetField(i))->GetName();
        if (IsRecordColumn(name)) continue;
        sql += " ,";
        sql += name;
    }
}

bool tInformixISAMFile::AddRecnoEquals(f64) {
    sql += " = ?";
    AddAfterOrder();
    return true;
}

void tInformixISAMFile::RecnoParamMarker() { sql += " = ?"; }

void tInformixISAMFile::AddIndexSpace() {
    auto* informix = dynamic_cast<tInformixConnection*>(connection);
    if (informix) {
        informix->IndexSpaceClause(sql, GetTableName());
    } else {
        connection->IndexSpaceClause(sql, 0);
    }
}

bool tInformixISAMFile::ContainsExpr(tString& out, tFilterElement& left, tFilterElement& right) {
    // The procedure takes the text searched for first.
    tString text(" MSCHARINDEX(");
    if (!right.AppendSQL(text)) return false;
    text += ",";
    if (!left.AppendSQL(text)) return false;
    text += ",1)>0 ";
    out += text;
    return true;
}

bool tInformixISAMFile::SubstrFunc(tString& out, tFilterElement& text, tFilterElement& start,
                                   tFilterElement* length) {
    return AppendSubstring(out, " SUBSTR(", text, start, length);
}

bool tInformixISAMFile::MapFunction(tString& name, tFilterElement* argument, tString& replacement,
                                    tString&) {
    if (MapFunctionName(name, {"LOWER", "UPPER", "TRIM"},
                        {{"LEN", "LENGTH"}, {"STRTRAN", "REPLACE"}})) {
        return true;
    }
    if (IsNamed(name, "EMPTY")) return AppendEmptyArgument(argument, replacement);
    return false;  // SPACE, ROUND, LEFT, RIGHT, CHR, ASC, VAL and the rest fall back
}
