// A table file's field map (the record fetch it leads to), its memo fields over the recording
// ODBC driver (reads asked by length then bytes, writes kept until the record is written and then
// stored into the record the writer names), clear and pack, and the file's description.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "lib_common/commbuffer.h"
#include "server/isam/gatemill.h"
#include "server/tables/dbtable.h"
#include "tests/server/support/recordedisam.h"
#include "tests/server/support/testisam.h"
#include "tests/server/support/wirebytes.h"
#include "tests/support/gmtest.h"

namespace {

// ---- The field map

class FieldMap : public ::testing::Test, public gmtest::IsamTestBed {
protected:
    // A connection that fetches by a text of its own (no prepared statements).
    void SetUp() override {
        process.SetIni("MSSQL", "PreparedStmt", "0");
        direct = std::make_unique<gmtest::TestConnection>();
        direct->SetDBServer(&session);
        direct->fetchFails = true;  // only the texts matter here
        file = std::make_unique<gmtest::TestISAMFile>(direct.get(), def, reply, 1);
        file->SetDBServer(&session);
    }
    // The record fetch of record 5, as the connection ran it.
    std::string FetchText() {
        direct->executed.clear();
        file->GoTo(5, false);
        const std::string prefix = "tISAMFile::OpenCurrentRecord: ";
        return direct->executed.empty() ? "(none)" : direct->executed.back().substr(prefix.size());
    }

    std::unique_ptr<gmtest::TestConnection> direct;
    std::unique_ptr<gmtest::TestISAMFile> file;
};

TEST_F(FieldMap, ReadsTheNamedFieldsTheOrdersKeyAndTheReservedFields) {
    ASSERT_EQ(file->SetOrder(1), 0);  // CLI1: NOME, CIDADE, R_E_C_N_O_
    gmtest::ConsoleCapture console;
    EXPECT_EQ(file->SrvMap(" valor ,ATIVO,,FALTA"), 0);
    EXPECT_EQ(console.Get(), "[WARNING] tISAMFile::SrvMap - Invalid field FALTA\n");
    //                                   NOME CIDADE VALOR DATA ATIVO RECNO DELET RECDEL
    EXPECT_EQ(file->FieldMap(), std::vector<u8>({1, 1, 1, 0, 1, 1, 1, 0}));
    EXPECT_FALSE(file->GetMirror().IsFullMapped());
    EXPECT_EQ(FetchText(),
              "SELECT NOME,CIDADE,VALOR,ATIVO,TBL.D_E_L_E_T_ FROM CLIENTES TBL WHERE "
              "TBL.R_E_C_N_O_ = 5");
    // Another order keeps the map and adds its own key: CLI2 is VALOR, D_E_L_E_T_.
    ASSERT_EQ(file->SetOrder(2), 0);
    file->SrvMap("DATA");
    EXPECT_EQ(file->FieldMap(), std::vector<u8>({0, 0, 1, 1, 0, 1, 1, 0}));
    EXPECT_EQ(FetchText(),
              "SELECT VALOR,DATA,TBL.D_E_L_E_T_ FROM CLIENTES TBL WHERE TBL.R_E_C_N_O_ = 5");
}

TEST_F(FieldMap, EmptyMapReadsEveryFieldAgain) {
    file->SrvMap("NOME");
    EXPECT_EQ(FetchText(), "SELECT NOME,TBL.D_E_L_E_T_ FROM CLIENTES TBL WHERE TBL.R_E_C_N_O_ = 5");
    file->SrvMap("");
    EXPECT_EQ(file->FieldMap(), std::vector<u8>(8, 1));
    EXPECT_TRUE(file->GetMirror().IsFullMapped());
    EXPECT_EQ(FetchText(), "SELECT * FROM CLIENTES TBL WHERE TBL.R_E_C_N_O_ = 5");
}

// ---- Memo fields over the recording driver

constexpr const char* kRecordFetch =
    "SELECT NOME,TBL.D_E_L_E_T_ FROM MEMOS TBL WHERE TBL.R_E_C_N_O_ = ";

// MEMOS: NOME C 10, OBS M 10 (memo 2, long binary), HIST M 11 (memo 3, long text), R_E_C_N_O_,
// D_E_L_E_T_ C 1, R_E_C_D_E_L_.
std::shared_ptr<tTableDefinitionShared> MemosDefinition() {
    auto def = std::make_shared<tTableDefinitionShared>("MEMOS", "PRODUCAO");
    def->AddField("NOME", 'C', 10, 0, true, true);
    def->AddField("OBS", 'M', 10, 0, true, true);
    def->AddField("HIST", 'M', 11, 0, true, true);
    def->AddField("R_E_C_N_O_", 'N', 15, 0, false, true);
    def->AddField("D_E_L_E_T_", 'C', 1, 0, true, true);
    def->AddField("R_E_C_D_E_L_", 'N', 15, 0, false, true);
    def->AddIndex(gmtest::MakeIndex("MEM1", {0, 3}));
    return def;
}

class Memos : public gmtest::RecordedODBC {
protected:
    void SetUp() override {
        RecordedODBC::SetUp();
        process.SetIni("MSSQL", "PreparedStmt", "0");
        conn = std::make_unique<gmtest::RecordedConnection>("MSSQL", tString("RECDSN"),
                                                            tString("gm"), tString("pw"), loader);
        ASSERT_TRUE(conn->Connect());
        conn->SetDBServer(&session);
        file = std::make_unique<gmtest::TestISAMFile>(conn.get(), def, reply, session.threadId);
        file->SetDBServer(&session);
        file->Open(1);
        reply.Reset();
        rec.ClearLog();
    }

