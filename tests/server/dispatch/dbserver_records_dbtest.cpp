// Record changes, locks, index order and transactions by client connections against the private
// PostgreSQL: appends, updates, deletion marks and recalls read back through the moves and in
// the table; a duplicate key; audit failures on the wire; locks of two connections on one table
// with the refusal's trace; rows in an index's order with deleted rows hidden; rows written
// inside a transaction, rolled back, committed and unseen by others until then.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "lib_common/opcodes.h"
#include "lib_common/retcodes.h"
#include "server/dispatch/dbserver.h"
#include "server/isam/dbconn.h"
#include "server/tables/dbtable.h"
#include "tests/client/support/fakeserver.h"
#include "tests/client/support/wirebytes.h"
#include "tests/server/dispatch/support/dbserverpg.h"
#include "tests/server/dispatch/support/tracelines.h"
#include "tests/server/support/recordingaudit.h"
#include "tests/support/gmtest.h"

namespace {

using gmtest::ClientesRecord;
using gmtest::Long;
using gmtest::Short;

const std::string kOpenTable = std::string("CLIENTES") + '\0' + '\0' + '\0';
constexpr i16 kFileId = 1;
constexpr size_t kStatusLength = 7;  // BOF, EOF, FOUND and the record counter

std::string Recno(i32 recno) { return Short(kFileId) + Long(recno); }

std::string LockArgs(u8 table, i32 recno) {
    return Short(kFileId) + static_cast<char>(table) + Long(recno);
}

// The code of a reply.
i16 Code(const std::string& reply) {
    i16 code = 0;
    if (reply.size() >= 2) std::memcpy(&code, reply.data(), 2);
    return code;
}

// What a reply of 0 sends after its code: the record number, then (moves only) the record.
f64 SentRecno(const std::string& reply) {
    f64 recno = 0;
    if (reply.size() >= 10) std::memcpy(&recno, reply.data() + 2, sizeof recno);
    return recno;
}
std::string SentRecord(const std::string& reply) {
    return reply.size() >= 10 + kStatusLength ? reply.substr(10, reply.size() - 10 - kStatusLength)
                                              : "(none)";
}

using gmtest::Holds;

// CLIENTES with three rows (N001 SP, N002 RJ, N004 BH as records 1 to 3), NOME unique, indexed
// by CLIENTES1 (CIDADE); client connections that have it open under id 1.
class DBServerRecords : public gmtest::DBServerPostgres {
protected:
    void SetUp() override {
        DBServerPostgres::SetUp();
        if (HasFatalFailure()) return;
        MakeClientes();
        if (HasFatalFailure()) return;
        ASSERT_TRUE(Run("create index clientes1 on clientes (cidade, r_e_c_n_o_)"));
        ASSERT_TRUE(Run("create unique index clientes2 on clientes (nome)"));
    }
    // A client connection with CLIENTES open under id 1.
    std::unique_ptr<gmtest::Session> Opened() {
        auto session = Connected();
        EXPECT_EQ(session->Exchange(OP_OPEN, kOpenTable).substr(0, 4), Short(0) + Short(kFileId));
        return session;
    }
    // The record a move to the record number sends, "(none)" when the move found none.
    static std::string Read(gmtest::Session& session, i32 recno) {
        return SentRecord(session.Exchange(OP_GO, Recno(recno)));
    }
    // The row's NOME, CIDADE and D_E_L_E_T_ as the database has them, without their padding.
    std::string Row(i32 recno) {
        return Value(
            "select nome || '|' || cidade || '|' || d_e_l_e_t_ from clientes where "
            "r_e_c_n_o_ = " +
            std::to_string(recno));
    }
    // The record numbers the moves reach from the first record on, in the current order.
    static std::string Walk(gmtest::Session& session) {
        std::string recnos;
        for (std::string reply = session.Exchange(OP_FIRST, Short(kFileId)); Code(reply) == 0;
             reply = session.Exchange(OP_SKIP, Short(kFileId) + Long(1))) {
            recnos += std::to_string(static_cast<int>(SentRecno(reply))) + " ";
        }
        return recnos;
    }
};

TEST_F(DBServerRecords, ChangesRoundTripThroughTheMovesAndTheTable) {
    auto session = Opened();
    const std::string appended =
        session->Exchange(OP_WRITE, Short(kFileId) + ClientesRecord("N005", "POA"));
    ASSERT_EQ(Code(appended), RC_OK);
    ASSERT_EQ(appended.size(), 10 + kStatusLength);  // the code, the new number, the status
    const i32 recno = static_cast<i32>(SentRecno(appended));
    EXPECT_EQ(recno, 4);  // after the highest number in the table
    EXPECT_EQ(Read(*session, recno), ClientesRecord("N005", "POA"));
    EXPECT_EQ(Row(recno), "N005|POA|");

    EXPECT_EQ(session->Exchange(OP_UPDATE, Recno(recno) + ClientesRecord("N005", "CWB")),
              Short(RC_OK));
    EXPECT_EQ(Read(*session, recno), ClientesRecord("N005", "CWB"));
    EXPECT_EQ(Row(recno), "N005|CWB|");
    EXPECT_EQ(session->Exchange(OP_DELETE, Recno(2)), Short(RC_OK));
    EXPECT_EQ(Read(*session, 2), ClientesRecord("N002", "RJ", '*'));
    EXPECT_EQ(Row(2), "N002|RJ|*");
    EXPECT_EQ(session->Exchange(OP_RECALL, Recno(2)), Short(RC_OK));
    EXPECT_EQ(Read(*session, 2), ClientesRecord("N002", "RJ"));
    EXPECT_EQ(Row(2), "N002|RJ|");

    // NOME is unique: the database refuses the row, and the client reads why.
    EXPECT_EQ(session->Exchange(OP_WRITE, Short(kFileId) + ClientesRecord("N001", "XX")),
              Short(RC_DUPLICATE_KEY));
    EXPECT_EQ(Value("select count(*) from clientes"), "4");
    session->Disconnect();
    EXPECT_TRUE(Holds(LastError(*session->server), "clientes2")) << LastError(*session->server);
    session->End();
}

// The change is made and stays; the reply says that its audit record is missing, the client
// library's own failure code as -86.
TEST_F(DBServerRecords, FailedAuditReplacesTheReplyOfAChangeThatStays) {
    const struct {
        i16 audit;
        i16 wire;
    } cases[] = {{RC_AUDIT_FAILED, RC_AUDIT_FAILED}, {RC_COMM_FAILURE, RC_CLIENT_CODE_REPLACED}};
    StartServerGlobals("", "AuditLog=1\nAuditServer=aud\nAuditAll=1\n");
    i32 recno = 4;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.audit);
        gmtest::AuditRecorder recorder;
        recorder.writeResult = c.audit;
        gmtest::RecordingAuditMaker maker(recorder);
        gmtest::ConsoleCapture console;  // the warning of the replaced code
        auto session = Opened();
        const std::string nome = "A" + std::to_string(recno);
        EXPECT_EQ(session->Exchange(OP_WRITE, Short(kFileId) + ClientesRecord(nome, "POA")),
                  Short(c.wire));
        EXPECT_EQ(Row(recno), nome + "|POA|");
        EXPECT_EQ(session->Exchange(OP_DELETE, Recno(recno)), Short(c.wire));
        EXPECT_EQ(Row(recno), nome + "|POA|*");
        session->Disconnect();
        EXPECT_EQ(recorder.Records().size(), 2u);
        session->End();
        ++recno;
    }
}

