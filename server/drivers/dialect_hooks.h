// Filter-hook pieces that several dialects write alike.
#pragma once
#include "lib_base/stringz.h"

class tField;

// Appends the condition that the field holds its empty value (blanks, zero at its decimals, or
// 'F'); false, with nothing appended, for a type without one.
bool AppendEmptyCondition(const tField& field, tString& out);
