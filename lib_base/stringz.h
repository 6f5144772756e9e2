// tString: the owned, reference-counted, copy-on-write string of 8-bit characters of both
// deliverables, and the free string functions of the base library.
#pragma once
#include <cstddef>

#include "lib_base/gmlalloc.h"
#include "lib_base/types.h"

// Copies share one buffer record; every change first makes the record private. Capacities are
// multiples of 16 and grow to what a change needs, up to kMaxCapacity ("String size overflow!").
// Reference counts are plain integers: a string and its copies are used by one thread at a
// time. Empty strings without storage point at one static record that is never written.
class tString {
public:
    static constexpr u32 kMaxCapacity = 1049600;

    tString();
    tString(const char* text);  // NOLINT(runtime/explicit): texts convert to strings freely
    // With a text: its first size - 1 characters (all of it when shorter); a size below 1 gives
    // the empty string. Without a text: an empty string with room for size bytes.
    tString(const char* text, i32 size);
    // size - 1 copies of fill (empty when fill is 0); a size below 1 gives the empty string.
    tString(i32 size, char fill);
    tString(const tString& other);
    virtual ~tString();

    tString& operator=(const tString& other);
    tString& operator=(const char* text);
    void Assign(const char* text);
    void Clear();

    i32 GetLength() const { return rec->length; }
    u32 GetCapacity() const { return rec->capacity; }
    const char* GetText() const { return rec->chars; }
    operator const char*() const { return rec->chars; }
    char At(i32 index) const;  // reading
    char& At(i32 index);       // writing: the record is made private first
    // The characters, writable for size bytes (size counts the NUL); follow with ReleaseBuffer.
    char* GetBuffer(i32 size);

    bool operator==(const char* text) const;
    bool operator!=(const char* text) const;
    bool operator!=(const tString& other) const;

    void Append(const char* text, i32 count = 0);  // count 0: the whole text
    void Cat(const char* text, i32 count = 0) { Append(text, count); }
    void AppendString(const tString& other);
    tString& operator+=(const char* text);
    tString& operator+=(const tString& other);
    tString& operator+=(char c);
    void Insert(i32 pos, const char* text, i32 count = 0);
    void InsertString(i32 pos, const tString& other);
    void Delete(i32 pos, i32 count = 0);  // count 0: to the end
    void Overwrite(i32 pos, const char* text, i32 count = 0);
    void Fill(char c, i32 count = 0);  // count 0: capacity - 1
    void PadRight(char c, i32 count);
    void ReplaceChar(char from, char to);
    void Upper();
    void Lower();
    void TrimRight();
    void TrimLeft();
    void Trim();
    u32 Reserve(i32 size);
    void ReleaseBuffer(i32 length);
    void UpdateLength();

    i32 Find(const char* text, i32 start = 0) const;
    i32 FindChar(char c, i32 start = 0) const;
    i32 ReverseFind(char c) const;
    tString Copy(i32 pos) const;
    tString Copy(i32 pos, i32 length) const;
    void GetSubStr(const tString& other, i32 pos, i32 length);

    // printf-style; at most 10238 characters, more raises "Insufficient Buffer on
    // tString::sprintf()".
    void sprintf(const char* format, ...) __attribute__((format(printf, 2, 3)));

    GML_CLASS_ALLOCATOR(tString, Mem_StringInstance)

private:
    struct tRecord {
        u32 capacity;  // character bytes, the NUL included
        i32 length;
        i32 refs;
        char chars[1];  // capacity bytes in a heap record
    };

    static tRecord emptyRecord;

    static tRecord* NewRecord(u32 capacity);
    static void CheckCapacity(u32 capacity);
    bool IsEmptyRecord() const;
    void Release();
    void MakeWritable(i64 size);  // size counts the NUL; wide, so that no sum wraps
    bool PointsInside(const char* text) const;
    void SetLength(i32 length);

    tRecord* rec;
};

tString IntToString(i32 n);
tString UIntToStr(u32 n);
// Difference of the first pair of differing bytes (unsigned), or of the terminating NULs.
int CompareText(const char* a, const char* b);
// strtok with the tokenising state kept per thread; the state argument is not used.
char* StrTok(char* text, const char* delimiters, char** state = nullptr);
