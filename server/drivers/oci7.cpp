// The OCI 7 logon and cursor: logon with its error texts, transactions by auto-commit calls,
// column description and definition, fetching, long raw values and stored-procedure calls.
#include "server/drivers/oci7.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "lib_base/printer.h"
#include "lib_common/logwriter.h"
#include "server/isam/dbconn.h"
#include "server/tables/dbtable.h"

namespace {

// Oracle codes of the OCI 7 interface.
constexpr i32 kNullColumnFetched = 1405;
constexpr i32 kPastSelectList = 1007;
// External types.
constexpr int kTypeVarchar2 = 1;
constexpr int kTypeFloat = 4;
constexpr int kTypeString = 5;
constexpr int kTypeLongRaw = 24;
constexpr int kNameBufferSize = 33;
constexpr u32 kMaxProcedureArguments = 50;

const OCI7EntryPoints& Oci() { return OCI7Entries(); }

}  // namespace

i32 OCI7ReturnCode(const void* area) {
    u16 code = 0;
    std::memcpy(&code, static_cast<const u8*>(area) + kOCI7ReturnCodeOffset, sizeof code);
    return code;
}

tOCI7::tOCI7() {
    LibraryLoaded = LoadOCI7Library() ? 1 : 0;
    if (LibraryLoaded) Oci().opinit(1);  // thread-safe mode
}

tOCI7::~tOCI7() {
    // Only a successful load of this object counts as a user of the library.
    if (LibraryLoaded) UnloadOCI7Library();
}

bool tOCI7::Logon(const char* service, const char* user, const char* password) {
    if (!LibraryLoaded) {
        WriteLog("Oracle OCI not loaded!", 0);
        return false;
    }
    if (Oci().olog(Lda, Hda, user, -1, password, -1, service, -1, 0) == 0) {
        Oci().ocon(Lda);
        Connected = 1;
        return true;
    }
    const i32 code = OCI7ReturnCode(Lda);
    tString text;
    if (code == 12154) {
        text.sprintf("ORA-12154: TNS:could not resolve service name %s", service);
    } else if (code == 12545) {
        text = "ORA-12545: Connect failed because target host or object does not exist";
    } else {
        char buffer[512] = {};
        Oci().oerhms(Lda, code, buffer, sizeof buffer);
        buffer[sizeof buffer - 1] = '\0';
        text = buffer;
    }
    WriteLog(text, 0);
    return false;
}

void tOCI7::Logoff() {
    if (!Connected) return;
    Oci().ologof(Lda);
    Connected = 0;
}

tOCIStmt* tOCI7::NewStmt() { return new tOCI7Stmt(this); }

i32 tOCI7::GetErrorText(void* cursor, char* buffer, i32 size) {
    if (size < 1) return 0;
    buffer[0] = '\0';
    if (!LibraryLoaded) return 0;
    const i32 code = cursor ? OCI7ReturnCode(cursor) : 0;
    i32 n = Oci().oerhms(Lda, code, buffer, size);
    if (n < 0) n = 0;
    if (n > size - 1) n = size - 1;
    buffer[n] = '\0';
    if (std::strncmp(buffer, "ORA-", 4) != 0) return 0;
    char digits[6] = {};
    std::strncpy(digits, buffer + 4, 5);
    return std::atoi(digits);
}

bool tOCI7::AutoCommitOff() { return LibraryLoaded && Oci().ocof(Lda) == 0; }
bool tOCI7::AutoCommitOn() { return LibraryLoaded && Oci().ocon(Lda) == 0; }
bool tOCI7::Commit() { return LibraryLoaded && Oci().ocom(Lda) == 0; }
bool tOCI7::Rollback() { return LibraryLoaded && Oci().orol(Lda) == 0; }

bool tOCI7Stmt::Open() {
    if (Opened) Close();
    if (!Owner->IsLibraryLoaded()) return false;
    if (Oci().oopen(Cda, Owner->GetEnv(), nullptr, -1, -1, nullptr, -1) == 0) Opened = 1;
    return Opened != 0;
}

bool tOCI7Stmt::Close() {
    if (!Opened) return false;
    if (Oci().oclose(Cda) == 0) Opened = 0;
    return !Opened;
}

bool tOCI7Stmt::Parse(const char* sql) { return Opened && Oci().oparse(Cda, sql, -1, 0, 2) == 0; }

bool tOCI7Stmt::Execute() { return Opened && Oci().oexec(Cda) == 0; }

