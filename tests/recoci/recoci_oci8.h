// The handles and descriptors of the recording OCI library's OCI 8 call set, shared by its
// handle and statement files. Every handle given out is a tObject in one table; a call with an
// address that is not in the table, or not of the expected type, answers -2 (invalid handle).
// Guarded by recoci::lock.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tests/recoci/recoci_internal.h"

namespace recoci {

// Handle and descriptor types of the OCI 8 interface.
constexpr uint32_t kEnvHandle = 1;
constexpr uint32_t kErrorHandle = 2;
constexpr uint32_t kServiceHandle = 3;
constexpr uint32_t kStatementHandle = 4;
constexpr uint32_t kBindHandle = 5;
constexpr uint32_t kDefineHandle = 6;
constexpr uint32_t kDescribeHandle = 7;
constexpr uint32_t kParameter = 53;

constexpr int kInvalidHandle = -2;
constexpr int kError = -1;
constexpr int kNoData = 100;

enum class tParamKind { kColumn, kProcedure, kArguments, kArgument };

struct tObject {
    uint32_t type = 0;
    tObject* parent = nullptr;  // freed with it: a statement's binds, defines and columns, ...
    bool callerFrees = false;   // counts as open until the caller frees it

    // An error handle: the records of the last call that used it.
    std::vector<std::pair<int, std::string>> records;

    // A statement.
    std::string sql;
    tResult result;
    uint16_t statementType = 0;
    bool executed = false;
    size_t nextRow = 0;
    std::map<int, tObject*> defines;  // by position
    std::map<int, tObject*> binds;    // by position

    // A define: where a fetched value goes. A bind: tBind.
    void* buffer = nullptr;
    int32_t size = 0;
    uint16_t valueType = 0;
    int16_t* indicator = nullptr;
    uint16_t* returned = nullptr;
    tBind bind;

    // A describe handle: the described procedure. A parameter: its kind and index from 0.
    std::string procedure;
    tParamKind kind = tParamKind::kColumn;
    size_t index = 0;
};

// The object behind a handle of the given type; null when there is none.
tObject* Find(const void* handle, uint32_t type);
tObject* Make(uint32_t type, tObject* parent, bool callerFrees);
void Free(tObject* object);  // with everything it owns

// Clears the error handle's records at the start of a call. Then a scripted answer for the call
// (or the SQL text): leaves its record and gives the answer (-1 unless scripted otherwise);
// false when none is scripted.
void StartCall(tObject* err);
bool Scripted(tObject* err, const std::string& call, const std::string* sql, int& answer);
// Leaves the record of the Oracle error on the error handle and answers -1.
int Fail(tObject* err, int code);

}  // namespace recoci
