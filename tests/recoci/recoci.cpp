// The recording OCI library: OCI 7 entry points over scripted results, with one log line per
// call. One lock guards everything; no entry point calls another.
#pragma GCC visibility push(default)
#include "tests/recoci/recoci.h"

#include "server/drivers/oci_api.h"
#pragma GCC visibility pop

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

// The entry points keep the driver's signatures (oci_api.h) and are the library's exports.
#define GM_RECOCI_EXPORT __attribute__((visibility("default")))

namespace {

struct tValue {
    bool isNull = true;
    std::string bytes;
};
struct tColumn {
    std::string name;
    int type = 1;
    int size = 0;
};
struct tResult {
    std::string pattern;
    std::vector<tColumn> columns;
    std::vector<std::vector<tValue>> rows;
};
struct tFailure {
    std::string target;
    int code = 0;
};
struct tArgument {
    std::string name;
    int type = 0;
    int mode = 0;
};
struct tDefine {
    void* buffer = nullptr;
    int length = 0;
    int type = 0;
    int16_t* indicator = nullptr;
    uint16_t* returned = nullptr;
};
struct tBind {
    const void* value = nullptr;
    int length = 0;
    int type = 0;
};
struct tCursor {
    std::string sql;
    tResult result;
    size_t nextRow = 0;
    std::map<int, tDefine> defines;
    std::map<int, tBind> binds;
};

std::mutex lock;
std::deque<tResult> results;
std::vector<tFailure> failures;
std::map<int, std::string> errorTexts;
std::map<std::string, std::vector<tArgument>> procedures;
std::string currentProcedure;
std::map<const void*, tCursor> cursors;
std::string calls;
std::string callsCopy;
std::string logPath;

bool Matches(const std::string& pattern, const std::string& sql) {
    if (pattern == "*") return true;
    if (!pattern.empty() && pattern.back() == '*') {
        return sql.compare(0, pattern.size() - 1, pattern, 0, pattern.size() - 1) == 0;
    }
    return pattern == sql;
}

void SetCode(void* area, int code) {
    const uint16_t word = static_cast<uint16_t>(code);
    std::memcpy(static_cast<char*>(area) + kOCI7ReturnCodeOffset, &word, sizeof word);
}

int Record(void* area, const std::string& call, const std::string& args, int code) {
    if (area) SetCode(area, code);
    const std::string line = call + "(" + args + ")=" + std::to_string(code) + "\n";
    calls += line;
    if (!logPath.empty()) {
        std::ofstream(logPath, std::ios::app) << line;
    }
    return code;
}

// The code of a scripted failure for the entry point or the SQL text, used once; 0 when none.
int TakeFailure(const std::string& call, const std::string* sql) {
    for (size_t i = 0; i < failures.size(); ++i) {
        if (failures[i].target == call || (sql && Matches(failures[i].target, *sql))) {
            const int code = failures[i].code;
            failures.erase(failures.begin() + static_cast<long>(i));
            return code;
        }
    }
    return 0;
}

std::string Text(const char* text, int length) {
    if (!text) return "";
    return length < 0 ? std::string(text) : std::string(text, static_cast<size_t>(length));
}

std::string BindText(const tBind& bind) {
    if (!bind.value) return "NULL";
    const char* bytes = static_cast<const char*>(bind.value);
    if (bind.type == 4 && bind.length == 8) {
        double number = 0;
        std::memcpy(&number, bytes, sizeof number);
        char text[64];
        std::snprintf(text, sizeof text, "%.15g", number);
        return text;
    }
    if (bind.type == 5) return "'" + std::string(bytes, strnlen(bytes, bind.length)) + "'";
    if (bind.type == 1) return "'" + std::string(bytes, static_cast<size_t>(bind.length)) + "'";
    return "<" + std::to_string(bind.length) + " bytes>";
}

tResult& Current() {
    if (results.empty()) {
        std::fprintf(stderr, "recoci: no result to add to\n");
        std::abort();
    }
    return results.back();
}

void StoreValue(const tValue& value, const tDefine& define, int* code) {
    if (define.indicator) *define.indicator = value.isNull ? -1 : 0;
    if (value.isNull) {
        *code = 1405;
        if (define.returned) *define.returned = 0;
        return;
    }
    if (define.type == 4) {
        const double number = std::strtod(value.bytes.c_str(), nullptr);
        if (define.length >= 8) std::memcpy(define.buffer, &number, sizeof number);
        return;
    }
    const size_t room = define.length > 0 ? static_cast<size_t>(define.length) : 0;
    const size_t n = value.bytes.size() < room ? value.bytes.size() : room;
    std::memcpy(define.buffer, value.bytes.data(), n);
    if (define.type != 24 && n < room) static_cast<char*>(define.buffer)[n] = '\0';
    if (define.returned) *define.returned = static_cast<uint16_t>(n < 0xFFFF ? n : 0xFFFF);
}

void LoadScriptFile(const char* path) {
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> parts;
        std::stringstream fields(line);
        std::string part;
        while (std::getline(fields, part, '\t')) parts.push_back(part);
        const std::string& kind = parts[0];
        auto at = [&](size_t i) { return i < parts.size() ? parts[i] : std::string(); };
        if (kind == "RESULT") {
            RecOciAddResult(at(1).c_str());
        } else if (kind == "COLUMN") {
            RecOciAddColumn(at(1).c_str(), std::atoi(at(2).c_str()), std::atoi(at(3).c_str()));
        } else if (kind == "ROW") {
            RecOciAddRow();
            for (size_t i = 1; i < parts.size(); ++i) {
                RecOciAddValue(parts[i] == "\\N" ? nullptr : parts[i].c_str());
            }
        } else if (kind == "FAIL") {
            RecOciFailNext(at(1).c_str(), std::atoi(at(2).c_str()), at(3).c_str());
        } else if (kind == "PROCEDURE") {
            RecOciAddProcedure(at(1).c_str());
        } else if (kind == "ARGUMENT") {
            RecOciAddArgument(at(1).c_str(), std::atoi(at(2).c_str()), std::atoi(at(3).c_str()));
        }
    }
}

