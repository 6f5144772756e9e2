// Filters on an open table through the GM_ functions, against the real pellmar over the private
// PostgreSQL and MariaDB: every move sees only matching rows, partial translations widen and say
// so, extended levels intersect, KEYFLD orders, and a client's text never leaves its literal.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "client/gatemillapi.h"
#include "tests/client/support/pellmarserved.h"

namespace {

using gmtest::ErrorOf;

constexpr int16_t kFailed = -19;
constexpr int16_t kNoRecord = -25;
constexpr int16_t kSoftGreater = -28;
constexpr int kRows = 12;

// Row n (1 to 12): CODE "C<nnn>", QTY n, GRP the digit n % 3, NAME as below. Appended in a
// scrambled order, so that record numbers follow neither CODE nor QTY.
std::string NameOf(int n) {
    switch (n) {
        case 3:
            return "O'Brien";
        case 5:
            return "back\\slash";
        case 7:
            return "semi;colon";
        default:
            return "name" + std::to_string(n);
    }
}
std::string CodeOf(int n) {
    char code[16];
    std::snprintf(code, sizeof code, "C%03d", n);
    return code;
}
int AppendedAt(int i) { return i * 5 % kRows + 1; }  // 1, 6, 11, 4, 9, 2, ...

template <class Database>
class Filters : public gmtest::PellmarServed<Database> {
protected:
    // The operation log shows each request's SQL on the program's console.
    Filters() { this->moreGeneral = "WarningFilter=1\r\nUseTraceLog=1\r\n"; }

    void SetUp() override {
        gmtest::PellmarServed<Database>::SetUp();
        if (this->HasFatalFailure()) return;
        db = this->Connected();
        const GM_HANDLE fields = GM_GetCreateStruct(4, 0, 0);
        ASSERT_NE(fields, 0u);
        ASSERT_NE(GM_SetCreateField(fields, 0, "CODE", 'C', 8, 0, 0), nullptr);
        ASSERT_NE(GM_SetCreateField(fields, 1, "QTY", 'N', 8, 8, 0), nullptr);
        ASSERT_NE(GM_SetCreateField(fields, 2, "GRP", 'C', 1, 0, 0), nullptr);
        ASSERT_NE(GM_SetCreateField(fields, 3, "NAME", 'C', 20, 0, 0), nullptr);
        ASSERT_EQ(GM_CreateFile(db, "FILT", fields), 0) << ErrorOf(db);
        wa = GM_Open(db, "FILT", 0, 0);
        ASSERT_GT(wa, 0) << ErrorOf(db);
        ASSERT_EQ(GM_CreateIndex(db, wa, "FILT1", "CODE"), 0) << ErrorOf(db);
        for (int i = 0; i < kRows; ++i) {
            const int n = AppendedAt(i);
            GM_InitRecord(db, wa, 0);
            Put("CODE", CodeOf(n));
            double qty = n;
            GM_SetInternalFld(db, wa, "QTY", &qty);
            Put("GRP", std::to_string(n % 3));
            Put("NAME", NameOf(n));
            ASSERT_EQ(GM_Write(db, wa, 0), 0) << ErrorOf(db);
        }
    }

    void Put(const char* field, const std::string& text) {
        ASSERT_EQ(GM_SetInternalFld(db, wa, field, text.c_str()),
                  static_cast<int32_t>(text.size()));
    }
    int Qty() const {
        double qty = -1;
        std::memcpy(&qty, GM_GetInternalFld(db, wa, "QTY"), sizeof qty);
        return static_cast<int>(qty);
    }
    // The QTY of every row from the first (last) on, in the current order.
    std::vector<int> Walk(bool backward = false) {
        std::vector<int> seen;
        int16_t status = backward ? GM_Last(db, wa, 0, 0) : GM_First(db, wa, 0, 0);
        while (status == 0 && seen.size() <= kRows) {
            seen.push_back(Qty());
            status = GM_Skip(db, wa, 0, backward ? -1 : 1, 0);
        }
        EXPECT_EQ(status, kNoRecord) << ErrorOf(db);
        return seen;
    }
    // Sets the plain filter; its status and what the out value said.
    int16_t Filter(const std::string& condition, uint16_t& partial) {
        partial = 99;
        return GM_ChgQueryEx(db, wa, condition.c_str(), &partial);
    }

