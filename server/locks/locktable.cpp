// A table's locks, openings and record-number counter, and a bucket's list of tables. Callers
// hold the bucket's lock. Every lock operation costs the same however many locks the table
// holds; releasing a holder's locks costs as many steps as it has locks.
#include "server/locks/locktable.h"

#include <cmath>
#include <memory>

#include "lib_base/printer.h"
#include "server/locks/lockengine.h"
#include "server/locks/ownedarray.h"

namespace {

// A table emptied of its locks after holding more than this many frees their slots.
constexpr size_t kKeptSlots = 1024;

}  // namespace

const tRecordLockNode* tLockList::Cover(f64 recno) const {
    if (recno != 0.0) {
        const tLockSlotId own = index.Find(recno);
        if (own != kNoLockSlot) return &slots[own].lock;  // older than any table lock (2)
    }
    return tableLock != kNoLockSlot ? &slots[tableLock].lock : nullptr;
}

void tLockList::AddLock(u32 owner, f64 recno, u32 location) {
    // What may allocate comes first, so that a failure leaves the table as it was: a slot made
    // here waits on the free list, and a grown index holds what it held.
    if (freeSlot == kNoLockSlot) {
        slots.emplace_back();
        slots.back().next = kNoLockSlot;
        freeSlot = static_cast<tLockSlotId>(slots.size() - 1);
    }
    const bool indexed = recno != 0.0 && !std::isnan(recno);
    if (indexed) index.MakeRoom();
    tHolderLocks& holder =
        holders.try_emplace(HolderKey(owner, location), tHolderLocks{0, kNoLockSlot}).first->second;

    const tLockSlotId s = freeSlot;
    freeSlot = slots[s].next;
    slots[s] = tSlot{{owner, location, recno}, last, kNoLockSlot, kNoLockSlot, holder.first};
    (last != kNoLockSlot ? slots[last].next : first) = s;
    last = s;
    if (holder.first != kNoLockSlot) slots[holder.first].holderPrev = s;
    holder.first = s;
    ++holder.count;
    if (recno == 0.0) {
        tableLock = s;
    } else if (indexed) {
        index.Insert(recno, s);
    }
    ++lockCount;
}

void tLockList::FreeSlot(tLockSlotId s) {
    tSlot& slot = slots[s];
    (slot.prev != kNoLockSlot ? slots[slot.prev].next : first) = slot.next;
    (slot.next != kNoLockSlot ? slots[slot.next].prev : last) = slot.prev;
    if (s == tableLock) {
        tableLock = kNoLockSlot;
    } else {
        index.Erase(slot.lock.recno);  // a NaN is not there, and not found
    }
    slot.next = freeSlot;
    freeSlot = s;
    if (--lockCount == 0 && slots.size() > kKeptSlots) {
        slots = std::vector<tSlot>();
        freeSlot = kNoLockSlot;
    }
}

void tLockList::RemoveLock(tLockSlotId s) {
    const tSlot& slot = slots[s];
    const auto holder = holders.find(HolderKey(slot.lock.owner, slot.lock.location));
    if (holder->second.count == 1) {
        RemoveHolder(holder);
        return;
    }
    (slot.holderPrev != kNoLockSlot ? slots[slot.holderPrev].holderNext : holder->second.first) =
        slot.holderNext;
    if (slot.holderNext != kNoLockSlot) slots[slot.holderNext].holderPrev = slot.holderPrev;
    --holder->second.count;
    FreeSlot(s);
}

void tLockList::RemoveHolder(tHolders::iterator holder) {
    for (tLockSlotId s = holder->second.first; s != kNoLockSlot;) {
        const tLockSlotId next = slots[s].holderNext;
        FreeSlot(s);
        s = next;
    }
    holders.erase(holder);
}

bool tLockList::Lock(u32 owner, f64 recno, u32 location) {
    const tRecordLockNode* cover = Cover(recno);
    if (!cover) {
        AddLock(owner, recno, location);  // with recno 0.0 this is a table lock from now on
        return true;
    }
    return cover->IsHeldBy(owner, location);
}

void tLockList::Unlock(u32 owner, f64 recno, u32 location) {
    if (recno == 0.0) {
        const auto holder = holders.find(HolderKey(owner, location));
        if (holder != holders.end()) RemoveHolder(holder);
        return;
    }
    const tLockSlotId s = index.Find(recno);
    if (s != kNoLockSlot && slots[s].lock.IsHeldBy(owner, location)) RemoveLock(s);
}

// Granted only while every lock of the table is the holder's own: then a table lock already
// there is the holder's too.
bool tLockList::LockTable(u32 owner, u32 location) {
    const auto holder = holders.find(HolderKey(owner, location));
    const i32 own = holder != holders.end() ? holder->second.count : 0;
    if (own != lockCount) return false;
    if (tableLock == kNoLockSlot) AddLock(owner, 0.0, location);
    return true;
}

f64 tLockList::NextRecno(u32 owner, u32 location) {
    const tRecordLockNode* tableLockNode = Cover(0.0);
    if (tableLockNode && !tableLockNode->IsHeldBy(owner, location)) return kRecnoTableLocked;
    const f64 next = counter.load(std::memory_order_relaxed) + 1.0;  // writers hold the lock
    counter.store(next, std::memory_order_release);
    return next;
}

i32 tLockList::FindOpening(u32 owner, u32 location) const {
    for (i32 i = 0; i < openings.Count(); ++i) {
        if (openings[i]->owner == owner && openings[i]->location == location) return i;
    }
    return -1;
}

bool tLockList::Open(u32 owner, bool exclusiveOpen, u32 location) {
    if (openings.Count() > 0 && (exclusive || exclusiveOpen)) return false;
    exclusive = exclusiveOpen;
    const i32 i = FindOpening(owner, location);
    if (i < 0) {
        AddOwned(openings, std::make_unique<tOpenCloseNode>(tOpenCloseNode{owner, location, 1}));
    } else {
        ++openings[i]->count;
    }
    return true;
}

bool tLockList::Close(u32 owner, u32 location) {
    const i32 i = FindOpening(owner, location);
    if (i < 0) {
        BasePrintf("[WARNING] OCNode not found for Owner %u Location %i (tLockList::SetClose)\n",
                   owner, static_cast<i32>(location));
        return false;
    }
    exclusive = false;
    tOpenCloseNode* opening = openings[i];
    if (--opening->count == 0) {
        openings.Delete(i);
        delete opening;
    }
    return true;
}

void tLockList::RemoveLocation(u32 location) {
    for (auto holder = holders.begin(); holder != holders.end();) {
        const auto at = holder++;  // RemoveHolder erases it
        if (static_cast<u32>(at->first) == location) RemoveHolder(at);
    }
    DeleteIf(openings, [&](const tOpenCloseNode& opening) { return opening.location == location; });
}

tLockList* tLockServerNode::Find(const char* table) const {
    for (tLockList* list = newest.load(std::memory_order_acquire); list; list = list->Older()) {
        if (list->HasName(table)) return list;
    }
    return nullptr;
}

tLockList* tLockServerNode::FindOrMake(const char* table) {
    tLockList* list = Find(table);
    if (list) return list;
    list = AddOwned(tables,
                    std::make_unique<tLockList>(table, newest.load(std::memory_order_relaxed)));
    newest.store(list, std::memory_order_release);  // published whole
    return list;
}
