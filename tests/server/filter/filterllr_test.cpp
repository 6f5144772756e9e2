// The generated parse table image of the filter language, read from its raw bytes: its figures,
// the production table against the grammar, and state 0.
#include "server/filter/filterllr.h"

#include <gtest/gtest.h>

#include <set>
#include <utility>
#include <vector>

#include "tests/server/filter/sstest.h"

namespace {

using sstest::GetWord;

constexpr u32 kShift = 0x40000000, kReduce = 0x20000000, kAccept = 0x10000000;
constexpr u32 kStates = 76;
constexpr i32 kEof = -1;
// Tokens and nonterminals by their numbers in the table.
constexpr i32 kNullStr = 52, kNot = 63, kNonNull = 65, kDtos = 66, kSst = 67, kOpen = 68,
              kFract = 74, kNumber = 75, kIdent = 76, kPlus = 77, kMinus = 79, kString = 85;
constexpr i32 kExpr = 0x4001, kFilter = 0x4002, kRel = 0x4003, kRelop = 0x4004, kSum = 0x4005,
              kSign = 0x4006, kTerm = 0x4008, kNonNullTerm = 0x400A, kDtosTerm = 0x400B,
              kSubstr = 0x400C, kCall = 0x400D, kCall0 = 0x400E, kArg = 0x4010;

struct Row {
    u32 flags = 0;
    std::vector<std::pair<u32, i32>> actions;  // action word, token
    std::vector<std::pair<u32, i32>> gotos;    // target state, nonterminal
    u32 end = 0;                               // offset of the byte behind the row
};

u32 Word(u32 offset) { return GetWord(kFilterLlrImage + offset); }

// A state's row; one that would reach past the image comes back empty, ending at 0.
Row RowOf(u32 state) {
    Row row;
    u32 at = Word(20 + 4 * state);
    if (u64{at} + 12 > kFilterLlrImageSize) return row;
    row.flags = Word(at);
    const u32 gotos = Word(at + 4), actions = Word(at + 8);
    if (u64{at} + 12 + 8 * (u64{gotos} + actions) > kFilterLlrImageSize) return row;
    at += 12;
    for (u32 i = 0; i < actions; ++i, at += 8) {
        row.actions.push_back({Word(at), static_cast<i32>(Word(at + 4))});
    }
    for (u32 i = 0; i < gotos; ++i, at += 8) row.gotos.push_back({Word(at), i32(Word(at + 4))});
    row.end = at;
    return row;
}

// The goto of a row for a nonterminal, or kStates.
u32 GotoOf(const Row& row, i32 nonterminal) {
    for (const auto& [target, on] : row.gotos) {
        if (on == nonterminal) return target;
    }
    return kStates;
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
    EXPECT_EQ(accepts, (std::vector<std::pair<u32, i32>>{{GotoOf(RowOf(0), kFilter), kEof}}));
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

}  // namespace
