// The connection base: construction from the configuration, the base forms of the virtual
// operations, the error record with its log and trace, the statement trace hooks, the operation
// log, transactions and the pending join descriptions.
#include "server/isam/dbconn.h"

#include <cstdio>
#include <memory>
#include <utility>

#include "lib_base/printer.h"
#include "lib_common/build.h"
#include "lib_common/configcache.h"
#include "lib_common/logwriter.h"
#include "lib_common/retcodes.h"
#include "lib_common/sqltext.h"
#include "server/isam/dbprocess.h"
#include "server/isam/gatemill.h"
#include "server/isam/gatemill_query.h"
#include "server/isam/session.h"
#include "server/tables/dbtable.h"

char* RecnoToStr(f64 recno, char (&buffer)[kRecnoTextSize]) {
    std::snprintf(buffer, sizeof buffer, "%.0f", recno);
    return buffer;
}

tDBConnection::tDBConnection(const char* dbType, const tString& alias, const tString& user,
                             const tString& password)
    : tRWLock("tDBConnection"), user(user), password(password), alias(alias), dbType(dbType) {
    tConfigCache& config = DBProcess().GetConfig();
    indexTrace = config.GetBool("General", "TraceIndex", 0);
    isamAllowed = config.GetBoolEx(dbType, alias, "IsamConnection", 1);
    preparedStmt = config.GetBoolEx(dbType, alias, "PreparedStmt", 1);
    readOnly = config.GetBoolEx(dbType, alias, "ReadOnly", 0);
}

tDBConnection::~tDBConnection() = default;

bool tDBConnection::IsConnected() { return connected; }
void tDBConnection::Disconnect() {}
i32 tDBConnection::HandleError(tStatement*, const char*, const char*, i32, u8) { return 0; }
void* tDBConnection::GetHandle() { return nullptr; }
bool tDBConnection::IsTraced() { return dbServer && dbServer->IsTraceOn(); }

void tDBConnection::TraceStart(const char* label) {
    if (!dbServer) return;
    stmtTimer.Start();
    traceLabel = label;
}

void tDBConnection::TraceRecno(const char* text, f64 recno) {
    if (!dbServer) return;
    tString line(text);
    line += " -- ( R = ";
    line += RecnoToStr(recno, recnoText);
    line += " )";
    TraceLine(line);
}

void tDBConnection::TraceResult(const char* text, const char* result) {
    if (!dbServer) return;
    tString line(text);
    line += " -- ( R = ";
    line += result;
    line += " )";
    TraceLine(line);
}

void tDBConnection::TraceEnd(const char* text) {
    if (dbServer) TraceLine(text);
}

void tDBConnection::TraceLine(const char* text) {
    dbServer->Trace(traceLabel, stmtTimer.Elapsed(false), text);
}

i32 tDBConnection::GetErrorText(tStatement*) { return 0; }
i16 tDBConnection::StrCmtCtl() { return RC_NOT_SUPPORTED; }
i16 tDBConnection::EndCmtCtl() { return RC_NOT_SUPPORTED; }
i16 tDBConnection::Commit() { return RC_NOT_SUPPORTED; }

i16 tDBConnection::Rollback() {
    // A rolled-back unit must not lend its audit id to the changes after it.
    ++auditSeq;
    return RC_NOT_SUPPORTED;
}

bool tDBConnection::CanOpen(const char*, const char*) { return false; }
bool tDBConnection::SPExist(const char*) { return false; }
tStatement* tDBConnection::NewStatement() { return new tStatement(this); }
void tDBConnection::CreateTable(const tTableDefinition&, tString&) {}
bool tDBConnection::CreateGMLParam() { return false; }
bool tDBConnection::SetParam(const char*, const char*) { return true; }