i16 tOCI7Stmt::Describe() {
    if (!Opened) return 0;
    for (i16 position = 1; position < INT16_MAX; ++position) {
        i32 size = 0, nameLength = kNameBufferSize, displaySize = 0;
        i16 type = 0, precision = 0, scale = 0, nullOk = 0;
        char name[kNameBufferSize];
        if (Oci().odescr(Cda, position, &size, &type, name, &nameLength, &displaySize, &precision,
                         &scale, &nullOk) == 0) {
            continue;
        }
        return OCI7ReturnCode(Cda) == kPastSelectList ? static_cast<i16>(position - 1) : 0;
    }
    return 0;
}

void tOCI7Stmt::AssignFields(i16 count, tColumnDesc* columns, i32& total, u8* flags) {
    i32 offset = 0;
    tColumnDesc* column = columns;
    for (i16 position = 1; position <= count; ++position) {
        i32 size = 0, nameLength = kNameBufferSize, displaySize = 0;
        i16 type = 0, precision = 0, scale = 0, nullOk = 0;
        char name[kNameBufferSize] = {};
        Oci().odescr(Cda, position, &size, &type, name, &nameLength, &displaySize, &precision,
                     &scale, &nullOk);
        if (nameLength < 0) nameLength = 0;
        if (nameLength > kNameBufferSize - 1) nameLength = kNameBufferSize - 1;
        name[nameLength] = '\0';
        for (char* c = name; *c; ++c) *c = static_cast<char>(std::toupper(*c));
        std::memcpy(column->name, name, static_cast<size_t>(nameLength) + 1);
        column->rowOffset = offset;
        column->returnedLength = 1;

        u8 letter = LayOutColumn("tOCI7Stmt::AssignFields", name, type, size, *column, offset);
        if (letter == 'X') {
            BasePrintf(
                "[WARNING] Unsupported column type [%i] in field %s - Column removed from "
                "result set because binary (blob/image/memo) data types are not supported "
                "in query - (tOCI7Stmt::AssignFields)\n",
                type, name);
        }
        if (letter == 'W') letter = 'X';
        column->type = letter;
        if (letter == 'X') {
            std::memset(column, 0, sizeof *column);  // reused for the next position
            flags[position - 1] = 0;
        } else {
            flags[position - 1] = 1;
            ++column;
        }
    }
    total = offset;
}

bool tOCI7Stmt::Define(i16 count, tColumnDesc* columns, i16& keptCount, char* rowBuffer,
                       const u8* flags) {
    if (!Opened) return false;
    tColumnDesc* column = columns;
    for (i16 position = 1; position <= count; ++position) {
        if (flags[position - 1] == 0) {
            --keptCount;
            continue;
        }
        if (column->type == 'C') {
            column->value.text = rowBuffer + column->rowOffset;
            // The library writes a 16-bit length: the low word of returnedLength, whose upper
            // bytes AssignFields left zero (little-endian host).
            Oci().odefin(Cda, position, column->value.text, column->bufferLength, kTypeVarchar2, 0,
                         &column->nullMarker, nullptr, 0, 0,
                         reinterpret_cast<u16*>(&column->returnedLength), nullptr);
        } else {
            Oci().odefin(Cda, position, &column->value.number, 8, kTypeFloat, -1,
                         &column->nullMarker, nullptr, 0, 0, nullptr, nullptr);
        }
        ++column;
    }
    return true;
}

bool tOCI7Stmt::Fetch() {
    if (!Opened) return false;
    if (Oci().ofetch(Cda) == 0) return true;
    return OCI7ReturnCode(Cda) == kNullColumnFetched;
}

bool tOCI7Stmt::BindDoubleParam(f64 value) {
    boundDouble = value;
    return Opened &&
           Oci().obndrn(Cda, 1, &boundDouble, 8, kTypeFloat, -1, nullptr, nullptr, 0, -1) == 0;
}

bool tOCI7Stmt::BindStringParam(const char* text) {
    return Opened && Oci().obndrn(Cda, 1, text, static_cast<int>(std::strlen(text)), kTypeVarchar2,
                                  -1, nullptr, nullptr, -1, -1) == 0;
}

bool tOCI7Stmt::BindBlobParam(const void* data, i32 length) {
    return Opened &&
           Oci().obndrn(Cda, 1, data, length, kTypeLongRaw, -1, nullptr, nullptr, -1, -1) == 0;
}

bool tOCI7Stmt::BindClobParam(const void*, i32) {
    WriteLog("Invalid BindClobParam using OCI7", 0);
    return false;
}

