// DB2 connection: the owner, the connect with the DBMS version and the application id, the
// session's GML_PARAM rows, query files, the catalogue probes and the error tests.
#include <cstdlib>
#include <memory>
#include <utility>

#include "lib_common/logwriter.h"
#include "lib_common/sqltext.h"
#include "server/drivers/db2.h"
#include "server/isam/gatemill_query.h"
#include "server/tables/dbtable.h"

namespace {

tString OwnerOf(const tString& user) {
    tString owner(user);
    owner += ".";
    owner.Upper();
    return owner;
}

}  // namespace

tDB2Connection::tDB2Connection(const char* dbType, const tString& alias, const tString& user,
                               const tString& password)
    : tODBCConnection(dbType, alias, user, password), owner(OwnerOf(user)) {}

tDB2Connection::tDB2Connection(const char* dbType, const tString& alias, const tString& user,
                               const tString& password, tODBCLibrary& library)
    : tODBCConnection(dbType, alias, user, password, library), owner(OwnerOf(user)) {}

tDB2Connection::~tDB2Connection() {
    if (!IsConnected()) return;
    if (IsIsamAllowed()) {
        tString sql("DELETE FROM GML_PARAM WHERE PARAM_SESSION = ");
        AppendLiteral(sql, applicationId);
        Statement()->ExecDirect(sql, "tDB2Connection::~tDB2Connection", 0);
    }
    Disconnect();
}

std::unique_ptr<tODBCStatement> tDB2Connection::Statement() {
    return std::make_unique<tODBCStatement>(this);
}

tStatement* tDB2Connection::NewStatement() { return Statement().release(); }

bool tDB2Connection::Run(const char* sql, const char* routine) {
    return Statement()->ExecDirect(sql, routine, 1);
}

bool tDB2Connection::Connect() {
    if (!tODBCConnection::Connect()) return false;
    SetIsolation();
    tString text;
    if (GetInfoString(SQL_DBMS_VER, text) != SQL_ERROR && text.GetLength() > 0) {
        version = std::strtod(text, nullptr);  // "09.07.0000" reads as 9.07
    }
    if (GetDb2ApplId()) return true;
    Disconnect();
    return false;
}

bool tDB2Connection::GetDb2ApplId() {
    std::unique_ptr<tODBCStatement> stmt = Statement();
    if (stmt->ExecDirect("select application_id() AS APPLID from sysibm.sysdummy1",
                         "tDB2Connection::GetDb2ApplId", 1) &&
        stmt->Fetch()) {
        stmt->FieldAsString(applicationId, 0);
        return true;
    }
    tString line;
    line.sprintf("[ERROR] DB2 - %s - Unable to get APPLICATION_ID() value.\n", alias.GetText());
    WriteLog(line, 0);
    return false;
}

void tDB2Connection::GetSessionID(tString& text) {
    text += "(DB2ID: ";
    text += applicationId;
    text += ") ";
}

const char* tDB2Connection::GetOwner() { return owner.GetText(); }
bool tDB2Connection::IsMemoAsBlob() { return true; }
bool tDB2Connection::IsDuplicateKey(i32 native) { return native == -803; }

bool tDB2Connection::IsRecnoKeyError(const tTableDefinition& def) {
    tString id;
    id.sprintf("\"%i\"", static_cast<i32>(def.GetRecnoIndexID()));
    return lastError.Find(id) >= 0;
}

bool tDB2Connection::SetParam(const char* name, const char* value) {
    tString session;
    AppendLiteral(session, applicationId);
    return WriteParamRow(*Statement(), "PARAM_NAME", name, value, session,
                         "tDB2Connection::SetParam", 0);
}

tQueryFile* tDB2Connection::GetQueryFile(tCommBuffer& reply, u32 lockOwner, tString& query) {
    return NewQueryFile(reply, lockOwner, query, "tDB2Connection::GetQueryFile", Statement());
}

