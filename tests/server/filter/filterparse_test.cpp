// The filter language's parse table driving the parser over the filter lexer: how filters group,
// which texts parse, how a syntax error ends, and the embedded image's loader checks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "server/filter/filterdfa.h"
#include "server/filter/filterllr.h"
#include "server/filter/ssyacc.h"
#include "tests/server/filter/sstest.h"

namespace {

// An element that carries the text of what it stands for.
class TextElement : public SSYaccStackElement {
public:
    std::string text;
};

// Builds, for every reduction, a text that shows the grouping: each operator application in
// parentheses, calls and built-ins as written.
class GroupingParser : public SSYacc {
public:
    using SSYacc::SSYacc;
    u32 lastProduction = 0;

protected:
    SSYaccStackElement* newStackElement() override { return ssNewStackElement<TextElement>(); }
    SSYaccStackElement* shiftElement(SSLexLexeme& lexeme) override {
        TextElement* element = ssNewStackElement<TextElement>();
        element->text = lexeme.asChar();
        return element;
    }
    SSYaccStackElement* reduce(u32 production, u32 length) override {
        lastProduction = production;
        auto e = [&](i32 i) { return static_cast<TextElement*>(elementFromProduction(i))->text; };
        TextElement* made = ssNewStackElement<TextElement>();
        std::string& t = made->text;
        switch (production) {
            case 2:
            case 3:
            case 5:
            case 16:
            case 23:
                t = "(" + e(0) + " " + e(1) + " " + e(2) + ")";
                break;
            case 6:
                t = "(*NOT " + e(1) + ")";
                break;
            case 15:
                t = "(" + e(0) + e(1) + ")";
                break;
            case 24:
                t = "(" + e(0) + " " + e(1) + " " + e(2) + e(3) + ")";
                break;
            case 37:
                t = "%NONNULL(" + e(2) + " " + e(3) + ")";
                break;
            case 38:
                t = "DTOS(" + e(2) + ")";
                break;
            case 39:
                t = "%SST(" + e(2) + " " + e(3) + " " + e(4) + ")";
                break;
            case 40:
                t = "%SST(" + e(2) + " " + e(3) + ")";
                break;
            case 43:
                t = e(1);
                break;
            case 44:
                t = e(0) + "(" + e(2) + ")";
                break;
            case 45:
                t = e(0) + "()";
                break;
            case 47:
                t = e(0) + "," + e(2);
                break;
            default:
                if (length > 0) t = e(0);  // one symbol passed up; an empty argument stays empty
        }
        return made;
    }
};

struct Parsed {
    std::string outcome;  // the grouping, or the error that ended the parse
    u32 lastProduction = 0;
};

Parsed ParseFilter(const std::string& text) {
    static SSLexTable lexTable(kFilterDfaImage, kFilterDfaImageSize, "filter.dfa");
    SSYaccTable table(kFilterLlrImage, kFilterLlrImageSize, "filter.llr");
    SSLexStringConsumer consumer(text.c_str(), SSLexConsumer::kMultiByte);
    SSLex lex(consumer, lexTable);
    GroupingParser parser(lex, table);
    Parsed parsed;
    try {
        if (parser.parse()) {
            parsed.outcome = "error seen";
        } else {
            parsed.outcome = static_cast<TextElement*>(parser.result())->text;
        }
    } catch (const SSException& e) {
        parsed.outcome = e.what();
    }
    parsed.lastProduction = parser.lastProduction;
    return parsed;
}

TEST(FilterParse, GroupsAsTheLanguageDefines) {
    const std::string noToken = "SSYacc0105e: Error token failed, no valid token";
    const struct {
        const char* filter;
        std::string grouping;
    } cases[] = {
        {"a *OR b *OR c", "(a *OR (b *OR c))"},
        {"a *AND b *OR c", "((a *AND b) *OR c)"},
        {"a *OR b *AND c", "(a *OR (b *AND c))"},
        {"a *AND b *AND c", "(a *AND (b *AND c))"},
        {"(a *OR b) *AND c", "((a *OR b) *AND c)"},
        {"a *EQ b + c", "(a *EQ (b + c))"},
        {"a + b *EQ c", "((a + b) *EQ c)"},
        {"a *EQ b *EQ c", "(a *EQ (b *EQ c))"},
        {"a *CT b *CAT c", "(a *CT (b *CAT c))"},
        {"*NOT a *EQ b", "((*NOT a) *EQ b)"},
        {"*NOT a + b", "((*NOT a) + b)"},
        {"*NOT a *AND b", "((*NOT a) *AND b)"},
        {"a * b + c / d", "((a * b) + (c / d))"},
        {"-a * b", "(-(a * b))"},
        {"-a + b", "((-a) + b)"},
        {"a * -b", "(a * -b)"},
        {"a + -b", noToken},
        {"f()", "f()"},
        {"f(a,b,c)", "f(a,b,c)"},
        {"f(a,)", "f(a,)"},
        {"%SST(N 1 3)", "%SST(N 1 3)"},
        {"%SST(N 1)", "%SST(N 1)"},
        {"%NONNULL('abc' X)", "%NONNULL(abc X)"},
        {"DTOS(D1) *GE '20200101'", "(DTOS(D1) *GE 20200101)"},
        {"A *EQ \"\" *or .5 *ne 1.25", "((A *EQ \"\") *or (.5 *ne 1.25))"},
        {"[", noToken},
        {"{", noToken},
        {"a *EQ", noToken},
        {"(a", noToken},
        {"a b", noToken},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.filter);
        EXPECT_EQ(ParseFilter(c.filter).outcome, c.grouping);
    }
}

TEST(FilterParse, AcceptsWithTheElementOfTheFirstProduction) {
    const Parsed parsed = ParseFilter("NAME *EQ 'x'");
    EXPECT_EQ(parsed.outcome, "(NAME *EQ x)");
    EXPECT_EQ(parsed.lastProduction, 1u);
    // An empty filter is not a filter.
    EXPECT_EQ(ParseFilter("").outcome, "SSYacc0105e: Error token failed, no valid token");
}

TEST(FilterParse, EmbeddedImageLoadsAndItsDamagedCopiesAreRefused) {
    SSYaccTable embedded(SSYaccTable::FromResource{}, "filter.llr");
    EXPECT_EQ(embedded.stateCount(), 76u);
    EXPECT_EQ(embedded.productionCount(), 50u);
    EXPECT_EQ(embedded.conflictCount(), 0u);
    const std::vector<u8> image(kFilterLlrImage, kFilterLlrImage + kFilterLlrImageSize);
    const auto load = [](std::vector<u8> bytes) {
        return sstest::ErrorText([&] { SSYaccTable t(bytes.data(), bytes.size(), "filter.llr"); });
    };
    const std::string refused = "SSYacc0111e: Error reading table, filter.llr";
    std::vector<u8> changed = image;
    sstest::SetWord(changed, 0, 1);
    EXPECT_EQ(load(changed), "(no error)");
    sstest::SetWord(changed, 0, 2);
    EXPECT_EQ(load(changed), refused);
    EXPECT_EQ(load(std::vector<u8>(image.begin(), image.end() - 1)), refused);
    changed = image;
    sstest::SetWord(changed, 20 + 4 * 75, static_cast<u32>(image.size()));
    EXPECT_EQ(load(changed), refused);
}

}  // namespace
