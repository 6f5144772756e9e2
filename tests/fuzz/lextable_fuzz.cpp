// Fuzz target of the lexer table loader: an arbitrary image is loaded from memory and, when it
// is accepted, drives a scan of a fixed text in each character type. A refusal must be an
// SSException; nothing may read outside the image or the table made from it.
#include <cstdint>
#include <cstring>

#include "server/filter/sslex.h"
#include "tests/fuzz/fuzzcheck.h"

namespace {

const char kText[] = "a *EQ 'b\nc' 12.5 %SST(x 1) \x81\x40 \xFF\xFE";

void ScanWith(SSLexTable& table, SSLexConsumer::CharType type) {
    SSLexDataConsumer consumer(kText, sizeof kText - 1, type);
    SSLex lex(consumer, table);
    size_t tokens = 0;
    try {
        while (SSLexLexeme* raw = lex.nextToken()) {
            SSRef<SSLexLexeme> lexeme(raw);
            FUZZ_CHECK(lexeme->bufferOffset() + lexeme->length() <= sizeof kText - 1);
            FUZZ_CHECK(++tokens <= sizeof kText);
        }
    } catch (const SSException&) {
        // Tables may name lists, keyword tables and states' tokens at will; their errors are
        // the scanner's to raise.
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        SSLexTable table(data, size, "fuzz.dfa");
        for (u32 list = 0; list < table.listCount() && list < 4; ++list) {
            const SSLexList* bytes = table.list(list);
            for (u32 state = 0; state < bytes->states && state < 64; ++state) {
                for (u32 c : {0u, 'a' + 0u, 0xFFFFu, 0xFFFFFFFFu}) {
                    const i32 next = table.transition(list, state, c);
                    FUZZ_CHECK(next >= -1 && next < static_cast<i32>(bytes->states));
                }
            }
        }
        for (int type = 0; type < 3; ++type)
            ScanWith(table, static_cast<SSLexConsumer::CharType>(type));
    } catch (const SSException& e) {
        FUZZ_CHECK(e.errorId() == kSSLexInvalidTable);
    }
    return 0;
}
