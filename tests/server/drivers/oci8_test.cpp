// The OCI 8 logon and cursor against the recording OCI library: commits by execution mode,
// columns kept, dropped and defined without a buffer, fetch results, joined error records, long
// values, procedure calls, and every handle freed.
#include "server/drivers/oci8.h"

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <memory>
#include <sstream>
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

// A cursor closed before it is deleted, as its statement does.
struct tCloseCursor {
    void operator()(tOCIStmt* stmt) const {
        stmt->Close();
        delete stmt;
    }
};
using tCursor = std::unique_ptr<tOCIStmt, tCloseCursor>;

class OCI8 : public ::testing::Test {
protected:
    void SetUp() override {
        home.Client("oci.dll");
        process.SetIni("Oracle", "ORACLE_HOME", home.Path().c_str());
        openBefore = rec.OpenHandles();
        oci = std::make_unique<tOCI8>();
        ASSERT_TRUE(oci->IsLibraryLoaded());
        EXPECT_EQ(rec.Calls(), "OCIEnvCreate(1)=0\nOCIHandleAlloc(2)=0\n");
        rec.ClearLog();
    }
    void TearDown() override {
        oci->Logoff();
        oci.reset();
        EXPECT_EQ(rec.OpenHandles(), openBefore) << "a handle or descriptor was not freed";
        EXPECT_FALSE(gmtest::Holds(rec.Calls(), ")=-2\n")) << "a call with an invalid handle";
    }
    // A logged-on logon and an open cursor, with the logs cleared.
    tCursor OpenCursor() {
        EXPECT_TRUE(oci->Logon("PROD", "SCOTT", "tiger"));
        tCursor stmt(oci->NewStmt());
        EXPECT_TRUE(stmt->Open());
        rec.ClearLog();
        process.ClearLog();
        return stmt;
    }
    std::vector<std::string> Log() const { return process.LogEntries(); }
    // The logged calls of the entry points whose names begin so.
    std::string CallsOf(std::initializer_list<const char*> prefixes) const {
        std::string kept, line;
        for (std::istringstream in(rec.Calls()); std::getline(in, line);) {
            for (const char* prefix : prefixes) {
                if (line.rfind(prefix, 0) == 0) kept += line + "\n";
            }
        }
        return kept;
    }

    gmtest::TestDBProcess process;
    gmtest::ConsoleCapture console;
    gmtest::RecOciControl rec;
    gmtest::OracleHome home;
    std::unique_ptr<tOCI8> oci;
    int openBefore = 0;
};

TEST_F(OCI8, LogonLogsTheFirstErrorRecordAndLogoffEndsTheSession) {
    rec.FailNext("OCILogon", 1017, "invalid username/password; logon denied");
    EXPECT_FALSE(oci->Logon("PROD", "SCOTT", "tiger"));
    EXPECT_FALSE(oci->IsConnected());
    EXPECT_EQ(Log(),
              std::vector<std::string>{"ORA-01017: invalid username/password; logon denied"});

    rec.ClearLog();
    EXPECT_TRUE(oci->Logon("PROD", "SCOTT", "tiger"));
    EXPECT_NE(oci->GetServiceContext(), nullptr);
    oci->Logoff();
    oci->Logoff();  // once only
    EXPECT_FALSE(oci->IsConnected());
    // OCILogoff frees the service context itself: no second free of it.
    EXPECT_EQ(rec.Calls(), "OCILogon(SCOTT,PROD)=0\nOCILogoff()=0\n");
}

TEST_F(OCI8, ExecutionCommitsOutsideATransactionOnly) {
    auto stmt = OpenCursor();
    ASSERT_TRUE(stmt->ParseExec("update T set A = 1"));
    ASSERT_TRUE(stmt->ParseExec("select A from T"));
    EXPECT_FALSE(oci->InTransaction());
    ASSERT_TRUE(oci->AutoCommitOff());
    EXPECT_TRUE(oci->InTransaction());
    ASSERT_TRUE(stmt->ParseExec("update T set A = 2"));
    ASSERT_TRUE(oci->Commit());
    ASSERT_TRUE(stmt->ParseExec("delete from T"));
    ASSERT_TRUE(oci->Rollback());
    ASSERT_TRUE(stmt->ParseExec("insert into T values (3)"));
    ASSERT_TRUE(oci->AutoCommitOn());
    EXPECT_FALSE(oci->InTransaction());
    rec.FailNext("OCITransCommit", 3113, "end-of-file on communication channel");
    EXPECT_FALSE(oci->Commit());

    EXPECT_EQ(CallsOf({"OCIStmtExecute", "OCITrans"}),
              "OCIStmtExecute(update T set A = 1,1,32)=0\n"
              "OCIStmtExecute(select A from T,0,32)=0\n"
              "OCIStmtExecute(update T set A = 2,1,0)=0\n"
              "OCITransCommit(0)=0\n"
              "OCIStmtExecute(delete from T,1,0)=0\n"
              "OCITransRollback(0)=0\n"
              "OCIStmtExecute(insert into T values (3),1,0)=0\n"
              "OCITransCommit(0)=0\n"
              "OCITransCommit(0)=-1\n");
}

