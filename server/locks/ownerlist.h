// The information texts of lock holders, one per (owner, location), which the record lock server
// reports about whoever holds a record. Guards itself; safe from any thread.
#pragma once
#include "lib_base/list.h"
#include "lib_base/rwlock.h"
#include "lib_base/stringz.h"
#include "lib_base/types.h"

struct tOwnerNode {
    u32 owner;
    i32 location;
    tString info;  // never shared with a caller's string: copies go by text
};

// Invariant: entries are sorted by location (signed), then by owner (unsigned), without two
// entries of one holder.
class tOwnerList : public tRWLock {
public:
    tOwnerList() : tRWLock("tOwnerList") {}

    void Set(u32 owner, i32 location, const char* text);
    // Copies the holder's text into info; false, info unchanged, when the holder has none.
    bool CopyInfo(u32 owner, i32 location, tString& info);
    void Remove(u32 owner, i32 location);
    void RemoveLocation(i32 location);

private:
    // Under the lock: true when the holder's entry exists; pos is its index, else where it goes.
    bool Search(u32 owner, i32 location, i32& pos) const;

    tAutoArray<tOwnerNode> entries;
};
