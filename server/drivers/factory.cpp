// The driver factory: every database type the gateway knows, with the maker of its driver's
// connection.
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
    tMaker maker;
};

// The unconnected connection of a driver whose constructor takes the type, alias, user and
// password.
template <class tConnection>
std::unique_ptr<tDBConnection> Make(const tDBConnectionRequest& request) {
    return std::unique_ptr<tDBConnection>(
        new tConnection(request.dbType, request.alias, request.user, request.password));
}

// Oracle also reads the catalogue through the SYS tables or the DBA views, as the alias says.
std::unique_ptr<tDBConnection> MakeOracle(const tDBConnectionRequest& request) {
    return std::unique_ptr<tDBConnection>(new tOracleConnection(
        request.dbType, request.alias, request.user, request.password, request.useSysTables));
}

// The known types, as the client names them after upper-casing.
const tDriverEntry kDrivers[] = {
    {"MSSQL", Make<tMSSQLConnection>},       {"ORACLE", MakeOracle},
    {"DB2", Make<tDB2Connection>},           {"INFORMIX", Make<tInformixConnection>},
    {"POSTGRES", Make<tPostgresConnection>}, {"MYSQL", Make<tMySQLConnection>},
    {"CTREESQL", Make<tCTreeSQLConnection>}, {"CLOUDSCAPE", Make<tCloudScapeConnection>},
    {"SYBASE", Make<tSybaseConnection>},     {"ODBC", Make<tGenericConnection>},
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
