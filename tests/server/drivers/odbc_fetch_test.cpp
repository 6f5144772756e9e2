// The ODBC statement's result over the recording driver, in both ODBC modes: which columns are
// bound and how, fetching, and reading long values into buffers of exact size (ASan sees any
// byte written or read past them).
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "server/drivers/odbc.h"
#include "tests/server/support/recodbc_fixture.h"

namespace {

constexpr const char* kNoSession = "( DBSERVER NOT SET )";

// The statement with its binding state in view.
class InspectedStatement : public tODBCStatement {
public:
    using tODBCStatement::tODBCStatement;
    const u8* Indicators() const { return indicators.get(); }
    i32 RowSize() const { return rowSize; }
};

class ODBCFetch : public gmtest::RecordedODBC {};

TEST_P(ODBCFetch, ColumnsAreBoundByTypeAndSizeAndTheRestLeftOut) {
    auto conn = MakeConnection();
    const char* sql = "SELECT * FROM WIDE";
    const struct {
        const char* name;
        SQLSMALLINT type;
        SQLULEN size;
        const char* value;
    } driverColumns[] = {
        {"", SQL_INTEGER, 10, "7"},
        {"Price", SQL_NUMERIC, 10, "12.34"},
        {"obs", SQL_VARCHAR, 8000, "long text"},
        {"big", SQL_VARCHAR, 9000, "x"},
        {"memo", SQL_LONGVARCHAR, 2147483647, "x"},
        {"fixed", SQL_CHAR, 9000, "fixed"},
        {"huge", SQL_CHAR, 40000, "x"},
        {"stamp", SQL_TYPE_TIMESTAMP, 23, "2010-12-25 10:20:30"},
        {"raw", SQL_BINARY, 16, "x"},
        {"flag", SQL_BIT, 1, "1"},
        {"nada", SQL_VARCHAR, 0, ""},
        {"qty", SQL_DOUBLE, 15, "2.5"},
        {"wide", SQL_WVARCHAR, 40000, "x"},
    };
    rec.AddResult(sql);
    for (const auto& c : driverColumns) rec.AddColumn(c.name, c.type, c.size, 0, SQL_NULLABLE);
    rec.AddRow();
    for (const auto& c : driverColumns) rec.AddValue(c.value);

    InspectedStatement stmt(conn.get());
    ASSERT_TRUE(stmt.ExecDirect(sql, "tTest::Query", 1));
    const struct {
        const char* name;
        u8 type;
        i16 bufferLength;
        i32 rowOffset;
    } bound[] = {
        {"CFIELD1", 'N', 10, 0},    {"PRICE", 'N', 10, 10},  {"OBS", 'C', 8001, 20},
        {"FIXED", 'C', 9001, 8021}, {"FLAG", 'C', 2, 17022}, {"NADA", 'C', 1, 17024},
        {"QTY", 'N', 15, 17025},
    };
    ASSERT_EQ(stmt.GetColumnCount(), 7);
    for (size_t k = 0; k < 7; ++k) {
        SCOPED_TRACE(bound[k].name);
        const tColumnDesc& d = stmt.GetColumns()[k];
        EXPECT_STREQ(d.name, bound[k].name);
        EXPECT_EQ(d.type, bound[k].type);
        EXPECT_EQ(d.bufferLength, bound[k].bufferLength);
        EXPECT_EQ(d.rowOffset, bound[k].rowOffset);
    }
    EXPECT_EQ(stmt.RowSize(), 17040);
    const u8 indicators[] = {1, 1, 1, 0, 0, 1, 0, 0, 0, 1, 1, 1, 0};
    EXPECT_EQ(std::vector<u8>(stmt.Indicators(), stmt.Indicators() + 13),
              std::vector<u8>(indicators, indicators + 13));
    EXPECT_EQ(
        console->Get(),
        "[WARNING] Column [OBS] type [12] bind using (8000) bytes exceeded 2047 bytes. (from "
        "tODBCStatement::BindCols)\n"
        "[WARNING] Column [BIG] type [12] IGNORED : Precision (9000) TOO BIG (from "
        "tODBCStatement::BindCols)\n"
        "[WARNING] Column [MEMO] type [-1] IGNORED : Precision (2147483647) TOO BIG (from "
        "tODBCStatement::BindCols)\n"
        "[WARNING] Column [HUGE] type [1] IGNORED : Precision (40000) TOO BIG (from "
        "tODBCStatement::BindCols)\n"
        "[WARNING] Unsupported column type [93] in field STAMP - Column removed from result set "
        "because binary (blob/image/memo) data types are not supported in query - "
        "(tODBCStatement::BindCols)\n"
        "[WARNING] Unsupported column type [-2] in field RAW - Column removed from result set "
        "because binary (blob/image/memo) data types are not supported in query - "
        "(tODBCStatement::BindCols)\n"
        "[WARNING] (tODBCStatement::BindCols) Supported column type [12] described in field "
        "[NADA] with SIZE = 0.\n"
        "[WARNING] Column [WIDE] type [-9] IGNORED : Precision (40000) TOO BIG (from "
        "tODBCStatement::BindCols)\n");

    ASSERT_TRUE(stmt.Fetch());
    tString text;
    EXPECT_EQ(stmt.FieldAsDouble(0), 7.0);
    EXPECT_EQ(stmt.FieldAsDouble(1), 12.34);
    EXPECT_EQ(std::string(stmt.FieldAsString(text, 2).GetText()), "long text");
    EXPECT_EQ(std::string(stmt.FieldAsString(text, 3).GetText()), "fixed");
    EXPECT_EQ(std::string(stmt.FieldAsString(text, 4).GetText()), "1");
    EXPECT_EQ(std::string(stmt.FieldAsString(text, 5).GetText()), "");
    EXPECT_EQ(stmt.FieldAsDouble(6), 2.5);
    EXPECT_FALSE(stmt.Fetch());
}

// A name cut to the descriptor's buffer, or a binding the driver only half made, fails the
// result: its columns would be read under names or into places they do not have.
TEST_P(ODBCFetch, ColumnDescribedOrBoundWithInformationFailsTheResult) {
    auto conn = MakeConnection();
    const std::string longName(200, 'n');
    const struct {
        const char* scripted;  // a call told to answer with information, or none
        std::string column;
        std::string context;
    } cases[] = {
        {nullptr, longName, "Query Column : " + longName.substr(0, 128)},  // the driver cuts it
        {"SQLBindCol", "b", "Bind Column : B Type C"},
    };
    const char* sql = "SELECT * FROM T";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.context);
        rec.AddResult(sql);
        rec.AddColumn(c.column.c_str(), SQL_VARCHAR, 10, 0, SQL_NULLABLE);
        rec.AddRow();
        rec.AddValue("x");
        if (c.scripted) rec.WarnNext(c.scripted, "01000", 7, "Bound with a change");
        tODBCStatement stmt(conn.get());
        process.ClearLog();
        EXPECT_FALSE(stmt.ExecDirect(sql, "tTest::Query", 1));
        EXPECT_NE(stmt.GetHandle(), nullptr);  // the result is left to its owner
        const std::vector<std::string> log = process.LogEntries();
        ASSERT_EQ(log.size(), 1u);
        EXPECT_EQ(log[0].rfind("Warning : ", 0), 0u) << log[0];
        EXPECT_NE(log[0].find("( From tODBCStatement::BindCols )\n"), std::string::npos) << log[0];
        EXPECT_NE(log[0].find(c.context), std::string::npos) << log[0];
    }
}

