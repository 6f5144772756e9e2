// A table file's field map, its memo fields and the whole-table operations clear and pack.
//
// Memo nodes:
//  (1) A node holds the content of one record (its recno); taking it for another record
//      empties it and marks it for reading, so content never passes from one record to another.
//  (2) A dirty node holds what the client wrote and nothing in the database yet; only
//      BlobWriteSql stores it, into the record the writer names.
#include <algorithm>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "lib_base/printer.h"
#include "lib_common/commbuffer.h"
#include "lib_common/retcodes.h"
#include "server/isam/dbconn.h"
#include "server/isam/gatemill.h"
#include "server/tables/dbtable.h"

namespace {

constexpr i32 kMemoReadSize = 1048576;  // a memo longer than this is read cut to it

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The names of a comma-separated list, blanks around each removed, empty ones left out.
std::vector<std::string> SplitNames(const char* list) {
    std::vector<std::string> names;
    std::string name;
    for (const char* p = list;; ++p) {
        if (*p && *p != ',') {
            name += *p;
            continue;
        }
        size_t first = 0;
        size_t last = name.size();
        while (first < last && IsBlank(name[first])) ++first;
        while (last > first && IsBlank(name[last - 1])) --last;
        if (last > first) names.push_back(name.substr(first, last - first));
        name.clear();
        if (!*p) return names;
    }
}

}  // namespace

// ---- Field map

i16 tISAMFile::SrvMap(const char* fields) {
    mapText = fields ? fields : "";
    if (mapText.GetLength() == 0) {
        fieldMap.assign(fieldMap.size(), 1);
        mirror->SetFullMapped(true);
    } else {
        fieldMap.assign(fieldMap.size(), 0);
        for (const std::string& name : SplitNames(mapText)) {
            const i16 no = FindFieldNo(*mirror, name.c_str());
            if (no < 0 || static_cast<size_t>(no) >= fieldMap.size()) {
                BasePrintf("[WARNING] tISAMFile::SrvMap - Invalid field %s\n", name.c_str());
                continue;
            }
            fieldMap[no] = 1;
        }
        // The key fields of the order are always read, and so are the reserved ones.
        if (const tIndexDefinition* index = GetCurrentIndex()) {
            for (i32 k = 0; k < index->GetFieldCount(); ++k) {
                const i16 no = index->GetField(k);
                if (static_cast<size_t>(no) < fieldMap.size()) fieldMap[no] = 1;
            }
        }
        for (const i16 no : {mirror->GetRecnoField(), mirror->GetDeletedField()}) {
            if (no >= 0 && static_cast<size_t>(no) < fieldMap.size()) fieldMap[no] = 1;
        }
        mirror->SetFullMapped(false);
    }
    // The next positioning reads the record again, with the new field set.
    heldRecno = -1.0;
    bufferRecno = -1.0;
    recordSelect.Clear();
    return RC_OK;
}

// ---- Memo fields

tBlobNode* tISAMFile::GetBlobNode(i16 memoId, f64 recno) {
    for (i32 i = 0; i < blobList.Count(); ++i) {
        tBlobNode* node = blobList.Get(i);
        if (node->dataFieldNo != memoId) continue;
        if (node->recno != recno) {
            node->value.clear();
            node->recno = recno;
            node->dirty = false;
            node->mustRead = true;
        }
        return node;
    }
    return nullptr;
}

void tISAMFile::ResetBlobs() {
    for (i32 i = 0; i < blobList.Count(); ++i) {
        tBlobNode* node = blobList.Get(i);
        node->value.clear();
        node->dirty = false;
        node->mustRead = true;
    }
}

