// The database connect of a client connection: the environment's database type and alias, the
// alias's user and password, the driver's connection, the catalogue check-up on an alias's first
// connect, the audit connect, and the connect reply.
//
// Connect:
//  (1) Every path sends exactly one connect reply.
//  (2) Connects of one database type run one at a time, under the named node "<type>/#CONNECT#",
//      so that the environment check and the registration after the check-up cannot interleave.
#include "lib_base/critsec.h"
#include "lib_common/commbuffer.h"
#include "lib_common/configcache.h"
#include "lib_common/logwriter.h"
#include "lib_common/retcodes.h"
#include "server/dispatch/dbserver.h"
#include "server/drivers/factory.h"
#include "server/isam/dbconn.h"
#include "server/runtime/consolelog.h"
#include "server/runtime/diagnostics.h"
#include "server/runtime/globals.h"
#include "server/runtime/gmlthreads.h"
#include "server/runtime/namedlock.h"

namespace {

constexpr const char* kOracle = "ORACLE";
// What CheckEnvironment answers.
constexpr i32 kAliasUnknown = 0;
constexpr i32 kAliasOfOtherType = 2;

}  // namespace

i16 tDBServer::ConnectToDB(bool auditWanted) {
    if (!SplitEnvironment()) return ConnectReply(RC_CONNECT_FAILED);
    if (dbType == "MSADO") {
        tString text("*** MSADO CONNECTION (");
        text += environment;
        text += ") NOT SUPPORTED ***\n*** CONFIGURE MSSQL CONNECTION VIA ODBC ***";
        WriteLog(text, 0);
        return ConnectReply(RC_CONNECT_FAILED);
    }
    tGMLGlobals& globals = *Globals();
    tConfigCache& config = *globals.GetConfig();
    config.GetStringEx(dbType, environment, "user", "", user);
    config.GetStringEx(dbType, environment, "password", "", password);
    logAction = config.GetBoolEx(dbType, environment, "LogAction", 0);
    i16 code = 0;
    {
        tWaiting hold(globals.GetNamedLocks()->GetNode(dbType, "#CONNECT#"), __FILE__,
                      __LINE__);  // (2)
        code = CreateConnection(dbType);
        if (code != 0) return ConnectReply(code);
        connection->SetOpLog(traceLog);
        tString message;
        const i32 state = globals.CheckEnvironment(environment, dbType, message);
        if (state == kAliasOfOtherType) {
            connection->SetError(RC_FAILED, "tDBServer::ConnectToDB", message, nullptr);
            return ConnectReply(RC_CONNECT_FAILED);
        }
        connection->SetDBServer(this);
        code = connection->Connect() ? 0 : RC_CONNECT_FAILED;
        if (connection->IsConnected()) code = CheckUpAndAudit(state, code, auditWanted);
    }
    return ConnectReply(code);
}

// The database type (upper-cased, "MSSQL7" read as "MSSQL") before the environment's first
// "/", the alias after it; false without a "/".
bool tDBServer::SplitEnvironment() {
    const i32 slash = environment.FindChar('/');
    if (slash < 0) return false;
    dbType = environment.Copy(0, slash);
    dbType.Upper();
    if (dbType == "MSSQL7") dbType = "MSSQL";
    environment = environment.Copy(slash + 1);
    tWaiting hold(&stateLock, __FILE__, __LINE__);
    lockEnvironment = environment.GetText();  // a copy of its own, never shared across threads
    return true;
}

// The driver's connection object of the type, kept by this connection from here on, also when
// the connect fails; 0, or -35 when the type has none.
i16 tDBServer::CreateConnection(const char* type) {
    tConfigCache& config = *Globals()->GetConfig();
    const bool oracle = dbType == kOracle;
    const bool useSysTables = oracle && config.GetBoolEx(type, environment, "UseSysTables", 1);
    const tDBConnectionRequest request{type, environment, user, password, useSysTables};
    std::unique_ptr<tDBConnection> made;
    if (NewDBConnection(request, made) != tDBTypeAnswer::Made || !made) return RC_CONNECT_FAILED;
    connection = std::move(made);
    if (oracle) {
        tString owner;
        config.GetStringEx(type, environment, "TableOwner", user, owner);
        connection->SetTableOwner(owner);
        connection->SetUseSysTables(useSysTables);
    }
    return 0;
}

// On a connection that is up: the catalogue check-up when the alias is new to this server, then
// the audit connect. The connect's code, -35 when the check-up failed, -50 when the audit
// server is missing or refuses.
i16 tDBServer::CheckUpAndAudit(i32 environmentState, i16 code, bool auditWanted) {
    if (environmentState == kAliasUnknown) {
        tString report;
        if (connection->InitialCheckUp(report)) {
            Globals()->AddEnvironment(environment, dbType, report);
        } else {
            connection->Disconnect();
            code = RC_CONNECT_FAILED;
        }
        ConsolePrintf("%s", report.GetText());
    }
    if (code == 0 && auditWanted && auditClient) code = ConnectAudit();
    return code;
}

// The audit server of [General] AuditServer, named the client program and computer.
i16 tDBServer::ConnectAudit() {
    tString server;
    Globals()->GetConfig()->GetString("General", "AuditServer", "", server);
    tString caller;
    properties->GetUser(caller);
    caller += "\\";
    caller += GetComputerName();
    if (server.GetLength() == 0 || auditClient->Connect(server, caller) != 0) {
        connection->Disconnect();
        return RC_AUDIT_FAILED;
    }
    return 0;
}

// Sends the connect reply (1): the code, then the server type when the connection is up. 0 when
// it is up, else -35.
i16 tDBServer::ConnectReply(i16 code) {
    const bool up = connection && connection->IsConnected();
    tCommBuffer& out = *GetCommBuffer();
    out.Reset();
    out.PutReturnCode(code);
    if (up) out.PutString(GetOSTypeName());
    SendReply();
    out.Reset();
    return up ? 0 : RC_CONNECT_FAILED;
}
