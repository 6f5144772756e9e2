// The scanner over the filter image: the token of every written form, longest match, strings and
// their lists, invalid tokens with their line and offset, the double-byte paths, and the scanner
// rules that only hand-built tables reach (empty matches, keyword lookup, missing parts).
#include "server/filter/sslex.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/codepage.h"
#include "server/filter/filterdfa.h"
#include "tests/server/filter/sstest.h"
#include "tests/support/tempdir.h"

namespace {

struct Token {
    i32 id;
    std::string text;
    bool operator==(const Token& o) const { return id == o.id && text == o.text; }
};

std::ostream& operator<<(std::ostream& out, const Token& t) {
    return out << "{" << t.id << ", \"" << t.text << "\"}";
}

SSLexTable& FilterTable() {
    static SSLexTable table(kFilterDfaImage, kFilterDfaImageSize, "filter.dfa");
    return table;
}

std::vector<Token> Drain(SSLex& lex) {
    std::vector<Token> tokens;
    while (SSLexLexeme* raw = lex.nextToken()) {
        SSRef<SSLexLexeme> lexeme(raw);
        tokens.push_back({lexeme->token(), std::string(lexeme->asChar(), lexeme->length())});
    }
    return tokens;
}

// The tokens of a filter text, scanned as the filter engine does (multi-byte mode).
std::vector<Token> Scan(const std::string& text) {
    SSLexStringConsumer consumer(text.c_str(), SSLexConsumer::kMultiByte);
    SSLex lex(consumer, FilterTable());
    return Drain(lex);
}

// The error that scanning the whole text raises, or "(no error)".
std::string ScanError(const std::string& text) {
    return sstest::ErrorText([&] { Scan(text); });
}

// A lead-byte test of a double-byte code page, set for the life of the object.
class DoubleByteCodePage {
public:
    DoubleByteCodePage() : saved(plat::SetLeadByteTest(&IsLead)) {}
    ~DoubleByteCodePage() { plat::SetLeadByteTest(saved); }

private:
    static bool IsLead(unsigned char byte) { return byte >= 0x81 && byte <= 0x9F; }
    plat::LeadByteTest saved;
};

TEST(SSLexFilter, EveryWrittenFormGivesItsToken) {
    const struct {
        const char* text;
        std::vector<Token> tokens;
    } cases[] = {
        {"*EQ *gt *Lt *ge *LE *nE",
         {{55, "*EQ"}, {56, "*gt"}, {57, "*Lt"}, {58, "*ge"}, {59, "*LE"}, {60, "*nE"}}},
        {"*AND *or *Not *CT *cat",
         {{61, "*AND"}, {62, "*or"}, {63, "*Not"}, {64, "*CT"}, {78, "*cat"}}},
        {"%NONNULL %nonNull %SST %sst %",
         {{65, "%NONNULL"}, {65, "%nonNull"}, {67, "%SST"}, {67, "%sst"}, {82, "%"}}},
        {"(){}[]+-/,",
         {{68, "("},
          {69, ")"},
          {70, "{"},
          {71, "}"},
          {72, "["},
          {73, "]"},
          {77, "+"},
          {79, "-"},
          {80, "/"},
          {84, ","}}},
        {"* ** ^ ***", {{81, "*"}, {83, "**"}, {83, "^"}, {83, "**"}, {81, "*"}}},
        {"'' \"\"", {{52, "''"}, {52, "\"\""}}},
        {"'say \"hi\"' \"it's\"", {{85, "say \"hi\""}, {85, "it's"}}},
        {".5 12.5 7 0.25", {{74, ".5"}, {75, "12.5"}, {75, "7"}, {75, "0.25"}}},
        {"DTOS dtos D Dt DTO DTOSX _a1 and",
         {{76, "DTOS"},
          {76, "dtos"},
          {76, "D"},
          {76, "Dt"},
          {76, "DTO"},
          {76, "DTOSX"},
          {76, "_a1"},
          {76, "and"}}},
        {"*ANDX", {{61, "*AND"}, {76, "X"}}},
        {"*A ", {{81, "*"}, {76, "A"}}},  // longest match: the star alone, then a name
        {"%NONNUL", {{82, "%"}, {76, "NONNUL"}}},
        {"'a\nb'", {{85, "a"}, {85, "b"}}},
        {" \t\r", {}},
        {"NAME *EQ 'x' *AND QTY*2 *GE 10",
         {{76, "NAME"},
          {55, "*EQ"},
          {85, "x"},
          {61, "*AND"},
          {76, "QTY"},
          {81, "*"},
          {75, "2"},
          {58, "*GE"},
          {75, "10"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(Scan(c.text), c.tokens);
    }
}

TEST(SSLexFilter, InvalidTokensGiveTheirLineAndOffset) {
    const struct {
        const char* text;
        const char* error;
    } cases[] = {
        {"12.", "SSLex0105e: Invalid token, Line 1, Offset 3, ."},
        {"a\nb", "SSLex0105e: Invalid token, Line 1, Offset 2, \n"},
        {"'a\nb' 12.", "SSLex0105e: Invalid token, Line 2, Offset 6, ."},
        {"x *EQ #", "SSLex0105e: Invalid token, Line 1, Offset 7, #"},
        {"x\r\n", "SSLex0105e: Invalid token, Line 1, Offset 3, \n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ScanError(c.text), c.error);
    }
}

TEST(SSLexFilter, EmptyTextGivesNoTokenAndStringListsEndInTheMainList) {
    SSLexStringConsumer empty("", SSLexConsumer::kMultiByte);
    SSLex none(empty, FilterTable());
    EXPECT_EQ(none.nextToken(), nullptr);
    EXPECT_EQ(none.tokenCount(), 0u);

    SSLexStringConsumer whole("'ab' \"cd\" x", SSLexConsumer::kMultiByte);
    SSLex lex(whole, FilterTable());
    EXPECT_EQ(Drain(lex).size(), 3u);
    EXPECT_EQ(lex.getExpressionList(), 0u);
    EXPECT_EQ(lex.tokenCount(), 3u);

    SSLexStringConsumer open("\"ab", SSLexConsumer::kMultiByte);
    SSLex unterminated(open, FilterTable());
    EXPECT_EQ(Drain(unterminated), (std::vector<Token>{{85, "ab"}}));
    EXPECT_EQ(unterminated.getExpressionList(), 2u);
}

TEST(SSLexFilter, ListIndexBeyondTheTableRaises0106eAndKeepsTheList) {
    SSLexStringConsumer consumer("x", SSLexConsumer::kMultiByte);
    SSLex lex(consumer, FilterTable());
    sstest::ExpectError([&] { lex.pushExpressionList(3); }, 6,
                        "SSLex0106e: Invalid expression list index, 3");
    sstest::ExpectError([&] { lex.setExpressionList(7); }, 6,
                        "SSLex0106e: Invalid expression list index, 7");
    EXPECT_EQ(lex.getExpressionList(), 0u);
    lex.pushExpressionList(1);
    EXPECT_EQ(lex.getExpressionList(), 1u);
    lex.popExpressionList();
    EXPECT_EQ(lex.getExpressionList(), 0u);
    sstest::ExpectError([&] { lex.popExpressionList(); }, 9, "SSLifo0002e: No top, stack empty");
}

TEST(SSLexFilter, LexemeKeepsItsPlaceAndItsFirstHolderOwnsIt) {
    SSLexStringConsumer consumer("'x\ny'  *EQ", SSLexConsumer::kMultiByte);
    SSLex lex(consumer, FilterTable());
    SSRef<SSLexLexeme> first(lex.nextToken());
    SSRef<SSLexLexeme> second(lex.nextToken());
    SSLexLexeme* loose = lex.nextToken();
    EXPECT_EQ(loose->refCount(), 0u);
    EXPECT_EQ(loose->line(), 2u);
    EXPECT_EQ(loose->offset(), 5u);
    EXPECT_EQ(loose->bufferOffset(), 7u);
    EXPECT_EQ(second->line(), 2u);
    EXPECT_EQ(std::string(loose->asChar(), loose->length() + 2), std::string("*EQ\0\0", 5));
    sstest::ExpectError([&] { loose->release(false); }, 28,
                        "SSRef0001e: Reference count less than zero");
    SSRef<SSLexLexeme> owner(loose);  // frees it
    EXPECT_EQ(first->line(), 1u);
}

TEST(SSLexFilter, DroppedInvalidCharactersAreSkippedWhenErrorsAreOff) {
    ssExceptionControl().raiseErrors = false;
    const std::vector<Token> tokens = Scan("a # b\n.");
    ssExceptionControl().raiseErrors = true;
    EXPECT_EQ(tokens, (std::vector<Token>{{76, "a"}, {76, "b"}}));
}

TEST(SSLexDoubleByte, ACharacterOfTwoBytesIsInvalidOutsideAStringAndTextInside) {
    {
        DoubleByteCodePage codePage;
        EXPECT_EQ(ScanError("a\x81\x40"), "SSLex0105e: Invalid token, Line 1, Offset 2, \x81\x40");
        // The second byte is a quote, yet it belongs to the character and ends nothing.
        EXPECT_EQ(Scan("'\x81'x'"), (std::vector<Token>{{85, "\x81'x"}}));
        EXPECT_EQ(ScanError("'ab\x81"), "SSLex0114e: Invalid DBCS byte, second byte missing");
    }
    EXPECT_EQ(Scan("'\x81'x"), (std::vector<Token>{{85, "\x81"}, {76, "x"}}));
    EXPECT_EQ(ScanError("\x81"), "SSLex0105e: Invalid token, Line 1, Offset 1, \x81");
}

TEST(SSLexFilter, SixteenBitTextsScanUnitByUnitAfterAByteOrderMark) {
    const u16 text[] = {'a', ' ', '*', 'E', 'Q', 0x4E2D, 0};
    SSLexStringConsumer wide(text);
    SSLex lex(wide, FilterTable());
    SSRef<SSLexLexeme> name(lex.nextToken());
    EXPECT_TRUE(name->isWide());
    EXPECT_EQ(std::string(name->asChar(), name->length()), std::string("a\0", 2));
    SSRef<SSLexLexeme> op(lex.nextToken());
    EXPECT_EQ(op->token(), 55);
    EXPECT_EQ(sstest::ErrorText([&] { lex.nextToken(); }),
              "SSLex0105e: Invalid token, Line 1, Offset 6, -N");

    const char bigEndian[] = {'\xFE', '\xFF', 0, 'a', 0, '+'};
    SSLexDataConsumer data(bigEndian, sizeof bigEndian, SSLexConsumer::kWide);
    SSLex swapped(data, FilterTable());
    const std::vector<Token> tokens = Drain(swapped);
    ASSERT_EQ(tokens.size(), 2u);
    EXPECT_EQ(tokens[0].id, 76);
    EXPECT_EQ(tokens[1], (Token{77, std::string("\0+", 2)}));
}

// A table whose start state accepts the empty text: the empty match is an invalid token.
TEST(SSLexRules, EmptyMatchIsAnInvalidTokenNotAnEndlessLoop) {
    using sstest::State;
    const std::vector<u8> image = sstest::Image({{
        State{-1, 0x50, 0, 0, 0, {{0xFFFFFFFF, 0xFFFFFFFF, 1}}},
        State{-1, 0x50, 0, 0, 0, {}},
    }});
    std::vector<u8> accepting = image;
    sstest::SetWord(accepting, 36 + 88, 9);         // state 0: token 9
    sstest::SetWord(accepting, 36 + 88 + 8, 0x10);  // accepting
    SSLexTable table(accepting.data(), accepting.size(), "empty");
    SSLexStringConsumer consumer("x", SSLexConsumer::kSingleByte);
    SSLex lex(consumer, table);
    EXPECT_EQ(sstest::ErrorText([&] { lex.nextToken(); }),
              "SSLex0105e: Invalid token, Line 1, Offset 1, x");
}

// Names in list 0 go through keyword table 0; a record may also carry a value.
TEST(SSLexRules, KeywordLookupAndRecordValuesSetTheLexeme) {
    using sstest::State;
    const std::vector<u8> image = sstest::Image(
        {{State{0,
                0,
                0,
                0,
                0,
                {{' ', ' ', 2}, {'A', 'Z', 1}, {'a', 'z', 1}, {0xFFFFFFFF, 0xFFFFFFFF, 2}}},
          State{10, 0x210, 0, 0, 0, {{'A', 'Z', 1}, {'a', 'z', 1}}}, State{11, 0x50, 0, 0, 0, {}}}},
        {{{"BEGIN", 20, true, 5}, {"END", 21, true, 6}, {"exit", 22, false, 7}}});
    SSLexTable table(image.data(), image.size(), "keywords");
    SSLexStringConsumer consumer("end Begin exit EXIT other", SSLexConsumer::kSingleByte);
    SSLex lex(consumer, table);
    std::vector<std::pair<i32, u32>> got;
    while (SSLexLexeme* raw = lex.nextToken()) {
        SSRef<SSLexLexeme> lexeme(raw);
        got.push_back({lexeme->token(), lexeme->value()});
    }
    EXPECT_EQ(got, (std::vector<std::pair<i32, u32>>{{21, 6}, {20, 5}, {22, 7}, {10, 0}, {10, 0}}));

    std::vector<u8> badIndex = image;
    sstest::SetWord(badIndex, 36 + 88 + 28 + 12, 3);  // state 1 looks in keyword table 3
    SSLexTable badTable(badIndex.data(), badIndex.size(), "keywords");
    SSLexStringConsumer word("end", SSLexConsumer::kSingleByte);
    SSLex badLex(word, badTable);
    EXPECT_EQ(sstest::ErrorText([&] { badLex.nextToken(); }),
              "SSLex0110e: Invalid keyword index, 3");
}

TEST(SSLexRules, ValueFlagPutsTheRecordValueIntoTheLexeme) {
    using sstest::State;
    const std::vector<u8> image =
        sstest::Image({{State{0, 0, 0, 0, 0, {{'0', '9', 1}, {0xFFFFFFFF, 0xFFFFFFFF, 2}}},
                        State{12, 0x410, 0, 0, 99, {}}, State{-1, 0x50, 0, 0, 0, {}}}});
    SSLexTable table(image.data(), image.size(), "values");
    SSLexStringConsumer consumer("5", SSLexConsumer::kSingleByte);
    SSLex lex(consumer, table);
    SSRef<SSLexLexeme> digit(lex.nextToken());
    EXPECT_EQ(digit->token(), 12);
    EXPECT_EQ(digit->value(), 99u);
}

TEST(SSLexRules, LexerWithoutTableRaises0107eUntilItGetsOne) {
    gmtest::TempDir dir;
    gmtest::WriteFileText(dir.File("input.txt"), "a *OR b");
    SSLex lex(dir.File("input.txt").c_str());
    sstest::ExpectError([&] { lex.nextToken(); }, 7,
                        "SSLex0107e: Table or consumer missing, required");
    sstest::ExpectError([&] { lex.getExpressionList(); }, 47,
                        "SSLex0111e: getExpressionList failed");
    lex.setTable(FilterTable());
    EXPECT_EQ(Drain(lex), (std::vector<Token>{{76, "a"}, {62, "*OR"}, {76, "b"}}));
}

}  // namespace
