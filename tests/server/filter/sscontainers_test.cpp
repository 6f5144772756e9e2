// The runtime's stack, set, references and block pool: growth in order, each refusal with its
// numbered message, and a refused operation leaving the container as it was.
#include "server/filter/sscontainers.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "server/filter/ssblockpool.h"
#include "server/filter/ssref.h"
#include "tests/server/filter/sstest.h"

namespace {

// Counts its own destructions.
class Counted : public SSRefCount {
public:
    explicit Counted(int* deaths) : deaths(deaths) {}
    ~Counted() override { ++*deaths; }

private:
    int* deaths;
};

TEST(SSLifo, GrowsByItsStepKeepingEntriesInOrder) {
    SSLifo<long> stack(64, 64);
    for (long i = 0; i < 65; ++i) ASSERT_TRUE(stack.push(i));
    EXPECT_EQ(stack.capacityNow(), 128u);
    ASSERT_EQ(stack.size(), 65u);
    for (size_t depth = 0; depth < 65; ++depth) EXPECT_EQ(*stack.at(depth), 64 - long(depth));
}

TEST(SSLifo, RefusalsRaiseTheirIdsAndChangeNothing) {
    SSLifo<long> fixed(2, 0);
    ASSERT_TRUE(fixed.push(1));
    ASSERT_TRUE(fixed.push(2));
    sstest::ExpectError([&] { fixed.push(3); }, 8, "SSLifo0001e: Stack full");
    sstest::ExpectError([&] { fixed.pop(3); }, 10, "SSLifo0004e: Cannot pop empty stack");
    sstest::ExpectError([&] { fixed.at(2); }, 11, "SSLifo0003e: Invalid index");
    ASSERT_EQ(fixed.size(), 2u);
    EXPECT_EQ(*fixed.peek(), 2);
    EXPECT_EQ(*fixed.at(1), 1);
    ASSERT_TRUE(fixed.pop(2));
    sstest::ExpectError([&] { fixed.peek(); }, 9, "SSLifo0002e: No top, stack empty");
}

TEST(SSLifo, StoredErrorModeAnswersFailureAndKeepsTheError) {
    SSExceptionControl& control = ssExceptionControl();
    control.storeErrors = true;
    SSLifo<long> empty(1, 0);
    const bool popped = empty.pop();
    const long* top = empty.peek();
    control.storeErrors = false;
    EXPECT_FALSE(popped);
    EXPECT_EQ(top, nullptr);
    ASSERT_NE(empty.storedError(), nullptr);
    EXPECT_EQ(empty.storedError()->errorId(), 9);  // the last error: the peek
}

TEST(SSLifo, RefFormSharesObjectsOnCopyAndReleasesOnPop) {
    int deaths = 0;
    SSLifo<SSRef<Counted>> stack(1, 1);
    {
        SSRef<Counted> first(new Counted(&deaths));
        first->release(false);  // the reference owns it now
        ASSERT_TRUE(stack.push(first));
        ASSERT_TRUE(stack.push(SSRef<Counted>(first.get())));
        EXPECT_EQ(first->refCount(), 3u);
        SSLifo<SSRef<Counted>> copy(stack);
        EXPECT_EQ(first->refCount(), 5u);
        EXPECT_EQ(copy.at(1)->get(), first.get());
    }
    EXPECT_EQ(deaths, 0);
    ASSERT_TRUE(stack.pop(2));
    EXPECT_EQ(deaths, 1);
}

TEST(SSSetArray, KeepsEachWordOnceAndGrows) {
    SSSetArray<unsigned long> set(1, 1);
    EXPECT_TRUE(set.add(7));
    EXPECT_FALSE(set.add(7));
    EXPECT_TRUE(set.add(9));
    EXPECT_EQ(set.size(), 2u);
    EXPECT_TRUE(set.contains(9));
    EXPECT_FALSE(set.contains(8));
    SSSetArray<unsigned long> fixed(1, 0);
    ASSERT_TRUE(fixed.add(1));
    sstest::ExpectError([&] { fixed.add(2); }, 23, "SSSetArray0001e: Set full");
    EXPECT_EQ(fixed.size(), 1u);
}

TEST(SSRef, SettingOverItselfKeepsTheObjectAndReleaseBelowZeroRaises) {
    int deaths = 0;
    SSRef<Counted> ref(new Counted(&deaths));
    ref->release(false);
    ref.set(ref.get());
    EXPECT_EQ(deaths, 0);
    EXPECT_EQ(ref->refCount(), 1u);
    SSRef<Counted> other;
    other = ref;
    ref.set(nullptr);
    EXPECT_EQ(deaths, 0);
    other.set(nullptr);
    EXPECT_EQ(deaths, 1);

    Counted loose(&deaths);
    loose.release(false);
    sstest::ExpectError([&] { loose.release(false); }, 28,
                        "SSRef0001e: Reference count less than zero");
    EXPECT_EQ(loose.refCount(), 0u);
}

TEST(SSBlockPool, RecyclesItemsAndAddsBlocksWhenEmpty) {
    SSBlockPool pool(24, 2);
    void* a = pool.take();
    void* b = pool.take();
    EXPECT_NE(a, b);
    EXPECT_EQ(pool.blockCount(), 1u);
    pool.give(a);
    EXPECT_EQ(pool.take(), a);
    void* c = pool.take();
    EXPECT_EQ(pool.blockCount(), 2u);
    for (void* item : {a, b, c}) std::memset(item, 0xAB, 24);  // ASan: each item is whole
}

TEST(SSException, LongTextsAreCutAt127AndOverlongFormatsRaise0002e) {
    const std::string longText(300, 'x');
    EXPECT_EQ(std::string(SSException(5, longText.c_str()).what()), longText.substr(0, 127));

    class Raiser : public SSExceptionPresent {
    public:
        void Raise(const std::string& arg) {
            ssError(kSSLexInvalidTable, kSSLexInvalidTableMsg, arg.c_str());
        }
    } raiser;
    sstest::ExpectError([&] { raiser.Raise(std::string(600, 'y')); }, 46,
                        "SSException0002e: sprintf msg too long");
    sstest::ExpectError([&] { raiser.Raise("t.dfa"); }, 4, "SSLex0104e: Invalid table, t.dfa");
    ssExceptionControl().raiseErrors = false;
    raiser.Raise("t.dfa");  // dropped: no throw, nothing stored
    ssExceptionControl().raiseErrors = true;
    EXPECT_EQ(raiser.storedError(), nullptr);
}

}  // namespace
