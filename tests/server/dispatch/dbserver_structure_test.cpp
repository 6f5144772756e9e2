// Table structure, query and session requests of the client connection over a real loopback
// socket, against connections that record the SQL they are given: creation with its GML_FIELD
// rows and its refusals, drops refused while the table is open elsewhere, the table's named node
// shared by every spelling of its name, query files and their release, direct statements, the
// last error, session parameters and the database's session id.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "lib_base/critsec.h"
#include "lib_common/opcodes.h"
#include "lib_common/retcodes.h"
#include "server/dispatch/dbserver.h"
#include "server/isam/dbconn.h"
#include "server/isam/gatemill_query.h"
#include "server/locks/lockengine.h"
#include "server/runtime/namedlock.h"
#include "server/tables/dbtable.h"
#include "tests/server/dispatch/support/dbserverfixture.h"
#include "tests/server/dispatch/support/recordfile.h"
#include "tests/support/gmtest.h"

namespace {

using gmtest::kClosed;
using gmtest::Long;
using gmtest::Short;

constexpr u32 kOtherOwner = 999999;

std::string Text(const std::string& text) { return text + '\0'; }

std::string Field(const std::string& name, char type, i16 size, i16 width, i16 decimals) {
    return Text(name) + type + Short(size) + Short(width) + Short(decimals);
}

// A statement that, like a database's, leaves its failure in the connection's last error. Its
// SELECTs find no rows (the virtual indexes of a new table).
class FailingStatement : public gmtest::ScriptedStatement {
public:
    explicit FailingStatement(gmtest::TestConnection* conn) : ScriptedStatement(conn), conn(conn) {}
    bool ExecDirect(const char* sql, const char* routine, u8 report) override {
        if (std::string(sql).rfind("SELECT ", 0) == 0) conn->results.push_back({sql, {}});
        if (ScriptedStatement::ExecDirect(sql, routine, report)) return true;
        conn->SetError(RC_FAILED, routine, (std::string("syntax error in ") + sql).c_str(),
                       nullptr);
        return false;
    }

private:
    gmtest::TestConnection* conn;
};

// A scripted connection with a dialect's DDL: its CREATE TABLE lists each field's name, letter
// and length; its query files hold one character column; a text holding "PREPARED" makes a prepared
// one and one holding "NOFILE" makes none.
class TableConnection : public gmtest::ScriptedConnection {
public:
    using ScriptedConnection::ScriptedConnection;

    tStatement* NewStatement() override { return new FailingStatement(this); }
    void CreateTable(const tTableDefinition& def, tString& sql) override {
        sql = "CREATE TABLE ";
        sql += def.GetName();
        for (i32 i = 0; i < def.GetFieldCount(); ++i) {
            const tField& f = *def.GetField(i);
            sql += i == 0 ? "(" : ",";
            sql += f.GetName();
            sql += " ";
            sql += std::string(1, static_cast<char>(f.GetType())).c_str();
            sql += " ";
            sql += IntToString(f.GetLen());
        }
        sql += ")";
    }
    void GetRecnoIndex(const char* table, tString& sql) override {
        sql = "ALTER TABLE ";
        sql += table;
        sql += " ADD PRIMARY KEY (R_E_C_N_O_)";
    }
    tQueryFile* GetQueryFile(tCommBuffer& reply, u32 owner, tString& query) override {
        const std::string text = query.GetText();
        executed.push_back("query: " + text);
        if (text.find("NOFILE") != std::string::npos) return nullptr;
        auto def = std::make_unique<tTableDefinitionExclusive>("QUERY", GetAlias());
        def->AddField("NAME", 'C', 10, 0, true, true);
        auto file = std::make_unique<tQueryFile>(
            this, std::move(def), reply, owner, std::unique_ptr<tStatement>(NewStatement()), query);
        if (text.find("PREPARED") != std::string::npos) file->SetPrepared();
        return file.release();
    }
};

class DBServerStructure : public gmtest::DBServerTest {
protected:
    void SetUp() override { UseTableConnections(); }

    void UseTableConnections() {
        SetDBConnectionFactory(
            [this](const tDBConnectionRequest& request, std::unique_ptr<tDBConnection>& out) {
                auto conn = std::make_unique<TableConnection>(script, request);
                made = conn.get();
                out = std::move(conn);
                return tDBTypeAnswer::Made;
            });
    }
    // Globals over the ini lines, and table connections again.
    void Restart(const std::string& ini) {
        StartGlobals(ini);
        UseTableConnections();
    }

