// The Oracle connection's life: the choice of the call layer (once per process when probed),
// logon and session set-up, the session identifier, logoff, error texts with the lost-link codes,
// commit control and transactions, the session's action name and the server host name.
#include <cstring>
#include <memory>
#include <string>

#include "lib_base/critsec.h"
#include "lib_common/configcache.h"
#include "lib_common/logwriter.h"
#include "lib_common/retcodes.h"
#include "platform/files.h"
#include "server/drivers/oci7.h"
#include "server/drivers/oci8.h"
#include "server/drivers/oracle.h"
#include "server/isam/dbprocess.h"
#include "server/isam/gatemill.h"
#include "server/isam/session.h"
#include "server/tables/dbtable.h"

namespace {

constexpr const char* kConnectRoutine = "tOracleConnection::Connect";
constexpr const char* kParamCleanUp =
    "delete from GML_PARAM where PARAM_SESSION = userenv('sessionid')";

// The Oracle codes that mean the link to the server is gone.
bool IsLostLinkCode(i32 code) {
    return code == 3113 || code == 3114 || code == 1034 || code == 12514;
}

// The OCI version that the probe found (7 or 9), 0 before it ran; guarded by ProbeLock.
i32 probedVersion = 0;

tCriticalSection& ProbeLock() {
    // Never destroyed: a connection may be made while the process ends.
    static auto* const lock = new tCriticalSection;
    return *lock;
}

std::string ConfiguredHome() {
    tString home;
    DBProcess().GetConfig().GetString("Oracle", "ORACLE_HOME", "", home);
    return home.GetText();
}

// Where the version 9 client would be: in the configured home, else in the first registered
// home (HOME9 down to HOME0) that names one; empty when neither gives a home.
std::string Client9Path() {
    std::string home = ConfiguredHome();
    if (!home.empty()) {
        if (home.back() != '\\') home += '\\';
        return home + "bin\\oraclient9.dll";
    }
    for (int n = 9; n >= 0; --n) {
        tString registered;
        const std::string key = "SOFTWARE\\Oracle\\HOME" + std::to_string(n);
        if (GetRegistryString(key.c_str(), "ORACLE_HOME", registered)) {
            return std::string(registered.GetText()) + "\\bin\\oraclient9.dll";
        }
    }
    return std::string();
}

i32 ProbeClientVersion() {
    const std::string path = Client9Path();
    plat::FileFacts facts;
    if (!path.empty() && plat::StatPath(plat::HostPath(path.c_str()).c_str(), facts)) return 9;
    return 7;
}

}  // namespace

bool tOracleConnection::GetOCIVersion() {
    tConfigCache& config = DBProcess().GetConfig();
    tString library;
    config.GetString("Oracle", "ClientLibrary", "", library);
    if (library.GetLength() > 0) return true;
    const i32 configured = config.GetInt("Oracle", "OCIVersion", 0);
    if (configured != 0) return configured == 8;
    // One probe per process; every connection waits for its answer.
    tWaiting hold(&ProbeLock(), __FILE__, __LINE__);
    if (probedVersion <= 0) probedVersion = ProbeClientVersion();
    return probedVersion > 8;
}

void tOracleConnection::ResetOCIVersionProbe() {
    tWaiting hold(&ProbeLock(), __FILE__, __LINE__);
    probedVersion = 0;
}

tOracleConnection::tOracleConnection(const char* dbType, const tString& alias,
                                     const tString& user, const tString& password,
                                     bool useSysTables)
    : tDBConnection(dbType, alias, user, password), schema(user) {
    SetUseSysTables(useSysTables);
    schema.Upper();
    schema += ".";
    oci8 = GetOCIVersion() ? 1 : 0;
    if (oci8) {
        oci = std::make_unique<tOCI8>();
    } else {
        oci = std::make_unique<tOCI7>();
    }
    bool memoAsBlob = DBProcess().GetConfig().GetBoolEx("ORACLE", alias, "MemoAsBlob", 0);
    if (memoAsBlob && !oci8) {
        tString text;
        text.sprintf(
            "[WARNING] (ORACLE/%s) Unable to use BLOB fields with client compatibility "
            "OCIVersion=7. Orvel MEMO fields are still created as LONG RAW fields.\n",
            alias.GetText());
        WriteLog(text, 0);
        memoAsBlob = false;
    }
    memoType = memoAsBlob ? "BLOB" : "LONG RAW";
}