TEST_P(ODBCFetch, NullNumbersReadZeroAndNullTextsEmpty) {
    auto conn = MakeConnection();
    const char* sql = "SELECT NOME, VALOR FROM T";
    rec.AddResult(sql);
    rec.AddColumn("NOME", SQL_VARCHAR, 10, 0, SQL_NULLABLE);
    rec.AddColumn("VALOR", SQL_DOUBLE, 15, 0, SQL_NULLABLE);
    rec.AddRow();
    rec.AddValue("ANA");
    rec.AddValue("9.5");
    rec.AddRow();
    rec.AddValue(nullptr);
    rec.AddValue(nullptr);
    tODBCStatement stmt(conn.get());
    ASSERT_TRUE(stmt.ExecDirect(sql, "tTest::Query", 1));
    ASSERT_TRUE(stmt.Fetch());
    EXPECT_EQ(stmt.FieldAsDouble(1), 9.5);
    ASSERT_TRUE(stmt.Fetch());
    tString text("unchanged");
    EXPECT_EQ(stmt.FieldAsDouble(1), 0.0);
    EXPECT_EQ(std::string(stmt.FieldAsString(text, 0).GetText()), "");
    EXPECT_FALSE(stmt.Fetch());
    EXPECT_TRUE(process.LogEntries().empty());
}

