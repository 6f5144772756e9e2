#include "server/runtime/namedlock.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// Names are the two parts joined by "/" and compared whole, letter case included.
TEST(NamedLock, SamePairSameNodeOtherCaseOrPrefixAnotherNode) {
    tNamedLock registry;
    tNamedNode* table = registry.GetNode("DADOS", "SA1010");
    ASSERT_NE(table, nullptr);
    EXPECT_STREQ(table->GetName(), "DADOS/SA1010");
    EXPECT_EQ(registry.GetNode("DADOS", "SA1010"), table);

    const struct {
        const char* first;
        const char* second;
    } others[] = {
        {"dados", "SA1010"},   // case of the first part
        {"DADOS", "sa1010"},   // case of the second part
        {"DADOS", "SA101"},    // a prefix of the name
        {"DADOS", "SA10100"},  // the name as a prefix of this one
        {"DADOS/SA1010", ""},  // the same characters split elsewhere give "DADOS/SA1010/"
        {"MSSQL", "#CONNECT#"},
    };
    std::vector<tNamedNode*> seen{table};
    for (const auto& c : others) {
        SCOPED_TRACE(std::string(c.first) + "/" + c.second);
        tNamedNode* node = registry.GetNode(c.first, c.second);
        for (tNamedNode* earlier : seen) EXPECT_NE(node, earlier);
        EXPECT_EQ(registry.GetNode(c.first, c.second), node);
        seen.push_back(node);
    }
    EXPECT_EQ(registry.CountNodes(), static_cast<i32>(seen.size()));
}

// Thousands of names, asked for in a scattered order, stay sorted in byte order, each found
// again as the same node; the count is the number of distinct names.
TEST(NamedLock, ManyNamesStaySortedAndAreFoundAgain) {
    tNamedLock registry;
    constexpr int kNames = 2000;
    std::vector<tNamedNode*> nodes(kNames);
    for (int i = 0; i < kNames; ++i) {
        const int n = (i * 7919) % kNames;  // 7919 is prime: every n once, out of order
        nodes[n] = registry.GetNode("ENV", ("T" + std::to_string(n)).c_str());
    }
    ASSERT_EQ(registry.CountNodes(), kNames);
    for (i32 i = 1; i < registry.Count(); ++i) {
        ASSERT_LT(std::strcmp(registry.Get(i - 1)->GetName(), registry.Get(i)->GetName()), 0);
    }
    for (int n = 0; n < kNames; ++n) {
        EXPECT_EQ(registry.GetNode("ENV", ("T" + std::to_string(n)).c_str()), nodes[n]);
    }
    EXPECT_EQ(registry.CountNodes(), kNames);
}

// Byte order: bytes above 0x7F sort after ASCII letters, as unsigned bytes do.
TEST(NamedLock, FindOrdersBytesUnsigned) {
    tNamedLock registry;
    registry.GetNode("A", "\xC7");
    registry.GetNode("A", "Z");
    registry.GetNode("A", "a");
    ASSERT_EQ(registry.Count(), 3);
    EXPECT_STREQ(registry.Get(0)->GetName(), "A/Z");
    EXPECT_STREQ(registry.Get(1)->GetName(), "A/a");
    EXPECT_STREQ(registry.Get(2)->GetName(), "A/\xC7");
    i32 pos = -1;
    EXPECT_FALSE(registry.Find("A/b", pos));
    EXPECT_EQ(pos, 2);
    EXPECT_TRUE(registry.Find("A/a", pos));
    EXPECT_EQ(pos, 1);
}

}  // namespace
