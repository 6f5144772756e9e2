#include "lib_base/list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/gmtest.h"

using gmtest::AssertText;

namespace {

// Records the order in which elements are deleted.
struct tTracked {
    tTracked(int id, std::vector<int>* deleted) : id(id), deleted(deleted) {}
    virtual ~tTracked() { deleted->push_back(id); }
    int id;
    std::vector<int>* deleted;
};

int CompareInts(int* element, const int& key, const tArray<int>&) { return *element - key; }

TEST(Array, GrowsBySmallStepsThenByAQuarter) {
    tArray<int> a;
    int x = 0;
    std::vector<i32> seen;
    for (int i = 0; i < 120; ++i) {
        a.Add(&x);
        if (seen.empty() || seen.back() != a.GetCapacity()) seen.push_back(a.GetCapacity());
    }
    EXPECT_EQ(seen, (std::vector<i32>{2, 4, 6, 8, 10, 26, 42, 58, 74, 92, 115, 143}));
}

TEST(Array, IndexMisuseIsAnAssertion) {
    tArray<int> never;
    int x = 1, y = 2, z = 3;
    EXPECT_EQ(AssertText([&] { never.Get(0); }), "(no text)");
    EXPECT_EQ(AssertText([&] { never.Insert(0, &x); }), "(no text)");
    tArray<int> a;
    a.Add(&x);
    a.Add(&y);
    EXPECT_EQ(AssertText([&] { a.Get(2); }), "(no text)");
    EXPECT_EQ(AssertText([&] { a.Get(-1); }), "(no text)");
    EXPECT_EQ(AssertText([&] { a[2]; }), "(no text)");
    EXPECT_EQ(AssertText([&] { a.Delete(2); }), "(no text)");
    EXPECT_EQ(AssertText([&] { a.Insert(2, &z); }), "(no text)");  // appending is Add
    EXPECT_EQ(AssertText([&] { a.SetCapacity(1); }), "(no text)");
    EXPECT_EQ(AssertText([&] { a.SetCount(-1); }), "(no text)");
    EXPECT_EQ(a.Count(), 2);
    a.Insert(1, &z);
    EXPECT_EQ(a[0], &x);
    EXPECT_EQ(a[1], &z);
    EXPECT_EQ(a[2], &y);
    a.Delete(2);  // the last: only the count drops
    EXPECT_EQ(a.Count(), 2);
    EXPECT_EQ(a.Get(1), &z);
}

TEST(Array, FindSearchesFromEitherEnd) {
    tArray<int> a;
    int x = 1, y = 2;
    a.Add(&x);
    a.Add(&y);
    a.Add(&x);
    EXPECT_EQ(a.Find(&x), 0);
    EXPECT_EQ(a.Find(&x, true), 2);
    EXPECT_EQ(a.Find(nullptr), -1);
    EXPECT_EQ(a.Remove(&x, true), 2);
    EXPECT_EQ(a.Count(), 2);
    EXPECT_EQ(a.Remove(&x), 0);
    EXPECT_EQ(a[0], &y);
}

TEST(Array, SearchGivesTheInsertPosition) {
    int values[] = {10, 20, 30, 40};
    tArray<int> a;
    i32 pos = 77;
    EXPECT_FALSE(a.Search(5, pos, CompareInts));
    EXPECT_EQ(pos, 77);  // untouched on an empty array
    for (int& v : values) a.Add(&v);
    const struct {
        int key;
        bool found;
        i32 pos;
    } cases[] = {{5, false, 0}, {10, true, 0}, {25, false, 2},
                 {30, true, 2}, {40, true, 3}, {45, false, 4}};
    for (const auto& c : cases) {
        pos = 0;
        EXPECT_EQ(a.Search(c.key, pos, CompareInts), c.found) << c.key;
        EXPECT_EQ(pos, c.pos) << c.key;
    }
}

TEST(Array, SetCountKeepsTheArrayAndClearFreesIt) {
    tArray<int> a;
    a.SetCount(5);
    EXPECT_EQ(a.Count(), 5);
    for (i32 i = 0; i < 5; ++i) EXPECT_EQ(a[i], nullptr);
    a.SetCount(0);
    EXPECT_NE(a.GetData(), nullptr);
    EXPECT_EQ(a.GetCapacity(), 5);
    a.Clear();
    EXPECT_EQ(a.GetData(), nullptr);
    EXPECT_EQ(a.GetCapacity(), 0);
}

TEST(AutoArray, ClearDeletesEveryElementOnceLastFirst) {
    std::vector<int> deleted;
    {
        tAutoArray<tTracked> owning;
        for (int i = 1; i <= 3; ++i) owning.Add(new tTracked(i, &deleted));
        owning.Add(nullptr);
        owning.Clear();
        EXPECT_EQ(deleted, (std::vector<int>{3, 2, 1}));
        EXPECT_EQ(owning.Count(), 0);
        owning.Add(new tTracked(9, &deleted));
    }
    EXPECT_EQ(deleted, (std::vector<int>{3, 2, 1, 9}));  // destruction deletes what is left

    tTracked kept(7, &deleted);
    {
        tArray<tTracked> plain;
        plain.Add(&kept);
        plain.Clear();
    }
    EXPECT_EQ(deleted.size(), 4u);  // a plain array deletes nothing

    tAutoArray<double> numbers;  // elements that are not classes are released too (ASan)
    numbers.Add(new double(1.5));
    numbers.Add(new double(2.5));
}

TEST(List, IteratesHeadToTailAndOwnsItsElements) {
    std::vector<int> deleted;
    {
        tList<tTracked> list;
        tIterator<tTracked> empty(&list);
        EXPECT_EQ(empty.Next(), nullptr);
        for (int i = 1; i <= 3; ++i) list.Add(new tTracked(i, &deleted));
        EXPECT_EQ(list.Count(), 3);
        tIterator<tTracked> it(&list);
        EXPECT_EQ(it.Current()->id, 1);
        std::vector<int> order;
        while (tTracked* t = it.Next()) order.push_back(t->id);
        EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
        EXPECT_EQ(it.Current(), nullptr);
    }
    EXPECT_EQ(deleted, (std::vector<int>{3, 2, 1}));  // tail to head
    EXPECT_EQ(AssertText([] { tIterator<tTracked> it(nullptr); }), "(no text)");
}

}  // namespace
