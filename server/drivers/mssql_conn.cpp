// SQL Server connection and session: construction of main and child connections, the connect
// sequence, the process-wide list of data sources whose AnsiNPW value was removed, the check-up
// block and the clean-up of the session's GML_PARAM rows.
#include <strings.h>

#include <cstring>
#include <memory>

#include "lib_base/printer.h"
#include "lib_common/configcache.h"
#include "lib_common/logwriter.h"
#include "lib_common/sqltext.h"
#include "platform/registry.h"
#include "server/drivers/mssql.h"
#include "server/isam/dbprocess.h"

namespace {

constexpr const char* kConnectRoutine = "tMSSQLConnection::Connect";
constexpr const char* kSessionRoutine = "tMSSQLConnection::Connect()";
constexpr const char* kCheckUpRoutine = "tMSSQLConnection::InitialCheckUp";
constexpr const char* kVersionQuery = "select substring(@@version,charindex('-',@@version)+2,2)";
constexpr const char* kProductVersionQuery =
    "select CONVERT(varchar(128),SERVERPROPERTY('ProductVersion')) as DB_INFO";
constexpr i16 kOldestVersion = 7;

// One line of the check-up block: the query, the label and ending around its value, and the
// label before the NOT AVAILABLE mark when there is no value.
struct tCheckUpLine {
    const char* query;
    const char* label;
    const char* ending;
    const char* missing;
};

// The check-up's server values after the collation of the database.
constexpr tCheckUpLine kCheckUpLines[] = {
    {"SELECT @@version as DB_INFO", "DB Version....: \n\t", "", "DB Version....: "},
    {"SELECT @@SERVERNAME as DB_INFO", "SQL ServerName: ", "\n", "SQL ServerName: "},
    {"select CONVERT(varchar(128),SERVERPROPERTY('Collation')) as DB_INFO",
     "SQL Collation.: ", "\n", "SQL Collation.: "},
    {"select CONVERT(varchar(128),SERVERPROPERTY('Edition')) as DB_INFO", "SQL Edition...: ", "\n",
     "SQL Edition...: "},
    {kProductVersionQuery, "SQL Version...: ", "\n", "SQL Version...: "},
    {"select CONVERT(varchar(128),SERVERPROPERTY('ProductLevel')) as DB_INFO",
     "SQL P.Level...: ", "\n", "SQL P.Level...: "},
};

// The data sources whose AnsiNPW value was removed: they only grow, for the life of the
// process. Never destroyed: a connection may still ask while the process ends.
struct tCheckedDSNs {
    tRWLock lock{"tMSSQLConnection::CheckedDSNs"};
    tAutoArray<tString> names;  // guarded by lock
};

tCheckedDSNs& CheckedDSNs() {
    static auto* const list = new tCheckedDSNs;
    return *list;
}

void LogAliasError(const char* format, const tString& alias) {
    tString line;
    line.sprintf(format, alias.GetText());
    WriteLog(line, 0);
}

}  // namespace

tMSSQLConnection::tMSSQLConnection(const char* dbType, const tString& alias, const tString& user,
                                   const tString& password)
    : tMSSQLConnection(dbType, alias, user, password, ODBCLibrary()) {}

tMSSQLConnection::tMSSQLConnection(const char* dbType, const tString& alias, const tString& user,
                                   const tString& password, tODBCLibrary& library)
    : tTSQLConnection(dbType, alias, user, password, library) {
    viewEnabled = DBProcess().GetConfig().GetBoolEx(GetDBType(), alias, "ViewEnabled", 0);
}

tMSSQLConnection::tMSSQLConnection(const tMSSQLConnection& parent)
    : tTSQLConnection("MSSQL", parent),
      viewEnabled(parent.viewEnabled),
      memoAsBlob(parent.memoAsBlob) {}

tMSSQLConnection::~tMSSQLConnection() {
    if (!IsConnected()) return;
    if (IsIsamAllowed()) {
        std::unique_ptr<tODBCStatement> stmt = Statement();
        stmt->ExecDirect("DELETE FROM GML_PARAM WHERE PARAM_SESSION = @@SPID",
                         "tMSSQLConnection::~tMSSQLConnection", 1);
        stmt->Close();
    }
    Disconnect();
}

tStatement* tMSSQLConnection::NewStatement() { return Statement().release(); }

tTSQLConnection* tMSSQLConnection::NewChild() { return new tMSSQLConnection(*this); }

void tMSSQLConnection::GetSessionID(tString& text) {
    text += "(SPID: ";
    text += spid;
    text += ") ";
}