    // The statements the session's connection ran for the requests: under the dispatcher's
    // routines (the field registry's among them), not the check-up's.
    std::vector<std::string> Ran() const {
        std::vector<std::string> ran;
        for (const std::string& e : made->executed) {
            if (e.rfind("tDBServer::", 0) == 0) ran.push_back(e);
        }
        return ran;
    }
    std::string LastError(gmtest::Session& session) {
        const std::string reply = session.Exchange(OP_GETERROR);
        return reply.size() > 2 ? reply.substr(2) : reply;
    }
    tRecordLockEngine& Records() { return *globals->GetRecordLockServer(); }

    static std::string CreateRequest(const std::string& table, const std::vector<std::string>& f) {
        std::string payload = Text(table) + Short(static_cast<i16>(f.size()));
        for (const std::string& field : f) payload += field;
        return payload;
    }
    static std::string ClientsRequest() {
        return CreateRequest("clients", {Field("CODE", 'C', 6, 0, 0), Field("VALUE", 'F', 8, 12, 2),
                                         Field("BORN", 'D', 8, 0, 0), Field("OK", 'L', 1, 0, 0),
                                         Field("NOTES", 'M', 10, 0, 0)});
    }

    // Creates CLIENTS through the session and registers another owner's opening of it; the
    // statements run so far are forgotten.
    void CreateOpenElsewhere(gmtest::Session& session,
                             std::shared_ptr<tTableDefinitionShared>& def) {
        ASSERT_EQ(session.Exchange(OP_CREATEFILE, ClientsRequest()), Short(RC_OK));
        def = made->FindTableDef("CLIENTS", "ERP");
        ASSERT_NE(def, nullptr);
        ASSERT_TRUE(Records().SetOpen(kOtherOwner, static_cast<i32>(def->GetLockBucket()),
                                      def->GetFullName(), 0, 0));
        made->executed.clear();
    }

