// The Oracle call layer over the OCI 8 call set: a logon with its environment, error handle and
// service context, and its cursors, each a statement handle. Transactions are a flag: outside
// one every execution commits on success. Errors are read as the error handle's records.
#pragma once
#include <vector>

#include "server/drivers/oci.h"

// Loads the library when made (one user of it while it lives) and then makes the environment and
// the error handle, which live as long as the object; one thread.
class tOCI8 : public tOCI {
public:
    tOCI8();
    ~tOCI8() override;  // no logoff: the connection logs off first

    bool Logon(const char* service, const char* user, const char* password) override;
    void Logoff() override;
    tOCIStmt* NewStmt() override;
    void* GetEnv() override { return Env; }
    void* GetErrorHandle() override { return Err; }
    void* GetServiceContext() override { return SvcCtx; }
    i32 GetErrorText(void* cursor, char* buffer, i32 size) override;
    bool AutoCommitOff() override;
    bool AutoCommitOn() override;
    bool Commit() override;
    bool Rollback() override;
    bool InTransaction() override { return TransactionOpen != 0; }
    i32 GetVersion() override { return 8; }

private:
    void* Env = nullptr;
    void* Err = nullptr;
    void* SvcCtx = nullptr;  // between logon and logoff
    u8 TransactionOpen = 0;
};

// A cursor of a tOCI8: a statement handle between Open and Close, with the define handles of its
// select list. The destructor does not close it (its statement closes it first). Every call but
// Open needs the cursor open, which needs the owner's library.
class tOCI8Stmt : public tOCIStmt {
public:
    explicit tOCI8Stmt(tOCI8* owner) : tOCIStmt(owner) {}

    bool Open() override;
    bool Close() override;
    i32 GetRC() override { return 0; }  // OCI 8 codes are read through GetErrorText
    const char* GetMessage() override { return Message.GetText(); }
    bool Parse(const char* sql) override;
    bool Execute() override;
    i16 Describe() override;
    void AssignFields(i16 count, tColumnDesc* columns, i32& total, u8* flags) override;
    bool Define(i16 count, tColumnDesc* columns, i16& keptCount, char* rowBuffer,
                const u8* flags) override;
    bool Fetch() override;
    void* GetCursor() override { return Stmt; }
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
    u16 GetFirstColumnType() override;

    // The statement handle, for binds made directly on it; null while closed.
    void* GetStmtHandle() { return Stmt; }

private:
    void* ErrorHandle() { return Owner->GetErrorHandle(); }
    void* ServiceContext() { return Owner->GetServiceContext(); }
    bool Bind(u32 position, const void* value, i32 size, u16 type);
    void FreeDefines();
    // The select-list column's type, name (empty when the library gave none) and size.
    bool DescribeColumn(u32 position, u16& type, tString& name, u16& size);
    bool ExecuteWith(u32 iterations, u32 mode);
    bool MakeProcedureParams(void* describe, tAutoArray<tOracle8Param>& params);
    bool BindProcedureArguments(tAutoArray<tOracle8Param>& params, tArray<tDATAField>& inputs,
                                tArray<tDATAField>& outputs, i16& result);

    void* Stmt = nullptr;
    std::vector<void*> Defines;  // one define handle per select-list position, or none
    tString Message;
    u16 StmtType = 0;     // of the last execution
    f64 boundDouble = 0;  // BindDoubleParam's value, read by the library at execution
};
