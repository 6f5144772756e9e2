// Token and string lists: tTokList cuts a text into tString tokens at a set of separator
// characters; tStringList keeps owned copies of texts in order.
#pragma once
#include "lib_base/list.h"
#include "lib_base/stringz.h"
#include "lib_base/types.h"

// The tokens of a text in text order, each a heap tString owned by the list. A token is a
// longest run of characters outside the separators, so runs of separators and separators at
// either end give no empty tokens. Splitting keeps no state outside the call: any thread may
// build one, also in the middle of its own StrTok sequence. Not guarded: one thread per list.
class tTokList : public tList<tString> {
public:
    // A null text gives no tokens; null separators make the whole text one token.
    tTokList(const char* text, const char* separators);
};

// Owned copies of texts in a doubly linked list, in the order added. Not guarded: one thread
// per list.
class tStringList : private tBaseList<tString> {
public:
    tStringList() = default;
    tStringList(const tStringList& other);
    tStringList& operator=(const tStringList& other);
    ~tStringList() override = default;

    bool Add(const char* text);  // appends a copy at the tail; false, adding nothing, for null
    bool Clear();                // frees every text; true
    using tBaseList<tString>::Count;
    const char* Get(i32 index) const;  // null when index is out of range
    bool Remove(i32 index);            // false when there is no such index
    // The first stored text that contains part; position (may be null) receives the index at
    // which part starts in it. Null when no text contains part or part is null.
    const char* FindPart(const char* part, i32* position) const;
    bool Contains(const char* text) const;  // byte for byte; false for null

private:
    void AddAll(const tStringList& other);
    tRefNode<tString>* NodeAt(i32 index) const;
};