tQueryFile* tDB2Connection::PrepareStmt(tCommBuffer& reply, u32 lockOwner, const char* text) {
    if (!IsConnected()) return nullptr;
    std::unique_ptr<tODBCStatement> stmt = Statement();
    if (!stmt->Prepare(text, "tDB2Connection::PrepareStmt")) return nullptr;
    auto def = std::make_unique<tTableDefinitionExclusive>("", GetAlias());
    return new tQueryFile(this, std::move(def), reply, lockOwner, std::move(stmt), text);
}

// ---- Catalogue probes.

void tDB2Connection::AppendUser(tString& sql) { AppendQuoted(sql, user); }

bool tDB2Connection::CatalogueRow(tODBCStatement& stmt, tString& sql, const char* routine,
                                  u8 report) {
    sql.Upper();
    return stmt.ExecDirect(sql, routine, report) && stmt.Fetch();
}

bool tDB2Connection::CanOpen(const char* table, const char* index) {
    tString sql;
    if (index && *index) {
        sql = "SELECT INDNAME FROM SYSCAT.INDEXES WHERE TABSCHEMA = ";
        AppendUser(sql);
        sql += " AND INDNAME = ";
        AppendQuoted(sql, index);
    } else {
        sql = "SELECT TABNAME FROM SYSCAT.TABLES WHERE TABNAME = ";
        AppendQuoted(sql, table);
        sql += " AND TABSCHEMA = ";
        AppendUser(sql);
    }
    sql += " FOR READ ONLY";
    return CatalogueRow(*Statement(), sql, "tDB2Connection::CanOpen", 0);
}

bool tDB2Connection::SPExist(const char* name) {
    tString sql("SELECT ROUTINENAME FROM SYSIBM.SYSROUTINES WHERE ROUTINESCHEMA = ");
    AppendUser(sql);
    sql += " and ROUTINENAME = ";
    AppendQuoted(sql, name);
    sql += " FOR READ ONLY";
    return CatalogueRow(*Statement(), sql, "tDB2Connection::SPExist", 0);
}

void tDB2Connection::ListTables(tString& sql) {
    sql = "SELECT TABNAME FNAMF1 FROM SYSCAT.TABLES WHERE (TYPE = 'T' AND TABSCHEMA = ";
    AppendUser(sql);
    sql += " AND TABNAME NOT LIKE '%FK' ) ORDER BY TABNAME FOR READ ONLY";
    sql.Upper();
}

f64 tDB2Connection::GetRecCount(const char* table) {
    if (!IsSqlIdentifier(table)) return -1.0;
    tString sql("SELECT MAX(R_E_C_N_O_) FROM ");
    sql += owner;
    sql += table;
    std::unique_ptr<tODBCStatement> stmt = Statement();
    return CatalogueRow(*stmt, sql, "tDB2Connection::GetRecCount", 1) ? stmt->FieldAsDouble(0)
                                                                      : -1.0;
}

bool tDB2Connection::ClearTable(const char* table) {
    if (!IsSqlIdentifier(table)) return false;
    tString sql("DELETE FROM ");
    sql += owner;
    sql += table;
    sql.Upper();
    return Run(sql, "tDB2Connection::ClearTable");
}

// The table name is compared as given: DB2 keeps names upper-case, so a lower-case one finds no
// row.
bool tDB2Connection::RecnoAcceptNull(const char* table) {
    tString sql("select nulls from sysibm.syscolumns where tbname = ");
    AppendQuoted(sql, table);
    sql += " and name = 'R_E_C_N_O_'";
    std::unique_ptr<tODBCStatement> stmt = Statement();
    if (!stmt->ExecDirect(sql, "tDB2Connection::RecnoAcceptNull", 1) || !stmt->Fetch()) {
        return false;
    }
    tString nulls;
    stmt->FieldAsString(nulls, 0);
    nulls.Upper();
    return nulls == "Y";
}
