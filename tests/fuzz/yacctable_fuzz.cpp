// Fuzz target of the parse table loader: an arbitrary image is loaded from memory and, when it is
// accepted, drives parses of fixed filter texts. A refusal must be an SSException; nothing may
// read outside the image, and every parse must end, whatever the table says.
#include <cstdint>

#include "server/filter/filterdfa.h"
#include "server/filter/ssyacc.h"
#include "tests/fuzz/fuzzcheck.h"

namespace {

const char* const kTexts[] = {"A *EQ 'b' *AND f(1, x) *OR *NOT (C + -2)", "[", ""};

void ParseWith(SSYaccTable& table, const char* text) {
    static SSLexTable lexTable(kFilterDfaImage, kFilterDfaImageSize, "filter.dfa");
    SSLexStringConsumer consumer(text, SSLexConsumer::kSingleByte);
    SSLex lex(consumer, lexTable);
    SSYacc parser(lex, table);
    try {
        parser.parse();
    } catch (const SSException& e) {
        FUZZ_CHECK(e.errorId() >= kSSYaccParseFailed && e.errorId() <= kSSYaccLexMissing);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        SSYaccTable table(data, size, "fuzz.llr");
        for (u32 state = 0; state < table.stateCount() && state < 64; ++state) {
            u32 word = 0;
            if (table.action(state, -1, word) && ssYaccActionKind(word) == SSYaccAction::kShift)
                FUZZ_CHECK((word & kSSYaccArgumentMask) < table.stateCount());
            table.errorEntry(state, word);
        }
        for (const char* text : kTexts) ParseWith(table, text);
    } catch (const SSException& e) {
        FUZZ_CHECK(e.errorId() == kSSYaccReadTable || e.errorId() == kSSYaccTableTooBig);
    }
    return 0;
}
