#include "lib_base/toklist.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Tokens(const tTokList& list) {
    std::vector<std::string> out;
    tIterator<tString> it(&list);
    while (tString* token = it.Next()) out.push_back(token->GetText());
    return out;
}

using Words = std::vector<std::string>;

TEST(TokList, CutsAtAnySeparatorAndDropsEmptyTokens) {
    const struct {
        const char* text;
        const char* separators;
        Words tokens;
    } cases[] = {
        {",a,,b,", ",", {"a", "b"}},
        {",,,", ",", {}},
        {"", ",", {}},
        {nullptr, ",", {}},
        {"a;b,c", ";,", {"a", "b", "c"}},
        {"NAME+DATE+CODE", "+", {"NAME", "DATE", "CODE"}},
        {"  one  two ", " ", {"one", "two"}},
        {"whole,text", "", {"whole,text"}},
        {"whole,text", nullptr, {"whole,text"}},
        {"x", ",", {"x"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text ? c.text : "(null)");
        tTokList list(c.text, c.separators);
        EXPECT_EQ(Tokens(list), c.tokens);
        EXPECT_EQ(list.Count(), static_cast<i32>(c.tokens.size()));
    }
}

TEST(TokList, LeavesTheCallersTextAndStrTokSequenceAlone) {
    char text[] = "p q r";
    char* first = StrTok(text, " ");
    ASSERT_STREQ(first, "p");
    const char source[] = "x,y";
    tTokList list(source, ",");
    EXPECT_EQ(Tokens(list), (Words{"x", "y"}));
    EXPECT_STREQ(source, "x,y");
    EXPECT_STREQ(StrTok(nullptr, " "), "q");  // the sequence goes on where it was
    EXPECT_STREQ(StrTok(nullptr, " "), "r");
}

Words Texts(const tStringList& list) {
    Words out;
    for (i32 i = 0; i < list.Count(); ++i) out.push_back(list.Get(i));
    return out;
}

TEST(StringList, AddsGetsAndRemovesByIndex) {
    tStringList list;
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.Get(0), nullptr);
    EXPECT_FALSE(list.Remove(0));
    char text[] = "first";
    EXPECT_TRUE(list.Add(text));
    text[0] = 'F';  // the list keeps its own copy
    EXPECT_TRUE(list.Add("second"));
    EXPECT_TRUE(list.Add(""));
    EXPECT_TRUE(list.Add("fourth"));
    EXPECT_FALSE(list.Add(nullptr));
    EXPECT_EQ(Texts(list), (Words{"first", "second", "", "fourth"}));
    EXPECT_EQ(list.Get(4), nullptr);
    EXPECT_EQ(list.Get(-1), nullptr);
    EXPECT_FALSE(list.Remove(4));
    EXPECT_FALSE(list.Remove(-1));

    EXPECT_TRUE(list.Remove(1));  // middle
    EXPECT_EQ(Texts(list), (Words{"first", "", "fourth"}));
    EXPECT_TRUE(list.Remove(2));  // tail
    EXPECT_TRUE(list.Add("new tail"));
    EXPECT_EQ(Texts(list), (Words{"first", "", "new tail"}));
    EXPECT_TRUE(list.Remove(0));  // head
    EXPECT_EQ(Texts(list), (Words{"", "new tail"}));
    EXPECT_TRUE(list.Clear());
    EXPECT_EQ(list.Count(), 0);
    EXPECT_TRUE(list.Add("again"));
    EXPECT_EQ(Texts(list), (Words{"again"}));
}

TEST(StringList, FindPartAndContains) {
    tStringList list;
    EXPECT_EQ(list.FindPart("a", nullptr), nullptr);
    EXPECT_FALSE(list.Contains("a"));
    list.Add("GML_TABLE");
    list.Add("XGML_FIELD");
    list.Add("GML_FIELD");
    i32 position = -1;
    EXPECT_STREQ(list.FindPart("GM", &position), "GML_TABLE");
    EXPECT_EQ(position, 0);
    EXPECT_STREQ(list.FindPart("GML_F", &position), "XGML_FIELD");  // first container wins
    EXPECT_EQ(position, 1);
    EXPECT_STREQ(list.FindPart("FIELD", nullptr), "XGML_FIELD");
    position = -1;
    EXPECT_EQ(list.FindPart("gml", &position), nullptr);  // case counts
    EXPECT_EQ(list.FindPart(nullptr, &position), nullptr);
    EXPECT_EQ(position, -1);

    EXPECT_TRUE(list.Contains("GML_FIELD"));
    EXPECT_FALSE(list.Contains("GML_FIEL"));
    EXPECT_FALSE(list.Contains("gml_field"));
    EXPECT_FALSE(list.Contains(nullptr));
}

TEST(StringList, CopiesAreDeepAndSelfAssignmentKeepsTheList) {
    tStringList list;
    list.Add("a");
    list.Add("b");
    tStringList copy(list);
    list.Remove(0);
    EXPECT_EQ(Texts(copy), (Words{"a", "b"}));
    EXPECT_EQ(Texts(list), (Words{"b"}));

    tStringList other;
    other.Add("x");
    other = copy;
    EXPECT_EQ(Texts(other), (Words{"a", "b"}));
    copy.Clear();
    EXPECT_EQ(Texts(other), (Words{"a", "b"}));

    tStringList& same = other;
    other = same;
    EXPECT_EQ(Texts(other), (Words{"a", "b"}));
}

}  // namespace
