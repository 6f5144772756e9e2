// The OCI 8 cursor's result and procedure calls: columns kept or dropped by type (large objects
// and long columns are still defined, with no buffer, so that the query runs), fetching, long
// values read by the first column's type, and stored procedures described by name.
#include <cstdio>
#include <cstring>
#include <string>

#include "lib_base/gmlassert.h"
#include "lib_base/printer.h"
#include "lib_common/logwriter.h"
#include "server/drivers/oci8.h"
#include "server/drivers/oci8_calls.h"
#include "server/isam/dbconn.h"
#include "server/tables/dbtable.h"

using namespace oci8;

namespace {

constexpr size_t kNameBufferSize = 35;  // names this long or longer are replaced
constexpr i32 kNullFetched = 1405;
constexpr i32 kTruncated = 1406;
constexpr size_t kFetchErrorSize = 4096;

// The flag of a dropped column: the kind that Define still defines without a buffer, else 0.
u8 DroppedFlag(u16 type) {
    switch (type) {
        case kTypeClob:
            return 5;
        case kTypeLong:
            return 4;
        case kTypeBlob:
            return 3;
        case kTypeLongRaw:
            return 2;
        default:
            return 0;
    }
}

// The type a dropped column of the flag is defined as.
u16 BufferlessDefineType(u8 flag) {
    static const u16 types[] = {0, 0, kTypeLongRaw, kTypeRaw, kTypeCharacter, kTypeLong};
    return flag < 6 ? types[flag] : 0;
}

void WarnDropped(u16 type, const char* name) {
    const char* kind = "column";
    if (type == kTypeLong) kind = "long";
    if (type == kTypeLongRaw) kind = "binary";
    if (type == kTypeBlob) kind = "blob";
    if (type == kTypeClob) {
        BasePrintf(
            "[WARNING] Unsupported clob type [%i] in field %s - Column removed from result set "
            "because clob data types are not supported in query - "
            "(tOCI8Stmt::AssignFields)\n",
            type, name);
        return;
    }
    BasePrintf(
        "[WARNING] Unsupported %s type [%i] in field %s - Column removed from result set because "
        "binary (blob/image/memo) data types are not supported in query - "
        "(tOCI8Stmt::AssignFields)\n",
        kind, type, name);
}

// Frees the describe handle of a procedure call on every way out.
class tDescribeHandle {
public:
    explicit tDescribeHandle(void* env) {
        if (!Succeeded(Oci().OCIHandleAlloc(env, &handle, kDescribeHandle, 0, nullptr))) {
            handle = nullptr;
        }
    }
    ~tDescribeHandle() {
        if (handle) Oci().OCIHandleFree(handle, kDescribeHandle);
    }
    tDescribeHandle(const tDescribeHandle&) = delete;
    tDescribeHandle& operator=(const tDescribeHandle&) = delete;
    void* Get() const { return handle; }

private:
    void* handle = nullptr;
};

}  // namespace

bool tOCI8Stmt::DescribeColumn(u32 position, u16& type, tString& name, u16& size) {
    void* parameter = nullptr;
    if (!Succeeded(
            Oci().OCIParamGet(Stmt, kStatementHandle, ErrorHandle(), &parameter, position))) {
        return false;
    }
    const char* text = nullptr;
    u32 length = 0;
    Oci().OCIAttrGet(parameter, kParameterDescriptor, &type, nullptr, kAttrDataType, ErrorHandle());
    Oci().OCIAttrGet(parameter, kParameterDescriptor, &text, &length, kAttrName, ErrorHandle());
    Oci().OCIAttrGet(parameter, kParameterDescriptor, &size, nullptr, kAttrDataSize, ErrorHandle());
    name = text && length > 0 ? std::string(text, length).c_str() : "";
    Oci().OCIDescriptorFree(parameter, kParameterDescriptor);
    return true;
}