TEST_P(ODBCFetch, FetchCountsRowsWarningsIncludedAndReportsFailures) {
    auto conn = MakeConnection();
    tODBCStatement stmt(conn.get());
    EXPECT_FALSE(stmt.Fetch());
    EXPECT_EQ(console->Get(),
              "[WARNING] Statement NOT OPENED or ALREADY CLOSED for Fetch Operation.\n");

    const char* sql = "SELECT A FROM T";
    rec.AddResult(sql);
    rec.AddColumn("A", SQL_INTEGER, 10, 0, SQL_NULLABLE);
    for (const char* v : {"1", "2", "3"}) {
        rec.AddRow();
        rec.AddValue(v);
    }
    ASSERT_TRUE(stmt.ExecDirect(sql, "tTest::Query", 1));
    rec.WarnNext("SQLFetch", "01004", 0, "String data, right truncated");
    EXPECT_TRUE(stmt.Fetch());
    EXPECT_EQ(stmt.FieldAsDouble(0), 1.0);
    rec.FailNext("SQLFetch", "HY008", 0, "Operation canceled");
    EXPECT_FALSE(stmt.Fetch());
    EXPECT_NE(stmt.GetHandle(), nullptr);  // a failed fetch leaves the result to its owner
    EXPECT_EQ(LastError(*conn), std::string("Error : 0 (HY008) (RC=-1) - Operation canceled ( "
                                            "From tODBCStatement::Fetch )\n") +
                                    kNoSession);
    EXPECT_EQ(stmt.GetRetCode(), 0);
    EXPECT_TRUE(stmt.Fetch());
    EXPECT_EQ(stmt.FieldAsDouble(0), 2.0);
}

// Each value is read from a buffer of exactly the capacity, allocated for it.
TEST_P(ODBCFetch, GetDataStaysInsideItsBufferAndTellsOfTheCut) {
    auto conn = MakeConnection();
    const struct {
        const char* bytes;  // null: SQL NULL
        SQLLEN length;
        i32 capacity;
        i32 expectedLength;
        const char* expected;  // the buffer's first expectedLength bytes
        bool truncated;
    } cases[] = {
        {"ABCDE", 5, 10, 6, "ABCDE\0", false},    {"AB\0", 3, 10, 3, "AB\0", false},
        {nullptr, 0, 10, 0, "", false},           {"", 0, 10, 0, "", false},
        {"ABCD", 4, 5, 5, "ABCD\0", false},       {"ABCDE", 5, 5, 5, "ABCD\0", true},
        {"ABCDEFGHIJ", 10, 5, 5, "ABCD\0", true}, {"ABC", 3, 1, 0, "", true},
    };
    tODBCStatement stmt(conn.get());
    const char* sql = "SELECT DOC FROM T WHERE R_E_C_N_O_ = 1";
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.length) + " bytes into " + std::to_string(c.capacity));
        rec.AddResult(sql);
        rec.AddColumn("DOC", SQL_LONGVARBINARY, 2147483647, 0, SQL_NULLABLE);
        rec.AddRow();
        if (c.bytes) {
            rec.AddValueBytes(c.bytes, c.length);
        } else {
            rec.AddValue(nullptr);
        }
        std::unique_ptr<char[]> buffer(new char[static_cast<size_t>(c.capacity)]);
        std::memset(buffer.get(), 'Z', static_cast<size_t>(c.capacity));
        i32 length = c.capacity;
        ASSERT_TRUE(stmt.GetBlob(sql, buffer.get(), length));
        EXPECT_EQ(length, c.expectedLength);
        EXPECT_EQ(std::string(buffer.get(), static_cast<size_t>(length)),
                  std::string(c.expected, static_cast<size_t>(c.expectedLength)));
        EXPECT_EQ(stmt.IsDataTruncated(), c.truncated);
    }
    EXPECT_TRUE(process.LogEntries().empty());
}

TEST_P(ODBCFetch, BlobOfAMissingRowFailsUnderBothNames) {
    auto conn = MakeConnection();
    const char* sql = "SELECT DOC FROM T WHERE R_E_C_N_O_ = 99";
    rec.AddResult(sql);
    rec.AddColumn("DOC", SQL_LONGVARBINARY, 2147483647, 0, SQL_NULLABLE);
    tODBCStatement stmt(conn.get());
    char buffer[16];
    i32 length = sizeof buffer;
    EXPECT_FALSE(stmt.GetBlob(sql, buffer, length));
    EXPECT_EQ(length, 0);
    const std::vector<std::string> log = process.LogEntries();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_NE(log[0].find("( From tODBCStatement::GetData )"), std::string::npos) << log[0];
    EXPECT_NE(log[1].find("( From tODBCStatement::GetBlob )"), std::string::npos) << log[1];
    EXPECT_NE(log[1].find(sql), std::string::npos);

    tODBCStatement closed(conn.get());
    length = sizeof buffer;
    EXPECT_FALSE(closed.GetData(1, buffer, length));
    EXPECT_EQ(length, sizeof buffer);
}

INSTANTIATE_TEST_SUITE_P(Modes, ODBCFetch, ::testing::Bool(), gmtest::ODBCModeName);

}  // namespace
