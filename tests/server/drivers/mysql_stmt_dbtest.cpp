// MySQL statements and query files on the private MariaDB: memos written as one parameter and
// read back byte for byte (text and long-blob memos, empty, 8-bit, with NUL bytes, large, cut to
// the reader's buffer), a memo too long for its column refused, the same through a table file
// (and into a record just appended), and client queries as query files with their refusals and
// the table list's column name.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "lib_common/commbuffer.h"
#include "lib_common/retcodes.h"
#include "server/drivers/mysql.h"
#include "server/tables/dbtable.h"
#include "tests/server/support/mariadatabase.h"
#include "tests/server/support/memoread.h"

namespace {

std::string Text(const tString& s) { return s.GetText(); }

// Every byte value, then a run of letters: n bytes.
std::string Bytes(size_t n) {
    std::string bytes;
    for (size_t i = 0; i < n; ++i) {
        bytes += static_cast<char>(i < 256 ? i : 'a' + i % 26);
    }
    return bytes;
}

class MySQLStatement : public gmtest::MariaDatabase {
protected:
    void SetUp() override {
        MariaDatabase::SetUp();
        if (HasFatalFailure()) return;
        ASSERT_TRUE(Run("CREATE TABLE MEMOS (K INT PRIMARY KEY, T TEXT, B LONGBLOB)"));
        ASSERT_TRUE(Run("INSERT INTO MEMOS (K) VALUES (1), (2)"));
    }

    std::unique_ptr<tMySQLStmt> Statement() {
        return std::unique_ptr<tMySQLStmt>(static_cast<tMySQLStmt*>(conn->NewStatement()));
    }

    // The memo of column as GetBlob reads it into a buffer of capacity bytes.
    std::string Read(const std::string& column, int key, i32 capacity, bool* cut = nullptr) {
        std::unique_ptr<tMySQLStmt> stmt = Statement();
        std::vector<char> buffer(static_cast<size_t>(capacity) + 1, '#');
        i32 length = capacity;
        const std::string sql = "SELECT " + column + " FROM MEMOS WHERE K = " + std::to_string(key);
        EXPECT_TRUE(stmt->GetBlob(sql.c_str(), buffer.data(), length)) << LastError();
        EXPECT_LE(length, capacity - 1);
        EXPECT_EQ(buffer[static_cast<size_t>(length)], '\0');   // the terminator inside
        EXPECT_EQ(buffer[static_cast<size_t>(capacity)], '#');  // nothing past the buffer
        if (cut) *cut = stmt->IsDataTruncated();
        return std::string(buffer.data(), static_cast<size_t>(length));
    }

