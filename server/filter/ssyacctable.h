// The LALR(1) parse table of the parser runtime, loaded from a table image: the rows of the states
// with their actions and gotos, the productions, and the conflict lists, small automata over
// token numbers that decide a conflict by reading further ahead.
#pragma once
#include <memory>
#include <vector>

#include "server/filter/sslextable.h"

// Tokens the parser knows besides the scanner's.
constexpr i32 kSSYaccEofToken = -1;
constexpr i32 kSSYaccErrorToken = -2;
// A nonterminal symbol is this plus its number.
constexpr u32 kSSYaccNonterminal = 0x4000;

// Action word: the highest of bits 30 to 27 that is set is the kind, the low 27 bits its argument;
// bit 31 marks a token that synchronises error recovery.
constexpr u32 kSSYaccSyncBit = 0x80000000;
constexpr u32 kSSYaccShiftBit = 0x40000000;
constexpr u32 kSSYaccReduceBit = 0x20000000;
constexpr u32 kSSYaccAcceptBit = 0x10000000;
constexpr u32 kSSYaccConflictBit = 0x08000000;
constexpr u32 kSSYaccArgumentMask = 0x07FFFFFF;

enum class SSYaccAction { kShift, kError, kReduce, kAccept, kConflict };

// Kind of an action word; a word without any of the kind bits is an error.
SSYaccAction ssYaccActionKind(u32 word);

// Flags of a row.
enum SSYaccRowFlag : u32 {
    kSSYaccRowSync = 0x01,     // entries whose action word has bit 31 set synchronise
    kSSYaccRowError = 0x02,    // the row ends in an error entry
    kSSYaccRowAllSync = 0x04,  // every token of the row synchronises
    kSSYaccRowEmpty = 0x08,    // the row has no entries (12 bytes)
};

// A conflict list's automaton reaches a final state whose record holds the decision: its token
// field is the state to shift to, or with this flag the production to reduce by.
constexpr u32 kSSYaccConflictReduce = 0x02;

// One entry of a row: the action word (or goto target) and the token (or nonterminal).
struct SSYaccEntry {
    u32 word;
    i32 symbol;
};

// Immutable once loaded; the loaders raise 0101e (file cannot be opened), 0111e (a read failure,
// or an image that does not fit its bytes), 0112e (counts too big) and 0115e (no such resource).
// Every offset, count and target of an image is checked at load, so no lookup reads outside it.
// When errors are stored instead of thrown, a refused image leaves a table of no states.
class SSYaccTable : public SSExceptionPresent {
public:
    // A copy of size bytes of image; label names it in messages ("filter.llr").
    SSYaccTable(const void* image, size_t size, const char* label);
    // The image in a file, read through the operating system's file calls.
    explicit SSYaccTable(const char* fileName);
    // The image in a file, read through buffered reading.
    struct Buffered {};
    SSYaccTable(Buffered, const char* fileName);
    // The embedded image of that name.
    struct FromResource {};
    SSYaccTable(FromResource, const char* resourceName);
    SSYaccTable(const SSYaccTable&) = delete;
    SSYaccTable& operator=(const SSYaccTable&) = delete;
    ~SSYaccTable() override;

    u32 stateCount() const { return states; }
    u32 productionCount() const { return productions; }
    u32 conflictCount() const { return static_cast<u32>(conflicts.size()); }

    // Flags of a state's row; 0 for a state beyond the table.
    u32 rowFlags(u32 state) const;
    // The action entries of a state's row (none for a state beyond the table).
    u32 actionCount(u32 state) const;
    SSYaccEntry actionEntry(u32 state, u32 index) const;
    // The action word of the first entry of the state's row for token; false when there is none,
    // which is an error action.
    bool action(u32 state, i32 token, u32& word) const;
    // The target state of the goto entry for the nonterminal symbol; false when there is none.
    bool gotoState(u32 state, u32 symbol, u32& target) const;
    // The action word of the row's error entry; false when the row has none.
    bool errorEntry(u32 state, u32& word) const;
    // The length and left-hand symbol of production n; false beyond the table.
    bool production(u32 n, u32& length, u32& leftSymbol) const;
    // The automaton of conflict list i, or null.
    const SSLexTable* conflictList(u32 i) const;

private:
    struct Source {
        const u8* data;
        size_t size;
        const char* label;
    };
    void LoadFile(const char* fileName, bool buffered);
    void Load(const Source& source);
    bool CheckRows(const Source& source, size_t& end);
    bool LoadConflicts(const Source& source, size_t at, u32 count);
    void Refuse(const char* label);
    const u8* Row(u32 state) const;

    std::unique_ptr<u8[]> image;
    size_t size = 0;
    u32 states = 0;
    u32 productions = 0;
    std::vector<std::unique_ptr<SSLexTable>> conflicts;
};
