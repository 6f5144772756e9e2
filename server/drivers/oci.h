// The Oracle call layer: the logon and cursor interfaces that the Oracle statement and connection
// use, the stored-procedure parameter of a call being built, and the process-wide loading of the
// client library of each OCI generation (found by configuration and registry, bound by name,
// counted per logon object).
#pragma once
#include <string>

#include "lib_base/list.h"
#include "lib_base/stringz.h"
#include "lib_base/types.h"
#include "server/drivers/oci_api.h"

class tDATAField;
struct tColumnDesc;
class tOCIStmt;
class tOracleParam;

// One database logon. Made by the Oracle connection and used by its thread only.
class tOCI {
public:
    tOCI() = default;
    tOCI(const tOCI&) = delete;
    tOCI& operator=(const tOCI&) = delete;

    virtual ~tOCI() = default;
    virtual bool Logon(const char* service, const char* user, const char* password);
    virtual void Logoff();
    virtual tOCIStmt* NewStmt();  // owned by the caller
    virtual void* GetEnv();
    virtual void* GetErrorHandle();
    virtual void* GetServiceContext();
    // The Oracle error number of the last failure, its text in buffer (cut to size).
    virtual i32 GetErrorText(void* cursor, char* buffer, i32 size);
    virtual bool AutoCommitOff();
    virtual bool AutoCommitOn();
    virtual bool Commit();
    virtual bool Rollback();
    virtual bool InTransaction();
    virtual i32 GetVersion();

    bool IsConnected() const { return Connected != 0; }
    bool IsLibraryLoaded() const { return LibraryLoaded != 0; }

protected:
    u8 Connected = 0;
    u8 LibraryLoaded = 0;  // whether this object's own load of the client library succeeded
};

// SPExec result codes.
constexpr i16 kSPExecCallFailed = -21;    // a client call failed: GetRC holds the code
constexpr i16 kSPExecBadArguments = -41;  // the inputs do not fit the procedure: see GetMessage
constexpr i16 kSPExecNotImplemented = -13;

// One cursor of a logon. The owner outlives it; one thread.
class tOCIStmt {
public:
    explicit tOCIStmt(tOCI* owner) : Owner(owner) {}
    tOCIStmt(const tOCIStmt&) = delete;
    tOCIStmt& operator=(const tOCIStmt&) = delete;

    virtual ~tOCIStmt() = default;
    virtual bool Open();
    virtual bool Close();
    virtual i32 GetRC();
    virtual const char* GetMessage();
    virtual bool Parse(const char* sql);
    virtual bool Execute();
    virtual i16 Describe();  // select-list columns, 0 on error
    // Fills one descriptor per kept column; flags[i] is 1 for a kept position, else the kind of
    // the dropped one; total receives the row-buffer bytes the kept character columns need.
    virtual void AssignFields(i16 count, tColumnDesc* columns, i32& total, u8* flags);
    // Binds the kept columns into rowBuffer; keptCount drops by one per dropped position.
    virtual bool Define(i16 count, tColumnDesc* columns, i16& keptCount, char* rowBuffer,
                        const u8* flags);
    virtual bool Fetch();
    virtual void* GetCursor();
    virtual bool BindDoubleParam(f64 value);  // the cursor keeps the value until execution
    virtual bool BindStringParam(const char* text);
    virtual bool BindBlobParam(const void* data, i32 length);
    virtual bool BindClobParam(const void* data, i32 length);
    // length: the buffer's size on entry (at least kBlobBufferSize), the value's on return.
    virtual bool GetBlob(const char* sql, void* buffer, i32& length);
    // Calls the stored procedure with the inputs in order; the outputs list receives one new
    // field per out or in/out argument. 0, kSPExecCallFailed or kSPExecBadArguments.
    virtual i16 SPExec(const char* procedure, const char* ignored, tArray<tDATAField>& inputs,
                       tArray<tDATAField>& outputs);
    virtual bool ParseExec(const char* sql);
    virtual bool BindDoubleParamAt(f64* value, i32 position);
    virtual bool BindStringParamAt(char* text, i32 length, i32 position);
    virtual bool GetClientVersion(tString& out);
    virtual u16 GetFirstColumnType();

    bool IsOpened() const { return Opened != 0; }

protected:
    // Lays out a described column in its descriptor: a character column below 32767 bytes gets
    // size + 1 bytes of the row buffer at offset (with a warning above 2047), 'C'; a number 8
    // bytes, 'N'. A wider character column is warned about here and gives 'W'; any other type
    // 'X', left to the caller to warn about. routine names the caller in the warnings.
    static u8 LayOutColumn(const char* routine, const char* name, i32 type, i32 size,
                           tColumnDesc& column, i32& offset);

