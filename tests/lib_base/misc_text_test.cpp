#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "lib_base/misc.h"

namespace {

TEST(PathSeparators, LowerCasesThenTurnsSlashesIntoBackslashes) {
    const struct {
        const char* path;
        bool lower;
        const char* want;
    } cases[] = {
        {"C:/Data/Sub/File.TXT", true, "c:\\data\\sub\\file.txt"},
        {"C:\\Data\\File.TXT", true, "c:\\data\\file.txt"},  // no '/': only lower-cased
        {"C:/Data/File.TXT", false, "C:\\Data\\File.TXT"},
        {"//", true, "\\\\"},
        {"", true, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        tString s(c.path);
        ConvertPathSeparators(s, c.lower);
        EXPECT_STREQ(s.GetText(), c.want);
        char plain[64];
        std::strcpy(plain, c.path);
        ConvertPathSeparators(plain, c.lower);
        EXPECT_STREQ(plain, c.want);
    }
    ConvertPathSeparators(static_cast<char*>(nullptr), true);  // ignored, no crash
}

TEST(PathSeparators, ConvertingOneCopyLeavesTheOtherAlone) {
    tString original("A/B");
    tString copy(original);
    ConvertPathSeparators(copy, true);
    EXPECT_STREQ(copy.GetText(), "a\\b");
    EXPECT_STREQ(original.GetText(), "A/B");
}

TEST(UpperIf, ChangesOnlyWhenAsked) {
    tString s("Mixed 1x");
    UpperIf(s, false);
    EXPECT_STREQ(s.GetText(), "Mixed 1x");
    UpperIf(s, true);
    EXPECT_STREQ(s.GetText(), "MIXED 1X");
    char plain[] = "abc\xe9";
    UpperIf(plain, false);
    EXPECT_STREQ(plain, "abc\xe9");
    UpperIf(plain, true);
    EXPECT_STREQ(plain, "ABC\xe9");  // bytes above 127 stay as they are
    UpperIf(static_cast<char*>(nullptr), true);
}

TEST(Wildcard, MatchesWholeTextsWithStarsAndQuestionMarks) {
    const struct {
        const char* text;
        const char* pattern;
        bool match;
    } cases[] = {
        {"REPORT.Txt", "*.txt", true},
        {"abc", "a?c", true},
        {"ac", "a?c", false},
        {"ab", "ab*", true},
        {"abc", "", true},
        {"", "", true},
        {"", "*x", false},
        {"", "*", true},
        {"", "**", true},
        {"x", "*x", true},
        {"abc", "a", false},  // the whole text must be used
        {"abc", "abcd", false},
        {"a", "a?", false},  // '?' never matches at the end
        {"abcb", "*b", true},
        {"abcbd", "*b", false},
        {"aXbXc", "a*b*c", true},
        {"aXbXd", "a*b*c", false},
        {"mississippi", "m*iss*ppi", true},
        {"mississippi", "m*iss*ppx", false},
        {"abc", "*.*", false},  // no dot in the name
        {"a.b", "*.*", true},
        {"ABC", "a*C", true},
        {"data\xe9.dbf", "DATA?.DBF", true},
        {"a*b", "a*b", true},
        {"ab", "a**b", true},
        {nullptr, "", true},
        {nullptr, "*", true},
        {nullptr, "?", false},
        {"x", nullptr, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.text ? c.text : "(null)") + " ~ " +
                     (c.pattern ? c.pattern : "(null)"));
        EXPECT_EQ(WildcardMatch(c.text, c.pattern), c.match);
    }
}

TEST(Wildcard, EndPositionMarksWhereTheMatchStopped) {
    const struct {
        const char* text;
        i32 textPos;
        const char* pattern;
        i32 patternPos;
        bool match;
        i32 end;
    } cases[] = {
        {"abcdef", 0, "abcdef", 0, true, 6},
        {"abcdef", 2, "", 0, true, 2},     // empty pattern: where it began
        {"abcdef", 1, "xyz", 3, true, 1},  // pattern position at its end
        {"abcdef", 0, "ab*", 0, true, 2},  // final star: where it began
        {"abcdef", 0, "*c*", 0, true, 3},  // the first 'c' that works
        {"abcdef", 2, "cd?f", 0, true, 6},
        {"xxabc", 2, "ABC", 0, true, 5},
        {"abcdef", 0, "zzab*", 2, true, 2},
        {"abcdef", 0, "b*", 0, false, -1},
        {"abc", 4, "*", 0, false, -1},  // text position past the end
        {"abc", -1, "*", 0, false, -1},
        {"abc", 0, "*", 2, false, -1},  // pattern position past the end
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.text) + "@" + std::to_string(c.textPos) + " ~ " + c.pattern +
                     "@" + std::to_string(c.patternPos));
        i32 end = -1;
        EXPECT_EQ(WildcardMatchFrom(c.text, c.textPos, c.pattern, c.patternPos, &end), c.match);
        EXPECT_EQ(end, c.end);
    }
}

TEST(Wildcard, ManyStarsOnALongTextStayFast) {
    // Trying every position for every star would take about 40^8 steps here.
    const std::string text(4000, 'a');
    EXPECT_FALSE(WildcardMatch(text.c_str(), "*a*a*a*a*a*a*a*a*b"));
    EXPECT_TRUE(WildcardMatch((text + "b").c_str(), "*a*a*a*a*a*a*a*a*b"));
}

}  // namespace
