// The Oracle table file over the recording OCI library, on both OCI generations: the cursor
// hints as the settings resolve them, the first and last block loads, key bounds and the bound
// record number, the bound statement runner, the bound appends and updates with their refusals,
// and whole client filters through the dialect's hooks.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "lib_base/list.h"
#include "lib_common/retcodes.h"
#include "server/locks/lockengine.h"
#include "tests/server/support/recordedoracle.h"
#include "tests/server/support/recordingaudit.h"

namespace {

using gmtest::Holds;

constexpr const char* kTable = "PROD|T";
constexpr u32 kOtherOwner = 777;
constexpr const char* kTop =
    "SELECT R_E_C_N_O_ FROM ( select  /*+ FIRST_ROWS(50) INDEX_ASC(T T_PK ) */ R_E_C_N_O_, "
    "row_number() over (  ORDER BY R_E_C_N_O_ ) rn from T ) where rn between 1 and 50";
constexpr const char* kBottom =
    "SELECT R_E_C_N_O_ FROM ( select  /*+ FIRST_ROWS(50) INDEX_DESC(T T_PK ) */ R_E_C_N_O_, "
    "row_number() over (  ORDER BY R_E_C_N_O_ DESC ) rn from T ) where rn between 1 and 50";

using TestFile = gmtest::TestOracleFile;

class OracleFile : public gmtest::RecordedOracle {
protected:
    std::string Sql() { return conn->GetSqlBuffer().GetText(); }
    // The key cursor from the top (forward) or the bottom, with its row limit.
    std::string KeyCursor(TestFile& f, bool forward) {
        if (forward) {
            f.BuildNextSelect(-1);
        } else {
            f.BuildPrevSelect(-1);
        }
        f.AddRowLimit();
        return f.GetConnection()->GetSqlBuffer().GetText();
    }
    int CountCalls(const std::string& text, const char* name) {
        int count = 0;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);) count += line.rfind(name, 0) == 0;
        return count;
    }
    const char* BindCall() const { return GetParam() == 8 ? "OCIBindByPos(" : "obndrn("; }
    const char* ExecuteCall() const { return GetParam() == 8 ? "OCIStmtExecute" : "oexec"; }
    tRecordLockEngine& Engine() { return *session.GetRecordLockEngine(); }
    i32 Bucket() const { return static_cast<i32>(def->GetLockBucket()); }
};

TEST_P(OracleFile, CursorHintsFollowTheMostSpecificSetting) {
    const struct {
        const char* alias;
        std::vector<std::vector<const char*>> ini;  // section, key, value
        const char* table;
        i16 order;
        bool forward;
        bool filtered;
        std::string start;  // the cursor up to its first R_E_C_N_O_
    } cases[] = {
        {"H1", {}, "T", 1, true, false, "SELECT  /*+ FIRST_ROWS(50) INDEX_ASC(T I1) */ "},
        {"H1", {}, "T", 1, false, false, "SELECT  /*+ FIRST_ROWS(50) INDEX_DESC(T I1) */ "},
        {"H1", {}, "T", 0, true, false, "SELECT  /*+ FIRST_ROWS(50) */ "},
        {"H1", {}, "T", 1, true, true, "SELECT  /*+ FIRST_ROWS(260) */ "},
        {"H1", {}, "AUDIT_TRAIL", 1, true, false, "SELECT "},
        {"H2",
         {{"ORACLE/H2", "usehint", "0"}},
         "T",
         1,
         true,
         false,
         "SELECT  /*+ INDEX_ASC(T I1) */ "},
        {"H3",
         {{"ORACLE/H3", "indexhint", "0"}},
         "T",
         1,
         true,
         false,
         "SELECT  /*+ FIRST_ROWS(50) */ "},
        {"H4",
         {{"ORACLE/H4", "usehint", "0"}, {"ORACLE/H4", "indexhint", "0"}},
         "T",
         1,
         true,
         false,
         "SELECT "},
        {"H5",
         {{"ORACLE/H5", "usehint", "0"}, {"ORACLE/H5_USEHINT", "T", "1"}},
         "T",
         1,
         true,
         false,
         "SELECT  /*+ FIRST_ROWS(50) INDEX_ASC(T I1) */ "},
        {"H6",
         {{"ORACLE/H6_INDEXHINT", "T", "0"}, {"ORACLE/H6_INDEXHINT", "U", "1"}},
         "T",
         1,
         true,
         false,
         "SELECT  /*+ FIRST_ROWS(50) */ "},
        {"H7",
         {{"ORACLE/H7", "usehint", "2"}},
         "T",
         1,
         true,
         false,
         "SELECT * FROM ( SELECT  /*+ INDEX_ASC(T I1) */ "},
        // Read once per connection, so set last.
        {"H8",
         {{"Oracle", "UseHint", "0"}},
         "T",
         1,
         true,
         false,
         "SELECT  /*+ INDEX_ASC(T I1) */ "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.alias) + " " + c.table + " " + c.start);
        for (const auto& entry : c.ini) process.SetIni(entry[0], entry[1], entry[2]);
        auto hinted = Connect(c.alias);
        auto f = MakeFile(gmtest::OracleTableT(c.table), hinted.get());
        ASSERT_EQ(f->SetOrder(c.order), RC_OK);
        if (c.filtered) f->AddFilter(0, "A = 'x'");
        const std::string cursor = KeyCursor(*f, c.forward);
        EXPECT_EQ(cursor.substr(0, c.start.size() + 10), c.start + "R_E_C_N_O_");
        const bool limited = f->GetHintMode() == tOracleISAMFile::kRownumLimit;
        EXPECT_EQ(Holds(cursor, " ) WHERE rownum < 40"), limited);
        f.reset();
    }
}

