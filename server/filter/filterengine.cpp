// The filter engine: finds the expression inside the client's quotes, scans and parses it with
// the tables built from the embedded images, and emits the tree's SQL.
#include "server/filter/filterengine.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "lib_base/gmlassert.h"
#include "server/filter/filterparser.h"
#include "server/filter/ssresource.h"

namespace {

// A table over the embedded image of that name, or null when it could not be built.
template <class Table>
std::unique_ptr<Table> TableFromImage(const char* name) {
    const SSResource* image = ssFindResource(name);
    if (!image) return nullptr;
    try {
        return std::make_unique<Table>(image->data, image->size, name);
    } catch (const std::exception&) {
        return nullptr;
    } catch (tAssertException* e) {
        std::unique_ptr<tAssertException> owned(e);  // thrown by pointer: the catcher deletes it
        return nullptr;
    }
}

}  // namespace

tFilterEngine::tFilterEngine(tFilterOwner& owner, char* text)
    : text(text),
      owner(owner),
      lexTable(TableFromImage<SSLexTable>("filter.dfa")),
      yaccTable(TableFromImage<SSYaccTable>("filter.llr")) {}

tFilterEngine::~tFilterEngine() = default;

void tFilterEngine::Translate(tString& out) {
    char* first = std::strchr(text, '\'');
    if (!first) return;
    *std::strrchr(text, '\'') = '\0';
    try {
        Run(first + 1, out);
    } catch (tAssertException* e) {
        std::unique_ptr<tAssertException> owned(e);  // thrown by pointer: the catcher deletes it
    } catch (...) {
        // A filter that does not scan or parse, or an error while emitting: not translated.
    }
}

void tFilterEngine::Run(const char* expression, tString& out) {
    if (!lexTable || !yaccTable) return;
    SSLexStringConsumer consumer(expression, SSLexConsumer::kMultiByte);
    filterLexClass lexer(consumer, *lexTable);
    filterYaccClass parser(lexer, *yaccTable, owner);
    if (parser.parse() || !parser.HasRoot()) return;
    // Room for the usual condition at once: a string grows only by what each append needs.
    const size_t room = out.GetLength() + 2 * std::strlen(expression) + 64;
    out.Reserve(static_cast<i32>(std::min<size_t>(room, tString::kMaxCapacity)));
    parser.EmitSQL(out);
    translated = parser.IsFullyTranslated();
}
