// Record changes over a client connection, with a scripted open file: the append's reply and its
// refusal codes, the code of an update, deletion or recall passed through, the units of work
// closed by changes, audit records and their failures, the update of a query file, the
// operation details, and malformed requests of every table handler.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "lib_common/opcodes.h"
#include "lib_common/retcodes.h"
#include "server/dispatch/dbserver.h"
#include "server/isam/dbconn.h"
#include "tests/server/dispatch/support/recordfile.h"
#include "tests/server/support/recordingaudit.h"
#include "tests/support/gmtest.h"

namespace {

using gmtest::Long;
using gmtest::Short;
using gmtest::Status;

using Calls = std::vector<std::string>;

// The audit sequence number of a connection that has just connected (1, and its first unit).
constexpr u32 kConnectedSeq = 2;

const std::string kUpdate5 = Short(1) + Long(5) + "WXYZ";
const std::string kRecno5 = Short(1) + Long(5);

using gmtest::Holds;

class WriteHandlers : public gmtest::RecordHandlerTest {};

TEST_F(WriteHandlers, AppendRepliesTheNewRecordAndStatusOrItsCodeAlone) {
    const struct {
        bool ok;
        i32 native;
        std::string reply;
        u32 seq;  // a written record closes its unit of work
    } cases[] = {
        {true, 0, Short(RC_OK) + gmtest::Double(7) + Status(), kConnectedSeq + 1},
        {false, gmtest::ScriptedConnection::kDuplicateKeyError, Short(RC_DUPLICATE_KEY),
         kConnectedSeq},
        {false, 50000, Short(RC_DUPLICATE_KEY), kConnectedSeq},  // the database's user error
        {false, 99, Short(RC_APPEND_FAILED), kConnectedSeq},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.native);
        file.writeOk = c.ok;
        file.nativeError = c.native;
        file.calls.clear();
        auto session = OpenWithFile();
        EXPECT_EQ(session->Exchange(OP_WRITE, Short(1) + "ABCD"), c.reply);
        session->Disconnect();
        EXPECT_EQ(file.Calls(), Calls{"Write ABCD"});
        EXPECT_EQ(session->server->GetDBConnection()->GetAuditSeq(), c.seq);
        session->End();
    }
}

TEST_F(WriteHandlers, UpdateDeleteAndRecallPassTheFileCodeAndCloseTheUnitOnSuccess) {
    const struct {
        i16 opcode;
        std::string payload;
        std::string call;
    } requests[] = {
        {OP_UPDATE, kUpdate5, "Update 5 WXYZ"},
        {OP_DELETE, kRecno5, "DeleteR 5"},
        {OP_RECALL, kRecno5, "RecallR 5"},
        {OP_DELETE, Short(1) + Long(-1), "DeleteR -1"},  // widened as it came
    };
    for (const i16 code : {RC_OK, RC_LOCKED, RC_NO_UPDATE, RC_NO_DELETE, RC_DUPLICATE_KEY}) {
        for (const auto& r : requests) {
            SCOPED_TRACE(r.call + " " + std::to_string(code));
            file.code = code;
            file.calls.clear();
            auto session = OpenWithFile();
            EXPECT_EQ(session->Exchange(r.opcode, r.payload), Short(code));
            session->Disconnect();
            EXPECT_EQ(file.Calls(), Calls{r.call});
            EXPECT_EQ(session->server->GetDBConnection()->GetAuditSeq(),
                      kConnectedSeq + (code == RC_OK ? 1 : 0));
            session->End();
        }
    }
}

