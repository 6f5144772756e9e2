// The record-number cache of a table file, the list of record numbers it holds locked, and the
// memory of its last seek.
#include <algorithm>
#include <cstring>

#include "lib_base/gmlassert.h"
#include "server/isam/dbconn.h"
#include "server/isam/gatemill.h"

tRecnoList::tRecnoList() { recnos.reserve(32); }

bool tRecnoList::Find(f64 recno) const {
    for (f64 held : recnos) {
        if (held == recno || held == 0.0) return true;
    }
    return false;
}

bool tRecnoList::Add(f64 recno) {
    const auto at = std::lower_bound(recnos.begin(), recnos.end(), recno);
    if (at != recnos.end() && *at == recno) return false;
    recnos.insert(at, recno);
    return true;
}

bool tRecnoList::Remove(f64 recno) {
    if (recno == 0.0) {
        recnos.clear();
        return true;
    }
    const auto at = std::lower_bound(recnos.begin(), recnos.end(), recno);
    if (at == recnos.end() || *at != recno) return false;
    recnos.erase(at);
    return true;
}

f64 tRecnoList::Get(i32 i) const {
    GML_ASSERT(i >= 0 && i < Count(), "tRecnoList::Get - outside the list");
    return recnos[static_cast<size_t>(i)];
}

void tSeekOptimizer::Store(i16 code) {
    result = code;
    valid = true;
}

tCache::tCache(tISAMFile& owner) : owner(owner) {}

void tCache::Reset(bool keepCurrent) {
    if (current >= 0) {
        const f64 saved = window[current];
        std::fill(window, window + kSlots, 0.0);
        if (keepCurrent) {
            current = kMiddleSlot;
            window[current] = saved;
        } else {
            current = 0;
        }
    } else {
        current = 0;
    }
    firstRow = false;
    lastRow = false;
    order = owner.GetOrder();
    owner.GetSeekOptimizer().Invalidate();
}

void tCache::Revalidate(bool keepCurrent) {
    if (owner.GetOrder() == order && !owner.IsFilterChanged()) return;
    Reset(keepCurrent);
    owner.SetFilterChanged(false);
}

i32 tCache::RowLimit() const {
    const i32 rows = owner.GetConnection()->GetRowCount();
    return std::clamp(rows, 0, kSlots);
}

i32 tCache::LoadForward(i32 offset) {
    GML_ASSERT(offset >= 0, "tCache::LoadForward - negative offset");
    std::fill(scratch, scratch + kSlots, 0.0);
    const i32 limit = RowLimit();
    tStatement& stmt = owner.GetStatement();
    i32 n = 0;
    while (n < limit && stmt.Fetch()) scratch[n++] = stmt.FieldAsDouble(0);
    if (n == 0) return 0;
    if (IsFilled(current) && n < kSlots) {
        const i32 space = kSlots - (current + offset + 1);
        if (space < n) {
            // Make room at the top: the oldest rows leave the window, and with them the first row.
            const i32 shift = n - space;
            std::memmove(window, window + shift, static_cast<size_t>(kSlots - shift) * sizeof(f64));
            current -= shift;
            firstRow = false;
            GML_ASSERT(current >= 0, "tCache::LoadForward - current slot left the window");
        }
        std::memcpy(window + current + offset + 1, scratch, static_cast<size_t>(n) * sizeof(f64));
    } else {
        if (n >= kSlots) current = 0;
        std::memcpy(window, scratch, sizeof window);
    }
    return n;
}

i32 tCache::LoadBackward(i32 offset) {
    GML_ASSERT(offset >= 0, "tCache::LoadBackward - negative offset");
    std::fill(scratch, scratch + kSlots, 0.0);
    const i32 limit = RowLimit();
    tStatement& stmt = owner.GetStatement();
    // Rows arrive in descending order: filled from the last slot down, they end up ascending.
    i32 n = 0;
    for (i32 slot = kSlots - 1; slot >= 0 && n < limit && stmt.Fetch(); --slot, ++n) {
        scratch[slot] = stmt.FieldAsDouble(0);
    }
    if (n == 0) return 0;
    if (IsFilled(current) && n < kSlots) {
        if (n > current - offset) {
            // Make room at the bottom: the rows from the current slot up move up, and the last
            // row may leave the window.
            const i32 shift = n - (current - offset);
            const i32 moved = kSlots - shift - current;
            GML_ASSERT(moved >= 0, "tCache::LoadBackward - shift beyond the window");
            std::memmove(window + current + shift, window + current,
                         static_cast<size_t>(moved) * sizeof(f64));
            current += shift;
            lastRow = false;
        }
        std::memcpy(window + current - n - offset, scratch + kSlots - n,
                    static_cast<size_t>(n) * sizeof(f64));
    } else {
        if (n >= kSlots) current = kSlots - 1;
        std::memcpy(window, scratch, sizeof window);
    }
    return n;
}

void tCache::GoFirst() {
    for (i32 slot = 0; slot < kSlots; ++slot) {
        if (window[slot] > 0.0) {
            current = slot;
            return;
        }
    }
    current = 0;
}

void tCache::GoLast() {
    for (i32 slot = kSlots - 1; slot >= 0; --slot) {
        if (window[slot] > 0.0) {
            current = slot;
            return;
        }
    }
    current = kSlots - 1;
}

f64 tCache::GetCurrentRecno() const { return IsFilled(current) ? window[current] : 0.0; }

void tCache::SetCurrentRecno(f64 recno) {
    GML_ASSERT(current >= 0 && current < kSlots, "tCache::SetCurrentRecno - no current slot");
    window[current] = recno;
}

bool tCache::IsFilled(i32 slot) const { return slot >= 0 && slot < kSlots && window[slot] > 0.0; }

bool tCache::IsEmpty() const { return !IsFilled(current); }

bool tCache::IsForwardComplete() const { return firstRow && IsFilled(current); }

bool tCache::IsPastEnd(i32 slot) const { return lastRow && !IsFilled(slot); }
