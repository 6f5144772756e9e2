// The existence probes and dummy mode over a real loopback socket: tables and indexes answered
// from the definition cache, the database catalogue or the virtual indexes; names that are no
// identifiers answered -11 with nothing asked of the database; stored procedures; the dummy
// switch with its texts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lib_common/opcodes.h"
#include "lib_common/retcodes.h"
#include "server/dispatch/dbserver.h"
#include "tests/server/dispatch/support/scriptedfile.h"
#include "tests/support/gmtest.h"

namespace {

using gmtest::Long;
using gmtest::Short;
using Calls = std::vector<std::string>;

std::string Texts(const std::string& first, const std::string& second) {
    return first + '\0' + second + '\0';
}

using gmtest::Holds;

class DBServerProbe : public gmtest::TableHandlerTest {};

TEST_F(DBServerProbe, CanOpenAsksTheCacheThenTheCatalogueThenTheVirtualIndexes) {
    const struct {
        const char* name;
        std::string table;
        std::string index;
        bool canOpen;
        std::vector<bool> virtualIndexes;
        i16 code;
        Calls calls;
        size_t statements;  // virtual-index look-ups run
    } cases[] = {
        {"cached table", "sa1010", "", false, {}, 0, {}, 0},
        {"cached index by its beginning", "SA1010", "sa1010_n", false, {}, 0, {}, 0},
        {"cached index whole", "SA1010", "SA1010_NOME", false, {}, 0, {}, 0},
        {"longer than the cached index",
         "SA1010",
         "SA1010_NOMEX",
         false,
         {false},
         RC_NOT_FOUND,
         {},
         1},
        {"virtual index of a cached table", "SA1010", "VIRT1", false, {true}, 0, {}, 1},
        {"table in the catalogue", "SB1010", "", true, {}, 0, {"CanOpen SB1010 (null)"}, 0},
        {"table missing", "SB1010", "", false, {}, RC_NOT_FOUND, {"CanOpen SB1010 (null)"}, 0},
        {"index in the catalogue",
         "SB1010",
         "SB1010_1",
         true,
         {},
         0,
         {"CanOpen SB1010 SB1010_1"},
         0},
        {"index missing",
         "SB1010",
         "SB1010_9",
         false,
         {false},
         RC_NOT_FOUND,
         {"CanOpen SB1010 SB1010_9"},
         1},
        {"quote in the table", "SB1'010", "", true, {}, RC_NOT_FOUND, {}, 0},
        {"semicolon in the index", "SA1010", "X;DROP TABLE SA1010", true, {}, RC_NOT_FOUND, {}, 0},
        {"empty table", "", "", true, {}, RC_NOT_FOUND, {}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        files = gmtest::FileScript{};
        files.canOpen = c.canOpen;
        files.virtualIndexes = c.virtualIndexes;
        auto session = OpenConnected();
        EXPECT_EQ(session->Exchange(OP_CANOPEN, Texts(c.table, c.index)), Short(c.code));
        session->Disconnect();
        EXPECT_EQ(TakeCalls(), c.calls);
        const auto& conn =
            static_cast<gmtest::FileConnection&>(*session->server->GetDBConnection());
        ASSERT_EQ(conn.executed.size(), c.statements);
        if (c.statements) {
            EXPECT_TRUE(Holds(conn.executed[0], "'" + c.index + "'"));
        }
        session->End();
    }
}

TEST_F(DBServerProbe, SPExistAsksTheConnectionOnlyForIdentifiers) {
    files.spExists = true;
    auto session = OpenConnected();
    EXPECT_EQ(session->Exchange(OP_SPEXIST, std::string("DBO.SP_CALC") + '\0'), Short(0));
    EXPECT_EQ(session->Exchange(OP_SPEXIST, std::string("SP'X") + '\0'), Short(RC_NOT_FOUND));
    files.spExists = false;
    EXPECT_EQ(session->Exchange(OP_SPEXIST, std::string("SP_GONE") + '\0'), Short(RC_NOT_FOUND));
    EXPECT_EQ(TakeCalls(), (Calls{"SPExist DBO.SP_CALC", "SPExist SP_GONE"}));
    session->Disconnect();
    session->End();
}

TEST_F(DBServerProbe, DummyModeIsOnForExactlyStarOnAndSkipsMovesMeanwhile) {
    StartGlobals("UseTraceLog=1\n");
    ScriptFiles();
    auto session = OpenConnected();
    TraceOn(*session->server);
    ASSERT_EQ(session->Exchange(OP_OPEN, Texts("SA1010", "") + '\0').substr(0, 4),
              Short(0) + Short(1));
    gmtest::ConsoleCapture console;
    const struct {
        const char* text;
        bool on;
    } cases[] = {{"*ON", true}, {"*on", false}, {"*ON", true}, {"*OFF", false}, {"ON", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        TakeCalls();
        EXPECT_EQ(session->Exchange(OP_SETDUMMY, std::string(c.text) + '\0'), Short(0));
        const std::string skipped = session->Exchange(OP_SKIP, Short(1) + Long(1));
        if (c.on) {
            EXPECT_EQ(skipped, Short(RC_NO_RECORD));
            EXPECT_TRUE(TakeCalls().empty());
        } else {
            EXPECT_EQ(skipped.substr(0, 2), Short(0));
            EXPECT_EQ(TakeCalls(), Calls{"Skip 1"});
        }
        EXPECT_EQ(session->Exchange(OP_CANOPEN, Texts("SA1010", "")), Short(0));  // never skipped
        const std::string trace = TakeTrace(*session->server);
        EXPECT_TRUE(Holds(trace, c.on ? "(tDBServer::SetDummy) -- Set Dummy Mode ON\n"
                                      : "(tDBServer::SetDummy) -- Set Dummy Mode OFF\n"))
            << trace;
        EXPECT_TRUE(Holds(console.Get(), std::string("Details: Set DUMMY ") + c.text + "\n"));
    }
    EXPECT_TRUE(Holds(console.Get(), "Details: Table : SA1010\n"));
    session->Exchange(OP_CANOPEN, Texts("SA1010", "SA1010_NOME"));
    session->Exchange(OP_SPEXIST, std::string("SP_CALC") + '\0');
    TraceOff(*session->server);
    session->Disconnect();
    EXPECT_TRUE(Holds(console.Get(), "Details: Table : SA1010Index : SA1010_NOME\n"));
    EXPECT_TRUE(Holds(console.Get(), "Details: Procedure : SP_CALC\n"));
    session->End();
}

}  // namespace
