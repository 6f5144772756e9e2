// The OCI 8 logon and the plain cursor calls: handles made and freed, logon with its first error
// record logged, transactions as a flag with commit-on-success execution, error records joined,
// binds by position and the client version.
#include "server/drivers/oci8.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "lib_common/logwriter.h"
#include "server/drivers/oci8_calls.h"

using namespace oci8;

tOCI8::tOCI8() {
    LibraryLoaded = LoadOCI8Library() ? 1 : 0;
    if (!LibraryLoaded) return;
    Oci().OCIEnvCreate(&Env, kThreadedMode, nullptr, nullptr, nullptr, nullptr, 0, nullptr);
    Oci().OCIHandleAlloc(Env, &Err, kErrorHandle, 0, nullptr);
}

tOCI8::~tOCI8() {
    // Only a successful load of this object counts as a user of the library.
    if (!LibraryLoaded) return;
    if (Err) Oci().OCIHandleFree(Err, kErrorHandle);
    if (Env) Oci().OCIHandleFree(Env, kEnvHandle);
    UnloadOCI8Library();
}

bool tOCI8::Logon(const char* service, const char* user, const char* password) {
    Connected = 0;
    if (!LibraryLoaded) {
        WriteLog("Oracle OCI not loaded!", 0);
        return false;
    }
    const int rc = Oci().OCILogon(Env, Err, &SvcCtx, user, TextLength(user), password,
                                  TextLength(password), service, TextLength(service));
    // Success with information (a password about to expire) still opened the session.
    if (Succeeded(rc)) {
        Connected = 1;
        return true;
    }
    SvcCtx = nullptr;
    char text[kErrorRecordSize] = {};
    i32 code = 0;
    Oci().OCIErrorGet(Err, 1, nullptr, &code, text, sizeof text, kErrorHandle);
    text[sizeof text - 1] = '\0';
    WriteLog(text, 0);
    return false;
}

// OCILogoff ends the session and frees the service context that OCILogon made: freeing it again
// would hand the library a handle it no longer has.
void tOCI8::Logoff() {
    if (!Connected) return;
    Oci().OCILogoff(SvcCtx, Err);
    SvcCtx = nullptr;
    Connected = 0;
}

tOCIStmt* tOCI8::NewStmt() { return new tOCI8Stmt(this); }

i32 tOCI8::GetErrorText(void*, char* buffer, i32 size) {
    if (size < 1) return 0;
    buffer[0] = '\0';
    if (!LibraryLoaded) return 0;
    std::string joined;
    i32 code = 0;
    char record[kErrorRecordSize];
    for (u32 number = 1;; ++number) {
        i32 recordCode = 0;
        record[0] = '\0';
        if (Oci().OCIErrorGet(Err, number, nullptr, &recordCode, record, sizeof record,
                              kErrorHandle) != 0) {
            break;
        }
        record[sizeof record - 1] = '\0';
        if (number > 1) joined += "\n";
        joined += record;
        code = recordCode;
    }
    const size_t n = joined.size() < static_cast<size_t>(size) ? joined.size() : size - 1;
    std::memcpy(buffer, joined.data(), n);
    buffer[n] = '\0';
    return code == kNoDataCode ? 1 : code;
}

bool tOCI8::AutoCommitOff() {
    TransactionOpen = 1;
    return true;
}

bool tOCI8::AutoCommitOn() {
    TransactionOpen = 0;
    return Commit();
}

bool tOCI8::Commit() { return LibraryLoaded && Succeeded(Oci().OCITransCommit(SvcCtx, Err, 0)); }

bool tOCI8::Rollback() {
    return LibraryLoaded && Succeeded(Oci().OCITransRollback(SvcCtx, Err, 0));
}

bool tOCI8Stmt::Open() {
    if (Opened) Close();
    if (!Owner->IsLibraryLoaded()) return false;
    if (Succeeded(Oci().OCIHandleAlloc(Owner->GetEnv(), &Stmt, kStatementHandle, 0, nullptr))) {
        Opened = 1;
    } else {
        Stmt = nullptr;
    }
    return Opened != 0;
}

bool tOCI8Stmt::Close() {
    if (!Opened) return false;
    FreeDefines();  // before the statement that they belong to
    Oci().OCIHandleFree(Stmt, kStatementHandle);
    Stmt = nullptr;
    Opened = 0;
    return true;
}

