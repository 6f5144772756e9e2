// The generic file: the open reply with the table structure, the status block, the base forms
// of the file operations and the generic part of a file's description.
#include <cmath>
#include <limits>
#include <utility>

#include "lib_base/gmlassert.h"
#include "lib_common/commbuffer.h"
#include "lib_common/retcodes.h"
#include "server/isam/gatemill.h"
#include "server/isam/session.h"
#include "server/locks/lockengine.h"
#include "server/tables/dbtable.h"

tGenericFile::tGenericFile(tDBConnection* connection, std::shared_ptr<tTableDefinition> def,
                           tCommBuffer& reply, u32 lockOwner)
    : connection(connection), tableDef(std::move(def)), reply(reply), lockOwner(lockOwner) {}

tGenericFile::~tGenericFile() = default;

void tGenericFile::SetInternalID(u16 id) { internalId = id; }

bool tGenericFile::Open(u16 id) {
    SetInternalID(id);
    reply.PutLong(static_cast<i32>(tableDef->GetRecLen()));
    SendStructure(nullptr);
    SendStatus();
    return true;
}

void tGenericFile::RecvRecord() {}

void tGenericFile::SendStructure(const tTableDefinition* def) {
    if (!def) def = tableDef.get();
    GML_ASSERT(blobList.Count() == 0, "blob list not empty when sending the structure");
    reply.PutShort(def->GetDataFieldCount());
    i16 dataFieldNo = 0;
    for (i32 i = 0; i < def->GetFieldCount(); ++i) {
        const tField* field = def->GetField(i);
        if (!field->IsData()) continue;
        ++dataFieldNo;
        reply.PutString(field->GetName());
        reply.PutByte(field->GetType());
        reply.PutShort(field->GetLen());
        reply.PutShort(static_cast<i16>(field->GetDecimals()));
        if (field->GetType() == 'M') blobList.Add(new tBlobNode(dataFieldNo, static_cast<i16>(i)));
    }
}

void tGenericFile::StatusText(tString& text) {
    if (bof) text += " [BOF]";
    if (eof) text += " [EOF]";
    if (found) text += " [FOUND]";
}

void tGenericFile::PutStatus(i32 recCount) {
    reply.PutByte(bof ? 1 : 0);
    reply.PutByte(eof ? 1 : 0);
    reply.PutByte(found ? 1 : 0);
    reply.PutLong(recCount);
}

i32 tGenericFile::LockEngineRecCount(const tTableDefinition& def) {
    GML_ASSERT(dbServer != nullptr, "file without a session");
    const f64 count = dbServer->GetRecordLockEngine()->RecCount(
        static_cast<i32>(def.GetLockBucket()), def.GetFullName());
    // A counter outside the i32 range (or not a number) would make the conversion undefined.
    if (std::isnan(count)) return 0;
    if (count >= static_cast<f64>(std::numeric_limits<i32>::max())) {
        return std::numeric_limits<i32>::max();
    }
    if (count <= static_cast<f64>(std::numeric_limits<i32>::min())) {
        return std::numeric_limits<i32>::min();
    }
    return static_cast<i32>(count);
}

bool tGenericFile::WriteRecord(i32&) { return false; }
bool tGenericFile::Write(i32&) { return false; }
i16 tGenericFile::UpdateRecord(f64) { return RC_NO_UPDATE; }
i16 tGenericFile::Update(f64) { return RC_NO_UPDATE; }
i16 tGenericFile::DeleteR(f64) { return RC_NO_DELETE; }
i16 tGenericFile::RecallR(f64) { return RC_NO_UPDATE; }
i16 tGenericFile::SetDeletedFilter(u8) { return RC_OK; }
bool tGenericFile::CreateIndex(const char*, const char*) { return false; }
void tGenericFile::SendIndexes() {}
i16 tGenericFile::SetOrder(i16) { return RC_OK; }
i32 tGenericFile::GetOrder() { return 0; }
i16 tGenericFile::Lock(u8, i32) { return RC_NO_RECORD; }
bool tGenericFile::Unlock(u8, i32) { return false; }
void tGenericFile::GetLockOwner(i32, tString&) {}
void tGenericFile::ResetMirror() {}
bool tGenericFile::SetFilter(const char*, bool&) { return false; }
i16 tGenericFile::Seek(i16, i16, u8) { return RC_FAILED; }
i16 tGenericFile::SrvMap(const char*) { return RC_FAILED; }
void tGenericFile::BlobRead(i16, i32, i32) { reply.PutReturnCode(RC_FAILED); }
i16 tGenericFile::BlobWrite(i16, const void*, i32) { return RC_FAILED; }
bool tGenericFile::Clear() { return false; }
bool tGenericFile::Pack() { return false; }
bool tGenericFile::IsAuditable() { return false; }
const char* tGenericFile::GetTableName() { return ""; }
bool tGenericFile::IsExclusive() { return false; }

