// Helpers for the tests of ODBC dialects over the recording driver: scripted catalogue rows,
// alteration lists, and the statements the code ran.
#pragma once
#include <sql.h>

#include <string>
#include <vector>

#include "lib_base/list.h"
#include "server/isam/dbconn.h"
#include "tests/server/support/recodbc_control.h"

namespace gmtest {

// The next execution matching sql answers these rows of character columns.
inline void ScriptRows(RecordingDriver& rec, const char* sql,
                       const std::vector<const char*>& columns,
                       const std::vector<std::vector<const char*>>& rows) {
    rec.AddResult(sql);
    for (const char* c : columns) rec.AddColumn(c, SQL_VARCHAR, 128, 0, SQL_NULLABLE);
    for (const auto& row : rows) {
        rec.AddRow();
        for (const char* v : row) rec.AddValue(v);
    }
}

// One change of an alteration list; the list owns what FillActions adds.
struct ActionSpec {
    const char* name;
    u8 oldType;
    u16 oldLength;
    u16 oldDecimals;
    u8 newType;
    u16 newLength;
    u16 newDecimals;
    u16 flags;
};

inline void FillActions(tAutoArray<tActionField>& list, const std::vector<ActionSpec>& actions) {
    for (const ActionSpec& a : actions) {
        auto* f = new tActionField(a.name, a.newType, a.newLength, a.newDecimals);
        f->oldType = a.oldType;
        f->oldLength = a.oldLength;
        f->oldDecimals = a.oldDecimals;
        f->actions = a.flags;
        list.Add(f);
    }
}

// The executed statements, one a line, without those that start with one of the prefixes.
inline std::string StatementsWithout(RecordingDriver& rec,
                                     const std::vector<std::string>& prefixes) {
    const std::string all = rec.Statements();
    std::string kept;
    size_t at = 0;
    while (at < all.size()) {
        const size_t end = all.find('\n', at);
        const std::string line = all.substr(at, end - at);
        bool skipped = false;
        for (const std::string& p : prefixes) skipped = skipped || line.rfind(p, 0) == 0;
        if (!skipped) kept += line + "\n";
        at = end == std::string::npos ? all.size() : end + 1;
    }
    return kept;
}

}  // namespace gmtest
