// SQL Server query files, each on a child connection of its own, prepared statements, the row
// limit of SET ROWCOUNT and the identity value of the last insert.
#include <memory>
#include <utility>

#include "server/drivers/mssql.h"
#include "server/isam/gatemill_query.h"
#include "server/tables/dbtable.h"

tQueryFile* tMSSQLConnection::GetQueryFile(tCommBuffer& reply, u32 lockOwner, tString& query) {
    return QueryOnChild(reply, lockOwner, query, "tMSSQLConnection::GetQueryFile");
}

tQueryFile* tMSSQLConnection::PrepareStmt(tCommBuffer& reply, u32 lockOwner, const char* text) {
    if (!IsConnected()) return nullptr;
    std::unique_ptr<tODBCStatement> stmt = Statement();
    if (!stmt->Prepare(text, "tMSSQLConnection::PrepareStmt")) return nullptr;
    auto def = std::make_unique<tTableDefinitionExclusive>("", GetAlias());
    return new tQueryFile(this, std::move(def), reply, lockOwner, std::move(stmt), text);
}

bool tMSSQLConnection::SetRowCount(i16 rows) {
    return SendRowCount(rows, "tMSSQLConnection::SetRowCount");
}

f64 tMSSQLConnection::GetInsertedRecno() {
    std::unique_ptr<tODBCStatement> stmt = Statement();
    f64 recno = -1.0;
    if (stmt->ExecDirect("SELECT SCOPE_IDENTITY() AS LASTID",
                         "tMSSQLConnection::GetInsertedRecno()", 1) &&
        stmt->Fetch()) {
        recno = stmt->FieldAsDouble(0);
    }
    stmt->Close();
    return recno;
}
