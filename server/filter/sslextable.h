// The scanner automaton of the lexer runtime, loaded from a table image: expression lists of
// states with their records and rows of character ranges, keyword tables, character classes.
// Every count, size and offset of an image is checked against its bytes when it is loaded, so
// no lookup reads outside the table.
#pragma once
#include <memory>
#include <vector>

#include "server/filter/ssexception.h"

// Flags of a state record.
enum SSLexStateFlag : u32 {
    kSSLexContextMark = 0x01,
    kSSLexPop = 0x08,
    kSSLexAccept = 0x10,
    kSSLexPush = 0x20,
    kSSLexIgnore = 0x40,
    kSSLexGiveBack = 0x80,
    kSSLexKeyword = 0x200,
    kSSLexValue = 0x400,
};

constexpr u32 kSSLexTag = 0x53534C58;  // the bytes "XLSS"

struct SSLexStateRecord {
    i32 token = 0;  // 0 when the state accepts nothing
    u32 list = 0;   // the list entered by a push, or a pop and push
    u32 flags = 0;
    u32 keywordIndex = 0;
    u32 value = 0;
};

struct SSLexKeyword {
    i32 token;
    bool caseInsensitive;
    const char* text;  // NUL-terminated, inside the table
    u32 value;
    const u8* text16;  // 16-bit units, low byte first, ending in a 0 unit, inside the table;
                       // null when the entry has none
};

// One keyword table, entries sorted by their byte text.
struct SSLexKeywordTable {
    std::unique_ptr<u8[]> bytes;
    std::vector<SSLexKeyword> entries;
};

// An expression list: its image bytes, checked when loaded.
struct SSLexList {
    std::unique_ptr<u8[]> bytes;
    u32 size = 0;
    u32 states = 0;
    u32 rowTable = 0;
    u32 records = 0;
};

// Immutable once built, so any number of lexers may share one table; the loaders raise
// 0101e/0102e (file), 0104e (an image that does not fit its bytes), 0108e (resource) and 0109e
// (keyword tables cut short). When errors are stored instead of thrown, a refused image leaves
// a table without lists.
class SSLexTable : public SSExceptionPresent {
public:
    // A copy of size bytes of image; label names it in messages ("filter.dfa").
    SSLexTable(const void* image, size_t size, const char* label);
    // The image in a file.
    explicit SSLexTable(const char* fileName);
    // The embedded image of that name.
    struct FromResource {};
    SSLexTable(FromResource, const char* resourceName);
    SSLexTable(const SSLexTable&) = delete;
    SSLexTable& operator=(const SSLexTable&) = delete;

    // The next state from state on character, or -1 when the row has no range holding it
    // (also for a list or state beyond the table).
    i32 transition(u32 list, u32 state, u32 character) const;
    // The record of a state; a list or state beyond the table gives an empty record.
    SSLexStateRecord stateRecord(u32 list, u32 state) const;
    u32 listCount() const { return static_cast<u32>(lists.size()); }
    // The list at index, or null with "SSLex0106e: Invalid expression list index, %ld".
    const SSLexList* list(u32 index);
    u32 keywordTableCount() const { return static_cast<u32>(keywordTables.size()); }
    const SSLexKeywordTable* keywordTable(u32 index) const;

private:
    struct Class {
        u32 low;
        u32 high;
        u32 character;
    };
    struct Source;
    void Load(const Source& source);
    bool LoadLists(const Source& source, size_t& at);
    bool LoadKeywordTables(const Source& source, size_t& at);
    bool LoadClasses(const Source& source, size_t at);
    bool Refuse(const Source& source, i32 id);
    u32 MapCharacter(u32 character) const;

    std::vector<SSLexList> lists;
    std::vector<SSLexKeywordTable> keywordTables;
    std::vector<Class> classes;
    u32 lowestClassChar = 0xFFFFFFFF;  // -1 and 0 while there are no classes
    u32 highestClassChar = 0;
};
