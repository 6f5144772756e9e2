// The assertion report and the exception object, with a per-thread reserve for the case where
// the failed check is itself an exhausted heap.
#include "lib_base/gmlassert.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "lib_base/printer.h"

namespace {

// One reserve object per thread: used when the heap cannot hold the exception itself.
struct tReserve {
    alignas(tAssertException) unsigned char storage[sizeof(tAssertException)];
    bool inUse = false;
};
thread_local tReserve gReserve;

// The report is printed once per thread at a time: a failure inside the printer (which may
// allocate) must not report itself again.
thread_local bool gReporting = false;

char* CopyText(const char* text) {
    if (!text) return nullptr;
    size_t n = std::strlen(text) + 1;
    char* copy = static_cast<char*>(std::malloc(n));
    if (copy) std::memcpy(copy, text, n);
    return copy;
}

}  // namespace

tAssertException::tAssertException(const char* file, u32 line, const char* extra, u8 log)
    : file(CopyText(file ? file : "")),
      extra(CopyText(extra)),
      line(line),
      log(log),
      ownsTexts(true) {
    if (!this->file || (extra && !this->extra)) {
        std::free(this->file);
        std::free(this->extra);
        this->file = const_cast<char*>("(out of memory)");
        this->extra = const_cast<char*>("Memory Allocation Failure");
        ownsTexts = false;
    }
}

tAssertException::~tAssertException() {
    if (ownsTexts) {
        std::free(file);
        std::free(extra);
    }
}

void* tAssertException::operator new(size_t size) {
    if (void* block = std::malloc(size)) return block;
    if (gReserve.inUse) std::abort();  // two exhausted-heap reports alive on one thread
    gReserve.inUse = true;
    return gReserve.storage;
}

void tAssertException::operator delete(void* block) {
    if (block == gReserve.storage) {
        gReserve.inUse = false;
        return;
    }
    std::free(block);
}

void DoAssert(const char* file, int line, const char* extra, u8 log) {
    if (!gReporting) {
        struct tReportingMark {
            tReportingMark() { gReporting = true; }
            ~tReportingMark() { gReporting = false; }
        } mark;
        BasePrintf("[ERROR] DoAssert call from [%s] line [%i] extra [%s] log [%i]\n",
                   file ? file : "", line, extra ? extra : "(null)", log);
    }
    throw new tAssertException(file, static_cast<u32>(line), extra, log);
}
