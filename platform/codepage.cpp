// The lead-byte test of the code page, replaceable by tests.
#include "platform/codepage.h"

#include <atomic>

namespace plat {
namespace {

bool NoLeadBytes(unsigned char) { return false; }

std::atomic<LeadByteTest> leadByteTest{&NoLeadBytes};

}  // namespace

bool IsDBCSLeadByte(unsigned char byte) { return leadByteTest.load()(byte); }

LeadByteTest SetLeadByteTest(LeadByteTest test) {
    return leadByteTest.exchange(test ? test : &NoLeadBytes);
}

}  // namespace plat