TEST_F(WriteHandlers, FileIdWithoutAFileRepliesMinusTenAndTouchesNothing) {
    auto session = OpenWithFile();
    EXPECT_EQ(session->Exchange(OP_WRITE, Short(2) + "ABCD"), Short(RC_NO_OPEN_FILE));
    EXPECT_EQ(session->Exchange(OP_UPDATE, Short(2) + Long(5) + "ABCD"), Short(RC_NO_OPEN_FILE));
    EXPECT_EQ(session->Exchange(OP_DELETE, Short(2) + Long(5)), Short(RC_NO_OPEN_FILE));
    EXPECT_EQ(session->Exchange(OP_RECALL, Short(2) + Long(5)), Short(RC_NO_OPEN_FILE));
    session->Disconnect();
    EXPECT_TRUE(file.Calls().empty());
    EXPECT_EQ(session->server->GetDBConnection()->GetAuditSeq(), kConnectedSeq);
    session->End();
}

TEST_F(WriteHandlers, UpdateOfAQueryFileIsRefusedBeforeItsRecordIsRead) {
    file.query = true;
    auto session = OpenWithFile();
    EXPECT_EQ(session->Exchange(OP_UPDATE, kUpdate5), Short(RC_NO_OPEN_FILE));
    session->Disconnect();
    EXPECT_TRUE(file.Calls().empty());
    tString error;
    EXPECT_EQ(session->server->GetDBConnection()->GetLastErrorInfo(error), RC_FAILED);
    EXPECT_TRUE(Holds(error.GetText(),
                      "GML Error -19 - Invalid Operation - Update NOT ALLOWED on "
                      "Query File.\n ( From tDBServer::Update )"))
        << error.GetText();
    session->End();
}

// Each change is audited as its letter with the table and record number, under the audit id of
// its own unit of work; an update only up to level 1, above which the file audits its changed
// fields itself.
TEST_F(WriteHandlers, AuditRecordsFollowTheSwitchAndTheLevel) {
    struct Record {
        std::string head;
        u32 seq;
    };
    const Record write{"I|SA1010|7", kConnectedSeq + 1}, update{"U|SA1010|5", kConnectedSeq + 2},
        deletion{"D|SA1010|5", kConnectedSeq + 3}, recall{"L|SA1010|5", kConnectedSeq + 4};
    const struct {
        const char* ini;
        std::vector<Record> records;
    } cases[] = {
        {"AuditLog=1\nAuditServer=aud\nAuditLevel=1\n", {write, update, deletion, recall}},
        {"AuditLog=1\nAuditServer=aud\nAuditLevel=2\n", {write, deletion, recall}},
        {"AuditLog=0\nAuditServer=aud\n", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ini);
        gmtest::AuditRecorder recorder;
        gmtest::RecordingAuditMaker maker(recorder);
        auto session = OpenWithFile(c.ini);
        EXPECT_EQ(session->Exchange(OP_WRITE, Short(1) + "ABCD").substr(0, 2), Short(RC_OK));
        EXPECT_EQ(session->Exchange(OP_UPDATE, kUpdate5), Short(RC_OK));
        EXPECT_EQ(session->Exchange(OP_DELETE, kRecno5), Short(RC_OK));
        EXPECT_EQ(session->Exchange(OP_RECALL, kRecno5), Short(RC_OK));
        session->Disconnect();
        const std::string key = session->server->GetConnectionKey().GetText();
        const std::vector<std::string> records = recorder.Records();
        ASSERT_EQ(records.size(), c.records.size());
        for (size_t i = 0; i < records.size(); ++i) {
            char id[16];
            std::snprintf(id, sizeof id, "%09u", c.records[i].seq);
            EXPECT_EQ(records[i], c.records[i].head + "|||" + key + id + "|(none)");
        }
        session->End();
    }
}

