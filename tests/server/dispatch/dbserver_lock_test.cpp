// Record and table locks over a client connection, with a scripted open file: the replies of a
// granted, refused and failed lock with their trace lines and the holder's text, the owner
// information sent to the engine before the first lock only, a read-only connection's refusal,
// and unlocks that always succeed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lib_common/opcodes.h"
#include "lib_common/retcodes.h"
#include "server/dispatch/dbserver.h"
#include "server/isam/dbconn.h"
#include "server/locks/lockengine.h"
#include "server/runtime/gmlthreads.h"
#include "tests/server/dispatch/support/recordfile.h"
#include "tests/support/gmtest.h"

namespace {

using gmtest::Long;
using gmtest::Short;
using gmtest::Status;

using Lines = std::vector<std::string>;

std::string LockArgs(i16 id, u8 table, i32 recno) {
    return Short(id) + std::string(1, static_cast<char>(table)) + Long(recno);
}

// The trace lines of one routine.
Lines Of(const Lines& lines, const std::string& routine) {
    Lines kept;
    for (const auto& line : lines) {
        if (line.rfind("(" + routine + ") ", 0) == 0) kept.push_back(line);
    }
    return kept;
}

class LockHandlers : public gmtest::RecordHandlerTest {};

TEST_F(LockHandlers, GrantSendsTheRecordRefusalKeepsTheHolderAndEveryCodeTheStatus) {
    const struct {
        i16 code;
        u8 table;
        i32 recno;
        std::string reply;
        Lines calls;
        std::string trace;
        std::string lockText;
    } cases[] = {
        {RC_OK,
         0,
         5,
         Short(RC_OK) + gmtest::SentRecord(7, "----") + Status(),
         {"Lock 0 5"},
         "-- Lock SA1010 Recno 5 [RECORD_OP] OK",
         ""},
        {RC_LOCKED,
         0,
         5,
         Short(RC_LOCKED) + Status(),
         {"Lock 0 5", "GetLockOwner 5"},
         "-- Lock SA1010 Recno 5 [RECORD_OP] FAILED - OWNER bia|posting",
         "bia|posting"},
        {RC_NO_RECORD,
         0,
         -2,
         Short(RC_NO_RECORD) + Status(),
         {"Lock 0 -2"},
         "-- Lock SA1010 Recno 4294967294 [RECORD_OP] OK",
         ""},
        {RC_OK,
         1,
         0,
         Short(RC_OK) + gmtest::SentRecord(7, "----") + Status(),
         {"Lock 1 0"},
         "-- Lock SA1010 Recno 0 [FILE_OP] OK",
         ""},
        {RC_LOCKED,
         1,
         0,
         Short(RC_LOCKED) + Status(),
         {"Lock 1 0", "GetLockOwner 0"},
         "-- Lock SA1010 Recno 0 [FILE_OP] FAILED - OWNER bia|posting",
         "bia|posting"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.trace);
        file.code = c.code;
        file.calls.clear();
        auto session = OpenWithFile();
        session->server->GetProperties()->SetTraced(1);
        EXPECT_EQ(session->Exchange(OP_LOCK, LockArgs(1, c.table, c.recno)), c.reply);
        session->Disconnect();
        EXPECT_EQ(file.Calls(), c.calls);
        EXPECT_EQ(Of(gmtest::TakeTraces(*session->server), "tDBServer::Lock"),
                  Lines{"(tDBServer::Lock) " + c.trace});
        EXPECT_EQ(session->server->GetLockText().GetText(), c.lockText);
        session->End();
    }
}

// The engine learns the application user and the thread comment before the connection's first
// lock; later locks leave what it knows alone.
TEST_F(LockHandlers, OwnerInformationGoesToTheEngineBeforeTheFirstLockOnly) {
    tRecordLockEngine& engine = *globals->GetRecordLockServer();
    auto session = OpenWithFile();
    const u32 owner = session->server->GetThreadId();
    ASSERT_TRUE(engine.RLock(owner, 3, "ERP|SB1010", 1, 0));
    const auto holder = [&] {
        tString info;
        engine.LockOwnerInfo(3, "ERP|SB1010", 1, info);
        return std::string(info.GetText());
    };
    EXPECT_EQ(holder(), "Internal|Lock owner not found.");  // nothing told yet
    EXPECT_EQ(session->Exchange(OP_LOCK, LockArgs(1, 0, 5)).substr(0, 2), Short(RC_OK));
    EXPECT_EQ(holder(), "ERP|");  // the program as the user; no comment yet
    engine.SetOwnerInfo(owner, "set elsewhere", 0);
    EXPECT_EQ(session->Exchange(OP_LOCK, LockArgs(1, 0, 6)).substr(0, 2), Short(RC_OK));
    EXPECT_EQ(holder(), "set elsewhere");
    session->Disconnect();
    session->End();
}

TEST_F(LockHandlers, ReadOnlyConnectionRefusesLocksButStillUnlocks) {
    auto session = OpenWithFile("ReadOnly=1\n");
    EXPECT_EQ(session->Exchange(OP_LOCK, LockArgs(1, 0, 5)), Short(RC_FAILED) + Status());
    EXPECT_EQ(session->Exchange(OP_LOCK, LockArgs(1, 1, 0)), Short(RC_FAILED) + Status());
    EXPECT_EQ(session->Exchange(OP_UNLOCK, LockArgs(1, 0, 5)), Short(RC_OK));
    session->Disconnect();
    EXPECT_EQ(file.Calls(), Lines{"Unlock 0 5"});
    EXPECT_EQ(std::string(session->server->GetLockText().GetText()),
              "Gatemill|Lock Operation not supported on READONLY Connection.");
    tString error;
    EXPECT_EQ(session->server->GetDBConnection()->GetLastErrorInfo(error), RC_FAILED);
    EXPECT_EQ(std::string(error.GetText())
                  .rfind("GML Error -19 - [WARNING] Lock Operation not supported on READONLY "
                         "Connection.\n ( From tDBServer::Lock )",
                         0),
              0u)
        << error.GetText();
    session->End();
}

TEST_F(LockHandlers, UnlockRepliesZeroWhateverTheFileAnswers) {
    auto session = OpenWithFile();
    session->server->GetProperties()->SetTraced(1);
    EXPECT_EQ(session->Exchange(OP_UNLOCK, LockArgs(1, 0, 5)), Short(RC_OK));  // not held
    EXPECT_EQ(session->Exchange(OP_UNLOCK, LockArgs(1, 1, 0)), Short(RC_OK));
    EXPECT_EQ(session->Exchange(OP_UNLOCK, LockArgs(2, 0, 5)), Short(RC_NO_OPEN_FILE));
    EXPECT_EQ(session->Exchange(OP_LOCK, LockArgs(2, 0, 5)), Short(RC_NO_OPEN_FILE));
    session->Disconnect();
    EXPECT_EQ(file.Calls(), (Lines{"Unlock 0 5", "Unlock 1 0"}));
    EXPECT_EQ(Of(gmtest::TakeTraces(*session->server), "tDBServer::Lock"),
              (Lines{"(tDBServer::Lock) -- Unlock SA1010 Recno 5 [RECORD_OP]",
                     "(tDBServer::Lock) -- Unlock SA1010 Recno 0 [FILE_OP]"}));
    session->End();
}

}  // namespace
