// Copy-on-write string records: sharing, making private, growth in steps of 16 bytes.
#include "lib_base/stringz.h"

#include <cctype>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "lib_base/autochar.h"
#include "lib_base/gmlassert.h"

// String records:
//  (1) rec is never null; the shared empty record has capacity 1, length 0, text "", and its
//      reference count is never changed, so it is never written or freed.
//  (2) 0 <= length < capacity and chars[length] == 0 in every record.
//  (3) A record with refs >= 2 is never written: changes first call MakeWritable.

namespace {

constexpr i32 kSprintfBuffer = 10240;

u64 RoundUp16(i64 size) {
    const u64 n = size < 1 ? 1 : static_cast<u64>(size);
    return (n + 15) / 16 * 16;
}

// Capacity for a text of the given length: the next multiple of 16 strictly above it.
u64 CapacityForText(size_t length) { return (length / 16 + 1) * 16; }

// The first count bytes of text (0: all of it), never past its NUL.
i32 CountOf(const char* text, i32 count) {
    return static_cast<i32>(count == 0 ? std::strlen(text)
                                       : strnlen(text, static_cast<size_t>(count)));
}

}  // namespace

tString::tRecord tString::emptyRecord = {1, 0, 1, {0}};

tString::tRecord* tString::NewRecord(u32 capacity) {
    auto* r = static_cast<tRecord*>(
        _gmlalloc(offsetof(tRecord, chars) + capacity, Mem_StringBuffer, __FILE__, __LINE__));
    r->capacity = capacity;
    r->length = 0;
    r->refs = 1;
    return r;
}

void tString::CheckCapacity(u32 capacity) {
    if (capacity > kMaxCapacity) DoAssert(__FILE__, __LINE__, "String size overflow!", 0);
}

bool tString::IsEmptyRecord() const { return rec == &emptyRecord; }

void tString::Release() {
    if (!IsEmptyRecord() && --rec->refs == 0) _gmlfree(rec, __FILE__, __LINE__);
    rec = &emptyRecord;
}

void tString::MakeWritable(i64 size) {
    const u64 want64 = RoundUp16(size);
    const u32 want = want64 > UINT32_MAX ? UINT32_MAX : static_cast<u32>(want64);
    if (IsEmptyRecord()) {
        CheckCapacity(want);
        rec = NewRecord(want);
        return;
    }
    if (rec->refs >= 2) {
        CheckCapacity(want);
        tRecord* fresh = NewRecord(want);
        const i32 keep = rec->length < static_cast<i64>(want) - 1 ? rec->length : want - 1;
        std::memcpy(fresh->chars, rec->chars, static_cast<size_t>(keep));
        fresh->length = keep;
        --rec->refs;
        rec = fresh;
        return;
    }
    if (static_cast<i64>(rec->capacity) < size) {
        CheckCapacity(want);
        tRecord* fresh = NewRecord(want);
        std::memcpy(fresh->chars, rec->chars, static_cast<size_t>(rec->length) + 1);
        fresh->length = rec->length;
        _gmlfree(rec, __FILE__, __LINE__);
        rec = fresh;
    }
}

bool tString::PointsInside(const char* text) const {
    return text >= rec->chars && text < rec->chars + rec->capacity;
}

void tString::SetLength(i32 length) {
    rec->length = length;
    rec->chars[length] = 0;
}

tString::tString() : rec(&emptyRecord) {}

tString::tString(const char* text) : tString() {
    if (!text) return;
    const size_t length = std::strlen(text);
    rec = NewRecord(static_cast<u32>(CapacityForText(length)));
    std::memcpy(rec->chars, text, length);
    SetLength(static_cast<i32>(length));
}

tString::tString(const char* text, i32 size) : tString() {
    if (size < 1) return;
    if (!text) {
        rec = NewRecord(static_cast<u32>(RoundUp16(size)));
        return;
    }
    const size_t length = std::strlen(text);
    const size_t take = static_cast<size_t>(size) > length ? length : static_cast<size_t>(size) - 1;
    rec = NewRecord(static_cast<u32>(CapacityForText(length)));
    std::memcpy(rec->chars, text, take);
    SetLength(static_cast<i32>(take));
}

tString::tString(i32 size, char fill) : tString() {
    if (size < 1) return;
    rec = NewRecord(static_cast<u32>((static_cast<u64>(size) + 1) / 16 + 1) * 16);
    if (fill) {
        std::memset(rec->chars, fill, static_cast<size_t>(size) - 1);
        SetLength(size - 1);
    }
}

tString::tString(const tString& other) : rec(other.rec) {
    if (!IsEmptyRecord()) ++rec->refs;
}

tString::~tString() { Release(); }

tString& tString::operator=(const tString& other) {
    if (this == &other || rec == other.rec) return *this;
    Release();
    rec = other.rec;
    if (!IsEmptyRecord()) ++rec->refs;
    return *this;
}

tString& tString::operator=(const char* text) {
    Assign(text);
    return *this;
}