// The change stays made; the reply says that its audit record is missing, the client library's
// own failure code as -86.
TEST_F(WriteHandlers, FailedAuditReplacesTheReplyOfAChangeThatStays) {
    for (const i16 failure : {RC_AUDIT_FAILED, RC_COMM_FAILURE}) {
        SCOPED_TRACE(failure);
        gmtest::AuditRecorder recorder;
        recorder.writeResult = failure;
        gmtest::RecordingAuditMaker maker(recorder);
        file.calls.clear();
        gmtest::ConsoleCapture console;  // the -88 warning
        auto session = OpenWithFile("AuditLog=1\nAuditServer=aud\n");
        const i16 wire = failure == RC_COMM_FAILURE ? RC_CLIENT_CODE_REPLACED : failure;
        EXPECT_EQ(session->Exchange(OP_WRITE, Short(1) + "ABCD"), Short(wire));
        EXPECT_EQ(session->Exchange(OP_UPDATE, kUpdate5), Short(wire));
        EXPECT_EQ(session->Exchange(OP_DELETE, kRecno5), Short(wire));
        EXPECT_EQ(session->Exchange(OP_RECALL, kRecno5), Short(wire));
        session->Disconnect();
        EXPECT_EQ(file.Calls(), (Calls{"Write ABCD", "Update 5 WXYZ", "DeleteR 5", "RecallR 5"}));
        EXPECT_EQ(recorder.Records().size(), 4u);
        session->End();
    }
}

TEST_F(WriteHandlers, OperationLogCarriesEachChangesDetails) {
    const struct {
        i16 opcode;
        std::string payload;
        bool ok;
        std::string details;
    } cases[] = {
        {OP_WRITE, Short(1) + "ABCD", true, "SA1010[OK] Table SA1010 Record 7"},
        {OP_WRITE, Short(1) + "ABCD", false, "SA1010[FAILED] Table SA1010 Error 4294967269"},
        {OP_UPDATE, kUpdate5, true, "SA1010Table : SA1010 Record : 5 RetCode : 0"},
        {OP_UPDATE, kUpdate5, false, "SA1010Table : SA1010 Record : 5 RetCode : 4294967267"},
        {OP_DELETE, Short(1) + Long(-1), true, "SA1010 Recno 4294967295"},
        {OP_RECALL, kRecno5, true, "SA1010 Recno 5"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.details);
        file.writeOk = c.ok;
        file.nativeError = 99;
        file.code = c.ok ? RC_OK : RC_NO_UPDATE;
        gmtest::ConsoleCapture console;
        auto session = OpenWithFile("UseTraceLog=1\n");
        session->Exchange(c.opcode, c.payload);
        session->Disconnect();
        EXPECT_TRUE(Holds(console.Get(), "\tDetails: " + c.details + "\n")) << console.Get();
        session->End();
    }
}

// A request too short for its arguments (or its record) ends the connection without a reply,
// before the file is asked anything.
TEST_F(WriteHandlers, MalformedRequestsEndTheConnectionAndChangeNothing) {
    const struct {
        i16 opcode;
        std::string payload;
    } cases[] = {
        {OP_WRITE, Short(1) + "ABC"},
        {OP_WRITE, std::string(1, '\x01')},
        {OP_UPDATE, Short(1) + Long(5) + "WX"},
        {OP_UPDATE, Short(1) + "\x05"},
        {OP_DELETE, Short(1) + "\x05\x00"},
        {OP_RECALL, Short(1)},
        {OP_LOCK, Short(1) + "\x00" + "\x05\x00\x00"},
        {OP_UNLOCK, Short(1)},
        {OP_SETKEY, Short(1) + "\x02"},
        {OP_SETDELEON, Short(1)},
        {OP_SETFIELDMAP, Short(1) + "A1_COD"},  // no NUL ends the list
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(OpcodeName(c.opcode));
        file.calls.clear();
        auto session = OpenWithFile();
        ASSERT_TRUE(session->Send(gmtest::Request(c.opcode, c.payload)));
        session->Join();
        EXPECT_TRUE(file.Calls().empty());
        EXPECT_EQ(session->server->GetDBConnection()->GetAuditSeq(), kConnectedSeq);
        session->End();
        EXPECT_EQ(gmtest::ReadFrame(*session->client), gmtest::kClosed);
    }
}

}  // namespace
