// The key cursors of a table file: queries that return only record numbers, in the file's order,
// after or before the current key; and the base forms of the dialect hooks they call.
#include <algorithm>
#include <cstring>

#include "server/isam/dbconn.h"
#include "server/isam/gatemill.h"
#include "server/tables/dbtable.h"

namespace {

// What a backward cursor from an empty current slot starts below: the largest 32-bit unsigned
// value, which any record number lies under.
constexpr f64 kTopRecno = 4294967295.0;

const char* SkipBlanks(const char* text) {
    while (*text == ' ') ++text;
    return text;
}

bool StartsWith(const char* text, const char* prefix) {
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

}  // namespace

void tISAMFile::SetKeyCursorRows() {
    connection->SetRowCount(HasFilter() ? kFilteredKeyCursorRows : kKeyCursorRows);
}

void tISAMFile::AppendOwnerTable() {
    const char* owner = connection->GetOwner();
    if (owner) sql += owner;
    sql += GetTableName();
}

bool tISAMFile::BuildNextSelect(i32 keyFields) {
    SetKeyCursorRows();
    AddSelectFrom(true, true);
    bool where = AddKeyWhere(currentRecord.data(), keyFields, " > ", false);
    where = AddDeletedWhere(where);
    AddFilterWhere(where);
    AddOrderBy(false);
    AddAfterOrder();
    return true;
}

bool tISAMFile::BuildPrevSelect(i32 keyFields) {
    SetKeyCursorRows();
    AddSelectFrom(true, false);
    bool where = false;
    if (keyFields > -1) {
        where = AddKeyWhere(currentRecord.data(), keyFields, " < ", true);
    } else if (IsIndexOrder()) {
        where = AddKeyBounds(0, GetCurrentIndex(), 0, true, false);
    }
    where = AddDeletedWhere(where);
    AddFilterWhere(where);
    AddOrderBy(true);
    AddAfterOrder();
    return true;
}

void tISAMFile::AddSelectFrom(bool withHint, bool forward) {
    sql = "SELECT ";
    AddHint(withHint, forward);
    sql += kRecnoColumn;
    AddKeyColumns(0);
    sql += " FROM ";
    AppendOwnerTable();
    AddTableHint();
}

bool tISAMFile::AddRecnoWhere(const char* op) {
    f64 recno = cache->GetCurrentRecno();
    if (recno == 0.0) recno = std::strchr(op, '>') ? 0.0 : kTopRecno;
    char text[kRecnoTextSize];
    sql += " WHERE ";
    sql += "R_E_C_N_O_ ";
    sql += op;
    sql += RecnoToStr(recno, text);
    return true;
}

// Every key field before the last is held equal; the last takes op. A last condition that every
// row meets (">=" on an empty text) is left out. " WHERE " is written with the first condition
// only, so a cursor whose conditions all drop out stays valid SQL.
bool tISAMFile::AddKeyWhere(const char* key, i32 keyFields, const char* op, bool backward) {
    if (!IsIndexOrder()) return AddRecnoWhere(op);
    const tIndexDefinition* index = GetCurrentIndex();
    const i32 count = std::min(keyFields, index->GetFieldCount());
    tString opText(" = ");
    i32 conditions = 0;
    i32 kept = count;
    bool where = false;
    char text[kRecnoTextSize];
    for (i32 i = 0; i < count; ++i) {
        const i16 fieldNo = index->GetField(i);
        if (fieldNo == mirror->GetDeletedField()) continue;
        const tField* field = mirror->GetField(fieldNo);
        if (i == count - 1) {
            opText = " ";
            opText += op;
        }
        const char* bare = SkipBlanks(opText);
        const u8 type = field->GetType();
        if (type != 'N' && type != 'D' && StartsWith(bare, ">=") && field->IsData() &&
            field->IsEmpty(key)) {
            --kept;
            continue;
        }
        if (!where) sql += " WHERE ";
        where = true;
        sql += conditions > 0 ? " AND " : " ";
        ++conditions;
        sql += field->GetName();
        sql += opText;
        if (fieldNo == mirror->GetRecnoField()) {
            sql += RecnoToStr(GetRecno(), text);
        } else if (!ValueToSql(fieldNo, sql, key, CheckKeyPrefix(bare), true, true)) {
            sql += "NULL";  // a key without a usable value matches no row
        }
    }
    return AddKeyBounds(kept, index, conditions, backward, where);
}

void tISAMFile::AddOrderBy(bool descending) {
    sql += " ORDER BY ";
    if (!IsIndexOrder()) {
        sql += kRecnoColumn;
        if (descending) sql += " DESC";
        return;
    }
    const tIndexDefinition* index = GetCurrentIndex();
    for (i32 i = 0; i < index->GetFieldCount(); ++i) {
        if (i > 0) sql += ",";
        sql += mirror->GetField(index->GetField(i))->GetName();
        if (descending) sql += " DESC ";
    }
    connection->TraceIndex(*mirror, *index);
}

void tISAMFile::AddRowLimit() {}
void tISAMFile::AddAfterOrder() {}
void tISAMFile::AddHint(bool, bool) {}
void tISAMFile::AddKeyColumns(i32) {}
void tISAMFile::AddTableHint() {}
bool tISAMFile::CheckKeyPrefix(const char* op) { return !StartsWith(op, "< "); }
void tISAMFile::RecnoParamMarker() {}

bool tISAMFile::AddKeyBounds(i32, const tIndexDefinition*, i32, bool, bool whereOpen) {
    return whereOpen;
}
