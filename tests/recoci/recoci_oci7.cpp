// The recording OCI library's OCI 7 call set: logon and cursor data areas carrying the 16-bit
// return code at byte 12, described columns ending with 1007, fetches ending with 1403.
#pragma GCC visibility push(default)
#include "server/drivers/oci_api.h"
#pragma GCC visibility pop

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "tests/recoci/recoci_internal.h"

using namespace recoci;

namespace {

struct tDefine {
    void* buffer = nullptr;
    int length = 0;
    int type = 0;
    int16_t* indicator = nullptr;
    uint16_t* returned = nullptr;
};
struct tCursor {
    std::string sql;
    tResult result;
    size_t nextRow = 0;
    std::map<int, tDefine> defines;
    std::map<int, tBind> binds;
};

std::map<const void*, tCursor> cursors;

void SetCode(void* area, int code) {
    const uint16_t word = static_cast<uint16_t>(code);
    std::memcpy(static_cast<char*>(area) + kOCI7ReturnCodeOffset, &word, sizeof word);
}

// Logs the call and leaves its code in the data area.
int Record(void* area, const std::string& call, const std::string& args, int code) {
    if (area) SetCode(area, code);
    return recoci::Record(call, args, code);
}

// The code of a scripted failure for the entry point or the SQL text; 0 when none.
int TakeFailure(const std::string& call, const std::string* sql) {
    tFailure failure;
    if (!recoci::TakeFailure(call, sql, failure)) return 0;
    return failure.answer == kDefaultAnswer ? failure.code : failure.answer;
}

// A fetched value into its define; a null value makes the fetch answer 1405.
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

// Calls on the logon area that only succeed or fail as scripted.
int SimpleCall(void* area, const char* call) {
    std::lock_guard<std::mutex> hold(lock);
    return Record(area, call, "", TakeFailure(call, nullptr));
}

}  // namespace

extern "C" {

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
    cursor.result = TakeResult(text);
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
    args += JoinBinds(cursor.binds);
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
    const std::string text = ErrorText(code);
    int n = 0;
    if (bufferSize > 0) {
        n = static_cast<int>(std::min(text.size(), static_cast<size_t>(bufferSize) - 1));
        std::memcpy(buffer, text.data(), static_cast<size_t>(n));
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