bool tMSSQLConnection::Connect() {
    if (!IsDSNChecked(alias)) RemoveAnsiNPW(alias);
    if (!tODBCConnection::Connect()) return false;
    std::unique_ptr<tODBCStatement> stmt = Statement();
    if (!ReadVersion(*stmt)) {
        LogAliasError("[ERROR] MSSQL - %s - Unable to get @@version value.\n", alias);
        return false;
    }
    if (version < kOldestVersion) {
        tString line;
        line.sprintf("[ERROR] MSSQL - %s - VERSION %i NOT SUPPORTED.\n", alias.GetText(),
                     static_cast<int>(version));
        WriteLog(line, 0);
        return false;
    }
    memoAsBlob = 1;
    textType = "TEXT";
    if (!ReadSessionID(*stmt)) {
        LogAliasError("[ERROR] MSSQL - %s - Unable to get @@SPID value.\n", alias);
        return false;
    }
    stmt->ExecDirect("SET TRANSACTION ISOLATION LEVEL READ UNCOMMITTED", kSessionRoutine, 1);
    stmt->Close();
    return true;
}

// The major version from the banner: the two characters two places after its first '-'
// ("... - 8.00.2039"). A build tag holding a '-' ("(RTM-CU22)") puts letters there; the
// server's product version ("15.0.4322.2") then gives the number.
bool tMSSQLConnection::ReadVersion(tODBCStatement& stmt) {
    if (!stmt.ExecDirect(kVersionQuery, kSessionRoutine, 1) || !stmt.Fetch()) return false;
    if (ReadLeadingNumber(stmt.FieldAsPChar(0), version)) return true;
    if (!stmt.ExecDirect(kProductVersionQuery, kSessionRoutine, 1) || !stmt.Fetch()) return false;
    if (!ReadLeadingNumber(stmt.FieldAsPChar(0), version)) version = 0;
    return true;
}

bool tMSSQLConnection::ReadSessionID(tODBCStatement& stmt) {
    if (!stmt.ExecDirect("SELECT @@SPID AS PARAM_SESSION", kConnectRoutine, 1) || !stmt.Fetch()) {
        return false;
    }
    char text[kRecnoTextSize];
    spid = RecnoToStr(stmt.FieldAsDouble(0), text);
    return true;
}

bool tMSSQLConnection::IsDSNChecked(const char* dsn) {
    tCheckedDSNs& list = CheckedDSNs();
    tReading hold(&list.lock, __FILE__, __LINE__);
    for (i32 i = 0; i < list.names.Count(); ++i) {
        if (strcasecmp(list.names.Get(i)->GetText(), dsn) == 0) return true;
    }
    return false;
}

void tMSSQLConnection::RemoveAnsiNPW(const char* dsn) {
    {
        tCheckedDSNs& list = CheckedDSNs();
        tWriting hold(&list.lock, __FILE__, __LINE__);
        list.names.Add(new tString(dsn));
    }
    tString key("SOFTWARE\\ODBC\\ODBC.INI\\");
    key += dsn;
    plat::RegistryDeleteValue(key, "AnsiNPW");  // tried once per data source, failure or not
}

bool tMSSQLConnection::InitialCheckUp(tString& report) {
    tConfigCache& config = DBProcess().GetConfig();
    tString tableSpace;
    tString indexSpace;
    config.GetStringEx(GetDBType(), alias, "TableSpace", "", tableSpace);
    config.GetStringEx(GetDBType(), alias, "IndexSpace", "", indexSpace);
    report += "--------------- Initial Connection Check-Up ---------------\n";
    report += "Database......: MSSQL\n";
    report += "Environment...: ";
    report += alias;
    report += "\nTableSpace....: ";
    report += tableSpace;
    report += "\nIndexSpace....: ";
    report += indexSpace;
    report += "\n";
    std::unique_ptr<tODBCStatement> stmt = Statement();
    if (version > kOldestVersion) {
        tString sql("select CONVERT(varchar(128),DATABASEPROPERTYEX(");
        AppendQuoted(sql, alias);
        sql += ",'Collation')) as DB_INFO";
        AppendCheckUpValue(*stmt, report, sql, "DB Collation..: ", "\n", "DB Collation..: ");
    }
    for (const tCheckUpLine& line : kCheckUpLines) {
        AppendCheckUpValue(*stmt, report, line.query, line.label, line.ending, line.missing);
    }
    stmt->Close();
    stmt.reset();
    report += "-----------------------------------------------------------\n\n";
    return tODBCConnection::InitialCheckUp(report);
}

void tMSSQLConnection::AppendCheckUpValue(tODBCStatement& stmt, tString& report, const char* query,
                                          const char* label, const char* ending,
                                          const char* missing) {
    if (stmt.ExecDirect(query, kCheckUpRoutine, 1) && stmt.Fetch()) {
        report += label;
        report += OrEmpty(stmt.FieldAsPChar(0));
        report += ending;
    } else {
        report += missing;
        report += "*** NOT AVAILABLE ***\n";
    }
}