void tGenericFile::ResetBofEof() {
    bof = false;
    eof = false;
}

void tGenericFile::ReleaseRecnoStmt() {}

namespace {
const char* OkOrNull(const void* p) { return p ? "OK" : "NULL"; }
const char* YesOrNo(bool b) { return b ? "YES" : "NO"; }
}  // namespace

void tGenericFile::DumpInfo(tString& out) { DumpGeneric(out, tableDef.get()); }

void tGenericFile::DumpGeneric(tString& out, const tTableDefinition* def) {
    tString line;
    out += "\n[GENERIC FILE INFORMATION]\n";
    line.sprintf("DBServer .................: %s\n", OkOrNull(dbServer));
    out += line;
    line.sprintf("DBConnection .............: %s\n", OkOrNull(connection));
    out += line;
    line.sprintf("Table Definition .........: %s\n", OkOrNull(def));
    out += line;
    line.sprintf("Comm Buffer ..............: %s\n", OkOrNull(&reply));
    out += line;
    line.sprintf("Blob Fields ..............: %s\n", OkOrNull(&blobList));
    out += line;
    line.sprintf("Table Internal ID ........: %u\n", static_cast<u32>(internalId));
    out += line;
    line.sprintf("Table Owner ..............: %u\n", lockOwner);
    out += line;
    line.sprintf("Table Status Flags .......: %s%s%s\n", bof ? "[BOF] " : "", eof ? "[EOF] " : "",
                 found ? "[FOUND] " : "");
    out += line;
    if (def) DumpDefinition(out, *def);
}

void tGenericFile::DumpDefinition(tString& out, const tTableDefinition& def) const {
    tString line;
    out += "\n[TABLE DEFINITION PROPERTIES]\n";
    line.sprintf("Table Full Name ..........: %s\n", def.GetFullName());
    out += line;
    line.sprintf("Table HASH ID ............: %u\n", def.GetLockBucket());
    out += line;
    line.sprintf("Record Buffer Length .....: %u\n", def.GetRecLen());
    out += line;
    line.sprintf("MEMO Fields in Use .......: %s\n", YesOrNo(def.HasMemoFields()));
    out += line;
    line.sprintf("FULL Mapped Table ........: %s\n", YesOrNo(def.IsFullMapped()));
    out += line;
    line.sprintf("Table Auditable ..........: %s\n", YesOrNo(def.IsAuditable()));
    out += line;
    line.sprintf("Automatic RECNO Numbering : %s\n", YesOrNo(def.IsAutoRecno()));
    out += line;
    out += "\n[TABLE DEFINITION STRUCTURE]\n";
    for (i32 i = 0; i < def.GetFieldCount(); ++i) {
        const tField* f = def.GetField(i);
        line.sprintf("Fld [%3u] Name [%20s] Type [%c] Len [%3u] Dec [%2u] Reg [%c]\n",
                     static_cast<u32>(i), f->GetName(), f->GetType(),
                     static_cast<u32>(static_cast<u16>(f->GetLen())),
                     static_cast<u32>(f->GetDecimals()), f->IsData() ? 'S' : 'N');
        out += line;
    }
    out += "\n[INDEX DEFINITION]\n";
    if (def.GetIndexCount() == 0) out += "( no indexes found )\n";
    for (i32 i = 0; i < def.GetIndexCount(); ++i) {
        const tIndexDefinition* index = def.GetIndex(i);
        line.sprintf("Idx [%3u] Name [%20s] Fields [", static_cast<u32>(i), index->GetName());
        for (i32 k = 0; k < index->GetFieldCount(); ++k) {
            if (k > 0) line += ",";
            line += def.GetField(index->GetField(k))->GetName();
        }
        line += "]\n";
        out += line;
    }
}
