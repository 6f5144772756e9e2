// The recording driver driven from outside a test program: a script read from the file named by
// GM_RECODBC_SCRIPT when the library starts, and every call appended to the file named by
// GM_RECODBC_LOG.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/recodbc/recodbc_internal.h"

namespace recodbc {
namespace {

[[noreturn]] void BadScript(const std::string& line, const char* why) {
    std::fprintf(stderr, "recodbc: script line \"%s\": %s\n", line.c_str(), why);
    std::abort();
}

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    std::stringstream in(line);
    std::string field;
    while (std::getline(in, field, '\t')) fields.push_back(field);
    if (!line.empty() && line.back() == '\t') fields.emplace_back();
    return fields;
}

tResult& Current(tState& st, const std::string& line) {
    if (st.results.empty()) BadScript(line, "no RESULT before it");
    return st.results.back();
}

void AddScriptLine(tState& st, const std::string& line) {
    const std::vector<std::string> f = Fields(line);
    const std::string& command = f[0];
    if (command == "RESULT" && f.size() == 2) {
        st.results.emplace_back();
        st.results.back().pattern = f[1];
    } else if (command == "COLUMN" && f.size() == 4) {
        tResult& r = Current(st, line);
        if (!r.rows.empty()) BadScript(line, "a column after rows");
        r.columns.push_back({f[1], static_cast<SQLSMALLINT>(std::atoi(f[2].c_str())),
                             static_cast<SQLULEN>(std::atoll(f[3].c_str())), 0,
                             SQL_NULLABLE_UNKNOWN});
    } else if (command == "ROW" && f.size() == Current(st, line).columns.size() + 1) {
        std::vector<tValue> row;
        for (size_t i = 1; i < f.size(); ++i) {
            tValue v;
            v.isNull = f[i] == "\\N";
            if (!v.isNull) v.bytes = f[i];
            row.push_back(v);
        }
        Current(st, line).rows.push_back(row);
    } else if (command == "OUTPUT" && f.size() == 3 && std::atoi(f[1].c_str()) > 0) {
        tValue v;
        v.isNull = f[2] == "\\N";
        if (!v.isNull) v.bytes = f[2];
        Current(st, line).outputs[static_cast<SQLUSMALLINT>(std::atoi(f[1].c_str()))] = v;
    } else if (command == "FAIL" && f.size() == 5 && f[2].size() == 5) {
        tFailure failure;
        failure.target = f[1];
        failure.isCall = IsEntryPoint(failure.target);
        failure.diag = {f[2], static_cast<SQLINTEGER>(std::atol(f[3].c_str())), f[4]};
        st.failures.push_back(failure);
    } else {
        BadScript(line, "not RESULT, COLUMN, ROW (one value per column), OUTPUT or FAIL");
    }
}

}  // namespace

void LoadScriptFile(tState& st) {
    const char* path = std::getenv("GM_RECODBC_SCRIPT");
    if (!path || !*path) return;
    std::ifstream in(path);
    if (!in) BadScript(path, "the script file cannot be read");
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        AddScriptLine(st, line);
    }
}

void AppendLogFile(const tEntry& e) {
    static const char* const path = std::getenv("GM_RECODBC_LOG");
    if (!path || !*path) return;
    std::string line = e.call + "(" + e.args + ")=" + std::to_string(e.rc);
    if (e.executed) {
        line += "\t" + e.sql;
        if (!e.params.empty()) line += " [" + e.params + "]";
    }
    line += "\n";
    if (FILE* out = std::fopen(path, "a")) {
        std::fwrite(line.data(), 1, line.size(), out);
        std::fclose(out);
    }
}

}  // namespace recodbc
