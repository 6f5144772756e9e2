// The current record of a table file: the record fetch by record number (prepared once per
// select text where the connection prepares), the copy of the fetched columns into the record
// buffer, positioning by record number, and the record's transfer to and from the client.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "lib_base/gmlassert.h"
#include "lib_common/commbuffer.h"
#include "server/isam/dbconn.h"
#include "server/isam/gatemill.h"
#include "server/tables/dbtable.h"

namespace {

constexpr const char* kOpenRoutine = "tISAMFile::OpenCurrentRecord";

}  // namespace

bool tISAMFile::SyncCurrent(bool force) {
    const f64 recno = cache->GetCurrentRecno();
    bool read = true;
    if (force || recno != heldRecno) {
        read = OpenCurrentRecord();
        // A row gone since its number was read (deleted by another session) shows as an empty
        // record: never the previous record's data under this record's number.
        if (!read) std::memset(currentRecord.data(), 0, mirror->GetRecLen());
        heldRecno = read ? recno : -1.0;
        bufferRecno = heldRecno;
    }
    srvDirty = false;
    needFirst = false;
    return read;
}

void tISAMFile::PrepareRecordFetch() {
    if (!connection->UsePreparedStmt() || preparedStmt) return;
    preparedStmt.reset(connection->NewStatement());
    preparedStmt->SetOwnerFile(this);
}

bool tISAMFile::OpenCurrentRecord() {
    if (cache->IsEmpty()) return false;
    const f64 recno = cache->GetCurrentRecno();
    PrepareRecordFetch();
    if (recordSelect.GetLength() > 0 && preparedStmt) {
        if (!preparedStmt->ExecRecnoStmt(recordSelect, recno, kOpenRoutine)) {
            preparedStmt->Close();
            recordSelect.Clear();
            return false;
        }
        const bool fetched = preparedStmt->Fetch();
        if (fetched) MapToClient(*preparedStmt);
        preparedStmt->ReleasePreparedStmt();
        return fetched;
    }
    if (recordSelect.GetLength() == 0) BuildRecordSelect();
    return preparedStmt ? OpenPrepared(recno) : OpenDirect(recno);
}

bool tISAMFile::OpenPrepared(f64 recno) {
    preparedStmt->Close();
    RecnoParamMarker();
    recordSelect += sql;
    if (!preparedStmt->Prepare(recordSelect, kOpenRoutine) ||
        !preparedStmt->ExecRecnoStmt(recordSelect, recno, kOpenRoutine)) {
        recordSelect.Clear();
        preparedStmt->Close();
        return false;
    }
    const bool fetched = preparedStmt->Fetch();
    if (fetched) MapToClient(*preparedStmt);
    preparedStmt->ReleasePreparedStmt();
    return fetched;
}

bool tISAMFile::OpenDirect(f64 recno) {
    if (recordSelect.GetLength() > 0) {
        sql = recordSelect;
    } else {
        recordSelect = sql;
    }
    const bool bound = AddRecnoEquals(recno);
    const bool ran = bound ? fetchStmt->ExecWithRecno(sql, recno, kOpenRoutine)
                           : fetchStmt->ExecDirect(sql, kOpenRoutine, 1);
    bool fetched = false;
    if (!ran) {
        recordSelect.Clear();
    } else {
        fetched = fetchStmt->Fetch();
        if (fetched) MapToClient(*fetchStmt);
    }
    fetchStmt->Close();
    return fetched;
}

// "SELECT <fields> FROM <owner><table> TBL [LEFT JOIN ...] WHERE TBL.R_E_C_N_O_": every field
// when the table has no memo, no field map and no join; else the own columns that the field
// map keeps and the joined fields. D_E_L_E_T_ is qualified, and with joins every own column is,
// since a joined table may have columns of the same names.
void tISAMFile::BuildRecordSelect() {
    sql = "SELECT ";
    bool first = true;
    if (!mirror->HasMemoFields() && mirror->IsFullMapped() && !joinList) {
        sql += "*";
    } else {
        const i16 deletedNo = mirror->GetDeletedField();
        for (i32 i = 0; i < mirror->GetFieldCount(); ++i) {
            const tField* field = mirror->GetField(i);
            if (field->GetType() == 'M' || !field->IsOwnColumn() || !fieldMap[i]) continue;
            if (!first) sql += ",";
            if (i == deletedNo || joinList) sql += "TBL.";
            sql += field->GetName();
            first = false;
        }
        AppendJoinedSelect(first);
    }
    sql += " FROM ";
    AppendOwnerTable();
    sql += " TBL";
    for (i32 j = 0; joinList && j < joinList->Count(); ++j) {
        const tJoinInfo& join = *joinList->Get(j);
        tString alias(join.prefix);
        if (alias.GetLength() == 0) {
            alias = "TBL";
            alias += IntToString(j);
        }
        const char* owner = connection->GetOwner();
        sql += " LEFT JOIN ";
        if (owner) sql += owner;
        sql += join.table;
        sql += " ";
        sql += alias;
        sql += " ON ( ";
        sql += join.condition;
        sql += join.prefix.GetLength() > 0 ? " AND  " : " AND ";
        sql += alias;
        sql += ".D_E_L_E_T_ != '*'";
        sql += " ) ";
    }
    AddTableHint();
    sql += " WHERE ";
    sql += "TBL.R_E_C_N_O_";
}

