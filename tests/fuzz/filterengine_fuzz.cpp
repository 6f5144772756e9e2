// Fuzz target of the filter engine: arbitrary bytes, cut at the first NUL, translated as a
// client's filter text against a table file of the base dialect. Every translation ends without
// an escaping error, crash or leak; a translated condition holds no NUL, and one that translated
// whole is not empty.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "server/filter/filterengine.h"
#include "tests/fuzz/fuzzcheck.h"
#include "tests/server/support/testisam.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static gmtest::IsamTestBed* bed = new gmtest::IsamTestBed;  // lives as long as the process
    static gmtest::TestISAMFile* file = bed->MakeFile().release();
    std::vector<char> text(data, data + size);
    text.push_back('\0');
    const std::string before(text.data());
    tFilterEngine engine(*file, text.data());
    tString out;
    engine.Translate(out);
    FUZZ_CHECK(static_cast<size_t>(out.GetLength()) == std::strlen(out.GetText()));
    FUZZ_CHECK(!engine.IsTranslated() || out.GetLength() > 0);
    // The text changes in one byte at most: its last quote, now the end.
    const size_t quote = before.rfind('\'');
    FUZZ_CHECK(quote == std::string::npos
                   ? std::strcmp(text.data(), before.c_str()) == 0
                   : text[quote] == '\0' && std::memcmp(text.data(), before.data(), quote) == 0);
    return 0;
}
