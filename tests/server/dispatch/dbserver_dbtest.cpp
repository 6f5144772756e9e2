// The client connection against the private PostgreSQL, through the driver factory: the connect
// string reaches the database with the alias's user and password, the catalogue check-up runs on
// the alias's first connect only, and a connection that leaves inside a transaction is rolled
// back by Done.
#include <gtest/gtest.h>

#include <string>

#include "lib_common/retcodes.h"
#include "server/dispatch/dbserver.h"
#include "server/isam/dbconn.h"
#include "server/locks/lockengine.h"
#include "tests/server/dispatch/support/dbserverpg.h"
#include "tests/support/gmtest.h"

namespace {

using gmtest::ConnectTexts;
using gmtest::ReadFrame;
using gmtest::Short;

const std::string kConnected = Short(0) + "WinNT" + '\0';
const std::string kCheckUpHead = "--------------- Initial Connection Check-Up ---------------\n";

using DBServerPostgres = gmtest::DBServerPostgres;

TEST_F(DBServerPostgres, ConnectStringReachesTheDatabaseWithTheAliasCredentials) {
    const struct {
        std::string environment;
        std::string reply;
    } cases[] = {
        {Environment(), kConnected},
        {"POSTGRES/" + dsn, kConnected},
        {"POSTGRES/" + dsn + "_bad", Short(RC_CONNECT_FAILED)},  // the alias's password is wrong
        {"POSTGRES/NOSUCHSOURCE", Short(RC_CONNECT_FAILED)},
        // PostgreSQL knows no @@version: the SQL Server driver refuses the session.
        {"MSSQL/" + dsn, Short(RC_CONNECT_FAILED)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.environment);
        auto session = Open(ConnectTexts(c.environment, "ERP", "ana", "PC01"));
        EXPECT_EQ(ReadFrame(*session->client), c.reply);
        if (c.reply == kConnected) {
            EXPECT_EQ(session->Exchange(OP_GETSID).size(), 4u);
            session->Disconnect();
            EXPECT_EQ(session->result, 1);
        } else {
            session->Join();
            EXPECT_EQ(session->result, RC_CONNECT_FAILED);
        }
        session->End();
    }
}

TEST_F(DBServerPostgres, CatalogueCheckUpRunsOnTheAliasFirstConnectOnly) {
    gmtest::ConsoleCapture console;
    auto first = Open(ConnectTexts(Environment(), "ERP", "ana", "PC01"));
    EXPECT_EQ(ReadFrame(*first->client), kConnected);
    EXPECT_NE(console.Get().find(kCheckUpHead), std::string::npos) << console.Get();
    EXPECT_EQ(Value("select count(*) from pg_tables where tablename = 'gml_field'"), "1");
    gmtest::ConsoleCapture later;
    auto second = Open(ConnectTexts(Environment(), "ERP", "bia", "PC02"));
    EXPECT_EQ(ReadFrame(*second->client), kConnected);
    first->Disconnect();
    second->Disconnect();
    EXPECT_EQ(later.Get().find(kCheckUpHead), std::string::npos) << later.Get();
    first->End();
    second->End();
}

TEST_F(DBServerPostgres, DoneRollsBackWhatTheLeavingConnectionWroteAndFreesItsLocks) {
    ASSERT_TRUE(Run("CREATE TABLE leaving (id integer)"));
    auto session = Open(ConnectTexts(Environment(), "ERP", "ana", "PC01"));
    ASSERT_EQ(ReadFrame(*session->client), kConnected);
    session->Disconnect();

    // The connection's own work inside commit control, as the handlers would leave it.
    tDBServer& server = *session->server;
    tDBConnection& db = *server.GetDBConnection();
    ASSERT_EQ(db.StrCmtCtl(), 0);
    ASSERT_TRUE(Run(db, "INSERT INTO leaving VALUES (1)"));
    EXPECT_EQ(Value(db, "select count(*) from leaving"), "1");
    EXPECT_EQ(Value("select count(*) from leaving"), "0");  // not committed
    tRecordLockEngine& records = *globals->GetRecordLockServer();
    const u32 owner = server.GetThreadId();
    ASSERT_TRUE(records.RLock(owner, 4, "ERP|LEAVING", 1, 0));
    ASSERT_TRUE(records.FLock(owner, 5, "ERP|OTHER", 0));

    server.Done();
    EXPECT_EQ(server.GetDBConnection(), nullptr);
    EXPECT_EQ(Value("select count(*) from leaving"), "0");
    EXPECT_TRUE(Run("INSERT INTO leaving VALUES (2)"));  // no lock of the ended session is left
    EXPECT_EQ(Value("select count(*) from leaving"), "1");
    EXPECT_TRUE(records.RLock(owner + 1, 4, "ERP|LEAVING", 1, 0));
    EXPECT_TRUE(records.FLock(owner + 1, 5, "ERP|OTHER", 0));
    session->server.reset();
}

}  // namespace
