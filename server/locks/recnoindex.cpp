// Record numbers to lock slots by linear probing, with erasure by moving entries back rather
// than leaving markers, so that lookups never slow down as locks come and go.
#include "server/locks/recnoindex.h"

#include <cmath>
#include <cstring>

#include "lib_base/gmlassert.h"

namespace {

constexpr size_t kFirstCapacity = 16;
// An emptied index above this capacity frees its entries; below it keeps them for the next lock.
constexpr size_t kKeptCapacity = 4096;

// Record numbers are mostly small whole numbers, whose doubles differ only in their top bits:
// those are folded into the low half, and the multiplication carries every bit of the low half
// into the high half, whose low bits pick the position.
u64 Mix(f64 recno) {
    u64 x = 0;
    std::memcpy(&x, &recno, sizeof x);
    x ^= x >> 32;
    return (x * 0x9e3779b97f4a7c15ULL) >> 32;
}

}  // namespace

size_t tRecnoIndex::Home(f64 recno) const { return Mix(recno) & (entries.size() - 1); }

size_t tRecnoIndex::Position(f64 recno) const {
    const size_t mask = entries.size() - 1;
    size_t i = Home(recno);
    while (entries[i].slot != kNoLockSlot && entries[i].recno != recno) i = (i + 1) & mask;
    return i;
}

tLockSlotId tRecnoIndex::Find(f64 recno) const {
    if (entries.empty()) return kNoLockSlot;
    return entries[Position(recno)].slot;  // the free entry that ends the run says kNoLockSlot
}

void tRecnoIndex::Insert(f64 recno, tLockSlotId slot) {
    GML_ASSERT(recno != 0.0 && !std::isnan(recno) && slot != kNoLockSlot, "record lock key");
    MakeRoom();
    tEntry& entry = entries[Position(recno)];
    GML_ASSERT(entry.slot == kNoLockSlot, "record lock key held twice");
    entry = tEntry{recno, slot};
    ++count;
}

void tRecnoIndex::Erase(f64 recno) {
    if (entries.empty()) return;
    const size_t mask = entries.size() - 1;
    size_t gap = Position(recno);
    if (entries[gap].slot == kNoLockSlot) return;
    --count;
    if (count == 0 && entries.size() > kKeptCapacity) {
        entries = std::vector<tEntry>();
        return;
    }
    // An entry after the gap moves into it unless its home lies cyclically in (gap, here]: then
    // it would sit before its home, outside its run.
    for (size_t here = (gap + 1) & mask; entries[here].slot != kNoLockSlot;
         here = (here + 1) & mask) {
        const size_t home = Home(entries[here].recno);
        const bool homeInBetween =
            gap < here ? (gap < home && home <= here) : (gap < home || home <= here);
        if (homeInBetween) continue;
        entries[gap] = entries[here];
        gap = here;
    }
    entries[gap].slot = kNoLockSlot;
}

void tRecnoIndex::MakeRoom() {
    if ((count + 1) * 2 <= entries.size()) return;
    std::vector<tEntry> held(entries.empty() ? kFirstCapacity : entries.size() * 2,
                             tEntry{0.0, kNoLockSlot});
    entries.swap(held);  // entries: all free now; held: what was held
    for (const tEntry& entry : held) {
        if (entry.slot != kNoLockSlot) entries[Position(entry.recno)] = entry;
    }
}
