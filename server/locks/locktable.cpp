// A table's locks, openings and record-number counter, and a bucket's list of tables. Callers
// hold the bucket's lock.
#include "server/locks/locktable.h"

#include "lib_base/printer.h"
#include "server/locks/lockengine.h"
#include "server/locks/ownedarray.h"

const tRecordLockNode* tLockList::Cover(f64 recno) const {
    for (i32 i = 0; i < locks.Count(); ++i) {
        const tRecordLockNode* node = locks[i];
        if (node->recno == 0.0 || node->recno == recno) return node;
    }
    return nullptr;
}

void tLockList::AddLock(u32 owner, f64 recno, u32 location) {
    AddOwned(locks, std::make_unique<tRecordLockNode>(tRecordLockNode{owner, recno, location}));
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
    DeleteIf(locks, [&](const tRecordLockNode& node) {
        return node.IsHeldBy(owner, location) && (recno == 0.0 || node.recno == recno);
    });
}

bool tLockList::LockTable(u32 owner, u32 location) {
    for (i32 i = 0; i < locks.Count(); ++i) {
        const tRecordLockNode* node = locks[i];
        if (!node->IsHeldBy(owner, location)) return false;
        if (node->recno == 0.0) return true;
    }
    AddLock(owner, 0.0, location);
    return true;
}

f64 tLockList::NextRecno(u32 owner, u32 location) {
    const tRecordLockNode* tableLock = Cover(0.0);
    if (tableLock && !tableLock->IsHeldBy(owner, location)) return kRecnoTableLocked;
    counter += 1.0;
    return counter;
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
    DeleteIf(locks, [&](const tRecordLockNode& node) { return node.location == location; });
    DeleteIf(openings, [&](const tOpenCloseNode& opening) { return opening.location == location; });
}

tLockList* tLockServerNode::Find(const char* table) const {
    for (i32 i = 0; i < tables.Count(); ++i) {
        if (tables[i]->HasName(table)) return tables[i];
    }
    return nullptr;
}

tLockList* tLockServerNode::FindOrMake(const char* table) {
    tLockList* list = Find(table);
    if (list) return list;
    return AddOwned(tables, std::make_unique<tLockList>(table));
}
