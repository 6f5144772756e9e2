// The filter engine over files of the base dialect and of PostgreSQL: the SQL and the translated
// flag of filter texts, the quotes around the expression, errors, range pairing, and nesting.
#include "server/filter/filterengine.h"

#include <gtest/gtest.h>

#include <functional>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "platform/thread.h"
#include "server/drivers/postgres.h"
#include "server/filter/filterdfa.h"
#include "server/filter/filterparser.h"
#include "tests/server/support/testisam.h"

namespace {

struct Translation {
    std::string sql;
    bool translated;
};

// The translation of the client text 'filter'.
Translation Translate(tFilterOwner& owner, const std::string& filter) {
    std::vector<char> text(filter.begin(), filter.end());
    text.insert(text.begin(), '\'');
    text.push_back('\'');
    text.push_back('\0');
    tFilterEngine engine(owner, text.data());
    tString out;
    engine.Translate(out);
    return {out.GetText(), engine.IsTranslated()};
}

// F1 C 10 first, then A, B, Z (N 10), NAME C 20, D1 D 8.
std::shared_ptr<tTableDefinitionShared> FilteredDefinition(const char* firstField = "F1") {
    auto def = std::make_shared<tTableDefinitionShared>("FILTRADA", "PRODUCAO");
    def->AddField(firstField, 'C', 10, 0, true, true);
    def->AddField("A", 'N', 10, 0, true, true);
    def->AddField("B", 'N', 10, 0, true, true);
    def->AddField("Z", 'N', 10, 0, true, true);
    def->AddField("NAME", 'C', 20, 0, true, true);
    def->AddField("D1", 'D', 8, 0, true, true);
    def->AddField("R_E_C_N_O_", 'N', 15, 0, false, true);
    def->AddField("D_E_L_E_T_", 'C', 1, 0, true, true);
    return def;
}

class FilterEngine : public ::testing::Test, public gmtest::IsamTestBed {
protected:
    FilterEngine()
        : base(&conn, FilteredDefinition(), reply, session.threadId),
          postgres(&conn, FilteredDefinition(), reply, session.threadId) {}

    struct Case {
        const char* filter;
        const char* sql;
        bool translated;
    };
    void ExpectTranslations(tFilterOwner& owner, const std::vector<Case>& cases) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.filter);
            const Translation t = Translate(owner, c.filter);
            EXPECT_EQ(t.sql, c.sql);
            EXPECT_EQ(t.translated, c.translated);
        }
    }

    gmtest::TestISAMFile base;
    tPostgresISAMFile postgres;
};

TEST_F(FilterEngine, TranslatesEachConstructWithTheBaseDialect) {
    ExpectTranslations(
        base,
        {
            {"CUST_ID *EQ '000001'", "CUST_ID = '000001'", true},
            {"A *EQ 'x'", "A = 'x'", true},
            {"A *NE 10 *AND B *LT 2.5", "A <> 10 AND B < 2.5", true},
            {"A *gt 1 *or B *Le 2 *AnD Z *ge 3", "A > 1 OR B <= 2 AND Z >= 3", true},
            {"*NOT ( A *EQ 1 )", " NOT ( ( A = 1 ) )", true},
            {"A *EQ 1 *OR B *GT -2", "A = 1 OR B >  - 2", true},
            {"A *EQ +2", "A = 2", true},
            {"A *EQ .5", "A = 0.5", true},
            {"A *EQ 12.5", "A = 12.5", true},
            {"NAME *EQ %NONNULL('abc' X)", "NAME = 'abc'", true},
            {"NAME *EQ ''", "NAME = ''", true},
            {"NAME *EQ \"\"", "NAME = ''", true},
            {"NAME *EQ \"it's\"", "NAME = 'it''s'", true},
            {"NAME *EQ 'say \"hi\"'", "NAME = 'say \"hi\"'", true},
            {"NAME *EQ 'S\xC3\xA3o \xE3'", "NAME = 'S\xC3\xA3o \xE3'", true},  // bytes as they are
            {"X *EQ Y *EQ Z", "X = Y = Z", true},
            {"5 *LE A", "5 <= A", true},
            {"A + 1 *GT 5", "F1=F1", false},
            {"A *EQ 1 *AND B + 1 *GT 5", "A = 1 AND F1=F1", false},
            {"A *EQ 2 ** 3", "F1=F1", false},
            {"A *EQ B ^ -3", "F1=F1", false},
            {"NAME *EQ 'a' *CAT 'b'", "F1=F1", false},
            {"A *EQ 1 *OR B *CT 'x'", "A = 1 OR F1=F1", false},
            {"%SST(NAME 1 3) *EQ 'abc'", "F1=F1", false},
            {"UPPER(NAME) *EQ 'X'", "F1=F1", false},
            {"DTOS(D1) *GE '20200101'", "F1=F1", false},
            {"*NOT ( A + 1 *EQ 2 )", "F1=F1", false},
            {"( A + 1 )", "F1=F1", false},
            {"A *EQ -( B + 1 )", "F1=F1", false},
        });
}