bool tOCI7Stmt::GetBlob(const char* sql, void* buffer, i32& length) {
    const i32 bufferSize = length < kBlobBufferSize ? length : kBlobBufferSize;
    if (bufferSize < 1 || !Open()) return false;
    i16 indicator = 0;
    u16 returned = 0;
    if (Oci().oparse(Cda, sql, -1, 0, 2) != 0) return false;
    if (Oci().odefin(Cda, 1, buffer, bufferSize, kTypeLongRaw, 0, &indicator, nullptr, 0, 0,
                     &returned, nullptr) != 0) {
        return false;
    }
    if (Oci().oexec(Cda) != 0) return false;
    Oci().ofetch(Cda);  // no row or a null value leaves the returned length 0
    return ReadLongValue("tOCI7Stmt::GetBlob", static_cast<char*>(buffer), bufferSize, returned,
                         length);
}

bool tOCI7Stmt::ParseExec(const char* sql) {
    if (!Open() || Oci().oparse(Cda, sql, -1, 0, 2) != 0) return false;
    return Oci().oexec(Cda) == 0;
}

bool tOCI7Stmt::BindDoubleParamAt(f64* value, i32 position) {
    return Opened &&
           Oci().obndrn(Cda, position + 1, value, 8, kTypeFloat, -1, nullptr, nullptr, 0, -1) == 0;
}

bool tOCI7Stmt::BindStringParamAt(char* text, i32 length, i32 position) {
    return Opened && Oci().obndrn(Cda, position + 1, text, length, kTypeVarchar2, 0, nullptr,
                                  nullptr, 0, 0) == 0;
}

bool tOCI7Stmt::GetClientVersion(tString& out) {
    out.Append("*** NOT AVAILABLE ***");
    return false;
}

i16 tOCI7Stmt::SPExec(const char* procedure, const char*, tArray<tDATAField>& inputs,
                      tArray<tDATAField>& outputs) {
    if (!Owner->IsLibraryLoaded()) return kSPExecCallFailed;
    u16 overload[kMaxProcedureArguments], position[kMaxProcedureArguments],
        level[kMaxProcedureArguments], nameLengths[kMaxProcedureArguments],
        dataTypes[kMaxProcedureArguments];
    char names[kMaxProcedureArguments][30];
    u8 defaults[kMaxProcedureArguments], modes[kMaxProcedureArguments],
        radixes[kMaxProcedureArguments];
    u32 dataSizes[kMaxProcedureArguments], spare[kMaxProcedureArguments];
    i16 precisions[kMaxProcedureArguments], scales[kMaxProcedureArguments];
    u32 count = kMaxProcedureArguments;
    if (Oci().odessp(Owner->GetEnv(), procedure, -1, nullptr, 0, nullptr, 0, overload, position,
                     level, names, nameLengths, dataTypes, defaults, modes, dataSizes, precisions,
                     scales, radixes, spare, &count) != 0) {
        return kSPExecCallFailed;
    }
    if (count > kMaxProcedureArguments) count = kMaxProcedureArguments;

    tAutoArray<tOracleParam> params;  // freed on every return
    for (u32 i = 0; i < count; ++i) {
        const size_t nameLength = nameLengths[i] < 30 ? nameLengths[i] : 30;
        const std::string name(names[i], nameLength);  // the names are not terminated
        params.Add(new tOracleParam(name.c_str(), modes[i], dataTypes[i]));
    }
    tString text;
    BuildCallText(procedure, static_cast<i32>(count), text);
    if (!Open() || Oci().oparse(Cda, text.GetText(), -1, 0, 2) != 0) return kSPExecCallFailed;

    i16 result = kSPExecCallFailed;
    if (!BindProcedureArguments(params, inputs, outputs, result)) return result;
    return Oci().oexec(Cda) == 0 ? 0 : kSPExecCallFailed;
}

// Outputs get new fields; inputs are taken in order and must carry the argument's letter.
bool tOCI7Stmt::BindProcedureArguments(tAutoArray<tOracleParam>& params, tArray<tDATAField>& inputs,
                                       tArray<tDATAField>& outputs, i16& result) {
    i32 nextInput = 0;
    for (i32 i = 0; i < params.Count(); ++i) {
        tDATAField* field = ArgumentField(*params[i], inputs, nextInput, outputs, Message);
        if (!field) {
            result = kSPExecBadArguments;
            return false;
        }
        int rc;
        if (field->GetType() == 'N') {
            rc = Oci().obndrn(Cda, i + 1, field->GetData(), 8, kTypeFloat, -1, nullptr, nullptr, 0,
                              -1);
        } else {
            rc = Oci().obndrn(Cda, i + 1, field->GetData(), TextArgumentLength(*field), kTypeString,
                              -1, nullptr, nullptr, -1, -1);
        }
        if (rc != 0) {
            result = kSPExecCallFailed;
            return false;
        }
    }
    return true;
}
