// Small services of the client connection that handlers share: the report of an exception that
// ended the connection, the refusal of structure changes inside a transaction, audit records,
// and the report texts that internal calls return.
#include "lib_base/stringz.h"
#include "lib_common/opcodes.h"
#include "lib_common/retcodes.h"
#include "server/dispatch/dbserver.h"
#include "server/isam/dbconn.h"
#include "server/runtime/appsummary.h"
#include "server/runtime/consolelog.h"
#include "server/runtime/diagnostics.h"
#include "server/runtime/globals.h"
#include "server/runtime/gmlthreads.h"

void tDBServer::DoShowException() {
    tString text;
    text.sprintf("Thread\t%u", GetThreadId());
    text += "\nEnvironment\t";
    text += environment;
    text += "\nLast Op\t";
    text += OpcodeName(currentOpcode);
    text += "\nDetails\t";
    text += operation.details;
    text += "\n";
    if (properties) {
        properties->DescribeThread(text, true);
        text.ReplaceChar('\t', '\n');
    }
    ConsolePrintf(
        "\n**** TDBSERVER DOSHOWEXCEPTION INFO ****\n%s****************************************\n",
        text.GetText());
}

bool tDBServer::CheckTransaction(const char* routine, const char* table) {
    if (!connection || !connection->InTransaction()) return true;
    tString message;
    message.sprintf("[ERROR] (from %s - table %s) Invalid operation with active transaction.\n",
                    routine, table);
    connection->SetError(RC_FAILED, routine, message, nullptr);
    return false;
}

const char* tDBServer::GetAuditId() {
    auditId.sprintf("%s%09u", connectionKey.GetText(), connection ? connection->GetAuditSeq() : 0);
    return auditId;
}

i16 tDBServer::WriteAudit(const char* action, const char* table, f64 recno, const char* detail1,
                          const char* detail2, const char* extra) {
    if (!auditClient) return RC_NOT_CONNECTED;
    return auditClient->Write(action, table, recno, detail1, detail2, GetAuditId(), extra);
}

i16 tDBServer::GetThreadList(tString& out) { return Globals()->GetThreads()->GetThreadList(out); }

i16 tDBServer::GetThreadObs(tString& out) { return Globals()->GetThreads()->GetThreadObs(out); }

i16 tDBServer::GetSystemReport(tString& out) {
    out += Globals()->GetOSReport();
    CheckMemoryStatus(out);
    return 0;
}

i16 tDBServer::GetSummary(tString& out) {
    ApplicationSummary(out, false, false);
    return 0;
}
