// The lead-byte test: no byte leads by default, a test's own answer while set, the default back
// when it is cleared.
#include "platform/codepage.h"

#include <gtest/gtest.h>

namespace {

bool HighBytesLead(unsigned char byte) { return byte >= 0x81; }

TEST(CodePage, DefaultHasNoLeadBytesAndASetTestIsUsedUntilCleared) {
    for (int byte = 0; byte < 256; ++byte) ASSERT_FALSE(plat::IsDBCSLeadByte(byte)) << byte;
    EXPECT_EQ(plat::SetLeadByteTest(&HighBytesLead)(0x90), false);  // it replaced the default
    EXPECT_TRUE(plat::IsDBCSLeadByte(0x81));
    EXPECT_FALSE(plat::IsDBCSLeadByte(0x80));
    EXPECT_EQ(plat::SetLeadByteTest(nullptr), &HighBytesLead);
    EXPECT_FALSE(plat::IsDBCSLeadByte(0x81));
}

}  // namespace
