// The recording OCI library's OCI 8 handles: the environment, error and service-context handles,
// logon and transactions, error records numbered from 1, the client version, and the describe
// handle with the parameter descriptors of select lists and described procedures.
#pragma GCC visibility push(default)
#include "server/drivers/oci_api.h"
#include "tests/recoci/recoci.h"
#pragma GCC visibility pop

#include <algorithm>
#include <cstring>
#include <memory>
#include <type_traits>

#include "tests/recoci/recoci_oci8.h"

namespace recoci {

namespace {

std::map<const void*, std::unique_ptr<tObject>> objects;

constexpr int kNotExecuted = 24338;
constexpr int kNoDescriptor = 24334;
constexpr int kBadAttribute = 24315;
constexpr int kNoSuchObject = 4043;

// A parameter descriptor of a described procedure, made once per kind and index.
tObject* Child(tObject* parent, tParamKind kind, size_t index) {
    for (const auto& entry : objects) {
        tObject* object = entry.second.get();
        if (object->parent == parent && object->type == kParameter && object->kind == kind &&
            object->index == index) {
            return object;
        }
    }
    tObject* child = Make(kParameter, parent, false);
    child->kind = kind;
    child->index = index;
    return child;
}

const tArgument* ArgumentOf(const tObject* param) {
    const tObject* describe = param->parent;
    while (describe && describe->type != kDescribeHandle) describe = describe->parent;
    if (!describe) return nullptr;
    const auto found = procedures.find(describe->procedure);
    if (found == procedures.end() || param->index >= found->second.size()) return nullptr;
    return &found->second[param->index];
}

size_t ArgumentCount(const tObject* param) {
    const auto found = procedures.find(param->parent->parent->procedure);
    return found == procedures.end() ? 0 : found->second.size();
}

void PutName(const std::string& name, void* value, uint32_t* size) {
    *static_cast<const char**>(value) = name.c_str();
    if (size) *size = static_cast<uint32_t>(name.size());
}

void PutU16(int number, void* value) {
    const uint16_t word = static_cast<uint16_t>(number);
    std::memcpy(value, &word, sizeof word);
}

// The attributes of a parameter descriptor; false for one it does not have.
bool ParameterAttribute(tObject* param, uint32_t attribute, void* value, uint32_t* size) {
    if (param->kind == tParamKind::kColumn) {
        const std::vector<tColumn>& columns = param->parent->result.columns;
        if (param->index >= columns.size()) return false;  // the statement was prepared again
        const tColumn& column = columns[param->index];
        if (attribute == 1) PutU16(column.size, value);
        if (attribute == 2) PutU16(column.type, value);
        if (attribute == 4) PutName(column.name, value, size);
        return attribute == 1 || attribute == 2 || attribute == 4;
    }
    if (param->kind == tParamKind::kProcedure && attribute == 108) {
        *static_cast<void**>(value) = Child(param, tParamKind::kArguments, 0);
        return true;
    }
    if (param->kind == tParamKind::kArguments && attribute == 121) {
        PutU16(static_cast<int>(ArgumentCount(param)), value);
        return true;
    }
    const tArgument* argument = ArgumentOf(param);
    if (param->kind != tParamKind::kArgument || !argument) return false;
    if (attribute == 4) PutName(argument->name, value, size);
    if (attribute == 2) PutU16(argument->type, value);
    if (attribute == 213) *static_cast<uint32_t*>(value) = static_cast<uint32_t>(argument->mode);
    return attribute == 4 || attribute == 2 || attribute == 213;
}

// Calls that only check their handles and answer as scripted.
int SimpleCall(const char* call, void* service, void* error, const std::string& args) {
    std::lock_guard<std::mutex> hold(lock);
    tObject* err = Find(error, kErrorHandle);
    if (!Find(service, kServiceHandle) || !err) return Record(call, args, kInvalidHandle);
    StartCall(err);
    int answer = 0;
    Scripted(err, call, nullptr, answer);
    return Record(call, args, answer);
}

}  // namespace

tObject* Find(const void* handle, uint32_t type) {
    const auto found = objects.find(handle);
    if (found == objects.end() || found->second->type != type) return nullptr;
    return found->second.get();
}

tObject* Make(uint32_t type, tObject* parent, bool callerFrees) {
    auto object = std::make_unique<tObject>();
    object->type = type;
    object->parent = parent;
    object->callerFrees = callerFrees;
    tObject* made = object.get();
    objects[made] = std::move(object);
    return made;
}

void Free(tObject* object) {
    std::vector<tObject*> children;
    for (const auto& entry : objects) {
        if (entry.second->parent == object) children.push_back(entry.second.get());
    }
    for (tObject* child : children) Free(child);
    if (object->parent) {
        for (auto* uses : {&object->parent->defines, &object->parent->binds}) {
            for (auto it = uses->begin(); it != uses->end();) {
                it = it->second == object ? uses->erase(it) : std::next(it);
            }
        }
    }
    objects.erase(object);
}

void StartCall(tObject* err) { err->records.clear(); }

bool Scripted(tObject* err, const std::string& call, const std::string* sql, int& answer) {
    tFailure failure;
    if (!TakeFailure(call, sql, failure)) return false;
    if (failure.code != 0) err->records.emplace_back(failure.code, ErrorText(failure.code));
    answer = failure.answer == kDefaultAnswer ? kError : failure.answer;
    return true;
}

int Fail(tObject* err, int code) {
    err->records.emplace_back(code, ErrorText(code));
    return kError;
}

}  // namespace recoci

