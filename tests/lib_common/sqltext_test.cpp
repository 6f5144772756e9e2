// The identifier check and the literal quoting that stand between client text and SQL.
#include "lib_common/sqltext.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(SqlText, IdentifiersAreLettersDigitsAndFourMarksUpTo128Characters) {
    const std::string longest(128, 'A');
    const struct {
        std::string name;
        bool ok;
    } cases[] = {
        {"SA1010", true},  {"dbo.SA1010", true},   {"T_#$9", true}, {"clients", true},
        {longest, true},   {longest + "A", false}, {"", false},     {"A B", false},
        {"A;DROP", false}, {"A'", false},          {"A\"", false},  {"A-B", false},
        {"A(1)", false},   {"\xc1REA", false},     {"A\n", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(IsSqlIdentifier(c.name.c_str()), c.ok);
    }
    EXPECT_FALSE(IsSqlIdentifier(nullptr));
}

TEST(SqlText, LiteralsDoubleEveryQuoteAndKeepOtherBytes) {
    const struct {
        const char* value;
        const char* literal;
    } cases[] = {
        {"abc", "'abc'"},      {"", "''"},
        {nullptr, "''"},       {"O'Neil", "'O''Neil'"},
        {"''", "''''''"},      {"a\\'b", "'a\\''b'"},
        {"x';--", "'x'';--'"}, {"\xe7\xe3o", "'\xe7\xe3o'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.literal);
        tString sql("V=");
        AppendQuoted(sql, c.value);
        EXPECT_EQ(std::string(sql.GetText()), std::string("V=") + c.literal);
    }
}

}  // namespace
