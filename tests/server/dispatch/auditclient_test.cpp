// The audit client as a client connection sees it: the built-in handle on the client library
// against a fake audit server on loopback, a client connection's records reaching that server,
// the maker that tests replace, and the sorted custom audit columns.
#include "server/dispatch/auditclient.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "lib_common/opcodes.h"
#include "lib_common/retcodes.h"
#include "server/dispatch/dbserver.h"
#include "tests/client/support/fakeserver.h"
#include "tests/client/support/wirebytes.h"
#include "tests/server/dispatch/support/recordfile.h"
#include "tests/server/process/support/programrun.h"
#include "tests/server/support/recordingaudit.h"
#include "tests/support/gmtest.h"

namespace {

using gmtest::Reply;
using gmtest::tFakeAnswer;
using gmtest::tWire;

std::vector<tFakeAnswer> Accepting(size_t requests) {
    return std::vector<tFakeAnswer>(requests + 1, Reply(tWire().Short(0).Payload()));
}

// The payloads after the connect packet, the disconnect included.
std::vector<std::string> AfterConnect(const std::vector<std::string>& frames) {
    std::vector<std::string> payloads;
    for (size_t i = 1; i < frames.size(); ++i) payloads.push_back(frames[i].substr(4));
    return payloads;
}

TEST(AuditClient, BuiltInHandleSpeaksToTheAuditServerThroughTheLibrary) {
    gmtest::tFakeServer server;
    server.Run({Accepting(3)});
    {
        std::unique_ptr<tAuditClient> client = NewAuditClient(server.Port());
        ASSERT_EQ(client->Connect("127.0.0.1", "ERP\\PC01"), 0);
        EXPECT_EQ(client->Write("I", "SA1010", 7, "", "", "K000000003", nullptr), 0);
        EXPECT_EQ(client->Write("I", "AUDIT_TRAIL", 7, "", "", "K000000003", nullptr), 0);
        EXPECT_EQ(client->AuditUser("maria"), 0);
        EXPECT_EQ(client->WriteCustom("BRANCH", "01"), 0);
    }  // released: the handle says goodbye
    const auto connections = server.Join();
    ASSERT_EQ(connections.size(), 1u);
    const std::string& packet = connections[0][0];
    EXPECT_EQ(packet.substr(4, 8), std::string("\xAE"
                                               "ADT"
                                               "\xAE\0"
                                               "10",
                                               8));
    EXPECT_EQ(packet.substr(packet.size() - 9), std::string("ERP\\PC01\0", 9));
    EXPECT_EQ(AfterConnect(connections[0]),
              (std::vector<std::string>{tWire()
                                            .Short(OP_WRITEAUDIT)
                                            .Text("I")
                                            .Text("SA1010")
                                            .Double(7)
                                            .Text("")
                                            .Text("")
                                            .Text("K000000003")
                                            .Payload(),
                                        tWire().Short(OP_AUDITUSER).Text("maria").Payload(),
                                        tWire().Short(102).Text("BRANCH").Text("01").Payload(),
                                        tWire().Short(OP_DISCONNECT).Payload()}));
}

TEST(AuditClient, BuiltInHandleAnswersMinusTwoUnreachableAndMinusEightyEightWhenTheServerWent) {
    const u16 port = gmtest::FreePort();
    ASSERT_NE(port, 0);
    std::unique_ptr<tAuditClient> idle = NewAuditClient(port);
    EXPECT_EQ(idle->Connect("127.0.0.1", "c"), RC_NOT_CONNECTED);
    EXPECT_EQ(idle->Write("I", "T", 1, "", "", "id", nullptr), RC_NOT_CONNECTED);

    gmtest::tFakeServer server;
    server.Run({{Reply(tWire().Short(0).Payload()), gmtest::Hangup()}});
    std::unique_ptr<tAuditClient> client = NewAuditClient(server.Port());
    ASSERT_EQ(client->Connect("127.0.0.1", "c"), 0);
    EXPECT_EQ(client->AuditUser("maria"), RC_COMM_FAILURE);
    EXPECT_EQ(client->WriteCustom("A", "1"), RC_NOT_CONNECTED);
    server.Join();
}

TEST(AuditClient, ReplacedMakerIsAskedWithThePortUntilRemoved) {
    gmtest::AuditRecorder recorder;
    {
        gmtest::RecordingAuditMaker maker(recorder);
        EXPECT_EQ(NewAuditClient(7000)->Connect("h", "c"), 0);
    }
    EXPECT_EQ(recorder.ports, std::vector<u16>{7000});
    const u16 port = gmtest::FreePort();
    ASSERT_NE(port, 0);
    EXPECT_EQ(NewAuditClient(port)->Connect("127.0.0.1", "c"), RC_NOT_CONNECTED);  // built in
    EXPECT_EQ(recorder.ports.size(), 1u);
}

// A client connection with auditing on and the fake as its audit server, through the library.
class AuditThroughTheLibrary : public gmtest::RecordHandlerTest {
protected:
    std::string Ini(u16 port) {
        return "AuditLog=1\nAuditServer=127.0.0.1\nAuditLevel=3\nAuditPort=" +
               std::to_string(port) + "\n";
    }
};

TEST_F(AuditThroughTheLibrary, ChangesAndTransactionsReachTheAuditServerWithTheirIds) {
    gmtest::tFakeServer audit;
    audit.Run({Accepting(8)});
    auto session = OpenWithFile(Ini(audit.Port()));
    using gmtest::Long;
    using gmtest::Short;
    EXPECT_EQ(session->Exchange(OP_WRITE, Short(1) + "ABCD").substr(0, 2), Short(RC_OK));
    EXPECT_EQ(session->Exchange(OP_UPDATE, Short(1) + Long(5) + "WXYZ"), Short(RC_OK));
    EXPECT_EQ(session->Exchange(OP_DELETE, Short(1) + Long(5)), Short(RC_OK));
    EXPECT_EQ(session->Exchange(OP_RECALL, Short(1) + Long(5)), Short(RC_OK));
    EXPECT_EQ(session->Exchange(OP_STRCMTCTL), Short(RC_OK));
    EXPECT_EQ(session->Exchange(OP_COMMIT), Short(RC_OK));
    EXPECT_EQ(session->Exchange(OP_ROLLBACK), Short(RC_OK));
    EXPECT_EQ(session->Exchange(OP_ENDCMTCTL), Short(RC_OK));
    tAuditClient* handle = session->server->GetAuditClient();
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(handle->AuditUser("maria"), 0);
    EXPECT_EQ(handle->WriteCustom("BRANCH", "01"), 0);
    session->Disconnect();
    const std::string key = session->server->GetConnectionKey().GetText();
    session->End();

    const auto record = [&](const char* action, const char* table, f64 recno, u32 seq) {
        char id[16];
        std::snprintf(id, sizeof id, "%09u", seq);
        return tWire()
            .Short(OP_WRITEAUDIT)
            .Text(action)
            .Text(table)
            .Double(recno)
            .Text("")
            .Text("")
            .Text((key + id).c_str())
            .Payload();
    };
    // Each change closes its unit of work; commit control opens one unit, and the rollback
    // starts the next.
    const auto connections = audit.Join();
    ASSERT_EQ(connections.size(), 1u);
    EXPECT_EQ(AfterConnect(connections[0]),
              (std::vector<std::string>{record("I", "SA1010", 7, 3), record("D", "SA1010", 5, 5),
                                        record("L", "SA1010", 5, 6), record("B", "", 0, 6),
                                        record("C", "", 0, 6), record("R", "", 0, 7),
                                        tWire().Short(OP_AUDITUSER).Text("maria").Payload(),
                                        tWire().Short(102).Text("BRANCH").Text("01").Payload(),
                                        tWire().Short(OP_DISCONNECT).Payload()}));
}

TEST_F(AuditThroughTheLibrary, UnreachableAuditServerRefusesTheConnectWithMinusFifty) {
    const u16 port = gmtest::FreePort();
    ASSERT_NE(port, 0);
    StartGlobals(Ini(port));
    ScriptConnections();
    auto session = Open(gmtest::ConnectTexts("MSSQL/ERP", "ERP", "ana", "PC01"));
    EXPECT_EQ(gmtest::ReadFrame(*session->client), gmtest::Short(RC_AUDIT_FAILED));
    session->End();
}

std::string Columns(const tAuditCustomFieldList& list) {
    std::string text;
    for (i32 i = 0; i < list.Count(); ++i) {
        text += std::string(list.Get(i)->name.GetText()) + "=" + list.Get(i)->value.GetText() + ";";
    }
    return text;
}

TEST(AuditCustomFieldList, KeepsColumnsSortedByUnsignedBytes) {
    tAuditCustomFieldList list;
    for (const char* name : {"b", "\xE9x", "A", "a", "B"}) list.SetField(name, "1");
    EXPECT_EQ(Columns(list), "A=1;B=1;a=1;b=1;\xE9x=1;");
    list.SetField("a", "2");  // replaces, adds nothing
    EXPECT_EQ(Columns(list), "A=1;B=1;a=2;b=1;\xE9x=1;");

    const struct {
        const char* name;
        bool found;
        i32 pos;
    } cases[] = {{"A", true, 0},   {"\xE9x", true, 4}, {"", false, 0},
                 {"Ab", false, 1}, {"c", false, 4},    {"\xFF", false, 5}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        i32 pos = -1;
        EXPECT_EQ(list.Find(c.name, pos), c.found);
        EXPECT_EQ(pos, c.pos);
    }

    EXPECT_TRUE(list.RemoveField("B"));
    EXPECT_FALSE(list.RemoveField("B"));
    EXPECT_EQ(Columns(list), "A=1;a=2;b=1;\xE9x=1;");
}

}  // namespace