    tCommBuffer reply;
};

TEST_F(MySQLStatement, MemosRoundTripByteForByte) {
    const std::vector<std::string> values = {"", "x", Bytes(256), Bytes(60000)};
    for (const char* column : {"T", "B"}) {
        for (const std::string& value : values) {
            SCOPED_TRACE(std::string(column) + " " + std::to_string(value.size()));
            std::unique_ptr<tMySQLStmt> stmt = Statement();
            const std::string sql = std::string("UPDATE MEMOS SET ") + column + " = ? WHERE K = 1";
            ASSERT_TRUE(stmt->ExecParam(sql.c_str(), value.data(), static_cast<i32>(value.size()),
                                        column[0] == 'T' ? 11 : 10))
                << LastError();
            EXPECT_EQ(Value(std::string("SELECT LENGTH(") + column + ") FROM MEMOS WHERE K = 1"),
                      std::to_string(value.size()));
            bool cut = true;
            EXPECT_EQ(Read(column, 1, 1048576, &cut), value);
            EXPECT_FALSE(cut);
        }
    }
    EXPECT_EQ(Ran("tMySQLStmt::ExecParam").front(), "UPDATE MEMOS SET T = ? WHERE K = 1");
}

TEST_F(MySQLStatement, LongMemoIsCutToTheReadersBufferAndSaysSo) {
    const std::string value = Bytes(1000);
    ASSERT_TRUE(
        Statement()->ExecParam("UPDATE MEMOS SET B = ? WHERE K = 1", value.data(), 1000, 10));
    bool cut = false;
    EXPECT_EQ(Read("B", 1, 100, &cut), value.substr(0, 99));
    EXPECT_TRUE(cut);
    EXPECT_EQ(Read("B", 1, 1001, &cut), value);
    EXPECT_FALSE(cut);
    EXPECT_EQ(Read("T", 2, 10, &cut), "");  // NULL
    EXPECT_FALSE(cut);
}

TEST_F(MySQLStatement, AMemoTheServerCannotStoreWholeIsRefused) {
    std::unique_ptr<tMySQLStmt> stmt = Statement();
    // A text memo holds at most 65535 bytes; the server refuses more rather than cut it.
    const std::string big(70000, 'y');
    EXPECT_FALSE(stmt->ExecParam("UPDATE MEMOS SET T = ? WHERE K = 1", big.data(), 70000, 11));
    EXPECT_NE(LastError().find("1406"), std::string::npos) << LastError();
    EXPECT_EQ(stmt->GetHandle(), nullptr);
    EXPECT_EQ(Value("SELECT T IS NULL FROM MEMOS WHERE K = 1"), "1");
    EXPECT_TRUE(stmt->ExecParam("UPDATE MEMOS SET B = ? WHERE K = 1", big.data(), 70000, 10));
    EXPECT_FALSE(stmt->ExecParam("UPDATE NOPE SET T = ? WHERE K = 1", "x", 1, 11));
    EXPECT_NE(LastError().find("1146"), std::string::npos) << LastError();
}

TEST_F(MySQLStatement, QueryFileHasTheCharacterAndNumberColumns) {
    ASSERT_TRUE(Run("CREATE TABLE T1 (NAME VARCHAR(12), QTY INT, PRICE DOUBLE, BORN DATE)"));
    ASSERT_TRUE(Run("INSERT INTO T1 VALUES ('ab', 1, 2.5, '2024-01-31'), ('cd', 2, 5, NULL)"));
    tString query("SELECT NAME, BORN, QTY, PRICE FROM T1 ORDER BY QTY");
    std::unique_ptr<tQueryFile> file(conn->GetQueryFile(reply, 7, query));
    ASSERT_NE(file, nullptr) << LastError();
    EXPECT_NE(dynamic_cast<tMySQLQueryFile*>(file.get()), nullptr);
    const tTableDefinition& def = *file->GetTableDef();
    ASSERT_EQ(def.GetFieldCount(), 3);
    const struct {
        const char* name;
        u8 type;
        i16 length;
        u16 decimals;
    } fields[] = {{"NAME", 'C', 12, 0}, {"QTY", 'N', 15, 8}, {"PRICE", 'N', 15, 8}};
    for (i32 i = 0; i < 3; ++i) {
        SCOPED_TRACE(fields[i].name);
        const tField& f = *def.GetField(i);
        EXPECT_STREQ(f.GetName(), fields[i].name);
        EXPECT_EQ(f.GetType(), fields[i].type);
        EXPECT_EQ(f.GetLen(), fields[i].length);
        EXPECT_EQ(f.GetDecimals(), fields[i].decimals);
    }
    ASSERT_TRUE(file->GoTop());
    EXPECT_TRUE(file->Skip(1));
    EXPECT_FALSE(file->Skip(1));
}

TEST_F(MySQLStatement, QueriesThatGiveNoFileSayWhy) {
    tString failing("SELECT NOPE FROM NOWHERE");
    EXPECT_EQ(conn->GetQueryFile(reply, 7, failing), nullptr);
    EXPECT_NE(LastError().find("1146"), std::string::npos) << LastError();

    tString dates("SELECT CURRENT_DATE");
    EXPECT_EQ(conn->GetQueryFile(reply, 7, dates), nullptr);
    tString error;
    EXPECT_EQ(conn->GetLastErrorInfo(error), RC_FAILED);
    EXPECT_EQ(Text(error).rfind("GML Error -19 - Query does not return any supported column.\n"
                                "Query : SELECT CURRENT_DATE\n ( From "
                                "tMySQLConnection::GetQueryFile )\n",
                                0),
              0u)
        << Text(error);

    tMySQLConnection& closed = Other();
    closed.Disconnect();
    tString query("SELECT 1");
    EXPECT_EQ(closed.GetQueryFile(reply, 7, query), nullptr);
}

TEST_F(MySQLStatement, TableListReadsItsColumnAsFNAMF1) {
    tString sql;
    conn->ListTables(sql);
    EXPECT_EQ(Text(sql), "show tables");
    std::unique_ptr<tQueryFile> file(conn->GetQueryFile(reply, 7, sql));
    ASSERT_NE(file, nullptr) << LastError();
    ASSERT_TRUE(file->PrepareCatalogQuery());
    const tTableDefinition& def = *file->GetTableDef();
    ASSERT_EQ(def.GetFieldCount(), 1);
    EXPECT_STREQ(def.GetField(0)->GetName(), "FNAMF1");
    ASSERT_TRUE(file->GoTop());
    reply.Reset();
    file->SendRecord();
    EXPECT_EQ(reply.GetFrameLength() - tCommBuffer::kHeaderSize, sizeof(f64) + def.GetRecLen());
}

// Memos of a table file, written and read back through the file: a text memo (the default) and
// a long-blob one (MemoAsBlob), as the parameter says.
class MySQLMemoFile : public gmtest::MariaDatabase, public ::testing::WithParamInterface<bool> {
protected:
    static constexpr i16 kMemo = 2;  // OBS, the second data field

