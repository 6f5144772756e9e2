// Memo fields through the shared library's GM_ functions against the real pellmar on the private
// PostgreSQL: written, stored with the record and read back whole.
#include <gtest/gtest.h>

#include <string>

#include "client/gatemillapi.h"
#include "tests/client/support/pellmarserved.h"

namespace {

constexpr const char* kTable = "MEMOS";
constexpr uint16_t kNotes = 2;  // the memo's number among the data fields

class MemoExports : public gmtest::PellmarServed<gmtest::PostgresDatabase> {
protected:
    // A table CODE C(4), NOTES M, opened: its work area.
    int16_t OpenTable(GM_HANDLE db) {
        const GM_HANDLE fields = GM_GetCreateStruct(2, 0, 0);
        EXPECT_NE(GM_SetCreateField(fields, 0, "CODE", 'C', 4, 0, 0), nullptr);
        EXPECT_NE(GM_SetCreateField(fields, 1, "NOTES", 'M', 10, 0, 0), nullptr);
        EXPECT_EQ(GM_CreateFile(db, kTable, fields), 0) << gmtest::ErrorOf(db);
        return GM_Open(db, kTable, 0, 0);
    }
    // Appends a record holding the memo; its record number.
    uint32_t Append(GM_HANDLE db, int16_t wa, const std::string& code, const std::string& memo) {
        const uint16_t area = static_cast<uint16_t>(wa);
        GM_InitRecord(db, area, 0);
        GM_SetInternalFld(db, area, "CODE", code.c_str());
        EXPECT_EQ(GM_Blob_Write(db, area, kNotes, memo.data(), memo.size()), 0);
        EXPECT_EQ(GM_Write(db, area, 0), 0) << gmtest::ErrorOf(db);
        return static_cast<uint32_t>(GM_RecNo(db, area));
    }
};

// 100,000 bytes cycling through 1 to 255: no NUL, which a text column refuses, and an ending
// of neither 0x00 nor 0xFE.
std::string LongMemo() {
    std::string memo(100000, '\0');
    for (size_t i = 0; i < memo.size(); ++i) memo[i] = static_cast<char>(1 + i % 255);
    return memo;
}

TEST_F(MemoExports, MemosOfZeroAndManyBytesComeBackWhole) {
    // Bytes above 0x7F reach the WIN1252 database unchanged only under that client encoding.
    EXPECT_EQ(Value("show client_encoding"), "WIN1252");
    const GM_HANDLE db = Connected();
    const int16_t wa = OpenTable(db);
    ASSERT_GT(wa, 0) << gmtest::ErrorOf(db);
    const uint16_t area = static_cast<uint16_t>(wa);
    const std::string memo = LongMemo();
    ASSERT_NE(memo.back(), '\0');
    ASSERT_NE(memo.back(), '\xFE');
    const uint32_t empty = Append(db, wa, "E", "");
    const uint32_t full = Append(db, wa, "F", memo);
    EXPECT_EQ(Value("select count(*) from memos where notes = ''"), "1");

    // A second connection reads what the database holds, not what the first one remembers.
    const GM_HANDLE reader = Connected();
    const int16_t rwa = GM_Open(reader, kTable, 0, 0);
    ASSERT_GT(rwa, 0) << gmtest::ErrorOf(reader);
    const uint16_t rarea = static_cast<uint16_t>(rwa);
    EXPECT_EQ(GM_Blob_Length(reader, rarea, kNotes, empty), 0);
    // A memo read from the database counts the terminator the read puts after its text.
    ASSERT_EQ(GM_Blob_Length(reader, rarea, kNotes, full), 100001);
    std::string back(100002, 'x');
    EXPECT_EQ(GM_Blob_Read(reader, rarea, kNotes, full, back.data(), 100001), 0);
    EXPECT_TRUE(back == memo + '\0' + 'x') << "first difference at " << back.compare(memo);

    // A shorter length copies only that many bytes.
    std::string part(16, '#');
    EXPECT_EQ(GM_Blob_Read(reader, rarea, kNotes, full, part.data(), 10), 0);
    EXPECT_EQ(part, memo.substr(0, 10) + "######");

    // Unknown work areas are refused by the library, before any request.
    EXPECT_EQ(GM_Blob_Length(reader, 77, kNotes, full), -24);
    EXPECT_EQ(GM_Blob_Write(db, 77, kNotes, "x", 1), -24);
    EXPECT_EQ(GM_Close(db, area), 0);
}

}  // namespace