TEST_F(FilterEngine, FallbackNamesTheFirstFieldOfTheTable) {
    gmtest::TestISAMFile firstIsX(&conn, FilteredDefinition("X"), reply, session.threadId);
    ExpectTranslations(firstIsX, {{"A + 1 *EQ 2", "X=X", false}});
}

TEST_F(FilterEngine, PairsRangesOnOneOperandUnderAnd) {
    ExpectTranslations(
        base,
        {
            {"A *GE 5 *AND A *LE 5", "A = 5 AND A = 5", true},
            {"A *GE 5 *AND A *LE 6", "A >= 5 AND A <= 6", true},
            {"A *GE 'x' *AND a *LE 'x'", "A = 'x' AND a = 'x'", true},
            {"A *GE 5 *OR A *LE 5", "A >= 5 OR A <= 5", true},
            {"( A *GE 5 ) *AND B *EQ 1 *AND A *LE 5", "( A = 5 ) AND B = 1 AND A = 5", true},
            {"A *GE 5 *AND *NOT ( A *LE 5 )", "A >= 5 AND  NOT ( ( A <= 5 ) )", true},
            {"5 *LE A *AND 5 *GE A", "5 <= A AND 5 >= A", true},
            {"A *GE 5 *AND B *LE 5", "A >= 5 AND B <= 5", true},
            {"A *GE 5 *AND A *GE 5", "A >= 5 AND A >= 5", true},
            // Only terms of the AND list pair: a relation inside another's operand is no such term.
            {"Z *EQ ( A *GE 5 ) *AND A *LE 5", "Z = ( A >= 5 ) AND A <= 5", true},
            // A text is no name: 'a' and a are different operands, 'x' and 'X' different texts.
            {"'a' *GE 5 *AND a *LE 5", "'a' >= 5 AND a <= 5", true},
            {"'x' *GE 'm' *AND 'X' *LE 'm'", "'x' >= 'm' AND 'X' <= 'm'", true},
            {"'x' *GE 'm' *AND 'x' *LE 'm'", "'x' = 'm' AND 'x' = 'm'", true},
        });
    // Calls have no text of their own: two different calls never pair.
    ExpectTranslations(
        postgres,
        {
            {"UPPER(A) *GE 'X' *AND UPPER(B) *LE 'X'", "UPPER(A) >= 'X' AND UPPER(B) <= 'X'", true},
            {"(A) *GE 5 *AND (B) *LE 5", "( A ) >= 5 AND ( B ) <= 5", true},
        });
}

