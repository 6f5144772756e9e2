// Nodes of a filter tree for the tests of the dialects' filter hooks, made as the parser makes
// them, over the file whose hooks are tested; and a MySQL file that maps TRIM.
#pragma once
#include <strings.h>

#include <memory>
#include <utility>

#include "server/drivers/mysql.h"
#include "server/filter/filternodes.h"

namespace gmtest {

using NodePtr = std::unique_ptr<tFilterElement>;

inline NodePtr Ident(tFilterOwner& owner, const char* name) {
    return std::make_unique<tFLTIdent>(owner, name);
}
inline NodePtr Literal(tFilterOwner& owner, const char* text) {
    return std::make_unique<tFLTString>(owner, text);
}
inline NodePtr Number(tFilterOwner& owner, const char* text) {
    return std::make_unique<tFLTNumber>(owner, text);
}
// An operand without an SQL form (arithmetic, for one): it reports itself untranslated.
inline NodePtr NoSql(tFilterOwner& owner) { return std::make_unique<tNotSupported>(owner); }
// The argument list of one argument.
inline NodePtr Argument(tFilterOwner& owner, NodePtr argument) {
    return std::make_unique<tFLTParam>(owner, std::move(argument), nullptr);
}
// name(argument).
inline NodePtr Call(tFilterOwner& owner, const char* name, NodePtr argument) {
    return std::make_unique<tFLTFunction>(owner, name, Argument(owner, std::move(argument)));
}

// A MySQL file whose dialect also maps TRIM, so that a function operand has SQL there, which no
// MySQL file has by itself.
class TrimmingMySQLFile : public tMySQLISAMFile {
public:
    using tMySQLISAMFile::tMySQLISAMFile;
    bool MapFunction(tString& name, tFilterElement*, tString&, tString&) override {
        return strcasecmp(name, "TRIM") == 0;
    }
};

}  // namespace gmtest