    GM_HANDLE db = 0;
    uint16_t wa = 0;
};

TYPED_TEST_SUITE(Filters, gmtest::Databases, gmtest::DatabaseName);

TYPED_TEST(Filters, NarrowEveryMoveAndKeepTheCurrentRecord) {
    const GM_HANDLE db = this->db;
    const uint16_t wa = this->wa;
    ASSERT_EQ(GM_SetKey(db, wa, 2), 0);  // CODE order
    ASSERT_EQ(GM_First(db, wa, 0, 0), 0);
    uint16_t partial = 0;
    // The record the area stands on is kept, though the new condition does not hold for it.
    EXPECT_EQ(this->Filter("'QTY *GT 6'", partial), 0) << ErrorOf(db);
    EXPECT_EQ(partial, 0);
    EXPECT_EQ(this->Qty(), 1);
    EXPECT_EQ(this->Walk(), (std::vector<int>{7, 8, 9, 10, 11, 12}));
    EXPECT_EQ(this->Walk(true), (std::vector<int>{12, 11, 10, 9, 8, 7}));
    EXPECT_EQ(GM_Bof(db, wa), 1);

    this->Put("CODE", "C009");
    EXPECT_EQ(GM_Seek(db, wa, 0, 1, 0, 0, 8, 0), 0);
    EXPECT_EQ(this->Qty(), 9);
    this->Put("CODE", "C003");
    EXPECT_EQ(GM_Seek(db, wa, 0, 1, 0, 0, 8, 0), kNoRecord);
    this->Put("CODE", "C003");
    EXPECT_EQ(GM_Seek(db, wa, 0, 1, 0, 1, 8, 0), kSoftGreater);
    EXPECT_EQ(this->Qty(), 7);

    // A new condition mid-way keeps the record when it can still be read.
    ASSERT_EQ(GM_Skip(db, wa, 0, 3, 0), 0);
    EXPECT_EQ(this->Filter("'QTY *LT 11'", partial), 0);
    EXPECT_EQ(this->Qty(), 10);
    EXPECT_EQ(GM_Skip(db, wa, 0, 1, 0), kNoRecord);

    // An empty condition shows every row again.
    EXPECT_EQ(this->Filter("", partial), 0);
    EXPECT_EQ(this->Walk().size(), static_cast<size_t>(kRows));
}

TYPED_TEST(Filters, PartialTranslationWidensAndTellsSo) {
    const GM_HANDLE db = this->db;
    uint16_t partial = 0;
    // Arithmetic has no SQL form here: every row passes, and the reply says so.
    const int16_t status = this->Filter("'QTY + 1 *GT 7'", partial);
    EXPECT_TRUE(status == 0 || status == kNoRecord) << status;
    EXPECT_EQ(partial, 1);
    EXPECT_NE(ErrorOf(db).find("[WARNING] Filter expression not fully translated.\nFilter ["),
              std::string::npos)
        << ErrorOf(db);
    EXPECT_EQ(this->Walk().size(), static_cast<size_t>(kRows));
    // A text of three characters.
    const int16_t shortStatus = this->Filter("'1'", partial);
    EXPECT_TRUE(shortStatus == 0 || shortStatus == kNoRecord) << shortStatus;
    EXPECT_EQ(GM_IsConnected(db), 1);
}

TYPED_TEST(Filters, ExtendedLevelsIntersectWithThePlainFilter) {
    const GM_HANDLE db = this->db;
    const uint16_t wa = this->wa;
    ASSERT_EQ(GM_SetKey(db, wa, 2), 0);
    EXPECT_EQ(GM_FilterEx(db, wa, 1, "'QTY *GT 3'"), 0) << ErrorOf(db);
    EXPECT_EQ(GM_FilterEx(db, wa, 2, "'QTY *LT 10'"), 0) << ErrorOf(db);
    EXPECT_EQ(GM_ChgQuery(db, wa, "'QTY *NE 6'"), 0);
    const std::vector<int> three = {4, 5, 7, 8, 9};
    EXPECT_EQ(this->Walk(), three);

    const struct {
        uint16_t level;
        const char* condition;
        const char* error;
    } refused[] = {
        {0, "'QTY *GT 1'", "Invalid level in FilterEX."},
        {3, "@QTY > 1", "Invalid use of SQL expression in FilterEX."},
        {3, "'QTY *GT 1' KEYFLD(QTY)", "Unsupported Key field in FilterEX."},
        {3, "'QTY + 1 *GT 7'", "[ERROR] Filter Extended Error.\nExpression ['QTY + 1 *GT 7']"},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.condition);
        EXPECT_EQ(GM_FilterEx(db, wa, c.level, c.condition), kFailed);
        EXPECT_NE(ErrorOf(db).find(c.error), std::string::npos) << ErrorOf(db);
        EXPECT_EQ(this->Walk(), three);
    }
    // An empty condition removes its level.
    EXPECT_EQ(GM_FilterEx(db, wa, 2, ""), 0);
    EXPECT_EQ(this->Walk(), (std::vector<int>{4, 5, 7, 8, 9, 10, 11, 12}));
}

