// Transaction requests over a client connection to a scripted database: the monitor's
// in-transaction mark, the codes of a database without transactions, the trace lines, the units
// of work that commit control opens and closes, and the audit records of level 3 with their ids.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "lib_common/opcodes.h"
#include "lib_common/retcodes.h"
#include "server/dispatch/dbserver.h"
#include "server/isam/dbconn.h"
#include "server/runtime/gmlthreads.h"
#include "tests/server/dispatch/support/recordfile.h"
#include "tests/server/support/recordingaudit.h"
#include "tests/support/gmtest.h"

namespace {

using gmtest::Short;

using Lines = std::vector<std::string>;

class TransactionHandlers : public gmtest::DBServerTest {
protected:
    void SetUp() override { ScriptConnections(); }

    static std::string InTran(tDBServer& server) {
        tString text;
        server.GetProperties()->DescribeThread(text, false);
        const std::string line = text.GetText();
        const size_t at = line.find("InTran [");
        if (at == std::string::npos) return "(none)";
        return line.substr(at, line.find(']', at) + 1 - at);
    }
    // The handlers' trace lines, without the connection's own.
    static Lines Traces(tDBServer& server) {
        Lines lines;
        for (const auto& line : gmtest::TakeTraces(server)) {
            if (line.rfind("(tDBServer::Execute)", 0) != 0) lines.push_back(line);
        }
        return lines;
    }
};

TEST_F(TransactionHandlers, CommitControlSetsTheMarkAndEachRequestTracesItsOutcome) {
    const struct {
        bool supported;
        i16 code;
        const char* beginMark;
        const char* outcome;
    } cases[] = {
        {true, RC_OK, "InTran [Yes]", "OK"},
        {false, RC_NOT_SUPPORTED, "InTran [No]", "FAILED"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.outcome);
        script.transactions = c.supported;
        auto session = OpenConnected();
        tDBServer& server = *session->server;
        server.GetProperties()->SetTraced(1);
        EXPECT_EQ(InTran(server), "InTran [No]");
        EXPECT_EQ(session->Exchange(OP_STRCMTCTL), Short(c.code));
        EXPECT_EQ(InTran(server), c.beginMark);
        EXPECT_EQ(session->Exchange(OP_COMMIT), Short(c.code));
        EXPECT_EQ(session->Exchange(OP_ROLLBACK), Short(c.code));
        EXPECT_EQ(session->Exchange(OP_ENDCMTCTL), Short(c.code));
        EXPECT_EQ(InTran(server), "InTran [No]");
        session->Disconnect();
        const std::string o = c.outcome;
        EXPECT_EQ(Traces(server), (Lines{"(tDBServer::StrCmtCtl) -- Begin Transaction " + o,
                                         "(tDBServer::Commit) -- Commit Transaction " + o,
                                         "(tDBServer::Rollback) -- ROLLBACK Transaction " + o,
                                         "(tDBServer::EndCmtCtl) -- End Transaction " + o}));
        session->End();
    }
}

// Commit control closes the unit of work that the connect opened; changes inside it share one
// audit id; a rollback moves past it; ending the block opens the next unit.
TEST_F(TransactionHandlers, AuditRecordsOfLevelThreeCarryTheUnitOfWorkInTheirIds) {
    const struct {
        const char* level;
        Lines records;  // action and sequence number
    } cases[] = {
        {"2", {}},
        {"3", {"B 2", "C 2", "R 3"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.level);
        StartGlobals(std::string("AuditLog=1\nAuditServer=aud\nAuditLevel=") + c.level + "\n");
        ScriptConnections();
        gmtest::AuditRecorder recorder;
        gmtest::RecordingAuditMaker maker(recorder);
        auto session = OpenConnected();
        EXPECT_EQ(session->Exchange(OP_STRCMTCTL), Short(RC_OK));
        EXPECT_EQ(session->Exchange(OP_COMMIT), Short(RC_OK));
        EXPECT_EQ(session->Exchange(OP_ROLLBACK), Short(RC_OK));
        EXPECT_EQ(session->Exchange(OP_ENDCMTCTL), Short(RC_OK));
        session->Disconnect();
        EXPECT_EQ(session->server->GetDBConnection()->GetAuditSeq(), 4u);
        const std::string key = session->server->GetConnectionKey().GetText();
        Lines expected;
        for (const auto& r : c.records) {
            char id[16];
            std::snprintf(id, sizeof id, "%09u", static_cast<u32>(std::stoul(r.substr(2))));
            expected.push_back(r.substr(0, 1) + "||0|||" + key + id + "|(none)");
        }
        EXPECT_EQ(recorder.Records(), expected);
        session->End();
    }
}

// The database's part is done; the reply says that its audit record is missing, and the mark
// follows the database.
TEST_F(TransactionHandlers, FailedAuditReplacesTheCodeOfADoneRequest) {
    StartGlobals("AuditLog=1\nAuditServer=aud\nAuditLevel=3\n");
    ScriptConnections();
    gmtest::AuditRecorder recorder;
    recorder.writeResult = RC_AUDIT_FAILED;
    gmtest::RecordingAuditMaker maker(recorder);
    auto session = OpenConnected();
    EXPECT_EQ(session->Exchange(OP_STRCMTCTL), Short(RC_AUDIT_FAILED));
    EXPECT_EQ(InTran(*session->server), "InTran [Yes]");
    EXPECT_EQ(session->Exchange(OP_COMMIT), Short(RC_AUDIT_FAILED));
    EXPECT_EQ(session->Exchange(OP_ENDCMTCTL), Short(RC_OK));  // never audited
    EXPECT_EQ(InTran(*session->server), "InTran [No]");
    session->Disconnect();
    EXPECT_EQ(recorder.Records().size(), 2u);
    EXPECT_EQ(script.calls, (Lines{"conn Commit", "conn EndCmtCtl"}));
    session->End();
}

}  // namespace
