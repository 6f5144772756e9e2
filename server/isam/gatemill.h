// The open work areas of a client session: tGenericFile, the abstract file that the dispatcher
// drives by its internal id (tables and query results derive from it), with the memo-field and
// join records that a file keeps.
#pragma once
#include <memory>

#include "lib_base/gmlalloc.h"
#include "lib_base/list.h"
#include "lib_base/stringz.h"
#include "lib_base/types.h"

class tCommBuffer;
class tDBConnection;
class tDBSession;
class tTableDefinition;

// One memo field of an open file: its number among the data fields (from 1) and its index in
// the definition, with the value waiting to be written or last read.
class tBlobNode {
public:
    tBlobNode(i16 dataFieldNo, i16 fieldIndex) : dataFieldNo(dataFieldNo), fieldIndex(fieldIndex) {}
    virtual ~tBlobNode() = default;

    i16 dataFieldNo;
    i16 fieldIndex;
    tString value;
    bool dirty = false;
    bool mustRead = true;

    GML_CLASS_ALLOCATOR(tBlobNode, Mem_BlobNode)
};

// One joined table of a table file: the table, its field list ("name|alias,..."), the join
// condition and the prefix.
class tJoinInfo {
public:
    tJoinInfo(const char* table, const char* fields, const char* condition, const char* prefix)
        : table(table), fields(fields), condition(condition), prefix(prefix) {}
    virtual ~tJoinInfo() = default;

    tString table;
    tString fields;
    tString condition;
    tString prefix;
};

// An open work area. Files are made by the connection (NewISAMFile, GetQueryFile), given their
// session and internal id, and used by that session's thread only. Every reply a file writes
// goes into the session's frame buffer. A fresh file stands nowhere: BOF and EOF set, FOUND
// clear. The base forms of the operations answer "not available for this file class".
class tGenericFile {
public:
    // def: the file's table definition, shared with whoever else holds it. lockOwner: the owner
    // of every lock the file takes.
    tGenericFile(tDBConnection* connection, std::shared_ptr<tTableDefinition> def,
                 tCommBuffer& reply, u32 lockOwner);
    tGenericFile(const tGenericFile&) = delete;
    tGenericFile& operator=(const tGenericFile&) = delete;

    // ---- Virtual operations, in slot order.
    virtual ~tGenericFile();
    virtual void SetInternalID(u16 id);
    // Puts the open reply after the dispatcher's code and handle: the i32 record length, the
    // structure and the status block.
    virtual bool Open(u16 id);
    virtual bool GoTop() = 0;
    virtual bool GoBottom() = 0;
    virtual bool GoTo(f64 recno, bool reread) = 0;
    virtual bool Skip(i32 count) = 0;
    virtual bool Close() = 0;
    virtual void SendRecord() = 0;
    virtual void RecvRecord();
    // Puts the i16 count of data fields, then per data field its name, type letter, i16 length
    // and i16 decimals; makes one blob node per memo field. def null: the file's own.
    virtual void SendStructure(const tTableDefinition* def);
    virtual void SendStatus() = 0;
    virtual void StatusText(tString& text);  // " [BOF]", " [EOF]", " [FOUND]" as set
    virtual f64 GetRecno() = 0;
    virtual bool WriteRecord(i32& nativeError);
    virtual bool Write(i32& nativeError);
    virtual i16 UpdateRecord(f64 recno);  // base -29
    virtual i16 Update(f64 recno);        // base -29
    virtual i16 DeleteR(f64 recno);       // base -30
    virtual i16 RecallR(f64 recno);       // base -29
    virtual i16 SetDeletedFilter(u8 on);
    virtual bool CreateIndex(const char* name, const char* key);
    virtual void SendIndexes();
    virtual i16 SetOrder(i16 order);
    virtual i32 GetOrder();
    virtual i16 Lock(u8 table, i32 recno);  // base -25
    virtual bool Unlock(u8 table, i32 recno);
    virtual void GetLockOwner(i32 recno, tString& text);
    virtual void ResetMirror();
    virtual bool SetFilter(const char* expression, bool& translated);
    virtual i16 SetFilterEx(i16 level, const char* expression, tString& message) = 0;
    virtual i16 Seek(i16 keyFields, i16 keyLength, u8 soft);          // base -19
    virtual i16 SrvMap(const char* fields);                           // base -19
    virtual void BlobRead(i16 memoId, i32 recno, i32 length);         // base: the reply code -19
    virtual i16 BlobWrite(i16 memoId, const void* bytes, i32 count);  // base -19
    virtual bool Clear();
    virtual bool Pack();
    virtual bool IsAuditable();
    virtual const char* GetTableName();  // base ""
    virtual bool IsQuery() = 0;
    virtual bool IsExclusive();
    // Appends the file's description: its flags, its definition's properties, fields and
    // indexes.
    virtual void DumpInfo(tString& out);
    virtual void ResetBofEof();
    virtual void ReleaseRecnoStmt();

    tDBConnection* GetConnection() const { return connection; }  // not owned
    tDBSession* GetDBServer() const { return dbServer; }
    void SetDBServer(tDBSession* session) { dbServer = session; }  // not owned
    tTableDefinition* GetTableDef() const { return tableDef.get(); }
    tCommBuffer& GetCommBuffer() const { return reply; }
    u16 GetInternalID() const { return internalId; }
    bool IsQueryFile() const { return prepared; }  // a query file made by PrepareStmt
    // The join descriptions this file's open adds; the file owns them from here.
    void SetJoinInfo(std::unique_ptr<tAutoArray<tJoinInfo>> joins) { joinList = std::move(joins); }

protected:
    // Puts the status block: BOF, EOF and FOUND as one byte each, then the i32 record count.
    void PutStatus(i32 recCount);
    // The table's record counter as the session's record-lock engine keeps it, truncated toward
    // zero and held within the i32 range.
    i32 LockEngineRecCount(const tTableDefinition& def);

    // Constant after construction.
    tDBConnection* const connection;
    const std::shared_ptr<tTableDefinition> tableDef;
    tCommBuffer& reply;
    const u32 lockOwner;
    // The session's thread only.
    u16 internalId = 0;
    tDBSession* dbServer = nullptr;
    tAutoArray<tBlobNode> blobList;
    bool bof = true;
    bool eof = true;
    bool found = false;
    bool prepared = false;
    std::unique_ptr<tAutoArray<tJoinInfo>> joinList;

private:
    void DumpDefinition(tString& out) const;
};