void tOCI8Stmt::AssignFields(i16 count, tColumnDesc* columns, i32& total, u8* flags) {
    i32 offset = 0;
    tColumnDesc* column = columns;
    for (i16 position = 1; position <= count; ++position) {
        u16 type = 0, size = 0;
        tString described;
        if (Opened) DescribeColumn(static_cast<u32>(position), type, described, size);
        const size_t nameLength = static_cast<size_t>(described.GetLength());
        char name[kNameBufferSize] = {};
        if (nameLength == 0 || nameLength >= kNameBufferSize) {
            std::snprintf(name, sizeof name, "FIELD%02i", position);
        } else {
            std::memcpy(name, described.GetText(), nameLength);
        }
        std::memcpy(column->name, name, sizeof name);
        column->rowOffset = offset;
        column->returnedLength = 1;

        u8 letter = LayOutColumn("tOCI8Stmt::AssignFields", name, type, size, *column, offset);
        if (letter == 'X') WarnDropped(type, name);
        if (letter == 'W') letter = 'X';  // too wide: dropped, and not defined (flag 0)
        column->type = letter;
        if (letter == 'X') {
            std::memset(column, 0, sizeof *column);  // reused for the next position
            flags[position - 1] = DroppedFlag(type);
        } else {
            flags[position - 1] = 1;
            ++column;
        }
    }
    total = offset;
}

bool tOCI8Stmt::Define(i16 count, tColumnDesc* columns, i16& keptCount, char* rowBuffer,
                       const u8* flags) {
    FreeDefines();
    if (!Opened) return false;
    Defines.assign(count > 0 ? static_cast<size_t>(count) : 0, nullptr);
    tColumnDesc* column = columns;
    for (i16 position = 1; position <= count; ++position) {
        void** define = &Defines[static_cast<size_t>(position) - 1];
        const u32 at = static_cast<u32>(position);
        const u8 flag = flags[position - 1];
        if (flag != 1) {
            --keptCount;
            // Large objects and long columns are defined with no room, so that fetching the row
            // does not fail on them.
            if (const u16 type = BufferlessDefineType(flag)) {
                Oci().OCIDefineByPos(Stmt, define, ErrorHandle(), at, nullptr, 0, type, nullptr,
                                     nullptr, nullptr, 0);
            }
            continue;
        }
        if (column->type == 'C') {
            column->value.text = rowBuffer + column->rowOffset;
            Oci().OCIDefineByPos(Stmt, define, ErrorHandle(), at, column->value.text,
                                 column->bufferLength, kTypeString, &column->nullMarker, nullptr,
                                 nullptr, 0);
        } else {
            Oci().OCIDefineByPos(Stmt, define, ErrorHandle(), at, &column->value.number, 8,
                                 kTypeFloat, &column->nullMarker, nullptr, nullptr, 0);
        }
        ++column;
    }
    return true;
}

bool tOCI8Stmt::Fetch() {
    if (!Opened) return false;
    const int rc = Oci().OCIStmtFetch(Stmt, ErrorHandle(), 1, kFetchNext, 0);
    if (Succeeded(rc)) return true;
    if (rc == kNoDataResult) return false;
    char text[kFetchErrorSize];
    const i32 code = Owner->GetErrorText(Stmt, text, sizeof text);
    // A null without an indicator or a value cut to its buffer (a dropped column) is a row.
    if (code == kNullFetched || code == kTruncated) return true;
    tString line;
    line.sprintf("Error : %i ( From tOCI8stmt:Fetch ) - ", code);
    line.Append(text);
    WriteLog(line, 0);
    return false;
}

bool tOCI8Stmt::GetBlob(const char* sql, void* buffer, i32& length) {
    const i32 bufferSize = length < kBlobBufferSize ? length : kBlobBufferSize;
    if (bufferSize < 1 || !Open()) return false;
    std::memset(buffer, 0, static_cast<size_t>(length));
    if (!Parse(sql) || !ExecuteWith(0, 0)) return false;
    u16 type = 0;
    switch (GetFirstColumnType()) {
        case kTypeClob:
            type = kTypeLong;
            break;
        case kTypeBlob:
        case kTypeLongRaw:
            type = kTypeLongRaw;
            break;
        default:
            DoAssert(__FILE__, __LINE__, "Invalid Memo Type on tOCI8Stmt::GetBlob", 0);
    }
    i16 indicator = 0;
    u16 returned = 0;
    FreeDefines();
    Defines.assign(1, nullptr);  // freed with the others by Close
    if (!Succeeded(Oci().OCIDefineByPos(Stmt, &Defines[0], ErrorHandle(), 1, buffer, bufferSize,
                                        type, &indicator, &returned, nullptr, 0)) ||
        !Succeeded(Oci().OCIStmtFetch(Stmt, ErrorHandle(), 1, kFetchNext, 0))) {
        return false;
    }
    return ReadLongValue("tOCI8Stmt::GetBlob", static_cast<char*>(buffer), bufferSize, returned,
                         length);
}