    // "begin P(:1,:2); end;" with one placeholder per argument.
    void BuildCallText(const char* procedure, i32 count, tString& text);
    // The field an argument binds: a new output field for an out or in/out argument (appended to
    // outputs, which owns it), else the next input, which must carry the argument's letter. Null
    // with the reason in message when the inputs do not fit.
    // The bytes a text argument binds: its length and the terminator, never past the field's
    // own bytes, whatever its declared length says.
    static i32 TextArgumentLength(tDATAField& field);
    static tDATAField* ArgumentField(const tOracleParam& param, tArray<tDATAField>& inputs,
                                     i32& nextInput, tArray<tDATAField>& outputs, tString& message);

    tOCI* Owner;  // not owned
    u8 Opened = 0;
    char NumberText[31] = {};
};

// The buffer GetBlob fills, and the mark and header of values longer than 65535 bytes.
constexpr i32 kBlobBufferSize = 1048576;
constexpr u16 kLongValueMark = 0xFBCF;
constexpr i32 kLongValueHeaderSize = 6;

// The length of a long value that GetBlob fetched into buffer (bufferSize bytes at most), given
// the 16-bit length the library returned: 65535 means "at least that", and a value stored with
// the long-value header (mark, 32-bit length) then carries its own length, which must fit what
// the fetch could deliver. The header is removed. False, logged under routine, when it does not.
bool ReadLongValue(const char* routine, char* buffer, i32 bufferSize, u16 returned, i32& length);

// One formal argument of a stored procedure while its call is built.
class tOracleParam {
public:
    // oracleType is the described data type; the letter follows from it.
    tOracleParam(const char* name, i16 mode, i32 oracleType);
    virtual ~tOracleParam() = default;
    tOracleParam(const tOracleParam&) = delete;
    tOracleParam& operator=(const tOracleParam&) = delete;

    tString Name;
    i16 Mode;  // 0 in, 1 out, 2 in/out
    u8 Type;   // 'C', 'N', or 0 for a type without a letter
};

class tOracle8Param : public tOracleParam {
public:
    using tOracleParam::tOracleParam;
    void* Bind = nullptr;  // the argument's bind handle, the library's
};

// The OCI 7 entry points in their binding order; null where the library lacks one.
struct OCI7EntryPoints {
    tOpinit opinit;
    tOlog olog;
    tOlogof ologof;
    tOopen oopen;
    tOparse oparse;
    tOdescr odescr;
    tOdefin odefin;
    tObndrn obndrn;
    tOdessp odessp;
    tOexec oexec;
    tOfetch ofetch;
    tOclose oclose;
    tOcof ocof;
    tOcom ocom;
    tOcon ocon;
    tOrol orol;
    tOerhms oerhms;
};

struct OCI8EntryPoints {
    tOCIEnvCreate OCIEnvCreate;
    tOCIInitialize OCIInitialize;
    tOCIEnvInit OCIEnvInit;
    tOCILogon OCILogon;
    tOCILogoff OCILogoff;
    tOCIHandleAlloc OCIHandleAlloc;
    tOCIHandleFree OCIHandleFree;
    tOCIStmtPrepare OCIStmtPrepare;
    tOCIDefineByPos OCIDefineByPos;
    tOCIBindByPos OCIBindByPos;
    tOCIStmtExecute OCIStmtExecute;
    tOCIStmtFetch OCIStmtFetch;
    tOCITransStart OCITransStart;
    tOCITransDetach OCITransDetach;
    tOCITransCommit OCITransCommit;
    tOCITransRollback OCITransRollback;
    tOCIErrorGet OCIErrorGet;
    tOCIParamGet OCIParamGet;
    tOCIAttrGet OCIAttrGet;
    tOCIAttrSet OCIAttrSet;
    tOCIDescribeAny OCIDescribeAny;
    tOCIDescriptorFree OCIDescriptorFree;
    tOCIClientVersion OCIClientVersion;
};

// Reads a value of a key under HKEY_LOCAL_MACHINE into out; false (out as it was) when the key
// or the value is missing.
bool GetRegistryString(const char* key, const char* valueName, tString& out);

// Where each generation's client library is looked for (empty when nowhere). Paths keep '\'.
void GetOCI7LibraryPath(std::string& out);
void GetOCI8LibraryPath(std::string& out);

// Loading counts one user of the generation's library; each successful load is matched by one
// unload. Any thread: each generation has its own lock.
bool LoadOCI7Library();
void UnloadOCI7Library();
bool LoadOCI8Library();
void UnloadOCI8Library();

// The bound entry points; read without a lock while the caller holds a successful load.
const OCI7EntryPoints& OCI7Entries();
const OCI8EntryPoints& OCI8Entries();

// The state of each generation, for the console and the tests.
struct tOCILibraryState {
    bool loaded;
    i32 refCount;
    bool holdsModule;
};
tOCILibraryState OCI7LibraryState();
tOCILibraryState OCI8LibraryState();
