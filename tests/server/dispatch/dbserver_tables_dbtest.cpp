// Tables opened, moved through and sought by client connections against the private PostgreSQL:
// the open reply as the client reads it, refusals, exclusive opens across two connections, the
// replies and traces of moves, seeks exact, soft and with a lock held by another owner, the
// existence probes, dummy mode, and names that must never reach the database.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lib_common/opcodes.h"
#include "lib_common/retcodes.h"
#include "server/dispatch/dbserver.h"
#include "server/isam/dbconn.h"
#include "server/isam/gatemill.h"
#include "server/locks/lockengine.h"
#include "server/tables/dbtable.h"
#include "tests/server/dispatch/support/dbserverpg.h"
#include "tests/server/dispatch/support/tracelines.h"
#include "tests/support/gmtest.h"

namespace {

using gmtest::ClientesRecord;
using gmtest::Long;
using gmtest::Short;

constexpr u32 kOtherOwner = 99;

std::string OpenRequest(const std::string& table, u8 readOnly = 0, u8 exclusive = 0) {
    return table + '\0' + static_cast<char>(readOnly) + static_cast<char>(exclusive);
}

std::string Texts(const std::string& first, const std::string& second) {
    return first + '\0' + second + '\0';
}

// What a found move sends: the record number as a double, then the record.
std::string Sent(f64 recno, const std::string& record) {
    return std::string(reinterpret_cast<const char*>(&recno), sizeof recno) + record;
}

std::string Status(bool bof, bool eof, bool found, i32 count = 3) {
    return std::string(1, static_cast<char>(bof)) + static_cast<char>(eof) +
           static_cast<char>(found) + Long(count);
}

std::string Seek(i16 id, u8 lock, u8 soft, const std::string& nome) {
    return Short(id) + Short(1) + Short(10) + static_cast<char>(lock) + static_cast<char>(soft) +
           ClientesRecord(nome, "");
}

using gmtest::Holds;

// CLIENTES with three rows, indexed by CLIENTES1 (NOME), and the connections that reach it.
class DBServerTables : public gmtest::DBServerPostgres {
protected:
    void SetUp() override {
        DBServerPostgres::SetUp();
        if (HasFatalFailure()) return;
        MakeClientes();
        if (HasFatalFailure()) return;
        ASSERT_TRUE(Run("create index clientes1 on clientes (nome, r_e_c_n_o_)"));
    }
    tRecordLockEngine& Records() { return *globals->GetRecordLockServer(); }
    // The table's full name and lock bucket, as the record-lock engine knows them.
    std::string FullName() const { return tTableDefinition("CLIENTES", dsn.c_str()).GetFullName(); }
    i32 Bucket() const {
        return static_cast<i32>(tTableDefinition("CLIENTES", dsn.c_str()).GetLockBucket());
    }
};

TEST_F(DBServerTables, OpenReplyIsWhatTheClientReadsAndRefusalsComeAlone) {
    auto session = Connected();
    const std::string structure = Short(3) + "NOME" + '\0' + 'C' + Short(10) + Short(0) + "CIDADE" +
                                  '\0' + 'C' + Short(8) + Short(0) + "D_E_L_E_T_" + '\0' + 'C' +
                                  Short(1) + Short(0);
    const std::string indexes = std::string("CLIENTES1") + '\0' + "001" + '\0';
    EXPECT_EQ(session->Exchange(OP_OPEN, OpenRequest("clientes")),
              Short(0) + Short(1) + Long(19) + structure + Status(true, true, false) + indexes);
    EXPECT_EQ(session->Exchange(OP_OPEN, OpenRequest("nosuchtable")), Short(RC_FAILED));
    session->Disconnect();
    EXPECT_TRUE(Holds(LastError(*session->server), "Table [nosuchtable] Error - "));
    session->End();

    StartServerGlobals("[POSTGRES]\nIsamConnection=0\n");
    auto refused = Connected();
    EXPECT_EQ(refused->Exchange(OP_OPEN, OpenRequest("clientes")), Short(RC_FAILED));
    refused->Disconnect();
    EXPECT_TRUE(Holds(LastError(*refused->server),
                      "[WARNING] OpenFile only supported when IsamConnection is ENABLED."));
    refused->End();
}

TEST_F(DBServerTables, ExclusiveOpenRefusesOthersUntilItCloses) {
    auto first = Connected();
    auto second = Connected();
    EXPECT_EQ(first->Exchange(OP_OPEN, OpenRequest("CLIENTES", 0, 1)).substr(0, 4),
              Short(0) + Short(1));
    EXPECT_EQ(second->Exchange(OP_OPEN, OpenRequest("clientes")), Short(RC_IN_USE));
    EXPECT_EQ(first->Exchange(OP_CLOSE, Short(1)), Short(0));
    EXPECT_EQ(first->Exchange(OP_CLOSE, Short(1)), Short(RC_NO_OPEN_FILE));
    EXPECT_EQ(second->Exchange(OP_OPEN, OpenRequest("clientes", 1, 0)).substr(0, 4),
              Short(0) + Short(1));
    EXPECT_EQ(first->Exchange(OP_OPEN, OpenRequest("CLIENTES", 0, 1)), Short(RC_IN_USE));
    EXPECT_EQ(first->Exchange(OP_OPEN, OpenRequest("Clientes")).substr(0, 4),
              Short(0) + Short(1));  // the id freed by the close
    EXPECT_EQ(second->Exchange(OP_CLOSE, Short(1)), Short(0));
    EXPECT_EQ(first->Exchange(OP_CLOSE, Short(1)), Short(0));
    EXPECT_TRUE(Records().SetOpen(kOtherOwner, Bucket(), FullName().c_str(), 1, 0));
    first->Disconnect();
    second->Disconnect();
    first->End();
    second->End();
}

TEST_F(DBServerTables, MovesSendTheRecordAndStatusOrNoRecordAndStatus) {
    auto session = Connected();
    ASSERT_EQ(session->Exchange(OP_OPEN, OpenRequest("clientes")).substr(0, 4),
              Short(0) + Short(1));
    gmtest::TraceOn(*globals, *session->server);
    gmtest::TakeTrace(*globals, *session->server);
    // Moves leave FOUND to seeks.
    const struct {
        i16 opcode;
        std::string args;
        std::string reply;
        const char* trace;
    } cases[] = {
        {OP_FIRST, "",
         Short(0) + Sent(1, ClientesRecord("N001", "SP")) + Status(false, false, false),
         "(tDBServer::First) -- First Recno 1 on Table CLIENTES [OK]\n"},
        {OP_GO, Long(3),
         Short(0) + Sent(3, ClientesRecord("N004", "BH")) + Status(false, false, false),
         "(tDBServer::GoTo) -- Goto 3 on Table CLIENTES [OK]\n"},
        {OP_SKIP, Long(1), Short(RC_NO_RECORD) + Status(false, true, false),
         "(tDBServer::Skip) -- End Skip - [NO_RECORD_FOUND] [EOF]\n"},
        {OP_GO, Long(99), Short(RC_NO_RECORD) + Status(true, true, false),
         "(tDBServer::GoTo) -- Goto 99 on Table CLIENTES [NO_RECORD_FOUND] [BOF] [EOF]\n"},
        {OP_LAST, "",
         Short(0) + Sent(3, ClientesRecord("N004", "BH")) + Status(false, false, false),
         "(tDBServer::Last()) -- Last Recno 3 on Table CLIENTES [OK]\n"},
        {OP_SKIP, Long(-1),
         Short(0) + Sent(2, ClientesRecord("N002", "RJ")) + Status(false, false, false),
         "(tDBServer::Skip) -- End Skip to 2\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.trace);
        EXPECT_EQ(session->Exchange(c.opcode, Short(1) + c.args), c.reply);
        const std::string trace = gmtest::TakeTrace(*globals, *session->server);
        EXPECT_TRUE(Holds(trace, c.trace)) << trace;
    }
    gmtest::TraceOff(*globals, *session->server);
    session->Disconnect();
    session->End();
}

TEST_F(DBServerTables, SeekFindsExactOrGreaterKeysAndLocksOnlyWhatNoOtherOwnerHolds) {
    auto session = Connected();
    ASSERT_EQ(session->Exchange(OP_OPEN, OpenRequest("clientes")).substr(0, 4),
              Short(0) + Short(1));
    ASSERT_EQ(session->Exchange(OP_SETKEY, Short(1) + Short(1)), Short(0));  // CLIENTES1 order
    const u32 owner = session->server->GetThreadId();
    ASSERT_TRUE(Records().RLock(kOtherOwner, Bucket(), FullName().c_str(), 2, 0));
    const struct {
        const char* name;
        std::string request;
        std::string reply;
    } cases[] = {
        {"exact", Seek(1, 0, 0, "N002"),
         Short(0) + Sent(2, ClientesRecord("N002", "RJ")) + Status(false, false, true)},
        {"soft on a greater key", Seek(1, 0, 1, "N003"),
         Short(RC_SOFT_SEEK_GREATER) + Sent(3, ClientesRecord("N004", "BH")) +
             Status(false, false, false)},
        {"exact, missing", Seek(1, 0, 0, "N003"), Short(RC_NO_RECORD) + Status(false, true, false)},
        {"locked by another owner", Seek(1, 1, 0, "N002"),
         Short(RC_LOCKED) + Status(false, false, true)},
        {"locked for this owner", Seek(1, 1, 0, "N001"),
         Short(0) + Sent(1, ClientesRecord("N001", "SP")) + Status(false, false, true)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(session->Exchange(OP_SEEK, c.request), c.reply);
    }
    EXPECT_TRUE(Records().IsLocked(owner, Bucket(), FullName().c_str(), 1, 0));
    EXPECT_FALSE(Records().IsLocked(owner, Bucket(), FullName().c_str(), 2, 0));
    session->Disconnect();
    session->End();
}

TEST_F(DBServerTables, ProbesAskTheCacheOrTheCatalogueAndDummyModeSkipsMoves) {
    ASSERT_TRUE(Run("create table other (id integer)"));
    auto session = Connected();
    const struct {
        const char* table;
        const char* index;
        i16 code;
    } beforeOpen[] = {{"clientes", "", 0},
                      {"OTHER", "", 0},
                      {"nosuch", "", RC_NOT_FOUND},
                      {"CLIENTES", "clientes1", 0},
                      {"clientes", "clientes", RC_NOT_FOUND},  // the catalogue wants the whole name
                      {"clientes", "nosuchidx", RC_NOT_FOUND}},
      afterOpen[] = {{"CLIENTES", "", 0},
                     {"clientes", "clientes", 0},  // the cache takes the beginning of a name
                     {"clientes", "clientes1x", RC_NOT_FOUND}};
    for (const auto& c : beforeOpen) {
        SCOPED_TRACE(std::string(c.table) + "/" + c.index);
        EXPECT_EQ(session->Exchange(OP_CANOPEN, Texts(c.table, c.index)), Short(c.code));
    }
    ASSERT_EQ(session->Exchange(OP_OPEN, OpenRequest("clientes")).substr(0, 4),
              Short(0) + Short(1));
    for (const auto& c : afterOpen) {
        SCOPED_TRACE(std::string("cached ") + c.table + "/" + c.index);
        EXPECT_EQ(session->Exchange(OP_CANOPEN, Texts(c.table, c.index)), Short(c.code));
    }
    EXPECT_EQ(session->Exchange(OP_SETDUMMY, std::string("*ON") + '\0'), Short(0));
    EXPECT_EQ(session->Exchange(OP_FIRST, Short(1)), Short(RC_NO_RECORD));
    EXPECT_EQ(session->Exchange(OP_SETDUMMY, std::string("*on") + '\0'), Short(0));
    EXPECT_EQ(session->Exchange(OP_FIRST, Short(1)).substr(0, 2), Short(0));
    session->Disconnect();
    session->End();
}

TEST_F(DBServerTables, NamesWithQuotesOrSemicolonsNeverReachTheDatabase) {
    ASSERT_TRUE(Run("create table victim (id integer)"));
    ASSERT_TRUE(Run("insert into victim values (1)"));
    auto session = Connected();
    gmtest::TraceOn(*globals, *session->server);
    gmtest::TakeTrace(*globals, *session->server);
    const struct {
        i16 opcode;
        std::string payload;
        i16 code;
    } cases[] = {
        {OP_OPEN, OpenRequest("clientes;drop table victim"), RC_FAILED},
        {OP_OPEN, OpenRequest("victim' or '1'='1"), RC_FAILED},
        {OP_CANOPEN, Texts("victim';drop table victim;--", ""), RC_NOT_FOUND},
        {OP_CANOPEN, Texts("clientes", "x';drop table victim;--"), RC_NOT_FOUND},
        {OP_SPEXIST, std::string("p';drop table victim;--") + '\0', RC_NOT_FOUND},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.payload);
        EXPECT_EQ(session->Exchange(c.opcode, c.payload), Short(c.code));
    }
    // Only the handlers traced (their lines and the error reports' further lines): no statement
    // ran.
    const std::string refused = gmtest::TakeTrace(*globals, *session->server);
    size_t opens = 0;
    for (size_t at = 0; at < refused.size(); at = refused.find('\n', at) + 1) {
        const std::string line = refused.substr(at, refused.find('\n', at) - at);
        EXPECT_TRUE(line.rfind("(tDBServer::", 0) == 0 || line.rfind("(...)", 0) == 0) << line;
        if (line.rfind("(tDBServer::OpenFile) -- Open File ", 0) == 0) ++opens;
    }
    EXPECT_EQ(opens, 2u) << refused;
    // A plain name does run a statement, traced as the driver's.
    EXPECT_EQ(session->Exchange(OP_CANOPEN, Texts("victim", "")), Short(0));
    EXPECT_TRUE(Holds(gmtest::TakeTrace(*globals, *session->server), "(tPostgresConnection::"));
    gmtest::TraceOff(*globals, *session->server);
    session->Disconnect();
    session->End();
    EXPECT_EQ(Value("select count(*) from victim"), "1");
}

}  // namespace