    void SetUp() override {
        process.SetIni("MYSQL", "MemoAsBlob", GetParam() ? "1" : "0");
        MariaDatabase::SetUp();
        if (HasFatalFailure()) return;
        tTableDefinition made("MEMOS", dsn.c_str());
        made.AddField("NOME", 'C', 10, 0, true, true);
        made.AddField("OBS", 'M', 10, 0, true, true);
        made.AddField("D_E_L_E_T_", 'C', 1, 0, true, true);
        made.AddField("R_E_C_N_O_", 'R', 4, 0, false, true);
        CheckUpAndCreate(made);
        if (HasFatalFailure()) return;
        ASSERT_TRUE(Run("INSERT INTO MEMOS (NOME, R_E_C_N_O_) VALUES ('ANA', 1), ('BIA', 2)"));
        def = conn->GetTableDef("MEMOS", dsn.c_str(), true);
        ASSERT_NE(def, nullptr);
        ASSERT_EQ(def->GetField(1)->GetType(), 'M');
        file.reset(static_cast<tISAMFile*>(conn->NewISAMFile(reply, def, session.threadId)));
        file->SetDBServer(&session);
        file->Open(1);
        ASSERT_TRUE(file->GoTo(1, false));
    }
    void TearDown() override {
        file.reset();
        MariaDatabase::TearDown();
    }

    // Writes the memo of the current record and stores it into record 1; the store's code.
    i32 Store(const std::string& memo) {
        EXPECT_EQ(file->BlobWrite(kMemo, memo.data(), static_cast<i32>(memo.size())), 0);
        i32 code = 0;
        return file->BlobWriteSql(code, 1) ? 0 : code;
    }
    // The memo of record 1 as the client reads it.
    std::string Read() { return gmtest::ReadMemo(*file, reply, kMemo, 1); }
    std::string StoredLength() {
        return Value("SELECT LENGTH(OBS) FROM MEMOS WHERE R_E_C_N_O_ = 1");
    }

    std::shared_ptr<tTableDefinitionShared> def;
    tCommBuffer reply;
    std::unique_ptr<tISAMFile> file;
};

TEST_P(MySQLMemoFile, MemosComeBackByteForByte) {
    const bool blob = GetParam();
    EXPECT_EQ(Text(conn->GetMemoType()), blob ? "longblob" : "text");
    std::vector<std::string> values = {"", "Linha 1\r\nA\xe7\xe3o 'x' \\y", Bytes(60000)};
    if (blob) values.push_back(std::string("a\0b\0", 4) + Bytes(256));  // NUL bytes inside
    for (const std::string& value : values) {
        SCOPED_TRACE(value.size());
        ASSERT_EQ(Store(value), 0) << LastError();
        EXPECT_EQ(StoredLength(), std::to_string(value.size()));
        EXPECT_TRUE(Read() == value);
    }
}

TEST_P(MySQLMemoFile, MemoTheColumnCannotHoldIsRefusedOrCutOnRead) {
    // A text memo holds 65535 bytes; a long-blob one more than a read takes (1 MiB less the
    // reader's terminator).
    const std::string big(GetParam() ? 1048576 + 10 : 70000, 'y');
    ASSERT_EQ(Store("before"), 0);
    if (!GetParam()) {
        EXPECT_EQ(Store(big), RC_NO_UPDATE);
        EXPECT_NE(LastError().find("1406"), std::string::npos) << LastError();
        EXPECT_EQ(Read(), "before");
        return;
    }
    ASSERT_EQ(Store(big), 0) << LastError();
    EXPECT_EQ(StoredLength(), std::to_string(big.size()));
    EXPECT_TRUE(Read() == big.substr(0, 1048575));
}

TEST_P(MySQLMemoFile, MemoWrittenBeforeAnAppendLandsInTheNewRecord) {
    session.lockServer.SetRecCount(static_cast<i32>(def->GetLockBucket()), def->GetFullName(), 2);
    ASSERT_EQ(file->BlobWrite(kMemo, "for the new one", 15), 0);
    reply.Reset();
    reply.PutBytes("CAIO       ", 11);  // NOME, D_E_L_E_T_
    file->RecvRecord();
    i32 code = 0;
    ASSERT_TRUE(file->WriteRecord(code)) << LastError();
    EXPECT_EQ(file->GetRecno(), 3.0);
    // Cast: a text column is too long for the test's own reader.
    EXPECT_EQ(
        Value("SELECT CAST(CONCAT(RTRIM(NOME), OBS) AS CHAR(40)) FROM MEMOS WHERE R_E_C_N_O_ = 3"),
        "CAIOfor the new one");
    EXPECT_EQ(Value("SELECT OBS IS NULL FROM MEMOS WHERE R_E_C_N_O_ = 1"), "1");
}

INSTANTIATE_TEST_SUITE_P(MemoTypes, MySQLMemoFile, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "LongBlob" : "Text");
                         });

}  // namespace
