// Seek of a table file: key queries in the current order from the key the client laid out in
// the incoming record, the first row compared with that key on the server, and the window loaded
// from there so that later skips go on from the found row.
#include <cmath>
#include <cstring>

#include "lib_base/gmlassert.h"
#include "lib_base/mstimer.h"
#include "lib_common/retcodes.h"
#include "server/isam/dbconn.h"
#include "server/isam/gatemill.h"
#include "server/locks/lockengine.h"
#include "server/tables/dbtable.h"

namespace {

constexpr const char* kSeekRoutine = "tISAMFile::Seek";

}  // namespace

i16 tISAMFile::KeyFieldCount(const tIndexDefinition& index) const {
    const i16 recnoNo = mirror->GetRecnoField();
    i16 count = 0;
    while (count < index.GetFieldCount() && index.GetField(count) != recnoNo) ++count;
    return count;
}

i16 tISAMFile::TotalKeyLength() {
    const tIndexDefinition* index = GetCurrentIndex();
    if (!index) return 0;
    i32 total = 0;
    for (i16 i = 0; i < KeyFieldCount(*index); ++i) {
        total += mirror->GetField(index->GetField(i))->GetDataSize();
    }
    return static_cast<i16>(total);
}

// Counts key fields while key bytes remain; the count may pass keyFields by one, which tells the
// caller that the key reaches into a field it did not ask for. A length of 0 covers every key
// field and is never exact: the first row at or after the key is compared field by field, so a
// text shorter than its field finds by prefix.
i16 tISAMFile::KeyFieldsCovered(i16 keyFields, i16 keyLength, bool& exact) {
    exact = false;
    if (!IsIndexOrder()) return 0;
    const tIndexDefinition& index = *GetCurrentIndex();
    const bool wholeKey = keyLength == 0;
    if (wholeKey) keyLength = TotalKeyLength();
    const i16 usable = KeyFieldCount(index);
    i32 left = keyLength;
    i16 count = 0;
    while (left >= 1 && count <= keyFields && count < usable) {
        left -= mirror->GetField(index.GetField(count))->GetDataSize();
        ++count;
    }
    exact = !wholeKey && left == 0;
    return count;
}

void tISAMFile::BuildSeekSelect(i32 keyFields) {
    const tIndexDefinition* index = GetCurrentIndex();
    GML_ASSERT(index != nullptr, "tISAMFile::Seek - no current index");
    sql = "SELECT ";
    AddHint(true, true);
    sql += "R_E_C_N_O_, D_E_L_E_T_";
    if (index->GetFieldCount() > 0) sql += ", ";
    for (i32 i = 0; i < keyFields && i < index->GetFieldCount(); ++i) {
        if (i > 0) sql += ", ";
        sql += mirror->GetField(index->GetField(i))->GetName();
    }
    AddKeyColumns(keyFields);
    sql += " FROM ";
    AppendOwnerTable();
    AddTableHint();
}

// Numbers are equal within half a unit of the digit after their last decimal; texts over the
// sought value's characters, the fetched value's missing characters read as blanks.
i16 tISAMFile::CompareFetchedKey(i32 keyFields, i16 keyLength) {
    const tIndexDefinition& index = *GetCurrentIndex();
    if (keyLength == 0) keyLength = TotalKeyLength();
    i32 left = keyLength;
    for (i32 j = 0; j < keyFields && left >= 1 && j < index.GetFieldCount(); ++j) {
        const i16 fieldNo = index.GetField(j);
        if (fieldNo < 0 || fieldNo >= mirror->GetFieldCount()) return 1;
        const tField& field = *mirror->GetField(fieldNo);
        const char* sought = incomingRecord.data() + field.GetOffset();
        const i16 column = static_cast<i16>(j + 2);
        if (field.GetType() == 'N') {
            f64 value = 0.0;
            std::memcpy(&value, sought, sizeof value);
            const f64 tolerance = PowInt(10.0, -(static_cast<i32>(field.GetDecimals()) + 1));
            if (!(std::fabs(value - fetchStmt->FieldAsDouble(column)) < tolerance)) return 1;
        } else {
            const i32 n = static_cast<i32>(strnlen(sought, static_cast<size_t>(field.GetLen())));
            tString fetched;
            fetchStmt->FieldAsString(fetched, column);
            for (i32 i = 0; i < n; ++i) {
                const char c = i < fetched.GetLength() ? fetched.At(i) : ' ';
                if (c != sought[i]) return static_cast<u8>(sought[i]) < static_cast<u8>(c) ? -1 : 1;
            }
        }
        left -= field.GetDataSize();
    }
    return 0;
}

