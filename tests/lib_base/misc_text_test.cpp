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

TEST(LineTexts, StripTrimAndLineEndTests) {
    const struct {
        const char* text;
        const char* stripped;
        const char* trimmed;
        bool endsWithLineEnd;
    } cases[] = {
        {"ab\r\n", "ab", "ab\r\n", true},
        {"a\nb", "a", "a\nb", false},  // the second-to-last ends the text
        {"ab\n", "ab", "ab\n", true},
        {"\r", "", "\r", true},
        {"abc", "abc", "abc", false},
        {"a\n\n\n", "a\n", "a\n\n\n", true},  // only the last two are looked at
        {"  a b  ", "  a b  ", "a b", false},
        {"\ta\t ", "\ta\t ", "\ta\t", false},  // tabs stay
        {"    ", "    ", "", false},
        {"", "", "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        char strip[32];
        std::strcpy(strip, c.text);
        StripLineEnd(strip);
        EXPECT_STREQ(strip, c.stripped);
        char trim[32];
        std::strcpy(trim, c.text);
        TrimBlanks(trim);
        EXPECT_STREQ(trim, c.trimmed);
        EXPECT_EQ(EndsWithLineEnd(c.text), c.endsWithLineEnd);
    }
    StripLineEnd(nullptr);
    TrimBlanks(nullptr);
    EXPECT_FALSE(EndsWithLineEnd(nullptr));
}

TEST(LeadingInt, ReadsBlanksSignAndLeadingDigits) {
    const struct {
        const char* text;
        i32 value;
    } cases[] = {
        {"42", 42},
        {"  -17x", -17},
        {"+8", 8},
        {"abc", 0},
        {"", 0},
        {nullptr, 0},
        {"- 5", 0},
        {"007", 7},
        {"2147483647", 2147483647},
        {"2147483648", 2147483647},
        {"-2147483648", INT32_MIN},
        {"99999999999999999999999", 2147483647},
        {"-99999999999999999999", INT32_MIN},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text ? c.text : "(null)");
        EXPECT_EQ(LeadingInt(c.text), c.value);
    }
}

TEST(Tokens, GetTokenCopiesOnlyTokensThatFit) {
    const struct {
        const char* text;
        const char* delimiters;
        i32 index;
        i32 size;
        i32 result;
        const char* out;
    } cases[] = {
        {"  one two", " ", 0, 16, 0, "one"},
        {"  one two", " ", 1, 16, 0, "two"},
        {"  one two", " ", 2, 16, 1, ""},
        {"  one two", " ", -1, 16, 1, ""},
        {"  one two", " ", 0, 4, 0, "one"},  // three characters and the terminator
        {"  one two", " ", 0, 3, 1, ""},     // a token of exactly size characters
        {"a;b,c", ";,", 2, 16, 0, "c"},
        {"a;b,c", ";", 1, 16, 0, "b,c"},
        {"abc", "", 0, 16, 0, "abc"},  // no delimiters: the whole text
        {"", " ", 0, 16, 1, ""},
        {",,,", ",", 0, 16, 1, ""},
        {nullptr, " ", 0, 16, 1, ""},
        {"a b", nullptr, 0, 16, 1, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.text ? c.text : "(null)") + " #" + std::to_string(c.index) +
                     " size " + std::to_string(c.size));
        char out[16];
        std::memset(out, 'x', sizeof out);
        EXPECT_EQ(GetToken(c.text, c.delimiters, c.index, out, c.size), c.result);
        EXPECT_STREQ(out, c.out);
    }
    char untouched = 'x';
    EXPECT_EQ(GetToken("a", " ", 0, &untouched, 0), 1);  // size 0: nothing written
    EXPECT_EQ(untouched, 'x');
}

