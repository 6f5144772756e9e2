// Fuzz target of the filter scanner: arbitrary bytes scanned with the filter image. Every failure
// must be an SSException, every token one that the image gives (never a skipped one), its text
// the input's own bytes at its offset, and the scan must end.
//
// Input: flags byte (bits 0-1 character type, 3 read as multi-byte; bit 2 a code page whose
// bytes from 0x81 lead; bit 3 the text up to its first NUL through the string consumer; bit 4
// errors dropped, bit 5 errors stored: either way nothing is thrown), then the text.
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/codepage.h"
#include "server/filter/filterdfa.h"
#include "server/filter/sslex.h"
#include "tests/fuzz/fuzzcheck.h"

namespace {

bool HighBytesLead(unsigned char byte) { return byte >= 0x81; }

// The tokens that reach the parser: not the blanks, the quotes, the start marker or line feeds
// in strings, and never DTOS, which scans as a name.
bool IsReturnedToken(i32 token) {
    return token == 52 || (token >= 55 && token <= 65) || (token >= 67 && token <= 85);
}

void ScanAll(SSLexConsumer& consumer, const u8* input, size_t size) {
    static SSLexTable table(kFilterDfaImage, kFilterDfaImageSize, "filter.dfa");
    SSLex lex(consumer, table);
    size_t tokens = 0;
    while (SSLexLexeme* raw = lex.nextToken()) {
        SSRef<SSLexLexeme> lexeme(raw);
        FUZZ_CHECK(IsReturnedToken(lexeme->token()));
        FUZZ_CHECK(lexeme->length() > 0);
        FUZZ_CHECK(lexeme->bufferOffset() + lexeme->length() <= size);
        FUZZ_CHECK(
            std::memcmp(lexeme->asChar(), input + lexeme->bufferOffset(), lexeme->length()) == 0);
        FUZZ_CHECK(++tokens <= size);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const u8 flags = data[0];
    const u8* text = data + 1;
    size_t length = size - 1;
    const int typeBits = flags & 3;
    const auto type = static_cast<SSLexConsumer::CharType>(typeBits == 3 ? 2 : typeBits);
    const plat::LeadByteTest saved = plat::SetLeadByteTest(flags & 4 ? &HighBytesLead : nullptr);
    SSExceptionControl& control = ssExceptionControl();
    control.raiseErrors = !(flags & 0x10);
    control.storeErrors = flags & 0x20;
    const bool throws = control.raiseErrors && !control.storeErrors;
    try {
        if (flags & 8 && type != SSLexConsumer::kWide) {
            const std::string copy(reinterpret_cast<const char*>(text), length);
            length = std::strlen(copy.c_str());
            SSLexStringConsumer consumer(copy.c_str(), type);
            ScanAll(consumer, text, length);
        } else {
            SSLexDataConsumer consumer(text, length, type);
            ScanAll(consumer, text, length);
        }
    } catch (const SSException& e) {
        FUZZ_CHECK(throws && (e.errorId() == kSSLexInvalidToken || e.errorId() == kSSLexDBCS));
    }
    control = SSExceptionControl();
    plat::SetLeadByteTest(saved);
    return 0;
}
