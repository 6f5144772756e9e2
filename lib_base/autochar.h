// AutoChar: the bounded character buffer used wherever code needs a scratch text of a known
// size. Guard words before and after the characters catch overruns; every operation that would
// overrun raises an assertion and writes nothing. The buffer never grows by itself.
#pragma once
#include <cstddef>

#include "lib_base/types.h"

// Owned by one thread. The source file text is not copied: pass __FILE__.
// Block layout: guard word, size characters, guard word (both guards 0xFDFD).
class AutoChar {
public:
    AutoChar(i64 size, const char* file, u32 line);
    AutoChar(const char* file, u32 line);  // no block until SetSize
    // Raises "AutoChar overrun (Clear)" after freeing a damaged block; while another exception
    // unwinds it prints the report instead.
    virtual ~AutoChar() noexcept(false);
    AutoChar(const AutoChar&) = delete;
    AutoChar& operator=(const AutoChar&) = delete;

    void SetSize(i64 size);  // keeps the characters up to the smaller size; zeroes the rest
    void SetLocation(const char* file, u32 line);
    u32 GetSize() const { return size; }
    char* GetText() { return chars; }  // null before the first SetSize
    const char* GetText() const { return chars; }
    char* GetBuffer() { return chars; }  // the same characters, to be written
    char& operator[](i64 index);

    void Fill(char c, i64 count);
    char* FillText(char c, i64 count);
    void SetBytes(const void* src, i64 count);
    char* CopyBytes(const void* src, i64 count);
    char* Copy(const char* text);  // with its NUL
    void Cat(const char* text);
    char* CatText(const char* text);
    AutoChar& operator+=(const char* text);       // a null text is ignored
    AutoChar& operator+=(const AutoChar& other);  // other's text, when it has a block
    void AppendChar(char c);

private:
    [[noreturn]] void Raise(const char* text) const;
    bool GuardsIntact() const;
    void CheckCount(i64 count, const char* text) const;

    char* block = nullptr;  // guard, characters, guard; null when there is none
    char* chars = nullptr;  // block + 4
    const char* file;
    u32 line;
    u32 size = 0;
};
