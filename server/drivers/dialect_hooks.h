// Filter-hook pieces that several dialects write alike.
#pragma once
#include <initializer_list>

#include "lib_base/stringz.h"
#include "lib_base/types.h"

class tField;
class tFilterElement;

// Whether the filter's function name is function, compared without case.
bool IsNamed(const tString& name, const char* function);
// A client function that a dialect calls by another name.
struct tRenamedFunction {
    const char* client;
    const char* server;
};
// True when the function is one the dialect keeps as named or renames; a renamed one's name
// becomes the dialect's.
bool MapFunctionName(tString& name, std::initializer_list<const char*> kept,
                     std::initializer_list<tRenamedFunction> renamed);
// Appends the condition that the field holds its empty value (blanks, zero at its decimals, or
// 'F'); false, with nothing appended, for a type without one.
bool AppendEmptyCondition(const tField& field, tString& out);
// EMPTY(argument): the empty condition of the field that argument stands for; false, with
// nothing appended, when it stands for no field (or is null).
bool AppendEmptyArgument(tFilterElement* argument, tString& out);
// The character as "CHAR(<code>)", joined by "+" to what stands before it (unless it opens the
// value or follows another such call) and after it (unless it ends the literal): the T-SQL form.
void AppendCharCall(tString& out, u8 c, bool afterFunction, bool first, bool last);
// The same as " CHR(<code>)" joined by "||": the form of PostgreSQL and Oracle.
void AppendChrCall(tString& out, u8 c, bool afterFunction, bool first, bool last);
// "CHARINDEX(right,left)>0 " appended to out; a C field operand of more than shortest - 1
// characters is compared at its full width as CONVERT(CHAR(<length>),field). False, with nothing
// appended, when an operand has no SQL form.
bool AppendCharIndex(tString& out, tFilterElement& left, tFilterElement& right, i32 shortest);
