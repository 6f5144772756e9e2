// The Oracle connection and statement over the recording OCI library, on both call layers: the
// choice of the layer, logon and session set-up, error texts and lost links, statements and
// prepared runs, long values, typed binds, transactions, the check-up and the query files.
#include "server/drivers/oracle.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "lib_common/commbuffer.h"
#include "lib_common/retcodes.h"
#include "platform/inifile.h"
#include "platform/registry.h"
#include "server/isam/gatemill_query.h"
#include "server/tables/dbtable.h"
#include "tests/server/support/recoci_control.h"
#include "tests/server/support/testfile.h"
#include "tests/server/support/testprocess.h"
#include "tests/server/support/testsession.h"
#include "tests/support/gmtest.h"
#include "tests/support/tempdir.h"

namespace {

using gmtest::Holds;

const char* const kNls =
    "alter session set nls_language= 'AMERICAN'  nls_territory = 'AMERICA' nls_currency = '$' "
    "nls_iso_currency = 'AMERICA' nls_numeric_characters = '.,' nls_date_format = 'DD-MON-YY' "
    "nls_date_language = 'AMERICAN' nls_sort = 'BINARY' nls_calendar = 'GREGORIAN'";
const char* const kParamDelete = "delete from GML_PARAM where PARAM_SESSION = userenv('sessionid')";
const char* const kSidQuery =
    "select sid || ','|| serial# CODE from v$session where audsid = userenv('sessionid')";

// A text field holding text, of the declared length (the text's own by default).
std::unique_ptr<tDATAField> Text(u8 type, const std::string& text, i16 length = -1) {
    auto field = std::make_unique<tCharField>(
        "", type, length < 0 ? static_cast<i16>(text.size()) : length, 0);
    field->SetData(text.data(), text.size());
    return field;
}

std::unique_ptr<tDATAField> Number(u8 type, f64 value) {
    auto field = std::make_unique<tNumericField>("", type, 8, 0);
    field->SetData(&value, sizeof value);
    return field;
}

std::unique_ptr<tDATAField> Integer(u8 type, i32 value) {
    auto field = std::make_unique<tNumericField>("", type, 4, 0);
    field->SetData(&value, sizeof value);
    return field;
}

std::unique_ptr<tDATAField> DateTime(const std::string& text, i32 first, i32 last) {
    auto field = std::make_unique<tDateTimeField>("", 'T', static_cast<i16>(text.size()), 0);
    field->SetData(text.data(), text.size());
    field->SetFirstUnit(first);
    field->SetLastUnit(last);
    return field;
}

using tValues = std::unique_ptr<tAutoArray<tDATAField>>;

tValues Values(std::vector<std::unique_ptr<tDATAField>> fields) {
    auto values = std::make_unique<tAutoArray<tDATAField>>();
    for (auto& f : fields) values->Add(f.release());
    return values;
}

class OracleBase : public ::testing::Test {
protected:
    void SetUp() override {
        home.Client("oci.dll");
        process.SetIni("Oracle", "ORACLE_HOME", home.Path().c_str());
        tOracleConnection::ResetOCIVersionProbe();
    }
    void TearDown() override { tOracleConnection::ResetOCIVersionProbe(); }

    std::unique_ptr<tOracleConnection> Make() {
        auto conn = std::make_unique<tOracleConnection>("ORACLE", tString("ORCL"), tString("scott"),
                                                        tString("tiger"), true);
        conn->SetDBServer(&session);
        return conn;
    }
    std::vector<std::string> Log() const { return process.LogEntries(); }

