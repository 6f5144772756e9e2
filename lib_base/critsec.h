// Mutual exclusion for both deliverables: the counted critical section and its scope guard.
#pragma once
#include <atomic>

#include "lib_base/types.h"
#include "platform/mutex.h"

// A recursive lock that counts entries to report misuse (re-entry, an extra Leave, destruction
// while held). Misuse is printed, never refused; a Leave by a thread that does not hold the
// section is reported and changes nothing.
class tCriticalSection {
public:
    tCriticalSection() = default;
    virtual ~tCriticalSection();  // prints when still held
    tCriticalSection(const tCriticalSection&) = delete;
    tCriticalSection& operator=(const tCriticalSection&) = delete;

    void Enter();
    void Leave();
    bool TryEnter();  // a hint: false when others wait; true may still wait for the owner
    bool IsHeldByMe() const;

private:
    plat::RecursiveMutex mutex;
    std::atomic<u32> owner{0};  // thread id of the holder, 0 when free
    // Entries minus exits; changed only by the holding thread.
    int useCount = 0;
};

// Holds a critical section for its scope. The file and line name the caller for reports.
class tWaiting {
public:
    tWaiting(tCriticalSection* section, const char* file, int line);
    virtual ~tWaiting();
    tWaiting(const tWaiting&) = delete;
    tWaiting& operator=(const tWaiting&) = delete;

private:
    tCriticalSection* section;
};
