// The OCI 7 logon and cursor against the recording OCI library: logon texts, transactions,
// columns kept and dropped, fetch codes, error numbers, long raw values and procedure calls.
#include "server/drivers/oci7.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "lib_base/list.h"
#include "server/isam/dbconn.h"
#include "server/tables/dbtable.h"
#include "tests/server/support/ocicases.h"
#include "tests/server/support/recoci_control.h"
#include "tests/server/support/testprocess.h"
#include "tests/support/gmtest.h"

namespace {

class OCI7 : public ::testing::Test {
protected:
    void SetUp() override {
        home.Client("oci.dll");
        process.SetIni("Oracle", "ORACLE_HOME", home.Path().c_str());
        oci = std::make_unique<tOCI7>();
        ASSERT_TRUE(oci->IsLibraryLoaded());
        rec.ClearLog();
    }
    // A logged-on logon and an open cursor, with the call log cleared.
    std::unique_ptr<tOCIStmt> OpenCursor() {
        EXPECT_TRUE(oci->Logon("PROD", "SCOTT", "tiger"));
        std::unique_ptr<tOCIStmt> stmt(oci->NewStmt());
        EXPECT_TRUE(stmt->Open());
        rec.ClearLog();
        process.ClearLog();
        return stmt;
    }
    std::vector<std::string> Log() const { return process.LogEntries(); }