    gmtest::TestDBProcess process;
    gmtest::ConsoleCapture console;
    gmtest::RecOciControl rec;
    gmtest::OracleHome home;
    gmtest::TestSession session;
};

// ---- The choice of the call layer

class OracleLayer : public OracleBase {
protected:
    void SetUp() override {
        OracleBase::SetUp();
        plat::SetRegistryFile(registryDir.File("registry.ini"));
    }
    void TearDown() override {
        plat::SetRegistryFile("");
        OracleBase::TearDown();
    }
    gmtest::TempDir registryDir;
};

TEST_F(OracleLayer, ConfigurationThenTheOncePerProcessProbeChooseTheLayer) {
    gmtest::OracleHome client9;
    std::ofstream(client9.Path() + "/bin/oraclient9.dll").put('x');
    gmtest::OracleHome plain;
    const struct {
        const char* label;
        const char* ociVersion;
        std::string clientLibrary;
        std::string home;          // ORACLE_HOME of [Oracle]
        std::string registryHome;  // HOME3 in the registry
        bool oci8;
    } cases[] = {
        {"OCIVersion 7", "7", "", "", "", false},
        {"OCIVersion 8", "8", "", "", "", true},
        {"OCIVersion 9 is OCI 7", "9", "", "", "", false},
        {"ClientLibrary wins over 7", "7", GM_RECOCI_PATH, "", "", true},
        {"probe finds the client 9", "0", "", client9.Path(), "", true},
        {"probe with a trailing backslash", "0", "", client9.Path() + "\\", "", true},
        {"probe without the client 9", "0", "", plain.Path(), "", false},
        {"probe through the registry", "0", "", "", client9.Path(), true},
        {"registry home without the client 9", "0", "", "", plain.Path(), false},
        {"nowhere to probe", "0", "", "", "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        tOracleConnection::ResetOCIVersionProbe();
        process.SetIni("Oracle", "OCIVersion", c.ociVersion);
        process.SetIni("Oracle", "ClientLibrary", c.clientLibrary.c_str());
        process.SetIni("Oracle", "ORACLE_HOME", c.home.c_str());
        plat::IniWriteString(plat::RegistryFile().c_str(), "SOFTWARE\\Oracle\\HOME3", "ORACLE_HOME",
                             c.registryHome.c_str());
        if (c.registryHome.empty()) {
            plat::RegistryDeleteValue("SOFTWARE\\Oracle\\HOME3", "ORACLE_HOME");
        }
        EXPECT_EQ(tOracleConnection::GetOCIVersion(), c.oci8);
    }
    // The probe's answer stays for the process: the client leaving changes nothing.
    tOracleConnection::ResetOCIVersionProbe();
    process.SetIni("Oracle", "OCIVersion", "0");
    process.SetIni("Oracle", "ORACLE_HOME", client9.Path().c_str());
    EXPECT_TRUE(tOracleConnection::GetOCIVersion());
    std::filesystem::remove(client9.Path() + "/bin/oraclient9.dll");
    EXPECT_TRUE(tOracleConnection::GetOCIVersion());
}

TEST_F(OracleLayer, MemoAsBlobNeedsOCI8) {
    process.SetIni("ORACLE/ORCL", "MemoAsBlob", "1");
    process.SetIni("Oracle", "OCIVersion", "7");
    process.ClearLog();
    auto conn7 = Make();
    EXPECT_FALSE(conn7->IsMemoAsBlob());
    EXPECT_STREQ(conn7->GetMemoType().GetText(), "LONG RAW");
    EXPECT_EQ(Log(), std::vector<std::string>{
                         "[WARNING] (ORACLE/ORCL) Unable to use BLOB fields with client "
                         "compatibility OCIVersion=7. Orvel MEMO fields are still created as "
                         "LONG RAW fields.\n"});
    process.SetIni("Oracle", "OCIVersion", "8");
    process.ClearLog();
    auto conn8 = Make();
    EXPECT_TRUE(conn8->IsMemoAsBlob());
    EXPECT_STREQ(conn8->GetMemoType().GetText(), "BLOB");
    EXPECT_TRUE(Log().empty());
    EXPECT_STREQ(conn8->GetSchema(), "SCOTT.");
    EXPECT_STREQ(conn8->GetOwner(), "");
}

// ---- Per generation

class Oracle : public OracleBase, public ::testing::WithParamInterface<int> {
protected:
    void SetUp() override {
        OracleBase::SetUp();
        process.SetIni("Oracle", "OCIVersion", Oci8() ? "8" : "7");
    }
    bool Oci8() const { return GetParam() == 8; }
    // A connected connection, with the logs cleared.
    std::unique_ptr<tOracleConnection> Connected() {
        auto conn = Make();
        EXPECT_TRUE(conn->Connect());
        rec.ClearLog();
        process.ClearLog();
        return conn;
    }
    // The SQL texts that were parsed, in order: "oparse(<sql>,0,2)=0" or
    // "OCIStmtPrepare(<sql>,1,0)=0".
    std::vector<std::string> Parsed() const {
        const std::string prefix = Oci8() ? "OCIStmtPrepare(" : "oparse(";
        std::vector<std::string> texts;
        std::string line;
        for (std::istringstream in(rec.Calls()); std::getline(in, line);) {
            if (line.rfind(prefix, 0) != 0) continue;
            const size_t end = line.rfind(',', line.rfind(',') - 1);
            texts.push_back(line.substr(prefix.size(), end - prefix.size()));
        }
        return texts;
    }
    int Count(const std::string& prefix) const {
        int n = 0;
        std::string line;
        for (std::istringstream in(rec.Calls()); std::getline(in, line);) {
            if (line.rfind(prefix, 0) == 0) ++n;
        }
        return n;
    }
    const char* Commit() const { return Oci8() ? "OCITransCommit(0)=0\n" : "ocom()=0\n"; }
    std::string LastError(tDBConnection& conn) const {
        tString text;
        conn.GetLastErrorInfo(text);
        return text.GetText();
    }
    // The calls that change the transaction state.
    std::string TransactionCalls() const {
        std::string kept, line;
        for (std::istringstream in(rec.Calls()); std::getline(in, line);) {
            for (const char* p : {"ocof", "ocon", "ocom", "orol", "OCITrans"}) {
                if (line.rfind(p, 0) == 0) kept += line + "\n";
            }
        }
        return kept;
    }
};

INSTANTIATE_TEST_SUITE_P(Generations, Oracle, ::testing::Values(7, 8),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return "OCI" + std::to_string(info.param);
                         });

TEST_P(Oracle, ConnectLogsOnSetsTheSessionUpAndReadsTheSid) {
    for (const bool isam : {true, false}) {
        SCOPED_TRACE(isam ? "IsamConnection on" : "IsamConnection off");
        process.SetIni("ORACLE/ORCL", "IsamConnection", isam ? "1" : "0");
        rec.Reset();
        rec.AddResult(kSidQuery);
        rec.AddColumn("CODE", 1, 81);
        rec.AddRow();
        rec.AddValue("17,4711");
        auto conn = Make();
        rec.ClearLog();
        ASSERT_TRUE(conn->Connect());
        EXPECT_TRUE(conn->IsConnected());
        EXPECT_TRUE(Holds(
            rec.Calls(), Oci8() ? "OCILogon(scott,ORCL)=0\n" : "olog(scott,ORCL,0)=0\nocon()=0\n"));
        std::vector<std::string> expected{kNls, kSidQuery};
        if (isam) expected.insert(expected.begin() + 1, kParamDelete);
        EXPECT_EQ(Parsed(), expected);
        tString sid;
        conn->GetSessionID(sid);
        EXPECT_STREQ(sid.GetText(), "(SID: 17,4711) ");

        rec.ClearLog();
        conn.reset();
        EXPECT_EQ(Parsed(),
                  isam ? std::vector<std::string>{kParamDelete} : std::vector<std::string>{});
        EXPECT_TRUE(Holds(rec.Calls(), Oci8() ? "OCILogoff()=0\n" : "ologof()=0\n"));
    }
}

TEST_P(Oracle, ASessionWithoutSidStaysConnectedAndAFailedLogonRunsNothing) {
    auto conn = Make();
    process.ClearLog();
    ASSERT_TRUE(conn->Connect());
    EXPECT_EQ(Log(),
              std::vector<std::string>{"[ERROR] ORACLE - ORCL - Unable to get SID value.\n"});
    EXPECT_TRUE(conn->IsConnected());
    tString sid;
    conn->GetSessionID(sid);
    EXPECT_STREQ(sid.GetText(), "(SID: ) ");

    auto refused = Make();
    rec.ClearLog();
    rec.FailNext(Oci8() ? "OCILogon" : "olog", 1017, "invalid username/password; logon denied");
    EXPECT_FALSE(refused->Connect());
    EXPECT_FALSE(refused->IsConnected());
    EXPECT_TRUE(Parsed().empty());
}

TEST_P(Oracle, ErrorsCarryCodeMessageRoutineStateAndStatement) {
    auto conn = Connected();
    auto stmt = conn->MakeStatement();
    rec.FailNext("select A from T", 942, "table or view does not exist");
    EXPECT_FALSE(stmt->ExecDirect("select A from T", "tTest::Run", 1));
    EXPECT_EQ(stmt->GetRetCode(), 942);
    const std::string text = LastError(*conn);
    EXPECT_EQ(text.rfind("Error : 942 - ORA-00942: table or view does not exist", 0), 0u) << text;
    EXPECT_TRUE(Holds(text, " ( From tTest::Run )\n" + session.stateLine)) << text;
    EXPECT_EQ(text.substr(text.size() - 15), "select A from T");
    ASSERT_EQ(Log().size(), 1u);
    EXPECT_EQ(Log()[0], text);
    EXPECT_FALSE(conn->IsConnectionLost());

    // Without report the error is kept but not logged.
    process.ClearLog();
    rec.FailNext("select B from T", 942, "table or view does not exist");
    EXPECT_FALSE(stmt->ExecDirect("select B from T", "tTest::Run", 0));
    EXPECT_TRUE(Log().empty());
    EXPECT_EQ(LastError(*conn).rfind("Error : 942 - ", 0), 0u);

    for (const int code : {3113, 3114, 1034, 12514, 1, 942}) {
        SCOPED_TRACE(code);
        auto other = Connected();
        auto s = other->MakeStatement();
        rec.FailNext("select 1 from dual", code, "failure");
        EXPECT_FALSE(s->ExecDirect("select 1 from dual", "tTest::Run", 1));
        const bool lost = code == 3113 || code == 3114 || code == 1034 || code == 12514;
        EXPECT_EQ(other->IsConnectionLost(), lost);
        EXPECT_EQ(Count(Oci8() ? "OCILogon" : "olog"), 0) << "nothing reconnects";
    }
}

TEST_P(Oracle, DuplicateAndRecnoKeyErrors) {
    auto conn = Connected();
    for (const int code : {1, 100}) EXPECT_TRUE(conn->IsDuplicateKey(code)) << code;
    for (const int code : {0, -1, 2, 99, 101, 1403, 2291}) {
        EXPECT_FALSE(conn->IsDuplicateKey(code)) << code;
    }
    const tTableDefinitionExclusive def("SA1010", "ORCL");
    const struct {
        const char* message;
        bool recno;
    } cases[] = {
        {"unique constraint (SCOTT.SA1010_PK) violated", true},
        {"unique constraint (scott.sa1010_pk) violated", true},
        {"unique constraint (SCOTT.SA1010_RECNO) violated", true},
        {"unique constraint (scott.other_recno) violated", true},
        {"unique constraint (SCOTT.SA1010_UNQ) violated", false},
        {"unique constraint (SCOTT.XSA1010_PK2) violated", false},
        {"unique constraint (SCOTT.SA1011_PK) violated", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        auto stmt = conn->MakeStatement();
        rec.FailNext("insert into SA1010 values (1)", 1, c.message);
        EXPECT_FALSE(stmt->ExecDirect("insert into SA1010 values (1)", "tTest::Write", 1));
        EXPECT_EQ(conn->IsRecnoKeyError(def), c.recno);
    }
}

TEST_P(Oracle, ReadOnlyConnectionsRunQueriesOnly) {
    process.SetIni("ORACLE/ORCL", "ReadOnly", "1");
    auto conn = Connected();
    auto stmt = conn->MakeStatement();
    EXPECT_FALSE(stmt->ExecDirect("DELETE FROM T", "tTest::Run", 1));
    tString text;
    EXPECT_EQ(conn->GetLastErrorInfo(text), RC_FAILED);
    EXPECT_TRUE(Holds(text.GetText(),
                      "Invalid statement execute due READONLY connection. STMT (DELETE FROM T)"))
        << text.GetText();
    EXPECT_TRUE(Parsed().empty());
    EXPECT_TRUE(stmt->ExecDirect("SELECT A FROM T", "tTest::Run", 1));
    EXPECT_EQ(Parsed(), std::vector<std::string>{"SELECT A FROM T"});
}

TEST_P(Oracle, PreparedRunsBindTheirColumnsOnceAndAFailureClosesThem) {
    auto conn = Connected();
    auto stmt = conn->MakeStatement();
    EXPECT_FALSE(stmt->ExecRecnoStmt("select A from T where R_E_C_N_O_ = :1", 5, "tTest::Read"));
    EXPECT_TRUE(
        Holds(console.Get(), "tOracleStmt ERROR : Cannot execute non-prepared Statement\n"));

    const char* sql = "select A, B from T where R_E_C_N_O_ = :1";
    rec.AddResult(sql);
    rec.AddColumn("A", 1, 10);
    rec.AddColumn("B", 2, 22);
    rec.AddRow();
    rec.AddValue("abc");
    rec.AddValue("2.5");
    ASSERT_TRUE(stmt->Prepare(sql, "tTest::Read"));
    EXPECT_TRUE(stmt->IsOpened());
    for (const f64 recno : {5.0, 6.0}) {
        ASSERT_TRUE(stmt->ExecRecnoStmt(sql, recno, "tTest::Read"));
        ASSERT_TRUE(stmt->Fetch());
        tString a;
        EXPECT_STREQ(stmt->FieldAsString(a, 0).GetText(), "abc");
        EXPECT_EQ(stmt->FieldAsDouble(1), 2.5);
    }
    EXPECT_EQ(Count(Oci8() ? "OCIDefineByPos(" : "odefin("), 2);
    EXPECT_EQ(Count(Oci8() ? "OCIStmtPrepare(" : "oparse("), 1);

    rec.FailNext(Oci8() ? "OCIStmtExecute" : "oexec", 1013, "user requested cancel");
    EXPECT_FALSE(stmt->ExecRecnoStmt(sql, 7, "tTest::Read"));
    EXPECT_EQ(stmt->GetRetCode(), 1013);
    EXPECT_FALSE(stmt->IsOpened());
    EXPECT_FALSE(stmt->ExecRecnoStmt(sql, 8, "tTest::Read"));
    const std::string out = console.Get();
    const std::string line = "Cannot execute non-prepared Statement";
    EXPECT_NE(out.find(line), out.rfind(line)) << "a closed statement is no longer prepared";
}

TEST_P(Oracle, ExecParamMarksTheFirstMarkerAndSendsLongValuesWithTheirHeader) {
    auto conn = Connected();
    auto stmt = conn->MakeStatement();
    const std::string value(70000, 'v');
    ASSERT_TRUE(
        stmt->ExecParam("UPDATE T SET M = ? WHERE R_E_C_N_O_ = 5", value.data(), 70000, 10));
    EXPECT_EQ(Parsed(), std::vector<std::string>{"UPDATE T SET M =:1 WHERE R_E_C_N_O_ = 5"});
    EXPECT_TRUE(Holds(rec.Calls(), Oci8() ? "OCIBindByPos(1,70006,24)=0" : "obndrn(1,70006,24,"))
        << rec.Calls();

    rec.ClearLog();
    ASSERT_TRUE(stmt->ExecParam("UPDATE T SET M=? WHERE R_E_C_N_O_ = 6", "short", 5, 10));
    EXPECT_EQ(Parsed(), std::vector<std::string>{"UPDATE T SET M=:1 WHERE R_E_C_N_O_ = 6"});
    EXPECT_TRUE(Holds(rec.Calls(), Oci8() ? "OCIBindByPos(1,5,24)=0" : "obndrn(1,5,24,"));

    rec.ClearLog();
    EXPECT_FALSE(stmt->ExecParam("UPDATE T SET M = 1 WHERE R_E_C_N_O_ = 5", "x", 1, 10));
    EXPECT_EQ(stmt->GetRetCode(), RC_FAILED);
    EXPECT_EQ(rec.Calls(), "");

    rec.FailNext(Oci8() ? "OCIStmtExecute" : "oexec", 1438, "value larger than precision");
    EXPECT_FALSE(stmt->ExecParam("UPDATE T SET M = ? WHERE R_E_C_N_O_ = 5", "x", 1, 10));
    EXPECT_EQ(stmt->GetRetCode(), 1438);
}

TEST_P(Oracle, TransactionsReachTheCallLayer) {
    auto conn = Connected();
    EXPECT_EQ(conn->StrCmtCtl(), 0);
    EXPECT_TRUE(conn->InTransaction());
    EXPECT_EQ(conn->Commit(), 0);
    const u32 audit = conn->GetAuditSeq();
    EXPECT_EQ(conn->Rollback(), 0);
    EXPECT_EQ(conn->GetAuditSeq(), audit + 1);
    EXPECT_EQ(conn->EndCmtCtl(), 0);
    EXPECT_FALSE(conn->InTransaction());
    EXPECT_EQ(TransactionCalls(), Oci8() ? "OCITransCommit(0)=0\nOCITransRollback(0)=0\n"
                                           "OCITransCommit(0)=0\n"
                                         : "ocof()=0\nocom()=0\norol()=0\nocon()=0\n");

    rec.ClearLog();
    conn->BeginTran();
    EXPECT_TRUE(conn->InUnitOfWork());
    conn->EndTran();
    conn->AbortTran();
    EXPECT_FALSE(conn->InUnitOfWork());
    conn->AbortTran();  // outside a unit of work: no call
    EXPECT_EQ(TransactionCalls(), Oci8() ? "OCITransCommit(0)=0\nOCITransCommit(0)=0\n"
                                           "OCITransCommit(0)=0\n"
                                         : "ocof()=0\nocom()=0\nocom()=0\nocon()=0\n");

    EXPECT_EQ(conn->StrCmtCtl(), 0);
    rec.FailNext(Oci8() ? "OCITransCommit" : "ocom", 3113, "end-of-file on communication channel");
    EXPECT_EQ(conn->Commit(), RC_NOT_SUPPORTED);
    EXPECT_TRUE(conn->IsConnectionLost());
    EXPECT_TRUE(Holds(LastError(*conn), " ( From tOracleConnection::Commit )"));
}

TEST_P(Oracle, LogActionDoublesQuotesAndServerNameAndVersionAreRead) {
    auto conn = Connected();
    conn->LogAction("SA1010", "O'Brien's");
    EXPECT_EQ(Parsed(),
              std::vector<std::string>{
                  "begin DBMS_APPLICATION_INFO.SET_ACTION ( 'SA1010 : O''Brien''s'); end;"});

    tString host;
    process.ClearLog();
    EXPECT_FALSE(conn->GetServerName(host));
    EXPECT_EQ(Log(), std::vector<std::string>{
                         "[ERROR] ORACLE - ORCL - Unable to get SERVER_HOST value.\n"});
    rec.AddResult("SELECT sys_context('USERENV', 'SERVER_HOST') FROM dual");
    rec.AddColumn("HOST", 1, 64);
    rec.AddRow();
    rec.AddValue("dbhost");
    EXPECT_TRUE(conn->GetServerName(host));
    EXPECT_STREQ(host.GetText(), "dbhost");
}

TEST_P(Oracle, CheckUpReportsVersionsPropertiesAndWarnings) {
    process.SetIni("ORACLE/ORCL", "IsamConnection", "0");
    process.SetIni("ORACLE/ORCL", "TableSpace", "GMDATA");
    process.SetIni("Oracle", "IndexHint", "0");
    auto conn = Connected();
    rec.AddResult("select substr(PRODUCT,1,60)*");
    rec.AddColumn("P", 1, 60);
    rec.AddColumn("V", 1, 10);
    rec.AddColumn("S", 1, 10);
    rec.AddRow();
    rec.AddValue("Oracle Database");
    rec.AddValue("8.1.7");
    rec.AddValue("Production");
    rec.AddResult("select PROPERTY_NAME*");
    rec.AddColumn("N", 1, 30);
    rec.AddColumn("V", 1, 40);
    rec.AddRow();
    rec.AddValue("NLS_LANGUAGE");
    rec.AddValue("AMERICAN");
    rec.AddRow();
    rec.AddValue("NLS_CHARACTERSET");
    rec.AddValue("WE8ISO8859P1");
    rec.FailNext("select PARAMETER,substr(VALUE,1,40) from NLS_SESSION_PARAMETERS", 942,
                 "table or view does not exist");
    rec.AddResult("select * from v$version");
    rec.AddColumn("BANNER", 1, 64);
    rec.AddRow();
    rec.AddValue("Oracle8i Enterprise Edition Release 8.1.7.0.0 - Production");
    process.ClearLog();
    tString report;
    conn->InitialCheckUp(report);
    const std::string text = report.GetText();
    EXPECT_EQ(text.rfind("--------------- Initial Connection Check-Up ---------------\n"
                         "Database......: ORACLE\nEnvironment...: ORCL\n"
                         "Memo Type.....: LONG RAW\nTableSpace....: GMDATA\nIndexSpace....: \n"
                         "UseHintFirst..: ENABLED\nUseHintIndex..: DISABLED\nClientVersion.: ",
                         0),
              0u)
        << text;
    const std::string block =
        "Product Version Info --- --- --- --- --- --- --- --- --- ---\n" + std::string(25, ' ') +
        "Oracle Database 8.1.7 Production\n" +
        "Database Properties --- --- --- --- --- --- --- --- --- ---\n" + std::string(28, ' ') +
        "NLS_LANGUAGE AMERICAN\n" + std::string(24, ' ') + "NLS_CHARACTERSET WE8ISO8859P1\n" +
        "-----------------------------------------------------------\n\n"
        "Database Properties *** NOT AVAILABLE ***\n"
        "-----------------------------------------------------------\n\n"
        "**** WARNING : THIS DATABASE VERSION IS NO LONGER SUPPORTED ****\n\n"
        "**** WARNING : ACTUAL NLS_CHARACTERSET (WE8ISO8859P1) MAY NOT SUPPORT FULL ASCII "
        "TABLE ****\n**** CHANGE NLS_CHARACTERSET CONFIGURATION TO [WE8MSWIN1252] ****\n\n";
    EXPECT_TRUE(Holds(text, block)) << text;
    EXPECT_TRUE(
        Holds(text, Oci8() ? "ClientVersion.: 12.1.0.2" : "ClientVersion.: *** NOT AVAILABLE ***"))
        << text;
    bool warned = false;
    for (const std::string& entry : Log()) warned |= Holds(entry, "MAY NOT SUPPORT FULL ASCII");
    EXPECT_TRUE(warned);
    EXPECT_EQ(conn->GetVersion(), 8);
}

TEST_P(Oracle, VersionWithoutReleaseIsZeroAndCharsetOfWindowsIsQuiet) {
    process.SetIni("ORACLE/ORCL", "IsamConnection", "0");
    auto conn = Connected();
    rec.AddResult("select PROPERTY_NAME*");
    rec.AddColumn("N", 1, 30);
    rec.AddColumn("V", 1, 40);
    rec.AddRow();
    rec.AddValue("NLS_CHARACTERSET");
    rec.AddValue("WE8MSWIN1252");
    rec.AddResult("select * from v$version");
    rec.AddColumn("BANNER", 1, 64);
    rec.AddRow();
    rec.AddValue("Personal Oracle Version 7.3");
    tString report;
    conn->InitialCheckUp(report);
    EXPECT_EQ(conn->GetVersion(), 0);
    EXPECT_TRUE(Holds(report.GetText(), "NO LONGER SUPPORTED"));
    EXPECT_FALSE(Holds(report.GetText(), "NLS_CHARACTERSET (")) << report.GetText();
}

TEST_P(Oracle, QueryFilesDescribeTheirColumnsOrSayWhyNot) {
    auto conn = Connected();
    tCommBuffer reply;
    rec.AddResult("select A, B, C from T");
    rec.AddColumn("A", 1, 10);
    rec.AddColumn("B", 2, 22);
    rec.AddColumn("C", 12, 7);  // a date: not a query file's column
    tString query("select A, B, C from T");
    std::unique_ptr<tQueryFile> file(conn->GetQueryFile(reply, 1, query));
    ASSERT_NE(file, nullptr);
    const tTableDefinition& def = *file->GetTableDef();
    ASSERT_EQ(def.GetFieldCount(), 2);
    EXPECT_EQ(def.GetField(0)->GetType(), 'C');
    EXPECT_EQ(def.GetField(0)->GetLen(), 10);
    EXPECT_EQ(def.GetField(1)->GetType(), 'N');
    EXPECT_EQ(def.GetField(1)->GetLen(), 15);
    EXPECT_EQ(def.GetField(1)->GetDecimals(), 8);

    tString update("update T set A = 1");
    EXPECT_EQ(conn->GetQueryFile(reply, 1, update), nullptr);
    tString text;
    EXPECT_EQ(conn->GetLastErrorInfo(text), RC_FAILED);
    EXPECT_TRUE(Holds(text.GetText(),
                      "Query does not return any supported column.\nQuery : "
                      "update T set A = 1\n"));

    rec.ClearLog();
    std::unique_ptr<tQueryFile> prepared(conn->PrepareStmt(reply, 1, "  select A from T  "));
    ASSERT_NE(prepared, nullptr);
    EXPECT_EQ(prepared->GetTableDef()->GetFieldCount(), 0);
    EXPECT_EQ(Parsed(), std::vector<std::string>{"select A from T"});
    rec.FailNext("select X from T", 904, "invalid identifier");
    EXPECT_EQ(conn->PrepareStmt(reply, 1, "select X from T"), nullptr);
}

// ---- Typed binds

class OracleBind : public Oracle {
protected:
    // Prepares the statement and binds the values; the bind calls and the execution's binds.
    bool Bind(tValues values) {
        if (!stmt) stmt = conn->MakeStatement();
        EXPECT_TRUE(stmt->Prepare("update T set V = :1", "tTest::Bind"));
        rec.ClearLog();
        return stmt->BindParam(std::move(values));
    }
    std::string BindCalls() const {
        std::string kept, line;
        for (std::istringstream in(rec.Calls()); std::getline(in, line);) {
            if (line.rfind("OCIBindByPos", 0) == 0 || line.rfind("obndrn", 0) == 0) {
                kept += line + "\n";
            }
        }
        return kept;
    }
    std::string Executed() const {
        std::string line;
        for (std::istringstream in(rec.Calls()); std::getline(in, line);) {
            const size_t at = line.find("[1=");
            if ((line.rfind("OCIStmtExecute", 0) == 0 || line.rfind("oexec", 0) == 0) &&
                at != std::string::npos) {
                return line.substr(at, line.rfind(']') - at + 1);
            }
        }
        return "";
    }
    void SetUp() override {
        Oracle::SetUp();
        conn = Connected();
    }

    std::unique_ptr<tOracleConnection> conn;
    std::unique_ptr<tOracleStmt> stmt;
};

INSTANTIATE_TEST_SUITE_P(Generation8, OracleBind, ::testing::Values(8),
                         [](const ::testing::TestParamInfo<int>&) { return "OCI8"; });

TEST_P(OracleBind, EveryLetterBindsByTheTable) {
    const struct {
        const char* label;
        std::function<std::unique_ptr<tDATAField>()> make;
        std::string bind;
        std::string value;
    } cases[] = {
        {"D", [] { return Text('D', "05/03/2010"); }, "OCIBindByPos(1,7,12)=0\n",
         "[1=date(120,110,3,5,1,1,1)]"},
        {"T full", [] { return DateTime("2010-03-05 13:45:30", 1, 6); }, "OCIBindByPos(1,7,12)=0\n",
         "[1=date(120,110,3,5,14,46,31)]"},
        {"T time", [] { return DateTime("13:45", 4, 5); }, "OCIBindByPos(1,7,12)=0\n",
         "[1=date(119,100,1,1,14,46,1)]"},
        {"N", [] { return Number('N', 2.5); }, "OCIBindByPos(1,8,4)=0\n", "[1=2.5]"},
        {"E", [] { return Integer('E', 42); }, "OCIBindByPos(1,4,3)=0\n", "[1=<4 bytes>]"},
        {"A", [] { return Text('A', "abc", 5); }, "OCIBindByPos(1,6,5)=0\n", "[1='abc']"},
        {"X", [] { return Text('X', "1", 1); }, "OCIBindByPos(1,2,5)=0\n", "[1='']"},
        {"C", [] { return Text('C', "abcd", 4); }, "OCIBindByPos(1,4,96)=0\n", "[1='abcd']"},
        {"I",
         [] {
             auto image = std::make_unique<tImageField>("", 'I', 3, 0);
             image->SetData("\x01\x02\x03", 3);
             return std::unique_ptr<tDATAField>(std::move(image));
         },
         "OCIBindByPos(1,3,23)=0\n", "[1=<3 bytes>]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        std::vector<std::unique_ptr<tDATAField>> fields;
        fields.push_back(c.make());
        EXPECT_TRUE(Bind(Values(std::move(fields))));
        EXPECT_EQ(BindCalls(), c.bind);
        EXPECT_EQ(Executed(), c.value);
    }
}

TEST_P(OracleBind, BadDatesAndFileReferencesBindNothing) {
    const struct {
        const char* label;
        std::function<std::unique_ptr<tDATAField>()> make;
        i32 code;
        const char* text;
    } cases[] = {
        {"31 February", [] { return Text('D', "31/02/2010"); }, RC_FAILED,
         "Invalid date in parameter 2 [31/02/2010]."},
        {"letters", [] { return Text('D', "ab/cd/efgh"); }, RC_FAILED,
         "Invalid date in parameter 2 [ab/cd/efgh]."},
        {"hour 25", [] { return DateTime("2010-03-05 25:00:00", 1, 6); }, RC_FAILED,
         "Invalid date-time in parameter 2"},
        {"free file id", [] { return Integer('R', 1); }, -290, "#AQUI"},
        {"id outside the table", [] { return Integer('R', 9); }, -290, "#AQUI"},
        {"table file", [] { return Integer('R', 2); }, -290, "#AQUI"},
        {"query without columns", [] { return Integer('R', 3); }, -290, "#AQUI"},
    };
    tCommBuffer reply;
    gmtest::TestFile table(conn.get(), std::make_shared<tTableDefinitionShared>("SA1010", "ORCL"),
                           reply, 1);
    tQueryFile empty(conn.get(), std::make_unique<tTableDefinitionExclusive>("", "ORCL"), reply, 1,
                     conn->MakeStatement(), "select A from T");
    session.openFiles = {nullptr, &table, &empty};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        std::vector<std::unique_ptr<tDATAField>> fields;
        fields.push_back(Number('N', 1.0));
        fields.push_back(c.make());
        EXPECT_FALSE(Bind(Values(std::move(fields))));
        EXPECT_EQ(BindCalls(), "");
        EXPECT_EQ(Count("OCIStmtExecute"), 0);
        tString text;
        EXPECT_EQ(conn->GetLastErrorInfo(text), c.code);
        EXPECT_TRUE(Holds(text.GetText(), c.text)) << text.GetText();
    }
    session.openFiles.clear();
}

TEST_P(OracleBind, AResultColumnOfAnOpenQueryBindsItsText) {
    tCommBuffer reply;
    rec.AddResult("select NAME, CODE from T");
    rec.AddColumn("NAME", 1, 20);
    rec.AddColumn("CODE", 1, 6);
    rec.AddRow();
    rec.AddValue("first");
    rec.AddValue("A01");
    tString query("select NAME, CODE from T");
    std::unique_ptr<tQueryFile> file(conn->GetQueryFile(reply, 1, query));
    ASSERT_NE(file, nullptr);
    ASSERT_TRUE(file->GetStatement().Fetch());
    session.openFiles = {file.get()};
    std::vector<std::unique_ptr<tDATAField>> fields;
    fields.push_back(Integer('R', 1));
    EXPECT_TRUE(Bind(Values(std::move(fields))));
    EXPECT_EQ(BindCalls(), "OCIBindByPos(1,7,5)=0\n");
    EXPECT_EQ(Executed(), "[1='A01']");
    session.openFiles.clear();
}

class OracleBind7 : public OracleBind {};
INSTANTIATE_TEST_SUITE_P(Generation7, OracleBind7, ::testing::Values(7),
                         [](const ::testing::TestParamInfo<int>&) { return "OCI7"; });

TEST_P(OracleBind7, NumbersAndTextsBindByPositionAndOtherLettersAreRefused) {
    std::vector<std::unique_ptr<tDATAField>> fields;
    fields.push_back(Number('N', 2.5));
    fields.push_back(Text('A', "abc", 5));
    EXPECT_TRUE(Bind(Values(std::move(fields))));
    EXPECT_EQ(Count("obndrn(1,8,4,"), 1) << rec.Calls();
    EXPECT_EQ(Count("obndrn(2,6,1,"), 1) << rec.Calls();
    EXPECT_EQ(Count("OCI"), 0);

    for (const u8 letter : {'I', 'E', 'D', 'T', 'R'}) {
        SCOPED_TRACE(letter);
        std::vector<std::unique_ptr<tDATAField>> refused;
        refused.push_back(Text(letter, "05/03/2010"));
        EXPECT_FALSE(Bind(Values(std::move(refused))));
        EXPECT_EQ(BindCalls(), "");
        tString text;
        EXPECT_EQ(conn->GetLastErrorInfo(text), RC_FAILED);
        EXPECT_TRUE(Holds(text.GetText(), "OCI 7")) << text.GetText();
    }
}

}  // namespace
