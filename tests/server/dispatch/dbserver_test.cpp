// The client connection over a real loopback socket: the connect strings and the database
// connect with its refusals, the check-up once per alias, audit connects, user counting, request
// frames received in pieces and bad frames, the echo of an opcode without handler, dummy mode,
// OP_DISCONNECT, the operation log and the acceptance path.
#include "server/dispatch/dbserver.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "lib_common/cipher.h"
#include "lib_common/configcache.h"
#include "lib_common/opcodes.h"
#include "lib_common/retcodes.h"
#include "server/isam/dbconn.h"
#include "server/process/dbservices.h"
#include "server/process/gmlserver.h"
#include "server/runtime/gmlthreads.h"
#include "tests/lib_base/support/countingsocket.h"
#include "tests/server/dispatch/support/dbserverfixture.h"
#include "tests/support/gmtest.h"

namespace {

using gmtest::ConnectTexts;
using gmtest::kClosed;
using gmtest::Long;
using gmtest::ReadFrame;
using gmtest::Short;

const std::string kConnected = Short(0) + "WinNT" + '\0';

using gmtest::Holds;

class DBServerConnect : public gmtest::DBServerTest {};

TEST_F(DBServerConnect, EnvironmentsWithoutADriverGetTheCodeAlone) {
    const struct {
        const char* environment;
        std::vector<std::string> log;
    } cases[] = {
        {"ERP", {}},      // no slash
        {"FOO/ERP", {}},  // a type nobody knows
        {"MSADO/ERP",
         {"*** MSADO CONNECTION (ERP) NOT SUPPORTED ***\n"
          "*** CONFIGURE MSSQL CONNECTION VIA ODBC ***"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.environment);
        gmtest::WriteFileText(LogPath(), "");
        gmtest::ConsoleCapture console;
        auto session = Open(ConnectTexts(c.environment, "ERP", "ana", "PC01"));
        EXPECT_EQ(ReadFrame(*session->client), Short(RC_CONNECT_FAILED));
        session->Join();
        EXPECT_EQ(session->result, RC_CONNECT_FAILED);
        const u32 id = session->server->GetThreadId();
        session->End();
        EXPECT_EQ(ReadFrame(*session->client), kClosed);
        EXPECT_EQ(LogEntries(), c.log);
        EXPECT_TRUE(Holds(console.Get(),
                          "Exit GmlClient Thread (" + std::to_string(id) + ") [ERROR -35]\n"));
        EXPECT_EQ(globals->GetActiveConnections(), 0u);
    }
}

TEST_F(DBServerConnect, UserAndPasswordComeFromTheAliasChain) {
    const tCryptor cryptor(kIniPasswordKeyLength, kIniPasswordKey);
    char secret[] = "Segredo1";
    cryptor.Encrypt(secret, sizeof secret - 1);
    StartGlobals("user=general\n[MSSQL]\nuser=typed\npassword=" + std::string(secret) +
                 "\n[MSSQL/ERP]\nuser=aliased\n");
    ScriptConnections();
    auto erp = OpenConnected("MSSQL/ERP");
    auto other = OpenConnected("MSSQL/OTHER");
    erp->Disconnect();
    other->Disconnect();
    EXPECT_EQ(script.made, (std::vector<std::string>{"MSSQL/ERP aliased:Segredo1",
                                                     "MSSQL/OTHER typed:Segredo1"}));
    erp->End();
    other->End();
}

TEST_F(DBServerConnect, FirstConnectOfAnAliasRunsTheCheckUpOnce) {
    ScriptConnections();
    gmtest::ConsoleCapture console;
    auto first = OpenConnected("MSSQL/ERP");
    EXPECT_EQ(script.checkUps, 1);
    EXPECT_TRUE(Holds(console.Get(), "*** CHECK-UP REPORT ***\n"));
    auto second = OpenConnected("mssql/ERP");
    auto otherAlias = OpenConnected("MSSQL/FIN");
    first->Disconnect();
    second->Disconnect();
    otherAlias->Disconnect();
    EXPECT_EQ(script.checkUps, 2);  // ERP once, FIN once
    tString reports;
    globals->GetEnvironmentReports(reports);
    EXPECT_EQ(std::string(reports.GetText()),
              "*** CHECK-UP REPORT ***\n\n*** CHECK-UP REPORT ***\n\n");
    first->End();
    second->End();
    otherAlias->End();
}

TEST_F(DBServerConnect, FailedCheckUpRefusesAndTheNextConnectChecksAgain) {
    ScriptConnections();
    script.checkUpOk = false;
    gmtest::ConsoleCapture console;
    auto refused = Open(ConnectTexts("MSSQL/ERP", "ERP", "ana", "PC01"));
    EXPECT_EQ(ReadFrame(*refused->client), Short(RC_CONNECT_FAILED));
    refused->Join();
    EXPECT_EQ(refused->result, RC_CONNECT_FAILED);
    EXPECT_TRUE(Holds(console.Get(), "*** CHECK-UP REPORT ***\n"));  // printed either way
    refused->End();
    EXPECT_EQ(script.calls, (std::vector<std::string>{"conn Disconnect", "conn deleted"}));
    script.checkUpOk = true;
    auto accepted = OpenConnected("MSSQL/ERP");
    accepted->Disconnect();
    EXPECT_EQ(script.checkUps, 2);
    accepted->End();
}

TEST_F(DBServerConnect, RefusalsAfterTheConnectionIsMade) {
    ScriptConnections();
    auto erp = OpenConnected("MSSQL/ERP");
    erp->Disconnect();
    erp->End();
    {
        SCOPED_TRACE("alias known with another database type");
        gmtest::WriteFileText(LogPath(), "");
        auto other = Open(ConnectTexts("ORACLE/erp", "ERP", "ana", "PC01"));
        EXPECT_EQ(ReadFrame(*other->client), Short(RC_CONNECT_FAILED));
        other->Join();
        EXPECT_EQ(other->result, RC_CONNECT_FAILED);
        tString error;
        EXPECT_EQ(other->server->GetDBConnection()->GetLastErrorInfo(error), RC_FAILED);
        EXPECT_TRUE(Holds(error.GetText(), "GML Error -19 - ")) << error.GetText();
        EXPECT_TRUE(Holds(error.GetText(), " ( From tDBServer::ConnectToDB )")) << error.GetText();
        EXPECT_EQ(LogEntries().size(), 1u);
        other->End();
    }
    {
        SCOPED_TRACE("connect fails");
        script.connectOk = false;
        auto failed = Open(ConnectTexts("MSSQL/FIN", "ERP", "ana", "PC01"));
        EXPECT_EQ(ReadFrame(*failed->client), Short(RC_CONNECT_FAILED));
        failed->Join();
        EXPECT_EQ(failed->result, RC_CONNECT_FAILED);
        failed->End();
    }
    EXPECT_EQ(script.checkUps, 1);
}

TEST_F(DBServerConnect, OracleGetsItsTableOwnerAndCatalogueChoice) {
    StartGlobals("[ORACLE]\nuser=scott\n[ORACLE/ERP]\nTableOwner=ERPOWNER\nUseSysTables=0\n");
    ScriptConnections();
    auto erp = OpenConnected("ORACLE/ERP");
    auto fin = OpenConnected("ORACLE/FIN");
    erp->Disconnect();
    fin->Disconnect();
    EXPECT_STREQ(erp->server->GetDBConnection()->GetTableOwner().GetText(), "ERPOWNER");
    EXPECT_FALSE(erp->server->GetDBConnection()->GetUseSysTables());
    EXPECT_STREQ(fin->server->GetDBConnection()->GetTableOwner().GetText(), "scott");
    EXPECT_TRUE(fin->server->GetDBConnection()->GetUseSysTables());
    erp->End();
    fin->End();
}

TEST_F(DBServerConnect, AuditConnectDecidesTheReply) {
    const struct {
        const char* name;
        std::string ini;
        const char* program;
        i16 connectResult;
        std::string reply;
        std::vector<std::string> connects;
    } cases[] = {
        {"no audit server", "AuditLog=1\n", "ERP", 0, Short(RC_AUDIT_FAILED), {}},
        {"audit server takes it",
         "AuditLog=1\nAuditServer=aud\nAuditPort=7000\n",
         "ERP",
         0,
         kConnected,
         {"aud|ERP\\PC01"}},
        {"audit server refuses",
         "AuditLog=1\nAuditServer=aud\n",
         "ERP",
         RC_NOT_CONNECTED,
         Short(RC_AUDIT_FAILED),
         {"aud|ERP\\PC01"}},
        {"audit program", "AuditLog=1\n", "AuditTrail", 0, kConnected, {}},
        {"audit off", "AuditServer=aud\n", "ERP", 0, kConnected, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        StartGlobals(c.ini);
        ScriptConnections();
        gmtest::AuditRecorder recorder;
        recorder.connectResult = c.connectResult;
        gmtest::RecordingAuditMaker maker(recorder);
        auto session = Open(ConnectTexts("MSSQL/ERP", c.program, "ana", "PC01"));
        EXPECT_EQ(ReadFrame(*session->client), c.reply);
        if (c.reply == kConnected) session->Disconnect();
        session->End();
        EXPECT_EQ(recorder.Connects(), c.connects);
        if (std::string(c.name) == "audit server takes it") {
            EXPECT_EQ(recorder.ports, std::vector<u16>{7000});
            EXPECT_EQ(recorder.released, 1);
        }
    }
}

TEST_F(DBServerConnect, UsersAreCountedUnlessMarkedOtherwise) {
    const struct {
        const char* environment;
        const char* program;
        u32 users;
        const char* begin;  // the console's Begin line after the thread id
    } cases[] = {
        {"MSSQL/ERP", "ERP", 1, "127.0.0.1,MSSQL/ERP,ERP,ana,PC01)\n"},
        {"@!!@MSSQL/ERP", "ERP", 0, "127.0.0.1,MSSQL/ERP,ERP,ana,PC01)\n"},
        {"MSSQL/ERP", "AuditTrail", 0, "127.0.0.1,MSSQL/ERP,AuditTrail,ana,PC01)\n"},
        {"MSSQL/ERP", "", 1, "127.0.0.1,MSSQL/ERP,Unknown,ana,PC01)\n"},
    };
    ScriptConnections();
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.environment) + " " + c.program);
        gmtest::ConsoleCapture console;
        auto session = OpenConnected(c.environment, c.program);
        EXPECT_EQ(globals->GetActiveConnections(), 1u);
        EXPECT_EQ(globals->GetUserConnections(), c.users);
        session->Disconnect();
        EXPECT_TRUE(Holds(console.Get(), c.begin)) << console.Get();
        EXPECT_STREQ(session->server->GetEnvironment().GetText(), "ERP");
        session->End();
        EXPECT_EQ(globals->GetActiveConnections(), 0u);
        EXPECT_EQ(globals->GetUserConnections(), 0u);
    }
}

