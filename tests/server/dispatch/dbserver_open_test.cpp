// Tables opened and closed over a real loopback socket, with files that a scripted connection
// makes: the open reply and the ids, the registration with the record-lock engine, refusals that
// leave nothing behind, an assertion while a file opens, the join description, the texts of the
// operation log and the table's named node.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "lib_common/opcodes.h"
#include "lib_common/retcodes.h"
#include "server/dispatch/dbserver.h"
#include "server/isam/dbconn.h"
#include "server/locks/lockengine.h"
#include "server/runtime/gmlthreads.h"
#include "server/runtime/namedlock.h"
#include "tests/server/dispatch/support/scriptedfile.h"
#include "tests/server/support/recordingaudit.h"
#include "tests/support/gmtest.h"

namespace {

using gmtest::Short;
using Calls = std::vector<std::string>;

constexpr u32 kOtherOwner = 99;
const char* const kFullName = "ERP|SA1010";

std::string OpenRequest(const std::string& table, u8 readOnly = 0, u8 exclusive = 0) {
    return table + '\0' + static_cast<char>(readOnly) + static_cast<char>(exclusive);
}

using gmtest::Holds;

class DBServerOpen : public gmtest::TableHandlerTest {
protected:
    tRecordLockEngine& Records() { return *globals->GetRecordLockServer(); }
    i32 Bucket() { return static_cast<i32>(gmtest::Sa1010Definition()->GetLockBucket()); }
    // Whether another connection could open SA1010 exclusively now (and gives it back).
    bool FreeForExclusive() {
        if (!Records().SetOpen(kOtherOwner, Bucket(), kFullName, 1, 0)) return false;
        Records().SetClose(kOtherOwner, Bucket(), kFullName, 0);
        return true;
    }
};

TEST_F(DBServerOpen, OpensGetTheLowestFreeIdAndClosesFreeItAndTheRegistration) {
    auto session = OpenConnected();
    const std::string opened = gmtest::Sa1010OpenReply();
    EXPECT_EQ(session->Exchange(OP_OPEN, OpenRequest("sa1010")), Short(0) + Short(1) + opened);
    EXPECT_EQ(session->Exchange(OP_OPEN, OpenRequest("SA1010")), Short(0) + Short(2) + opened);
    EXPECT_EQ(session->server->GetProperties()->GetTables(), 2);
    EXPECT_FALSE(FreeForExclusive());
    EXPECT_EQ(session->Exchange(OP_CLOSE, Short(1)), Short(0));
    EXPECT_EQ(session->Exchange(OP_CLOSE, Short(1)), Short(RC_NO_OPEN_FILE));
    EXPECT_EQ(session->Exchange(OP_OPEN, OpenRequest("SA1010")), Short(0) + Short(1) + opened);
    EXPECT_EQ(session->Exchange(OP_CLOSE, Short(2)), Short(0));
    EXPECT_FALSE(FreeForExclusive());  // id 1 still holds its opening
    EXPECT_EQ(session->Exchange(OP_CLOSE, Short(1)), Short(0));
    EXPECT_TRUE(FreeForExclusive());
    EXPECT_EQ(session->server->GetProperties()->GetTables(), 0);
    EXPECT_EQ(TakeCalls(),
              (Calls{"NewISAMFile SA1010", "Open 1", "NewISAMFile SA1010", "Open 2", "deleted",
                     "NewISAMFile SA1010", "Open 1", "deleted", "deleted"}));
    session->Disconnect();
    session->End();
}

TEST_F(DBServerOpen, ExclusiveOpenStandsAloneAcrossConnections) {
    auto first = OpenConnected();
    auto second = OpenConnected();
    EXPECT_EQ(first->Exchange(OP_OPEN, OpenRequest("SA1010", 0, 1)).substr(0, 4),
              Short(0) + Short(1));
    EXPECT_EQ(second->Exchange(OP_OPEN, OpenRequest("SA1010")), Short(RC_IN_USE));
    EXPECT_EQ(first->Exchange(OP_CLOSE, Short(1)), Short(0));
    EXPECT_EQ(second->Exchange(OP_OPEN, OpenRequest("SA1010")).substr(0, 4), Short(0) + Short(1));
    EXPECT_EQ(first->Exchange(OP_OPEN, OpenRequest("SA1010", 0, 1)), Short(RC_IN_USE));
    first->Disconnect();
    second->Disconnect();
    first->End();
    second->End();
}

TEST_F(DBServerOpen, RefusedOpenLeavesNoRegistrationFileOrJoinBehind) {
    const struct {
        const char* name;
        std::string ini;
        std::string table;
        bool makeFile;
        bool heldElsewhere;
        i16 code;
        const char* error;  // within the connection's last error
        Calls calls;
    } cases[] = {
        {"isam off",
         "IsamConnection=0\n",
         "SA1010",
         true,
         false,
         RC_FAILED,
         "GML Error -19 - [WARNING] OpenFile only supported when IsamConnection is ENABLED.\n",
         {}},
        {"quote",
         "",
         "SA1'010",
         true,
         false,
         RC_FAILED,
         "Table [SA1'010] Error - Invalid Table Name.",
         {}},
        {"semicolon",
         "",
         "SA1010;DROP TABLE SA1010",
         true,
         false,
         RC_FAILED,
         "Invalid Table Name.",
         {}},
        {"empty", "", "", true, false, RC_FAILED, "Invalid Table Name.", {}},
        {"not described",
         "",
         "SB1010",
         true,
         false,
         RC_FAILED,
         "Table [SB1010] Error - Describe Structure Failed.",
         {}},
        {"open exclusively elsewhere", "", "SA1010", true, true, RC_IN_USE, "", {}},
        {"table list, which this connection cannot give",
         "",
         "GML_FILES",
         true,
         false,
         RC_FAILED,
         "Catalog not supported",
         {}},
        {"no file from the driver",
         "",
         "SA1010",
         false,
         false,
         RC_FAILED,
         "Table [SA1010] Error - No ISAM file for this connection.",
         {"NewISAMFile SA1010"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        StartGlobals(c.ini);
        ScriptFiles();
        files = gmtest::FileScript{};
        files.queueJoin = true;
        files.makeFile = c.makeFile;
        if (c.heldElsewhere) {
            ASSERT_TRUE(Records().SetOpen(kOtherOwner, Bucket(), kFullName, 1, 0));
        }
        auto session = OpenConnected();
        EXPECT_EQ(session->Exchange(OP_OPEN, OpenRequest(c.table)), Short(c.code));
        session->Disconnect();
        tDBConnection& conn = *session->server->GetDBConnection();
        EXPECT_EQ(conn.TakeJoinInfo(), nullptr);
        tString error;
        conn.GetLastErrorInfo(error);
        EXPECT_TRUE(Holds(error.GetText(), c.error)) << error.GetText();
        EXPECT_TRUE(static_cast<gmtest::FileConnection&>(conn).executed.empty());
        EXPECT_EQ(session->server->GetProperties()->GetTables(), 0);
        EXPECT_EQ(TakeCalls(), c.calls);
        if (c.heldElsewhere) Records().SetClose(kOtherOwner, Bucket(), kFullName, 0);
        EXPECT_TRUE(FreeForExclusive());
        session->End();
    }
}

TEST_F(DBServerOpen, AssertionWhileTheFileOpensUndoesTheRegistrationAndDeletesTheFile) {
    files.assertOnOpen = true;
    auto session = OpenConnected();
    ASSERT_TRUE(session->Send(gmtest::Request(OP_OPEN, OpenRequest("SA1010"))));
    session->Join();
    EXPECT_TRUE(Holds(session->assertion, "*** FAILED TO OBTAIN JOIN TABLE DEFINITION ***"))
        << session->assertion;
    EXPECT_EQ(TakeCalls(), (Calls{"NewISAMFile SA1010", "Open 1", "deleted"}));
    EXPECT_EQ(session->server->GetFile(1), nullptr);
    EXPECT_TRUE(FreeForExclusive());
    session->End();
}

TEST_F(DBServerOpen, WaitingJoinGoesToTheNextFileOnly) {
    files.queueJoin = true;
    auto session = OpenConnected();
    EXPECT_EQ(session->Exchange(OP_OPEN, OpenRequest("SA1010")).substr(0, 4), Short(0) + Short(1));
    EXPECT_EQ(session->Exchange(OP_OPEN, OpenRequest("SA1010")).substr(0, 4), Short(0) + Short(2));
    EXPECT_EQ(TakeCalls(),
              (Calls{"NewISAMFile SA1010", "Open 1 joined", "NewISAMFile SA1010", "Open 2"}));
    session->Disconnect();
    session->End();
}

TEST_F(DBServerOpen, PreparedQueryCloseKeepsItsIdAndJustCloseSparesTables) {
    files.preparedQuery = true;
    auto session = OpenConnected();
    ASSERT_EQ(session->Exchange(OP_OPEN, OpenRequest("SA1010")).substr(0, 4), Short(0) + Short(1));
    files.preparedQuery = false;
    ASSERT_EQ(session->Exchange(OP_OPEN, OpenRequest("SA1010")).substr(0, 4), Short(0) + Short(2));
    TakeCalls();
    EXPECT_EQ(session->Exchange(OP_CLOSE, Short(1)), Short(0));
    EXPECT_EQ(session->Exchange(OP_JUSTCLOSE, Short(1)), Short(0));
    EXPECT_EQ(session->Exchange(OP_JUSTCLOSE, Short(2)), Short(0));
    EXPECT_EQ(TakeCalls(), (Calls{"Close", "Close"}));  // the table file was not touched
    EXPECT_EQ(session->Exchange(OP_CLOSE, Short(2)), Short(0));
    EXPECT_EQ(session->Exchange(OP_JUSTCLOSE, Short(2)), Short(RC_NO_OPEN_FILE));
    session->Disconnect();
    EXPECT_NE(session->server->GetFile(1), nullptr);
    session->End();
}

TEST_F(DBServerOpen, OperationLogAndLogCarryTheOpenAndCloseTexts) {
    StartGlobals("UseTraceLog=1\n");
    ScriptFiles();
    gmtest::WriteFileText(LogPath(), "");
    auto session = OpenConnected();
    gmtest::ConsoleCapture console;
    session->Exchange(OP_OPEN, OpenRequest("sa1010", 1, 1));
    session->Exchange(OP_OPEN, OpenRequest("SA1010_BKP"));
    session->Exchange(OP_OPEN, OpenRequest("_BKP1010"));
    session->Exchange(OP_CLOSE, Short(1));
    // A query's result and a prepared query close under their own texts; the prepared one keeps
    // its id, so that OP_JUSTCLOSE names it again.
    files.query = true;
    const std::string query = session->Exchange(OP_OPEN, OpenRequest("SA1010")).substr(2, 2);
    files.query = false;
    files.preparedQuery = true;
    const std::string prepared = session->Exchange(OP_OPEN, OpenRequest("SA1010")).substr(2, 2);
    session->Exchange(OP_CLOSE, query);
    session->Exchange(OP_CLOSE, prepared);
    session->Exchange(OP_JUSTCLOSE, prepared);
    session->Disconnect();
    const std::string text = console.Get();
    EXPECT_TRUE(Holds(text, "Op: OP_OPEN \tRet 0\tElapsed time: ")) << text;
    EXPECT_TRUE(Holds(text, "Details: -- Open File ERP|sa1010 [READONLY] [EXCLUSIVE]\n"));
    EXPECT_TRUE(Holds(text, "Details: -- Open File ERP|SA1010_BKP [SHARED]\n"));
    EXPECT_TRUE(Holds(text, "Details: -- Close File ERP|SA1010 ID  1\n"));
    const auto id = [](const std::string& wire) {  // the i16 as the reply carried it
        i16 value = 0;
        std::memcpy(&value, wire.data(), sizeof value);
        return std::to_string(value);
    };
    EXPECT_TRUE(Holds(text, "Op: OP_CLOSE \tRet 0\tElapsed time: "));
    EXPECT_TRUE(Holds(text, "Details: -- Close Query File ID " + id(query) + "\n"));
    const std::string preparedClose = "Details: -- Close Prepared Query File ID " + id(prepared);
    const size_t first = text.find(preparedClose + "\n");
    ASSERT_NE(first, std::string::npos) << text;
    EXPECT_NE(text.find(preparedClose + "\n", first + 1), std::string::npos);  // and JustClose
    const std::vector<std::string> log = LogEntries();
    const auto warned = [&](const std::string& table) {
        for (const auto& entry : log) {
            if (Holds(entry, "[WARNING] Table [" + table +
                                 "] has reserved file suffix. Avoid use _BKP table name suffix.")) {
                return true;
            }
        }
        return false;
    };
    EXPECT_TRUE(warned("SA1010_BKP"));
    EXPECT_FALSE(warned("_BKP1010"));
    session->End();
}

TEST_F(DBServerOpen, FileGetsTheRequestedFlagsAndTheAuditHandleWhenTheLevelAsks) {
    const struct {
        const char* ini;
        bool auditable;
        bool handle;
    } cases[] = {
        {"", true, false},                                              // no audit at all
        {"AuditLog=1\nAuditServer=aud\nAuditLevel=1\n", true, false},   // level too low
        {"AuditLog=1\nAuditServer=aud\nAuditLevel=2\n", false, false},  // the table is not audited
        {"AuditLog=1\nAuditServer=aud\nAuditLevel=2\n", true, true},
    };
    gmtest::AuditRecorder recorder;
    gmtest::RecordingAuditMaker maker(recorder);
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.ini) + (c.auditable ? "auditable" : ""));
        StartGlobals(c.ini);
        ScriptFiles();
        files.auditable = c.auditable;
        auto session = OpenConnected();
        ASSERT_EQ(session->Exchange(OP_OPEN, OpenRequest("SA1010", 1, 0)).substr(0, 4),
                  Short(0) + Short(1));
        ASSERT_EQ(session->Exchange(OP_OPEN, OpenRequest("SA1010", 0, 1)), Short(RC_IN_USE));
        const auto& readOnly = static_cast<gmtest::ScriptedFile&>(*session->server->GetFile(1));
        EXPECT_TRUE(readOnly.IsReadOnly());
        EXPECT_FALSE(readOnly.IsExclusiveSet());
        ASSERT_EQ(session->Exchange(OP_CLOSE, Short(1)), Short(0));
        ASSERT_EQ(session->Exchange(OP_OPEN, OpenRequest("SA1010", 0, 1)).substr(0, 4),
                  Short(0) + Short(1));
        session->Disconnect();
        auto& file = static_cast<gmtest::ScriptedFile&>(*session->server->GetFile(1));
        EXPECT_FALSE(file.IsReadOnly());
        EXPECT_TRUE(file.IsExclusiveSet());
        EXPECT_EQ(file.HasAuditHandle(), c.handle);
        session->End();
    }
}

TEST_F(DBServerOpen, TableNodeIgnoresTheCaseOfTheTableName) {
    auto session = OpenConnected("MSSQL/Erp");
    session->Disconnect();
    tDBServer& server = *session->server;
    tNamedNode* node = server.GetTableNode("sa1010");
    EXPECT_EQ(node, server.GetTableNode("SA1010"));
    EXPECT_NE(node, server.GetTableNode("SA1011"));
    EXPECT_EQ(std::string(node->GetName().GetText()), "ERP/SA1010");
    session->End();
}

}  // namespace