// With the client library's audit handle and the fake as the audit server: an update of an
// auditable table sends one "U" record per changed field, with its old and new values as the
// record holds them (a C field at its length), under the id of the unit that the update closes.
TEST_F(DBServerRecords, FieldAuditOfAnUpdateReachesTheAuditServer) {
    gmtest::tFakeServer audit;
    audit.Run({std::vector<gmtest::tFakeAnswer>(3, gmtest::Reply(Short(0)))});
    const std::string port = std::to_string(audit.Port());
    StartServerGlobals("",
                       "AuditLog=1\nAuditServer=127.0.0.1\nAuditAll=1\nAuditLevel=2\n"
                       "AuditPort=" +
                           port + "\n");
    auto session = Opened();
    EXPECT_EQ(session->Exchange(OP_UPDATE, Recno(1) + ClientesRecord("N001", "POA")), Short(0));
    EXPECT_EQ(Row(1), "N001|POA|");
    session->Disconnect();
    const std::string id = std::string(session->server->GetConnectionKey().GetText()) + "000000002";
    session->End();
    const auto connections = audit.Join();
    ASSERT_EQ(connections.size(), 1u);
    std::vector<std::string> payloads;
    for (size_t i = 1; i < connections[0].size(); ++i) {
        payloads.push_back(connections[0][i].substr(4));
    }
    gmtest::tWire record;
    record.Short(OP_WRITEAUDIT).Text("U").Text("CLIENTES").Double(1).Text("CIDADE");
    record.Text("SP      ").Text(id.c_str()).Text("POA     ");
    EXPECT_EQ(payloads, (std::vector<std::string>{record.Payload(),
                                                  gmtest::tWire().Short(OP_DISCONNECT).Payload()}));
}