TEST_F(OCI8, ColumnsAreKeptDroppedOrDefinedWithoutABuffer) {
    const std::string longName(40, 'L');
    rec.AddResult("select * from T");
    const struct {
        std::string name;
        int type;
        int size;
    } described[] = {
        {"Name", 1, 4000}, {"", 2, 22},      {longName, 96, 10}, {"Big", 1, 32767},
        {"Notes", 112, 0}, {"Memo", 8, 0},   {"Image", 113, 0},  {"Raw", 24, 0},
        {"Born", 12, 7},   {"Amount", 4, 8},
    };
    // Big is dropped: a buffer of 32768 bytes would not fit the descriptor's 16-bit length.
    for (const auto& d : described) rec.AddColumn(d.name.c_str(), d.type, d.size);
    rec.AddRow();
    for (const char* v : {"abc", "7", "K1", "x", "clob text", "m", "i", "r", "d", "12.5"}) {
        rec.AddValue(v);
    }
    rec.AddRow();
    const char* const second[] = {"def",   "8",     "K2",    "x", nullptr,
                                  nullptr, nullptr, nullptr, "d", "1"};
    for (const char* v : second) {
        rec.AddValue(v);
    }

    auto stmt = OpenCursor();
    ASSERT_TRUE(stmt->Parse("select * from T"));
    ASSERT_TRUE(stmt->Execute());
    ASSERT_EQ(stmt->Describe(), 10);
    std::vector<tColumnDesc> columns(10);
    std::memset(columns.data(), 0, sizeof(tColumnDesc) * columns.size());
    u8 flags[10];
    i32 total = -1;
    stmt->AssignFields(10, columns.data(), total, flags);
    EXPECT_EQ(std::vector<u8>(flags, flags + 10), (std::vector<u8>{1, 1, 1, 0, 5, 4, 3, 2, 0, 1}));
    EXPECT_EQ(total, 4001 + 11);
    const struct {
        const char* name;
        u8 type;
        i16 length;
        i32 offset;
    } kept[] = {{"Name", 'C', 4001, 0},
                {"FIELD02", 'N', 8, 4001},
                {"FIELD03", 'C', 11, 4001},
                {"Amount", 'N', 8, 4012}};
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(kept[i].name);
        EXPECT_STREQ(columns[i].name, kept[i].name);
        EXPECT_EQ(columns[i].type, kept[i].type);
        EXPECT_EQ(columns[i].bufferLength, kept[i].length);
        EXPECT_EQ(columns[i].rowOffset, kept[i].offset);
    }
    const std::string text = console.Get();
    for (const char* warning : {
             "[WARNING] Column [Name] type [1] bind using (4000) bytes exceeded 2047 bytes. "
             "(from tOCI8Stmt::AssignFields)\n",
             "[WARNING] Column [Big] type [1] IGNORED : Precision (32767) TOO BIG (from "
             "tOCI8Stmt::AssignFields)\n",
             "[WARNING] Unsupported clob type [112] in field Notes - Column removed from result "
             "set because clob data types are not supported in query - "
             "(tOCI8Stmt::AssignFields)\n",
             "[WARNING] Unsupported long type [8] in field Memo - Column removed from result set "
             "because binary (blob/image/memo) data types are not supported in query - "
             "(tOCI8Stmt::AssignFields)\n",
             "[WARNING] Unsupported blob type [113] in field Image - Column removed",
             "[WARNING] Unsupported binary type [24] in field Raw - Column removed",
             "[WARNING] Unsupported column type [12] in field Born - Column removed",
         }) {
        EXPECT_TRUE(gmtest::Holds(text, warning)) << warning;
    }

    std::vector<char> row(static_cast<size_t>(total));
    i16 keptCount = 10;
    rec.ClearLog();
    ASSERT_TRUE(stmt->Define(10, columns.data(), keptCount, row.data(), flags));
    EXPECT_EQ(keptCount, 4);
    EXPECT_EQ(rec.Calls(),
              "OCIDefineByPos(1,4001,5)=0\nOCIDefineByPos(2,8,4)=0\nOCIDefineByPos(3,11,5)=0\n"
              "OCIDefineByPos(5,0,8)=0\nOCIDefineByPos(6,0,1)=0\nOCIDefineByPos(7,0,23)=0\n"
              "OCIDefineByPos(8,0,24)=0\nOCIDefineByPos(10,8,4)=0\n");

    // The large-object values cannot be held (1406), then are null without an indicator (1405):
    // both rows still come.
    ASSERT_TRUE(stmt->Fetch());
    EXPECT_STREQ(columns[0].value.text, "abc");
    EXPECT_EQ(columns[1].value.number, 7.0);
    EXPECT_STREQ(columns[2].value.text, "K1");
    EXPECT_EQ(columns[3].value.number, 12.5);
    ASSERT_TRUE(stmt->Fetch());
    EXPECT_STREQ(columns[0].value.text, "def");
    EXPECT_FALSE(stmt->Fetch());
    EXPECT_TRUE(Log().empty());
    EXPECT_TRUE(gmtest::Holds(rec.Calls(), "OCIStmtFetch(1,2)=-1\nOCIErrorGet(1)=0\n"));
}