TEST_F(DBServerConnect, DisabledConnectionsGetOneCodeAndAreNeverCounted) {
    ScriptConnections();
    globals->SetConnectionsEnabled(false);
    gmtest::ConsoleCapture console;
    auto session = Open(ConnectTexts("MSSQL/ERP", "ERP", "ana", "PC01"));
    EXPECT_EQ(ReadFrame(*session->client), Short(RC_CONNECTIONS_DISABLED));
    session->Join();
    EXPECT_EQ(session->result, RC_CONNECTIONS_DISABLED);
    EXPECT_EQ(globals->GetActiveConnections(), 0u);
    const u32 id = session->server->GetThreadId();
    session->End();
    EXPECT_EQ(ReadFrame(*session->client), kClosed);
    EXPECT_EQ(globals->GetActiveConnections(), 0u);
    EXPECT_EQ(globals->GetPeakConnections(), 0u);
    EXPECT_TRUE(script.made.empty());
    EXPECT_TRUE(Holds(console.Get(),
                      "Exit GmlClient Thread (" + std::to_string(id) + ") [NO_CONN_ALLOWED]\n"));
}

TEST_F(DBServerConnect, PacketWithoutItsTextsEndsBeforeAnythingIsCounted) {
    gmtest::ConsoleCapture console;
    auto session = Open(std::string("MSSQL/ERP\0ERP", 13));  // the user and computer are missing
    session->Join();
    EXPECT_EQ(session->result, RC_FAILED);
    EXPECT_EQ(console.Get(), "[WARNING] Unknown Client Connection from [127.0.0.1]. (CLOSED)\n");
    session->End();
    EXPECT_EQ(ReadFrame(*session->client), kClosed);
    EXPECT_EQ(globals->GetActiveConnections(), 0u);
}