TEST(Tokens, CountTokensAndGetTokenInt) {
    EXPECT_EQ(CountTokens("  one two", " "), 2);
    EXPECT_EQ(CountTokens(",a,,b,", ","), 2);
    EXPECT_EQ(CountTokens("a;b,c", ";,"), 3);
    EXPECT_EQ(CountTokens("", ","), 0);
    EXPECT_EQ(CountTokens(",,", ","), 0);
    EXPECT_EQ(CountTokens(nullptr, ","), 0);
    EXPECT_EQ(CountTokens("a", nullptr), 0);

    i32 value = 99;
    EXPECT_EQ(GetTokenInt("10;-25x;abc", ";", 1, value), 0);
    EXPECT_EQ(value, -25);
    EXPECT_EQ(GetTokenInt("10;-25x;abc", ";", 2, value), 0);
    EXPECT_EQ(value, 0);
    value = 99;
    EXPECT_EQ(GetTokenInt("10;-25x;abc", ";", 3, value), 1);
    EXPECT_EQ(value, 99);
    const std::string longToken(60, '1');  // does not fit the 60-byte work buffer
    EXPECT_EQ(GetTokenInt(longToken.c_str(), ";", 0, value), 1);
    EXPECT_EQ(value, 99);
}

TEST(Tokens, JoinTokensFromStaysInsideTheOutput) {
    const struct {
        const char* text;
        i32 first;
        i32 size;
        bool result;
        const char* out;
    } cases[] = {
        {"a b c", 1, 32, false, "b c"},
        {"a", 1, 32, true, ""},
        {"", 1, 32, true, ""},
        {"cmd x", 1, 32, false, "x"},
        {"a b c", 0, 32, false, "ab c"},  // no blank before index 1
        {"a b c", 2, 32, false, " c"},    // a blank before every index above 1
        {"a b c", 3, 32, false, ""},
        {"cmd one two three", 1, 8, false, "one two"},  // "three" would not fit
        {"cmd one two three", 1, 7, false, "one"},
        {"cmd one two", 1, 3, true, ""},  // the first word does not fit
        {"cmd one", 1, 0, true, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " from " + std::to_string(c.first) + " size " +
                     std::to_string(c.size));
        char out[40];
        std::memset(out, 'x', sizeof out);
        out[39] = '\0';
        EXPECT_EQ(JoinTokensFrom(c.text, " ", c.first, out, c.size), c.result);
        if (c.out) {
            EXPECT_STREQ(out, c.out);
            EXPECT_EQ(out[c.size], 'x');  // nothing written past the size
        } else {
            EXPECT_EQ(out[0], 'x');
        }
    }
}

TEST(IpToText, WritesTheBytesInWireOrder) {
    const struct {
        u8 wire[4];
        const char* text;
    } cases[] = {
        {{127, 0, 0, 1}, "127.0.0.1"},
        {{255, 255, 255, 255}, "255.255.255.255"},
        {{10, 1, 200, 0}, "10.1.200.0"},
    };
    for (const auto& c : cases) {
        u32 address = 0;
        std::memcpy(&address, c.wire, sizeof address);  // as received: network byte order
        char text[16];
        EXPECT_EQ(IpToText(address, text), text);
        EXPECT_STREQ(text, c.text);
    }
}

TEST(JoinPath, JoinsReducesBackslashesAndLowerCases) {
    const struct {
        const char* parts[4];
        const char* path;
    } cases[] = {
        {{"C:\\Data\\", "Sub", nullptr, ".TXT"}, "c:\\data\\sub.txt"},
        {{"C:", "A", "B", "\\F.x"}, "c:\\a\\b\\f.x"},
        {{"root/dir", nullptr, "X", nullptr}, "root\\dir\\x"},
        {{"\\\\\\srv", nullptr, nullptr, nullptr}, "\\srv"},
        {{nullptr, nullptr, nullptr, nullptr}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        char out[261];
        EXPECT_EQ(JoinPath(out, c.parts[0], c.parts[1], c.parts[2], c.parts[3]), out);
        EXPECT_STREQ(out, c.path);
    }
    const std::string longPart(300, 'A');
    char out[262];
    out[261] = 'x';
    JoinPath(out, longPart.c_str(), "b", nullptr, nullptr);
    EXPECT_EQ(std::string(out), std::string(260, 'a'));
    EXPECT_EQ(out[261], 'x');
}

}  // namespace