    // Makes the file stand on the record (its row: NOME "ANA").
    void Stand(int recno) {
        const std::string fetch = kRecordFetch + std::to_string(recno);
        rec.AddResult(fetch.c_str());
        rec.AddColumn("NOME", SQL_CHAR, 10, 0, SQL_NULLABLE);
        rec.AddColumn("D_E_L_E_T_", SQL_CHAR, 1, 0, SQL_NULLABLE);
        rec.AddRow();
        rec.AddValue("ANA");
        rec.AddValue(" ");
        ASSERT_TRUE(file->GoTo(recno, false));
        rec.ClearLog();
    }
    // The memo's next read from the database gives these bytes (null: SQL NULL).
    void ScriptMemo(const char* field, int recno, const std::string* bytes) {
        const std::string sql = std::string("SELECT ") + field +
                                " FROM MEMOS WHERE R_E_C_N_O_ = " + std::to_string(recno);
        rec.AddResult(sql.c_str());
        rec.AddColumn(field, SQL_LONGVARBINARY, 2147483647, 0, SQL_NULLABLE);
        rec.AddRow();
        if (bytes) {
            rec.AddValueBytes(bytes->data(), static_cast<SQLLEN>(bytes->size()));
        } else {
            rec.AddValue(nullptr);
        }
    }
    // What BlobRead put into the reply.
    std::string Read(i16 memoId, i32 recno, i32 length) {
        reply.Reset();
        file->BlobRead(memoId, recno, length);
        return gmtest::Payload(reply);
    }
    static std::string Long(i32 v) { return gmtest::Bytes(false).Long(v).out; }
    std::vector<std::string> Ran() {
        std::vector<std::string> lines;
        std::istringstream text(rec.Statements());
        for (std::string line; std::getline(text, line);) lines.push_back(line);
        rec.ClearLog();
        return lines;
    }