// ---- requests -----------------------------------------------------------------------------------

class DBServerRequests : public gmtest::DBServerTest {
protected:
    void SetUp() override {
        DBServerTest::SetUp();
        ScriptConnections();
    }
};

TEST_F(DBServerRequests, FrameLargerThanTheChunkArrivesInPiecesAndIsServedWhole) {
    StartGlobals("MaxPacketLen=16\n");
    ScriptConnections();
    auto session = OpenConnected();
    std::string payload;
    for (int i = 0; i < 5000; ++i) payload += static_cast<char>('a' + i % 26);
    const std::string frame = gmtest::Request(58, payload);
    gmtest::ConsoleCapture console;
    for (size_t at = 0; at < frame.size(); at += 700) {
        ASSERT_TRUE(session->Send(frame.substr(at, 700)));
    }
    EXPECT_EQ(ReadFrame(*session->client), Short(58) + payload);
    EXPECT_EQ(console.Get(), "[WARNING] (tDbServer) Operation (3A) IGNORED - Thread (" +
                                 std::to_string(session->server->GetThreadId()) + ")\n");
    session->Disconnect();
    session->End();
}

TEST_F(DBServerRequests, BadFrameEndsOnlyItsOwnConnection) {
    const struct {
        const char* name;
        std::string bytes;
        bool closeAfter;
        const char* log;  // after "Thread (<id>) "
    } cases[] = {
        {"header below the opcode", gmtest::WireLong(5, false) + "\x57\x00\x00\x00", false,
         "invalid request length 5! (RECEIVEBLOCK)"},
        {"header past the largest frame", gmtest::WireLong(0xFFFFFFFFu, false) + "\x57\x00", false,
         "invalid request length 4294967295! (RECEIVEBLOCK)"},
        {"close in the middle", gmtest::WireLong(100, false) + "\x3A\x00" + "0123456789", true,
         "communication failure! (RECEIVENEXTBLOCK)"},
        {"close before the header is whole", "\x64\x00", true,
         "communication failure! (RECEIVENEXTBLOCK)"},
        {"close between requests", "", true, "communication failure! (RECEIVEBLOCK)."},
    };
    auto bystander = OpenConnected();
    const std::string bystanderId = Long(static_cast<i32>(bystander->server->GetThreadId()));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        gmtest::WriteFileText(LogPath(), "");
        auto session = OpenConnected();
        if (!c.bytes.empty()) {
            ASSERT_TRUE(session->Send(c.bytes));
        }
        if (c.closeAfter) session->client->Shutdown(plat::kShutWrite);
        session->Join();
        EXPECT_EQ(session->result, 1);
        EXPECT_EQ(session->assertion, "(no assertion)");
        const std::string id = std::to_string(session->server->GetThreadId());
        session->End();
        if (!c.closeAfter) {
            EXPECT_EQ(ReadFrame(*session->client), kClosed);
        }
        EXPECT_EQ(LogEntries(), std::vector<std::string>{"Thread (" + id + ") " + c.log});
        EXPECT_EQ(bystander->Exchange(OP_GETSID), bystanderId);
    }
    bystander->Disconnect();
    bystander->End();
}

