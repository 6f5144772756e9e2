// Guarded buffer blocks and their bounded operations.
#include "lib_base/autochar.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "lib_base/gmlalloc.h"
#include "lib_base/gmlassert.h"
#include "lib_base/printer.h"

namespace {

constexpr u32 kGuard = 0xFDFD;
constexpr size_t kGuardSize = sizeof(u32);

u32 ReadGuard(const char* at) {
    u32 word;
    std::memcpy(&word, at, sizeof word);
    return word;
}

char* NewBlock(u32 size, const char* file, u32 line) {
    char* block =
        static_cast<char*>(_gmlalloc(size + 2 * kGuardSize, Mem_AutoCharBuffer, file, line));
    std::memcpy(block, &kGuard, kGuardSize);
    std::memcpy(block + kGuardSize + size, &kGuard, kGuardSize);
    return block;
}

}  // namespace

AutoChar::AutoChar(i64 size, const char* file, u32 line) : file(file), line(line) { SetSize(size); }

AutoChar::AutoChar(const char* file, u32 line) : file(file), line(line) {}

AutoChar::~AutoChar() noexcept(false) {
    if (!block) return;
    const bool intact = GuardsIntact();
    _gmlfree(block, file, line);
    if (intact) return;
    if (std::uncaught_exceptions() > 0) {
        // Throwing now would terminate the process: report only.
        BasePrintf("[ERROR] DoAssert call from [%s] line [%i] extra [%s] log [%i]\n", file,
                   static_cast<int>(line), "AutoChar overrun (Clear)", 0);
        return;
    }
    Raise("AutoChar overrun (Clear)");
}

void AutoChar::Raise(const char* text) const { throw new tAssertException(file, line, text, 0); }

bool AutoChar::GuardsIntact() const {
    return ReadGuard(block) == kGuard && ReadGuard(chars + size) == kGuard;
}

void AutoChar::CheckCount(i64 count, const char* text) const {
    if (count <= 0 || count > static_cast<i64>(size)) Raise(text);
}

void AutoChar::SetSize(i64 newSize) {
    if (newSize < 1 || newSize > static_cast<i64>(UINT32_MAX - 2 * kGuardSize)) {
        Raise("invalid AutoChar size");
    }
    if (block && !GuardsIntact()) {
        _gmlfree(block, file, line);
        block = chars = nullptr;
        size = 0;
        Raise("AutoChar overrun (setSize)");
    }
    const u32 n = static_cast<u32>(newSize);
    char* fresh = NewBlock(n, file, line);
    if (block) {
        std::memcpy(fresh + kGuardSize, chars, n < size ? n : size);
        _gmlfree(block, file, line);
    }
    block = fresh;
    chars = fresh + kGuardSize;
    size = n;
}

void AutoChar::SetLocation(const char* newFile, u32 newLine) {
    file = newFile;
    line = newLine;
    if (block && !GuardsIntact()) Raise("AutoChar overrun (Check)");
}

char& AutoChar::operator[](i64 index) {
    if (index < 0 || index >= static_cast<i64>(size)) Raise("AutoChar operator[]");
    return chars[index];
}

void AutoChar::Fill(char c, i64 count) {
    CheckCount(count, "AutoChar memset");
    std::memset(chars, c, static_cast<size_t>(count));
}

char* AutoChar::FillText(char c, i64 count) {
    Fill(c, count);
    return chars;
}

void AutoChar::SetBytes(const void* src, i64 count) {
    CheckCount(count, "AutoChar memcpy");
    std::memmove(chars, src, static_cast<size_t>(count));
}

char* AutoChar::CopyBytes(const void* src, i64 count) {
    SetBytes(src, count);
    return chars;
}

char* AutoChar::Copy(const char* text) {
    if (!text) DoAssert(__FILE__, __LINE__, nullptr, 0);
    SetBytes(text, static_cast<i64>(std::strlen(text)) + 1);
    return chars;
}

void AutoChar::Cat(const char* text) {
    if (!text) DoAssert(__FILE__, __LINE__, nullptr, 0);
    const size_t have = chars ? strnlen(chars, size) : 0;
    const size_t add = std::strlen(text);
    if (have + add + 1 > size) Raise("AutoChar strcat");
    std::memcpy(chars + have, text, add + 1);
}

char* AutoChar::CatText(const char* text) {
    Cat(text);
    return chars;
}

AutoChar& AutoChar::operator+=(const char* text) {
    if (text) Cat(text);
    return *this;
}

// The other's text ends at its first NUL or at its size, whichever comes first.
AutoChar& AutoChar::operator+=(const AutoChar& other) {
    if (!other.chars) return *this;
    const std::string text(other.chars, strnlen(other.chars, other.size));
    Cat(text.c_str());
    return *this;
}

void AutoChar::AppendChar(char c) {
    const char text[2] = {c, 0};
    Cat(text);
}