struct tStartup {
    tStartup() {
        if (const char* log = std::getenv("GM_RECOCI_LOG")) logPath = log;
        if (const char* script = std::getenv("GM_RECOCI_SCRIPT")) LoadScriptFile(script);
    }
} startup;

// Calls on the logon area that only succeed or fail as scripted.
int SimpleCall(void* area, const char* call) {
    std::lock_guard<std::mutex> hold(lock);
    return Record(area, call, "", TakeFailure(call, nullptr));
}

}  // namespace

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
    std::lock_guard<std::mutex> hold(lock);
    failures.push_back(tFailure{target, code});
    errorTexts[code] = text ? text : "";
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

#ifndef GM_RECOCI_NO_OPINIT
GM_RECOCI_EXPORT int opinit(int mode) {
    std::lock_guard<std::mutex> hold(lock);
    return Record(nullptr, "opinit", std::to_string(mode), 0);
}
#endif

GM_RECOCI_EXPORT int olog(void* lda, void*, const char* user, int userLength, const char*, int,
                          const char* service, int serviceLength, int mode) {
    std::lock_guard<std::mutex> hold(lock);
    return Record(
        lda, "olog",
        Text(user, userLength) + "," + Text(service, serviceLength) + "," + std::to_string(mode),
        TakeFailure("olog", nullptr));
}

GM_RECOCI_EXPORT int ologof(void* lda) { return SimpleCall(lda, "ologof"); }
GM_RECOCI_EXPORT int ocof(void* lda) { return SimpleCall(lda, "ocof"); }
GM_RECOCI_EXPORT int ocom(void* lda) { return SimpleCall(lda, "ocom"); }
GM_RECOCI_EXPORT int ocon(void* lda) { return SimpleCall(lda, "ocon"); }
GM_RECOCI_EXPORT int orol(void* lda) { return SimpleCall(lda, "orol"); }

GM_RECOCI_EXPORT int oopen(void* cda, void*, const char*, int, int, const char*, int) {
    std::lock_guard<std::mutex> hold(lock);
    const int code = TakeFailure("oopen", nullptr);
    if (code == 0) cursors[cda] = tCursor{};
    return Record(cda, "oopen", "", code);
}

GM_RECOCI_EXPORT int oclose(void* cda) {
    std::lock_guard<std::mutex> hold(lock);
    const int code = cursors.erase(cda) ? TakeFailure("oclose", nullptr) : 1001;
    return Record(cda, "oclose", "", code);
}

