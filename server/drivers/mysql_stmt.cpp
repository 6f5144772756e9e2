// The MySQL statement's long values (a memo written as one character parameter, read back as
// bytes), and query files: a client's query run as a read-only file, and the table list's column
// named as the table-list reader expects.
#include <memory>
#include <utility>
#include <vector>

#include "lib_common/retcodes.h"
#include "server/drivers/mysql.h"
#include "server/tables/dbtable.h"

namespace {

constexpr const char* kExecRoutine = "tMySQLStmt::ExecParam";
constexpr const char* kQueryRoutine = "tMySQLConnection::GetQueryFile";

SQLCHAR* Text(const char* text) { return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text)); }

}  // namespace

tMySQLStmt::tMySQLStmt(tMySQLConnection* connection) : tODBCStatement(connection) {}

bool tMySQLStmt::ExecParam(const char* sql, const void* data, i32 length, i16) {
    lastFailure = 0;
    const bool traced = odbc.IsTraced();
    if (traced) odbc.TraceStart(kExecRoutine);
    Open(0);
    if (handle == SQL_NULL_HSTMT) return false;
    NoteStatement(sql, kExecRoutine);
    if (!Check(GM_ODBC(odbc, SQLPrepare, handle, Text(sql), SQL_NTS), kExecRoutine, sql)) {
        Close();
        return false;
    }
    const size_t n = data && length > 0 ? static_cast<size_t>(length) : 0;
    const char* bytes = static_cast<const char*>(data);
    std::vector<char> value(n + 1, '\0');
    if (n > 0) std::copy(bytes, bytes + n, value.begin());
    SQLLEN indicator = static_cast<SQLLEN>(n);
    if (!Check(
            GM_ODBC(odbc, SQLBindParameter, handle, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_CHAR,
                    static_cast<SQLULEN>(n), 0, value.data(), static_cast<SQLLEN>(n), &indicator),
            kExecRoutine, sql)) {
        Close();
        return false;
    }
    const SQLRETURN rc = GM_ODBC(odbc, SQLExecute, handle);
    lastRc = rc;
    // A warning means the value was not stored as given (cut or converted): a failure too. The
    // diagnostics are read before the next call on the handle clears them.
    bool ok = rc == SQL_SUCCESS || rc == SQL_NO_DATA;
    if (!ok) lastFailure = odbc.HandleError(this, kExecRoutine, sql, rc, 1);
    // The bound value goes with this call: no later execution may read it.
    ok = Check(GM_ODBC(odbc, SQLFreeStmt, handle, SQL_RESET_PARAMS), kExecRoutine, sql) && ok;
    if (!ok) {
        Close();
        return false;
    }
    if (traced) odbc.TraceEnd(sql);
    OpLog(kExecRoutine, sql);
    return rc == SQL_SUCCESS;  // no data: no row took the value
}

bool tMySQLStmt::GetData(u16 column, void* buffer, i32& length) {
    return ReadBytes(column, buffer, length, "tMySQLStmt::GetData");
}

tQueryFile* tMySQLConnection::GetQueryFile(tCommBuffer& reply, u32 lockOwner, tString& query) {
    if (!IsConnected()) return nullptr;
    std::unique_ptr<tMySQLStmt> stmt = Statement();  // freed with every refusal
    if (!stmt->ExecDirect(query, kQueryRoutine, 1)) return nullptr;
    const i16 count = stmt->GetColumnCount();
    if (count <= 0) {
        tString message("Query does not return any supported column.\nQuery : ");
        message += query;
        message += "\n";
        SetError(RC_FAILED, kQueryRoutine, message, nullptr);
        return nullptr;
    }
    auto def = std::make_unique<tTableDefinitionExclusive>("", alias);
    def->SetFieldCapacity(count);
    for (i16 c = 0; c < count; ++c) {
        const tColumnDesc& column = stmt->GetColumns()[c];
        if (column.type == 'C') {
            def->AddField(column.name, 'C', static_cast<i16>(column.bufferLength - 1), 0, true,
                          true);
        } else if (column.type == 'N') {
            def->AddField(column.name, 'N', 15, 8, true, true);
        }
    }
    return new tMySQLQueryFile(this, std::move(def), reply, lockOwner, std::move(stmt), query);
}

// Field names are fixed once made, so the definition is made again with the first one renamed.
bool tMySQLQueryFile::PrepareCatalogQuery() {
    const tTableDefinition& def = *tableDef;
    if (def.GetFieldCount() == 0) return false;
    tTableDefinitionExclusive renamed(def.GetName(), connection->GetAlias());
    renamed.SetFieldCapacity(def.GetFieldCount());
    for (i32 i = 0; i < def.GetFieldCount(); ++i) {
        const tField& f = *def.GetField(i);
        renamed.AddField(i == 0 ? "FNAMF1" : f.GetName(), f.GetType(), f.GetLen(), f.GetDecimals(),
                         f.IsData(), true);
    }
    tableDef->CopyFrom(renamed);
    return true;
}
