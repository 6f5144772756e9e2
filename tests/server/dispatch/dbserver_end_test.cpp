// The end of a client connection and its shared services: Done's release of locks, files, the
// open transaction and the registry record; Terminate from another thread; the session id, the
// audit id and records, the transaction check, the exception report, the statistics dump, the
// open-file table and the idle release of statements.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "lib_common/opcodes.h"
#include "lib_common/retcodes.h"
#include "platform/event.h"
#include "server/dispatch/dbserver.h"
#include "server/isam/dbconn.h"
#include "server/locks/lockengine.h"
#include "server/runtime/gmlthreads.h"
#include "server/tables/dbtable.h"
#include "tests/server/dispatch/support/dbserverfixture.h"
#include "tests/server/support/testfile.h"
#include "tests/support/gmtest.h"

namespace {

using gmtest::Long;
using gmtest::ReadFrame;

constexpr u32 kOtherOwner = 99;
const char* const kTable = "ERP|SA1010";

using gmtest::Holds;

class DBServerEnd : public gmtest::DBServerTest {
protected:
    void SetUp() override {
        DBServerTest::SetUp();
        ScriptConnections();
    }
    tRecordLockEngine& Records() { return *globals->GetRecordLockServer(); }
    tVirtualLockEngine& Virtuals() { return *globals->GetVirtualLockServer(); }

    // Locks of every kind held by owner: a record, a table and a key.
    void TakeLocks(u32 owner) {
        tString info;
        ASSERT_TRUE(Records().RLock(owner, 1, kTable, 5, 0));
        ASSERT_TRUE(Records().FLock(owner, 2, "ERP|SB1010", 0));
        ASSERT_TRUE(Virtuals().VLock(owner, "KEY", 0, "ERP", info));
    }
    // Whether another owner can take each of those at once.
    void ExpectFree() {
        tString info;
        EXPECT_TRUE(Records().RLock(kOtherOwner, 1, kTable, 5, 0));
        EXPECT_TRUE(Records().FLock(kOtherOwner, 2, "ERP|SB1010", 0));
        EXPECT_TRUE(Virtuals().VLock(kOtherOwner, "KEY", 0, "ERP", info));
    }
};

TEST_F(DBServerEnd, DoneReleasesLocksOpeningsAndFilesOfItsOwner) {
    auto session = OpenConnected();
    session->Disconnect();
    tDBServer& server = *session->server;
    const u32 owner = server.GetThreadId();
    TakeLocks(owner);
    // An open table file registered as an exclusive opening, as the open handler leaves it.
    auto def = std::make_shared<tTableDefinitionShared>("SD1010", "ERP");
    ASSERT_TRUE(
        Records().SetOpen(owner, static_cast<i32>(def->GetLockBucket()), def->GetFullName(), 1, 0));
    const i16 id = server.GetFreeFileId();
    server.SetFile(id, std::make_unique<gmtest::TestFile>(server.GetDBConnection(), def,
                                                          *server.GetCommBuffer(), owner));
    server.Done();
    ExpectFree();
    EXPECT_TRUE(Records().SetOpen(kOtherOwner, static_cast<i32>(def->GetLockBucket()),
                                  def->GetFullName(), 1, 0));
    EXPECT_EQ(server.GetFileCount(), 0);
    EXPECT_EQ(server.GetProperties(), nullptr);
    EXPECT_EQ(script.calls, std::vector<std::string>{"conn deleted"});  // no transaction open
    EXPECT_EQ(globals->GetActiveConnections(), 0u);
}

TEST_F(DBServerEnd, DoneRollsBackAnOpenTransactionAndAuditsItWhenTheLevelAsks) {
    const struct {
        const char* level;
        size_t records;
    } cases[] = {{"2", 0}, {"3", 1}};
    script.inTransaction = true;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.level);
        StartGlobals(std::string("AuditLog=1\nAuditServer=aud\nAuditLevel=") + c.level + "\n");
        ScriptConnections();
        script.calls.clear();
        gmtest::AuditRecorder recorder;
        gmtest::RecordingAuditMaker maker(recorder);
        gmtest::ConsoleCapture console;
        auto session = OpenConnected();
        session->Disconnect();
        EXPECT_TRUE(Holds(console.Get(), ") [WARNING] Exit with active transaction.\n"));
        const std::string key = session->server->GetConnectionKey().GetText();
        char rolledBack[16];  // the rollback moves the audit sequence on before the record
        std::snprintf(rolledBack, sizeof rolledBack, "%09u",
                      session->server->GetDBConnection()->GetAuditSeq() + 1);
        session->End();
        EXPECT_EQ(script.calls,
                  (std::vector<std::string>{"conn Rollback", "conn EndCmtCtl", "conn deleted"}));
        const std::vector<std::string> records = recorder.Records();
        ASSERT_EQ(records.size(), c.records);
        if (c.records) {
            EXPECT_EQ(records[0], "R||0|||" + key + rolledBack + "|(none)");
        }
        EXPECT_EQ(recorder.released, 1);
    }
}