GM_RECOCI_EXPORT int oparse(void* cda, const char* sql, int sqlLength, int deferred,
                            int behaviour) {
    std::lock_guard<std::mutex> hold(lock);
    auto found = cursors.find(cda);
    const std::string text = Text(sql, sqlLength);
    const std::string args =
        text + "," + std::to_string(deferred) + "," + std::to_string(behaviour);
    if (found == cursors.end()) return Record(cda, "oparse", args, 1001);
    tCursor& cursor = found->second;
    cursor = tCursor{};
    cursor.sql = text;
    if (const int code = TakeFailure("oparse", &text)) return Record(cda, "oparse", args, code);
    for (auto it = results.begin(); it != results.end(); ++it) {
        if (Matches(it->pattern, text)) {
            cursor.result = *it;
            results.erase(it);
            break;
        }
    }
    return Record(cda, "oparse", args, 0);
}

GM_RECOCI_EXPORT int odescr(void* cda, int position, int32_t* size, int16_t* type, char* name,
                            int32_t* nameLength, int32_t* displaySize, int16_t* precision,
                            int16_t* scale, int16_t* nullOk) {
    std::lock_guard<std::mutex> hold(lock);
    auto found = cursors.find(cda);
    if (found == cursors.end()) return Record(cda, "odescr", std::to_string(position), 1001);
    const std::vector<tColumn>& columns = found->second.result.columns;
    if (position < 1 || static_cast<size_t>(position) > columns.size()) {
        return Record(cda, "odescr", std::to_string(position), 1007);
    }
    const tColumn& column = columns[static_cast<size_t>(position) - 1];
    *size = column.size;
    *type = static_cast<int16_t>(column.type);
    const size_t n = column.name.size() < static_cast<size_t>(*nameLength)
                         ? column.name.size()
                         : static_cast<size_t>(*nameLength);
    std::memcpy(name, column.name.data(), n);
    *nameLength = static_cast<int32_t>(n);
    *displaySize = column.size;
    *precision = 0;
    *scale = 0;
    *nullOk = 1;
    return Record(cda, "odescr", std::to_string(position), 0);
}

GM_RECOCI_EXPORT int odefin(void* cda, int position, void* buffer, int bufferLength, int type,
                            int scale, int16_t* indicator, const char*, int, int,
                            uint16_t* returnedLength, uint16_t*) {
    std::lock_guard<std::mutex> hold(lock);
    const std::string args = std::to_string(position) + "," + std::to_string(bufferLength) + "," +
                             std::to_string(type) + "," + std::to_string(scale);
    auto found = cursors.find(cda);
    if (found == cursors.end()) return Record(cda, "odefin", args, 1001);
    found->second.defines[position] =
        tDefine{buffer, bufferLength, type, indicator, returnedLength};
    return Record(cda, "odefin", args, TakeFailure("odefin", nullptr));
}

GM_RECOCI_EXPORT int obndrn(void* cda, int placeholder, const void* value, int valueLength,
                            int type, int scale, int16_t*, const char*, int, int formatType) {
    std::lock_guard<std::mutex> hold(lock);
    const std::string args = std::to_string(placeholder) + "," + std::to_string(valueLength) + "," +
                             std::to_string(type) + "," + std::to_string(scale) + "," +
                             std::to_string(formatType);
    auto found = cursors.find(cda);
    if (found == cursors.end()) return Record(cda, "obndrn", args, 1001);
    found->second.binds[placeholder] = tBind{value, valueLength, type};
    return Record(cda, "obndrn", args, TakeFailure("obndrn", nullptr));
}

GM_RECOCI_EXPORT int oexec(void* cda) {
    std::lock_guard<std::mutex> hold(lock);
    auto found = cursors.find(cda);
    if (found == cursors.end()) return Record(cda, "oexec", "", 1001);
    tCursor& cursor = found->second;
    std::string args = cursor.sql;
    for (const auto& bind : cursor.binds) {
        args += " [" + std::to_string(bind.first) + "=" + BindText(bind.second) + "]";
    }
    cursor.nextRow = 0;
    return Record(cda, "oexec", args, TakeFailure("oexec", &cursor.sql));
}

GM_RECOCI_EXPORT int ofetch(void* cda) {
    std::lock_guard<std::mutex> hold(lock);
    auto found = cursors.find(cda);
    if (found == cursors.end()) return Record(cda, "ofetch", "", 1001);
    tCursor& cursor = found->second;
    if (cursor.nextRow >= cursor.result.rows.size()) return Record(cda, "ofetch", "", 1403);
    const std::vector<tValue>& row = cursor.result.rows[cursor.nextRow++];
    int code = 0;
    for (const auto& define : cursor.defines) {
        const size_t index = static_cast<size_t>(define.first) - 1;
        if (index < row.size()) StoreValue(row[index], define.second, &code);
    }
    return Record(cda, "ofetch", "", code);
}

