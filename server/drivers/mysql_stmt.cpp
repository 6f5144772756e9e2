// The MySQL statement's long values (a memo written as one character parameter, read back as
// bytes), and query files: a client's query run as a read-only file, and the table list's column
// named as the table-list reader expects.
#include <memory>
#include <utility>

#include "server/drivers/mysql.h"
#include "server/tables/dbtable.h"

namespace {

constexpr const char* kExecRoutine = "tMySQLStmt::ExecParam";
constexpr const char* kQueryRoutine = "tMySQLConnection::GetQueryFile";

}  // namespace

tMySQLStmt::tMySQLStmt(tMySQLConnection* connection) : tODBCStatement(connection) {}

bool tMySQLStmt::ExecParam(const char* sql, const void* data, i32 length, i16) {
    return ExecCharParam(sql, data, length, kExecRoutine);
}

bool tMySQLStmt::GetData(u16 column, void* buffer, i32& length) {
    return ReadBytes(column, buffer, length, "tMySQLStmt::GetData");
}

tQueryFile* tMySQLConnection::GetQueryFile(tCommBuffer& reply, u32 lockOwner, tString& query) {
    if (!IsConnected()) return nullptr;
    std::unique_ptr<tMySQLStmt> stmt = Statement();  // freed with every refusal
    std::unique_ptr<tTableDefinitionExclusive> def =
        DescribeQueryResult(*stmt, query, kQueryRoutine);
    if (!def) return nullptr;
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
