// The recording OCI library's OCI 8 statements: prepare (the statement type from the first word),
// defines and binds by position, execution honouring the iteration count, and fetches that give
// 1405 for a null without an indicator, 1406 for a value its define cannot hold and 100 at the end.
#pragma GCC visibility push(default)
#include "server/drivers/oci_api.h"
#pragma GCC visibility pop

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "tests/recoci/recoci_oci8.h"

using namespace recoci;

namespace {

constexpr int kNullFetched = 1405;
constexpr int kTruncated = 1406;
constexpr int kNoDataFound = 1403;
constexpr int kZeroIterations = 24333;
constexpr int kNotExecuted = 24338;
constexpr uint16_t kSelect = 1;

uint16_t StatementType(const std::string& sql) {
    std::string word;
    for (char c : sql) {
        if (std::isspace(static_cast<unsigned char>(c))) {
            if (word.empty()) continue;
            break;
        }
        word += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    static const char* const kinds[] = {"select", "update", "delete", "insert", "create",
                                        "drop",   "alter",  "begin",  "declare"};
    for (uint16_t i = 0; i < 9; ++i) {
        if (word == kinds[i]) return static_cast<uint16_t>(i + 1);
    }
    return word == "with" ? kSelect : 0;
}

// One value into its define: 0, or the Oracle error the fetch reports for it.
int StoreValue(const tValue& value, tObject* define) {
    if (value.isNull) {
        if (define->returned) *define->returned = 0;
        if (!define->indicator) return kNullFetched;
        *define->indicator = -1;
        return 0;
    }
    if (define->indicator) *define->indicator = 0;
    if (define->valueType == 4) {
        const double number = std::strtod(value.bytes.c_str(), nullptr);
        if (define->size < 8) return kTruncated;
        std::memcpy(define->buffer, &number, sizeof number);
        return 0;
    }
    // A null-terminated string keeps one byte for its terminator.
    const bool terminated = define->valueType == 5;
    size_t room = define->size > 0 && define->buffer ? static_cast<size_t>(define->size) : 0;
    if (terminated && room > 0) --room;
    const size_t n = std::min(value.bytes.size(), room);
    if (n > 0) std::memcpy(define->buffer, value.bytes.data(), n);
    if (terminated && define->buffer && define->size > 0) static_cast<char*>(define->buffer)[n] = 0;
    if (define->returned) *define->returned = static_cast<uint16_t>(std::min<size_t>(n, 0xFFFF));
    if (n == value.bytes.size()) return 0;
    if (define->indicator) *define->indicator = static_cast<int16_t>(std::min<size_t>(n, 0x7FFF));
    return kTruncated;
}

// The next row into the defines; 0, or -1 with one record per value that failed.
int FetchRow(tObject* stmt, tObject* err) {
    const std::vector<tValue>& row = stmt->result.rows[stmt->nextRow++];
    int result = 0;
    for (const auto& define : stmt->defines) {
        const size_t index = static_cast<size_t>(define.first) - 1;
        if (index >= row.size()) continue;
        if (const int code = StoreValue(row[index], define.second)) result = Fail(err, code);
    }
    return result;
}

}  // namespace

extern "C" {

GM_RECOCI_EXPORT int OCIStmtPrepare(void* statement, void* error, const char* sql,
                                    uint32_t sqlLength, uint32_t syntax, uint32_t mode) {
    std::lock_guard<std::mutex> hold(lock);
    const std::string text = Text(sql, static_cast<int>(sqlLength));
    const std::string args = text + "," + std::to_string(syntax) + "," + std::to_string(mode);
    tObject* stmt = Find(statement, kStatementHandle);
    tObject* err = Find(error, kErrorHandle);
    if (!stmt || !err) return Record("OCIStmtPrepare", args, kInvalidHandle);
    StartCall(err);
    int answer = 0;
    if (Scripted(err, "OCIStmtPrepare", &text, answer) && answer < 0) {
        return Record("OCIStmtPrepare", args, answer);
    }
    while (!stmt->binds.empty()) Free(stmt->binds.begin()->second);
    stmt->sql = text;
    stmt->result = TakeResult(text);
    stmt->statementType = StatementType(text);
    stmt->executed = false;
    stmt->nextRow = 0;
    return Record("OCIStmtPrepare", args, answer);
}

GM_RECOCI_EXPORT int OCIDefineByPos(void* statement, void** define, void* error, uint32_t position,
                                    void* value, int32_t valueSize, uint16_t type, void* indicator,
                                    uint16_t* returnedLength, uint16_t*, uint32_t) {
    std::lock_guard<std::mutex> hold(lock);
    const std::string args =
        std::to_string(position) + "," + std::to_string(valueSize) + "," + std::to_string(type);
    tObject* stmt = Find(statement, kStatementHandle);
    tObject* err = Find(error, kErrorHandle);
    if (!stmt || !err || !define) return Record("OCIDefineByPos", args, kInvalidHandle);
    StartCall(err);
    int answer = 0;
    if (Scripted(err, "OCIDefineByPos", nullptr, answer) && answer < 0) {
        return Record("OCIDefineByPos", args, answer);
    }
    // A define handle of this statement given back is defined again.
    tObject* object = Find(*define, kDefineHandle);
    if (!object || object->parent != stmt) object = Make(kDefineHandle, stmt, true);
    object->buffer = value;
    object->size = valueSize;
    object->valueType = type;
    object->indicator = static_cast<int16_t*>(indicator);
    object->returned = returnedLength;
    stmt->defines[static_cast<int>(position)] = object;
    *define = object;
    return Record("OCIDefineByPos", args, answer);
}

GM_RECOCI_EXPORT int OCIBindByPos(void* statement, void** bind, void* error, uint32_t position,
                                  void* value, int32_t valueSize, uint16_t type, void*, uint16_t*,
                                  uint16_t*, uint32_t, uint32_t*, uint32_t) {
    std::lock_guard<std::mutex> hold(lock);
    const std::string args =
        std::to_string(position) + "," + std::to_string(valueSize) + "," + std::to_string(type);
    tObject* stmt = Find(statement, kStatementHandle);
    tObject* err = Find(error, kErrorHandle);
    if (!stmt || !err || !bind) return Record("OCIBindByPos", args, kInvalidHandle);
    StartCall(err);
    int answer = 0;
    if (Scripted(err, "OCIBindByPos", nullptr, answer) && answer < 0) {
        return Record("OCIBindByPos", args, answer);
    }
    tObject*& object = stmt->binds[static_cast<int>(position)];
    if (!object) object = Make(kBindHandle, stmt, false);  // freed with the statement
    object->bind = tBind{value, valueSize, type};
    *bind = object;
    return Record("OCIBindByPos", args, answer);
}

// A select with iterations above 0 fetches that many rows at once; any other statement needs
// at least one. Mode 32 commits on success.
GM_RECOCI_EXPORT int OCIStmtExecute(void* service, void* statement, void* error,
                                    uint32_t iterations, uint32_t, const void*, void*,
                                    uint32_t mode) {
    std::lock_guard<std::mutex> hold(lock);
    tObject* stmt = Find(statement, kStatementHandle);
    tObject* err = Find(error, kErrorHandle);
    if (!stmt || !err || !Find(service, kServiceHandle)) {
        return Record("OCIStmtExecute", "", kInvalidHandle);
    }
    std::map<int, tBind> binds;
    for (const auto& bind : stmt->binds) binds[bind.first] = bind.second->bind;
    const std::string args = stmt->sql + JoinBinds(binds) + "," + std::to_string(iterations) + "," +
                             std::to_string(mode);
    StartCall(err);
    const bool select = stmt->statementType == kSelect;
    if (!select && iterations == 0)
        return Record("OCIStmtExecute", args, Fail(err, kZeroIterations));
    int answer = 0;
    if (Scripted(err, "OCIStmtExecute", &stmt->sql, answer) && answer < 0) {
        return Record("OCIStmtExecute", args, answer);
    }
    // Executed again, a statement answers with the next scripted result of its text, if any.
    if (stmt->executed) TakeNextResult(stmt->sql, stmt->result);
    stmt->executed = true;
    stmt->nextRow = 0;
    int fetched = 0;
    for (uint32_t i = 0; select && i < iterations && stmt->nextRow < stmt->result.rows.size();
         ++i) {
        if (const int code = FetchRow(stmt, err)) fetched = code;
    }
    return Record("OCIStmtExecute", args, fetched != 0 ? fetched : answer);
}

GM_RECOCI_EXPORT int OCIStmtFetch(void* statement, void* error, uint32_t rows, uint16_t orientation,
                                  uint32_t) {
    std::lock_guard<std::mutex> hold(lock);
    const std::string args = std::to_string(rows) + "," + std::to_string(orientation);
    tObject* stmt = Find(statement, kStatementHandle);
    tObject* err = Find(error, kErrorHandle);
    if (!stmt || !err) return Record("OCIStmtFetch", args, kInvalidHandle);
    StartCall(err);
    if (!stmt->executed) return Record("OCIStmtFetch", args, Fail(err, kNotExecuted));
    int answer = 0;
    if (Scripted(err, "OCIStmtFetch", nullptr, answer) && answer < 0) {
        return Record("OCIStmtFetch", args, answer);
    }
    if (stmt->nextRow >= stmt->result.rows.size()) {
        Fail(err, kNoDataFound);
        return Record("OCIStmtFetch", args, kNoData);
    }
    const int code = FetchRow(stmt, err);
    return Record("OCIStmtFetch", args, code != 0 ? code : answer);
}

}  // extern "C"

static_assert(std::is_same<decltype(&OCIStmtPrepare), tOCIStmtPrepare>::value, "");
static_assert(std::is_same<decltype(&OCIDefineByPos), tOCIDefineByPos>::value, "");
static_assert(std::is_same<decltype(&OCIBindByPos), tOCIBindByPos>::value, "");
static_assert(std::is_same<decltype(&OCIStmtExecute), tOCIStmtExecute>::value, "");
static_assert(std::is_same<decltype(&OCIStmtFetch), tOCIStmtFetch>::value, "");