TEST_P(OracleFile, BlockLoadsRunTheirRowNumberWindows) {
    session.traceOn = true;
    file = MakeFile();
    ScriptKeys(kTop, {1, 2, 3});
    ScriptRecord(1);
    ASSERT_TRUE(file->GoTop());
    EXPECT_EQ(Ran(), (std::vector<std::string>{kTop, Fetched(1)}));
    EXPECT_EQ(std::string(file->CurrentRecord(), 2), "R1");
    EXPECT_FALSE(file->IsBof() || file->IsEof());
    EXPECT_TRUE(file->GetCache().HasFirstRow());
    EXPECT_TRUE(file->GetCache().IsBackwardComplete());  // 3 rows of the 40 asked for
    bool traced = false;
    for (const auto& t : session.traces) {
        traced = traced || (t.label == "GoTop" && t.text == "-- Load [3] record(s) to IsamCache");
    }
    EXPECT_TRUE(traced);
    // Both ends are in the window: no more queries.
    ASSERT_TRUE(file->GoTop());
    ASSERT_TRUE(file->GoBottom());
    EXPECT_EQ(Ran(), std::vector<std::string>{Fetched(3)});
    session.traceOn = false;

    file = MakeFile();
    ScriptKeys(kBottom, {9, 8, 7});
    ScriptRecord(9);
    ASSERT_TRUE(file->GoBottom());
    EXPECT_EQ(Ran(), (std::vector<std::string>{kBottom, Fetched(9)}));
    EXPECT_EQ(file->GetRecno(), 9.0);
    EXPECT_TRUE(file->GetCache().HasFirstRow());
    EXPECT_TRUE(file->GetCache().IsBackwardComplete());

    // In an index order its index; a full window leaves the far end open.
    file = MakeFile();
    ASSERT_EQ(file->SetOrder(1), RC_OK);
    const std::string byIndex =
        "SELECT R_E_C_N_O_ FROM ( select  /*+ FIRST_ROWS(50) INDEX_ASC(T I1) */ R_E_C_N_O_, "
        "row_number() over (  ORDER BY A,B,R_E_C_N_O_ ) rn from T ) where rn between 1 and 50";
    std::vector<int> many;
    for (int i = 1; i <= 50; ++i) many.push_back(i);
    ScriptKeys(byIndex.c_str(), many);
    ScriptRecord(1);
    ASSERT_TRUE(file->GoTop());
    EXPECT_EQ(Ran().front(), byIndex);
    EXPECT_FALSE(file->GetCache().IsBackwardComplete());
}

