// The driver factory: every database type the gateway knows, with the maker of its driver's
// connection where this build has the driver.
#include "server/drivers/factory.h"

#include <cstring>

#include "lib_base/replaceable.h"
#include "server/drivers/cloudscape.h"
#include "server/drivers/ctreesql.h"
#include "server/drivers/db2.h"
#include "server/drivers/generic.h"
#include "server/drivers/informix.h"
#include "server/drivers/mssql.h"
#include "server/drivers/mysql.h"
#include "server/drivers/oracle.h"
#include "server/drivers/postgres.h"
#include "server/drivers/sybase.h"
#include "server/isam/dbconn.h"

namespace {

using tMaker = std::unique_ptr<tDBConnection> (*)(const tDBConnectionRequest& request);

struct tDriverEntry {
    const char* dbType;
    tMaker maker;  // null: the driver is not in this build
};

std::unique_ptr<tDBConnection> MakeMSSQL(const tDBConnectionRequest& request) {
    return std::unique_ptr<tDBConnection>(
        new tMSSQLConnection(request.dbType, request.alias, request.user, request.password));
}

std::unique_ptr<tDBConnection> MakeMySQL(const tDBConnectionRequest& request) {
    return std::unique_ptr<tDBConnection>(
        new tMySQLConnection(request.dbType, request.alias, request.user, request.password));
}

std::unique_ptr<tDBConnection> MakeOracle(const tDBConnectionRequest& request) {
    return std::unique_ptr<tDBConnection>(new tOracleConnection(
        request.dbType, request.alias, request.user, request.password, request.useSysTables));
}

std::unique_ptr<tDBConnection> MakePostgres(const tDBConnectionRequest& request) {
    return std::unique_ptr<tDBConnection>(
        new tPostgresConnection(request.dbType, request.alias, request.user, request.password));
}

std::unique_ptr<tDBConnection> MakeCloudScape(const tDBConnectionRequest& request) {
    return std::unique_ptr<tDBConnection>(
        new tCloudScapeConnection(request.dbType, request.alias, request.user, request.password));
}

std::unique_ptr<tDBConnection> MakeCTreeSQL(const tDBConnectionRequest& request) {
    return std::unique_ptr<tDBConnection>(
        new tCTreeSQLConnection(request.dbType, request.alias, request.user, request.password));
}

std::unique_ptr<tDBConnection> MakeGeneric(const tDBConnectionRequest& request) {
    return std::unique_ptr<tDBConnection>(
        new tGenericConnection(request.dbType, request.alias, request.user, request.password));
}

std::unique_ptr<tDBConnection> MakeDB2(const tDBConnectionRequest& request) {
    return std::unique_ptr<tDBConnection>(
        new tDB2Connection(request.dbType, request.alias, request.user, request.password));
}

std::unique_ptr<tDBConnection> MakeSybase(const tDBConnectionRequest& request) {
    return std::unique_ptr<tDBConnection>(
        new tSybaseConnection(request.dbType, request.alias, request.user, request.password));
}

std::unique_ptr<tDBConnection> MakeInformix(const tDBConnectionRequest& request) {
    return std::unique_ptr<tDBConnection>(
        new tInformixConnection(request.dbType, request.alias, request.user, request.password));
}

// The known types, as the client names them after upper-casing.
const tDriverEntry kDrivers[] = {
    {"MSSQL", MakeMSSQL},       {"ORACLE", MakeOracle},
    {"DB2", MakeDB2},           {"INFORMIX", MakeInformix},
    {"POSTGRES", MakePostgres}, {"MYSQL", MakeMySQL},
    {"CTREESQL", MakeCTreeSQL}, {"CLOUDSCAPE", MakeCloudScape},
    {"SYBASE", MakeSybase},     {"ODBC", MakeGeneric},
};

tDBTypeAnswer DriverConnection(const tDBConnectionRequest& request,
                               std::unique_ptr<tDBConnection>& out) {
    for (const tDriverEntry& entry : kDrivers) {
        if (std::strcmp(entry.dbType, request.dbType) != 0) continue;
        out = entry.maker(request);
        return tDBTypeAnswer::Made;
    }
    return tDBTypeAnswer::Unknown;
}

// The factory that tests install. Never destroyed: a connection may still ask while the process
// ends.
tReplaceable<tDBConnectionFactory>& Replacement() {
    static auto* const replacement = new tReplaceable<tDBConnectionFactory>;
    return *replacement;
}

}  // namespace

tDBTypeAnswer NewDBConnection(const tDBConnectionRequest& request,
                              std::unique_ptr<tDBConnection>& out) {
    const tDBConnectionFactory factory = Replacement().Get();
    return factory ? factory(request, out) : DriverConnection(request, out);
}

void SetDBConnectionFactory(tDBConnectionFactory factory) { Replacement().Set(std::move(factory)); }