void tString::Assign(const char* text) {
    if (!text || !*text) {
        Release();
        return;
    }
    const size_t length = std::strlen(text);
    // A text inside our own record stays valid: MakeWritable only grows or unshares it, and
    // neither frees a record that holds the text (a shared one keeps its other owners).
    MakeWritable(static_cast<i64>(length) + 1);
    std::memmove(rec->chars, text, length);
    SetLength(static_cast<i32>(length));
}

void tString::Clear() { Release(); }

char tString::At(i32 index) const {
    if (index < 0 || index >= rec->length) {
        DoAssert(__FILE__, __LINE__, "string index out of bounds", 0);
    }
    return rec->chars[index];
}

char& tString::At(i32 index) {
    if (index < 0 || index >= rec->length) {
        DoAssert(__FILE__, __LINE__, "string index out of bounds", 0);
    }
    MakeWritable(rec->length + 1);
    return rec->chars[index];
}

char* tString::GetBuffer(i32 size) {
    MakeWritable(size);
    return rec->chars;
}

bool tString::operator==(const char* text) const { return CompareText(rec->chars, text) == 0; }
bool tString::operator!=(const char* text) const { return CompareText(rec->chars, text) != 0; }
bool tString::operator!=(const tString& other) const {
    return CompareText(rec->chars, other.rec->chars) != 0;
}

void tString::Append(const char* text, i32 count) { Insert(rec->length, text, count); }

void tString::AppendString(const tString& other) {
    Insert(rec->length, other.rec->chars, other.rec->length);
}

tString& tString::operator+=(const char* text) {
    Append(text);
    return *this;
}

tString& tString::operator+=(const tString& other) {
    AppendString(other);
    return *this;
}

tString& tString::operator+=(char c) {
    const i32 length = rec->length;
    if (IsEmptyRecord() || rec->refs >= 2 || static_cast<i64>(rec->capacity) < length + 2) {
        MakeWritable(length + 2);
    }
    rec->chars[length] = c;
    SetLength(length + 1);
    return *this;
}

void tString::Insert(i32 pos, const char* text, i32 count) {
    if (!text || count < 0 || pos < 0 || pos > rec->length) return;
    const i32 n = CountOf(text, count);
    if (n < 1) return;
    if (PointsInside(text)) {
        const tString copy(text, n + 1);  // growing may free the record that holds the text
        Insert(pos, copy.GetText(), n);
        return;
    }
    const i32 length = rec->length;
    MakeWritable(i64{length} + n + 1);
    std::memmove(rec->chars + pos + n, rec->chars + pos, static_cast<size_t>(length - pos) + 1);
    std::memcpy(rec->chars + pos, text, static_cast<size_t>(n));
    rec->length = length + n;
}

void tString::InsertString(i32 pos, const tString& other) {
    Insert(pos, other.rec->chars, other.rec->length);
}

void tString::Delete(i32 pos, i32 count) {
    const i32 length = rec->length;
    if (pos < 0 || pos > length || count < 0) return;
    if (count == 0) count = length - pos;
    if (count < 1) return;
    MakeWritable(length + 1);
    if (count >= length - pos) {
        SetLength(pos);
        return;
    }
    std::memmove(rec->chars + pos, rec->chars + pos + count,
                 static_cast<size_t>(length - pos - count) + 1);
    rec->length = length - count;
}

void tString::Overwrite(i32 pos, const char* text, i32 count) {
    if (!text || count < 0 || pos < 0 || pos >= static_cast<i64>(rec->capacity)) return;
    i32 n = CountOf(text, count);
    if (n < 1) return;
    // Unsharing keeps the capacity, so the position stays inside it.
    MakeWritable(static_cast<i32>(rec->capacity));
    const i32 room = static_cast<i32>(rec->capacity) - 1 - pos;
    if (n > room) n = room;
    if (n < 1) return;
    std::memmove(rec->chars + pos, text, static_cast<size_t>(n));
    rec->chars[rec->length] = 0;  // the length does not change, nor does its NUL
}

void tString::Fill(char c, i32 count) {
    const i32 n = count == 0 ? static_cast<i32>(rec->capacity) - 1 : count;
    if (n < 1 || n >= static_cast<i64>(rec->capacity)) return;
    MakeWritable(n + 1);
    std::memset(rec->chars, c, static_cast<size_t>(n));
    SetLength(c ? n : 0);
}

void tString::PadRight(char c, i32 count) {
    if (count <= 0) return;
    const i32 length = rec->length;
    const i64 free = static_cast<i64>(rec->capacity) - length;
    MakeWritable(free <= count ? i64{rec->capacity} + count : i64{length} + count + 1);
    std::memset(rec->chars + length, c, static_cast<size_t>(count));
    SetLength(length + count);
}

