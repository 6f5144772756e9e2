// Record changes: the append of the record the client sends, its update, and the deletion mark
// set and removed. The open file does the work; the handler closes the unit of work of each
// change, writes the audit record when auditing is on, and keeps the operation's details.
#include "lib_base/stringz.h"
#include "lib_common/commbuffer.h"
#include "lib_common/retcodes.h"
#include "server/dispatch/dbserver.h"
#include "server/isam/dbconn.h"
#include "server/isam/gatemill.h"

namespace {

constexpr i16 kUpdateAuditMaxLevel = 1;  // above it the file audits its changed fields instead

// A code as the operation details print it: widened to 32 bits, without sign.
tString Unsigned(i32 value) { return UIntToStr(static_cast<u32>(value)); }

}  // namespace

void tDBServer::Write() {
    tCommBuffer& io = *GetCommBuffer();
    i16 fileId = 0;
    io.GetShort(fileId);
    if (io.IsMalformed()) return;
    tGenericFile* file = GetFile(fileId);  // not owned: the open-file table keeps it
    if (!file) {
        io.Reset();
        io.PutReturnCode(RC_NO_OPEN_FILE);
        return;
    }
    file->RecvRecord();
    if (io.IsMalformed()) return;  // a short record writes nothing
    const tString table(file->GetTableName());
    AddDetails(table);
    i32 nativeError = 0;
    const bool written = file->WriteRecord(nativeError);
    if (written) connection->EndTran();
    io.Reset();
    i16 code = RC_OK;
    if (!written) {
        const bool refused =
            connection->IsUserError(nativeError) || connection->IsDuplicateKey(nativeError);
        code = refused ? RC_DUPLICATE_KEY : RC_APPEND_FAILED;
    } else if (audit.log && file->IsAuditable()) {
        // The row stays written; the client learns that its audit record is missing.
        code = WriteAudit("I", table, file->GetRecno(), "", "", nullptr);
    }
    io.PutReturnCode(code);
    if (code != RC_OK) {
        if (IsOpLogOn()) {
            operation.details += "[FAILED] Table ";
            operation.details += table;
            operation.details += " Error ";
            operation.details += Unsigned(code);
        }
        return;
    }
    io.PutDouble(file->GetRecno());
    file->SendStatus();
    if (IsOpLogOn()) {
        char recno[kRecnoTextSize];
        operation.details += "[OK] Table ";
        operation.details += table;
        operation.details += " Record ";
        operation.details += RecnoToStr(file->GetRecno(), recno);
    }
}

void tDBServer::Update() {
    tCommBuffer& io = *GetCommBuffer();
    i16 fileId = 0;
    i32 recno = 0;
    io.GetShort(fileId);
    io.GetLong(recno);
    if (io.IsMalformed()) return;
    tGenericFile* file = GetFile(fileId);
    if (!file) {
        io.Reset();
        io.PutReturnCode(RC_NO_OPEN_FILE);
        return;
    }
    const tString table(file->GetTableName());
    AddDetails(table);
    if (file->IsQuery()) {
        io.Reset();
        io.PutReturnCode(RC_NO_OPEN_FILE);
        connection->SetError(RC_FAILED, "tDBServer::Update",
                             "Invalid Operation - Update NOT ALLOWED on Query File.\n", nullptr);
        return;
    }
    file->RecvRecord();
    if (io.IsMalformed()) return;
    io.Reset();
    i16 code = file->UpdateRecord(static_cast<f64>(recno));
    if (code == RC_OK) {
        connection->EndTran();
        if (audit.log && file->IsAuditable() && audit.level <= kUpdateAuditMaxLevel) {
            code = WriteAudit("U", table, static_cast<f64>(recno), "", "", nullptr);
        }
    }
    if (IsOpLogOn()) {
        operation.details += "Table : ";
        operation.details += table;
        operation.details += " Record : ";
        operation.details += Unsigned(recno);
        operation.details += " RetCode : ";
        operation.details += Unsigned(code);
    }
    io.PutReturnCode(code);
}

void tDBServer::Delete() { MarkRecord(true); }

void tDBServer::Recall() { MarkRecord(false); }

// Delete and recall differ only in the file's operation and the audit letter.
void tDBServer::MarkRecord(bool deleting) {
    i16 fileId = 0;
    i32 recno = 0;
    tGenericFile* file = ReadFileRequest(fileId, recno);  // not owned: the open-file table keeps it
    if (!file) return;
    tCommBuffer& io = *GetCommBuffer();
    const tString table(file->GetTableName());
    if (IsOpLogOn()) {
        operation.details += table;
        operation.details += " Recno ";
        operation.details += Unsigned(recno);
    }
    const f64 number = static_cast<f64>(recno);
    i16 code = deleting ? file->DeleteR(number) : file->RecallR(number);
    if (code == RC_OK) {
        connection->EndTran();
        if (audit.log && file->IsAuditable()) {
            code = WriteAudit(deleting ? "D" : "L", table, number, "", "", nullptr);
        }
    }
    io.PutReturnCode(code);
}
