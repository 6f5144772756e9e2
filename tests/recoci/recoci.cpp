// The recording OCI library's script and log: the control functions that tests call, the script
// file and log file that drive it from outside a test program, and the helpers both call sets use.
#pragma GCC visibility push(default)
#include "tests/recoci/recoci.h"
#pragma GCC visibility pop

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "tests/recoci/recoci_internal.h"

namespace recoci {

std::mutex lock;
std::deque<tResult> results;
std::map<int, std::string> errorTexts;
std::map<std::string, std::vector<tArgument>> procedures;

namespace {

std::vector<tFailure> failures;
std::string currentProcedure;
std::string calls;
std::string callsCopy;
std::string logPath;

tResult& Current() {
    if (results.empty()) {
        std::fprintf(stderr, "recoci: no result to add to\n");
        std::abort();
    }
    return results.back();
}

void AddFailure(const char* target, int code, int answer, const char* text) {
    std::lock_guard<std::mutex> hold(lock);
    failures.push_back(tFailure{target, code, answer});
    if (code != 0) errorTexts[code] = text ? text : "";
}

// One tab-separated line of the script file; false for a line it cannot read.
bool AddScriptLine(const std::vector<std::string>& parts) {
    auto at = [&](size_t i) { return i < parts.size() ? parts[i] : std::string(); };
    auto number = [&](size_t i) { return std::atoi(at(i).c_str()); };
    const std::string& kind = parts[0];
    if (kind == "RESULT") {
        RecOciAddResult(at(1).c_str());
    } else if (kind == "COLUMN" && !results.empty()) {
        RecOciAddColumn(at(1).c_str(), number(2), number(3));
    } else if (kind == "ROW" && !results.empty() &&
               parts.size() - 1 == results.back().columns.size()) {
        RecOciAddRow();
        for (size_t i = 1; i < parts.size(); ++i) {
            RecOciAddValue(parts[i] == "\\N" ? nullptr : parts[i].c_str());
        }
    } else if (kind == "FAIL") {
        RecOciFailNext(at(1).c_str(), number(2), at(3).c_str());
    } else if (kind == "ANSWER") {
        RecOciAnswerNext(at(1).c_str(), number(2), number(3), at(4).c_str());
    } else if (kind == "PROCEDURE") {
        RecOciAddProcedure(at(1).c_str());
    } else if (kind == "ARGUMENT") {
        RecOciAddArgument(at(1).c_str(), number(2), number(3));
    } else {
        return false;
    }
    return true;
}

void LoadScriptFile(const char* path) {
    std::ifstream in(path);
    if (!in) {
        std::fprintf(stderr, "recoci: cannot read the script %s\n", path);
        std::abort();
    }
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> parts;
        std::stringstream fields(line);
        std::string part;
        while (std::getline(fields, part, '\t')) parts.push_back(part);
        if (!AddScriptLine(parts)) {
            std::fprintf(stderr, "recoci: %s:%d: cannot read the line\n", path, number);
            std::abort();
        }
    }
}

struct tStartup {
    tStartup() {
        if (const char* log = std::getenv("GM_RECOCI_LOG")) logPath = log;
        if (const char* script = std::getenv("GM_RECOCI_SCRIPT")) LoadScriptFile(script);
    }
} startup;

}  // namespace

int Record(const std::string& call, const std::string& args, int result) {
    const std::string line = call + "(" + args + ")=" + std::to_string(result) + "\n";
    calls += line;
    if (!logPath.empty()) std::ofstream(logPath, std::ios::app) << line;
    return result;
}

bool TakeFailure(const std::string& call, const std::string* sql, tFailure& failure) {
    for (auto it = failures.begin(); it != failures.end(); ++it) {
        if (it->target == call || (sql && Matches(it->target, *sql))) {
            failure = *it;
            failures.erase(it);
            return true;
        }
    }
    return false;
}

bool TakeNextResult(const std::string& sql, tResult& result) {
    for (auto it = results.begin(); it != results.end(); ++it) {
        if (Matches(it->pattern, sql)) {
            result = *it;
            results.erase(it);
            return true;
        }
    }
    return false;
}

tResult TakeResult(const std::string& sql) {
    tResult result{};
    TakeNextResult(sql, result);
    return result;
}

bool Matches(const std::string& pattern, const std::string& sql) {
    if (pattern == "*") return true;
    if (!pattern.empty() && pattern.back() == '*') {
        return sql.compare(0, pattern.size() - 1, pattern, 0, pattern.size() - 1) == 0;
    }
    return pattern == sql;
}

