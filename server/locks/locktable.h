// The state that the record lock server keeps per table (tLockList: its locks, its openings and
// its record-number counter) and per bucket (tLockServerNode: the tables that hash to it, under
// one lock). Neither class locks by itself: the record lock server holds the bucket's lock
// around every call.
#pragma once
#include <atomic>

#include "lib_base/list.h"
#include "lib_base/rwlock.h"
#include "lib_base/stringz.h"
#include "lib_base/types.h"

// One lock of a holder: a record lock, or with recno 0.0 the lock of the whole table.
struct tRecordLockNode {
    u32 owner;
    f64 recno;
    u32 location;
    bool IsHeldBy(u32 o, u32 l) const { return owner == o && location == l; }
};

// The openings of one holder; count >= 1 while the node exists.
struct tOpenCloseNode {
    u32 owner;
    u32 location;
    i32 count;
};

// One table. The lock that covers record r is the first node in list order whose recno is 0.0
// or r; whoever holds it holds the record.
// Invariants:
//  (1) No two nodes of a table have the same recno; so a table has at most one table lock.
//  (2) A table lock added by LockTable follows only nodes of its own holder. One added by Lock
//      with recno 0.0 may follow other holders' record locks, which keep covering their records.
//  (3) While exclusive is set the table has at most one opening, of count 1.
class tLockList {
public:
    explicit tLockList(const char* name) : name(name) {}

    bool HasName(const char* table) const { return name == table; }
    const tString& GetName() const { return name; }

    // The covering node of the record, or null when the record is free.
    const tRecordLockNode* Cover(f64 recno) const;
    bool Lock(u32 owner, f64 recno, u32 location);
    // Deletes the holder's nodes of that recno; recno 0.0 deletes all of the holder's nodes.
    void Unlock(u32 owner, f64 recno, u32 location);
    bool LockTable(u32 owner, u32 location);
    // Raises the counter and answers it, or kRecnoTableLocked when another holder has the table
    // lock.
    f64 NextRecno(u32 owner, u32 location);
    f64 GetCounter() const { return counter; }
    void SetCounter(f64 count) { counter = count; }

    bool Open(u32 owner, bool exclusive, u32 location);
    bool Close(u32 owner, u32 location);  // prints a warning and answers false without an opening
    // Deletes every lock and every opening taken at the location.
    void RemoveLocation(u32 location);

    i32 LockCount() const { return locks.Count(); }
    const tRecordLockNode& GetLock(i32 i) const { return *locks[i]; }

private:
    void AddLock(u32 owner, f64 recno, u32 location);
    i32 FindOpening(u32 owner, u32 location) const;

    const tString name;
    tAutoArray<tRecordLockNode> locks;  // in order of insertion
    tAutoArray<tOpenCloseNode> openings;
    f64 counter = 0.0;
    bool exclusive = false;
};

// The record lock server's statistics counters.
enum tLockCounter { kLockOk, kLockFailed, kIsLockOk, kIsLockFailed, kUnlockOps, kLockCounterCount };

// One bucket: the tables whose names hash to it, in order of creation. Tables stay for the life
// of the server with their counters. Aligned to a cache line, so that threads on different
// buckets never write the same one.
class alignas(64) tLockServerNode : public tRWLock {
public:
    tLockServerNode() : tRWLock("tLockServerNode") {}

    // The server's counters, kept per bucket for the reason above; raised without the lock.
    std::atomic<u32> counters[kLockCounterCount] = {};

    tLockList* Find(const char* table) const;
    tLockList* FindOrMake(const char* table);  // appends a fresh table when there is none
    i32 TableCount() const { return tables.Count(); }
    tLockList* GetTable(i32 i) const { return tables[i]; }

private:
    tAutoArray<tLockList> tables;
};