TEST_P(OracleFile, AFilteredLoadTakes250RowsWithoutTheIndexHint) {
    file = MakeFile();
    file->AddFilter(0, "A = 'x'");
    const std::string filtered =
        "SELECT R_E_C_N_O_ FROM ( select  /*+ FIRST_ROWS(260)  */ R_E_C_N_O_, row_number() over "
        "(  ORDER BY R_E_C_N_O_ ) rn from T WHERE (A = 'x') ) where rn between 1 and 260";
    std::vector<int> rows;
    for (int i = 1; i <= 260; ++i) rows.push_back(i);
    ScriptKeys(filtered.c_str(), rows);
    ScriptRecord(1);
    ASSERT_TRUE(file->GoTop());
    EXPECT_EQ(Ran().front(), filtered);
    EXPECT_EQ(conn->GetRowCount(), 250);
    EXPECT_TRUE(file->GetCache().IsFilled(249));
    EXPECT_FALSE(file->GetCache().IsFilled(250));
    EXPECT_FALSE(file->GetCache().IsBackwardComplete());
}

TEST_P(OracleFile, AnEmptyTableLeavesBofAndEofAndReadsNoRecord) {
    for (bool top : {true, false}) {
        SCOPED_TRACE(top ? "top" : "bottom");
        file = MakeFile();
        ScriptKeys(top ? kTop : kBottom, {});
        EXPECT_FALSE(top ? file->GoTop() : file->GoBottom());
        EXPECT_EQ(Ran(), std::vector<std::string>{top ? kTop : kBottom});
        EXPECT_TRUE(file->IsBof() && file->IsEof());
        EXPECT_TRUE(file->GetCache().HasFirstRow());
        EXPECT_TRUE(file->GetCache().IsBackwardComplete());
    }
}

TEST_P(OracleFile, KeyBoundsAndTheBoundRecordNumber) {
    file = MakeFile();
    ASSERT_EQ(file->SetOrder(1), RC_OK);
    // I2 departs from I1 at B, so A and B are bounded.
    EXPECT_EQ(KeyCursor(*file, true),
              "SELECT  /*+ FIRST_ROWS(50) INDEX_ASC(T I1) */ R_E_C_N_O_ FROM T WHERE  A > chr(0) "
              "AND B > -999999999999999 ORDER BY A,B,R_E_C_N_O_");
    EXPECT_EQ(KeyCursor(*file, false),
              "SELECT  /*+ FIRST_ROWS(50) INDEX_DESC(T I1) */ R_E_C_N_O_ FROM T WHERE  A < "
              "chr(255) AND B < 999999999999999 ORDER BY A DESC ,B DESC ,R_E_C_N_O_ DESC ");
    const tIndexDefinition* index = file->GetMirror().GetIndex(0);
    conn->GetSqlBuffer() = "";
    EXPECT_TRUE(file->AddKeyBounds(1, index, 1, false, true));
    EXPECT_EQ(Sql(), " AND B > -999999999999999");
    // Nothing left to bound: no dangling WHERE.
    conn->GetSqlBuffer() = "";
    EXPECT_FALSE(file->AddKeyBounds(2, index, 0, false, false));
    EXPECT_EQ(Sql(), "");

    ScriptRecord(7);
    ASSERT_TRUE(file->GoTo(7, false));
    EXPECT_EQ(Ran(), std::vector<std::string>{Fetched(7)});
    const bool oci7 = GetParam() == 7;
    EXPECT_EQ(conn->UsePreparedStmt(), !oci7);
    EXPECT_EQ(Holds(console.Get(),
                    "[WARNING] Oracle Prepared Stmt cache DISABLED. Unsupported "
                    "when using OCIVersion=7\n"),
              oci7);
}