TEST_F(DBServerEnd, TerminateReleasesAtOnceAndTheLoopLeavesWithinItsWait) {
    auto bystander = OpenConnected();  // keeps one user counted
    auto session = OpenConnected();
    tDBServer& server = *session->server;
    const std::string id = std::to_string(server.GetThreadId());
    TakeLocks(server.GetThreadId());
    gmtest::ConsoleCapture console;
    server.Terminate(0);  // as a monitor's kill, from another thread
    EXPECT_EQ(globals->GetUserConnections(), 1u);
    ExpectFree();
    session->Join();  // the idle wait ends, the loop sees the stop
    EXPECT_EQ(session->result, 1);
    server.Terminate(1);
    const std::string text = console.Get();
    EXPECT_TRUE(Holds(text, "[TERMINATE] Thread (" + id + ") KILLED / TERMINATED - Thread ID ["));
    EXPECT_TRUE(Holds(text, "Exit GmlClient Thread (" + id + ") [TERMINATED] (IOs 0 / RCV "));
    EXPECT_TRUE(Holds(text, "[TERMINATE] WARNING : Thread (" + id + ") ALREADY HAS TERMINATED - "));
    // A lock taken while the kill ran is still released by Done; the user is not uncounted again.
    Records().RUnLock(kOtherOwner, 1, kTable, 0, 0);
    ASSERT_TRUE(Records().RLock(server.GetThreadId(), 1, kTable, 5, 0));
    server.Done();
    EXPECT_TRUE(Records().RLock(kOtherOwner + 1, 1, kTable, 5, 0));
    EXPECT_EQ(globals->GetUserConnections(), 1u);
    EXPECT_EQ(globals->GetActiveConnections(), 1u);
    bystander->Disconnect();
    bystander->End();
}

TEST_F(DBServerEnd, SessionIdAndAuditIdNameTheConnection) {
    StartGlobals("AuditLog=1\nAuditServer=aud\n");
    ScriptConnections();
    gmtest::AuditRecorder recorder;
    recorder.writeResult = -7;
    gmtest::RecordingAuditMaker maker(recorder);
    auto session = OpenConnected();
    tDBServer& server = *session->server;
    const u32 id = server.GetThreadId();
    EXPECT_EQ(session->Exchange(OP_GETSID), Long(static_cast<i32>(id)));
    session->Disconnect();

    const std::string key = server.GetConnectionKey().GetText();
    char tail[13];
    std::snprintf(tail, sizeof tail, "%012u", id);
    ASSERT_EQ(key.size(), std::string("127.0.0.1").size() + 14 + 12);
    EXPECT_EQ(key.substr(0, 9), "127.0.0.1");
    EXPECT_EQ(key.substr(key.size() - 12), tail);
    const u32 seq = server.GetDBConnection()->GetAuditSeq();
    char number[16];
    std::snprintf(number, sizeof number, "%09u", seq);
    EXPECT_EQ(std::string(server.GetAuditId()), key + number);

    EXPECT_EQ(server.WriteAudit("I", "SA1010", 12, "a", "b", nullptr), -7);
    EXPECT_EQ(server.WriteAudit("U", "SA1010", 3, "FIELD", "old", "new"), -7);
    EXPECT_EQ(recorder.Records(),
              (std::vector<std::string>{"I|SA1010|12|a|b|" + key + number + "|(none)",
                                        "U|SA1010|3|FIELD|old|" + key + number + "|new"}));
    session->End();
}

TEST_F(DBServerEnd, WriteAuditWithoutAHandleFails) {
    tDBServer server;
    EXPECT_EQ(server.WriteAudit("I", "SA1010", 1, "", "", nullptr), RC_NOT_CONNECTED);
}

TEST_F(DBServerEnd, CheckTransactionRefusesOnlyInsideCommitControl) {
    auto session = OpenConnected();
    session->Disconnect();
    tDBServer& server = *session->server;
    tDBConnection& conn = *server.GetDBConnection();
    conn.SetError(RC_NO_RECORD, nullptr, "earlier", nullptr);
    EXPECT_TRUE(server.CheckTransaction("tDBServer::CreateFile", "SA1010"));
    tString error;
    EXPECT_EQ(conn.GetLastErrorInfo(error), RC_NO_RECORD);  // left as it was
    conn.StrCmtCtl();
    EXPECT_FALSE(server.CheckTransaction("tDBServer::CreateFile", "SA1010"));
    EXPECT_EQ(conn.GetLastErrorInfo(error), RC_FAILED);
    EXPECT_EQ(
        std::string(error.GetText())
            .rfind("GML Error -19 - [ERROR] (from tDBServer::CreateFile - table SA1010) Invalid "
                   "operation with active transaction.\n ( From tDBServer::CreateFile )",
                   0),
        0u)
        << error.GetText();
    conn.EndCmtCtl();
    session->End();
}

