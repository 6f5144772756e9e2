// The SQL of substrings, function calls and argument lists, which the owner's dialect decides.
#include <utility>

#include "server/filter/filternodes.h"
#include "server/filter/filterowner.h"

tFLTSubs::tFLTSubs(tFilterOwner& owner, tFilterNodePtr string, tFilterNodePtr start,
                   tFilterNodePtr length)
    : tFilterElement(owner),
      string(std::move(string)),
      start(std::move(start)),
      length(std::move(length)) {}

void tFLTSubs::EmitSQL(tString& out) {
    const bool translatable = string->IsTranslatable() && start->IsTranslatable() &&
                              (!length || length->IsTranslatable());
    const bool translated =
        translatable && GetOwner().SubstrFunc(out, *string, *start, length.get());
    SetTranslated(translated);
    if (!translated) EmitFallback(out);
}

tFLTFunction::tFLTFunction(tFilterOwner& owner, const char* name, tFilterNodePtr arguments)
    : tFilterElement(owner), name(name), arguments(std::move(arguments)) {}

void tFLTFunction::EmitSQL(tString& out) {
    tString sqlName(name);
    tString replacement;
    tString suffix;
    bool translated = GetOwner().MapFunction(sqlName, arguments.get(), replacement, suffix);
    tString work;
    if (translated && replacement.GetLength() > 0) {
        work = replacement;
    } else if (translated && arguments) {
        work += sqlName;
        work += "(";
        translated = arguments->AppendSQL(work);
        work += ")";
        work += suffix;
    } else {
        // A call without arguments that the dialect would write by name has nothing to put
        // between its parentheses.
        translated = false;
    }
    AppendOrFallback(out, work, translated);
}

tFLTParam::tFLTParam(tFilterOwner& owner, tFilterNodePtr expression, tFilterNodePtr next)
    : tFilterElement(owner), expression(std::move(expression)), next(std::move(next)) {}

bool tFLTParam::IsTranslatable() const {
    return expression->IsTranslatable() && (!next || next->IsTranslatable());
}

void tFLTParam::EmitSQL(tString& out) {
    tString work;
    bool translated = expression->AppendSQL(work);
    if (next && translated) {
        work += ",";
        translated = next->AppendSQL(work);
    }
    SetTranslated(translated);
    if (translated) out += work;
}
