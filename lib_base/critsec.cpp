// Counted critical sections: the counters only report nesting and misuse.
#include "lib_base/critsec.h"

#include <cstdio>

#include "lib_base/gmlassert.h"
#include "lib_base/printer.h"
#include "platform/thread_id.h"

namespace {

void PrintToStdout(const char* text) {
    std::fputs(text, stdout);
    std::fflush(stdout);
}

}  // namespace

tCriticalSection::~tCriticalSection() {
    if (useCount != 0) BasePrintf("[ERROR] *** DESTROY CRYTICALSECTION STILL IN USE ***");
    // Destroying a mutex that is still locked is undefined: let the holder's nesting go.
    if (IsHeldByMe()) {
        for (; useCount > 0; --useCount) mutex.Unlock();
    }
}

void tCriticalSection::Enter() {
    mutex.Lock();
    owner.store(plat::CurrentThreadId(), std::memory_order_relaxed);
    if (++useCount > 1) PrintToStdout("WARNING: EnterCryticalSection already in use....\n");
}

void tCriticalSection::Leave() {
    if (!IsHeldByMe()) {
        PrintToStdout("WARNING: CRITICAL SECTION EXIT UNDERFLOW\n");
        return;
    }
    if (--useCount == 0) owner.store(0, std::memory_order_relaxed);
    mutex.Unlock();
}

bool tCriticalSection::TryEnter() {
    if (mutex.Waiting() > 0) return false;
    Enter();
    return true;
}

bool tCriticalSection::IsHeldByMe() const {
    return owner.load(std::memory_order_relaxed) == plat::CurrentThreadId();
}

tWaiting::tWaiting(tCriticalSection* section, const char* file, int line) : section(section) {
    if (!section) DoAssert(file, line, nullptr, 0);
    section->Enter();
}

tWaiting::~tWaiting() { section->Leave(); }