TEST_F(DBServerRequests, EachRequestTakesOneReceiveAndOneSend) {
    gmtest::CountingSocket* counting = nullptr;
    wrapSocket = [&counting](std::unique_ptr<tSocket> accepted) -> std::unique_ptr<tSocket> {
        auto made = std::make_unique<gmtest::CountingSocket>(std::move(accepted));
        counting = made.get();
        return made;
    };
    // Waits long enough that no idle wait runs out during the test.
    auto session = OpenConnected("MSSQL/ERP", "ERP", [](tDBServer& server) {
        server.SetPacing({60, 60});
    });
    ASSERT_NE(counting, nullptr);
    const std::string sid = Long(static_cast<i32>(session->server->GetThreadId()));
    const int receives = counting->receives;
    const int sends = counting->sends;
    for (int i = 0; i < 20; ++i) ASSERT_EQ(session->Exchange(OP_GETSID), sid);
    EXPECT_EQ(counting->receives - receives, 20);
    EXPECT_EQ(counting->sends - sends, 20);
    // Two requests in one segment: one receive takes both.
    ASSERT_TRUE(session->Send(gmtest::Request(OP_GETSID) + gmtest::Request(58, "ab")));
    EXPECT_EQ(ReadFrame(*session->client), sid);
    EXPECT_EQ(ReadFrame(*session->client), Short(58) + "ab");
    EXPECT_EQ(counting->receives - receives, 21);
    EXPECT_EQ(counting->sends - sends, 22);
    EXPECT_EQ(counting->waits, 0) << "no wait before a receive";
    EXPECT_EQ(counting->probes, 0) << "no probe of a connection that has just been read";
    session->Disconnect();
    EXPECT_EQ(session->result, 1);
    session->End();
}

