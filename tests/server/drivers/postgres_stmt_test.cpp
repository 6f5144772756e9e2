// The PostgreSQL statement over the recording driver, in both ODBC modes: long values sent as
// text parameters, character reads bounded by their buffer, and the octet escapes of memo texts
// decoded (also as a pure function).
#include "server/drivers/postgres_stmt.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/server/support/recodbc_fixture.h"

namespace {

TEST(PostgresOctets, EscapesDecodeOnlyInValuesThatEndInOne) {
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {"AB\\376\\000", "AB'"},
        {"A\\377B\\376", "A\\B'"},
        {"\\101\\102\\000", "AB"},
        {"X\\000Y\\000", "X"},
        {"\\12\\000", "\\12"},         // two digits are no escape
        {"\\101\\102", "\\101\\102"},  // no closing escape: the value is plain text
        {"AB", "AB"},
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in);
        std::string bytes = c.in;
        bytes.resize(DecodePostgresOctets(&bytes[0], bytes.size()));
        EXPECT_EQ(bytes, c.out);
    }
}

class PostgresStmt : public gmtest::RecordedODBC {
protected:
    void SetUp() override {
        gmtest::RecordedODBC::SetUp();
        conn = MakeConnection("POSTGRES");
        stmt = std::make_unique<tPostgresStmt>(conn.get());
    }
    // Runs a query whose one row holds value (null: SQL NULL) and reads it into a buffer of
    // capacity bytes.
    std::string Read(const char* value, i32 capacity, i32& length) {
        rec.AddResult("SELECT M FROM T");
        rec.AddColumn("M", SQL_LONGVARCHAR, 1048576, 0, SQL_NULLABLE);
        rec.AddRow();
        rec.AddValue(value);
        std::vector<char> buffer(static_cast<size_t>(capacity) + 8, 'z');
        length = capacity;
        EXPECT_TRUE(stmt->GetBlob("SELECT M FROM T", buffer.data(), length)) << LastError(*conn);
        EXPECT_EQ(buffer[static_cast<size_t>(capacity)], 'z');  // nothing written past it
        return std::string(buffer.data(), static_cast<size_t>(length > 0 ? length : 0));
    }

    std::unique_ptr<tODBCConnection> conn;
    std::unique_ptr<tPostgresStmt> stmt;
};

TEST_P(PostgresStmt, ReadsCharactersBoundedByTheBufferAndDecoded) {
    const struct {
        const char* value;
        i32 capacity;
        std::string got;
        bool truncated;
    } cases[] = {
        {"ABC", 100, std::string("ABC\0", 4), false},
        {"AB\\376\\000", 100, std::string("AB'\0", 4), false},
        {"ABCDEFGHIJ", 5, std::string("ABCD\0", 5), true},
        {"ABC\\000", 5, std::string("ABC\\\0", 5), true},  // cut before its escape
        {"", 100, "", false},
        {nullptr, 100, "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value ? c.value : "NULL");
        i32 length = 0;
        EXPECT_EQ(Read(c.value, c.capacity, length), c.got);
        EXPECT_EQ(stmt->IsDataTruncated(), c.truncated);
    }
}

TEST_P(PostgresStmt, LongValueGoesAsTextWithoutItsTrailingNuls) {
    const std::string memo("it's\\ \xe9 text\0\0", 14);
    ASSERT_TRUE(stmt->ExecParam("UPDATE T SET M = ? WHERE R_E_C_N_O_ = 1", memo.data(),
                                static_cast<i32>(memo.size()), 10))
        << LastError(*conn);
    const std::vector<RecOdbcParam> got = rec.LastExecutedParams();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].cType, SQL_C_CHAR);
    EXPECT_EQ(got[0].sqlType, SQL_VARCHAR);
    EXPECT_EQ(got[0].columnSize, 12u);
    EXPECT_EQ(std::string(got[0].bytes, static_cast<size_t>(got[0].byteCount)), "it's\\ \xe9 text");
    // The bound copy goes with the call.
    EXPECT_NE(std::string(rec.Calls()).find("SQLFreeStmt(3)=0"), std::string::npos) << rec.Calls();

    // A NUL inside the value would store it cut short: refused before anything runs.
    const int prepares = rec.CountCalls("SQLPrepare");
    const std::string inside("text\0tail", 9);
    EXPECT_FALSE(stmt->ExecParam("UPDATE T SET M = ?", inside.data(), 9, 10));
    EXPECT_EQ(rec.CountCalls("SQLPrepare"), prepares);
    EXPECT_NE(LastError(*conn).find("GML Error -19 - Invalid text value: a NUL byte inside it."),
              std::string::npos)
        << LastError(*conn);

    rec.FailNext("UPDATE T SET M = ?", "42703", 7, "column m does not exist");
    EXPECT_FALSE(stmt->ExecParam("UPDATE T SET M = ?", "x", 1, 11));
    EXPECT_NE(LastError(*conn).find("( From tPostgresStmt::ExecParam )"), std::string::npos)
        << LastError(*conn);
    EXPECT_EQ(stmt->GetHandle(), nullptr);
}

// A long value that no row took, or that the driver cut, fails with its own reason as the last
// error; an informational warning leaves the write stored.
TEST_P(PostgresStmt, LongValueThatWentNowhereOrWasCutFailsWithItsReason) {
    const char* kMemo = "UPDATE T SET M = ? WHERE R_E_C_N_O_ = 1";
    conn->SetError(-19, "tTest", "an older failure", nullptr);
    rec.NoRowsNext(kMemo);
    EXPECT_FALSE(stmt->ExecParam(kMemo, "x", 1, 11));
    std::string error = LastError(*conn);
    EXPECT_EQ(error.find("an older failure"), std::string::npos) << error;
    EXPECT_NE(error.find("No row took the value."), std::string::npos) << error;
    EXPECT_NE(error.find(kMemo), std::string::npos) << error;

    rec.WarnNext(kMemo, "01004", 7, "String data, right truncated");
    EXPECT_FALSE(stmt->ExecParam(kMemo, "x", 1, 11));
    error = LastError(*conn);
    EXPECT_NE(error.find("(01004)"), std::string::npos) << error;
    EXPECT_NE(error.find("String data, right truncated"), std::string::npos) << error;
    EXPECT_EQ(stmt->GetHandle(), nullptr);

    rec.WarnNext(kMemo, "01000", 0, "a notice");
    EXPECT_TRUE(stmt->ExecParam(kMemo, "x", 1, 11)) << LastError(*conn);
    EXPECT_EQ(rec.Pending(), 0);
}

INSTANTIATE_TEST_SUITE_P(Modes, PostgresStmt, ::testing::Bool(), gmtest::ODBCModeName);

}  // namespace