void tOCI8Stmt::FreeDefines() {
    for (void* define : Defines) {
        if (define) Oci().OCIHandleFree(define, kDefineHandle);
    }
    Defines.clear();
}

bool tOCI8Stmt::Parse(const char* sql) {
    return Opened && Succeeded(Oci().OCIStmtPrepare(Stmt, ErrorHandle(), sql, TextLength(sql),
                                                    kNativeSyntax, 0));
}

bool tOCI8Stmt::Execute() {
    if (!Opened) return false;
    StmtType = 0;
    Oci().OCIAttrGet(Stmt, kStatementHandle, &StmtType, nullptr, kAttrStatementType, ErrorHandle());
    // A select only describes and positions at execution: its rows come by fetching.
    const u32 iterations = StmtType == kSelectStatement ? 0 : 1;
    return ExecuteWith(iterations, Owner->InTransaction() ? 0 : kCommitOnSuccess);
}

bool tOCI8Stmt::ExecuteWith(u32 iterations, u32 mode) {
    return Succeeded(Oci().OCIStmtExecute(ServiceContext(), Stmt, ErrorHandle(), iterations, 0,
                                          nullptr, nullptr, mode));
}

i16 tOCI8Stmt::Describe() {
    if (!Opened) return 0;
    i16 count = 0;
    while (count < INT16_MAX) {
        void* parameter = nullptr;
        if (!Succeeded(Oci().OCIParamGet(Stmt, kStatementHandle, ErrorHandle(), &parameter,
                                         static_cast<u32>(count) + 1))) {
            break;
        }
        Oci().OCIDescriptorFree(parameter, kParameterDescriptor);
        ++count;
    }
    return count;
}

bool tOCI8Stmt::Bind(u32 position, const void* value, i32 size, u16 type) {
    void* bind = nullptr;  // the library's, freed with the statement
    return Opened && Succeeded(Oci().OCIBindByPos(Stmt, &bind, ErrorHandle(), position,
                                                  const_cast<void*>(value), size, type, nullptr,
                                                  nullptr, nullptr, 0, nullptr, 0));
}

bool tOCI8Stmt::BindDoubleParam(f64 value) {
    boundDouble = value;
    return Bind(1, &boundDouble, 8, kTypeFloat);
}

bool tOCI8Stmt::BindStringParam(const char* text) {
    return Bind(1, text, TextLength(text), kTypeCharacter);
}

bool tOCI8Stmt::BindBlobParam(const void* data, i32 length) {
    return Bind(1, data, length, kTypeLongRaw);
}

bool tOCI8Stmt::BindClobParam(const void* data, i32 length) {
    return Bind(1, data, length, kTypeLong);
}

bool tOCI8Stmt::BindDoubleParamAt(f64* value, i32 position) {
    return Bind(static_cast<u32>(position) + 1, value, 8, kTypeFloat);
}

// Fixed-length CHAR (96): compared with blank-padded semantics.
bool tOCI8Stmt::BindStringParamAt(char* text, i32 length, i32 position) {
    return Bind(static_cast<u32>(position) + 1, text, length, kTypeFixedCharacter);
}

bool tOCI8Stmt::ParseExec(const char* sql) {
    Open();
    if (!Parse(sql)) return false;
    return Execute();
}

bool tOCI8Stmt::GetClientVersion(tString& out) {
    if (!Owner->IsLibraryLoaded() || !Oci().OCIClientVersion) {
        out.Append("*** NOT AVAILABLE ***");
        return false;
    }
    int major = 0, minor = 0, update = 0, patch = 0, portUpdate = 0;
    Oci().OCIClientVersion(&major, &minor, &update, &patch, &portUpdate);
    char text[80];
    std::snprintf(text, sizeof text, "%d.%d.%d.%d:%d", major, minor, update, patch, portUpdate);
    out.Append(text);
    return true;
}

u16 tOCI8Stmt::GetFirstColumnType() {
    if (!Opened) return 0;
    void* parameter = nullptr;
    if (!Succeeded(Oci().OCIParamGet(Stmt, kStatementHandle, ErrorHandle(), &parameter, 1))) {
        return 0;
    }
    u16 type = 0;
    Oci().OCIAttrGet(parameter, kParameterDescriptor, &type, nullptr, kAttrDataType, ErrorHandle());
    Oci().OCIDescriptorFree(parameter, kParameterDescriptor);
    return type;
}
