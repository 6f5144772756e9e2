// The state that the record lock server keeps per table (tLockList: its locks, its openings and
// its record-number counter) and per bucket (tLockServerNode: the tables that hash to it, under
// one lock). Neither class locks by itself: the record lock server holds the bucket's lock
// around every call, except where a comment says otherwise.
#pragma once
#include <atomic>
#include <unordered_map>
#include <vector>

#include "lib_base/list.h"
#include "lib_base/rwlock.h"
#include "lib_base/stringz.h"
#include "lib_base/types.h"
#include "server/locks/recnoindex.h"

// One lock of a holder: a record lock, or with recno 0.0 the lock of the whole table.
struct tRecordLockNode {
    u32 owner;
    u32 location;
    f64 recno;
    bool IsHeldBy(u32 o, u32 l) const { return owner == o && location == l; }
};

// The openings of one holder; count >= 1 while the node exists.
struct tOpenCloseNode {
    u32 owner;
    u32 location;
    i32 count;
};

// One table. The lock that covers record r is the first lock in order of insertion whose recno
// is 0.0 or r; whoever holds it holds the record.
// Invariants:
//  (1) No two locks of a table have the same recno, NaN aside (equal to nothing, a NaN lock
//      covers no record and is never found by its number); so a table has at most one table lock.
//  (2) While a table lock exists it is the table's newest lock: it covers every record, so
//      nothing is added after it. Hence the lock that covers r is r's own lock when there is
//      one, else the table lock.
//  (3) Every lock sits in three places: the order of insertion, its holder's list (whose length
//      is the holder's count; a holder without locks has no entry) and either tableLock
//      (recno 0.0), the index (any other number but NaN) or neither (NaN).
//  (4) While exclusive is set the table has at most one opening, of count 1.
class tLockList {
public:
    // older: the bucket's table made before this one (see tLockServerNode).
    tLockList(const char* name, tLockList* older) : name(name), older(older) {}

    bool HasName(const char* table) const { return name == table; }
    const tString& GetName() const { return name; }
    tLockList* Older() const { return older; }

    // The covering lock of the record, or null when the record is free. Valid until the next
    // change of the table.
    const tRecordLockNode* Cover(f64 recno) const;
    bool Lock(u32 owner, f64 recno, u32 location);
    // Deletes the holder's lock of that recno; recno 0.0 deletes all of the holder's locks.
    void Unlock(u32 owner, f64 recno, u32 location);
    bool LockTable(u32 owner, u32 location);
    // Raises the counter and answers it, or kRecnoTableLocked when another holder has the table
    // lock.
    f64 NextRecno(u32 owner, u32 location);
    // Safe without the bucket's lock: the counter is read in one atomic step.
    f64 GetCounter() const { return counter.load(std::memory_order_acquire); }
    void SetCounter(f64 count) { counter.store(count, std::memory_order_release); }

    bool Open(u32 owner, bool exclusive, u32 location);
    bool Close(u32 owner, u32 location);  // prints a warning and answers false without an opening
    // Deletes every lock and every opening taken at the location.
    void RemoveLocation(u32 location);

    // Calls visit(lock) for the locks in order of insertion while it answers true; answers false
    // when a visit did.
    template <class Visit>
    bool ForEachLock(Visit visit) const {
        for (tLockSlotId s = first; s != kNoLockSlot; s = slots[s].next) {
            if (!visit(slots[s].lock)) return false;
        }
        return true;
    }

private:
    // A lock and its links; a free slot's next is the next free slot.
    struct tSlot {
        tRecordLockNode lock;
        tLockSlotId prev, next;              // in order of insertion
        tLockSlotId holderPrev, holderNext;  // among the locks of the same holder
    };
    struct tHolderLocks {
        i32 count;
        tLockSlotId first;
    };
    using tHolders = std::unordered_map<u64, tHolderLocks>;

    static u64 HolderKey(u32 owner, u32 location) {
        return (static_cast<u64>(owner) << 32) | location;
    }
    void AddLock(u32 owner, f64 recno, u32 location);
    // Takes the lock out of the order of insertion and of tableLock or the index, and frees its
    // slot; its holder's list is the caller's.
    void FreeSlot(tLockSlotId s);
    void RemoveLock(tLockSlotId s);
    void RemoveHolder(tHolders::iterator holder);
    i32 FindOpening(u32 owner, u32 location) const;

    // Constant after construction, read without the bucket's lock.
    const tString name;
    tLockList* const older;
    // Written under the bucket's lock, read with or without it.
    std::atomic<f64> counter{0.0};
    // Guarded by the bucket's lock.
    std::vector<tSlot> slots;
    tLockSlotId freeSlot = kNoLockSlot;
    tLockSlotId first = kNoLockSlot;  // the oldest lock
    tLockSlotId last = kNoLockSlot;   // the newest lock
    tLockSlotId tableLock = kNoLockSlot;
    tRecnoIndex index;
    tHolders holders;
    i32 lockCount = 0;
    tAutoArray<tOpenCloseNode> openings;
    bool exclusive = false;
};

// The record lock server's statistics counters.
enum tLockCounter { kLockOk, kLockFailed, kIsLockOk, kIsLockFailed, kUnlockOps, kLockCounterCount };

// One bucket: the tables whose names hash to it. Tables stay for the life of the server with
// their counters, and are only ever added: the array owns them in order of creation, and each
// table points to the one made before it, so that Find can walk from the newest without the
// lock. Aligned to a cache line, so that threads on different buckets never write the same one.
class alignas(64) tLockServerNode : public tRWLock {
public:
    tLockServerNode() : tRWLock("tLockServerNode") {}

    // The server's counters, kept per bucket for the reason above; raised without the lock.
    std::atomic<u32> counters[kLockCounterCount] = {};

    // Safe without the lock.
    tLockList* Find(const char* table) const;
    tLockList* FindOrMake(const char* table);  // appends a fresh table when there is none
    i32 TableCount() const { return tables.Count(); }
    tLockList* GetTable(i32 i) const { return tables[i]; }

private:
    tAutoArray<tLockList> tables;
    // Written under the lock once a new table is whole; read with or without it.
    std::atomic<tLockList*> newest{nullptr};
};
