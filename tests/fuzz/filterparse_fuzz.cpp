// Fuzz target of the filter parser: arbitrary bytes scanned with the filter lexer and parsed with
// the filter's parse table. A text either parses or ends in a runtime error of the scanner or the
// parser; every parse ends and frees what it made.
#include <cstdint>
#include <string>

#include "server/filter/filterdfa.h"
#include "server/filter/filterllr.h"
#include "server/filter/ssyacc.h"
#include "tests/fuzz/fuzzcheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static SSLexTable lexTable(kFilterDfaImage, kFilterDfaImageSize, "filter.dfa");
    static SSYaccTable table(kFilterLlrImage, kFilterLlrImageSize, "filter.llr");
    SSLexDataConsumer consumer(data, size, SSLexConsumer::kMultiByte);
    SSLex lex(consumer, lexTable);
    SSYacc parser(lex, table);
    try {
        const bool failed = parser.parse();
        FUZZ_CHECK(!failed && parser.result() != nullptr);
    } catch (const SSException& e) {
        FUZZ_CHECK(e.errorId() == kSSLexInvalidToken || e.errorId() == kSSLexDBCS ||
                   e.errorId() == kSSYaccErrorTokenFailed);
    }
    return 0;
}