TEST_F(DBServerRequests, RequestsSentTogetherOrInPiecesAreAnsweredInTurn) {
    auto session = OpenConnected();
    const std::string sid = Long(static_cast<i32>(session->server->GetThreadId()));
    const std::string third = gmtest::Request(58, "xyz");
    ASSERT_TRUE(session->Send(gmtest::Request(OP_GETSID) + gmtest::Request(58, "abc") +
                              third.substr(0, 3)));
    EXPECT_EQ(ReadFrame(*session->client), sid);
    EXPECT_EQ(ReadFrame(*session->client), Short(58) + "abc");
    for (size_t at = 3; at < third.size(); ++at) {
        ASSERT_TRUE(session->Send(third.substr(at, 1)));
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_EQ(ReadFrame(*session->client), Short(58) + "xyz");
    // A bad header right behind a good request: the request is answered, then the end.
    gmtest::WriteFileText(LogPath(), "");
    ASSERT_TRUE(session->Send(gmtest::Request(OP_GETSID) + gmtest::WireLong(5, false) + "\x57"));
    EXPECT_EQ(ReadFrame(*session->client), sid);
    session->Join();
    EXPECT_EQ(session->result, 1);
    const std::string id = std::to_string(session->server->GetThreadId());
    session->End();
    EXPECT_EQ(ReadFrame(*session->client), kClosed);
    EXPECT_EQ(LogEntries(), std::vector<std::string>{"Thread (" + id +
                                                     ") invalid request length 5! (RECEIVEBLOCK)"});
}

TEST_F(DBServerRequests, OpcodeWithoutHandlerEchoesAndDisconnectEndsWithoutReply) {
    StartGlobals("UseTraceLog=1\n");
    ScriptConnections();
    auto session = OpenConnected();
    const std::string id = std::to_string(session->server->GetThreadId());
    gmtest::ConsoleCapture console;
    EXPECT_EQ(session->Exchange(58, "abc"), Short(58) + "abc");
    EXPECT_EQ(session->Exchange(-1, "z"), Short(-1) + "z");
    EXPECT_EQ(session->Exchange(OP_GETSID), Long(std::stoi(id)));
    session->Disconnect();
    EXPECT_EQ(session->result, 1);
    const std::string text = console.Get();
    EXPECT_TRUE(
        Holds(text, "[WARNING] (tDbServer) Operation (3A) IGNORED - Thread (" + id + ")\n"));
    EXPECT_TRUE(
        Holds(text, "[WARNING] (tDbServer) Operation (FFFF) IGNORED - Thread (" + id + ")\n"));
    EXPECT_TRUE(Holds(text, "[OPLOG] ThreadID: " + id + "\tOp: OP_GETSID \tRet 0\tElapsed time: "));
    EXPECT_TRUE(Holds(text, " ms\tDetails: (NONE)\n"));
    EXPECT_TRUE(Holds(text, "End GmlClient Thread (" + id + ") (IOs 4 / RCV ")) << text;
    session->End();
    EXPECT_EQ(ReadFrame(*session->client), kClosed);  // nothing was sent for OP_DISCONNECT
}

TEST_F(DBServerRequests, LostDatabaseLinkEndsTheConnectionWithoutAReply) {
    script.linkLost = true;
    gmtest::ConsoleCapture console;
    auto session = OpenConnected();
    session->Join();
    EXPECT_EQ(session->result, 1);
    const std::string id = std::to_string(session->server->GetThreadId());
    EXPECT_TRUE(Holds(console.Get(), "SGDB Disconnect GmlClient Thread (" + id + ") (IOs 0 / RCV "))
        << console.Get();
    session->End();
    EXPECT_EQ(ReadFrame(*session->client), kClosed);
}

TEST_F(DBServerRequests, DummyModeAnswersTheListedOpcodesWithoutRunningThem) {
    StartGlobals("ThreadInfo=1\n");
    ScriptConnections();
    auto session =
        OpenConnected("MSSQL/ERP", "ERP", [](tDBServer& server) { server.SetDummyMode(true); });
    const std::string id = std::to_string(session->server->GetThreadId());
    gmtest::ConsoleCapture console;
    const struct {
        i16 opcode;
        std::string reply;
    } cases[] = {{OP_LOCK, Short(RC_NO_RECORD)},        {OP_SEEK, Short(RC_NO_RECORD)},
                 {OP_LAST, Short(RC_NO_RECORD)},        {OP_RQSSCAN, Short(OP_RQSSCAN) + "p"},
                 {OP_QUERYEX, Short(OP_QUERYEX) + "p"}, {OP_GETSID, Long(std::stoi(id))}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.opcode);
        EXPECT_EQ(session->Exchange(c.opcode, c.opcode == OP_GETSID ? "" : "p"), c.reply);
    }
    EXPECT_TRUE(Holds(console.Get(), "[INFO] GmlClient Thread (" + id +
                                         ") DUMMY_MODE OPERATION [OP_SEEK] IGNORED.\n"));
    EXPECT_FALSE(Holds(console.Get(), "(13) IGNORED"));  // OP_LOCK was not echoed
    session->Disconnect();
    session->End();
}

