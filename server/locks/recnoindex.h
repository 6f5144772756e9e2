// The record locks of one table by record number: an open-addressing hash table from a record
// number to the slot that keeps its lock. It does not lock: the table's bucket lock guards it.
#pragma once
#include <vector>

#include "lib_base/types.h"

// A lock's place in its table's slot array; kNoLockSlot stands for none.
using tLockSlotId = u32;
constexpr tLockSlotId kNoLockSlot = ~0u;

// Invariants:
//  (1) A key is a record number other than 0.0 (a table lock is kept apart) and not NaN (equal
//      to nothing, so never found); each key is held at most once.
//  (2) The capacity is 0 or a power of two, and after an insertion count <= capacity / 2.
//  (3) Linear probing: every entry sits in the unbroken run of used entries that starts at its
//      key's home position; an erasure moves later entries of the run back to close the gap.
class tRecnoIndex {
public:
    // The slot of the record number, or kNoLockSlot.
    tLockSlotId Find(f64 recno) const;
    // Grows when one more key would break (2): after it, the next Insert allocates nothing.
    void MakeRoom();
    // The record number must be a key (1) and not held yet.
    void Insert(f64 recno, tLockSlotId slot);
    // Removes the record number when held. An index emptied after growing large gives its memory
    // back.
    void Erase(f64 recno);
    size_t Count() const { return count; }

private:
    struct tEntry {
        f64 recno;
        tLockSlotId slot;  // kNoLockSlot: the entry is free
    };

    size_t Home(f64 recno) const;
    // Where the record number is, or the free entry that ends its run.
    size_t Position(f64 recno) const;

    std::vector<tEntry> entries;
    size_t count = 0;
};