TEST_F(OCI8, FetchResultsAndTheirLogLine) {
    const struct {
        const char* label;
        int answer;  // scripted for the fetch; 0: none
        int code;
        bool row;
        const char* logged;
    } cases[] = {
        {"success", 0, 0, true, nullptr},
        {"success with information", 1, 0, true, nullptr},
        {"null without indicator", -1, 1405, true, nullptr},
        {"truncated", -1, 1406, true, nullptr},
        {"other error", -1, 3113, false,
         "Error : 3113 ( From tOCI8stmt:Fetch ) - ORA-03113: end-of-file on communication "
         "channel"},
    };
    auto stmt = OpenCursor();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        process.ClearLog();
        rec.AddResult("select A from T");
        rec.AddColumn("A", 1, 5);
        rec.AddRow();
        rec.AddValue("a");
        ASSERT_TRUE(stmt->ParseExec("select A from T"));
        if (c.answer != 0) {
            rec.AnswerNext("OCIStmtFetch", c.answer, c.code,
                           "end-of-file on communication channel");
        }
        EXPECT_EQ(stmt->Fetch(), c.row);
        EXPECT_EQ(Log(),
                  c.logged ? std::vector<std::string>{c.logged} : std::vector<std::string>{});
    }
    // The end: 100, silently.
    process.ClearLog();
    ASSERT_TRUE(stmt->ParseExec("select A from T"));
    EXPECT_FALSE(stmt->Fetch());
    EXPECT_TRUE(gmtest::Holds(rec.Calls(), "OCIStmtFetch(1,2)=100\n"));
    EXPECT_TRUE(Log().empty());
}

TEST_F(OCI8, ErrorTextJoinsTheRecords) {
    auto stmt = OpenCursor();
    char text[200];
    EXPECT_EQ(oci->GetErrorText(nullptr, text, sizeof text), 0);  // no record
    EXPECT_STREQ(text, "");

    rec.FailNext("OCIStmtPrepare", 1, "unique constraint (SCOTT.PK) violated");
    EXPECT_FALSE(stmt->Parse("insert into T values (1)"));
    EXPECT_EQ(stmt->GetRC(), 0);
    EXPECT_EQ(oci->GetErrorText(stmt->GetCursor(), text, sizeof text), 1);
    EXPECT_STREQ(text, "ORA-00001: unique constraint (SCOTT.PK) violated");
    char shortText[10];
    EXPECT_EQ(oci->GetErrorText(nullptr, shortText, sizeof shortText), 1);
    EXPECT_STREQ(shortText, "ORA-00001");

    // A value its define cannot hold and a null without an indicator: one record each.
    rec.AddResult("select A, B from T");
    rec.AddColumn("A", 112, 0);
    rec.AddColumn("B", 8, 0);
    rec.AddRow();
    rec.AddValue("long");
    rec.AddValue(nullptr);
    ASSERT_TRUE(stmt->ParseExec("select A, B from T"));
    std::vector<tColumnDesc> columns(2);
    std::memset(columns.data(), 0, sizeof(tColumnDesc) * columns.size());
    u8 flags[2];
    i32 total = 0;
    stmt->AssignFields(2, columns.data(), total, flags);
    i16 kept = 2;
    char row[1];
    ASSERT_TRUE(stmt->Define(2, columns.data(), kept, row, flags));
    EXPECT_TRUE(stmt->Fetch());
    EXPECT_EQ(oci->GetErrorText(nullptr, text, sizeof text), 1405);
    EXPECT_STREQ(text,
                 "ORA-01406: fetched column value was truncated\n"
                 "ORA-01405: fetched column value is NULL");

    // A record of code 100 is answered as 1.
    rec.AnswerNext("OCIStmtPrepare", 0, 100, "no data found");
    ASSERT_TRUE(stmt->Parse("select 1 from dual"));
    EXPECT_EQ(oci->GetErrorText(nullptr, text, sizeof text), 1);
    EXPECT_STREQ(text, "ORA-00100: no data found");
}