TEST_F(DBServerRecords, LocksOfTwoConnectionsOnOneTable) {
    auto first = Opened();
    auto second = Opened();
    gmtest::TraceOn(*globals, *second->server);
    const std::string granted = first->Exchange(OP_LOCK, LockArgs(0, 2));
    EXPECT_EQ(Code(granted), RC_OK);
    EXPECT_EQ(SentRecord(granted), ClientesRecord("N002", "RJ"));  // the locked record, read afresh
    const std::string refused = second->Exchange(OP_LOCK, LockArgs(0, 2));
    EXPECT_EQ(Code(refused), RC_LOCKED);
    EXPECT_EQ(refused.size(), 2 + kStatusLength);  // the status follows, the record does not
    const std::string holder = second->server->GetLockText().GetText();
    EXPECT_EQ(holder.rfind("ERP|", 0), 0u) << holder;  // the holder's user, then its comment
    EXPECT_TRUE(Holds(
        gmtest::TakeTrace(*globals, *second->server),
        "(tDBServer::Lock) -- Lock CLIENTES Recno 2 [RECORD_OP] FAILED - OWNER " + holder + "\n"));

    ASSERT_EQ(Code(second->Exchange(OP_GO, Recno(1))), RC_OK);  // a table lock needs a record
    EXPECT_EQ(Code(second->Exchange(OP_LOCK, LockArgs(1, 0))), RC_LOCKED);  // a record is held
    EXPECT_EQ(first->Exchange(OP_UNLOCK, LockArgs(0, 2)), Short(RC_OK));
    EXPECT_EQ(Code(second->Exchange(OP_LOCK, LockArgs(1, 0))), RC_OK);
    EXPECT_EQ(Code(first->Exchange(OP_LOCK, LockArgs(0, 3))), RC_LOCKED);  // the table is held
    EXPECT_EQ(first->Exchange(OP_UNLOCK, LockArgs(0, 3)), Short(RC_OK));   // not held: still 0
    EXPECT_EQ(second->Exchange(OP_UNLOCK, LockArgs(1, 0)), Short(RC_OK));
    EXPECT_EQ(Code(first->Exchange(OP_LOCK, LockArgs(0, 3))), RC_OK);
    gmtest::TraceOff(*globals, *second->server);
    first->Disconnect();
    second->Disconnect();
    first->End();
    second->End();
}

TEST_F(DBServerRecords, IndexOrderAndHiddenDeletedRecords) {
    auto session = Opened();
    EXPECT_EQ(Walk(*session), "1 2 3 ");
    EXPECT_EQ(session->Exchange(OP_SETKEY, Short(kFileId) + Short(1)), Short(RC_OK));
    EXPECT_EQ(Walk(*session), "3 2 1 ");  // BH, RJ, SP
    EXPECT_EQ(session->Exchange(OP_SETKEY, Short(kFileId) + Short(3)), Short(RC_BAD_INDEX));
    EXPECT_EQ(session->Exchange(OP_DELETE, Recno(2)), Short(RC_OK));
    EXPECT_EQ(Walk(*session), "3 2 1 ");  // shown while deleted rows are not hidden
    EXPECT_EQ(session->Exchange(OP_SETDELEON, Short(kFileId) + '\x01'), Short(RC_OK));
    EXPECT_EQ(Walk(*session), "3 1 ");
    EXPECT_EQ(session->Exchange(OP_SETKEY, Short(kFileId) + Short(0)), Short(RC_OK));
    EXPECT_EQ(Walk(*session), "1 3 ");
    EXPECT_EQ(session->Exchange(OP_SETDELEON, Short(kFileId) + '\x00'), Short(RC_OK));
    EXPECT_EQ(Walk(*session), "1 2 3 ");
    session->Disconnect();
    session->End();
}

TEST_F(DBServerRecords, RowsOfATransactionGoWithRollbackStayWithCommitAndAreUnseenUntilThen) {
    auto writer = Opened();
    auto reader = Opened();
    ASSERT_EQ(writer->Exchange(OP_STRCMTCTL), Short(RC_OK));
    const std::string rolledBack =
        writer->Exchange(OP_WRITE, Short(kFileId) + ClientesRecord("N010", "SP"));
    ASSERT_EQ(Code(rolledBack), RC_OK);
    const i32 gone = static_cast<i32>(SentRecno(rolledBack));
    EXPECT_EQ(Read(*writer, gone), ClientesRecord("N010", "SP"));
    EXPECT_EQ(Read(*reader, gone), "(none)");
    EXPECT_EQ(Value("select count(*) from clientes"), "3");
    EXPECT_EQ(writer->Exchange(OP_ROLLBACK), Short(RC_OK));
    EXPECT_EQ(Value("select count(*) from clientes"), "3");

    const std::string committed =
        writer->Exchange(OP_WRITE, Short(kFileId) + ClientesRecord("N011", "RJ"));
    ASSERT_EQ(Code(committed), RC_OK);
    const i32 kept = static_cast<i32>(SentRecno(committed));
    EXPECT_EQ(Read(*reader, kept), "(none)");
    EXPECT_EQ(writer->Exchange(OP_COMMIT), Short(RC_OK));
    EXPECT_EQ(writer->Exchange(OP_ENDCMTCTL), Short(RC_OK));
    EXPECT_EQ(Read(*reader, kept), ClientesRecord("N011", "RJ"));
    EXPECT_EQ(Row(kept), "N011|RJ|");
    EXPECT_EQ(Row(gone), "(none)");
    writer->Disconnect();
    reader->Disconnect();
    writer->End();
    reader->End();
}

}  // namespace
