// What the abstract logon and cursor do where an implementation does not say otherwise, and the
// stored-procedure argument's type letter.
#include "server/drivers/oci.h"

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