TEST_F(OCI8, GetBlobDefinesByTheFirstColumnsTypeAndReadsTheHeader) {
    auto stmt = OpenCursor();
    gmtest::ExpectLongValuesRead(rec, *stmt, 113);
    EXPECT_EQ(Log(), std::vector<std::string>{"tOCI8Stmt::GetBlob: long value of 1048576 bytes "
                                              "does not fit the 1048576 fetched"});
    const struct {
        int column;
        int defined;
    } types[] = {{112, 8}, {113, 24}, {24, 24}};
    for (const auto& t : types) {
        SCOPED_TRACE(t.column);
        rec.ClearLog();
        rec.AddResult("select IMG from T");
        rec.AddColumn("IMG", t.column, 0);
        rec.AddRow();
        rec.AddValue("0123456789");
        std::vector<char> buffer(kBlobBufferSize);
        i32 length = kBlobBufferSize;
        EXPECT_TRUE(stmt->GetBlob("select IMG from T", buffer.data(), length));
        EXPECT_EQ(CallsOf({"OCIStmtExecute", "OCIDefineByPos"}),
                  "OCIStmtExecute(select IMG from T,0,0)=0\n"
                  "OCIDefineByPos(1,1048576," +
                      std::to_string(t.defined) + ")=0\n");
    }

    rec.AddResult("select NAME from T");
    rec.AddColumn("NAME", 1, 10);
    std::vector<char> buffer(kBlobBufferSize);
    i32 length = kBlobBufferSize;
    EXPECT_EQ(
        gmtest::AssertText([&] { stmt->GetBlob("select NAME from T", buffer.data(), length); }),
        "Invalid Memo Type on tOCI8Stmt::GetBlob");
}

TEST_F(OCI8, BindsCarryTheirTypes) {
    auto stmt = OpenCursor();
    ASSERT_TRUE(stmt->Parse("update T set A = :1"));
    ASSERT_TRUE(stmt->BindDoubleParam(2.5));
    ASSERT_TRUE(stmt->Execute());
    ASSERT_TRUE(stmt->Parse("update T set B = :1"));
    ASSERT_TRUE(stmt->BindStringParam("abc"));
    ASSERT_TRUE(stmt->Execute());
    ASSERT_TRUE(stmt->Parse("update T set M = :1 where K = :2 and N = :3"));
    ASSERT_TRUE(stmt->BindClobParam("memo", 4));
    char key[] = "K1 ";
    ASSERT_TRUE(stmt->BindStringParamAt(key, 3, 1));
    f64 number = 4;
    ASSERT_TRUE(stmt->BindDoubleParamAt(&number, 2));
    ASSERT_TRUE(stmt->Execute());
    ASSERT_TRUE(stmt->Parse("update T set I = :1"));
    ASSERT_TRUE(stmt->BindBlobParam("\x01\x02", 2));
    ASSERT_TRUE(stmt->Execute());
    EXPECT_EQ(CallsOf({"OCIBindByPos", "OCIStmtExecute"}),
              "OCIBindByPos(1,8,4)=0\nOCIStmtExecute(update T set A = :1 [1=2.5],1,32)=0\n"
              "OCIBindByPos(1,3,1)=0\nOCIStmtExecute(update T set B = :1 [1='abc'],1,32)=0\n"
              "OCIBindByPos(1,4,8)=0\nOCIBindByPos(2,3,96)=0\nOCIBindByPos(3,8,4)=0\n"
              "OCIStmtExecute(update T set M = :1 where K = :2 and N = :3 [1=<4 bytes>] "
              "[2='K1 '] [3=4],1,32)=0\n"
              "OCIBindByPos(1,2,24)=0\nOCIStmtExecute(update T set I = :1 [1=<2 bytes>],1,32)=0\n");
}