// The joined fields that the open added, each qualified by its join's prefix (or TBL<n>) and
// named by its alias.
void tISAMFile::AppendJoinedSelect(bool& first) {
    for (const tJoinField& field : joinFields) {
        const tJoinInfo& join = *joinList->Get(field.join);
        if (!first) sql += ",";
        if (join.prefix.GetLength() > 0) {
            sql += join.prefix;
            sql += ".";
        } else {
            sql += " TBL";
            sql += IntToString(field.join);
            sql += ".";
        }
        sql += field.source;
        if (field.source != field.name) {
            sql += " AS ";
            sql += field.name;
        }
        first = false;
    }
}

bool tISAMFile::AddRecnoEquals(f64 recno) {
    char text[kRecnoTextSize];
    sql += " = ";
    sql += RecnoToStr(recno, text);
    AddAfterOrder();
    return false;
}

void tISAMFile::MapToClient(tStatement& stmt) {
    std::memset(currentRecord.data(), 0, mirror->GetRecLen());
    const tColumnDesc* columns = stmt.GetColumns();
    for (i16 c = 0; c < stmt.GetColumnCount(); ++c) {
        const tColumnDesc& column = columns[c];
        const tField* field = mirror->FindField(column.name);
        char text[400];
        if (!field) {
            std::snprintf(text, sizeof text,
                          "[ERROR] (tISAMFile::MapToClient) Table %s Field %s not found in mirror.",
                          mirror->GetFullName(), column.name);
            DoAssert(__FILE__, __LINE__, text, 0);
        }
        if (!field->IsData()) continue;
        if (column.type != 'N' && !column.value.text && field->GetType() != 'N') {
            std::snprintf(text, sizeof text,
                          "[ERROR] (tISAMFile::MapToClient) Table %s Field %s INVALID CONTENT.",
                          mirror->GetFullName(), column.name);
            DoAssert(__FILE__, __LINE__, text, 0);
        }
        MapColumn(column, *field);
    }
}

// One column into its field's place. A character field from a number column gets the number as
// text; a number field from a character column gets the text's number.
void tISAMFile::MapColumn(const tColumnDesc& column, const tField& field) {
    char* to = currentRecord.data() + field.GetOffset();
    const u8 type = field.GetType();
    if (column.returnedLength <= 0 || column.nullMarker == -1) {
        if (type == 'L') *to = 'F';
        return;
    }
    char number[32];
    const char* text = column.value.text;
    i64 available = column.bufferLength;
    if (column.type == 'N') {
        if (type == 'N') {
            std::memcpy(to, &column.value.number, sizeof(f64));
            return;
        }
        std::snprintf(number, sizeof number, "%.15g", column.value.number);
        text = number;
        available = sizeof number;
    } else if (!text) {
        return;  // a number field without a value: it stays 0
    }
    i64 length = 0;
    switch (type) {
        case 'C':
            length = field.GetLen();
            break;
        case 'D':
            length = 8;
            break;
        case 'L':
            *to = text[0] == ' ' ? 'F' : text[0];
            return;
        case 'N': {
            const f64 value = std::strtod(text, nullptr);
            std::memcpy(to, &value, sizeof value);
            return;
        }
        default:
            return;
    }
    if (length > available) length = available;
    for (i64 i = 0; i < length && text[i]; ++i) to[i] = text[i];
}

bool tISAMFile::GoTo(f64 recno, bool reread) {
    const f64* window = cache->GetWindow();
    for (i32 slot = 0; slot < tCache::kSlots; ++slot) {
        if (window[slot] <= 0.0 || window[slot] != recno) continue;
        cache->SetCurrent(slot);
        bof = eof = false;
        if (!reread) return true;
        ResetBlobs();
        return SyncCurrent(true);
    }
    cache->Reset(true);
    cache->SetCurrentRecno(recno);
    // No record has a number of 0 or below: nothing to ask the database.
    if (recno <= 0.0 || !SyncCurrent(false)) {
        bof = eof = true;
        cache->SetCurrentRecno(-1.0);
        return false;
    }
    bof = eof = false;
    ResetBlobs();
    return true;
}

void tISAMFile::ReleaseRecnoStmt() {
    if (!preparedStmt) return;
    recordSelect.Clear();
    preparedStmt->Close();
    preparedStmt.reset();
}

void tISAMFile::SwapNumbers(char* record) {
    for (i32 i = 0; i < mirror->GetFieldCount(); ++i) {
        const tField* field = mirror->GetField(i);
        if (field->GetType() == 'N' && field->IsData()) SwapBytes(record + field->GetOffset(), 8);
    }
}

void tISAMFile::SendRecord() {
    const u32 length = mirror->GetRecLen();
    reply.PutDouble(GetRecno());
    if (!reply.IsSwapped()) {
        reply.PutBytes(currentRecord.data(), length);
        return;
    }
    std::memcpy(swapRecord.data(), currentRecord.data(), length);
    SwapNumbers(swapRecord.data());
    reply.PutBytes(swapRecord.data(), length);
}

void tISAMFile::RecvRecord() {
    const u32 length = mirror->GetRecLen();
    GML_ASSERT(length >= 1, nullptr);
    std::memset(incomingRecord.data(), 0, length);
    reply.GetBytes(incomingRecord.data(), length);
    if (reply.IsSwapped()) SwapNumbers(incomingRecord.data());
}