TEST_F(DBServerRequests, AcceptanceServesTheClientAndEndsIt) {
    RegisterClientConnections();
    tGMLServer server(nullptr, kModeStandalone, false);
    ASSERT_TRUE(server.ListenAddr(0, "127.0.0.1"));
    auto client = gmtest::ConnectLoopback(static_cast<u16>(server.GetPort()));
    ASSERT_NE(client, nullptr);
    const std::string packet =
        gmtest::ConnectPacket('0', ConnectTexts("MSSQL/ERP", "ERP", "ana", "PC01"));
    ASSERT_EQ(client->Send(packet.data(), static_cast<i32>(packet.size()), 0),
              static_cast<i32>(packet.size()));
    std::thread worker([&server] {
        std::unique_ptr<tSocket> accepted = server.GetListenSocket()->Accept();
        tWThread thread(nullptr, &server, 0);
        AcceptConnection(thread, std::move(accepted));
    });
    EXPECT_EQ(ReadFrame(*client), kConnected);
    EXPECT_EQ(globals->GetUserConnections(), 1u);
    // One request at a time, as clients send them: bytes past a request end the connection.
    for (const i16 opcode : {OP_GETSID, OP_DISCONNECT}) {
        const std::string request = gmtest::Request(opcode);
        ASSERT_EQ(client->Send(request.data(), static_cast<i32>(request.size()), 0), 6);
        if (opcode == OP_GETSID) {
            EXPECT_EQ(ReadFrame(*client).size(), 4u);  // the session id
        }
    }
    worker.join();
    EXPECT_EQ(ReadFrame(*client), kClosed);
    EXPECT_EQ(globals->GetUserConnections(), 0u);
    tString users;
    globals->GetThreads()->GetUserInfo(users);
    EXPECT_EQ(users.GetLength(), 0);  // Done removed the connection's record
    SetConnectionMaker(kKindClient, nullptr);
}

}  // namespace
