// The parser driver on small hand-built tables: reductions in order, the error-token recovery
// through error entries and synchronising rows, panic recovery, conflicts resolved by reading
// ahead, the look-ahead cache, and the driver's own errors.
#include "server/filter/ssyacc.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/server/filter/sstest.h"
#include "tests/support/tempdir.h"

namespace {

using sstest::State;
using sstest::YaccRow;

constexpr u32 kShift = kSSYaccShiftBit;
constexpr u32 kReduce = kSSYaccReduceBit;
constexpr u32 kAccept = kSSYaccAcceptBit;
constexpr u32 kL = kSSYaccNonterminal + 1;
constexpr u32 kItem = kSSYaccNonterminal + 2;
constexpr i32 kEof = kSSYaccEofToken;

// A lexer whose tokens are single characters, each its own code; blanks are skipped.
std::vector<u8> CharLexerImage() {
    std::vector<State> states(1);
    const std::string tokens = ";abcx";
    states.push_back(State{51, 0x50, 0, 0, 0, {}});  // state 1: blank
    states[0].ranges.push_back({' ', ' ', 1});
    for (char c : tokens) {
        states[0].ranges.push_back({u32(c), u32(c), u32(states.size())});
        states.push_back(State{c, 0x10, 0, 0, 0, {}});
    }
    states[0].ranges.push_back({0xFFFFFFFF, 0xFFFFFFFF, u32(states.size())});
    states.push_back(State{-1, 0x50, 0, 0, 0, {}});
    return sstest::Image({states});
}

// start: L eof; L: L item | item; item: x ';' | %error ';'. Rows 0 and 1 take the given flags
// and, with an error entry, lead to state 4 after the error token.
std::vector<u8> ListImage(u32 flags, u32 shiftX = kShift | 3) {
    const std::vector<std::pair<u32, i32>> onNext = {{0, 'x'}, {0, kEof}};
    auto reduceBy = [&](u32 production) {
        YaccRow row;
        for (const auto& entry : onNext)
            row.actions.push_back({kReduce | production, entry.second});
        return row;
    };
    return sstest::YaccImage(
        {{2, 0}, {2, kL}, {1, kL}, {2, kItem}, {2, kItem}},
        {YaccRow{flags, {{shiftX, 'x'}}, {{1, kL}, {2, kItem}}, 4},
         YaccRow{flags, {{kAccept, kEof}, {shiftX, 'x'}}, {{5, kItem}}, 4}, reduceBy(2),
         YaccRow{0, {{kShift | 6, ';'}}, {}}, YaccRow{0, {{kShift | 7, ';'}}, {}}, reduceBy(1),
         reduceBy(3), reduceBy(4)});
}

// start: S eof; S: A a b | B a c; A: x; B: x. After x, the token a is a conflict that conflict
// list 0 decides by the token behind it: b reduces by 3, c by 4.
constexpr u32 kS = kSSYaccNonterminal + 1, kA = kSSYaccNonterminal + 2, kB = kSSYaccNonterminal + 3;
std::vector<u8> ConflictImage() {
    const std::vector<State> automaton = {
        State{0, 0, 0, 0, 0, {{'a', 'a', 1}}},
        State{0, 0, 0, 0, 0, {{'b', 'b', 2}, {'c', 'c', 3}}},
        State{3, 0x10 | kSSYaccConflictReduce, 0, 0, 0, {}},
        State{4, 0x10 | kSSYaccConflictReduce, 0, 0, 0, {}},
    };
    return sstest::YaccImage(
        {{2, 0}, {3, kS}, {3, kS}, {1, kA}, {1, kB}},
        {YaccRow{0, {{kShift | 1, 'x'}}, {{2, kS}, {3, kA}, {4, kB}}},
         YaccRow{0, {{kSSYaccConflictBit | 0, 'a'}}, {}}, YaccRow{0, {{kAccept, kEof}}, {}},
         YaccRow{0, {{kShift | 5, 'a'}}, {}}, YaccRow{0, {{kShift | 6, 'a'}}, {}},
         YaccRow{0, {{kShift | 7, 'b'}}, {}}, YaccRow{0, {{kShift | 8, 'c'}}, {}},
         YaccRow{0, {{kReduce | 1, kEof}}, {}}, YaccRow{0, {{kReduce | 2, kEof}}, {}}},
        {automaton});
}

// Parses a text over a table image, recording each reduction as its production number and the
// text of its first symbol's lexeme ("3:x").
class Recorder : public SSYacc {
public:
    Recorder(SSLex& lexer, SSYaccTable& table) : SSYacc(lexer, table) {}