std::string Text(const char* text, int length) {
    if (!text) return "";
    return length < 0 ? std::string(text) : std::string(text, static_cast<size_t>(length));
}

std::string ErrorText(int code) {
    // The texts of the errors that the library raises by itself, unless scripted otherwise.
    static const std::map<int, std::string> own = {
        {1403, "no data found"},
        {1405, "fetched column value is NULL"},
        {1406, "fetched column value was truncated"},
        {4043, "object does not exist"},
        {24315, "illegal attribute type"},
        {24333, "zero iteration count"},
        {24334, "no descriptor for this position"},
        {24338, "statement handle not executed"},
    };
    const std::string* known = nullptr;
    if (errorTexts.count(code)) known = &errorTexts.at(code);
    if (!known && own.count(code)) known = &own.at(code);
    char text[600];
    if (known) {
        std::snprintf(text, sizeof text, "ORA-%05d: %s", code, known->c_str());
    } else {
        std::snprintf(text, sizeof text, "ORA-%05d: message %d not found", code, code);
    }
    return text;
}

std::string BindText(const tBind& bind) {
    if (!bind.value) return "NULL";
    const char* bytes = static_cast<const char*>(bind.value);
    const size_t length = bind.length > 0 ? static_cast<size_t>(bind.length) : 0;
    if (bind.type == 4 && bind.length == 8) {
        double number = 0;
        std::memcpy(&number, bytes, sizeof number);
        char text[64];
        std::snprintf(text, sizeof text, "%.15g", number);
        return text;
    }
    if (bind.type == 5) return "'" + std::string(bytes, strnlen(bytes, length)) + "'";
    if (bind.type == 1 || bind.type == 96) return "'" + std::string(bytes, length) + "'";
    if (bind.type == 12 && length == 7) {
        std::string text = "date(";
        for (size_t i = 0; i < length; ++i) {
            text += (i ? "," : "") + std::to_string(static_cast<unsigned char>(bytes[i]));
        }
        return text + ")";
    }
    return "<" + std::to_string(bind.length) + " bytes>";
}

std::string JoinBinds(const std::map<int, tBind>& binds) {
    std::string text;
    for (const auto& bind : binds) {
        text += " [" + std::to_string(bind.first) + "=" + BindText(bind.second) + "]";
    }
    return text;
}

}  // namespace recoci

using namespace recoci;

extern "C" {

void RecOciReset(void) {
    std::lock_guard<std::mutex> hold(lock);
    results.clear();
    failures.clear();
    errorTexts.clear();
    procedures.clear();
    currentProcedure.clear();
    calls.clear();
}

void RecOciAddResult(const char* sqlPattern) {
    std::lock_guard<std::mutex> hold(lock);
    results.push_back(tResult{sqlPattern, {}, {}});
}

void RecOciAddColumn(const char* name, int oracleType, int size) {
    std::lock_guard<std::mutex> hold(lock);
    Current().columns.push_back(tColumn{name, oracleType, size});
}

void RecOciAddRow(void) {
    std::lock_guard<std::mutex> hold(lock);
    Current().rows.emplace_back();
}

void RecOciAddValueBytes(const void* bytes, size_t length) {
    std::lock_guard<std::mutex> hold(lock);
    tResult& result = Current();
    if (result.rows.empty() || result.rows.back().size() >= result.columns.size()) {
        std::fprintf(stderr, "recoci: value beyond the columns or without a row\n");
        std::abort();
    }
    tValue value;
    value.isNull = bytes == nullptr;
    if (bytes) value.bytes.assign(static_cast<const char*>(bytes), length);
    result.rows.back().push_back(value);
}

void RecOciAddValue(const char* text) { RecOciAddValueBytes(text, text ? std::strlen(text) : 0); }

void RecOciFailNext(const char* target, int code, const char* text) {
    AddFailure(target, code, kDefaultAnswer, text);
}

void RecOciAnswerNext(const char* target, int answer, int code, const char* text) {
    AddFailure(target, code, answer, text);
}

void RecOciAddProcedure(const char* name) {
    std::lock_guard<std::mutex> hold(lock);
    currentProcedure = name;
    procedures[name].clear();
}

void RecOciAddArgument(const char* name, int oracleType, int mode) {
    std::lock_guard<std::mutex> hold(lock);
    procedures[currentProcedure].push_back(tArgument{name, oracleType, mode});
}

const char* RecOciCalls(void) {
    std::lock_guard<std::mutex> hold(lock);
    callsCopy = calls;
    return callsCopy.c_str();
}

void RecOciClearLog(void) {
    std::lock_guard<std::mutex> hold(lock);
    calls.clear();
}

}  // extern "C"