GM_RECOCI_EXPORT int oerhms(void* lda, int code, char* buffer, int bufferSize) {
    std::lock_guard<std::mutex> hold(lock);
    auto found = errorTexts.find(code);
    char text[600];
    if (found != errorTexts.end()) {
        std::snprintf(text, sizeof text, "ORA-%05d: %s", code, found->second.c_str());
    } else {
        std::snprintf(text, sizeof text, "ORA-%05d: message %d not found", code, code);
    }
    int n = 0;
    if (bufferSize > 0) {
        n = static_cast<int>(strnlen(text, static_cast<size_t>(bufferSize) - 1));
        std::memcpy(buffer, text, static_cast<size_t>(n));
        buffer[n] = '\0';
    }
    (void)lda;  // the text does not depend on the logon
    Record(nullptr, "oerhms", std::to_string(code), 0);
    return n;
}

GM_RECOCI_EXPORT int odessp(void* lda, const char* name, int nameLength, void*, int, void*, int,
                            uint16_t* overload, uint16_t* position, uint16_t* level,
                            char (*argumentNames)[30], uint16_t* nameLengths, uint16_t* dataTypes,
                            uint8_t* defaults, uint8_t* modes, uint32_t* dataSizes,
                            int16_t* precisions, int16_t* scales, uint8_t* radixes, uint32_t* spare,
                            uint32_t* count) {
    std::lock_guard<std::mutex> hold(lock);
    const std::string procedure = Text(name, nameLength);
    auto found = procedures.find(procedure);
    if (found == procedures.end()) return Record(lda, "odessp", procedure, 4043);
    if (const int code = TakeFailure("odessp", nullptr)) {
        return Record(lda, "odessp", procedure, code);
    }
    const std::vector<tArgument>& arguments = found->second;
    const uint32_t n = arguments.size() < *count ? static_cast<uint32_t>(arguments.size()) : *count;
    for (uint32_t i = 0; i < n; ++i) {
        const tArgument& argument = arguments[i];
        overload[i] = 0;
        position[i] = static_cast<uint16_t>(i + 1);
        level[i] = 0;
        const size_t length = argument.name.size() < 30 ? argument.name.size() : 30;
        std::memcpy(argumentNames[i], argument.name.data(), length);
        nameLengths[i] = static_cast<uint16_t>(length);
        dataTypes[i] = static_cast<uint16_t>(argument.type);
        defaults[i] = 0;
        modes[i] = static_cast<uint8_t>(argument.mode);
        dataSizes[i] = 0;
        precisions[i] = 0;
        scales[i] = 0;
        radixes[i] = 10;
        spare[i] = 0;
    }
    *count = n;
    return Record(lda, "odessp", procedure, 0);
}

}  // extern "C"

#ifndef GM_RECOCI_NO_OPINIT
static_assert(std::is_same<decltype(&opinit), tOpinit>::value, "opinit as the driver calls it");
#endif
static_assert(std::is_same<decltype(&olog), tOlog>::value, "olog as the driver calls it");
static_assert(std::is_same<decltype(&ologof), tOlogof>::value, "ologof as the driver calls it");
static_assert(std::is_same<decltype(&ocof), tOcof>::value, "ocof as the driver calls it");
static_assert(std::is_same<decltype(&ocom), tOcom>::value, "ocom as the driver calls it");
static_assert(std::is_same<decltype(&ocon), tOcon>::value, "ocon as the driver calls it");
static_assert(std::is_same<decltype(&orol), tOrol>::value, "orol as the driver calls it");
static_assert(std::is_same<decltype(&oopen), tOopen>::value, "oopen as the driver calls it");
static_assert(std::is_same<decltype(&oclose), tOclose>::value, "oclose as the driver calls it");
static_assert(std::is_same<decltype(&oparse), tOparse>::value, "oparse as the driver calls it");
static_assert(std::is_same<decltype(&odescr), tOdescr>::value, "odescr as the driver calls it");
static_assert(std::is_same<decltype(&odefin), tOdefin>::value, "odefin as the driver calls it");
static_assert(std::is_same<decltype(&obndrn), tObndrn>::value, "obndrn as the driver calls it");
static_assert(std::is_same<decltype(&oexec), tOexec>::value, "oexec as the driver calls it");
static_assert(std::is_same<decltype(&ofetch), tOfetch>::value, "ofetch as the driver calls it");
static_assert(std::is_same<decltype(&oerhms), tOerhms>::value, "oerhms as the driver calls it");
static_assert(std::is_same<decltype(&odessp), tOdessp>::value, "odessp as the driver calls it");
