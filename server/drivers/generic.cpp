// The generic ODBC connection: the ODBC layer's work with every catalogue question answered
// false, table use and the read-only mode forced off, and client queries as query files.
#include "server/drivers/generic.h"

#include <memory>
#include <utility>

#include "server/isam/gatemill_query.h"
#include "server/tables/dbtable.h"

tGenericConnection::tGenericConnection(const char* dbType, const tString& alias,
                                       const tString& user, const tString& password)
    : tODBCConnection(dbType, alias, user, password) {
    SwitchTablesOff();
}

tGenericConnection::tGenericConnection(const char* dbType, const tString& alias,
                                       const tString& user, const tString& password,
                                       tODBCLibrary& library)
    : tODBCConnection(dbType, alias, user, password, library) {
    SwitchTablesOff();
}

void tGenericConnection::SwitchTablesOff() {
    isamAllowed = 0;
    readOnly = 0;
}

bool tGenericConnection::CanOpen(const char*, const char*) { return false; }
bool tGenericConnection::SPExist(const char*) { return false; }
bool tGenericConnection::DescribeTable(tTableDefinition&) { return false; }
bool tGenericConnection::DescribeIndexes(tTableDefinition&) { return false; }
bool tGenericConnection::IsMemoAsBlob() { return false; }

tStatement* tGenericConnection::NewStatement() { return new tODBCStatement(this); }

tQueryFile* tGenericConnection::GetQueryFile(tCommBuffer& reply, u32 lockOwner, tString& query) {
    if (!IsConnected()) return nullptr;
    auto stmt = std::make_unique<tODBCStatement>(this);  // freed with every refusal
    std::unique_ptr<tTableDefinitionExclusive> def =
        DescribeQueryResult(*stmt, query, "tGenericConnection::GetQueryFile");
    if (!def) return nullptr;
    return new tQueryFile(this, std::move(def), reply, lockOwner, std::move(stmt), query);
}