    TableConnection* made = nullptr;  // the connection made last; its session owns it
};

TEST_F(DBServerStructure, CreateRegistersTheEmulatedFieldsWithQuotedValuesAndCachesTheTable) {
    auto session = OpenConnected();
    made->owner = "dbo.";
    Records().SetRecCount(static_cast<i32>(tTableDefinition("clients", "ERP").GetLockBucket()),
                          "ERP|CLIENTS", 5.0);
    EXPECT_EQ(session->Exchange(OP_CREATEFILE, ClientsRequest()), Short(RC_OK));
    const char* insert =
        "tDBServer::RegisterFields: INSERT INTO "
        "dbo.GML_FIELD(FIELD_TABLE,FIELD_NAME,FIELD_TYPE,"
        "FIELD_PREC,FIELD_DEC) VALUES(";
    EXPECT_EQ(Ran(), (std::vector<std::string>{
                         "tDBServer::CreateFile: CREATE TABLE CLIENTS(CODE C 6,VALUE N 12,BORN D 8,"
                         "OK L 1,NOTES M 10,D_E_L_E_T_ C 1,R_E_C_N_O_ R 4)",
                         "tDBServer::Unregister: DELETE FROM dbo.GML_FIELD WHERE "
                         "FIELD_TABLE ='dbo.CLIENTS'",
                         std::string(insert) + "'dbo.CLIENTS','VALUE','P','12','2')",
                         std::string(insert) + "'dbo.CLIENTS','BORN','D','8','0')",
                         std::string(insert) + "'dbo.CLIENTS','OK','L','1','0')",
                         std::string(insert) + "'dbo.CLIENTS','NOTES','M','10','0')",
                         "tDBServer::CreateFile: ALTER TABLE CLIENTS ADD PRIMARY KEY (R_E_C_N_O_)",
                     }));
    std::shared_ptr<tTableDefinitionShared> def = made->FindTableDef("Clients", "ERP");
    ASSERT_NE(def, nullptr);
    EXPECT_EQ(def->GetFieldCount(), 7);
    EXPECT_EQ(def->GetRecLen(), 6u + 8u + 8u + 1u + 0u + 1u);
    EXPECT_EQ(def->GetField(def->GetRecnoField())->GetType(), 'N');
    EXPECT_FALSE(def->IsAutoRecno());
    EXPECT_EQ(Records().RecCount(static_cast<i32>(def->GetLockBucket()), def->GetFullName()), 0.0);
    session->Disconnect();
    session->End();
}

TEST_F(DBServerStructure, RefusedCreatesChangeNothingAndSayWhy) {
    const struct {
        const char* label;
        std::string ini;
        bool inTransaction;
        std::string payload;
        std::string error;
    } cases[] = {
        {"quote in table name", "", false, CreateRequest("cli'ents", {Field("CODE", 'C', 6, 0, 0)}),
         "Invalid Table Name"},
        {"negative count", "", false, Text("clients") + Short(-1), "Invalid Field Count"},
        {"count past the frame", "", false,
         Text("clients") + Short(1000) + Field("CODE", 'C', 6, 0, 0) + Field("OK", 'L', 1, 0, 0),
         "Invalid Field Count"},
        {"quote in field name", "", false, CreateRequest("clients", {Field("CO'DE", 'C', 6, 0, 0)}),
         "Invalid Field Name or Size"},
        {"negative size", "", false, CreateRequest("clients", {Field("CODE", 'C', -6, 0, 0)}),
         "Invalid Field Name or Size"},
        {"isam off", "IsamConnection=0\n", false, ClientsRequest(),
         "[WARNING] CreateFile only supported when IsamConnection is ENABLED."},
        {"read-only", "ReadOnly=1\n", false, ClientsRequest(),
         "[WARNING] CreateFile not supported on READONLY Connection."},
        {"clob memo", "", false, CreateRequest("clients", {Field("NOTES#", 'M', 10, 0, 0)}),
         "[WARNING] Clob Fields not supported."},
        {"transaction", "", true, ClientsRequest(), "Invalid operation with active transaction"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        Restart(c.ini);
        script.inTransaction = c.inTransaction;
        auto session = OpenConnected();
        EXPECT_EQ(session->Exchange(OP_CREATEFILE, c.payload), Short(RC_FAILED));
        EXPECT_EQ(Ran(), std::vector<std::string>{});
        EXPECT_EQ(made->FindTableDef("clients", "ERP"), nullptr);
        EXPECT_NE(LastError(*session).find(c.error), std::string::npos);
        session->Disconnect();
        session->End();
    }
}

TEST_F(DBServerStructure, AFieldListCutShortEndsTheConnectionWithoutSql) {
    auto session = OpenConnected();
    const std::string cut =
        Text("clients") + Short(2) + Field("CODE", 'C', 6, 0, 0) + "NOTES-WITHOUT-END";
    ASSERT_TRUE(session->Send(gmtest::Request(OP_CREATEFILE, cut)));
    session->Join();
    EXPECT_EQ(session->result, 1);
    EXPECT_EQ(Ran(), std::vector<std::string>{});
    session->End();
    EXPECT_EQ(gmtest::ReadFrame(*session->client), kClosed);
}

TEST_F(DBServerStructure, TableOpenElsewhereIsNeitherRecreatedNorDroppedUntilClosed) {
    auto session = OpenConnected();
    std::shared_ptr<tTableDefinitionShared> def;
    ASSERT_NO_FATAL_FAILURE(CreateOpenElsewhere(*session, def));
    const i32 bucket = static_cast<i32>(def->GetLockBucket());

    EXPECT_EQ(session->Exchange(OP_CREATEFILE, ClientsRequest()), Short(RC_FAILED));
    EXPECT_NE(LastError(*session).find("[ERROR] Table clients STILL IN USE."), std::string::npos);
    EXPECT_EQ(session->Exchange(OP_DELETEFILE, Text("Clients")), Short(RC_NO_DELETE));
    const std::string error = session->Exchange(OP_GETERROR);
    EXPECT_EQ(error.substr(0, 2), Short(30));
    EXPECT_NE(error.find("DROP ERROR : TABLE Clients STILL IN USE."), std::string::npos);
    EXPECT_EQ(Ran(), std::vector<std::string>{});
    EXPECT_EQ(made->FindTableDef("CLIENTS", "ERP"), def);

    ASSERT_TRUE(Records().SetClose(kOtherOwner, bucket, def->GetFullName(), 0));
    Records().SetRecCount(bucket, def->GetFullName(), 9.0);
    EXPECT_EQ(session->Exchange(OP_DELETEFILE, Text("Clients")), Short(RC_OK));
    EXPECT_EQ(Ran(),
              (std::vector<std::string>{
                  "tDBServer::DeleteFile: DROP TABLE Clients",
                  "tDBServer::Unregister: DELETE FROM GML_FIELD WHERE FIELD_TABLE ='CLIENTS'",
              }));
    EXPECT_EQ(made->FindTableDef("CLIENTS", "ERP"), nullptr);
    EXPECT_EQ(Records().RecCount(bucket, def->GetFullName()), 0.0);
    // The sole opening taken for the drop was given back.
    EXPECT_TRUE(Records().SetOpen(kOtherOwner, bucket, def->GetFullName(), 1, 0));
    session->Disconnect();
    session->End();
}

TEST_F(DBServerStructure, DropOfAnUncachedTableRunsWithoutAnInUseCheckAndNamesMustBeIdentifiers) {
    auto session = OpenConnected();
    EXPECT_EQ(session->Exchange(OP_DELETEFILE, Text("orders")), Short(RC_OK));
    EXPECT_EQ(session->Exchange(OP_DELETEFILE, Text("orders; DROP TABLE x")), Short(RC_FAILED));
    EXPECT_NE(LastError(*session).find("Invalid Table Name"), std::string::npos);
    made->failingExecs = {made->executed.size()};
    EXPECT_EQ(session->Exchange(OP_DELETEFILE, Text("gone")), Short(RC_FAILED));
    EXPECT_NE(LastError(*session).find("syntax error in DROP TABLE gone"), std::string::npos);
    EXPECT_EQ(Ran(), (std::vector<std::string>{
                         "tDBServer::DeleteFile: DROP TABLE orders",
                         "tDBServer::Unregister: DELETE FROM GML_FIELD WHERE FIELD_TABLE ='ORDERS'",
                         "tDBServer::DeleteFile: DROP TABLE gone",
                     }));
    session->Disconnect();
    session->End();
}

TEST_F(DBServerStructure, EverySpellingOfATableNameWaitsForTheSameNamedNode) {
    auto session = OpenConnected();
    tNamedNode* node = globals->GetNamedLocks()->GetNode("ERP", "CLIENTS");
    std::string reply;
    {
        tWaiting hold(node, __FILE__, __LINE__);
        ASSERT_TRUE(session->Send(gmtest::Request(OP_CREATEFILE, ClientsRequest())));
        // The server waits on the node: TryEnter then says that someone waits.
        while (node->TryEnter()) node->Leave();
        EXPECT_EQ(Ran(), std::vector<std::string>{});
    }
    EXPECT_EQ(gmtest::ReadFrame(*session->client), Short(RC_OK));
    EXPECT_FALSE(Ran().empty());
    session->Disconnect();
    session->End();
}

TEST_F(DBServerStructure, QueriesOpenAsFilesUnderTheLowestFreeIdAndOnlyPreparedOnesAreFreed) {
    auto session = OpenConnected();
    session->server->GetProperties()->SetTraced(1);
    // 0, the id, the record length, one C field of 10, the status of a query file.
    const std::string head =
        Short(RC_OK) + Short(1) + Long(10) + Short(1) + Text("NAME") + 'C' + Short(10) + Short(0);
    const std::string opened = session->Exchange(OP_QUERY, Text("SELECT NAME FROM PREPARED_T"));
    EXPECT_EQ(opened.substr(0, head.size()), head);
    EXPECT_EQ(session->Exchange(OP_QUERY, Text("select name from t")).substr(0, 4),
              Short(RC_OK) + Short(2));
    EXPECT_EQ(session->Exchange(OP_QUERY, Text("UPDATE T SET NAME = 'x'")), Short(RC_FAILED));
    EXPECT_NE(
        LastError(*session).find("Invalid Select / Query Statement : UPDATE T SET NAME = 'x'"),
        std::string::npos);
    EXPECT_EQ(session->Exchange(OP_QUERY, Text("SELECT NOFILE FROM T")), Short(RC_FAILED));

    EXPECT_EQ(session->Exchange(OP_SQLFREE, Short(2)), Short(RC_FAILED));  // not prepared
    EXPECT_NE(LastError(*session).find("Invalid SqlFree on non-prepared statement table"),
              std::string::npos);
    EXPECT_EQ(session->Exchange(OP_SQLFREE, Short(1)), Short(RC_OK));
    // The freed id is no open file any more, for any request that names a file.
    for (i16 opcode : {OP_SQLFREE, OP_CLEAR, OP_PACK}) {
        EXPECT_EQ(session->Exchange(opcode, Short(1)), Short(RC_NO_OPEN_FILE)) << opcode;
    }
    EXPECT_EQ(session->Exchange(OP_CREATEINDEX, Short(1) + Text("IX1") + Text("NAME")),
              Short(RC_NO_OPEN_FILE));
    // A query file can be neither emptied nor packed.
    EXPECT_EQ(session->Exchange(OP_CLEAR, Short(2)), Short(RC_FAILED));
    EXPECT_EQ(session->Exchange(OP_PACK, Short(2)), Short(RC_FAILED));
    EXPECT_EQ(session->Exchange(OP_QUERY, Text("SELECT 1")).substr(0, 4), Short(RC_OK) + Short(1));
    session->Disconnect();
    const std::vector<std::string> traces = gmtest::TakeTraces(*session->server);
    const auto traced = [&](const std::string& start) {
        for (const std::string& line : traces) {
            if (line.rfind(start, 0) == 0) return true;
        }
        return false;
    };
    EXPECT_TRUE(traced("(tDBServer::OpenQuery) -- Opened Query ID 2"));
    EXPECT_TRUE(traced("(tDBServer::SqlFree) -- Free Prepared Query ID 1"));
    EXPECT_TRUE(
        traced("(tDBServer::GetError) -- Last Error Code -19 Message [GML Error -19 - "
               "Invalid Select / Query Statement : UPDATE T SET NAME = 'x'"));
    session->End();
}

TEST_F(DBServerStructure, DirectStatementsRunAsSentWithTheGatewaysOwnHandlingOfThreeForms) {
    auto session =
        OpenConnected("MSSQL/ERP", "ERP", [](tDBServer& s) { s.SetDeleteMarking(true); });
    const struct {
        const char* statement;
        std::vector<std::string> ran;
    } cases[] = {
        {"delete from clients where CODE = '1'",
         {"tDBServer::SQLExec: UPDATE clients SET D_E_L_E_T_ = '*' where CODE = '1'",
          "tDBServer::SQLExec: delete from clients where CODE = '1'"}},
        {"DELETE FROM ", {"tDBServer::SQLExec: DELETE FROM "}},  // no table: nothing to mark
        {"commit", {"tDBServer::SQLExec: commit"}},
        {"UPDATE clients SET OK = 'T'", {"tDBServer::SQLExec: UPDATE clients SET OK = 'T'"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.statement);
        made->executed.clear();
        EXPECT_EQ(session->Exchange(OP_SQLEXEC, Text(c.statement)), Short(RC_OK));
        EXPECT_EQ(Ran(), c.ran);
    }
    made->failingExecs = {made->executed.size()};
    EXPECT_EQ(session->Exchange(OP_SQLEXEC, Text("SELEC nothing")), Short(RC_FAILED));
    const std::string error = session->Exchange(OP_GETERROR);
    EXPECT_EQ(error.substr(0, 2), Short(19));
    EXPECT_NE(error.find("syntax error in SELEC nothing"), std::string::npos);
    session->Disconnect();
    session->End();
    const std::vector<std::string> log = LogEntries();
    const auto warned = [&](const std::string& text) {
        for (const std::string& entry : log) {
            if (entry.find(text) != std::string::npos) return true;
        }
        return false;
    };
    EXPECT_TRUE(warned("[WARNING] Direct COMMIT statement not recommended."));
}

TEST_F(DBServerStructure, DirectDropTakesTheBookkeepingAlongAndWaitsUntilNobodyHasTheTableOpen) {
    auto session = OpenConnected();
    std::shared_ptr<tTableDefinitionShared> def;
    ASSERT_NO_FATAL_FAILURE(CreateOpenElsewhere(*session, def));
    const i32 bucket = static_cast<i32>(def->GetLockBucket());
    EXPECT_EQ(session->Exchange(OP_SQLEXEC, Text("DROP TABLE   clients  ")), Short(RC_IN_USE));
    EXPECT_NE(LastError(*session).find("TABLE STILL IN USE : Direct DROP ERROR on Table clients"),
              std::string::npos);
    EXPECT_EQ(Ran(), std::vector<std::string>{});
    ASSERT_TRUE(Records().SetClose(kOtherOwner, bucket, def->GetFullName(), 0));
    EXPECT_EQ(session->Exchange(OP_SQLEXEC, Text("drop table   clients  ")), Short(RC_OK));
    EXPECT_EQ(Ran(),
              (std::vector<std::string>{
                  "tDBServer::SQLExec: drop table   clients  ",
                  "tDBServer::Unregister: DELETE FROM GML_FIELD WHERE FIELD_TABLE ='CLIENTS'",
              }));
    EXPECT_EQ(made->FindTableDef("CLIENTS", "ERP"), nullptr);
    session->Disconnect();
    session->End();
}

// A connection without table use registers no fields (its database may have no GML_FIELD): the
// drop runs alone.
TEST_F(DBServerStructure, DirectDropWithoutTableUseLeavesTheFieldRegistryAlone) {
    Restart("IsamConnection=0\n");
    auto session = OpenConnected();
    EXPECT_EQ(session->Exchange(OP_SQLEXEC, Text("DROP TABLE clients")), Short(RC_OK));
    EXPECT_EQ(Ran(), std::vector<std::string>{"tDBServer::SQLExec: DROP TABLE clients"});
    session->Disconnect();
    session->End();
}

TEST_F(DBServerStructure, LastErrorComesBackPositiveWithItsTextOrAsMinus19WithoutOne) {
    auto session = OpenConnected();
    EXPECT_EQ(session->Exchange(OP_GETERROR), Short(RC_FAILED));
    EXPECT_EQ(session->Exchange(OP_DELETEFILE, Text("a'b")), Short(RC_FAILED));
    const std::string error = session->Exchange(OP_GETERROR);
    EXPECT_EQ(error.substr(0, 2), Short(19));
    EXPECT_EQ(error.substr(2, 15), "GML Error -19 -");
    EXPECT_EQ(error.back(), '\0');
    EXPECT_EQ(session->Exchange(OP_SQLEXEC, Text("UPDATE T SET A = 1")), Short(RC_OK));
    EXPECT_EQ(session->Exchange(OP_GETERROR), Short(RC_FAILED));  // a statement clears it
    session->Disconnect();
    session->End();
}

TEST_F(DBServerStructure, SessionParametersAreRefusedWithTheFirstReasonThatApplies) {
    const struct {
        std::string ini;
        std::string value;
        i16 code;
        std::string error;
    } cases[] = {
        {"", "10", RC_OK, ""},
        {"", "", RC_FAILED, "[WARNING] SetParam [ROWS] does not accept NULL parameter value."},
        {"ReadOnly=1\n", "", RC_FAILED, "[WARNING] SetParam not supported on READONLY Connection."},
        {"IsamConnection=0\nReadOnly=1\n", "10", RC_FAILED,
         "[WARNING] SetParam only supported when IsamConnection is ENABLED."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ini + "/" + c.value);
        Restart(c.ini);
        auto session = OpenConnected();
        made->SetRowCount(40);
        EXPECT_EQ(session->Exchange(OP_SETPARAM, Text("ROWS") + Text(c.value)), Short(c.code));
        EXPECT_EQ(made->GetRowCount(), 40);
        if (!c.error.empty()) {
            EXPECT_NE(LastError(*session).find(c.error), std::string::npos);
        }
        session->Disconnect();
        session->End();
    }
}

TEST_F(DBServerStructure, DatabaseSessionIdComesAsABareString) {
    auto session = OpenConnected();
    EXPECT_EQ(session->Exchange(OP_GETDBSID), Text("(SID 77) "));
    session->Disconnect();
    session->End();
}

TEST_F(DBServerStructure, AlterationsAreRefusedWithTheFirstReasonThatAppliesAndNoSql) {
    const std::string columns = std::string("CODE") + '\x02' + "C" + '\x02' + "6" + '\x02' + "0";
    const struct {
        std::string ini;
        bool inTransaction;
        std::string table;
        std::string error;
    } cases[] = {
        {"IsamConnection=0\nReadOnly=1\n", true, "clients",
         "Invalid operation with active transaction."},
        {"IsamConnection=0\nReadOnly=1\n", false, "clients",
         "[WARNING] AlterFile only supported when IsamConnection is ENABLED.\n"},
        {"ReadOnly=1\n", false, "clients",
         "[WARNING] AlterFile not supported on READONLY Connection.\n"},
        {"", true, "cli'ents", "[ERROR] File [CLI'ENTS] does NOT exists.\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        Restart(c.ini);
        script.inTransaction = c.inTransaction;
        auto session = OpenConnected();
        const size_t before = made->executed.size();
        EXPECT_EQ(session->Exchange(OP_ALTERFILE, Text(c.table) + Text(columns) + Text(columns)),
                  Short(RC_FAILED));
        EXPECT_EQ(made->executed.size(), before);
        EXPECT_NE(LastError(*session).find(c.error), std::string::npos) << LastError(*session);
        session->Disconnect();
        session->End();
    }
}

}  // namespace