tOracleConnection::~tOracleConnection() {
    if (IsConnected()) {
        if (isamAllowed) DeleteSessionParams("tOracleConnection::~tOracleConnection");
        Disconnect();
    }
}

std::unique_ptr<tOracleStmt> tOracleConnection::MakeStatement() {
    return std::make_unique<tOracleStmt>(this);
}

tStatement* tOracleConnection::NewStatement() { return new tOracleStmt(this); }

bool tOracleConnection::RunSingle(const char* sql, const char* routine, u8 report,
                                  tString* firstColumn) {
    std::unique_ptr<tOracleStmt> stmt = MakeStatement();
    if (!stmt->ExecDirect(sql, routine, report)) return false;
    if (!firstColumn) return true;
    if (stmt->GetColumnCount() < 1 || !stmt->Fetch()) return false;
    tString value;
    *firstColumn += stmt->FieldAsString(value, 0);
    return true;
}

void tOracleConnection::DeleteSessionParams(const char* routine) {
    RunSingle(kParamCleanUp, routine, 0, nullptr);
}

bool tOracleConnection::Connect() {
    if (!oci->Logon(alias, user, password)) return false;
    connected = 1;
    RunSingle(
        "alter session set nls_language= 'AMERICAN' "
        " nls_territory = 'AMERICA' nls_currency = '$'"
        " nls_iso_currency = 'AMERICA' nls_numeric_characters = '.,'"
        " nls_date_format = 'DD-MON-YY' nls_date_language = 'AMERICAN'"
        " nls_sort = 'BINARY' nls_calendar = 'GREGORIAN'",
        kConnectRoutine, 1, nullptr);
    if (isamAllowed) DeleteSessionParams(kConnectRoutine);
    if (!RunSingle("select sid || ','|| serial# CODE from v$session where audsid = "
                   "userenv('sessionid')",
                   kConnectRoutine, 1, &sessionId)) {
        tString text;
        text.sprintf("[ERROR] ORACLE - %s - Unable to get SID value.\n", alias.GetText());
        WriteLog(text, 0);
    }
    return true;
}

bool tOracleConnection::IsConnected() { return oci->IsConnected(); }

void tOracleConnection::Disconnect() {
    oci->Logoff();
    connected = oci->IsConnected() ? 1 : 0;
}

void tOracleConnection::GetSessionID(tString& text) {
    tString line;
    line.sprintf("(SID: %s) ", sessionId.GetText());
    text += line;
}

// ---- Errors

i32 tOracleConnection::GetErrorText(tStatement* stmt) {
    char message[4096] = {};
    const i32 code =
        oci->GetErrorText(stmt ? stmt->GetHandle() : nullptr, message, sizeof message);
    lastError.sprintf("Error : %i - ", code);
    lastError += message;
    lastErrorCode = code;
    return code;
}

i32 tOracleConnection::HandleError(tStatement* stmt, const char* routine, const char* sql, i32,
                                   u8 report) {
    const i32 code = GetErrorText(stmt);
    if (IsLostLinkCode(code)) linkLost = 1;
    if (routine) {
        lastError += " ( From ";
        lastError += routine;
        lastError += " )\n";
    }
    AddServerInfo(lastError);
    if (sql) lastError += sql;
    if (stmt && stmt->GetOwnerFile()) stmt->GetOwnerFile()->DumpInfo(lastError);
    if (report) WriteLog(lastError, 0);
    if (IsTraced()) dbServer->Trace(routine ? routine : "", 0.0, lastError);
    return code;
}

bool tOracleConnection::IsDuplicateKey(i32 native) { return native == 1 || native == 100; }