TEST_F(DBServerEnd, ExceptionReportNamesTheConnection) {
    {
        SCOPED_TRACE("never registered: the tabs stay");
        tDBServer server;
        gmtest::ConsoleCapture console;
        server.DoShowException();
        EXPECT_EQ(console.Get(),
                  "\n**** TDBSERVER DOSHOWEXCEPTION INFO ****\nThread\t0\nEnvironment\t\nLast "
                  "Op\tOP_NULL\nDetails\t\n****************************************\n");
    }
    SCOPED_TRACE("registered: every tab becomes a line break");
    auto session = OpenConnected();
    session->Disconnect();
    gmtest::ConsoleCapture console;
    session->server->DoShowException();
    const std::string text = console.Get();
    const std::string id = std::to_string(session->server->GetThreadId());
    EXPECT_EQ(text.rfind("\n**** TDBSERVER DOSHOWEXCEPTION INFO ****\nThread\n" + id +
                             "\nEnvironment\nERP\nLast Op\nOP_DISCONNECT\nDetails\n\n",
                         0),
              0u)
        << text;
    EXPECT_EQ(text.find('\t'), std::string::npos);
    session->End();
}

TEST_F(DBServerEnd, ProfiledConnectionDumpsItsCallsAtTheEnd) {
    StartGlobals("GlbProfiler=1\n");
    ScriptConnections();
    auto session = OpenConnected();
    session->Exchange(OP_GETSID);
    session->Disconnect();
    gmtest::ConsoleCapture console;
    session->End();
    const std::string text = console.Get();
    const std::string dashes(79, '-');
    EXPECT_EQ(text.rfind(dashes + "\n", 0), 0u) << text;
    EXPECT_TRUE(Holds(text, "[INFO] Operation Calls :\n"));
    EXPECT_TRUE(Holds(text, "OP_GETSID....."));
    EXPECT_TRUE(Holds(text, "OP_CONNSETUP.."));
    EXPECT_TRUE(Holds(text, dashes + "\n"));
}

TEST_F(DBServerEnd, TracedConnectionLeavesItsLinesAndGivesUpOnAnAbsentMonitor) {
    auto session = OpenConnected();
    session->Disconnect();
    tDBServer& server = *session->server;
    tString summary;
    ASSERT_TRUE(globals->GetThreads()->SetThreadTrace(server.GetThreadId(), 1, true, summary));
    gmtest::ConsoleCapture console;
    server.Done();  // nobody fetches the lines: Done waits its rounds, then empties them
    EXPECT_TRUE(Holds(console.Get(), "[WARNING] Trace in progress EXIT without notify Monitor.\n"));
    session->server.reset();
}

TEST_F(DBServerEnd, FileIdsAreReusedLowestFirst) {
    tDBServer server;
    server.SetCommBuffer(std::make_unique<tCommBuffer>());
    gmtest::TestConnection conn;
    auto file = [&] {
        return std::make_unique<gmtest::TestFile>(
            &conn, std::make_shared<tTableDefinitionShared>("SA1010", "ERP"),
            *server.GetCommBuffer(), 1);
    };
    for (i16 expected : {1, 2, 3}) {
        const i16 id = server.GetFreeFileId();
        EXPECT_EQ(id, expected);
        server.SetFile(id, file());
    }
    EXPECT_NE(server.TakeFile(1), nullptr);
    EXPECT_EQ(server.GetFile(1), nullptr);
    EXPECT_EQ(server.GetFreeFileId(), 1);
    EXPECT_EQ(server.GetFileCount(), 3);
    for (i16 bad : {0, -1, 4}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(gmtest::AssertText([&] { server.GetFile(bad); }), "file id out of range");
    }
}

// A table file that tells when the connection asks it to release its record statement.
class IdleFile : public gmtest::TestFile {
public:
    using gmtest::TestFile::TestFile;
    void ReleaseRecnoStmt() override { released.Set(); }
    plat::ManualResetEvent released;
};

TEST_F(DBServerEnd, IdleConnectionReleasesStatementsAndStaysServed) {
    IdleFile* idle = nullptr;
    auto session = OpenConnected("MSSQL/ERP", "ERP", [&idle](tDBServer& server) {
        auto file = std::make_unique<IdleFile>(
            nullptr, std::make_shared<tTableDefinitionShared>("SA1010", "ERP"),
            *server.GetCommBuffer(), server.GetThreadId());
        idle = file.get();
        server.SetFile(server.GetFreeFileId(), std::move(file));
    });
    ASSERT_NE(idle, nullptr);
    EXPECT_TRUE(idle->released.Wait(20000));  // one idle wait (1 s here) passes without a request
    EXPECT_EQ(session->Exchange(OP_GETSID), Long(static_cast<i32>(session->server->GetThreadId())));
    session->Disconnect();
    session->End();
}

}  // namespace