TYPED_TEST(Filters, KeyFieldsOrderTheRecordNumberOrder) {
    const GM_HANDLE db = this->db;
    const uint16_t wa = this->wa;
    uint16_t partial = 0;
    ASSERT_EQ(GM_First(db, wa, 0, 0), 0);
    // In record-number order the new order leaves no current record (the library answers 0 for
    // the server's -25 too).
    EXPECT_EQ(this->Filter("'QTY *GT 1' KEYFLD(GRP QTY)", partial), 0);
    EXPECT_EQ(GM_Eof(db, wa), 1);
    EXPECT_EQ(partial, 0);
    EXPECT_EQ(this->Walk(), (std::vector<int>{3, 6, 9, 12, 4, 7, 10, 2, 5, 8, 11}));

    // An unknown name ends the list: GRP, then the record numbers.
    this->Filter("'QTY *GT 0' KEYFLD(GRP NOPE QTY)", partial);
    EXPECT_TRUE(
        this->program->WaitFor("[WARNING] Invalid Field in SetOrderBy Expression [GRP,NOPE,QTY]"))
        << this->program->Output();
    std::vector<int> byGroup;
    for (int digit = 0; digit < 3; ++digit) {
        for (int i = 0; i < kRows; ++i) {
            if (AppendedAt(i) % 3 == digit) byGroup.push_back(AppendedAt(i));
        }
    }
    EXPECT_EQ(this->Walk(), byGroup);
    const std::string longName(40, 'A');
    this->Filter("'QTY *GT 0' KEYFLD(" + longName + ")", partial);
    EXPECT_TRUE(this->program->WaitFor("Expression [" + longName + "]"));
    std::vector<int> appended;
    for (int i = 0; i < kRows; ++i) appended.push_back(AppendedAt(i));
    EXPECT_EQ(this->Walk(), appended);

    // Under an index the index's order holds.
    ASSERT_EQ(GM_SetKey(db, wa, 2), 0);
    this->Filter("'QTY *GT 9' KEYFLD(GRP)", partial);
    EXPECT_EQ(this->Walk(), (std::vector<int>{10, 11, 12}));
}

TYPED_TEST(Filters, RawConditionsAndClientTextStayInTheirPlaces) {
    const GM_HANDLE db = this->db;
    const uint16_t wa = this->wa;
    ASSERT_EQ(GM_SetKey(db, wa, 2), 0);
    // Key cursors ask 40 rows, and 250 while a client's filter thins them out.
    ASSERT_EQ(GM_First(db, wa, 0, 0), 0);
    EXPECT_TRUE(this->program->WaitFor(" LIMIT 40")) << this->program->Output();
    EXPECT_EQ(this->program->Output().find(" LIMIT 250"), std::string::npos);
    uint16_t partial = 0;
    this->Filter("@QTY > 10", partial);
    EXPECT_EQ(partial, 0);
    EXPECT_EQ(this->Walk(), (std::vector<int>{11, 12}));
    EXPECT_TRUE(this->program->WaitFor(" WHERE (QTY > 10) ORDER BY CODE,R_E_C_N_O_ LIMIT 250"))
        << this->program->Output();

    const struct {
        const char* condition;
        std::vector<int> rows;
    } cases[] = {
        {"'NAME *EQ \"O''Brien\"'", {}},  // two quotes are two characters of the name
        {"'NAME *EQ \"O'Brien\"'", {3}},         {"'NAME *EQ \"back\\slash\"'", {5}},
        {"'NAME *EQ \"semi;colon\"'", {7}},      {"'NAME *EQ \"x''; DELETE FROM FILT; --\"'", {}},
        {"'NAME *EQ \"x\\'' OR 1=1 -- \"'", {}}, {"'NAME *CT \"\\\"'", {5}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.condition);
        EXPECT_EQ(GM_ChgQuery(db, wa, c.condition), 0) << ErrorOf(db);
        EXPECT_EQ(this->Walk(), c.rows);
    }
    EXPECT_EQ(this->Value("select count(*) from FILT"), std::to_string(kRows));
}

}  // namespace
