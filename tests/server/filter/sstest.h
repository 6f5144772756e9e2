// Helpers of the lexer runtime's tests: the text of a raised runtime error, and small table
// images built by hand (one state per record, rows of ranges, keyword tables) for the loaders'
// and the scanner's cases that the filter image does not reach.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "lib_base/types.h"
#include "server/filter/ssexception.h"

namespace sstest {

// The text of the SSException that op throws, or "(no error)".
template <class Op>
std::string ErrorText(Op op) {
    try {
        op();
    } catch (const SSException& e) {
        return e.what();
    }
    return "(no error)";
}

// Runs op, which must throw the runtime error with this id and text.
template <class Op>
void ExpectError(Op op, i32 id, const std::string& text) {
    try {
        op();
        ADD_FAILURE() << "no error, expected " << text;
    } catch (const SSException& e) {
        EXPECT_EQ(e.errorId(), id);
        EXPECT_EQ(std::string(e.what()), text);
    }
}

struct Range {
    u32 low;
    u32 high;
    u32 next;
};

struct State {
    i32 token = 0;
    u32 flags = 0;
    u32 list = 0;
    u32 keywordIndex = 0;
    u32 value = 0;
    std::vector<Range> ranges;
};

struct Keyword {
    std::string text;  // sorted by text within a table
    i32 token;
    bool caseInsensitive;
    u32 value;
};

inline void PutWord(std::vector<u8>& out, u32 word) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<u8>(word >> shift));
}

inline void SetWord(std::vector<u8>& image, size_t at, u32 word) {
    for (int i = 0; i < 4; ++i) image[at + i] = static_cast<u8>(word >> (8 * i));
}

inline u32 GetWord(const u8* at) {
    return u32(at[0]) | u32(at[1]) << 8 | u32(at[2]) << 16 | u32(at[3]) << 24;
}

// An expression list in the image layout: header, records, row table, rows.
inline std::vector<u8> ListImage(const std::vector<State>& states) {
    const u32 count = static_cast<u32>(states.size());
    const u32 rowTable = 88 + 28 * count;
    u32 size = rowTable + 4 * count;
    for (const State& s : states) size += 4 + 12 * static_cast<u32>(s.ranges.size());
    std::vector<u8> out;
    for (u32 word : {0x53534C58u, size, 0u, 0u, 0u, 0u, 0u, 0u, 0u, 0u, count, size, rowTable, 88u})
        PutWord(out, word);
    for (int i = 0; i < 8; ++i) PutWord(out, 0);
    for (const State& s : states) {
        for (u32 word : {u32(s.token), s.list, s.flags, s.keywordIndex, s.value, 0u, 0u})
            PutWord(out, word);
    }
    u32 row = rowTable + 4 * count;
    for (const State& s : states) {
        PutWord(out, row);
        row += 4 + 12 * static_cast<u32>(s.ranges.size());
    }
    for (const State& s : states) {
        PutWord(out, static_cast<u32>(s.ranges.size()));
        for (const Range& r : s.ranges) {
            for (u32 word : {r.low, r.high, r.next}) PutWord(out, word);
        }
    }
    return out;
}

// A keyword table: 40-byte header, 41-byte entries, then the texts.
inline std::vector<u8> KeywordImage(const std::vector<Keyword>& keywords) {
    const u32 count = static_cast<u32>(keywords.size());
    u32 textAt = 40 + 41 * count;
    u32 size = textAt;
    for (const Keyword& k : keywords) size += static_cast<u32>(k.text.size()) + 1;
    std::vector<u8> out;
    PutWord(out, size);
    PutWord(out, count);
    for (int i = 0; i < 8; ++i) PutWord(out, 0);
    for (const Keyword& k : keywords) {
        PutWord(out, static_cast<u32>(k.token));
        out.push_back(k.caseInsensitive ? 1 : 0);
        for (u32 word : {textAt, 0u, k.value, 0u, 0u, 0u, 0u, 0u, 0u}) PutWord(out, word);
        textAt += static_cast<u32>(k.text.size()) + 1;
    }
    for (const Keyword& k : keywords)
        out.insert(out.end(), k.text.c_str(), k.text.c_str() + k.text.size() + 1);
    return out;
}

// A whole image: header, lists, keyword tables.
inline std::vector<u8> Image(const std::vector<std::vector<State>>& lists,
                             const std::vector<std::vector<Keyword>>& keywordTables = {}) {
    std::vector<u8> out;
    for (u32 word :
         {u32(lists.size()), 0x53534C58u, u32(keywordTables.size()), 0u, 0u, 0u, 0u, 0u, 0u})
        PutWord(out, word);
    for (const auto& list : lists) {
        const std::vector<u8> bytes = ListImage(list);
        out.insert(out.end(), bytes.begin(), bytes.end());
    }
    for (const auto& table : keywordTables) {
        const std::vector<u8> bytes = KeywordImage(table);
        out.insert(out.end(), bytes.begin(), bytes.end());
    }
    return out;
}

}  // namespace sstest

namespace sstest {

// A row of a parse table image: action entries (action word, token), goto entries (target
// state, nonterminal) and, with kSSYaccRowError in flags, the error entry's word.
struct YaccRow {
    u32 flags = 0;
    std::vector<std::pair<u32, i32>> actions;
    std::vector<std::pair<u32, u32>> gotos;
    u32 errorWord = 0;
};

// A whole parse table image: header, row offsets, production table (length, left symbol),
// rows back to back, then the conflict lists (expression lists of the lexer table layout).
inline std::vector<u8> YaccImage(const std::vector<std::pair<u32, u32>>& productions,
                                 const std::vector<YaccRow>& rows,
                                 const std::vector<std::vector<State>>& conflictLists = {}) {
    const u32 states = static_cast<u32>(rows.size());
    const u32 productionTable = 20 + 4 * states;
    const u32 rowArea = productionTable + 8 * static_cast<u32>(productions.size());
    std::vector<u8> out;
    out.insert(out.end(), {'C', 'Y', 'S', 'S'});
    PutWord(out, static_cast<u32>(productions.size()) | u32(conflictLists.size()) << 16);
    PutWord(out, states);
    PutWord(out, rowArea);
    PutWord(out, productionTable);
    u32 at = rowArea;
    for (const YaccRow& row : rows) {
        PutWord(out, at);
        at += 12 + 8 * static_cast<u32>(row.actions.size() + row.gotos.size() +
                                        ((row.flags & 0x02) ? 1 : 0));
    }
    for (const auto& [length, left] : productions) {
        PutWord(out, length);
        PutWord(out, left);
    }
    for (const YaccRow& row : rows) {
        PutWord(out, row.flags);
        PutWord(out, static_cast<u32>(row.gotos.size()));
        PutWord(out, static_cast<u32>(row.actions.size()));
        for (const auto& [word, token] : row.actions) {
            PutWord(out, word);
            PutWord(out, static_cast<u32>(token));
        }
        for (const auto& [target, symbol] : row.gotos) {
            PutWord(out, target);
            PutWord(out, symbol);
        }
        if (row.flags & 0x02) {
            PutWord(out, row.errorWord);
            PutWord(out, 0);
        }
    }
    for (const auto& list : conflictLists) {
        const std::vector<u8> bytes = ListImage(list);
        out.insert(out.end(), bytes.begin(), bytes.end());
    }
    return out;
}

}  // namespace sstest
