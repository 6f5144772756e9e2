// tRWLock: a named lock over one critical section, and its guards tReading and tWriting. Both
// guards take the lock exclusively; the names say only what the caller means to do.
#pragma once
#include "lib_base/critsec.h"

// Classes that guard themselves derive from it or hold one. The name is not copied: it must
// outlive the lock (a literal in practice) and names the lock in its messages.
class tRWLock {
public:
    explicit tRWLock(const char* name);
    virtual ~tRWLock();  // prints the name and level when still locked
    tRWLock(const tRWLock&) = delete;
    tRWLock& operator=(const tRWLock&) = delete;

    void WriteLock();
    void ReadLock();
    void Unlock();
    const char* GetName() const { return name; }

private:
    tCriticalSection section;
    const char* name;
    // Lock entries minus unlocks; changed only by the holding thread.
    int level = 0;
};

class tReading {
public:
    tReading(tRWLock* lock, const char* file, int line);
    virtual ~tReading();
    tReading(const tReading&) = delete;
    tReading& operator=(const tReading&) = delete;

private:
    tRWLock* lock;
};

class tWriting {
public:
    tWriting(tRWLock* lock, const char* file, int line);
    virtual ~tWriting();
    tWriting(const tWriting&) = delete;
    tWriting& operator=(const tWriting&) = delete;

private:
    tRWLock* lock;
};