    std::string reductions;
    std::vector<i32> panicTokens;  // when set, errors recover by panic over these tokens
    bool stopOnConflict = false;
    std::string conflictSeen;

protected:
    SSYaccStackElement* reduce(u32 production, u32 length) override {
        if (!reductions.empty()) reductions += ' ';
        reductions += std::to_string(production);
        if (length > 0 && elementFromProduction(0)->lexeme()) {
            reductions += std::string(":") + elementFromProduction(0)->lexeme()->asChar();
        }
        return SSYacc::reduce(production, length);
    }
    bool error(u32 state, SSLexLexeme& lookahead) override {
        if (panicTokens.empty()) return SSYacc::error(state, lookahead);
        return errorPanic(panicTokens, false);
    }
    bool conflictError(u32 state, SSLexLexeme& lookahead, SSLexLexeme* further) override {
        if (!stopOnConflict) return SSYacc::conflictError(state, lookahead, further);
        conflictSeen = std::string(lookahead.asChar()) + "," + (further ? further->asChar() : "-");
        return true;
    }
};

// One parse of text with the table image; outcome is "accepted", "error seen" or the text of
// the runtime error that ended it.
struct ParseRun {
    std::string outcome;
    std::string reductions;
    std::string conflictSeen;
};
ParseRun Parse(const std::vector<u8>& image, const std::string& text,
               const std::vector<i32>& panicTokens = {}, bool stopOnConflict = false) {
    const std::vector<u8> lexImage = CharLexerImage();
    SSLexTable lexTable(lexImage.data(), lexImage.size(), "chars.dfa");
    SSLexStringConsumer consumer(text.c_str(), SSLexConsumer::kSingleByte);
    SSLex lexer(consumer, lexTable);
    SSYaccTable table(image.data(), image.size(), "t.llr");
    Recorder parser(lexer, table);
    parser.panicTokens = panicTokens;
    parser.stopOnConflict = stopOnConflict;
    ParseRun run;
    try {
        run.outcome = parser.parse() ? "error seen" : "accepted";
        EXPECT_EQ(run.outcome == "error seen", parser.hadError() || stopOnConflict);
    } catch (const SSException& e) {
        run.outcome = e.what();
    }
    run.reductions = parser.reductions;
    run.conflictSeen = parser.conflictSeen;
    return run;
}

TEST(SSYacc, RecoversBySynchronisingTokensAndErrorEntries) {
    const u32 syncX = kShift | 3 | kSSYaccSyncBit;
    const struct {
        const char* name;
        std::vector<u8> image;
        std::string text;
        std::string outcome;
        std::string reductions;
    } cases[] = {
        {"clean", ListImage(0), "x; x;", "accepted", "3:x 2 3:x 1"},
        {"error entry pushes %error", ListImage(kSSYaccRowError), "x x; x;", "error seen",
         "4:%error 2 3:x 1"},
        {"every token synchronises", ListImage(kSSYaccRowAllSync), "x x; x;", "error seen",
         "3:x 2 3:x 1"},
        {"marked tokens synchronise", ListImage(kSSYaccRowSync, syncX), "x x; x;", "error seen",
         "3:x 2 3:x 1"},
        {"unmarked rows give no token", ListImage(kSSYaccRowSync), "x x; x;",
         "SSYacc0105e: Error token failed, no valid token", ""},
        {"no recovery at all", ListImage(0), "x x;",
         "SSYacc0105e: Error token failed, no valid token", ""},
        {"input ends before a token", ListImage(kSSYaccRowError), "x x",
         "SSYacc0106e: Error token failed, eof", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ParseRun run = Parse(c.image, c.text);
        EXPECT_EQ(run.outcome, c.outcome);
        EXPECT_EQ(run.reductions, c.reductions);
    }
}

TEST(SSYacc, PanicRecoveryRestoresTheStackWhenTooFewElementsRemain) {
    // The second x fails in the state after the first; popping it leaves one element, so the
    // stack comes back whole and the ';' behind completes the first item.
    ParseRun run = Parse(ListImage(0), "x x; x;", {'x', ';'});
    EXPECT_EQ(run.outcome, "error seen");
    EXPECT_EQ(run.reductions, "3:x 2 3:x 1");
    run = Parse(ListImage(0), "x x", {';'});
    EXPECT_EQ(run.outcome, "SSYacc0104e: Error panic failed, no valid token");
}

TEST(SSYacc, ResolvesAConflictByReadingAhead) {
    // The token read ahead to decide is the next one the parser shifts.
    EXPECT_EQ(Parse(ConflictImage(), "x a b").reductions, "3:x 1");
    const ParseRun run = Parse(ConflictImage(), "x a c");
    EXPECT_EQ(run.outcome, "accepted");
    EXPECT_EQ(run.reductions, "4:x 2");

    const ParseRun stuck = Parse(ConflictImage(), "x a a", {}, true);
    EXPECT_EQ(stuck.outcome, "error seen");
    EXPECT_EQ(stuck.conflictSeen, "a,a");
    EXPECT_EQ(Parse(ConflictImage(), "x a", {}, true).conflictSeen, "a,eof");
    // By default an unresolved conflict is a syntax error.
    EXPECT_EQ(Parse(ConflictImage(), "x a a").outcome,
              "SSYacc0105e: Error token failed, no valid token");
}

TEST(SSYaccLexemeCache, MovesUnconsumedEntriesForwardOrGrows) {
    SSYaccLexemeCache cache;
    std::vector<SSRef<SSLexLexeme>> made;
    auto lexeme = [&](i32 token) {
        made.emplace_back(SSLexLexeme::create(token, nullptr, 0, {1, 1, 0}, false));
        return made.back().get();
    };
    EXPECT_FALSE(cache.take());
    for (i32 i = 0; i < 31; ++i) cache.append(lexeme(i));
    EXPECT_EQ(cache.take()->token(), 0);
    cache.append(lexeme(31));  // full: the 30 unconsumed move to the front
    EXPECT_EQ(cache.capacity(), 32u);
    EXPECT_EQ(cache.count(), 31u);
    EXPECT_EQ(cache.peek(0)->token(), 1);
    EXPECT_EQ(cache.peek(30)->token(), 31);
    EXPECT_EQ(cache.peek(31), nullptr);
    EXPECT_EQ(cache.peek(-1), nullptr);
    cache.append(lexeme(32));  // full with none consumed: grows by 32
    EXPECT_EQ(cache.capacity(), 64u);
    for (i32 i = 1; i <= 32; ++i) EXPECT_EQ(cache.take()->token(), i);
    EXPECT_EQ(cache.count(), 0u);
}

// Reduces with the subclass operations and checks what they give.
class Builder : public SSYacc {
public:
    using SSYacc::SSYacc;
    std::string seen;

protected:
    SSYaccStackElement* reduce(u32 production, u32 length) override {
        if (production != 1) return SSYacc::reduce(production, length);
        // S: A a b, three symbols.
        seen = sstest::ErrorText([&] { elementFromProduction(3); });
        SSRef<SSLexLexeme> joined(joinedLexeme({1, 2}));
        seen += std::string("|") + joined->asChar();
        SSYaccStackElement* tree = elementWithSubtree();
        seen +=
            "|" + std::to_string(tree->subtreeCount()) + ":" + tree->subtree(2)->lexeme()->asChar();
        seen += "|" + sstest::ErrorText([&] { tree->setSubtree(3, nullptr); });
        return tree;
    }
};

TEST(SSYacc, SubclassOperationsAndDriverErrors) {
    const std::vector<u8> lexImage = CharLexerImage();
    SSLexTable lexTable(lexImage.data(), lexImage.size(), "chars.dfa");
    const std::vector<u8> image = ConflictImage();
    SSYaccTable table(image.data(), image.size(), "t.llr");
    SSLexStringConsumer consumer("x a b", SSLexConsumer::kSingleByte);
    SSLex lexer(consumer, lexTable);
    Builder parser(lexer, table);
    EXPECT_FALSE(parser.parse());
    EXPECT_FALSE(parser.hadError());
    EXPECT_EQ(parser.seen,
              "SSYacc0108e: Invalid index on elementFromProduction, 3|ab|3:b|"
              "SSYacc0116e: No Subtree, or subtree index too large");
    ASSERT_NE(parser.result(), nullptr);
    EXPECT_EQ(parser.result()->subtreeCount(), 3u);  // the element of the last reduction
    EXPECT_EQ(sstest::ErrorText([&] { parser.parse(); }), "SSYacc0103e: Attempted read past eof");
    EXPECT_EQ(parser.validTokens(1), std::vector<i32>{'a'});
    EXPECT_EQ(sstest::ErrorText([&] { parser.validTokens(9); }),
              "SSYacc0114e: Invalid state specified, 9");

    // A parser made from a table file, without a lexer.
    gmtest::TempDir dir;
    const std::string file = dir.File("t.llr");
    gmtest::WriteFileText(file, std::string(image.begin(), image.end()));
    SSYacc noLexer(file.c_str());
    EXPECT_EQ(sstest::ErrorText([&] { noLexer.parse(); }), "SSYacc0110e: setLex missing, required");

    // A table file that cannot be read leaves the parser without a table.
    SSExceptionControl& control = ssExceptionControl();
    const SSExceptionControl saved = control;
    control.storeErrors = true;
    SSYacc noTable(lexer, dir.File("missing.llr").c_str());
    const bool failed = noTable.parse();
    control = saved;
    EXPECT_TRUE(failed);
    ASSERT_NE(noTable.storedError(), nullptr);
    EXPECT_EQ(std::string(noTable.storedError()->what()),
              "SSYacc0109e: setTable missing, required");
}

}  // namespace

namespace {

TEST(SSYacc, FaultyTablesEndTheParse) {
    const u32 kA = kSSYaccNonterminal + 1;
    // On x, state 0 reduces an empty A and its goto on A is state 0 again: it would never end.
    const std::vector<u8> loop =
        sstest::YaccImage({{2, 0}, {0, kA}}, {YaccRow{0, {{kReduce | 1, 'x'}}, {{0, kA}}}});
    EXPECT_EQ(Parse(loop, "x").outcome, "SSYacc0102e: Parse failed, invalid table");
    // A reduction whose left side has no goto in the uncovered state.
    const std::vector<u8> noGoto =
        sstest::YaccImage({{2, 0}, {0, kA}}, {YaccRow{0, {{kReduce | 1, 'x'}}, {}}});
    EXPECT_EQ(Parse(noGoto, "x").outcome, "SSYacc0107e: Invalid goto on 16385");
    // A reduction longer than the stack.
    const std::vector<u8> tooLong =
        sstest::YaccImage({{2, 0}, {3, kA}}, {YaccRow{0, {{kReduce | 1, 'x'}}, {{0, kA}}}});
    EXPECT_EQ(Parse(tooLong, "x").outcome, "SSYacc0102e: Parse failed, invalid table");
}

}  // namespace
