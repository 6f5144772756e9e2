// Table maintenance and session requests of a client connection: emptying a table, removing its
// deleted records, a session parameter kept by the database, the database's session id, and the
// build number, which every client library asks for right after it connects.
#include "lib_common/build.h"
#include "lib_common/commbuffer.h"
#include "lib_common/retcodes.h"
#include "server/dispatch/dbserver.h"
#include "server/isam/dbconn.h"
#include "server/isam/gatemill.h"
#include "server/locks/lockengine.h"
#include "server/runtime/gmlthreads.h"
#include "server/tables/dbtable.h"

void tDBServer::Clear() {
    tCommBuffer& out = *GetCommBuffer();
    i16 id = 0;
    tGenericFile* file = ReadFileRequest(id);
    if (!file) return;
    const tTableDefinition& def = *file->GetTableDef();
    connection->AbortTran();
    const bool cleared = file->Clear();
    connection->BeginTran();
    if (!cleared) {
        out.PutReturnCode(RC_FAILED);
        return;
    }
    file->GoTop();
    // The next record number of the empty table starts again from 1.
    GetRecordLockEngine()->SetRecCount(static_cast<i32>(def.GetLockBucket()), def.GetFullName(),
                                       0.0);
    out.PutReturnCode(RC_OK);
    file->SendStatus();
}

void tDBServer::Pack() {
    i16 id = 0;
    tGenericFile* file = ReadFileRequest(id);
    if (!file) return;
    AddDetails(file->GetTableName());
    const bool packed = file->Pack();
    connection->EndTran();  // whatever the pack gave
    GetCommBuffer()->PutReturnCode(packed ? RC_OK : RC_FAILED);
}

namespace {

// Sets the connection's error when a session parameter is refused before the database is
// asked; true then.
bool RefuseSetParam(tDBConnection& conn, const tString& name, const tString& value) {
    tString message;
    if (!conn.IsIsamAllowed()) {
        message = "[WARNING] SetParam only supported when IsamConnection is ENABLED.\n";
    } else if (conn.IsReadOnly()) {
        message = "[WARNING] SetParam not supported on READONLY Connection.\n";
    } else if (value.GetLength() == 0) {
        message = "[WARNING] SetParam [";
        message += name;
        message += "] does not accept NULL parameter value.\n";
    } else {
        return false;
    }
    conn.SetError(RC_FAILED, "tDBServer::SetParam", message, nullptr);
    return true;
}

}  // namespace

void tDBServer::SetParam() {
    tCommBuffer& in = *GetCommBuffer();
    tString name;
    tString value;
    in.GetString(name);
    in.GetString(value);
    if (in.IsMalformed()) return;
    in.Reset();
    tDBConnection& conn = *connection;
    const i16 rowLimit = conn.GetRowCount();
    conn.SetRowCount(0);
    conn.ClearError();
    conn.AbortTran();
    if (IsOpLogOn()) {
        tString details("SetParam [");
        details += name;
        details += "] with [";
        details += value;
        details += "]";
        AddDetails(details);
    }
    const bool refused = RefuseSetParam(conn, name, value);
    in.PutReturnCode(refused || !conn.SetParam(name, value) ? RC_FAILED : RC_OK);
    conn.SetRowCount(rowLimit);
    conn.BeginTran();
}

void tDBServer::GetDBSID() {
    tCommBuffer& out = *GetCommBuffer();
    out.Reset();
    tString sid;
    properties->GetDBSID(sid);
    out.PutTString(sid);
}

void tDBServer::Build() {
    tCommBuffer& out = *GetCommBuffer();
    out.Reset();
    out.PutString(kBuildNumber);
}
