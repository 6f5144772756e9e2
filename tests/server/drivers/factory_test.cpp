// The driver factory: which database types it knows, which of them this build can make, what it
// logs, and the replacement that tests install.
#include "server/drivers/factory.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "lib_base/gmlalloc.h"
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
#include "tests/server/support/testconn.h"
#include "tests/server/support/testprocess.h"
#include "tests/support/gmtest.h"

namespace {

tDBTypeAnswer Ask(const char* type, std::unique_ptr<tDBConnection>& out) {
    const tString alias("ERP");
    const tString user("sa");
    const tString password("pw");
    return NewDBConnection({type, alias, user, password, true}, out);
}

TEST(DriverFactory, StrangersAreRefusedWithoutALogLine) {
    gmtest::TestDBProcess process;
    const char* const strangers[] = {
        "FOO",
        "MSADO",   // refused before the factory is asked
        "mssql",   // the caller upper-cases
        "MSSQL7",  // the caller reads it as MSSQL
        "",
    };
    for (const char* type : strangers) {
        SCOPED_TRACE(type);
        process.ClearLog();
        std::unique_ptr<tDBConnection> out;
        EXPECT_EQ(Ask(type, out), tDBTypeAnswer::Unknown);
        EXPECT_EQ(out, nullptr);
        EXPECT_TRUE(process.LogEntries().empty());
    }
}

TEST(DriverFactory, BuiltDriversMakeTheirDialectsConnectionUnconnected) {
    gmtest::TestDBProcess process;
    process.SetIni("Oracle", "ClientLibrary", GM_RECOCI_PATH);  // loads without a log line
    for (const char* type : {"POSTGRES", "MYSQL", "MSSQL", "SYBASE", "ORACLE"}) {
        SCOPED_TRACE(type);
        std::unique_ptr<tDBConnection> out;
        ASSERT_EQ(Ask(type, out), tDBTypeAnswer::Made);
        ASSERT_NE(out, nullptr);
        const bool mysql = dynamic_cast<tMySQLConnection*>(out.get()) != nullptr;
        const bool postgres = dynamic_cast<tPostgresConnection*>(out.get()) != nullptr;
        const bool mssql = dynamic_cast<tMSSQLConnection*>(out.get()) != nullptr;
        const bool sybase = dynamic_cast<tSybaseConnection*>(out.get()) != nullptr;
        const bool oracle = dynamic_cast<tOracleConnection*>(out.get()) != nullptr;
        EXPECT_EQ(mysql, std::string(type) == "MYSQL");
        EXPECT_EQ(postgres, std::string(type) == "POSTGRES");
        EXPECT_EQ(mssql, std::string(type) == "MSSQL");
        EXPECT_EQ(sybase, std::string(type) == "SYBASE");
        EXPECT_EQ(oracle, std::string(type) == "ORACLE");
        EXPECT_STREQ(out->GetDBType(), type);
        EXPECT_STREQ(out->GetAlias().GetText(), "ERP");
        EXPECT_FALSE(out->IsConnected());
    }
    EXPECT_TRUE(process.LogEntries().empty());
}

TEST(DriverFactory, FurtherODBCDriversAreBuilt) {
    gmtest::TestDBProcess process;
    std::unique_ptr<tDBConnection> out;
    ASSERT_EQ(Ask("ODBC", out), tDBTypeAnswer::Made);
    EXPECT_NE(dynamic_cast<tGenericConnection*>(out.get()), nullptr);
    ASSERT_EQ(Ask("CLOUDSCAPE", out), tDBTypeAnswer::Made);
    EXPECT_NE(dynamic_cast<tCloudScapeConnection*>(out.get()), nullptr);
    EXPECT_STREQ(out->GetOwner(), "SA.");
    ASSERT_EQ(Ask("DB2", out), tDBTypeAnswer::Made);
    EXPECT_NE(dynamic_cast<tDB2Connection*>(out.get()), nullptr);
    EXPECT_STREQ(out->GetOwner(), "SA.");
    ASSERT_EQ(Ask("CTREESQL", out), tDBTypeAnswer::Made);
    EXPECT_NE(dynamic_cast<tCTreeSQLConnection*>(out.get()), nullptr);
    EXPECT_STREQ(out->GetDBType(), "CTREESQL");
    EXPECT_FALSE(out->IsConnected());
    ASSERT_EQ(Ask("INFORMIX", out), tDBTypeAnswer::Made);
    EXPECT_STREQ(dynamic_cast<tInformixConnection&>(*out).GetOwner(), "sa.");
    EXPECT_TRUE(process.LogEntries().empty());
}

// The block size that the allocator below refuses; every other size is served.
size_t gRefusedSize = 0;

// The further ODBC drivers take their connections from the tagged allocator, which raises
// naming the class instead of handing back null.
TEST(DriverFactory, FurtherODBCConnectionsRaiseWhenTheirAllocationFails) {
    gmtest::TestDBProcess process;
    const struct {
        const char* type;
        const char* className;
        size_t size;
    } cases[] = {
        {"ODBC", "tGenericConnection", sizeof(tGenericConnection)},
        {"CLOUDSCAPE", "tCloudScapeConnection", sizeof(tCloudScapeConnection)},
        {"DB2", "tDB2Connection", sizeof(tDB2Connection)},
        {"CTREESQL", "tCTreeSQLConnection", sizeof(tCTreeSQLConnection)},
        {"INFORMIX", "tInformixConnection", sizeof(tInformixConnection)},
    };
    static const tRawAllocator refusing = {
        [](size_t size) -> void* { return size == gRefusedSize ? nullptr : std::calloc(1, size); },
        [](void* block, size_t size) -> void* { return std::realloc(block, size); }};
    const tString alias("ERP");
    const tString user("sa");
    const tString password("pw");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        std::unique_ptr<tDBConnection> out;
        gmtest::ConsoleCapture console;
        gRefusedSize = c.size;
        SetRawAllocator(&refusing);
        const std::string text = gmtest::AssertText([&] {
            NewDBConnection({c.type, alias, user, password, true}, out);
        });
        SetRawAllocator(nullptr);
        EXPECT_EQ(text, "Memory Allocation Failure ( " + std::to_string(c.size) + " bytes ) on " +
                            c.className);
        EXPECT_EQ(out, nullptr);
    }
}

TEST(DriverFactory, ReplacementMakesTheConnectionsUntilRemoved) {
    gmtest::TestDBProcess process;
    std::string asked;
    SetDBConnectionFactory(
        [&](const tDBConnectionRequest& request, std::unique_ptr<tDBConnection>& out) {
            asked = std::string(request.dbType) + "/" + request.alias.GetText() + " " +
                    request.user.GetText() + ":" + request.password.GetText();
            out = std::make_unique<gmtest::TestConnection>();
            return tDBTypeAnswer::Made;
        });
    std::unique_ptr<tDBConnection> out;
    EXPECT_EQ(Ask("FOO", out), tDBTypeAnswer::Made);
    EXPECT_NE(out, nullptr);
    EXPECT_EQ(asked, "FOO/ERP sa:pw");
    SetDBConnectionFactory(nullptr);
    out.reset();
    EXPECT_EQ(Ask("FOO", out), tDBTypeAnswer::Unknown);
    EXPECT_EQ(out, nullptr);
}

}  // namespace
