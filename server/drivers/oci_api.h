// The entry points of the Oracle client library (OCI 7 and OCI 8 call sets) as this program calls
// them: C signatures only, bound by name at run time. The recording OCI library of the tests
// implements the same declarations.
#pragma once
#include <cstddef>
#include <cstdint>

extern "C" {

// ---- OCI 7: every call takes a 64-byte data area (logon or cursor) and returns 0 on success;
// the 16-bit return code of the last call on an area is also kept in the area at byte 12.
constexpr int kOCI7AreaSize = 64;
constexpr int kOCI7ReturnCodeOffset = 12;
constexpr int kOCI7HostAreaSize = 256;

typedef int (*tOpinit)(int mode);
typedef int (*tOlog)(void* lda, void* hda, const char* user, int userLength, const char* password,
                     int passwordLength, const char* service, int serviceLength, int mode);
typedef int (*tOlogof)(void* lda);
typedef int (*tOopen)(void* cda, void* lda, const char* database, int databaseLength, int areaSize,
                      const char* user, int userLength);
typedef int (*tOparse)(void* cda, const char* sql, int sqlLength, int deferred, int behaviour);
typedef int (*tOdescr)(void* cda, int position, int32_t* size, int16_t* type, char* name,
                       int32_t* nameLength, int32_t* displaySize, int16_t* precision,
                       int16_t* scale, int16_t* nullOk);
typedef int (*tOdefin)(void* cda, int position, void* buffer, int bufferLength, int type, int scale,
                       int16_t* indicator, const char* format, int formatLength, int formatType,
                       uint16_t* returnedLength, uint16_t* columnCode);
typedef int (*tObndrn)(void* cda, int placeholder, const void* value, int valueLength, int type,
                       int scale, int16_t* indicator, const char* format, int formatLength,
                       int formatType);
// Argument arrays hold *count entries on entry; *count is the number described on return.
typedef int (*tOdessp)(void* lda, const char* name, int nameLength, void* reserved1,
                       int reserved1Length, void* reserved2, int reserved2Length,
                       uint16_t* overload, uint16_t* position, uint16_t* level,
                       char (*argumentNames)[30], uint16_t* nameLengths, uint16_t* dataTypes,
                       uint8_t* defaults, uint8_t* modes, uint32_t* dataSizes, int16_t* precisions,
                       int16_t* scales, uint8_t* radixes, uint32_t* spare, uint32_t* count);
typedef int (*tOexec)(void* cda);
typedef int (*tOfetch)(void* cda);
typedef int (*tOclose)(void* cda);
typedef int (*tOcof)(void* lda);
typedef int (*tOcom)(void* lda);
typedef int (*tOcon)(void* lda);
typedef int (*tOrol)(void* lda);
// Writes the message of the code, "ORA-nnnnn: ...", zero-terminated; returns its length.
typedef int (*tOerhms)(void* lda, int code, char* buffer, int bufferSize);

// ---- OCI 8: handles instead of data areas; 0 success, 1 success with information, 100 no
// data, -1 error, -2 invalid handle.
typedef int (*tOCIEnvCreate)(void** env, uint32_t mode, void* context, void* allocate,
                             void* reallocate, void* free, std::size_t extraSize, void** extra);
typedef int (*tOCIInitialize)(uint32_t mode, void* context, void* allocate, void* reallocate,
                              void* free);
typedef int (*tOCIEnvInit)(void** env, uint32_t mode, std::size_t extraSize, void** extra);
typedef int (*tOCILogon)(void* env, void* err, void** serviceContext, const char* user,
                         uint32_t userLength, const char* password, uint32_t passwordLength,
                         const char* service, uint32_t serviceLength);
typedef int (*tOCILogoff)(void* serviceContext, void* err);
typedef int (*tOCIHandleAlloc)(const void* parent, void** handle, uint32_t type,
                               std::size_t extraSize, void** extra);
typedef int (*tOCIHandleFree)(void* handle, uint32_t type);
typedef int (*tOCIStmtPrepare)(void* stmt, void* err, const char* sql, uint32_t sqlLength,
                               uint32_t syntax, uint32_t mode);
typedef int (*tOCIDefineByPos)(void* stmt, void** define, void* err, uint32_t position, void* value,
                               int32_t valueSize, uint16_t type, void* indicator,
                               uint16_t* returnedLength, uint16_t* returnCode, uint32_t mode);
typedef int (*tOCIBindByPos)(void* stmt, void** bind, void* err, uint32_t position, void* value,
                             int32_t valueSize, uint16_t type, void* indicator,
                             uint16_t* actualLength, uint16_t* returnCode, uint32_t maxArray,
                             uint32_t* currentArray, uint32_t mode);
typedef int (*tOCIStmtExecute)(void* serviceContext, void* stmt, void* err, uint32_t iterations,
                               uint32_t rowOffset, const void* snapIn, void* snapOut,
                               uint32_t mode);
typedef int (*tOCIStmtFetch)(void* stmt, void* err, uint32_t rows, uint16_t orientation,
                             uint32_t mode);
typedef int (*tOCITransStart)(void* serviceContext, void* err, unsigned timeout, uint32_t flags);
typedef int (*tOCITransDetach)(void* serviceContext, void* err, uint32_t flags);
typedef int (*tOCITransCommit)(void* serviceContext, void* err, uint32_t flags);
typedef int (*tOCITransRollback)(void* serviceContext, void* err, uint32_t flags);
typedef int (*tOCIErrorGet)(void* handle, uint32_t record, char* sqlState, int32_t* code,
                            char* buffer, uint32_t bufferSize, uint32_t type);
typedef int (*tOCIParamGet)(const void* handle, uint32_t type, void* err, void** parameter,
                            uint32_t position);
typedef int (*tOCIAttrGet)(const void* handle, uint32_t type, void* value, uint32_t* size,
                           uint32_t attribute, void* err);
typedef int (*tOCIAttrSet)(void* handle, uint32_t type, void* value, uint32_t size,
                           uint32_t attribute, void* err);
typedef int (*tOCIDescribeAny)(void* serviceContext, void* err, void* object, uint32_t objectLength,
                               uint8_t objectPointerType, uint8_t infoLevel, uint8_t objectType,
                               void* describe);
typedef int (*tOCIDescriptorFree)(void* descriptor, uint32_t type);
typedef int (*tOCIClientVersion)(int* major, int* minor, int* update, int* patch, int* portUpdate);

}  // extern "C"