    gmtest::TestDBProcess process;
    gmtest::ConsoleCapture console;
    gmtest::RecOciControl rec;
    gmtest::OracleHome home;
    std::unique_ptr<tOCI7> oci;
};

TEST_F(OCI7, LogonFailuresLogTheirTextsAndSuccessTurnsAutoCommitOn) {
    const struct {
        int code;
        const char* text;  // scripted
        const char* logged;
    } cases[] = {
        {12154, "ignored", "ORA-12154: TNS:could not resolve service name PROD"},
        {12545, "ignored",
         "ORA-12545: Connect failed because target host or object does not exist"},
        {1017, "invalid username/password; logon denied",
         "ORA-01017: invalid username/password; logon denied"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        process.ClearLog();
        rec.ClearLog();
        rec.FailNext("olog", c.code, c.text);
        EXPECT_FALSE(oci->Logon("PROD", "SCOTT", "tiger"));
        EXPECT_FALSE(oci->IsConnected());
        EXPECT_EQ(Log(), std::vector<std::string>{c.logged});
        EXPECT_FALSE(gmtest::Holds(rec.Calls(), "ocon"));
    }
    rec.ClearLog();
    EXPECT_TRUE(oci->Logon("PROD", "SCOTT", "tiger"));
    EXPECT_TRUE(oci->IsConnected());
    EXPECT_EQ(rec.Calls(), "olog(SCOTT,PROD,0)=0\nocon()=0\n");
    oci->Logoff();
    oci->Logoff();  // once only
    EXPECT_FALSE(oci->IsConnected());
    EXPECT_EQ(rec.Calls(), "olog(SCOTT,PROD,0)=0\nocon()=0\nologof()=0\n");
}

TEST_F(OCI7, TransactionCallsAnswerTheLibrarysResult) {
    ASSERT_TRUE(oci->Logon("PROD", "SCOTT", "tiger"));
    rec.ClearLog();
    EXPECT_TRUE(oci->AutoCommitOff());
    EXPECT_TRUE(oci->Commit());
    EXPECT_TRUE(oci->Rollback());
    EXPECT_TRUE(oci->AutoCommitOn());
    rec.FailNext("ocom", 3113, "end-of-file on communication channel");
    EXPECT_FALSE(oci->Commit());
    EXPECT_FALSE(oci->InTransaction());
    EXPECT_EQ(oci->GetVersion(), 7);
    EXPECT_EQ(rec.Calls(), "ocof()=0\nocom()=0\norol()=0\nocon()=0\nocom()=3113\n");
}

TEST_F(OCI7, ColumnsAreKeptOrDroppedByTypeAndSize) {
    rec.AddResult("select * from T");
    const struct {
        const char* name;
        int type;
        int size;
    } described[] = {
        {"name", 1, 4000}, {"big", 1, 32768}, {"born", 12, 7},   {"notes", 8, 0},
        {"raw", 23, 16},   {"image", 24, 0},  {"amount", 2, 22}, {"code", 96, 10},
    };
    for (const auto& d : described) rec.AddColumn(d.name, d.type, d.size);
    rec.AddRow();
    for (const char* v : {"abc", "x", "d", "n", "r", "i", "12.5", "K1"}) rec.AddValue(v);
    rec.AddRow();
    for (const char* v : {static_cast<const char*>(nullptr), "x", "d", "n", "r", "i", "3", "K2"}) {
        rec.AddValue(v);
    }

    auto stmt = OpenCursor();
    ASSERT_TRUE(stmt->Parse("select * from T"));
    ASSERT_EQ(stmt->Describe(), 8);
    EXPECT_TRUE(gmtest::Holds(rec.Calls(), "odescr(9)=1007\n"));

    std::vector<tColumnDesc> columns(8);
    std::memset(columns.data(), 0, sizeof(tColumnDesc) * columns.size());
    u8 flags[8];
    i32 total = -1;
    stmt->AssignFields(8, columns.data(), total, flags);
    EXPECT_EQ(std::vector<u8>(flags, flags + 8), (std::vector<u8>{1, 0, 0, 0, 0, 0, 1, 1}));
    EXPECT_EQ(total, 4001 + 11);  // no room for the dropped columns
    const struct {
        const char* name;
        u8 type;
        i16 length;
        i32 offset;
    } kept[] = {{"NAME", 'C', 4001, 0}, {"AMOUNT", 'N', 8, 4001}, {"CODE", 'C', 11, 4001}};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(kept[i].name);
        EXPECT_STREQ(columns[i].name, kept[i].name);
        EXPECT_EQ(columns[i].type, kept[i].type);
        EXPECT_EQ(columns[i].bufferLength, kept[i].length);
        EXPECT_EQ(columns[i].rowOffset, kept[i].offset);
    }
    EXPECT_EQ(columns[3].type, 0);  // the reused descriptor of the last dropped column

    const std::string text = console.Get();
    EXPECT_TRUE(gmtest::Holds(text,
                              "[WARNING] Column [NAME] type [1] bind using (4000) bytes "
                              "exceeded 2047 bytes. (from tOCI7Stmt::AssignFields)\n"));
    EXPECT_TRUE(gmtest::Holds(text,
                              "[WARNING] Column [BIG] type [1] IGNORED : Precision (32768) "
                              "TOO BIG (from tOCI7Stmt::AssignFields)\n"));
    for (const char* dropped :
         {"[12] in field BORN", "[8] in field NOTES", "[23] in field RAW", "[24] in field IMAGE"}) {
        EXPECT_TRUE(gmtest::Holds(text, std::string("[WARNING] Unsupported column type ") +
                                            dropped + " - Column removed from result set"))
            << dropped;
    }

    std::vector<char> row(static_cast<size_t>(total));
    i16 keptCount = 8;
    ASSERT_TRUE(stmt->Define(8, columns.data(), keptCount, row.data(), flags));
    EXPECT_EQ(keptCount, 3);
    ASSERT_TRUE(stmt->Execute());
    ASSERT_TRUE(stmt->Fetch());
    EXPECT_STREQ(columns[0].value.text, "abc");
    EXPECT_EQ(columns[1].value.number, 12.5);
    EXPECT_STREQ(columns[2].value.text, "K1");
    ASSERT_TRUE(stmt->Fetch());  // 1405: a row with a null column
    EXPECT_EQ(stmt->GetRC(), 1405);
    EXPECT_EQ(columns[0].nullMarker, -1);
    EXPECT_EQ(columns[1].value.number, 3.0);
    EXPECT_FALSE(stmt->Fetch());
    EXPECT_EQ(stmt->GetRC(), 1403);
    EXPECT_TRUE(gmtest::Holds(rec.Calls(),
                              "odefin(1,4001,1,0)=0\nodefin(7,8,4,-1)=0\n"
                              "odefin(8,11,1,0)=0\n"));
}

TEST_F(OCI7, ErrorTextGivesTheOracleNumber) {
    auto stmt = OpenCursor();
    rec.FailNext("oexec", 1, "unique constraint (SCOTT.PK) violated");
    ASSERT_TRUE(stmt->Parse("insert into T values (1)"));
    EXPECT_FALSE(stmt->Execute());
    EXPECT_EQ(stmt->GetRC(), 1);
    char text[512];
    EXPECT_EQ(oci->GetErrorText(stmt->GetCursor(), text, sizeof text), 1);
    EXPECT_STREQ(text, "ORA-00001: unique constraint (SCOTT.PK) violated");
    char shortText[10];
    EXPECT_EQ(oci->GetErrorText(stmt->GetCursor(), shortText, sizeof shortText), 1);
    EXPECT_STREQ(shortText, "ORA-00001");
    EXPECT_EQ(oci->GetErrorText(nullptr, text, sizeof text), 0);
}

TEST_F(OCI7, GetBlobReadsLongValuesThroughTheirHeader) {
    auto stmt = OpenCursor();
    gmtest::ExpectLongValuesRead(rec, *stmt, 24);
    EXPECT_TRUE(gmtest::Holds(rec.Calls(), "odefin(1,1048576,24,0)=0\n"));
}

TEST_F(OCI7, BindsCarryTheirTypesAndClobAndVersionAreRefused) {
    auto stmt = OpenCursor();
    ASSERT_TRUE(stmt->Parse("update T set A = :1"));
    ASSERT_TRUE(stmt->BindDoubleParam(2.5));
    ASSERT_TRUE(stmt->Execute());
    ASSERT_TRUE(stmt->Parse("update T set B = :1"));
    ASSERT_TRUE(stmt->BindStringParam("abc"));
    ASSERT_TRUE(stmt->Execute());
    char text[] = "xyz";
    ASSERT_TRUE(stmt->BindStringParamAt(text, 3, 1));
    EXPECT_EQ(rec.Calls(),
              "oparse(update T set A = :1,0,2)=0\nobndrn(1,8,4,-1,-1)=0\n"
              "oexec(update T set A = :1 [1=2.5])=0\n"
              "oparse(update T set B = :1,0,2)=0\nobndrn(1,3,1,-1,-1)=0\n"
              "oexec(update T set B = :1 [1='abc'])=0\nobndrn(2,3,1,0,0)=0\n");

    EXPECT_FALSE(stmt->BindClobParam("x", 1));
    EXPECT_EQ(Log(), std::vector<std::string>{"Invalid BindClobParam using OCI7"});
    tString version("v: ");
    EXPECT_FALSE(stmt->GetClientVersion(version));
    EXPECT_STREQ(version.GetText(), "v: *** NOT AVAILABLE ***");
}

class OCI7Procedure : public OCI7 {
protected:
    tAutoArray<tDATAField> inputs;
    tAutoArray<tDATAField> outputs;
};

TEST_F(OCI7Procedure, CallBindsInputsAndMakesOutputs) {
    gmtest::ScriptProcedureP(rec, 1);
    auto stmt = OpenCursor();
    gmtest::ProcedureInputs(2, inputs);
    EXPECT_EQ(stmt->SPExec("P", "ignored", inputs, outputs), 0);
    EXPECT_EQ(rec.Calls(),
              "odessp(P)=0\noclose()=0\noopen()=0\n"
              "oparse(begin P(:1,:2,:3,:4); end;,0,2)=0\n"
              "obndrn(1,8,4,-1,-1)=0\nobndrn(2,6,5,-1,-1)=0\n"
              "obndrn(3,8,4,-1,-1)=0\nobndrn(4,256,5,-1,-1)=0\n"
              "oexec(begin P(:1,:2,:3,:4); end; [1=7] [2='xy'] [3=0] [4=''])=0\n");
    gmtest::ExpectProcedureOutputs(outputs);
}

TEST_F(OCI7Procedure, ArgumentMismatchesAndFailuresGiveTheirCodes) {
    for (const auto& c : gmtest::ProcedureFailures("odessp", "obndrn", "oexec")) {
        SCOPED_TRACE(c.label);
        rec.Reset();
        if (c.scripted) gmtest::ScriptProcedureP(rec, 1);
        auto stmt = OpenCursor();
        inputs.Clear();
        outputs.Clear();
        gmtest::ProcedureInputs(c.inputs, inputs);
        if (c.failCall) rec.FailNext(c.failCall, 6550, "PLS-00306: wrong number or types");
        EXPECT_EQ(stmt->SPExec("P", "", inputs, outputs), c.code);
        EXPECT_STREQ(stmt->GetMessage(), c.message);
    }
}

}  // namespace
