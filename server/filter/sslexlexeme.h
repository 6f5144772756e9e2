// A token of the lexer runtime: its id, where it was found and a copy of its text, held in the
// same allocation as the lexeme.
#pragma once
#include "server/filter/ssref.h"

// Made by the lexer with a reference count of 0, so that the first SSRef to hold it owns it.
// Immutable but for its token and value, which keyword lookup may set. One thread only.
class SSLexLexeme : public SSRefCount {
public:
    struct Place {
        u32 line;
        u32 offset;        // column of the first character in its line, from 1
        u64 bufferOffset;  // offset of the first byte in the input
    };
    // A lexeme with a copy of length bytes of text followed by two NUL bytes; count 0.
    static SSLexLexeme* create(i32 token, const u8* text, size_t length, const Place& place,
                               bool wide);
    static void operator delete(void* block) { ::operator delete(block); }

    i32 token() const { return tokenId; }
    void setToken(i32 token) { tokenId = token; }
    u32 value() const { return valueWord; }
    void setValue(u32 value) { valueWord = value; }
    // The text, ending in two NUL bytes; 16-bit units, low byte first, when isWide().
    const char* asChar() const { return reinterpret_cast<const char*>(this + 1); }
    size_t length() const { return textLength; }  // in bytes
    bool isWide() const { return wide; }
    u32 line() const { return place.line; }
    u32 offset() const { return place.offset; }
    u64 bufferOffset() const { return place.bufferOffset; }

private:
    SSLexLexeme(i32 token, size_t length, const Place& place, bool wide)
        : tokenId(token), textLength(length), place(place), wide(wide) {}

    i32 tokenId;
    u32 valueWord = 0;
    size_t textLength;
    Place place;
    bool wide;
};