    gmtest::TestSession session;
    tCommBuffer reply;
    std::shared_ptr<tTableDefinitionShared> def = MemosDefinition();
    std::unique_ptr<gmtest::RecordedConnection> conn;
    std::unique_ptr<gmtest::TestISAMFile> file;
};

TEST_P(Memos, LengthThenBytesFromOneReadOfTheDatabase) {
    Stand(5);
    const std::string memo("line 1\r\nline 2", 14);
    ScriptMemo("OBS", 5, &memo);
    // The read counts the terminator it puts after the bytes.
    EXPECT_EQ(Read(2, 0, 0), Long(15));
    EXPECT_EQ(Ran(), std::vector<std::string>({"SELECT OBS FROM MEMOS WHERE R_E_C_N_O_ = 5"}));
    EXPECT_EQ(Read(2, 5, 15), Long(0) + memo + std::string(1, '\0'));
    EXPECT_EQ(Read(2, 5, 4), Long(0) + "line");
    EXPECT_TRUE(Ran().empty());
}

TEST_P(Memos, EmptyAndNullMemosHaveNoBytes) {
    Stand(5);
    const std::string empty;
    ScriptMemo("OBS", 5, &empty);
    ScriptMemo("HIST", 5, nullptr);
    EXPECT_EQ(Read(2, 5, 0), Long(0));
    EXPECT_EQ(Read(3, 5, 0), Long(0));
    EXPECT_EQ(Read(3, 5, 10), Long(0));
}

TEST_P(Memos, WrittenMemoIsServedWithoutSqlAndNeverMoreThanItHolds) {
    Stand(5);
    EXPECT_EQ(file->BlobWrite(2, "a\0c", 3), 0);
    EXPECT_EQ(Read(2, 5, 0), Long(3));
    EXPECT_EQ(Read(2, 5, 1000), Long(0) + std::string("a\0c", 3));
    EXPECT_EQ(Read(2, 5, -4), Long(3));  // a negative length asks for the length
    EXPECT_TRUE(Ran().empty());
}

TEST_P(Memos, AnotherRecordIsReadAgainAfterPositioningOnIt) {
    Stand(5);
    const std::string five("five");
    const std::string seven("seven");
    ScriptMemo("OBS", 5, &five);
    EXPECT_EQ(Read(2, 0, 0), Long(5));
    Ran();
    rec.AddResult((kRecordFetch + std::string("7")).c_str());
    rec.AddColumn("NOME", SQL_CHAR, 10, 0, SQL_NULLABLE);
    rec.AddRow();
    rec.AddValue("BIA");
    ScriptMemo("OBS", 7, &seven);
    EXPECT_EQ(Read(2, 7, 0), Long(6));
    EXPECT_EQ(file->GetRecno(), 7.0);
    EXPECT_EQ(Ran(), std::vector<std::string>({kRecordFetch + std::string("7"),
                                               "SELECT OBS FROM MEMOS WHERE R_E_C_N_O_ = 7"}));
}

TEST_P(Memos, WithoutRecordOrWithAnUnknownMemoNothingIsRead) {
    EXPECT_EQ(Read(2, 0, 0), Long(0));
    EXPECT_NE(console->Get().find("[WARNING] OP_BLOBREAD with NO RECORD in Table [" +
                                  std::string(def->GetFullName()) + "]\n"),
              std::string::npos);
    Stand(5);
    EXPECT_EQ(Read(9, 5, 0), Long(0));
    EXPECT_EQ(Read(9, 5, 10), Long(0));
    EXPECT_EQ(file->BlobWrite(9, "x", 1), -19);
    EXPECT_TRUE(Ran().empty());
}

TEST_P(Memos, WrittenMemosAreStoredIntoTheRecordTheWriterNames) {
    Stand(5);
    ASSERT_EQ(file->BlobWrite(2, "ab'c", 4), 0);
    ASSERT_EQ(file->BlobWrite(3, "long text", 9), 0);
    i32 code = 0;
    // An append stores them into the new record, not into the record current before it.
    ASSERT_TRUE(file->BlobWriteSql(code, 11)) << LastError(*conn);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(Ran(),
              std::vector<std::string>(
                  {"UPDATE MEMOS SET OBS = ? WHERE R_E_C_N_O_ = 11 [1=0x61622763]",
                   "UPDATE MEMOS SET HIST = ? WHERE R_E_C_N_O_ = 11 [1=0x6c6f6e672074657874]"}));
    for (tBlobNode* node : {file->Blobs().Get(0), file->Blobs().Get(1)}) {
        EXPECT_FALSE(node->dirty);
        EXPECT_EQ(node->recno, 11.0);
    }
    EXPECT_TRUE(file->BlobWriteSql(code, 11));  // nothing dirty: nothing runs
    EXPECT_TRUE(Ran().empty());
}

TEST_P(Memos, FirstFailedStoreEndsWithMinus29AndLeavesTheRestDirty) {
    Stand(5);
    file->BlobWrite(2, "abc", 3);
    file->BlobWrite(3, "def", 3);
    rec.FailNext("UPDATE MEMOS SET OBS = ? WHERE R_E_C_N_O_ = 5", "22001", 8152, "too long");
    i32 code = 0;
    EXPECT_FALSE(file->BlobWriteSql(code, 5));
    EXPECT_EQ(code, -29);
    EXPECT_TRUE(file->Blobs().Get(0)->dirty);
    EXPECT_TRUE(file->Blobs().Get(1)->dirty);
    EXPECT_EQ(rec.CountCalls("SQLExecute"), 1);
}

TEST_P(Memos, DescriptionShowsStateRecordMemosAndTheMirror) {
    Stand(5);
    file->SrvMap("NOME");
    file->BlobWrite(2, "abc", 3);
    file->HoldLock(5);
    file->HoldLock(7);
    file->SetExclusive(true);
    file->SetReadOnly(true);
    file->SetInternalID(4);
    tString out;
    file->DumpInfo(out);
    const tTableDefinition& mirror = file->GetMirror();
    EXPECT_EQ(std::string(out.GetText()),
              "\n[ISAM FILE INFORMATION]\n"
              "Open Mode ................: [EXCLUSIVE] [READONLY]\n"
              "Mapper Fields ............: NOME\n"
              "Mirror Structure .........: OK\n"
              "Table Statement ..........: OK\n"
              "Deleted Filter ...........: OFF\n"
              "Control Flags ............: \n"
              "Current Order ............: 0\n"
              "Filter Condition Count ...: 0\n"
              "Current Record ...........: 5\n"
              "Current Locks (Thread) ...: 5,7\n"
              "\n[CURRENT RECORD CONTENT]\n"
              "Field [                NOME] [C] [ANA]\n"
              "Field [          D_E_L_E_T_] [C] [ ]\n"
              "\n[BLOBLIST CONTENT]\n"
              "Field [                 OBS] Dirty [Y] MustRead [N] Record [         5] "
              "Content[abc] Length [3]\n"
              "Field [                HIST] Dirty [N] MustRead [Y] Record [         0] "
              "Content[] Length [0]\n"
              "\n[GENERIC FILE INFORMATION]\n"
              "DBServer .................: OK\n"
              "DBConnection .............: OK\n"
              "Table Definition .........: OK\n"
              "Comm Buffer ..............: OK\n"
              "Blob Fields ..............: OK\n"
              "Table Internal ID ........: 4\n"
              "Table Owner ..............: 4242\n"
              "Table Status Flags .......: \n"
              "\n[TABLE DEFINITION PROPERTIES]\n"
              "Table Full Name ..........: PRODUCAO|MEMOS\n"
              "Table HASH ID ............: " +
                  std::to_string(mirror.GetLockBucket()) +
                  "\n"
                  "Record Buffer Length .....: 11\n"
                  "MEMO Fields in Use .......: YES\n"
                  "FULL Mapped Table ........: NO\n"
                  "Table Auditable ..........: NO\n"
                  "Automatic RECNO Numbering : NO\n"
                  "\n[TABLE DEFINITION STRUCTURE]\n"
                  "Fld [  0] Name [                NOME] Type [C] Len [ 10] Dec [ 0] Reg [S]\n"
                  "Fld [  1] Name [                 OBS] Type [M] Len [ 10] Dec [ 0] Reg [S]\n"
                  "Fld [  2] Name [                HIST] Type [M] Len [ 11] Dec [ 0] Reg [S]\n"
                  "Fld [  3] Name [          R_E_C_N_O_] Type [N] Len [ 15] Dec [ 0] Reg [N]\n"
                  "Fld [  4] Name [          D_E_L_E_T_] Type [C] Len [  1] Dec [ 0] Reg [S]\n"
                  "Fld [  5] Name [        R_E_C_D_E_L_] Type [N] Len [ 15] Dec [ 0] Reg [N]\n"
                  "\n[INDEX DEFINITION]\n"
                  "Idx [  0] Name [                MEM1] Fields [NOME,R_E_C_N_O_]\n");
}

TEST_P(Memos, DescriptionOfAFileWithoutLocksSaysNone) {
    tString out;
    file->DumpInfo(out);
    EXPECT_NE(std::string(out.GetText()).find("Current Locks (Thread) ...: NONE\n"),
              std::string::npos)
        << out.GetText();
}

INSTANTIATE_TEST_SUITE_P(Modes, Memos, ::testing::Bool(), gmtest::ODBCModeName);

// The description's flags, and each column of the statement's last row by the type of its field:
// a column that the table lacks and a text column without a value are named, not shown.
class Description : public ::testing::Test, public gmtest::IsamTestBed {};

TEST_F(Description, FlagsAndEachColumnOfTheLastRowByItsFieldType) {
    auto file = MakeFile();
    file->SetFilterChanged(true);
    file->SetMoveFlags(true, true);
    conn.results.push_back({"SELECT", {{"ANA", "20240131", "T", "x", "y", ""}}});
    tStatement& stmt = file->GetStatement();
    ASSERT_TRUE(stmt.ExecDirect("SELECT NOME,DATA,ATIVO,EXTRA,CIDADE,VALOR", "test", 1));
    ASSERT_TRUE(stmt.Fetch());
    tColumnDesc* columns = stmt.GetColumns();
    const char* names[] = {"NOME", "DATA", "ATIVO", "EXTRA", "CIDADE", "VALOR"};
    for (int c = 0; c < 6; ++c) {
        std::snprintf(columns[c].name, sizeof columns[c].name, "%s", names[c]);
    }
    columns[4].value.text = nullptr;
    columns[5].type = 'N';
    columns[5].value.number = 12.5;

    tString out;
    file->DumpInfo(out);
    const std::string text = out.GetText();
    EXPECT_NE(text.find("Control Flags ............: [FLTCHG] [NEEDFIRST] [SRVDIRTY] \n"),
              std::string::npos)
        << text;
    const size_t from = text.find("\n[CURRENT RECORD CONTENT]\n");
    const size_t to = text.find("\n[GENERIC FILE INFORMATION]\n");
    ASSERT_NE(from, std::string::npos);
    ASSERT_NE(to, std::string::npos);
    EXPECT_EQ(text.substr(from, to - from),
              "\n[CURRENT RECORD CONTENT]\n"
              "Field [                NOME] [C] [ANA]\n"
              "Field [                DATA] [D] [20240131]\n"
              "Field [               ATIVO] [L] [T]\n"
              "Field [               EXTRA] ERROR : NOT FOUND IN MIRROR.\n"
              "Field [              CIDADE] ERROR : INVALID CONTENT."
              "Field [               VALOR] [N] [12.500000]\n");
}

// ---- Clear and pack

class MaintenanceConnection : public gmtest::TestConnection {
public:
    bool ClearTable(const char* table) override {
        calls.push_back(std::string("clear ") + table);
        return answer;
    }
    bool PackTable(const char* table) override {
        calls.push_back(std::string("pack ") + table + " rows " + std::to_string(GetRowCount()));
        return answer;
    }
    bool answer = true;
    std::vector<std::string> calls;
};

class ClearAndPack : public ::testing::Test {
protected:
    void SetUp() override {
        process.SetIni("MSSQL", "PreparedStmt", "0");
        conn.SetDBServer(&session);
        file = std::make_unique<gmtest::TestISAMFile>(&conn, gmtest::ClientesDefinition(), reply,
                                                      session.threadId);
        file->SetDBServer(&session);
        Stand(5);
        conn.SetRowCount(40);
    }
    void Stand(f64 recno) {
        file->GetCache().Reset(false);
        file->GetCache().SetCurrentRecno(recno);
    }
    gmtest::TestDBProcess process;
    gmtest::TestSession session;
    MaintenanceConnection conn;
    tCommBuffer reply;
    std::unique_ptr<gmtest::TestISAMFile> file;
};

TEST_F(ClearAndPack, ClearForgetsTheRecordNumbersOnlyWhenTheTableWasCleared) {
    conn.answer = false;
    EXPECT_FALSE(file->Clear());
    EXPECT_EQ(file->GetRecno(), 5.0);
    conn.answer = true;
    EXPECT_TRUE(file->Clear());
    EXPECT_EQ(file->GetRecno(), 0.0);
    EXPECT_EQ(conn.calls, std::vector<std::string>({"clear CLIENTES", "clear CLIENTES"}));
}

TEST_F(ClearAndPack, PackLiftsTheRowLimitAndForgetsTheRecordNumbersWhateverItsResult) {
    conn.answer = false;
    EXPECT_FALSE(file->Pack());
    EXPECT_EQ(file->GetRecno(), 0.0);
    Stand(6);
    conn.answer = true;
    EXPECT_TRUE(file->Pack());
    EXPECT_EQ(file->GetRecno(), 0.0);
    EXPECT_EQ(conn.calls,
              std::vector<std::string>({"pack CLIENTES rows 0", "pack CLIENTES rows 0"}));
}

}  // namespace
