// The check of the fields that a driver's DescribeTable put into a definition.
#pragma once
#include <gtest/gtest.h>

#include <vector>

#include "server/tables/dbtable.h"

namespace gmtest {

struct ExpectedField {
    const char* name;
    u8 type;
    i16 length;
    u16 decimals;
    bool isData;
};

// The definition holds exactly these fields, in this order.
inline void ExpectFields(const tTableDefinition& def, const std::vector<ExpectedField>& expected) {
    ASSERT_EQ(def.GetFieldCount(), static_cast<i32>(expected.size()));
    for (i32 i = 0; i < def.GetFieldCount(); ++i) {
        const tField& field = *def.GetField(i);
        const ExpectedField& e = expected[static_cast<size_t>(i)];
        SCOPED_TRACE(field.GetName());
        EXPECT_STREQ(field.GetName(), e.name);
        EXPECT_EQ(field.GetType(), e.type);
        EXPECT_EQ(field.GetLen(), e.length);
        EXPECT_EQ(field.GetDecimals(), e.decimals);
        EXPECT_EQ(field.IsData(), e.isData);
    }
}

}  // namespace gmtest
