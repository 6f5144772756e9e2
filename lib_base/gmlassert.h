// Assertions: a failed check of our own invariants is reported and thrown as a tAssertException
// (by pointer; the catcher deletes it) that unwinds to the top of the connection that hit it.
#pragma once
#include <cstddef>

#include "lib_base/types.h"

// What a failed assertion carries to the handler at a connection's top. Texts are owned copies.
// Should memory be exhausted, the object and its texts come from a reserve kept per thread, so
// that reporting an allocation failure never needs the heap.
class tAssertException {
public:
    tAssertException(const char* file, u32 line, const char* extra, u8 log);
    virtual ~tAssertException();
    tAssertException(const tAssertException&) = delete;
    tAssertException& operator=(const tAssertException&) = delete;

    const char* GetFile() const { return file; }
    const char* GetExtra() const { return extra; }  // null when the check gave no text
    u32 GetLine() const { return line; }
    u8 GetLog() const { return log; }

    static void* operator new(size_t size);
    static void operator delete(void* block);

private:
    char* file;
    char* extra;
    u32 line;
    u8 log;
    bool ownsTexts;
};

// Prints "[ERROR] DoAssert call from [...]" through the console printer and throws.
[[noreturn]] void DoAssert(const char* file, int line, const char* extra, u8 log);

// Checks one of our own invariants, in every build. Never use it on input.
#define GML_ASSERT(cond, extra)                              \
    do {                                                     \
        if (!(cond)) DoAssert(__FILE__, __LINE__, extra, 0); \
    } while (0)
