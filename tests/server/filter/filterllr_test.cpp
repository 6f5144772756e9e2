// The generated parse table image of the filter language, read from its raw bytes: its figures,
// the production table against the grammar, state 0, and the grouping its settled conflicts fix.
#include "server/filter/filterllr.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tests/server/filter/sstest.h"

namespace {

using sstest::GetWord;

constexpr u32 kShift = 0x40000000, kReduce = 0x20000000, kAccept = 0x10000000;
constexpr u32 kStates = 76;
constexpr i32 kEof = -1;
// Tokens and nonterminals by their numbers in the table.
constexpr i32 kNullStr = 52, kEq = 55, kAnd = 61, kOr = 62, kNot = 63, kNonNull = 65, kDtos = 66,
              kSst = 67, kOpen = 68, kClose = 69, kFract = 74, kNumber = 75, kIdent = 76,
              kPlus = 77, kMinus = 79, kComma = 84, kString = 85;
constexpr i32 kExpr = 0x4001, kFilter = 0x4002, kRel = 0x4003, kRelop = 0x4004, kSum = 0x4005,
              kSign = 0x4006, kAddop = 0x4007, kTerm = 0x4008, kNonNullTerm = 0x400A,
              kDtosTerm = 0x400B, kSubstr = 0x400C, kCall = 0x400D, kCall0 = 0x400E, kArg = 0x4010;

struct Row {
    u32 flags = 0;
    std::vector<std::pair<u32, i32>> actions;  // action word, token
    std::vector<std::pair<u32, i32>> gotos;    // target state, nonterminal
    u32 end = 0;                               // offset of the byte behind the row
};

u32 Word(u32 offset) { return GetWord(kFilterLlrImage + offset); }

Row RowOf(u32 state) {
    Row row;
    u32 at = Word(20 + 4 * state);
    row.flags = Word(at);
    const u32 gotos = Word(at + 4), actions = Word(at + 8);
    at += 12;
    for (u32 i = 0; i < actions; ++i, at += 8) {
        row.actions.push_back({Word(at), static_cast<i32>(Word(at + 4))});
    }
    for (u32 i = 0; i < gotos; ++i, at += 8) row.gotos.push_back({Word(at), i32(Word(at + 4))});
    row.end = at;
    return row;
}

// The action of a row for a token; 0 (error) when the row has none.
u32 ActionOf(const Row& row, i32 token) {
    for (const auto& [word, t] : row.actions) {
        if (t == token) return word;
    }
    return 0;
}

// The state reached from state 0 over these symbols (shifts for tokens, gotos for nonterminals).
u32 Walk(const std::vector<i32>& symbols) {
    u32 state = 0;
    for (i32 symbol : symbols) {
        const Row row = RowOf(state);
        const auto& entries = symbol >= 0x4000 ? row.gotos : row.actions;
        bool found = false;
        for (const auto& [word, on] : entries) {
            if (on != symbol) continue;
            found = true;
            state = symbol >= 0x4000 ? word : word & ~kShift;
        }
        EXPECT_TRUE(found) << "state " << state << " has no move on " << symbol;
    }
    return state;
}

TEST(FilterLlr, ImageHasItsFigures) {
    ASSERT_EQ(kFilterLlrImageSize, 11028u);
    EXPECT_EQ(std::vector<u8>(kFilterLlrImage, kFilterLlrImage + 4),
              (std::vector<u8>{'C', 'Y', 'S', 'S'}));
    EXPECT_EQ(Word(4), 50u);  // 50 productions, no conflict lists
    ASSERT_EQ(Word(8), kStates);
    EXPECT_EQ(Word(12), 724u);
    EXPECT_EQ(Word(16), 324u);
    u32 shifts = 0, reduces = 0, gotos = 0, emptyRows = 0, end = 724;
    std::vector<std::pair<u32, i32>> accepts;
    for (u32 s = 0; s < kStates; ++s) {
        SCOPED_TRACE(s);
        ASSERT_EQ(Word(20 + 4 * s), end);  // rows lie back to back in state order
        const Row row = RowOf(s);
        EXPECT_EQ(row.flags, 0u);
        for (const auto& [word, token] : row.actions) {
            if (word & kShift) {
                ++shifts;
                EXPECT_LT(word & ~kShift, kStates);
            } else if (word & kReduce) {
                ++reduces;
                EXPECT_GE(word & ~kReduce, 1u);  // production 0 is never reduced
                EXPECT_LT(word & ~kReduce, 50u);
            } else {
                EXPECT_EQ(word, kAccept);
                accepts.push_back({s, token});
            }
        }
        for (const auto& entry : row.gotos) EXPECT_LT(entry.first, kStates);
        gotos += static_cast<u32>(row.gotos.size());
        emptyRows += row.actions.empty() && row.gotos.empty();
        end = row.end;
    }
    EXPECT_EQ(end, 11028u);
    EXPECT_EQ(shifts, 233u);
    EXPECT_EQ(reduces, 792u);
    EXPECT_EQ(gotos, 148u);
    EXPECT_EQ(emptyRows, 1u);  // "start: filter eof .", whose shift the accept replaced
    EXPECT_EQ(accepts, (std::vector<std::pair<u32, i32>>{{Walk({kFilter}), kEof}}));
}

TEST(FilterLlr, ProductionTableFollowsTheGrammar) {
    const struct {
        u32 production, length;
        i32 left;
    } cases[] = {{0, 2, 0},        {1, 1, kFilter}, {2, 3, kExpr},  {5, 3, kRel},
                 {7, 1, kRelop},   {24, 4, kSum},   {33, 1, kTerm}, {37, 5, kNonNullTerm},
                 {39, 6, kSubstr}, {45, 3, kCall0}, {49, 0, kArg}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.production);
        EXPECT_EQ(Word(324 + 8 * c.production), c.length);
        EXPECT_EQ(static_cast<i32>(Word(328 + 8 * c.production)), c.left);
    }
}