i16 tISAMFile::Seek(i16 keyFields, i16 keyLength, u8 soft) {
    const f64 counter = LockEngine().RecCount(LockBucket(), mirror->GetFullName());
    needFirst = false;
    found = false;
    if (!seekOptimizer->IsValid()) heldRecno = -1.0;
    seekOptimizer->Store(RC_NO_RECORD);
    srvDirty = false;
    cache->Revalidate(false);
    bool exact = false;
    i16 k = KeyFieldsCovered(keyFields, keyLength, exact);
    bof = counter <= 0.0;
    for (bool first = true; k > 0; first = false) {
        const char* op = !soft && exact ? " = " : first ? " >= " : " >  ";
        const bool ran = RunSeekQuery(k, op);
        bool loaded = false;
        const i16 code =
            ran ? LoadSeekResult(k, keyFields, keyLength, soft != 0, loaded) : RC_NO_RECORD;
        fetchStmt->Close();
        // A seek that is not soft stops at its first query. When that query failed, it is not
        // tried again with a field fewer: the row of a shorter key would be answered found
        // with a key other than the one asked for.
        if (!soft) return EndSeek(code == RC_NO_RECORD ? code : RC_OK, false);
        if (loaded) return EndSeek(code, true);
        --k;
        keyLength = 0;
    }
    return EndSeek(RC_NO_RECORD, soft != 0);
}

bool tISAMFile::RunSeekQuery(i16 keyFields, const char* op) {
    SetKeyCursorRows();
    BuildSeekSelect(keyFields);
    bool where = AddKeyWhere(incomingRecord.data(), keyFields, op, false);
    where = AddDeletedWhere(where);
    AddFilterWhere(where);
    AddOrderBy(false);
    AddAfterOrder();
    AddRowLimit();
    return fetchStmt->ExecDirect(sql, kSeekRoutine, 1);
}

// The first row decides: a row with the sought key (or, for a soft seek, any row) becomes the
// current record, and the rest of the query fills the window after it. 0 when the whole key
// asked for matched, -28 when a soft seek stands on another key, -25 without a row to stand on.
i16 tISAMFile::LoadSeekResult(i16 keyFields, i16 asked, i16 keyLength, bool soft, bool& loaded) {
    if (!fetchStmt->Fetch()) return RC_NO_RECORD;
    const i16 compared = CompareFetchedKey(keyFields, keyLength);
    if (compared != 0 && !soft) return RC_NO_RECORD;
    tMSTimer timer;
    timer.Start();
    cache->Reset(true);
    cache->SetCurrentRecno(fetchStmt->FieldAsDouble(0));
    const i32 rows = cache->LoadForward(0);
    loaded = true;
    TraceLoad(kSeekRoutine, timer.Elapsed(), rows);
    return compared == 0 && keyFields == asked ? RC_OK : RC_SOFT_SEEK_GREATER;
}

// A found row is read into the current record; one that can no longer be read ends the seek at
// the end of the file. Only a seek that is not soft sets FOUND.
i16 tISAMFile::EndSeek(i16 code, bool soft) {
    if (code != RC_NO_RECORD) {
        eof = !SyncCurrent(false);
        if (!eof) bof = false;
    } else {
        eof = true;
    }
    const i16 result = eof ? RC_NO_RECORD : code;
    if (!soft) found = !eof;
    seekOptimizer->Store(result);
    return result;
}
