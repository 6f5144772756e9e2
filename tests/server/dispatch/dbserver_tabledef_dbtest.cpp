// Table definitions changed while the gateway serves them, over loopback against the private
// PostgreSQL: refreshes of tables changed outside the gateway (also while another connection
// reads the table), unique keys and their refusals, the index services, and the alteration's
// refusals, its failure clean-up and the names that must never reach the database.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "lib_common/opcodes.h"
#include "lib_common/retcodes.h"
#include "server/dispatch/dbserver.h"
#include "server/dispatch/structtext.h"
#include "server/isam/dbconn.h"
#include "server/locks/lockengine.h"
#include "server/runtime/globals.h"
#include "server/tables/dbtable.h"
#include "tests/server/dispatch/support/dbserverpg.h"
#include "tests/server/dispatch/support/structuretext.h"
#include "tests/server/dispatch/support/tracelines.h"
#include "tests/support/gmtest.h"

namespace {

using gmtest::ClientesRecord;
using gmtest::Holds;
using gmtest::Long;
using gmtest::Short;

std::string Text(const std::string& text) { return text + '\0'; }
std::string OpenRequest(const std::string& table, u8 exclusive = 0) {
    return Text(table) + '\0' + static_cast<char>(exclusive);
}

using gmtest::Structure;
const std::string kClientesStructure =
    Structure({{"NOME", "C", "10", "0"}, {"CIDADE", "C", "8", "0"}});

std::string Alter(const std::string& table, const std::string& oldText,
                  const std::string& newText) {
    return Text(table) + Text(oldText) + Text(newText);
}

// CLIENTES with its three rows, made outside the gateway and not cached.
class DBServerTableDef : public gmtest::DBServerPostgres {
protected:
    void SetUp() override {
        DBServerPostgres::SetUp();
        if (HasFatalFailure()) return;
        MakeClientes();
    }
    std::shared_ptr<tTableDefinitionShared> Cached(const char* table) {
        return globals->GetTableCache()->Find(table, dsn.c_str());
    }
    bool LogHolds(const std::string& part) {
        for (const std::string& entry : LogEntries()) {
            if (Holds(entry, part)) return true;
        }
        return false;
    }
    // The record moved to, as a found move sends it after its code.
    static std::string Moved(f64 recno, const std::string& nome, const std::string& cidade) {
        return std::string(reinterpret_cast<const char*>(&recno), sizeof recno) +
               ClientesRecord(nome, cidade);
    }
    std::vector<std::string> Indexes() {
        return Values(
            "select indexname from pg_indexes where tablename = 'clientes' "
            "and indexname <> 'clientes_pkey' order by 1");
    }
};

TEST_F(DBServerTableDef, RefreshFollowsTheDatabaseAndAlwaysRepliesZero) {
    auto session = Connected();
    EXPECT_EQ(Cached("CLIENTES"), nullptr);
    EXPECT_EQ(session->Exchange(OP_REFRESHFILE, Text("clientes")), Short(RC_OK));
    const std::shared_ptr<tTableDefinitionShared> held = Cached("CLIENTES");
    ASSERT_NE(held, nullptr);
    EXPECT_LT(held->GetFieldNo("EXTRA"), 0);

    // A column added outside: the cached definition is the same one, brought up to date.
    ASSERT_TRUE(Run("alter table clientes add column extra char(5) default ' '"));
    EXPECT_EQ(session->Exchange(OP_REFRESHFILE, Text("CLIENTES")), Short(RC_OK));
    EXPECT_EQ(Cached("CLIENTES"), held);
    EXPECT_GE(held->GetFieldNo("EXTRA"), 0);
    EXPECT_TRUE(Holds(session->Exchange(OP_OPEN, OpenRequest("clientes")), Text("EXTRA") + 'C'));
    EXPECT_EQ(session->Exchange(OP_CLOSE, Short(1)), Short(RC_OK));

    // Dropped outside: it leaves the cache, and the definition still held stays whole.
    ASSERT_TRUE(Run("drop table clientes"));
    EXPECT_EQ(session->Exchange(OP_REFRESHFILE, Text("clientes")), Short(RC_OK));
    EXPECT_EQ(Cached("CLIENTES"), nullptr);
    EXPECT_STREQ(held->GetName(), "CLIENTES");
    EXPECT_GE(held->GetFieldNo("EXTRA"), 0);

    // Neither cached nor in the database, or no name at all: nothing changes.
    for (const char* name : {"nosuchtable", "x'y", "a;drop table gml_field"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(session->Exchange(OP_REFRESHFILE, Text(name)), Short(RC_OK));
        EXPECT_EQ(Cached(name), nullptr);
    }
    EXPECT_NE(Value("select count(*) from gml_field"), "(failed)");

    // The reserved suffix is warned about after the first character only.
    EXPECT_EQ(session->Exchange(OP_REFRESHFILE, Text("_BKPFIRST")), Short(RC_OK));
    gmtest::TraceOn(*globals, *session->server);
    gmtest::TakeTrace(*globals, *session->server);
    EXPECT_EQ(session->Exchange(OP_REFRESHFILE, Text("SALES_BKP")), Short(RC_OK));
    // The request's own line comes first; the statements of the load may follow it.
    EXPECT_EQ(gmtest::TakeTrace(*globals, *session->server)
                  .rfind("(tDBServer::RefreshFile) -- Refresh File Definition - SALES_BKP\n", 0),
              0u);
    gmtest::TraceOff(*globals, *session->server);
    session->Disconnect();
    session->End();
    EXPECT_TRUE(LogHolds("[WARNING] Table [SALES_BKP] has reserved file suffix."));
    EXPECT_FALSE(LogHolds("[WARNING] Table [_BKPFIRST]"));
    EXPECT_FALSE(LogHolds("x'y"));
}

// Connections refreshing the table on several threads while another one walks it: each walk
// reads every record as it is, and nothing is freed under the reader (ASan).
TEST_F(DBServerTableDef, RefreshesOnManyThreadsLeaveAReaderReadingTheRightRecords) {
    auto reader = Connected();
    ASSERT_EQ(reader->Exchange(OP_OPEN, OpenRequest("clientes")).substr(0, 4), Short(0) + Short(1));
    const std::vector<std::string> rows = {Moved(1, "N001", "SP"), Moved(2, "N002", "RJ"),
                                           Moved(3, "N004", "BH")};
    constexpr int kRefreshers = 3;
    constexpr int kRefreshes = 40;
    std::vector<std::unique_ptr<gmtest::Session>> refreshers;
    for (int i = 0; i < kRefreshers; ++i) refreshers.push_back(Connected());
    std::vector<int> failedReplies(kRefreshers, 0);
    std::vector<std::thread> threads;
    for (int i = 0; i < kRefreshers; ++i) {
        threads.emplace_back([&, i] {
            for (int n = 0; n < kRefreshes; ++n) {
                const char* name = n % 2 ? "CLIENTES" : "clientes";
                if (refreshers[i]->Exchange(OP_REFRESHFILE, Text(name)) != Short(RC_OK)) {
                    ++failedReplies[i];
                }
            }
        });
    }
    for (int walk = 0; walk < 15; ++walk) {
        SCOPED_TRACE(walk);
        std::string reply = reader->Exchange(OP_FIRST, Short(1));
        for (const std::string& row : rows) {
            ASSERT_EQ(reply.substr(0, 2 + row.size()), Short(0) + row);
            reply = reader->Exchange(OP_SKIP, Short(1) + Long(1));
        }
        EXPECT_EQ(reply.substr(0, 2), Short(RC_NO_RECORD));
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(failedReplies, std::vector<int>(kRefreshers, 0));
    for (auto& r : refreshers) {
        r->Disconnect();
        r->End();
    }
    reader->Disconnect();
    reader->End();
}

TEST_F(DBServerTableDef, UniqueKeyNeedsTheCachedTableOpenHereExclusively) {
    auto session = Connected();
    auto other = Connected();
    const std::string request = Text("clientes") + Text("NOME");
    EXPECT_EQ(session->Exchange(OP_UNIQUE, request), Short(RC_NOT_FOUND));  // never opened
    EXPECT_EQ(session->Exchange(OP_UNIQUE, Text("x'y") + Text("NOME")), Short(RC_NOT_FOUND));
    ASSERT_EQ(other->Exchange(OP_OPEN, OpenRequest("clientes")).substr(0, 2), Short(0));
    EXPECT_EQ(session->Exchange(OP_UNIQUE, request), Short(RC_NOT_OPEN));  // open elsewhere only
    ASSERT_EQ(session->Exchange(OP_QUERY, Text("select * from clientes")).substr(0, 2), Short(0));
    EXPECT_EQ(session->Exchange(OP_UNIQUE, request), Short(RC_NOT_OPEN));  // a query is no table
    ASSERT_EQ(session->Exchange(OP_OPEN, OpenRequest("CLIENTES")).substr(0, 2), Short(0));
    EXPECT_EQ(session->Exchange(OP_UNIQUE, request), Short(RC_NOT_EXCLUSIVE));
    EXPECT_EQ(Indexes(), std::vector<std::string>{});
    EXPECT_EQ(other->Exchange(OP_CLOSE, Short(1)), Short(RC_OK));
    EXPECT_EQ(session->Exchange(OP_CLOSE, Short(2)), Short(RC_OK));

    ASSERT_EQ(session->Exchange(OP_OPEN, OpenRequest("clientes", 1)).substr(0, 4),
              Short(0) + Short(2));
    EXPECT_EQ(session->Exchange(OP_UNIQUE, Text("clientes") + Text("NOSUCHFIELD")),
              Short(RC_FAILED));
    EXPECT_EQ(session->Exchange(OP_UNIQUE, request), Short(RC_OK));
    EXPECT_EQ(Indexes(), std::vector<std::string>{"clientes_unq"});
    EXPECT_TRUE(Holds(Value("select indexdef from pg_indexes where indexname = 'clientes_unq'"),
                      "(nome, r_e_c_d_e_l_)"));
    // The cached definition has the new column and key, and the open file reads on.
    const std::shared_ptr<tTableDefinitionShared> def = Cached("CLIENTES");
    ASSERT_NE(def, nullptr);
    EXPECT_GE(def->GetRecDelField(), 0);
    EXPECT_EQ(session->Exchange(OP_FIRST, Short(2)).substr(0, 2 + 27),
              Short(0) + Moved(1, "N001", "SP"));
    other->Disconnect();
    other->End();
    session->Disconnect();
    EXPECT_TRUE(Holds(LastError(*session->server), "Unique key field [NOSUCHFIELD] NOT FOUND"));
    session->End();
}

TEST_F(DBServerTableDef, IndexServicesDropAndDescribeIndexesAndRefresh) {
    ASSERT_TRUE(Run("alter table clientes add column r_e_c_d_e_l_ integer default 0"));
    ASSERT_TRUE(Run("create index clientes1 on clientes (nome, r_e_c_n_o_)"));
    ASSERT_TRUE(Run("create unique index clientes_unq on clientes (nome, cidade, r_e_c_d_e_l_)"));
    auto session = Connected();
    session->Disconnect();  // the services run on the connection, between requests
    tDBServer& server = *session->server;

    EXPECT_EQ(server.GetUniqueKeyFields("clientes").GetText(), std::string("NOME+CIDADE"));
    EXPECT_EQ(server.GetUniqueKeyFields("nosuchtable").GetText(), std::string(""));
    EXPECT_FALSE(server.IsIndexReverse("clientes.clientes1"));
    EXPECT_FALSE(server.IsIndexReverse("clientes|clientes1"));
    EXPECT_TRUE(Holds(LastError(server),
                      "GML Error -19 - [WARNING] Index not specified on IsIndexReverse "
                      "[clientes|clientes1]\n ( From tDBServer::IsIndexReverse )"));

    EXPECT_FALSE(server.DropIndex("clientes1"));
    EXPECT_TRUE(
        Holds(LastError(server), "[WARNING] Index not specified on DropIndex [clientes1]\n"));
    EXPECT_FALSE(server.DropIndex("clientes|x'y"));
    EXPECT_TRUE(server.DropIndex("clientes|clientes1"));
    EXPECT_EQ(Indexes(), std::vector<std::string>{"clientes_unq"});
    const std::shared_ptr<tTableDefinitionShared> def = Cached("CLIENTES");
    ASSERT_NE(def, nullptr);
    ASSERT_EQ(def->GetIndexCount(), 1);
    EXPECT_STREQ(def->GetIndex(0)->GetName(), "CLIENTES_UNQ");

    ASSERT_TRUE(Run("drop index clientes_unq"));
    ASSERT_TRUE(Run("create unique index clientes_unq on clientes (r_e_c_n_o_)"));
    ASSERT_TRUE(server.DropIndexes("clientes"));
    EXPECT_EQ(Indexes(), std::vector<std::string>{});
    EXPECT_EQ(server.GetUniqueKeyFields("clientes").GetText(), std::string(""));

    // No index left: the definition is still refreshed.
    ASSERT_TRUE(Run("alter table clientes add column extra char(5) default ' '"));
    EXPECT_TRUE(server.DropIndexes("clientes"));
    EXPECT_GE(def->GetFieldNo("EXTRA"), 0);
    EXPECT_FALSE(server.DropIndexes("x'y"));
    session->End();
}

TEST_F(DBServerTableDef, AlterationIsRefusedWhileTheTableIsOpenOrInATransaction) {
    const std::string request =
        Alter("clientes", kClientesStructure,
              Structure({{"NOME", "C", "20", "0"}, {"CIDADE", "C", "8", "0"}}));
    auto session = Connected();
    auto other = Connected();
    ASSERT_EQ(session->Exchange(OP_STRCMTCTL), Short(RC_OK));
    EXPECT_EQ(session->Exchange(OP_ALTERFILE, request), Short(RC_FAILED));
    EXPECT_TRUE(Holds(session->Exchange(OP_GETERROR), "Invalid operation with active transaction"));
    ASSERT_EQ(session->Exchange(OP_ENDCMTCTL), Short(RC_OK));

    EXPECT_EQ(session->Exchange(OP_ALTERFILE, Alter("nosuchtable", "", "")), Short(RC_FAILED));
    EXPECT_TRUE(
        Holds(session->Exchange(OP_GETERROR), "[ERROR] File [NOSUCHTABLE] does NOT exists.\n"));

    // Open anywhere, this connection included: -15, and nothing changed.
    for (gmtest::Session* opener : {other.get(), session.get()}) {
        ASSERT_EQ(opener->Exchange(OP_OPEN, OpenRequest("clientes")).substr(0, 4),
                  Short(0) + Short(1));
        EXPECT_EQ(session->Exchange(OP_ALTERFILE, request), Short(RC_IN_USE));
        EXPECT_EQ(opener->Exchange(OP_CLOSE, Short(1)), Short(RC_OK));
    }
    EXPECT_EQ(Value("select character_maximum_length from information_schema.columns where "
                    "table_name = 'clientes' and column_name = 'nome'"),
              "10");
    EXPECT_EQ(session->Exchange(OP_ALTERFILE, request), Short(RC_OK));
    EXPECT_EQ(Value("select character_maximum_length from information_schema.columns where "
                    "table_name = 'clientes' and column_name = 'nome'"),
              "20");
    other->Disconnect();
    other->End();
    session->Disconnect();
    session->End();
}

TEST_F(DBServerTableDef, FailedAlterationForgetsTheCachedTableAndRestoresTheStatementLog) {
    StartServerGlobals("", "AlterTraceLog=1\n");
    auto session = Connected();
    ASSERT_EQ(session->Exchange(OP_REFRESHFILE, Text("clientes")), Short(RC_OK));
    ASSERT_NE(Cached("CLIENTES"), nullptr);
    // A type the database cannot make fails the rebuild before it changes anything.
    const std::string request = Alter(
        "clientes", kClientesStructure,
        Structure({{"NOME", "C", "10", "0"}, {"CIDADE", "C", "8", "0"}, {"ODD", "Q", "4", "0"}}));
    EXPECT_EQ(session->Exchange(OP_ALTERFILE, request), Short(RC_FAILED));
    EXPECT_EQ(Cached("CLIENTES"), nullptr);
    EXPECT_EQ(Value("select count(*) from clientes"), "3");
    session->Disconnect();
    EXPECT_FALSE(session->server->GetDBConnection()->IsOpLog());
    session->End();
    EXPECT_TRUE(
        LogHolds("GM_ALTER FAILED on file [CLIENTES]. Table DATA or STRUCTURE should be "
                 "INVALID or CORRUPTED."));
}

TEST_F(DBServerTableDef, ColumnNamesThatCouldBreakSqlAreRefusedBeforeAnySql) {
    auto session = Connected();
    gmtest::TraceOn(*globals, *session->server);
    gmtest::TakeTrace(*globals, *session->server);
    for (const char* name : {"NO'ME", "NOME;DROP TABLE CLIENTES"}) {
        SCOPED_TRACE(name);
        const std::string bad = Structure({{name, "C", "10", "0"}, {"CIDADE", "C", "8", "0"}});
        EXPECT_EQ(session->Exchange(OP_ALTERFILE, Alter("clientes", kClientesStructure, bad)),
                  Short(RC_FAILED));
        EXPECT_EQ(session->Exchange(OP_ALTERFILE, Alter("clientes", bad, kClientesStructure)),
                  Short(RC_FAILED));
        // Only the refusal itself is traced: no statement ran.
        const std::string trace = gmtest::TakeTrace(*globals, *session->server);
        size_t entries = 0;
        for (size_t at = 0; at < trace.size(); at = trace.find('\n', at) + 1) {
            if (trace[at] == '(' && trace.compare(at, 5, "(...)") != 0) {  // not a continuation
                EXPECT_EQ(trace.compare(at, 22, "(tDBServer::AlterFile)"), 0) << trace.substr(at);
                ++entries;
            }
            if (trace.find('\n', at) == std::string::npos) break;
        }
        EXPECT_EQ(entries, 2u) << trace;
    }
    gmtest::TraceOff(*globals, *session->server);
    EXPECT_EQ(Cached("CLIENTES"), nullptr);
    EXPECT_EQ(Values("select column_name from information_schema.columns where table_name = "
                     "'clientes' order by ordinal_position"),
              (std::vector<std::string>{"nome", "cidade", "d_e_l_e_t_", "r_e_c_n_o_"}));
    session->Disconnect();
    session->End();
}

}  // namespace