TEST_P(OracleFile, ExecSpecialBindsByPositionAndStopsAtTheFirstFailedBind) {
    auto stmt = conn->MakeStatement();
    char text[] = "ab ";
    char date[] = "20240131";
    char logical[] = "T";
    f64 number = 12.5;
    tAutoArray<tBindParam> params;
    params.Add(new tBindParam('C', text, 3));
    params.Add(new tBindParam('D', date, 8));
    params.Add(new tBindParam('L', logical, 1));
    params.Add(new tBindParam('N', &number, 8));
    const char* sql = "INSERT INTO X VALUES (:1,:2,:3,:4)";
    ASSERT_TRUE(stmt->ExecSpecial(sql, params, "Test", 1));
    EXPECT_EQ(Ran(), std::vector<std::string>{std::string(sql) +
                                              " [1='ab '] [2='20240131'] [3='T'] [4=12.5]"});

    rec.FailNext(GetParam() == 8 ? "OCIBindByPos" : "obndrn", 1036, "illegal variable name/number");
    EXPECT_FALSE(stmt->ExecSpecial(sql, params, "Test", 1));
    const std::string calls = rec.Calls();
    EXPECT_EQ(CountCalls(calls, BindCall()), 1);
    EXPECT_EQ(CountCalls(calls, ExecuteCall()), 0);
    EXPECT_EQ(stmt->GetRetCode(), 1036);
    rec.ClearLog();

    // A letter that binds nothing never leaves its placeholder silently unbound.
    tAutoArray<tBindParam> unknown;
    unknown.Add(new tBindParam('X', text, 3));
    EXPECT_FALSE(stmt->ExecSpecial("INSERT INTO X VALUES (:1)", unknown, "Test", 1));
    EXPECT_EQ(CountCalls(rec.Calls(), ExecuteCall()), 0);
}

class OracleWrites : public OracleFile {
protected:
    void SetUp() override {
        OracleFile::SetUp();
        // Unprepared record fetches parse each time, so each takes its own scripted row.
        process.SetIni("ORACLE/WR", "PreparedStmt", "0");
        conn = Connect("WR");
        file = MakeFile();
        rec.ClearLog();
    }
    bool Append(const std::vector<std::pair<const char*, std::string>>& texts, f64 b = 0.0) {
        std::memset(file->IncomingRecord(), 0, def->GetRecLen());
        for (const auto& t : texts) Put(file->IncomingRecord(), t.first, t.second);
        Put(file->IncomingRecord(), "B", b);
        nativeError = 0;
        return file->Write(nativeError);
    }
    // Stands on record 5 (read) with the incoming record equal to it.
    void StandOnFive() {
        ScriptRecord(5);
        ASSERT_TRUE(file->GoTo(5, false));
        std::memcpy(file->IncomingRecord(), file->CurrentRecord(), def->GetRecLen());
        Ran();
    }
    f64 NumberIn(const char* record) {
        f64 number = 0.0;
        std::memcpy(&number, record + def->FindField("B")->GetOffset(), sizeof number);
        return number;
    }

    i32 nativeError = 0;
};

