// Fuzz target of the PostgreSQL rewrite of a client's query. Whatever the text, a rewrite that
// succeeds keeps every quoted text exactly as the client wrote it, in order and still closed,
// and loses no unquoted character: it only upper-cases and inserts.
//
// Input: the query text.
#include <cctype>
#include <cstdint>
#include <string>

#include "server/drivers/postgres_query.h"
#include "tests/fuzz/fuzzcheck.h"

namespace {

// Fails the run: the rewrite broke what it must keep.

// The text split as a reader of SQL splits it: the quoted bytes ('...' and "...", quotes
// included, a doubled quote being a close and an open) and the unquoted bytes.
struct tParts {
    std::string quoted;
    std::string unquoted;
    bool open = false;
};

tParts Split(const std::string& text) {
    tParts parts;
    char quote = 0;
    for (char c : text) {
        if (quote) {
            parts.quoted += c;
            if (c == quote) quote = 0;
        } else if (c == '\'' || c == '"') {
            parts.quoted += c;
            quote = c;
        } else {
            parts.unquoted += c;
        }
    }
    parts.open = quote != 0;
    return parts;
}

char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

// Every non-blank character of from, case aside, appears in to in the same order.
bool KeptInOrder(const std::string& from, const std::string& to) {
    size_t at = 0;
    for (char c : from) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
        while (at < to.size() && Upper(to[at]) != Upper(c)) ++at;
        if (at == to.size()) return false;
        ++at;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1u << 16) return 0;
    const std::string query(reinterpret_cast<const char*>(data), size);
    std::string out;
    const tPgRewrite result = RewritePostgresQuery(query, out);
    const tParts in = Split(query);
    if (in.open) FUZZ_CHECK(result == tPgRewrite::FieldSyntax);
    if (result != tPgRewrite::Ok) return 0;
    const tParts written = Split(out);
    FUZZ_CHECK(!written.open);
    FUZZ_CHECK(written.quoted == in.quoted);
    FUZZ_CHECK(KeptInOrder(in.unquoted, written.unquoted));
    return 0;
}
