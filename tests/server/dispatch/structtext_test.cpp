// The structure texts of a table alteration and the plan made from two of them: what each
// column's action says, and which texts are refused before anything reaches the database.
#include "server/dispatch/structtext.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/server/dispatch/support/structuretext.h"

namespace {

using gmtest::Structure;

// An action as "name type(previous) length(previous) decimals(previous) flags".
std::string Describe(const tActionField& a) {
    char text[128];
    std::snprintf(text, sizeof text, "%s %c(%c) %u(%u) %u(%u) %#x", a.name.GetText(), a.newType,
                  a.oldType, a.newLength, a.oldLength, a.newDecimals, a.oldDecimals, a.actions);
    return text;
}

std::vector<std::string> Plan(const std::string& oldText, const std::string& newText,
                              bool memoAsBlob = false) {
    tAutoArray<tActionField> oldColumns;
    tAutoArray<tActionField> newColumns;
    EXPECT_TRUE(ParseStructureText(oldText.c_str(), false, oldColumns));
    EXPECT_TRUE(ParseStructureText(newText.c_str(), memoAsBlob, newColumns));
    tAutoArray<tActionField> actions;
    PlanAlterActions(oldColumns, newColumns, actions);
    std::vector<std::string> described;
    for (i32 i = 0; i < actions.Count(); ++i) described.push_back(Describe(*actions.Get(i)));
    return described;
}

TEST(AlterPlan, EachKindOfChangeGetsItsFlagsAndPreviousValues) {
    const std::string base = Structure({{"CODE", "C", "10", "0"}, {"PRICE", "N", "12", "2"}});
    const struct {
        const char* what;
        std::string newText;
        std::vector<std::string> actions;
    } cases[] = {
        {"equal", base, {"CODE C(C) 10(10) 0(0) 0", "PRICE N(N) 12(12) 2(2) 0"}},
        {"widened",
         Structure({{"CODE", "C", "20", "0"}, {"PRICE", "N", "12", "2"}}),
         {"CODE C(C) 20(10) 0(0) 0x10", "PRICE N(N) 12(12) 2(2) 0"}},
        {"renamed",
         Structure({{"KEY", "C", "10", "0"}, {"PRICE", "N", "12", "2"}}),
         {"CODE C(C) 10(10) 0(0) 0x4", "PRICE N(N) 12(12) 2(2) 0", "KEY C(C) 10(10) 0(0) 0x2"}},
        {"type and length",
         Structure({{"CODE", "N", "8", "0"}, {"PRICE", "C", "12", "0"}}),
         {"CODE N(C) 8(10) 0(0) 0x18", "PRICE C(N) 12(12) 0(2) 0x28"}},
        {"decimals",
         Structure({{"CODE", "C", "10", "0"}, {"PRICE", "N", "12", "4"}}),
         {"CODE C(C) 10(10) 0(0) 0", "PRICE N(N) 12(12) 4(2) 0x20"}},
        {"name compared by its bytes",
         Structure({{"code", "C", "10", "0"}, {"PRICE", "N", "12", "2"}}),
         {"CODE C(C) 10(10) 0(0) 0x4", "PRICE N(N) 12(12) 2(2) 0", "code C(C) 10(10) 0(0) 0x2"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Plan(base, c.newText), c.actions);
    }
}

TEST(AlterPlan, MemoLengthIsNoChangeAndBlobMemosGetLengthEleven) {
    const std::string old = Structure({{"NOTE", "M", "10", "0"}});
    EXPECT_EQ(Plan(old, Structure({{"NOTE", "M", "40", "0"}})),
              std::vector<std::string>{"NOTE M(M) 10(10) 0(0) 0"});
    EXPECT_EQ(Plan(old, Structure({{" NOTE ", "Memo", "10", "0"}, {"MORE", "M", "10", "0"}}), true),
              (std::vector<std::string>{"NOTE M(M) 10(10) 0(0) 0", "MORE M(M) 11(11) 0(0) 0x2"}));
    // A change to M keeps the old length: the memo's length is the database's.
    EXPECT_EQ(Plan(Structure({{"NOTE", "C", "10", "0"}}), Structure({{"NOTE", "M", "40", "0"}})),
              std::vector<std::string>{"NOTE M(C) 10(10) 0(0) 0x8"});
}

TEST(StructureText, EmptyColumnsAndBlanksAroundNumbersAreAllowed) {
    tAutoArray<tActionField> columns;
    EXPECT_TRUE(ParseStructureText("", false, columns));
    EXPECT_EQ(columns.Count(), 0);
    const std::string text = std::string(1, kColumnSeparator) + Structure({{"A", "C", " 5 ", ""}}) +
                             kColumnSeparator + kColumnSeparator +
                             Structure({{"B", "N", "10", "3"}}) + kColumnSeparator;
    ASSERT_TRUE(ParseStructureText(text.c_str(), false, columns));
    ASSERT_EQ(columns.Count(), 2);
    EXPECT_EQ(Describe(*columns.Get(0)), "A C(C) 5(5) 0(0) 0");
    EXPECT_EQ(Describe(*columns.Get(1)), "B N(N) 10(10) 3(3) 0");
}

TEST(StructureText, ColumnsThatCouldReachSqlBadlyAreRefusedWhole) {
    const std::string good = Structure({{"A", "C", "5", "0"}});
    const struct {
        const char* what;
        std::string column;
    } cases[] = {
        {"quote in the name", Structure({{"A'B", "C", "5", "0"}})},
        {"semicolon in the name", Structure({{"A;DROP", "C", "5", "0"}})},
        {"blank inside the name", Structure({{"A B", "C", "5", "0"}})},
        {"empty name", Structure({{"", "C", "5", "0"}})},
        {"name over 128 characters", Structure({{std::string(129, 'N'), "C", "5", "0"}})},
        {"no type", Structure({{"B", "", "5", "0"}})},
        {"negative length", Structure({{"B", "C", "-5", "0"}})},
        {"length beyond 32767", Structure({{"B", "C", "32768", "0"}})},
        {"huge decimals", Structure({{"B", "N", "10", "99999999999999999999"}})},
        {"letters in the length", Structure({{"B", "C", "5x", "0"}})},
        {"three attributes", Structure({{"B", "C", "5"}})},
        {"five attributes", Structure({{"B", "C", "5", "0", "0"}})},
        {"name given twice", Structure({{"a", "C", "5", "0"}})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string text = good + kColumnSeparator + c.column;
        tAutoArray<tActionField> columns;
        EXPECT_FALSE(ParseStructureText(text.c_str(), false, columns));
        EXPECT_EQ(columns.Count(), 0);
    }
    // The longest values still fit.
    tAutoArray<tActionField> columns;
    const std::string longest = Structure({{std::string(128, 'N'), "C", "32767", "32767"}});
    EXPECT_TRUE(ParseStructureText(longest.c_str(), false, columns));
}

}  // namespace
