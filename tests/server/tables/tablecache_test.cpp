// The table-definition cache: keys without regard to case, one entry per key, updates in place
// and the cleaning report.
#include <gtest/gtest.h>

#include <memory>

#include "server/tables/dbtable.h"
#include "tests/support/gmtest.h"

namespace {

std::unique_ptr<tTableDefinitionShared> MakeDef(const char* table, const char* env, i32 fields) {
    std::unique_ptr<tTableDefinitionShared> def(new tTableDefinitionShared(table, env));
    const char* names[] = {"A", "B", "C", "D"};
    for (i32 i = 0; i < fields; ++i) def->AddField(names[i], 'C', 4, 0, true, true);
    return def;
}

TEST(TableCache, LowerCaseLookupFindsUpperCaseEntry) {
    tTableCache cache;
    const auto added = cache.Add(MakeDef("SA1010", "MSSQL/ERP", 1), "MSSQL/ERP");
    EXPECT_EQ(cache.Find("sa1010", "mssql/erp"), added);
    EXPECT_EQ(cache.Find("SA1010", "MSSQL/ERP2"), nullptr);
    EXPECT_EQ(cache.Find("SA101", "MSSQL/ERP"), nullptr);
}

TEST(TableCache, SecondAddOfOneKeyKeepsAndHandsOutTheFirst) {
    tTableCache cache;
    const auto first = cache.Add(MakeDef("sa1010", "MSSQL/ERP", 1), "MSSQL/ERP");
    const auto second = cache.Add(MakeDef("SA1010", "mssql/erp", 3), "mssql/erp");
    EXPECT_EQ(second, first);
    EXPECT_EQ(second->GetFieldCount(), 1);
    EXPECT_TRUE(cache.Remove("Sa1010", "MsSql/Erp"));
    EXPECT_FALSE(cache.Remove("SA1010", "MSSQL/ERP"));
    EXPECT_EQ(cache.Find("SA1010", "MSSQL/ERP"), nullptr);
}

TEST(TableCache, UpdateRewritesTheCachedObjectOnlyWhenCached) {
    tTableCache cache;
    const auto fresh = MakeDef("SA1010", "MSSQL/ERP", 3);
    EXPECT_FALSE(cache.Update(*fresh, "MSSQL/ERP"));
    EXPECT_EQ(cache.Find("SA1010", "MSSQL/ERP"), nullptr);

    const auto cached = cache.Add(MakeDef("SA1010", "MSSQL/ERP", 1), "MSSQL/ERP");
    EXPECT_TRUE(cache.Update(*fresh, "mssql/erp"));
    EXPECT_EQ(cache.Find("SA1010", "MSSQL/ERP"), cached);
    EXPECT_EQ(cached->GetFieldCount(), 3);
    EXPECT_EQ(cached->GetRecLen(), 12u);
    EXPECT_EQ(fresh->GetFieldCount(), 3);  // the caller's definition is left as it was
}

TEST(TableCache, CleanReportsTheCountAndEmptiesTheCache) {
    tTableCache cache;
    const auto held = cache.Add(MakeDef("SA1010", "MSSQL/ERP", 1), "MSSQL/ERP");
    cache.Add(MakeDef("SA2010", "MSSQL/ERP", 1), "MSSQL/ERP");
    {
        gmtest::ConsoleCapture console;
        cache.Clean("DisconnectUser");
        EXPECT_EQ(console.Get(),
                  "[INFO] DisconnectUser Cleaning Table Structure Cache (2 elements)...\n"
                  "[INFO] Table Structure Cache Cleaned.\n");
    }
    EXPECT_EQ(cache.Find("SA1010", "MSSQL/ERP"), nullptr);
    EXPECT_STREQ(held->GetName(), "SA1010");  // the caller's share outlives the entry
    gmtest::ConsoleCapture console;
    cache.Clean("ConnectUser");
    EXPECT_EQ(console.Get(),
              "[INFO] ConnectUser Cleaning Table Structure Cache (0 elements)...\n"
              "[INFO] Table Structure Cache Cleaned.\n");
}

}  // namespace
