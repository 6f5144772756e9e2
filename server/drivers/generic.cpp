// The generic ODBC connection: the ODBC layer's work with every catalogue question answered
// false, table use and the read-only mode forced off, and client queries as query files.
#include "server/drivers/generic.h"

#include <memory>

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
    return NewQueryFile(reply, lockOwner, query, "tGenericConnection::GetQueryFile",
                        std::make_unique<tODBCStatement>(this));
}
