// What the OCI 8 logon and cursor files share: the entry table, the result check and the
// constants of the OCI 8 interface they pass.
#pragma once
#include <cstdint>
#include <cstring>

#include "server/drivers/oci.h"

namespace oci8 {

inline const OCI8EntryPoints& Oci() { return OCI8Entries(); }

// Success with information counts as success.
inline bool Succeeded(int rc) { return rc == 0 || rc == 1; }

inline u32 TextLength(const char* text) { return text ? static_cast<u32>(std::strlen(text)) : 0; }

constexpr int kNoDataResult = 100;
constexpr i32 kNoDataCode = 100;
constexpr size_t kErrorRecordSize = 2048;

// Handle and descriptor types.
constexpr u32 kEnvHandle = 1;
constexpr u32 kErrorHandle = 2;
constexpr u32 kServiceHandle = 3;
constexpr u32 kStatementHandle = 4;
constexpr u32 kDefineHandle = 6;
constexpr u32 kDescribeHandle = 7;
constexpr u32 kParameterDescriptor = 53;

// Attributes.
constexpr u32 kAttrDataSize = 1;
constexpr u32 kAttrDataType = 2;
constexpr u32 kAttrName = 4;
constexpr u32 kAttrStatementType = 24;
constexpr u32 kAttrArguments = 108;
constexpr u32 kAttrParameterCount = 121;
constexpr u32 kAttrParameter = 124;
constexpr u32 kAttrInOutMode = 213;

// Modes.
constexpr u32 kThreadedMode = 1;
constexpr u32 kNativeSyntax = 1;
constexpr u32 kCommitOnSuccess = 32;
constexpr u16 kFetchNext = 2;
constexpr u16 kSelectStatement = 1;

// Data types.
constexpr u16 kTypeCharacter = 1;
constexpr u16 kTypeFloat = 4;
constexpr u16 kTypeString = 5;
constexpr u16 kTypeLong = 8;
constexpr u16 kTypeRaw = 23;
constexpr u16 kTypeLongRaw = 24;
constexpr u16 kTypeFixedCharacter = 96;
constexpr u16 kTypeClob = 112;
constexpr u16 kTypeBlob = 113;

}  // namespace oci8
