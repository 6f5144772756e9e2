// Identifier check and literal quoting for SQL built from client text.
#include "lib_common/sqltext.h"

bool IsSqlIdentifier(const char* name) {
    if (!name || !*name) return false;
    i32 length = 0;
    for (const char* p = name; *p; ++p) {
        if (++length > kMaxIdentifierLength) return false;
        const char c = *p;
        const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        const bool digit = c >= '0' && c <= '9';
        if (!letter && !digit && c != '_' && c != '#' && c != '$' && c != '.') return false;
    }
    return true;
}

void AppendQuoted(tString& sql, const char* value) {
    sql += '\'';
    for (const char* p = value ? value : ""; *p; ++p) {
        if (*p == '\'') sql += '\'';
        sql += *p;
    }
    sql += '\'';
}