void tISAMFile::BlobRead(i16 memoId, i32 recno, i32 length) {
    if (length < 0) length = 0;
    const f64 target = recno != 0 ? recno : std::trunc(GetRecno());
    if (target == 0.0) {
        BasePrintf("[WARNING] OP_BLOBREAD with NO RECORD in Table [%s]\n", mirror->GetFullName());
        reply.PutLong(0);
        return;
    }
    // Positioned first, so that the node is taken for the record the client names.
    if (GetRecno() != target) GoTo(target, false);
    tBlobNode* node = GetBlobNode(memoId, target);
    const tField* field = node && node->fieldIndex < mirror->GetFieldCount()
                              ? mirror->GetField(node->fieldIndex)
                              : nullptr;
    if (field && node->mustRead) {
        sql = "SELECT ";
        sql += field->GetName();
        sql += " FROM ";
        sql += mirror->GetName();
        sql += " WHERE R_E_C_N_O_ = ";
        char recnoText[kRecnoTextSize];
        sql += RecnoToStr(target, recnoText);
        std::vector<char> buffer(kMemoReadSize, 0);
        i32 size = kMemoReadSize;
        if (fetchStmt->GetBlob(sql, buffer.data(), size) && size > 0) {
            node->value.assign(buffer.data(), static_cast<size_t>(size));
        } else {
            node->value.clear();
        }
        fetchStmt->Close();
        node->mustRead = false;
        node->dirty = false;
    }
    const size_t available = node ? node->value.size() : 0;
    reply.PutLong(length != 0 ? 0 : static_cast<i32>(available));
    // Never more than the memo holds, whatever the client asks for.
    const size_t sent = std::min(static_cast<size_t>(length), available);
    if (sent > 0) reply.PutBytes(node->value.data(), sent);
}

i16 tISAMFile::BlobWrite(i16 memoId, const void* bytes, i32 count) {
    tBlobNode* node = GetBlobNode(memoId, GetRecno());
    if (!node) return RC_FAILED;
    node->mustRead = false;
    node->dirty = true;
    node->value.assign(static_cast<const char*>(bytes), count > 0 ? static_cast<size_t>(count) : 0);
    return RC_OK;
}

std::vector<tISAMFile::tPendingMemo> tISAMFile::PendingMemos() const {
    std::vector<tPendingMemo> memos;
    for (i32 i = 0; i < blobList.Count(); ++i) {
        const tBlobNode* node = blobList.Get(i);
        if (node->dirty) memos.push_back({node->dataFieldNo, node->value});
    }
    return memos;
}

void tISAMFile::RestorePendingMemos(std::vector<tPendingMemo>& memos) {
    for (tPendingMemo& memo : memos) {
        tBlobNode* node = GetBlobNode(memo.memoId, GetRecno());
        node->value = std::move(memo.value);
        node->dirty = true;
        node->mustRead = false;
    }
}

bool tISAMFile::BlobWriteSql(i32& code, f64 recno) {
    for (i32 i = 0; i < blobList.Count(); ++i) {
        tBlobNode* node = blobList.Get(i);
        if (!node->dirty) continue;
        if (node->fieldIndex >= mirror->GetFieldCount()) return false;
        const tField* field = mirror->GetField(node->fieldIndex);
        sql = "UPDATE ";
        sql += mirror->GetName();
        sql += " SET ";
        sql += field->GetName();
        sql += " = ? WHERE R_E_C_N_O_ = ";
        char recnoText[kRecnoTextSize];
        sql += RecnoToStr(recno, recnoText);
        // A memo's declared length is its kind: 11 long text, else long binary.
        const i16 kind = field->GetLen() == 11 ? 11 : 10;
        const bool stored = fetchStmt->ExecParam(sql, node->value.data(),
                                                 static_cast<i32>(node->value.size()), kind);
        fetchStmt->Close();
        if (!stored) {
            code = RC_NO_UPDATE;
            return false;
        }
        node->dirty = false;
        node->mustRead = false;
        node->recno = recno;
    }
    return true;
}

// ---- Clear and pack

bool tISAMFile::Clear() {
    if (!connection->ClearTable(mirror->GetName())) return false;
    cache->Reset(false);
    return true;
}

bool tISAMFile::Pack() {
    connection->SetRowCount(0);
    const bool packed = connection->PackTable(mirror->GetName());
    cache->Reset(false);
    return packed;
}
