// Transaction requests: commit control opened and closed, the unit of work committed or rolled
// back. Each forwards to the database connection, keeps the in-transaction mark that the
// monitor shows, audits the outcome when the audit level asks for it, and traces it.
#include "lib_common/commbuffer.h"
#include "lib_common/retcodes.h"
#include "server/dispatch/dbserver.h"
#include "server/isam/dbconn.h"
#include "server/runtime/gmlthreads.h"

namespace {

// Begin, commit and rollback are audited from this level up.
constexpr i16 kTransactionAuditLevel = 3;

}  // namespace

void tDBServer::StrCmtCtl() {
    i16 code = RC_NOT_SUPPORTED;
    if (connection) {
        connection->AbortTran();
        code = connection->StrCmtCtl();
        if (code == RC_OK) properties->SetInTransaction(1);
    }
    EndTransactionRequest(code, "B", "-- Begin Transaction ", "tDBServer::StrCmtCtl");
}

void tDBServer::EndCmtCtl() {
    i16 code = RC_NOT_SUPPORTED;
    if (connection) {
        code = connection->EndCmtCtl();
        // The next unit of work starts whether or not the block could be closed.
        connection->BeginTran();
        if (code == RC_OK) properties->SetInTransaction(0);
    }
    EndTransactionRequest(code, nullptr, "-- End Transaction ", "tDBServer::EndCmtCtl");
}

void tDBServer::Commit() {
    const i16 code = connection ? connection->Commit() : RC_NOT_SUPPORTED;
    EndTransactionRequest(code, "C", "-- Commit Transaction ", "tDBServer::Commit");
}

void tDBServer::Rollback() {
    const i16 code = connection ? connection->Rollback() : RC_NOT_SUPPORTED;
    EndTransactionRequest(code, "R", "-- ROLLBACK Transaction ", "tDBServer::Rollback");
}

// The audit record of a successful request (auditKind null: none), whose failure replaces the
// code although the database has done its part; the trace line; the reply.
void tDBServer::EndTransactionRequest(i16 code, const char* auditKind, const char* text,
                                      const char* routine) {
    if (auditKind && code == RC_OK && audit.log && audit.level >= kTransactionAuditLevel) {
        code = WriteAudit(auditKind, "", 0.0, "", "", nullptr);
    }
    if (IsTraceOn()) {
        tString line(text);
        line += code == RC_OK ? "OK" : "FAILED";
        Trace(routine, 0.0, line);
    }
    tCommBuffer& out = *GetCommBuffer();
    out.Reset();
    out.PutReturnCode(code);
}