TEST_F(FilterEngine, DialectHooksTranslateCallsSubstringsAndContainment) {
    ExpectTranslations(postgres,
                       {
                           {"UPPER(A) *EQ 'X'", "UPPER(A) = 'X'", true},
                           {"STRTRAN(NAME, 'a', 'b') *EQ 'x'", "REPLACE(NAME,'a','b') = 'x'", true},
                           {"EMPTY(A)", "ROUND(A,0) = 0.0 ", true},
                           {"NAME *CT 'ab'", "position('ab' in NAME)>0", true},
                           {"%SST(NAME 2 3) *EQ 'abc'", " substring(NAME,2,3) = 'abc'", true},
                           {"%SST(NAME 19) *EQ 'ab'", " substring(NAME,19,2) = 'ab'", true},
                           {"NAME *EQ \"it's\"", "NAME = 'it' || CHR(39) || 's'", true},
                           {"UPPER(A + 1) *EQ 'X'", "F1=F1", false},
                           {"ROUND(A, 2) *EQ 1", "F1=F1", false},
                           // Empty argument lists and empty arguments have no SQL form.
                           {"UPPER() *EQ 'X'", "F1=F1", false},
                           {"UPPER(NAME,) *EQ 'X'", "F1=F1", false},
                           {"UPPER(,NAME) *EQ 'X'", "F1=F1", false},
                           {"EMPTY()", "F1=F1", false},
                       });
}

TEST_F(FilterEngine, QuotesDelimitTheExpressionAndTheLastBecomesNul) {
    const struct {
        std::string text;
        const char* out;  // after Translate appended to "kept "
        bool translated;
        std::string after;  // the text afterwards
    } cases[] = {
        {"A *EQ 1", "kept ", false, "A *EQ 1"},  // no quote: nothing happens
        {"junk'A *EQ 1", "kept A = 1", true, std::string("junk\0A *EQ 1", 12)},
        {"'NAME *EQ 'x'' trailing", "kept NAME = 'x'", true,
         std::string("'NAME *EQ 'x'\0 trailing", 23)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::vector<char> text(c.text.begin(), c.text.end());
        text.push_back('\0');
        tFilterEngine engine(base, text.data());
        tString out("kept ");
        engine.Translate(out);
        EXPECT_STREQ(out.GetText(), c.out);
        EXPECT_EQ(engine.IsTranslated(), c.translated);
        EXPECT_EQ(std::string(text.data(), c.text.size()), c.after);
    }
}

TEST_F(FilterEngine, TextsThatDoNotScanOrParseGiveNothing) {
    for (const char* filter : {
             "A *EQ",               // syntax error
             "",                    // nothing at all
             "A *EQ 1 *AND B *EQ",  // nodes already built when the error comes
             "A *EQ 12.",           // a point without digits
             "A *EQ 1\n *AND B *EQ 2",
             "A *A B",
             "A *EQ {1}",
             "A[1] *EQ 2",
             "A + -B *EQ 1",
             "NAME *EQ 'it''s'",
             "UPPER(NAME *EQ 'x'",
             "A *EQ 1 )",
             "A # 1",
         }) {
        SCOPED_TRACE(filter);
        const Translation t = Translate(base, filter);
        EXPECT_EQ(t.sql, "");
        EXPECT_FALSE(t.translated);
    }
}

// Filters as deep as the parser builds them, and flat lists, on a stack the size of a worker
// thread's.
class FilterDepth : public FilterEngine {
protected:
    static std::string Repeat(const std::string& s, u32 n) {
        std::string out;
        for (u32 i = 0; i < n; ++i) out += s;
        return out;
    }
    static std::string Parenthesised(u32 levels) {
        return Repeat("(", levels) + "A *EQ 1" + Repeat(")", levels);
    }
    // terms relations joined by *AND and *OR in turn, and the SQL of each term.
    static std::string FlatList(u32 terms, std::string* sql) {
        std::string filter;
        for (u32 i = 0; i < terms; ++i) {
            const std::string n = std::to_string(i);
            if (i > 0) {
                filter += i % 2 ? " *AND " : " *OR ";
                *sql += i % 2 ? " AND " : " OR ";
            }
            filter += "A *EQ " + n;
            *sql += "A = " + n;
        }
        return filter;
    }
    // Runs body on a new thread with a worker's stack and waits for it.
    static void OnWorkerStack(std::function<void()> body) {
        struct Run {
            std::function<void()> body;
            std::promise<void> done;
        } run{std::move(body), {}};
        std::future<void> finished = run.done.get_future();
        ASSERT_EQ(plat::StartThread(
                      [](void* arg) {
                          auto* r = static_cast<Run*>(arg);
                          r->body();
                          r->done.set_value();
                      },
                      &run),
                  0);
        finished.wait();
    }
};

TEST_F(FilterDepth, NestingPastTheCapIsRefused) {
    // A relation is one level, each pair of parentheses one more.
    EXPECT_TRUE(Translate(base, Parenthesised(kFilterMaxDepth - 1)).translated);
    const struct {
        std::string filter;
    } refused[] = {
        {Parenthesised(kFilterMaxDepth)},
        {Parenthesised(3000)},
        {Repeat("*NOT ", 3000) + "A"},
        {Repeat("A *EQ ", 3000) + "1"},
        {Repeat("UPPER(", 3000) + "A" + Repeat(")", 3000)},
        {"A *EQ " + Repeat("1 + ", 3000) + "1"},
        {"F(" + Repeat("1,", 3000) + "1)"},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.filter.substr(0, 40));
        const Translation t = Translate(postgres, c.filter);
        EXPECT_EQ(t.sql, "");
        EXPECT_FALSE(t.translated);
    }
}