bool tDBConnection::WriteParamRow(tStatement& stmt, const char* probe, const char* name,
                                  const char* value, const char* session, const char* routine,
                                  u8 report) {
    tString row("PARAM_NAME = ");
    AppendLiteral(row, name);
    row += " AND PARAM_SESSION = ";
    row += session;
    tString sql("SELECT ");
    sql += probe;
    sql += " FROM GML_PARAM WHERE ";
    sql += row;
    const bool found = stmt.ExecDirect(sql, routine, report) && stmt.Fetch();
    stmt.Close();
    if (found) {
        sql = "UPDATE GML_PARAM SET PARAM_VALUE = ";
        AppendLiteral(sql, value);
        sql += " WHERE ";
        sql += row;
    } else {
        sql = "INSERT INTO GML_PARAM(PARAM_NAME,PARAM_VALUE,PARAM_SESSION) VALUES(";
        AppendLiteral(sql, name);
        sql += ",";
        AppendLiteral(sql, value);
        sql += ",";
        sql += session;
        sql += ")";
    }
    return stmt.ExecDirect(sql, routine, report);
}
bool tDBConnection::AddPrimaryKey(tString&, const char*) { return false; }
void tDBConnection::GetRecnoIndex(const char*, tString& sql) { sql.Clear(); }
const char* tDBConnection::GetOwner() { return nullptr; }
const char* tDBConnection::GetSchema() { return GetOwner(); }

tGenericFile* tDBConnection::NewISAMFile(tCommBuffer&,
                                         const std::shared_ptr<tTableDefinitionShared>&, u32) {
    return nullptr;
}

tQueryFile* tDBConnection::GetQueryFile(tCommBuffer&, u32, tString&) { return nullptr; }
tQueryFile* tDBConnection::PrepareStmt(tCommBuffer&, u32, const char*) { return nullptr; }

std::unique_ptr<tTableDefinitionExclusive> tDBConnection::DescribeQueryResult(tStatement& stmt,
                                                                              const tString& query,
                                                                              const char* routine) {
    if (!stmt.ExecDirect(query, routine, 1)) return nullptr;
    const i16 count = stmt.GetColumnCount();
    if (count <= 0) {
        tString message("Query does not return any supported column.\nQuery : ");
        message += query;
        message += "\n";
        SetError(RC_FAILED, routine, message, nullptr);
        return nullptr;
    }
    auto def = std::make_unique<tTableDefinitionExclusive>("", alias);
    def->SetFieldCapacity(count);
    for (i16 c = 0; c < count; ++c) {
        const tColumnDesc& column = stmt.GetColumns()[c];
        if (column.type == 'C') {
            def->AddField(column.name, 'C', static_cast<i16>(column.bufferLength - 1), 0, true,
                          true);
        } else if (column.type == 'N') {
            def->AddField(column.name, 'N', 15, 8, true, true);
        }
    }
    return def;
}

tQueryFile* tDBConnection::NewQueryFile(tCommBuffer& reply, u32 lockOwner, tString& query,
                                        const char* routine, std::unique_ptr<tStatement> stmt) {
    if (!IsConnected()) return nullptr;
    std::unique_ptr<tTableDefinitionExclusive> def = DescribeQueryResult(*stmt, query, routine);
    if (!def) return nullptr;
    return new tQueryFile(this, std::move(def), reply, lockOwner, std::move(stmt), query);
}
bool tDBConnection::DescribeTable(tTableDefinition&) { return false; }
bool tDBConnection::DescribeIndexes(tTableDefinition&) { return false; }

bool tDBConnection::SetRowCount(i16 rows) {
    rowLimit = rows;
    return true;
}

i16 tDBConnection::GetRowCount() { return rowLimit; }
void tDBConnection::ReleaseChild(tDBConnection*) {}
void tDBConnection::ListTables(tString&) {}
bool tDBConnection::IsDuplicateKey(i32) { return false; }
bool tDBConnection::IsUserError(i32 native) { return native == 50000; }

i16 tDBConnection::ExecSP(const char* name, tArray<tDATAField>& inputs,
                          tArray<tDATAField>& outputs) {
    std::unique_ptr<tStatement> stmt(NewStatement());
    return stmt->SPExec(name, GetOwner(), inputs, outputs);
}

bool tDBConnection::ClearTable(const char*) { return false; }
f64 tDBConnection::GetRecCount(const char*) { return -1.0; }
bool tDBConnection::AlterTable(const char*, tArray<tActionField>&, u8) { return false; }
bool tDBConnection::AlterStructure(const char*, tArray<tActionField>&, u8) { return false; }