TEST_F(OCI8, ClientVersionIsReadWhenTheLibraryHasIt) {
    auto stmt = OpenCursor();
    tString version("v: ");
    EXPECT_TRUE(stmt->GetClientVersion(version));
    EXPECT_STREQ(version.GetText(), "v: 12.1.0.2:3");
    EXPECT_EQ(oci->GetVersion(), 8);
}

class OCI8Procedure : public OCI8 {
protected:
    tAutoArray<tDATAField> inputs;
    tAutoArray<tDATAField> outputs;
};

TEST_F(OCI8Procedure, CallIsDescribedBoundAndRunWithoutCommitting) {
    gmtest::ScriptProcedureP(rec, 96);
    auto stmt = OpenCursor();
    gmtest::ProcedureInputs(2, inputs);
    EXPECT_EQ(stmt->SPExec("P", "ignored", inputs, outputs), 0);
    EXPECT_EQ(CallsOf({"OCIHandle", "OCIDescribeAny", "OCIStmt", "OCIBind"}),
              "OCIHandleAlloc(7)=0\nOCIDescribeAny(P,1,0,3)=0\n"
              "OCIHandleFree(4)=0\nOCIHandleAlloc(4)=0\n"
              "OCIStmtPrepare(begin P(:1,:2,:3,:4); end;,1,0)=0\n"
              "OCIBindByPos(1,8,4)=0\nOCIBindByPos(2,6,5)=0\n"
              "OCIBindByPos(3,8,4)=0\nOCIBindByPos(4,256,5)=0\n"
              "OCIStmtExecute(begin P(:1,:2,:3,:4); end; [1=7] [2='xy'] [3=0] [4=''],1,0)=0\n"
              "OCIHandleFree(7)=0\n");
    gmtest::ExpectProcedureOutputs(outputs);
}

TEST_F(OCI8Procedure, MismatchesAndFailuresGiveTheirCodesAndFreeTheDescribeHandle) {
    for (const auto& c :
         gmtest::ProcedureFailures("OCIDescribeAny", "OCIBindByPos", "OCIStmtExecute")) {
        SCOPED_TRACE(c.label);
        rec.Reset();
        if (c.scripted) gmtest::ScriptProcedureP(rec, 96);
        auto stmt = OpenCursor();
        inputs.Clear();
        outputs.Clear();
        gmtest::ProcedureInputs(c.inputs, inputs);
        if (c.failCall) rec.FailNext(c.failCall, 6550, "PLS-00306: wrong number or types");
        EXPECT_EQ(stmt->SPExec("P", "", inputs, outputs), c.code);
        EXPECT_STREQ(stmt->GetMessage(), c.message);
        EXPECT_EQ(CallsOf({"OCIHandleAlloc(7)", "OCIHandleFree(7)"}),
                  "OCIHandleAlloc(7)=0\nOCIHandleFree(7)=0\n");
        oci->Logoff();
    }
}

TEST(OCI8Library, VariantsWithoutAnEntryPoint) {
    gmtest::TestDBProcess process;
    gmtest::ConsoleCapture console;
    process.SetIni("Oracle", "ClientLibrary", GM_RECOCI_NOENVCREATE_PATH);
    {
        tOCI8 oci;
        EXPECT_FALSE(oci.IsLibraryLoaded());
        EXPECT_EQ(process.LogEntries(),
                  std::vector<std::string>{std::string("[ERROR] Invalid client library [") +
                                           GM_RECOCI_NOENVCREATE_PATH +
                                           "] (OCI8) used in [ORACLE] connection."});
        EXPECT_FALSE(OCI8LibraryState().holdsModule);
        EXPECT_FALSE(oci.Logon("PROD", "SCOTT", "tiger"));
        EXPECT_EQ(process.LogEntries().back(), "Oracle OCI not loaded!");
        tCursor stmt(oci.NewStmt());
        EXPECT_FALSE(stmt->Open());
        tString version;
        EXPECT_FALSE(stmt->GetClientVersion(version));
        EXPECT_STREQ(version.GetText(), "*** NOT AVAILABLE ***");
    }

    process.SetIni("Oracle", "ClientLibrary", GM_RECOCI_NOCLIENTVERSION_PATH);
    tOCI8 oci;
    ASSERT_TRUE(oci.IsLibraryLoaded());
    ASSERT_TRUE(oci.Logon("PROD", "SCOTT", "tiger"));
    tCursor stmt(oci.NewStmt());
    ASSERT_TRUE(stmt->Open());
    tString version("v: ");
    EXPECT_FALSE(stmt->GetClientVersion(version));
    EXPECT_STREQ(version.GetText(), "v: *** NOT AVAILABLE ***");
    oci.Logoff();
}

}  // namespace
