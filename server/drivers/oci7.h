// The Oracle call layer over the OCI 7 call set: a logon with its logon and host data areas, and
// its cursors, each with a cursor data area. No large-object types: long raw is the only type for
// raw bytes, and long text cannot be bound.
#pragma once
#include "server/drivers/oci.h"

// The 16-bit return code of the last call on an OCI 7 data area.
i32 OCI7ReturnCode(const void* area);

// Loads the library when made (one user of it while it lives); one thread.
class tOCI7 : public tOCI {
public:
    tOCI7();
    ~tOCI7() override;  // no logoff: the connection logs off first

    bool Logon(const char* service, const char* user, const char* password) override;
    void Logoff() override;
    tOCIStmt* NewStmt() override;
    void* GetEnv() override { return Lda; }
    i32 GetErrorText(void* cursor, char* buffer, i32 size) override;
    bool AutoCommitOff() override;
    bool AutoCommitOn() override;
    bool Commit() override;
    bool Rollback() override;
    i32 GetVersion() override { return 7; }

private:
    alignas(8) u8 Lda[kOCI7AreaSize] = {};
    alignas(8) u8 Hda[kOCI7HostAreaSize] = {};
};

// A cursor of a tOCI7; the destructor does not close it (its statement closes it first). Every
// call but Open needs the cursor open, which needs the owner's library.
class tOCI7Stmt : public tOCIStmt {
public:
    explicit tOCI7Stmt(tOCI7* owner) : tOCIStmt(owner) {}

    bool Open() override;
    bool Close() override;
    i32 GetRC() override { return OCI7ReturnCode(Cda); }
    const char* GetMessage() override { return Message.GetText(); }
    bool Parse(const char* sql) override;
    bool Execute() override;
    i16 Describe() override;
    void AssignFields(i16 count, tColumnDesc* columns, i32& total, u8* flags) override;
    bool Define(i16 count, tColumnDesc* columns, i16& keptCount, char* rowBuffer,
                const u8* flags) override;
    bool Fetch() override;
    void* GetCursor() override { return Cda; }
    bool BindDoubleParam(f64 value) override;
    bool BindStringParam(const char* text) override;
    bool BindBlobParam(const void* data, i32 length) override;
    bool BindClobParam(const void* data, i32 length) override;
    bool GetBlob(const char* sql, void* buffer, i32& length) override;
    i16 SPExec(const char* procedure, const char* ignored, tArray<tDATAField>& inputs,
               tArray<tDATAField>& outputs) override;
    bool ParseExec(const char* sql) override;
    bool BindDoubleParamAt(f64* value, i32 position) override;
    bool BindStringParamAt(char* text, i32 length, i32 position) override;
    bool GetClientVersion(tString& out) override;

private:
    bool BindProcedureArguments(tAutoArray<tOracleParam>& params, tArray<tDATAField>& inputs,
                                tArray<tDATAField>& outputs, i16& result);

    alignas(8) u8 Cda[kOCI7AreaSize] = {};
    tString Message;
    f64 boundDouble = 0.0;  // BindDoubleParam's value, read by the library at execution
};