void tDBConnection::DropIndex(tString& sql, const char*, const char* index) {
    sql = "DROP INDEX ";
    sql += index;
}

void tDBConnection::IndexSpaceClause(tString&, u8) {}

void tDBConnection::BeginTran() {
    if (unitOfWork) return;
    unitOfWork = 1;
    ++auditSeq;
}

void tDBConnection::EndTran() {
    // Inside commit control the unit ends with the block, not here.
    if (unitOfWork && !commitControl) ++auditSeq;
}

void tDBConnection::AbortTran() { unitOfWork = 0; }
bool tDBConnection::RecnoAcceptNull(const char*) { return false; }
bool tDBConnection::IsAutoRecno(const char*) { return false; }
void tDBConnection::LogAction(const char*, const char*) {}
i16 tDBConnection::GetDBVersion() { return 0; }
void tDBConnection::GetSessionID(tString& text) { text += " "; }
f64 tDBConnection::GetInsertedRecno() { return -1.0; }
bool tDBConnection::IsConnectionLost() { return linkLost; }
i16 tDBConnection::GetInfoString(u16, tString&) { return -1; }

bool tDBConnection::UseAutoRecno(const char* table) {
    tConfigCache& config = DBProcess().GetConfig();
    const u8 forAll = config.GetBoolEx(dbType, alias, "AutoRecno", 0);
    tString key("AutoRecno");
    key += table;
    return config.GetBoolEx(dbType, alias, key, forAll);
}

bool tDBConnection::IsMemoAsBlob() { return false; }
void tDBConnection::AppendLiteral(tString& sql, const char* value) { AppendQuoted(sql, value); }

bool tDBConnection::SetError(i32 code, const char* routine, const char* message,
                             tGenericFile* file) {
    lastError.sprintf("GML Error %i - ", code);
    lastError += message;
    lastErrorCode = code;
    return LogError(lastError, routine, file);
}

bool tDBConnection::LogError(tString& text, const char* routine, tGenericFile* file) {
    if (routine) {
        text += " ( From ";
        text += routine;
        text += " )\n";
    }
    AddServerInfo(text);
    if (file && DBProcess().GetLogFull()) file->DumpInfo(text);
    if (IsTraced()) dbServer->Trace(routine ? routine : "", 0.0, text);
    return WriteLog(text, 0);
}

bool tDBConnection::LogLastError(const char* routine, tGenericFile* file) {
    return LogError(lastError, routine, file);
}

void tDBConnection::AddServerInfo(tString& text) {
    if (!dbServer) {
        text += "( DBSERVER NOT SET )";
    } else if (!dbServer->IsRunning()) {
        text += "( DBSERVER NOT ACTIVE )";
    } else {
        dbServer->DescribeThread(text, false);
        text += "GMBuild [";
        text += kBuildNumber;
        text += "]\t\n";
    }
}

void tDBConnection::ClearError() {
    lastError.Clear();
    lastErrorCode = 0;
}

i32 tDBConnection::GetLastErrorInfo(tString& out) const {
    out = lastError;
    return lastErrorCode;
}

void tDBConnection::OpLogStmt(const char* routine, const char* statement) {
    if (!dbServer) return;
    BasePrintf("[OPLOG] Thread (%u)\tRoutine: %s \tSTMT: %s\n", dbServer->GetThreadId(), routine,
               statement);
}

void tDBConnection::OpLogMsg(const char* routine, const char* message) {
    if (!dbServer) return;
    BasePrintf("[OPLOG] Thread (%u)\tRoutine: %s \tMSG: %s\n", dbServer->GetThreadId(), routine,
               message);
}

void tDBConnection::AddJoinInfo(std::unique_ptr<tJoinInfo> join) {
    if (!pendingJoins) pendingJoins = std::make_unique<tAutoArray<tJoinInfo>>();
    pendingJoins->Add(join.release());
}

std::unique_ptr<tAutoArray<tJoinInfo>> tDBConnection::TakeJoinInfo() {
    return std::move(pendingJoins);
}
