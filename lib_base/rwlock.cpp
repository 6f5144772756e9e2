// Named locks: nesting and underflow are reported with the lock's name and level.
#include "lib_base/rwlock.h"

#include <cstdio>

#include "lib_base/gmlassert.h"
#include "lib_base/printer.h"

tRWLock::tRWLock(const char* name) : name(name ? name : "") {}

tRWLock::~tRWLock() {
    if (level != 0) {
        BasePrintf("[ERROR] tRWLock [%s] destructor with ACTIVE LOCK (%i)\n", name, level);
    }
    // The section reports (and lets go of) a hold that is still ours when it is destroyed.
}

void tRWLock::WriteLock() {
    section.Enter();
    if (++level > 1) {
        std::printf("[ERROR] WriteLock [%s] already Locked (%i)\n", name, level);
        std::fflush(stdout);
    }
}

void tRWLock::ReadLock() {
    section.Enter();
    if (++level > 1) {
        std::printf("[ERROR] ReadLock [%s] already Locked (%i)\n", name, level);
        std::fflush(stdout);
    }
}

void tRWLock::Unlock() {
    if (!section.IsHeldByMe()) {
        // Not ours to unlock: as far as this thread goes the level drops below 0.
        std::printf("[ERROR] UnLock [%s] UNDERFLOW (%i)\n", name, -1);
        std::fflush(stdout);
        section.Leave();  // reports the section's underflow and changes nothing
        return;
    }
    --level;
    section.Leave();
}

tReading::tReading(tRWLock* lock, const char* file, int line) : lock(lock) {
    if (!lock) DoAssert(file, line, nullptr, 0);
    lock->ReadLock();
}

tReading::~tReading() { lock->Unlock(); }

tWriting::tWriting(tRWLock* lock, const char* file, int line) : lock(lock) {
    if (!lock) DoAssert(file, line, nullptr, 0);
    lock->WriteLock();
}

tWriting::~tWriting() { lock->Unlock(); }