using namespace recoci;

extern "C" {

int RecOciOpenHandles(void) {
    std::lock_guard<std::mutex> hold(lock);
    return static_cast<int>(std::count_if(objects.begin(), objects.end(), [](const auto& entry) {
        return entry.second->callerFrees;
    }));
}

#ifndef GM_RECOCI_NO_ENVCREATE
GM_RECOCI_EXPORT int OCIEnvCreate(void** env, uint32_t mode, void*, void*, void*, void*,
                                  std::size_t, void**) {
    std::lock_guard<std::mutex> hold(lock);
    *env = Make(kEnvHandle, nullptr, true);
    return Record("OCIEnvCreate", std::to_string(mode), 0);
}
#endif

GM_RECOCI_EXPORT int OCIInitialize(uint32_t mode, void*, void*, void*, void*) {
    std::lock_guard<std::mutex> hold(lock);
    return Record("OCIInitialize", std::to_string(mode), 0);
}

GM_RECOCI_EXPORT int OCIEnvInit(void** env, uint32_t mode, std::size_t, void**) {
    std::lock_guard<std::mutex> hold(lock);
    *env = Make(kEnvHandle, nullptr, true);
    return Record("OCIEnvInit", std::to_string(mode), 0);
}

GM_RECOCI_EXPORT int OCIHandleAlloc(const void* parent, void** handle, uint32_t type, std::size_t,
                                    void**) {
    std::lock_guard<std::mutex> hold(lock);
    const bool known = type == kErrorHandle || type == kServiceHandle || type == kStatementHandle ||
                       type == kDescribeHandle;
    if (!Find(parent, kEnvHandle) || !known) {
        return Record("OCIHandleAlloc", std::to_string(type), kInvalidHandle);
    }
    *handle = Make(type, nullptr, true);
    return Record("OCIHandleAlloc", std::to_string(type), 0);
}

GM_RECOCI_EXPORT int OCIHandleFree(void* handle, uint32_t type) {
    std::lock_guard<std::mutex> hold(lock);
    tObject* object = type == kParameter ? nullptr : Find(handle, type);
    if (!object) return Record("OCIHandleFree", std::to_string(type), kInvalidHandle);
    Free(object);
    return Record("OCIHandleFree", std::to_string(type), 0);
}

GM_RECOCI_EXPORT int OCIDescriptorFree(void* descriptor, uint32_t type) {
    std::lock_guard<std::mutex> hold(lock);
    tObject* object = type == kParameter ? Find(descriptor, kParameter) : nullptr;
    // Descriptors of a described procedure belong to its describe handle.
    if (!object || !object->callerFrees) {
        return Record("OCIDescriptorFree", std::to_string(type), kInvalidHandle);
    }
    Free(object);
    return Record("OCIDescriptorFree", std::to_string(type), 0);
}

GM_RECOCI_EXPORT int OCILogon(void* env, void* error, void** service, const char* user,
                              uint32_t userLength, const char*, uint32_t, const char* database,
                              uint32_t databaseLength) {
    std::lock_guard<std::mutex> hold(lock);
    const std::string args = Text(user, static_cast<int>(userLength)) + "," +
                             Text(database, static_cast<int>(databaseLength));
    tObject* err = Find(error, kErrorHandle);
    if (!Find(env, kEnvHandle) || !err) return Record("OCILogon", args, kInvalidHandle);
    StartCall(err);
    int answer = 0;
    if (Scripted(err, "OCILogon", nullptr, answer) && answer < 0) {
        return Record("OCILogon", args, answer);
    }
    *service = Make(kServiceHandle, nullptr, true);
    return Record("OCILogon", args, answer);
}

// Ends the session and frees the service context that OCILogon made.
GM_RECOCI_EXPORT int OCILogoff(void* service, void* error) {
    std::lock_guard<std::mutex> hold(lock);
    tObject* svc = Find(service, kServiceHandle);
    if (!svc || !Find(error, kErrorHandle)) return Record("OCILogoff", "", kInvalidHandle);
    Free(svc);
    return Record("OCILogoff", "", 0);
}

GM_RECOCI_EXPORT int OCITransStart(void* service, void* error, unsigned, uint32_t flags) {
    return SimpleCall("OCITransStart", service, error, std::to_string(flags));
}
GM_RECOCI_EXPORT int OCITransDetach(void* service, void* error, uint32_t flags) {
    return SimpleCall("OCITransDetach", service, error, std::to_string(flags));
}
GM_RECOCI_EXPORT int OCITransCommit(void* service, void* error, uint32_t flags) {
    return SimpleCall("OCITransCommit", service, error, std::to_string(flags));
}
GM_RECOCI_EXPORT int OCITransRollback(void* service, void* error, uint32_t flags) {
    return SimpleCall("OCITransRollback", service, error, std::to_string(flags));
}

GM_RECOCI_EXPORT int OCIErrorGet(void* handle, uint32_t record, char*, int32_t* code, char* buffer,
                                 uint32_t bufferSize, uint32_t type) {
    std::lock_guard<std::mutex> hold(lock);
    const std::string args = std::to_string(record);
    tObject* err = type == kErrorHandle ? Find(handle, kErrorHandle) : nullptr;
    if (!err) return Record("OCIErrorGet", args, kInvalidHandle);
    if (record < 1 || record > err->records.size()) return Record("OCIErrorGet", args, kNoData);
    const auto& entry = err->records[record - 1];
    *code = entry.first;
    if (bufferSize > 0) {
        const size_t n = std::min(entry.second.size(), static_cast<size_t>(bufferSize) - 1);
        std::memcpy(buffer, entry.second.data(), n);
        buffer[n] = '\0';
    }
    return Record("OCIErrorGet", args, 0);
}

#ifndef GM_RECOCI_NO_CLIENTVERSION
GM_RECOCI_EXPORT int OCIClientVersion(int* major, int* minor, int* update, int* patch,
                                      int* portUpdate) {
    std::lock_guard<std::mutex> hold(lock);
    *major = 12;
    *minor = 1;
    *update = 0;
    *patch = 2;
    *portUpdate = 3;
    return Record("OCIClientVersion", "", 0);
}
#endif

GM_RECOCI_EXPORT int OCIDescribeAny(void* service, void* error, void* object, uint32_t objectLength,
                                    uint8_t pointerType, uint8_t infoLevel, uint8_t objectType,
                                    void* describe) {
    std::lock_guard<std::mutex> hold(lock);
    const std::string name = Text(static_cast<const char*>(object), static_cast<int>(objectLength));
    const std::string args = name + "," + std::to_string(pointerType) + "," +
                             std::to_string(infoLevel) + "," + std::to_string(objectType);
    tObject* err = Find(error, kErrorHandle);
    tObject* handle = Find(describe, kDescribeHandle);
    if (!Find(service, kServiceHandle) || !err || !handle) {
        return Record("OCIDescribeAny", args, kInvalidHandle);
    }
    StartCall(err);
    int answer = 0;
    if (Scripted(err, "OCIDescribeAny", nullptr, answer) && answer < 0) {
        return Record("OCIDescribeAny", args, answer);
    }
    if (procedures.count(name) == 0)
        return Record("OCIDescribeAny", args, Fail(err, kNoSuchObject));
    handle->procedure = name;
    return Record("OCIDescribeAny", args, answer);
}

GM_RECOCI_EXPORT int OCIAttrGet(const void* handle, uint32_t type, void* value, uint32_t* size,
                                uint32_t attribute, void* error) {
    std::lock_guard<std::mutex> hold(lock);
    const std::string args = std::to_string(type) + "," + std::to_string(attribute);
    tObject* err = Find(error, kErrorHandle);
    tObject* object = Find(handle, type);
    if (!err || !object) return Record("OCIAttrGet", args, kInvalidHandle);
    StartCall(err);
    bool known = false;
    if (type == kStatementHandle && attribute == 24) {
        PutU16(object->statementType, value);
        known = true;
    } else if (type == kDescribeHandle && attribute == 124 && !object->procedure.empty()) {
        *static_cast<void**>(value) = Child(object, tParamKind::kProcedure, 0);
        known = true;
    } else if (type == kParameter) {
        known = ParameterAttribute(object, attribute, value, size);
    }
    return Record("OCIAttrGet", args, known ? 0 : Fail(err, kBadAttribute));
}

GM_RECOCI_EXPORT int OCIAttrSet(void*, uint32_t type, void*, uint32_t, uint32_t attribute, void*) {
    std::lock_guard<std::mutex> hold(lock);
    return Record("OCIAttrSet", std::to_string(type) + "," + std::to_string(attribute), 0);
}

// A select list's columns (after execution) or a described procedure's arguments, from 1.
GM_RECOCI_EXPORT int OCIParamGet(const void* handle, uint32_t type, void* error, void** parameter,
                                 uint32_t position) {
    std::lock_guard<std::mutex> hold(lock);
    const std::string args = std::to_string(type) + "," + std::to_string(position);
    tObject* err = Find(error, kErrorHandle);
    tObject* object = Find(handle, type);
    if (!err || !object) return Record("OCIParamGet", args, kInvalidHandle);
    StartCall(err);
    if (type == kStatementHandle) {
        if (!object->executed) return Record("OCIParamGet", args, Fail(err, kNotExecuted));
        if (position < 1 || position > object->result.columns.size()) {
            return Record("OCIParamGet", args, Fail(err, kNoDescriptor));
        }
        tObject* column = Make(kParameter, object, true);
        column->index = position - 1;
        *parameter = column;
        return Record("OCIParamGet", args, 0);
    }
    if (object->kind != tParamKind::kArguments || position < 1 ||
        position > ArgumentCount(object)) {
        return Record("OCIParamGet", args, Fail(err, kNoDescriptor));
    }
    *parameter = Child(object, tParamKind::kArgument, position - 1);
    return Record("OCIParamGet", args, 0);
}

}  // extern "C"