void tString::ReplaceChar(char from, char to) {
    if (!std::memchr(rec->chars, from, static_cast<size_t>(rec->length))) return;
    MakeWritable(rec->length + 1);
    for (i32 i = 0; i < rec->length; ++i) {
        if (rec->chars[i] == from) rec->chars[i] = to;
    }
}

void tString::Upper() {
    if (rec->length == 0) return;
    MakeWritable(rec->length + 1);
    for (i32 i = 0; i < rec->length; ++i) {
        rec->chars[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(rec->chars[i])));
    }
}

void tString::Lower() {
    if (rec->length == 0) return;
    MakeWritable(rec->length + 1);
    for (i32 i = 0; i < rec->length; ++i) {
        rec->chars[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(rec->chars[i])));
    }
}

void tString::TrimRight() {
    i32 end = rec->length;
    while (end > 0 && rec->chars[end - 1] == ' ') --end;
    if (end == rec->length) return;
    MakeWritable(rec->length + 1);
    SetLength(end);
}

void tString::TrimLeft() {
    i32 lead = 0;
    while (lead < rec->length && rec->chars[lead] == ' ') ++lead;
    if (lead > 0) Delete(0, lead);
}

void tString::Trim() {
    TrimRight();
    TrimLeft();
}

u32 tString::Reserve(i32 size) {
    MakeWritable(size);
    return rec->capacity;
}

void tString::ReleaseBuffer(i32 length) {
    if (length < 0) length = 0;
    MakeWritable(i64{length} + 1);
    SetLength(length);
}

void tString::UpdateLength() {
    if (IsEmptyRecord()) return;
    ReleaseBuffer(static_cast<i32>(strnlen(rec->chars, rec->capacity - 1)));
}

i32 tString::Find(const char* text, i32 start) const {
    if (!text || start < 0 || start >= rec->length) return -1;
    const char* at = std::strstr(rec->chars + start, text);
    return at ? static_cast<i32>(at - rec->chars) : -1;
}

i32 tString::FindChar(char c, i32 start) const {
    if (start < 0 || start > rec->length) return -1;
    const void* at = std::memchr(rec->chars + start, c, static_cast<size_t>(rec->length - start));
    return at ? static_cast<i32>(static_cast<const char*>(at) - rec->chars) : -1;
}

i32 tString::ReverseFind(char c) const {
    const void* at = memrchr(rec->chars, c, static_cast<size_t>(rec->length));
    return at ? static_cast<i32>(static_cast<const char*>(at) - rec->chars) : -1;
}

tString tString::Copy(i32 pos) const {
    if (pos < 0) DoAssert(__FILE__, __LINE__, "invalid apos on tString::Copy()", 0);
    if (pos > rec->length) DoAssert(__FILE__, __LINE__, "invalid nb on tString::Copy()", 0);
    return tString(rec->chars + pos);
}

tString tString::Copy(i32 pos, i32 length) const {
    if (pos < 0) DoAssert(__FILE__, __LINE__, "invalid apos on tString::Copy()", 0);
    const i64 n =
        length < static_cast<i64>(rec->length) - pos ? length : static_cast<i64>(rec->length) - pos;
    if (n < 0) DoAssert(__FILE__, __LINE__, "invalid len on tString::Copy()", 0);
    return tString(rec->chars + pos, static_cast<i32>(n) + 1);
}

void tString::GetSubStr(const tString& other, i32 pos, i32 length) {
    if (pos < 0) DoAssert(__FILE__, __LINE__, "invalid pos on tString::GetSubStr()", 0);
    const i64 room = static_cast<i64>(other.rec->length) - pos;
    const i64 n = length < room ? length : room;
    if (n < 0) DoAssert(__FILE__, __LINE__, "invalid len on tString::GetSubStr()", 0);
    *this = n == 0 ? tString() : tString(other.rec->chars + pos, static_cast<i32>(n) + 1);
}

void tString::sprintf(const char* format, ...) {
    AutoChar work(kSprintfBuffer, __FILE__, __LINE__);
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int count = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    if (count < 0 || count + 1 >= kSprintfBuffer) {
        va_end(again);
        DoAssert(__FILE__, __LINE__, "Insufficient Buffer on tString::sprintf()", 0);
    }
    std::vsnprintf(work.GetText(), kSprintfBuffer, format, again);
    va_end(again);
    Assign(work.GetText());
}

tString IntToString(i32 n) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", n);
    return tString(text);
}

tString UIntToStr(u32 n) {
    char text[16];
    std::snprintf(text, sizeof text, "%u", n);
    return tString(text);
}

int CompareText(const char* a, const char* b) {
    const auto* x = reinterpret_cast<const unsigned char*>(a ? a : "");
    const auto* y = reinterpret_cast<const unsigned char*>(b ? b : "");
    while (*x && *x == *y) {
        ++x;
        ++y;
    }
    return static_cast<int>(*x) - static_cast<int>(*y);
}

char* StrTok(char* text, const char* delimiters, char**) {
    thread_local char* state = nullptr;
    return strtok_r(text, delimiters, &state);
}
