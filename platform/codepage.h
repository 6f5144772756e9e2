// The system's multi-byte code page as the filter lexer sees it. Texts here are single-byte
// code-page texts, so no byte leads a double-byte character; tests put in a test of their own to
// drive the double-byte paths.
#pragma once

namespace plat {

// Whether byte is the first of a double-byte character. The default answers false.
bool IsDBCSLeadByte(unsigned char byte);

using LeadByteTest = bool (*)(unsigned char byte);
// Replaces the lead-byte test for the whole process (null restores the default) and returns the
// test it replaced. Set it while no lexer runs.
LeadByteTest SetLeadByteTest(LeadByteTest test);

}  // namespace plat