i16 tOCI8Stmt::SPExec(const char* procedure, const char*, tArray<tDATAField>& inputs,
                      tArray<tDATAField>& outputs) {
    if (!Owner->IsLibraryLoaded()) return kSPExecCallFailed;
    tDescribeHandle describe(Owner->GetEnv());
    if (!describe.Get()) return kSPExecCallFailed;
    if (!Succeeded(Oci().OCIDescribeAny(ServiceContext(), ErrorHandle(),
                                        const_cast<char*>(procedure), TextLength(procedure), 1, 0,
                                        3, describe.Get()))) {
        return kSPExecCallFailed;
    }
    tAutoArray<tOracle8Param> params;  // freed on every return
    if (!MakeProcedureParams(describe.Get(), params)) return kSPExecCallFailed;
    tString text;
    BuildCallText(procedure, params.Count(), text);
    Open();
    if (!Parse(text.GetText())) return kSPExecCallFailed;

    i16 result = kSPExecCallFailed;
    if (!BindProcedureArguments(params, inputs, outputs, result)) return result;
    // Mode 0 always: a procedure call does not commit by itself.
    return ExecuteWith(1, 0) ? 0 : kSPExecCallFailed;
}

bool tOCI8Stmt::MakeProcedureParams(void* describe, tAutoArray<tOracle8Param>& params) {
    void* procedure = nullptr;
    void* arguments = nullptr;
    u16 count = 0;
    if (!Succeeded(Oci().OCIAttrGet(describe, kDescribeHandle, &procedure, nullptr, kAttrParameter,
                                    ErrorHandle())) ||
        !Succeeded(Oci().OCIAttrGet(procedure, kParameterDescriptor, &arguments, nullptr,
                                    kAttrArguments, ErrorHandle())) ||
        !Succeeded(Oci().OCIAttrGet(arguments, kParameterDescriptor, &count, nullptr,
                                    kAttrParameterCount, ErrorHandle()))) {
        return false;
    }
    // The descriptors belong to the describe handle.
    for (u32 i = 1; i <= count; ++i) {
        void* argument = nullptr;
        const char* name = nullptr;
        u32 nameLength = 0;
        u16 type = 0;
        u32 mode = 0;
        if (!Succeeded(
                Oci().OCIParamGet(arguments, kParameterDescriptor, ErrorHandle(), &argument, i)) ||
            !Succeeded(Oci().OCIAttrGet(argument, kParameterDescriptor, &name, &nameLength,
                                        kAttrName, ErrorHandle())) ||
            !Succeeded(Oci().OCIAttrGet(argument, kParameterDescriptor, &type, nullptr,
                                        kAttrDataType, ErrorHandle())) ||
            !Succeeded(Oci().OCIAttrGet(argument, kParameterDescriptor, &mode, nullptr,
                                        kAttrInOutMode, ErrorHandle()))) {
            return false;
        }
        const std::string text = name ? std::string(name, nameLength) : std::string();
        params.Add(new tOracle8Param(text.c_str(), static_cast<i16>(mode), type));
    }
    return true;
}

// Outputs get new fields; inputs are taken in order and must carry the argument's letter.
bool tOCI8Stmt::BindProcedureArguments(tAutoArray<tOracle8Param>& params,
                                       tArray<tDATAField>& inputs, tArray<tDATAField>& outputs,
                                       i16& result) {
    i32 nextInput = 0;
    for (i32 i = 0; i < params.Count(); ++i) {
        tOracle8Param& param = *params[i];
        tDATAField* field = ArgumentField(param, inputs, nextInput, outputs, Message);
        if (!field) {
            result = kSPExecBadArguments;
            return false;
        }
        const bool number = field->GetType() == 'N';
        const int rc = Oci().OCIBindByPos(Stmt, &param.Bind, ErrorHandle(), static_cast<u32>(i) + 1,
                                          field->GetData(), number ? 8 : TextArgumentLength(*field),
                                          number ? kTypeFloat : kTypeString, nullptr, nullptr,
                                          nullptr, 0, nullptr, 0);
        if (!Succeeded(rc)) {
            result = kSPExecCallFailed;
            return false;
        }
    }
    return true;
}