#ifndef GM_RECOCI_NO_ENVCREATE
static_assert(std::is_same<decltype(&OCIEnvCreate), tOCIEnvCreate>::value, "as the driver calls");
#endif
#ifndef GM_RECOCI_NO_CLIENTVERSION
static_assert(std::is_same<decltype(&OCIClientVersion), tOCIClientVersion>::value,
              "as the driver calls");
#endif
static_assert(std::is_same<decltype(&OCIInitialize), tOCIInitialize>::value, "as the driver calls");
static_assert(std::is_same<decltype(&OCIEnvInit), tOCIEnvInit>::value, "as the driver calls");
static_assert(std::is_same<decltype(&OCIHandleAlloc), tOCIHandleAlloc>::value, "");
static_assert(std::is_same<decltype(&OCIHandleFree), tOCIHandleFree>::value, "");
static_assert(std::is_same<decltype(&OCIDescriptorFree), tOCIDescriptorFree>::value, "");
static_assert(std::is_same<decltype(&OCILogon), tOCILogon>::value, "");
static_assert(std::is_same<decltype(&OCILogoff), tOCILogoff>::value, "");
static_assert(std::is_same<decltype(&OCITransStart), tOCITransStart>::value, "");
static_assert(std::is_same<decltype(&OCITransDetach), tOCITransDetach>::value, "");
static_assert(std::is_same<decltype(&OCITransCommit), tOCITransCommit>::value, "");
static_assert(std::is_same<decltype(&OCITransRollback), tOCITransRollback>::value, "");
static_assert(std::is_same<decltype(&OCIErrorGet), tOCIErrorGet>::value, "");
static_assert(std::is_same<decltype(&OCIDescribeAny), tOCIDescribeAny>::value, "");
static_assert(std::is_same<decltype(&OCIAttrGet), tOCIAttrGet>::value, "");
static_assert(std::is_same<decltype(&OCIAttrSet), tOCIAttrSet>::value, "");
static_assert(std::is_same<decltype(&OCIParamGet), tOCIParamGet>::value, "");