TEST_P(OracleWrites, AppendsBindTheFieldsThatHoldAValue) {
    if (GetParam() == 7) {
        // The OCI 7 layer writes literals.
        ASSERT_TRUE(Append({{"A", "abc       "}, {"D_E_L_E_T_", " "}}, 12.345));
        const auto ran = Ran();
        ASSERT_EQ(ran.size(), 1u);
        EXPECT_EQ(ran[0].rfind("INSERT INTO T(A,B,OK,D_E_L_E_T_,R_E_C_D_E_L_,R_E_C_N_O_) VALUES "
                               "( 'abc       ',",
                               0),
                  0u);
        return;
    }
    const struct {
        const char* name;
        std::vector<std::pair<const char*, std::string>> texts;
        f64 b;
        std::string sql;
    } cases[] = {
        {"a live record: the blank mark left out, the number rounded",
         {{"A", "abc       "}, {"D_E_L_E_T_", " "}},
         12.345,
         "INSERT INTO T(A,B,R_E_C_N_O_) VALUES ( :1,:2,:3) [1='abc       '] [2=12.35] [3=1]"},
        {"a deleted record keeps its number in R_E_C_D_E_L_",
         {{"A", "x         "},
          {"C2", "ab  "},
          {"D1", "20240131"},
          {"OK", "F"},
          {"D_E_L_E_T_", "*"}},
         0.0,
         "INSERT INTO T(A,C2,D1,OK,D_E_L_E_T_,R_E_C_D_E_L_,R_E_C_N_O_) VALUES ( "
         ":1,:2,:3,:4,:5,:6,:7) [1='x         '] [2='ab  '] [3='20240131'] [4='F'] [5='*'] "
         "[6=2] [7=2]"},
        {"no field holds a value", {}, 0.0, "INSERT INTO T(R_E_C_N_O_) VALUES ( :1) [1=3]"},
        {"a text or date ends at its first zero byte and is sent padded with blanks",
         {{"A", "ab"}, {"D1", "2024"}},
         0.0,
         "INSERT INTO T(A,D1,R_E_C_N_O_) VALUES ( :1,:2,:3) [1='ab        '] [2='2024    '] "
         "[3=4]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(Append(c.texts, c.b));
        EXPECT_EQ(Ran(), std::vector<std::string>{c.sql});
    }
    // The file stands on the new record, holding its lock, with the rounded number.
    EXPECT_EQ(file->GetRecno(), 4.0);
    EXPECT_TRUE(file->LockedList().Find(4.0));
    ASSERT_TRUE(Append({{"A", "abc       "}}, 12.345));
    EXPECT_EQ(NumberIn(file->CurrentRecord()), RoundDouble(12.345, 2));

    // Traced, the literal INSERT of every table file.
    session.traceOn = true;
    ASSERT_TRUE(Append({{"A", "abc       "}}));
    EXPECT_EQ(Ran().back().rfind("INSERT INTO T(A,OK,R_E_C_N_O_) VALUES ( 'abc       ','F',6)", 0),
              0u);
}

TEST_P(OracleWrites, AClashOnTheRecordNumberKeyTriesTheNextNumber) {
    if (GetParam() == 7) return;  // literal writes: the table file's own tests
    rec.FailNext(ExecuteCall(), 1, "unique constraint (SCOTT.T_PK) violated");
    ASSERT_TRUE(Append({{"A", "abc       "}}));
    EXPECT_EQ(Ran(), (std::vector<std::string>{
                         "INSERT INTO T(A,R_E_C_N_O_) VALUES ( :1,:2) [1='abc       '] [2=1]",
                         "INSERT INTO T(A,R_E_C_N_O_) VALUES ( :1,:2) [1='abc       '] [2=2]"}));
    EXPECT_EQ(file->GetRecno(), 2.0);

    // A run of clashes: the counter lags behind the table and is set again from it, once.
    for (int i = 0; i < 10; ++i) {
        rec.FailNext(ExecuteCall(), 1, "unique constraint (SCOTT.T_PK) violated");
    }
    ScriptKeys("SELECT MAX(R_E_C_N_O_) FROM T", {100});
    ASSERT_TRUE(Append({{"A", "abc       "}}));
    const auto ran = Ran();
    ASSERT_EQ(ran.size(), 12u);
    EXPECT_EQ(ran[10], "SELECT MAX(R_E_C_N_O_) FROM T");
    EXPECT_TRUE(Holds(ran[11], "[2=101]"));
    EXPECT_EQ(file->GetRecno(), 101.0);

    // Another unique key: no retry, the database's code out and the error logged.
    process.ClearLog();
    rec.FailNext(ExecuteCall(), 1, "unique constraint (SCOTT.T_UNQ) violated");
    EXPECT_FALSE(Append({{"A", "abc       "}}));
    EXPECT_EQ(Ran().size(), 1u);
    EXPECT_EQ(nativeError, 1);
    EXPECT_TRUE(Holds(LastError(), "T_UNQ"));
    EXPECT_FALSE(process.LogEntries().empty());
}

TEST_P(OracleWrites, AppendsRefusedBeforeAnySqlAndALockThatFailsAfter) {
    ASSERT_TRUE(Engine().FLock(kOtherOwner, Bucket(), kTable, 0));
    EXPECT_FALSE(Append({{"A", "abc       "}}));
    EXPECT_EQ(nativeError, -15);
    EXPECT_TRUE(Holds(LastError(), "GetNextRecno FAILED."));
    ASSERT_TRUE(Engine().FUnLock(kOtherOwner, Bucket(), kTable, 0));

    file->SetReadOnly(true);
    EXPECT_FALSE(Append({{"A", "abc       "}}));
    EXPECT_EQ(LastError().rfind("GML Error -27 - Invalid Insert on READONLY Table", 0), 0u);
    EXPECT_TRUE(Ran().empty());
    file->SetReadOnly(false);

    ASSERT_TRUE(Engine().RLock(kOtherOwner, Bucket(), kTable, 1.0, 0));
    ASSERT_TRUE(Append({{"A", "abc       "}}));
    EXPECT_TRUE(
        Holds(console.Get(), "[WARNING] OP_INSERT Lock Failed in Table [PROD|T] Recno [1]"));
    EXPECT_FALSE(file->LockedList().Find(1.0));
}

TEST_P(OracleWrites, UpdatesBindOnlyTheChangedFields) {
    const bool bound = GetParam() == 8;
    StandOnFive();
    EXPECT_EQ(file->Update(5), RC_OK);  // nothing changed: nothing sent
    EXPECT_TRUE(Ran().empty());

    Put(file->IncomingRecord(), "A", "new       ");
    Put(file->IncomingRecord(), "B", 3.333);
    EXPECT_EQ(file->Update(5), RC_OK);
    const auto ran = Ran();
    ASSERT_EQ(ran.size(), 1u);
    if (bound) {
        EXPECT_EQ(ran[0],
                  "UPDATE T SET A = :1,B = :2 WHERE R_E_C_N_O_ = :3 [1='new       '] "
                  "[2=3.33] [3=5]");
    } else {
        EXPECT_EQ(ran[0].rfind("UPDATE T SET A = 'new       ',B = ", 0), 0u);
    }
    // The lock was taken for the update and given back.
    EXPECT_TRUE(
        Holds(console.Get(), "[WARNING] OP_UPDATE Without Lock in Table [PROD|T] Recno [5]"));
    EXPECT_FALSE(Engine().IsLocked(session.threadId, Bucket(), kTable, 5.0, 0));

    if (!bound) return;
    Put(file->IncomingRecord(), "D_E_L_E_T_", "*");
    EXPECT_EQ(file->Update(0), RC_OK);
    EXPECT_EQ(Ran(), std::vector<std::string>{"UPDATE T SET D_E_L_E_T_ = :1,R_E_C_D_E_L_ = :2 "
                                              "WHERE R_E_C_N_O_ = :3 [1='*'] [2=5] [3=5]"});
    EXPECT_TRUE(
        Holds(console.Get(), "[WARNING] OP_UPDATE on Record ZERO. Using Current Record 5\n"));
    Put(file->IncomingRecord(), "D_E_L_E_T_", " ");
    EXPECT_EQ(file->Update(5), RC_OK);
    EXPECT_EQ(Ran(), std::vector<std::string>{"UPDATE T SET D_E_L_E_T_ = :1,R_E_C_D_E_L_ = :2 "
                                              "WHERE R_E_C_N_O_ = :3 [1=' '] [2=0] [3=5]"});
}

TEST_P(OracleWrites, AnUpdateOfAnotherRecordComparesWithThatRecordsRow) {
    if (GetParam() == 7) return;
    // The bytes of record 7's row, with A changed.
    ScriptRecord(7);
    ASSERT_TRUE(file->GoTo(7, false));
    std::vector<char> seven(file->CurrentRecord(), file->CurrentRecord() + def->GetRecLen());
    Put(seven.data(), "A", "changed   ");
    StandOnFive();
    std::memcpy(file->IncomingRecord(), seven.data(), seven.size());
    ScriptRecord(7);
    EXPECT_EQ(file->Update(7), RC_OK);
    EXPECT_EQ(Ran(),
              (std::vector<std::string>{
                  Fetched(7), "UPDATE T SET A = :1 WHERE R_E_C_N_O_ = :2 [1='changed   '] [2=7]"}));
    EXPECT_TRUE(Holds(console.Get(), "[WARNING] OP_UPDATE on (7) non-current Record (5)\n"));
}

TEST_P(OracleWrites, UpdateRefusalsAndTheFieldAudit) {
    if (GetParam() == 7) return;
    gmtest::AuditRecorder recorder;
    gmtest::RecordingAudit audit(recorder);
    def->SetAuditable(true);
    file = MakeFile();
    file->SetAuditHandle(&audit);
    StandOnFive();
    Put(file->IncomingRecord(), "A", "new       ");
    EXPECT_EQ(file->Update(5), RC_OK);
    ASSERT_EQ(session.audits.size(), 1u);
    const auto& a = session.audits[0];
    EXPECT_EQ(a.action + a.table + a.detail1, "UTA");
    EXPECT_EQ(a.recno, 5.0);
    EXPECT_EQ(a.detail2.rfind("R5", 0), 0u);
    EXPECT_EQ(a.extra, "new       ");
    Ran();

    Put(file->IncomingRecord(), "A", "newer     ");
    session.auditResult = -50;
    EXPECT_EQ(file->Update(5), RC_NO_UPDATE);
    EXPECT_TRUE(Ran().empty());
    EXPECT_FALSE(Engine().IsLocked(session.threadId, Bucket(), kTable, 5.0, 0));
    session.auditResult = 0;

    ASSERT_TRUE(Engine().RLock(kOtherOwner, Bucket(), kTable, 5.0, 0));
    EXPECT_EQ(file->Update(5), RC_LOCKED);
    EXPECT_TRUE(Ran().empty());
    ASSERT_TRUE(Engine().RUnLock(kOtherOwner, Bucket(), kTable, 5.0, 0));

    rec.FailNext(ExecuteCall(), 50000, "user rule");
    EXPECT_EQ(file->Update(5), RC_DUPLICATE_KEY);
    rec.FailNext(ExecuteCall(), 904, "invalid identifier");
    EXPECT_EQ(file->Update(5), RC_NO_UPDATE);

    file->SetReadOnly(true);
    EXPECT_EQ(file->Update(5), RC_NO_UPDATE);
    EXPECT_TRUE(Holds(LastError(), "Invalid Update on READONLY Table"));
}

TEST_P(OracleFile, WholeFiltersUseTheDialectsForms) {
    file = MakeFile();
    const struct {
        const char* filter;
        std::string sql;
    } cases[] = {
        // Control characters first, inside and last in a literal, and the quote.
        {"A *EQ \"\x01"
         "ab\"",
         "A =  CHR(1) || 'ab'"},
        {"A *EQ \"a\x02"
         "b\"",
         "A = 'a' || CHR(2) || 'b'"},
        {"A *EQ \"ab\x03\"", "A = 'ab' || CHR(3)"},
        {"A *EQ \"it's\"", "A = 'it' || CHR(39) || 's'"},
        // Containment; a function operand must not be null.
        {"A *CT 'ab'", "INSTR(A,'ab')>0"},
        {"UPPER(A) *CT 'AB'", "INSTR(UPPER(A),'AB')>0 AND UPPER(A) IS NOT NULL"},
        {"'ab' *CT LOWER(A)", "INSTR('ab',LOWER(A))>0 AND LOWER(A) IS NOT NULL"},
        // Substrings; without a length the rest of the field.
        {"%SST(A 2 3) *EQ 'abc'", " SUBSTR(A,2,3) = 'abc'"},
        {"%SST(A 3) *EQ 'ab'", " SUBSTR(A,3,8) = 'ab'"},
        {"%SST(A 11) *EQ 'ab'", "(fallback)"},
        {"%SST('abc' 2) *EQ 'b'", "(fallback)"},
        // Function names.
        {"LEFT(A, 2) *EQ 'ab'", "RPAD(A,2) = 'ab'"},
        {"ASC(A) *EQ 65", "ASCII(A) = 65"},
        {"LEN(A) *EQ 3", "LENGTH(A) = 3"},
        {"STRTRAN(A, 'a', 'b') *EQ 'x'", "REPLACE(A,'a','b') = 'x'"},
        {"CHR(B) *EQ 'x'", "CHR(B) = 'x'"},
        {"lower(A) *EQ 'x'", "lower(A) = 'x'"},
        {"SPACE(3) *EQ A", "RPAD(' ',3) = A"},
        {"TRIM(A) *EQ 'x'", "TRIM(BOTH ' ' FROM A) = 'x'"},
        {"ROUND(B, 2) *EQ 1", "(fallback)"},
        {"VAL(A) *EQ 1", "(fallback)"},
        // EMPTY by the field's type.
        {"EMPTY(A)", "A = '          '"},
        {"EMPTY(D1)", "D1 = '        '"},
        {"EMPTY(B)", "ROUND(B,2) = 0.0 "},
        {"EMPTY(OK)", "OK = 'F'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.filter);
        EXPECT_EQ(gmtest::TranslateFilter(*file, c.filter), c.sql);
    }
}

INSTANTIATE_TEST_SUITE_P(Generations, OracleFile, ::testing::Values(7, 8),
                         gmtest::OCIGenerationName);
INSTANTIATE_TEST_SUITE_P(Generations, OracleWrites, ::testing::Values(7, 8),
                         gmtest::OCIGenerationName);

}  // namespace
