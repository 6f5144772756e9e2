// SQL Server query files, each on a child connection of its own, prepared statements, the row
// limit of SET ROWCOUNT and the identity value of the last insert.
#include <memory>
#include <utility>

#include "lib_common/retcodes.h"
#include "server/drivers/mssql.h"
#include "server/isam/gatemill_query.h"
#include "server/tables/dbtable.h"

namespace {

constexpr const char* kQueryRoutine = "tMSSQLConnection::GetQueryFile";
// How much of the client's query an error text repeats.
constexpr i32 kQuotedQueryLimit = 65536;

}  // namespace

tQueryFile* tMSSQLConnection::GetQueryFile(tCommBuffer& reply, u32 lockOwner, tString& query) {
    bool reused = false;
    {
        tWriting hold(pool, __FILE__, __LINE__);
        reused = pool->Count() > 0;
    }
    std::unique_ptr<tMSSQLConnection> child = TakeChild();
    // A pooled child whose session ended is deleted here rather than kept.
    if (!child || !child->IsConnected()) return nullptr;
    child->SetRowCount(0);
    std::unique_ptr<tODBCStatement> stmt = child->Statement();
    const bool ran = stmt->ExecDirect(query, kQueryRoutine, 1);
    if (ran && stmt->GetColumnCount() > 0) {
        auto def = std::make_unique<tTableDefinitionExclusive>("", GetAlias());
        const i16 count = stmt->GetColumnCount();
        def->SetFieldCapacity(count);
        const tColumnDesc* columns = stmt->GetColumns();
        for (i16 c = 0; c < count; ++c) {
            const tColumnDesc& d = columns[c];
            if (d.type == 'C') {
                def->AddField(d.name, 'C', static_cast<i16>(d.bufferLength - 1), 0, true, true);
            } else if (d.type == 'N') {
                def->AddField(d.name, 'N', 15, 8, true, true);
            }
        }
        tMSSQLConnection* served = child.get();
        AddBusyChild(child.release());
        return new tQueryFile(served, std::move(def), reply, lockOwner, std::move(stmt), query);
    }
    stmt.reset();
    if (ran) {
        tString text("Query does not return any supported column.\nQuery : ");
        text.Append(query, kQuotedQueryLimit);
        text += "\n";
        SetError(RC_FAILED, kQueryRoutine, text, nullptr);
    } else {
        lastError = child->lastError;
        lastErrorCode = child->lastErrorCode;
    }
    if (reused) {
        tWriting hold(pool, __FILE__, __LINE__);
        pool->Add(child.release());
    }
    return nullptr;
}

tQueryFile* tMSSQLConnection::PrepareStmt(tCommBuffer& reply, u32 lockOwner, const char* text) {
    if (!IsConnected()) return nullptr;
    std::unique_ptr<tODBCStatement> stmt = Statement();
    if (!stmt->Prepare(text, "tMSSQLConnection::PrepareStmt")) return nullptr;
    auto def = std::make_unique<tTableDefinitionExclusive>("", GetAlias());
    return new tQueryFile(this, std::move(def), reply, lockOwner, std::move(stmt), text);
}

bool tMSSQLConnection::SetRowCount(i16 rows) {
    if (rows == rowLimit) return true;
    rowLimit = rows;  // kept even when the statement fails
    tString sql("SET ROWCOUNT ");
    sql += IntToString(rows);
    return Statement()->ExecDirect(sql, "tMSSQLConnection::SetRowCount", 1);
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
