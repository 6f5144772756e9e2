// What the abstract logon and cursor do where an implementation does not say otherwise, and the
// stored-procedure argument's type letter.
#include "server/drivers/oci.h"

#include <cstdio>
#include <cstring>

#include "lib_base/printer.h"
#include "lib_common/logwriter.h"
#include "server/isam/dbconn.h"
#include "server/tables/dbtable.h"

bool tOCI::Logon(const char*, const char*, const char*) { return false; }
void tOCI::Logoff() {}
tOCIStmt* tOCI::NewStmt() { return new tOCIStmt(this); }
void* tOCI::GetEnv() { return nullptr; }
void* tOCI::GetErrorHandle() { return nullptr; }
void* tOCI::GetServiceContext() { return nullptr; }
i32 tOCI::GetErrorText(void*, char*, i32) { return 0; }
bool tOCI::AutoCommitOff() { return false; }
bool tOCI::AutoCommitOn() { return false; }
bool tOCI::Commit() { return false; }
bool tOCI::Rollback() { return false; }
bool tOCI::InTransaction() { return false; }
i32 tOCI::GetVersion() { return 0; }

bool tOCIStmt::Open() { return false; }
bool tOCIStmt::Close() { return false; }
i32 tOCIStmt::GetRC() { return 0; }
const char* tOCIStmt::GetMessage() { return nullptr; }
bool tOCIStmt::Parse(const char*) { return false; }
bool tOCIStmt::Execute() { return false; }
i16 tOCIStmt::Describe() { return 0; }
void tOCIStmt::AssignFields(i16, tColumnDesc*, i32&, u8*) {}
bool tOCIStmt::Define(i16, tColumnDesc*, i16&, char*, const u8*) { return false; }
bool tOCIStmt::Fetch() { return false; }
void* tOCIStmt::GetCursor() { return nullptr; }
bool tOCIStmt::BindDoubleParam(f64) { return false; }
bool tOCIStmt::BindStringParam(const char*) { return false; }
bool tOCIStmt::BindBlobParam(const void*, i32) { return false; }
bool tOCIStmt::BindClobParam(const void*, i32) { return false; }
bool tOCIStmt::GetBlob(const char*, void*, i32&) { return false; }
i16 tOCIStmt::SPExec(const char*, const char*, tArray<tDATAField>&, tArray<tDATAField>&) {
    return kSPExecNotImplemented;
}
bool tOCIStmt::ParseExec(const char*) { return false; }
bool tOCIStmt::BindDoubleParamAt(f64*, i32) { return false; }
bool tOCIStmt::BindStringParamAt(char*, i32, i32) { return false; }
bool tOCIStmt::GetClientVersion(tString&) { return false; }
u16 tOCIStmt::GetFirstColumnType() { return 0; }

namespace {

u8 TypeLetter(i32 oracleType) {
    switch (oracleType) {
        case 1:
        case 5:
        case 96:
            return 'C';
        case 2:
        case 3:
        case 4:
        case 8:
            return 'N';
        default:
            return 0;
    }
}

}  // namespace

tOracleParam::tOracleParam(const char* name, i16 mode, i32 oracleType)
    : Name(name), Mode(mode), Type(TypeLetter(oracleType)) {}

u8 tOCIStmt::LayOutColumn(const char* routine, const char* name, i32 type, i32 size,
                          tColumnDesc& column, i32& offset) {
    constexpr i32 kMaxCharColumn = 32768;
    constexpr i32 kWideCharColumn = 2047;
    const bool character = type == 1 || type == 5 || type == 9 || type == 96 || type == 97;
    // 32767 bytes too: its buffer of size + 1 would not fit the descriptor's 16-bit length.
    if (character && size >= kMaxCharColumn - 1) {
        BasePrintf("[WARNING] Column [%s] type [%i] IGNORED : Precision (%i) TOO BIG (from %s)\n",
                   name, type, size, routine);
        return 'W';
    }
    if (character) {
        if (size > kWideCharColumn) {
            BasePrintf(
                "[WARNING] Column [%s] type [%i] bind using (%i) bytes exceeded 2047 bytes. "
                "(from %s)\n",
                name, type, size, routine);
        }
        column.bufferLength = static_cast<i16>(size + 1);
        offset += size + 1;
        return 'C';
    }
    if (type == 2 || type == 3 || type == 4) {
        column.bufferLength = 8;
        return 'N';
    }
    return 'X';
}

void tOCIStmt::BuildCallText(const char* procedure, i32 count, tString& text) {
    text = "begin ";
    text.Append(procedure);
    text.Append("(");
    for (i32 i = 0; i < count; ++i) {
        std::snprintf(NumberText, sizeof NumberText, "%s:%i", i > 0 ? "," : "", i + 1);
        text.Append(NumberText);
    }
    text.Append("); end;");
}

i32 tOCIStmt::TextArgumentLength(tDATAField& field) {
    const u32 length = static_cast<u32>(field.GetLen()) + 1;
    const u32 room = field.GetValueSize() + 1;
    return static_cast<i32>(length < room ? length : room);
}

tDATAField* tOCIStmt::ArgumentField(const tOracleParam& param, tArray<tDATAField>& inputs,
                                    i32& nextInput, tArray<tDATAField>& outputs, tString& message) {
    if (param.Mode == 1 || param.Mode == 2) {
        tDATAField* field;
        if (param.Type == 'C') {
            field = new tCharField(param.Name.GetText(), 'C', 255, 0);
        } else {
            field = new tNumericField(param.Name.GetText(), 'N', 15, 2);
        }
        outputs.Add(field);  // the caller owns it from here
        return field;
    }
    if (nextInput >= inputs.Count()) {
        message.sprintf("Insufficient number of parameters (%i).", inputs.Count());
        return nullptr;
    }
    tDATAField* field = inputs[nextInput++];
    if (field->GetType() != param.Type) {
        message.sprintf("Invalid parameter type (%c - %c)", field->GetType(), param.Type);
        return nullptr;
    }
    return field;
}

bool ReadLongValue(const char* routine, char* buffer, i32 bufferSize, u16 returned, i32& length) {
    if (returned < 0xFFFF) {
        length = returned;
        return true;
    }
    u16 mark = 0;
    std::memcpy(&mark, buffer, sizeof mark);
    if (mark != kLongValueMark) {
        length = 0xFFFF;
        return true;
    }
    u32 claimed = 0;
    std::memcpy(&claimed, buffer + 2, sizeof claimed);
    if (static_cast<u64>(claimed) + kLongValueHeaderSize > static_cast<u64>(bufferSize)) {
        tString text;
        text.sprintf("%s: long value of %u bytes does not fit the %i fetched", routine, claimed,
                     bufferSize);
        WriteLog(text, 0);
        length = 0;
        return false;
    }
    std::memmove(buffer, buffer + kLongValueHeaderSize, claimed);
    length = static_cast<i32>(claimed);
    return true;
}