TEST(FilterLlr, StateZeroShiftsTheTokensThatStartAFilter) {
    const Row row = RowOf(0);
    std::set<i32> shifted, gone;
    for (const auto& [word, token] : row.actions) {
        EXPECT_EQ(word & 0xF8000000, kShift) << token;
        shifted.insert(token);
    }
    for (const auto& entry : row.gotos) gone.insert(entry.second);
    EXPECT_EQ(row.actions.size(), 12u);
    EXPECT_EQ(shifted, (std::set<i32>{kNullStr, kNot, kNonNull, kDtos, kSst, kOpen, kFract, kNumber,
                                      kIdent, kPlus, kMinus, kString}));
    EXPECT_EQ(row.gotos.size(), 11u);
    EXPECT_EQ(gone, (std::set<i32>{kExpr, kFilter, kRel, kSign, kSum, kTerm, kNonNullTerm,
                                   kDtosTerm, kSubstr, kCall, kCall0}));
}

// After each prefix the table shifts, reduces or refuses as the language groups.
TEST(FilterLlr, SettledConflictsFixTheGrouping) {
    const struct {
        const char* prefix;
        std::vector<i32> symbols;
        i32 token;
        u32 action;  // kShift for a shift to any state
    } cases[] = {
        {"expr *OR expr", {kExpr, kOr, kExpr}, kOr, kShift},
        {"expr *OR expr", {kExpr, kOr, kExpr}, kAnd, kShift},
        {"expr *OR expr", {kExpr, kOr, kExpr}, kEof, kReduce | 2},
        {"expr *AND expr", {kExpr, kAnd, kExpr}, kAnd, kShift},
        {"expr *AND expr", {kExpr, kAnd, kExpr}, kOr, kReduce | 3},
        {"rel relop rel", {kRel, kRelop, kRel}, kEq, kShift},
        {"rel relop rel", {kRel, kRelop, kRel}, kPlus, kShift},
        {"rel relop rel", {kRel, kRelop, kRel}, kAnd, kReduce | 5},
        {"*NOT rel", {kNot, kRel}, kEq, kReduce | 6},
        {"*NOT rel", {kNot, kRel}, kMinus, kReduce | 6},
        {"rel addop", {kRel, kAddop}, kMinus, 0},  // no sign after an additive operator
        {"identName", {kIdent}, kOpen, kShift},
        {"identName", {kIdent}, kEof, kReduce | 33},
        {"identName (", {kIdent, kOpen}, kClose, kShift},
        {"identName (", {kIdent, kOpen}, kComma, kReduce | 49},
        {"SST ( term", {kSst, kOpen, kTerm}, kIdent, kShift},  // operands without commas
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.prefix) + " on " + std::to_string(c.token));
        const u32 action = ActionOf(RowOf(Walk(c.symbols)), c.token);
        EXPECT_EQ(c.action == kShift ? action & 0xF8000000 : action, c.action)
            << std::hex << action;
    }
}

}  // namespace
