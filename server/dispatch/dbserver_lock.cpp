// Record and table locks asked for by the client: the open file takes them in the record-lock
// engine, which learns first who this connection is; a refused lock keeps the holder's
// description for the client to ask for.
#include <cstdio>

#include "lib_common/commbuffer.h"
#include "lib_common/retcodes.h"
#include "server/dispatch/dbserver.h"
#include "server/isam/dbconn.h"
#include "server/isam/gatemill.h"
#include "server/locks/lockengine.h"
#include "server/runtime/gmlthreads.h"

namespace {

constexpr const char* kReadOnlyRefusal = "Lock Operation not supported on READONLY Connection.";

// "<verb> <table> Recno <recno> [FILE_OP]" (or [RECORD_OP]), the record number printed as
// unsigned.
tString LockTraceText(const char* verb, const char* table, u8 wholeTable, i32 recno) {
    tString text(verb);
    text += table;
    char tail[48];
    std::snprintf(tail, sizeof tail, " Recno %u %s", static_cast<u32>(recno),
                  wholeTable ? "[FILE_OP]" : "[RECORD_OP]");
    text += tail;
    return text;
}

}  // namespace

// A lock or unlock request: the file id, the whole-table flag and the record number. Null when
// the request is malformed or the id is free (then -10 is the reply).
tGenericFile* tDBServer::ReadLockRequest(u8& wholeTable, i32& recno) {
    i16 fileId = 0;
    return ReadFileRequest(fileId, wholeTable, recno);
}

void tDBServer::Lock() {
    tCommBuffer& io = *GetCommBuffer();
    u8 wholeTable = 0;
    i32 recno = 0;
    tGenericFile* file = ReadLockRequest(wholeTable, recno);  // not owned
    if (!file) return;
    i16 code = RC_FAILED;
    if (connection->IsReadOnly()) {
        connection->SetError(RC_FAILED, "tDBServer::Lock",
                             "[WARNING] Lock Operation not supported on READONLY Connection.\n",
                             nullptr);
        lockText = "Gatemill|";
        lockText += kReadOnlyRefusal;
    } else {
        lockText.Clear();
        if (ownerInfoPending) {
            SendOwnerInfo();
            ownerInfoPending = false;
        }
        code = file->Lock(wholeTable, recno);
        if (code == RC_LOCKED) file->GetLockOwner(recno, lockText);
    }
    io.PutReturnCode(code);
    if (IsHandlerTraced()) {
        tString text = LockTraceText("Lock ", file->GetTableName(), wholeTable, recno);
        if (code == RC_LOCKED) {
            text += " FAILED - OWNER ";
            text += lockText;
        } else {
            text += " OK";
        }
        TraceHandler("Lock", text);
    }
    if (code == RC_OK) file->SendRecord();
    file->SendStatus();
}

// The application user and the thread comment, under this connection's owner id.
void tDBServer::SendOwnerInfo() {
    tString info;
    properties->GetUser(info);
    info += "|";
    tString comment;
    properties->GetObs(comment);
    info += comment;
    GetRecordLockEngine()->SetOwnerInfo(GetThreadId(), info, 0);
}

void tDBServer::Unlock() {
    tCommBuffer& io = *GetCommBuffer();
    u8 wholeTable = 0;
    i32 recno = 0;
    tGenericFile* file = ReadLockRequest(wholeTable, recno);  // not owned
    if (!file) return;
    file->Unlock(wholeTable, recno);  // a lock that is not held is no failure for the client
    if (IsHandlerTraced()) {
        TraceHandler("Lock", LockTraceText("Unlock ", file->GetTableName(), wholeTable, recno));
    }
    io.PutReturnCode(RC_OK);
}
