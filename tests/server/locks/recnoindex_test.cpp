// The index of a table's record locks by record number: what goes in is found until it is
// erased, whatever else comes and goes around it.
#include "server/locks/recnoindex.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <random>

#include "tests/support/gmtest.h"

namespace {

// Record numbers from a small range, so that runs of neighbouring entries form, grow and are
// cut by erasures again and again.
TEST(RecnoIndex, FindsWhatIsHeldAfterManyInsertionsAndErasures) {
    tRecnoIndex index;
    std::map<f64, tLockSlotId> held;
    std::mt19937 random(7);
    for (int i = 0; i < 200000; ++i) {
        const f64 recno = static_cast<f64>(1 + random() % 3000) * (random() % 2 ? 1.0 : -0.5);
        if (held.count(recno)) {
            index.Erase(recno);
            held.erase(recno);
        } else {
            index.Insert(recno, static_cast<tLockSlotId>(i));
            held[recno] = static_cast<tLockSlotId>(i);
        }
        if (i % 20000 != 0) continue;
        ASSERT_EQ(index.Count(), held.size());
        for (int r = 1; r <= 3000; ++r) {
            for (const f64 recno : {static_cast<f64>(r), -0.5 * r}) {
                const auto it = held.find(recno);
                ASSERT_EQ(index.Find(recno), it == held.end() ? kNoLockSlot : it->second) << recno;
            }
        }
    }
}

TEST(RecnoIndex, EmptiedIndexFindsNothingAndFillsAgain) {
    tRecnoIndex index;
    EXPECT_EQ(index.Find(1.0), kNoLockSlot);
    index.Erase(1.0);  // nothing held: nothing happens
    for (int pass = 0; pass < 2; ++pass) {
        for (int r = 1; r <= 10000; ++r) index.Insert(r, static_cast<tLockSlotId>(r + pass));
        EXPECT_EQ(index.Find(10000.0), static_cast<tLockSlotId>(10000 + pass));
        EXPECT_EQ(index.Find(10001.0), kNoLockSlot);
        EXPECT_EQ(index.Find(std::nan("")), kNoLockSlot);
        for (int r = 1; r <= 10000; ++r) index.Erase(r);
        EXPECT_EQ(index.Count(), 0u);
        EXPECT_EQ(index.Find(5000.0), kNoLockSlot);
    }
}

TEST(RecnoIndex, TableLocksAndNaNAreNoKeys) {
    tRecnoIndex index;
    for (const f64 recno : {0.0, -0.0, std::nan("")}) {
        EXPECT_EQ(gmtest::AssertText([&] { index.Insert(recno, 1); }), "record lock key");
    }
    index.Insert(2.0, 1);
    EXPECT_EQ(gmtest::AssertText([&] { index.Insert(2.0, 3); }), "record lock key held twice");
    EXPECT_EQ(index.Find(2.0), 1u);
}

}  // namespace