bool tOracleConnection::IsRecnoKeyError(const tTableDefinition& def) {
    tString key(".");
    key += def.GetName();
    key += "_PK";
    key.Lower();
    if (lastError.Find(key) >= 0) return true;
    key.Upper();
    if (lastError.Find(key) >= 0) return true;
    return lastError.Find("_RECNO") >= 0 || lastError.Find("_recno") >= 0;
}

// ---- Commit control and transactions

i16 tOracleConnection::CallLayerResult(bool ok, const char* routine) {
    if (ok) return 0;
    HandleError(nullptr, routine, nullptr, 0, 1);
    return RC_NOT_SUPPORTED;
}

i16 tOracleConnection::StrCmtCtl() {
    if (commitControl) return 0;
    const i16 rc = CallLayerResult(oci->AutoCommitOff(), "tOracleConnection::StrCmtCtl");
    if (rc == 0) commitControl = 1;
    return rc;
}

i16 tOracleConnection::EndCmtCtl() {
    if (!commitControl) return 0;
    // Autocommit on again: nothing may wait uncommitted for some later write.
    const i16 rc = CallLayerResult(oci->AutoCommitOn(), "tOracleConnection::EndCmtCtl");
    if (rc == 0) commitControl = 0;
    return rc;
}

i16 tOracleConnection::Commit() {
    if (!commitControl) return 0;
    tDBConnection::Commit();
    return CallLayerResult(oci->Commit(), "tOracleConnection::Commit");
}

i16 tOracleConnection::Rollback() {
    tDBConnection::Rollback();
    if (!commitControl) return 0;
    return CallLayerResult(oci->Rollback(), "tOracleConnection::Rollback");
}

void tOracleConnection::BeginTran() {
    if (commitControl) return;
    tDBConnection::BeginTran();
    oci->AutoCommitOff();
}

void tOracleConnection::EndTran() {
    if (!unitOfWork) return;
    tDBConnection::EndTran();
    oci->Commit();
}

void tOracleConnection::AbortTran() {
    if (unitOfWork) {
        oci->Commit();
        oci->AutoCommitOn();
    }
    tDBConnection::AbortTran();
}

// ---- The session's action and the server

void tOracleConnection::LogAction(const char* first, const char* second) {
    tString action(first);
    action += " : ";
    action += second;
    tString sql("begin DBMS_APPLICATION_INFO.SET_ACTION ( ");
    AppendLiteral(sql, action);  // the texts come from the client: quotes are doubled
    sql += "); end;";
    RunSingle(sql, "tOracleISAMFile::LogAction", 1, nullptr);
}

bool tOracleConnection::GetServerName(tString& out) {
    tString host;
    if (RunSingle("SELECT sys_context('USERENV', 'SERVER_HOST') FROM dual", kConnectRoutine, 1,
                  &host)) {
        out += host;
    } else {
        tString text;
        text.sprintf("[ERROR] ORACLE - %s - Unable to get SERVER_HOST value.\n", alias.GetText());
        WriteLog(text, 0);
    }
    return out.GetLength() > 0;
}

i32 tOracleConnection::GetVersion() {
    if (serverVersion >= 1) return serverVersion;
    tString row;
    if (RunSingle("select * from v$version", "tOracleConnection::GetVersion", 1, &row)) {
        const i32 at = row.Find("Release");
        if (at >= 0 && at + 8 <= row.GetLength()) {
            serverVersion = static_cast<i32>(std::strtol(row.GetText() + at + 8, nullptr, 10));
        }
    }
    return serverVersion;
}

i32 tOracleConnection::UseHintFirst() {
    if (hintFirst == -1) hintFirst = DBProcess().GetConfig().GetInt("Oracle", "UseHint", 1);
    return hintFirst;
}

i32 tOracleConnection::UseHintIndex() {
    if (hintIndex == -1) hintIndex = DBProcess().GetConfig().GetInt("Oracle", "IndexHint", 1);
    return hintIndex;
}