TEST_F(FilterDepth, DeepestFiltersAndLongListsTranslateOnAWorkerStack) {
    std::string sql200;
    const std::string list200 = FlatList(200, &sql200);
    std::string sqlLong;
    const std::string listLong = FlatList(3000, &sqlLong);
    const std::string notted = Repeat("*NOT ( ", kFilterMaxDepth / 2 - 1) + "A *EQ 1" +
                               Repeat(" )", kFilterMaxDepth / 2 - 1);
    const std::string calls = Repeat("UPPER(", kFilterMaxDepth / 2 - 1) + "NAME" +
                              Repeat(")", kFilterMaxDepth / 2 - 1) + " *EQ 'X'";
    std::vector<Translation> results;
    OnWorkerStack([&] {
        for (const std::string* filter : {&list200, &listLong, &notted, &calls}) {
            results.push_back(Translate(postgres, *filter));
        }
        results.push_back(Translate(base, Parenthesised(kFilterMaxDepth - 1)));
    });
    ASSERT_EQ(results.size(), 5u);
    EXPECT_EQ(results[0].sql, sql200);
    EXPECT_EQ(results[1].sql, sqlLong);
    EXPECT_EQ(results[2].sql.substr(0, 20), " NOT ( (  NOT ( (  N");
    EXPECT_EQ(results[3].sql.substr(0, 18), "UPPER(UPPER(UPPER(");
    EXPECT_EQ(results[4].sql.substr(0, 6), "( ( ( ");
    for (const Translation& t : results) EXPECT_TRUE(t.translated);
}

TEST(FilterLexClass, NamesTheLanguagesTokens) {
    const struct {
        i32 token;
        const char* name;
    } cases[] = {{52, "NullStr"},
                 {61, "*AND"},
                 {66, "DTOS"},
                 {76, "identName"},
                 {83, "**"},
                 {85, "STRING"},
                 {-1, "eof"},
                 {-2, "%error"},
                 {51, "SSLexTokenNotFound"},
                 {86, "SSLexTokenNotFound"},
                 {0, "SSLexTokenNotFound"}};
    SSLexStringConsumer consumer("", SSLexConsumer::kMultiByte);
    SSLexTable table(kFilterDfaImage, kFilterDfaImageSize, "filter.dfa");
    filterLexClass lexer(consumer, table);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.token);
        EXPECT_STREQ(lexer.tokenName(c.token), c.name);
    }
}

}  // namespace
