// The two checks that stand between client text and the SQL that the server builds: names must
// be plain identifiers, and values go into SQL only as quoted literals.
#pragma once
#include "lib_base/stringz.h"
#include "lib_base/types.h"

constexpr i32 kMaxIdentifierLength = 128;

// Whether name may stand in SQL as a table, index or column name: 1 to kMaxIdentifierLength
// characters, each an ASCII letter, a digit, '_', '#', '$' or '.'. Null is no identifier.
bool IsSqlIdentifier(const char* name);

// Appends value as one standard string literal: in single quotes, every single quote doubled.
// A null value is the empty literal.
void AppendQuoted(tString& sql, const char* value);
