// The open work areas of a client session: tGenericFile, the abstract file that the dispatcher
// drives by its internal id, and tISAMFile, a table opened as a record-numbered ISAM file over
// SQL, with the records they keep: memo fields, joins, filter conditions, locked record numbers,
// the record-number cache and the memory of the last seek.
#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "lib_base/gmlalloc.h"
#include "lib_base/list.h"
#include "lib_base/stringz.h"
#include "lib_base/types.h"
#include "server/filter/filterowner.h"

class tAuditClient;
class tCommBuffer;
class tDBConnection;
class tDBSession;
class tField;
class tFilterElement;
class tISAMFile;
class tIndexDefinition;
class tRecordLockEngine;
class tStatement;
struct tColumnDesc;
class tTableDefinition;
class tTableDefinitionExclusive;
class tTableDefinitionShared;

// One memo field of an open file: its number among the data fields (from 1), by which the
// client names it, and its index in the definition, with the content of one record: written by
// the client and not yet stored (dirty), or read from the database (unless it must be read).
class tBlobNode {
public:
    tBlobNode(i16 dataFieldNo, i16 fieldIndex) : dataFieldNo(dataFieldNo), fieldIndex(fieldIndex) {}
    virtual ~tBlobNode() = default;

    i16 dataFieldNo;
    i16 fieldIndex;
    f64 recno = 0.0;    // the record whose content the node holds
    std::string value;  // any bytes
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
    // What the open request asks of a table file: no changes through it, sole use of the table,
    // and (a handle, not owned) field-level audit of its updates.
    void SetReadOnly(bool on) { readOnly = on; }
    void SetExclusive(bool on) { exclusive = on; }
    void SetAuditHandle(tAuditClient* handle) { auditHandle = handle; }
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
    bool readOnly = false;
    bool exclusive = false;
    tAuditClient* auditHandle = nullptr;
    std::unique_ptr<tAutoArray<tJoinInfo>> joinList;

    // The generic part of the description, with def as the file's definition.
    void DumpGeneric(tString& out, const tTableDefinition* def);

private:
    void DumpDefinition(tString& out, const tTableDefinition& def) const;
};

// One filter condition of a table file: its level (0 the plain filter, 1 and up the extended
// ones) and its SQL text.
class tFilterNode {
public:
    tFilterNode(i16 level, const char* text) : level(level), text(text) {}
    virtual ~tFilterNode() = default;

    i16 level;
    tString text;

    GML_CLASS_ALLOCATOR(tFilterNode, Mem_FilterNode)
};

// The record numbers that a table file holds locked, ascending and without duplicates. 0 stands
// for the whole-table lock.
class tRecnoList {
public:
    tRecnoList();                // room for 32
    bool Find(f64 recno) const;  // true for every record number while 0 is held
    bool Add(f64 recno);         // false when already held
    bool Remove(f64 recno);      // 0 empties the list (true); false when absent
    i32 Count() const { return static_cast<i32>(recnos.size()); }
    f64 Get(i32 i) const;  // asserts outside 0..Count()-1

private:
    std::vector<f64> recnos;
};

// What a table file remembers of its last seek. Every reset of the file's record-number cache
// forgets it, so that the next seek asks the database again.
class tSeekOptimizer {
public:
    void Store(i16 code);  // the seek's answer, now valid
    i16 GetResult() const { return result; }
    bool IsValid() const { return valid; }
    void Invalidate() { valid = false; }

private:
    bool valid = false;
    i16 result = -19;
};

// The record-number cache (IsamCache) of a table file: a window of record numbers in the
// owner's current order with a current slot. Moves step inside the window; the owner's key
// cursors fill it. The window knows whether it reaches the first row and the last row of the
// order, so that moves past those ends need no query. Owned by its file; the file's thread only.
// Invariants:
//  (1) current is -1 until the first reset or load, then 0 <= current < kSlots (callers of
//      SetCurrent keep it there).
//  (2) A slot holds a record exactly when its value is above 0; 0.0 marks an empty slot.
//  (3) A load stores at most min(row count, kSlots) record numbers.
class tCache {
public:
    static constexpr i32 kSlots = 500;
    static constexpr i32 kMiddleSlot = 250;

    explicit tCache(tISAMFile& owner);
    virtual ~tCache() = default;
    tCache(const tCache&) = delete;
    tCache& operator=(const tCache&) = delete;

    // Empties the window, keeping the current record number at the middle slot when asked;
    // clears both end flags, remembers the owner's order and forgets the owner's last seek.
    void Reset(bool keepCurrent);
    // Resets when the owner's order changed since the last reset or its filter changed.
    void Revalidate(bool keepCurrent);
    // Read the owner's open key cursor (first column: the record number) into the window after
    // (forward) or before (backward) the current slot; the number of rows read.
    i32 LoadForward(i32 offset);
    i32 LoadBackward(i32 offset);
    void ForgetOrder() { order = -1; }  // the next Revalidate resets
    void GoFirst();                     // the lowest filled slot, 0 when none
    void GoLast();                      // the highest filled slot, kSlots - 1 when none

    i32 GetCurrent() const { return current; }
    void SetCurrent(i32 slot) { current = slot; }
    f64 GetCurrentRecno() const;  // 0.0 when the current slot holds no record
    void SetCurrentRecno(f64 recno);
    bool IsFilled(i32 slot) const;
    bool IsEmpty() const;  // no current slot, or it holds no record
    // The window holds the first row of the order and the current slot a record.
    bool IsForwardComplete() const;
    bool IsBackwardComplete() const { return lastRow; }  // the window holds the last row
    void SetForwardComplete(bool on) { firstRow = on; }
    void SetBackwardComplete(bool on) { lastRow = on; }
    bool HasFirstRow() const { return firstRow; }
    i32 GetOrder() const { return order; }  // the owner's order at the last reset
    // Past the window's end (or on an empty slot) while the window holds the last row.
    bool IsPastEnd(i32 slot) const;
    const f64* GetWindow() const { return window; }

    GML_CLASS_ALLOCATOR(tCache, Mem_IsamCache)

private:
    i32 RowLimit() const;

    tISAMFile& owner;
    f64 window[kSlots] = {};
    f64 scratch[kSlots] = {};  // where a load collects its rows
    i32 current = -1;
    i32 order = 0;
    bool firstRow = false;
    bool lastRow = false;
};

// The rows of a key cursor: 40, or 250 while filter conditions thin the rows out.
constexpr i16 kKeyCursorRows = 40;
constexpr i16 kFilteredKeyCursorRows = 250;

// Half away from zero, with a threshold just below one half.
f64 RoundDouble(f64 value, i32 decimals);
f64 PowInt(f64 base, i32 exponent);

// A table opened as a record-numbered ISAM file over SQL. Record numbers are read through key
// cursors in the order of the current index (0: record-number order) into the record-number
// cache; the current record lives in a record buffer in the client's layout. Each driver derives
// its own class, made by its connection's NewISAMFile, and overrides the dialect hooks. The file
// works on a private copy of the table definition (the mirror), to which an open adds the joined
// fields; the shared definition stays as cached. Every statement of the file is composed in the
// connection's one SQL buffer. Used by its session's thread only.
class tISAMFile : public tGenericFile, public tFilterOwner {
public:
    tISAMFile(tDBConnection* connection, std::shared_ptr<tTableDefinitionShared> def,
              tCommBuffer& reply, u32 lockOwner);
    ~tISAMFile() override;  // first gives back the locks taken through this file

    // ---- Operations of the generic file.
    // Adds the joined fields waiting in the join list to the mirror, then puts the open reply
    // (record length, structure, status) and the index list.
    bool Open(u16 id) override;
    // Moves answer from the cache's window where they can and refill it by key cursors where
    // they must; true when the file stands on a record, which is then read. BOF and EOF tell
    // where a failed move ended; a failed skip goes back to the record it started on.
    bool GoTop() override;
    bool GoBottom() override;
    // Positions on the record number: inside the window without SQL (reread reads the record
    // again), elsewhere by reading it. A number of 0 or less, or one without a row, leaves the
    // file nowhere with BOF and EOF set.
    bool GoTo(f64 recno, bool reread) override;
    bool Skip(i32 count) override;
    bool Close() override;  // true; the file is released by its destructor
    // Puts the record number and the current record, numbers in the client's byte order.
    void SendRecord() override;
    // Takes the client's record into the incoming-record buffer. A request too short for it
    // leaves the buffer zeroed and the frame marked malformed, for the handler to end.
    void RecvRecord() override;
    void SendStatus() override;
    f64 GetRecno() override;  // the cache's current record number
    // Creates an index over the fields of a dBASE-style key ("A+DTOS(B)"); a field that the
    // table lacks is refused before any SQL, with the reason in the connection's last error.
    bool CreateIndex(const char* name, const char* key) override;
    // Puts the index names ("X,Y") and their key fields as positions in the client's record
    // ("001,004;002").
    void SendIndexes() override;
    i16 SetOrder(i16 order) override;  // 0 record-number order, n the n-th index; else -14
    i32 GetOrder() override;
    // Replaces the mirror by a new copy of the shared definition with the joined fields; a copy
    // that would need longer record buffers is refused with an assertion, the old mirror kept.
    void ResetMirror() override;
    bool IsAuditable() override;
    const char* GetTableName() override;
    bool IsQuery() override;
    bool IsExclusive() override;
    void ReleaseRecnoStmt() override;  // forgets the record fetch's text and prepared statement
    // The plain filter (level 0): the condition that the expression translates to, "@" and SQL
    // taken as written, an empty expression none; a KEYFLD(...) clause orders by the fields it
    // names. translated is cleared when a part of the expression has no SQL form (that part
    // then selects every row). The file stays on its record when it can still be read; false,
    // with EOF set, when it cannot, and the next skip starts from the top.
    bool SetFilter(const char* expression, bool& translated) override;
    // The condition of an extended filter level (1 and up), its SQL appended to translated; an
    // empty expression removes it. Refusals (KEYFLD, "@", level 0, a part without SQL) answer
    // -19 with the reason in the connection's last error and change nothing.
    i16 SetFilterEx(i16 level, const char* expression, tString& translated) override;
    // Appends the incoming record as a new row under a record number that no other holder has;
    // the file then stands on it and holds its lock. On failure nativeError holds the
    // database's code (or the lock engine's refusal, -15) and the connection's last error why.
    // WriteRecord then stores the memos the client wrote into the new record (-29 when one
    // could not be).
    bool WriteRecord(i32& nativeError) override;
    bool Write(i32& nativeError) override;
    // Rewrites the record (0: the current one) with the fields of the incoming record that
    // differ from it: 0 (also when none differs), -29 failed, -31 locked by another holder,
    // -37 refused as the database's user error, -19 a value that has no SQL form.
    // UpdateRecord then stores the memos the client wrote into it: -19 when one could not be.
    i16 UpdateRecord(f64 recno) override;
    i16 Update(f64 recno) override;
    // Marks the record (0: the current one) deleted or live: 0, -31, -37, else -30 for a
    // deletion and -29 for a recall.
    i16 DeleteR(f64 recno) override;
    i16 RecallR(f64 recno) override;
    i16 SetDeletedFilter(u8 on) override;  // 0; while on, key cursors leave marked rows out
    // A record lock, or the table lock (table set): 0 granted, the record read again; -31 held
    // by another holder; -25 granted but no record to read, and given back.
    i16 Lock(u8 table, i32 recno) override;
    bool Unlock(u8 table, i32 recno) override;             // the engine's answer
    void GetLockOwner(i32 recno, tString& text) override;  // the holder's information text
    // Stands on the first row of the current order whose leading key fields equal (soft: are
    // at least) the key laid out in the incoming record: 0 found, -28 a soft seek on a greater
    // key, -25 none.
    i16 Seek(i16 keyFields, i16 keyLength, u8 soft) override;
    // Reads only the named fields (unknown names are warned of and skipped), the current
    // index's key fields and the reserved ones; an empty list reads every field again. 0.
    i16 SrvMap(const char* fields) override;
    // Puts the memo's length (length 0) or i32 0 and at most length bytes of it. recno 0: the
    // current record. The memo is read from the database unless the client wrote it.
    void BlobRead(i16 memoId, i32 recno, i32 length) override;
    // Keeps the bytes as the memo of the current record, stored by the next write of the
    // record (BlobWriteSql); 0, or -19 for a memo id the table lacks.
    i16 BlobWrite(i16 memoId, const void* bytes, i32 count) override;
    bool Clear() override;  // every row deleted; the cache forgets its record numbers
    bool Pack() override;   // the rows marked deleted removed; the cache forgets them
    // Appends the file's state, the record as last read and its memos, then the generic part.
    void DumpInfo(tString& out) override;

    // ---- Dialect hooks, in their order. The base forms write dialect-neutral SQL into the
    // connection's SQL buffer.
    // Whether the literal writer hands the character to CharFunc: below 32 as a signed byte,
    // above 125, or the single quote.
    virtual bool NeedsCharFunc(char c);
    // Writes c as the dialect's character function into out; the writer has closed its quoted
    // run. afterFunction: the previous character went the same way; first: c opens the value;
    // last: nothing of the literal follows. Answers false when it writes nothing, which keeps c
    // inside the quoted run (a quote doubled): the base declines every character.
    virtual bool CharFunc(tString& out, u8 c, bool afterFunction, bool first, bool last);
    // May write the characters of a literal (the writer has opened it); written receives the
    // count of characters written. Base false: the writer writes them.
    virtual bool AppendLiteral(tString& out, const char* text, i32 length, i32& written);
    // The key cursor of the rows after (before) the current key, using the first keyFields
    // fields of the current index; keyFields -1: from the top (bottom). Sets the row count.
    virtual bool BuildNextSelect(i32 keyFields);
    virtual bool BuildPrevSelect(i32 keyFields);
    virtual void AddRowLimit();
    // "SELECT R_E_C_N_O_ FROM <owner><table>" with the hooks between.
    virtual void AddSelectFrom(bool withHint, bool forward);
    // The key conditions over key (a record buffer); whether a WHERE has been written.
    virtual bool AddKeyWhere(const char* key, i32 keyFields, const char* op, bool backward);
    virtual bool AddFilterWhere(bool whereOpen);   // the filter conditions, ANDed
    virtual bool AddDeletedWhere(bool whereOpen);  // "D_E_L_E_T_ = ' '" while deleted are hidden
    virtual void AddAfterOrder();
    virtual void AddUpdateClause();  // after the condition of the UPDATE of one record
    virtual void AddHint(bool withHint, bool forward);
    virtual void AddKeyColumns(i32 keyFields);
    virtual void AddTableHint();
    virtual bool CheckKeyPrefix(const char* op);  // false when op begins with "< "
    // Appends the record fetch's condition on the record number: true when it is a parameter
    // marker to bind, false (the base) when the number is written into the text.
    virtual bool AddRecnoEquals(f64 recno);
    virtual void RecnoParamMarker();  // the parameter marker of the prepared record fetch
    virtual bool AddKeyBounds(i32 keyFields, const tIndexDefinition* index, i32 conditions,
                              bool backward, bool whereOpen);
    virtual void AddIndexSpace();
    // Appends the value of the field in record as SQL. False, with nothing written, for a field
    // outside the record or a number that is not finite.
    virtual bool ValueToSql(i16 fieldNo, tString& out, const char* record, bool pad, bool quote,
                            bool charFunctions);
    // Filter hooks, called while a filter is translated, with nodes of the translation's tree as
    // operands. Each appends the dialect's SQL to out and answers true, or answers false, which
    // leaves the construct to the translation's fallback. The base forms answer false and
    // append nothing.
    // The test that the text of right occurs in left.
    bool ContainsExpr(tString& out, tFilterElement& left, tFilterElement& right) override;
    // The substring of text from start, length characters long; length null: to the end.
    bool SubstrFunc(tString& out, tFilterElement& text, tFilterElement& start,
                    tFilterElement* length) override;
    // Whether the named function has an SQL form. The hook may rewrite name in place, put the
    // whole SQL of the call into replacement, or put into suffix a text that follows the call's
    // closing parenthesis. argument: the first argument, or null.
    bool MapFunction(tString& name, tFilterElement* argument, tString& replacement,
                     tString& suffix) override;
    tTableDefinition* GetFilterTable() const override { return GetTableDef(); }
    // The characters of a literal with the dialect's character functions, padded with blanks
    // to width when asked.
    void WriteLiteral(tString& out, const char* text, i32 length, i32 width, bool pad, bool quote,
                      bool charFunctions) override;
    // function + "text,start,length)" appended to out, as the dialects' substring hooks write
    // it. Without a length operand, the length is the rest of the field that text stands for,
    // from start (a plain integer within the field). False, with nothing appended, when an
    // operand has no SQL or, without a length, for any other operands.
    static bool AppendSubstring(tString& out, const char* function, tFilterElement& text,
                                tFilterElement& start, tFilterElement* length);
    // Stores every memo the client wrote into recno, the record just inserted or updated; the
    // record writers call it after their INSERT or UPDATE and before the file moves. False, with
    // code -29, at the first memo that could not be stored (those stored before are clean).
    virtual bool BlobWriteSql(i32& code, f64 recno);

    // ---- Memo fields.
    // The node of the memo, holding the content of recno: a node of another record is emptied
    // and marked for reading. Null for a memo id the table lacks.
    tBlobNode* GetBlobNode(i16 memoId, f64 recno);
    void ResetBlobs();  // every node empty and to be read again
    // What the client wrote into a memo and no write has stored yet.
    struct tPendingMemo {
        i16 memoId;
        std::string value;
    };
    std::vector<tPendingMemo> PendingMemos() const;
    // Makes the memos pending again, as written to the record the file stands on now.
    void RestorePendingMemos(std::vector<tPendingMemo>& memos);

    // ---- The current record.
    // Makes the current-record buffer hold the record of the cache's current slot; without
    // force, a record already held is not read again.
    bool SyncCurrent(bool force);
    bool OpenCurrentRecord();  // reads the current record; false when no row came
    // Copies the fetched row into the current-record buffer by column name; a column that the
    // mirror lacks is an assertion.
    void MapToClient(tStatement& stmt);

    // ---- Navigation steps.
    bool GetSelect(bool backward);  // refills the window after (before) the current key
    bool StepForward(bool last);    // one record on; last: the step that reads the record
    bool StepBackward(bool last);

    // ---- Pieces of the key cursors.
    void AddOrderBy(bool descending);
    bool HasFilter() const { return filterList.Count() > 0; }
    // The filter index in record-number order, the index of the order otherwise; null in plain
    // record-number order.
    tIndexDefinition* GetCurrentIndex() const;
    bool IsIndexOrder() const { return order != 0 || filterIndex != nullptr; }

    // ---- Pieces of the seek. Key lengths count record bytes; R_E_C_N_O_, which ends every
    // index, is never part of a sought key.
    // The leading key fields that keyLength bytes cover (0: the whole key, never exact); exact:
    // to the byte.
    // 0 in record-number order.
    i16 KeyFieldsCovered(i16 keyFields, i16 keyLength, bool& exact);
    i16 TotalKeyLength();
    void BuildSeekSelect(i32 keyFields);
    // 0 when the fetched row's first keyFields key fields equal the sought key.
    i16 CompareFetchedKey(i32 keyFields, i16 keyLength);
    bool IsKeyField(i16 fieldNo) const;  // a field of the current order's index

    tTableDefinitionExclusive& GetMirror() const { return *mirror; }
    tCache& GetCache() const { return *cache; }
    tStatement& GetStatement() const { return *fetchStmt; }  // runs the key cursors
    tSeekOptimizer& GetSeekOptimizer() const { return *seekOptimizer; }
    bool IsFilterChanged() const { return filterChanged; }
    void SetFilterChanged(bool on) { filterChanged = on; }

    GML_CLASS_ALLOCATOR(tISAMFile, Mem_IsamFile)

protected:
    // Makes the statement of the prepared record fetch, when the connection uses one and the file
    // has none yet.
    void PrepareRecordFetch();
    // A field that a join added to the mirror, kept to add it again after ResetMirror.
    struct tJoinField {
        i32 join;        // its place in the join list
        tString source;  // the joined table's column
        tString name;    // the alias it has in the file
        u8 type;
        i16 length;
        u16 decimals;
    };

    void AddJoin(i32 joinNo, const tJoinInfo& join);
    i32 FindFilter(i16 level) const;  // the first node of the level, or -1
    // The SQL of a filter text (written into: the translation cuts it); whether it all
    // translated.
    bool TranslateFilter(char* text, tString& condition);
    void ReplaceFilter(i16 level, const tString& condition);
    // The custom order of a KEYFLD list (names separated by blanks or commas), read after
    // marker when one is given; an unknown name ends the list with a console warning. Used
    // while the order is 0.
    void SetOrderBy(const char* list, const char* marker);
    void ClearOrderBy();
    void BuildRecordSelect();
    void AppendJoinedSelect(bool& first);
    bool OpenPrepared(f64 recno);
    bool OpenDirect(f64 recno);
    void MapColumn(const tColumnDesc& column, const tField& field);
    void TraceLoad(const char* routine, f64 elapsed, i32 rows);
    // The first (last) block of the order: unless the window already holds that end, it is
    // refilled by the key cursor that build composes in the SQL buffer, run under routine;
    // traceRoutine (null: none) names the trace line of the load. Then the record is read.
    bool LoadTopBlock(const std::function<void()>& build, const char* routine,
                      const char* traceRoutine);
    bool LoadBottomBlock(const std::function<void()>& build, const char* routine,
                         const char* traceRoutine);
    bool IsCurrentDeleted() const;
    void DumpRecord(tString& out);
    void DumpMemos(tString& out);
    void SwapNumbers(char* record);
    void SizeFieldMap();
    void SizeRecordBuffers();
    void AppendOwnerTable();  // the connection's owner prefix and the table name
    void SetKeyCursorRows();
    bool AddRecnoWhere(const char* op);
    // Writes and locks.
    tRecordLockEngine& LockEngine() const;  // the session's
    i32 LockBucket() const;
    i16 RefuseReadOnly(i16 code, const char* routine);
    i16 RefuseValue(const tField& field, const char* routine);  // -19
    bool IsDeletedMark(const char* record) const;
    bool IsInsertColumn(i16 fieldNo) const;
    bool BuildInsert(bool& anyColumn, bool& withRecDel);
    bool InsertWithEngineRecno(bool anyColumn, bool withRecDel, f64& recno, i32& nativeError);
    bool InsertWithIdentity(bool anyColumn, bool withRecDel, f64& recno, i32& nativeError);
    bool RefuseRecno(f64 refusal, i32& nativeError, const char* routine);
    // How an append under the engine's record numbers ended: inserted, refused by the engine
    // (the error set), or failed in the database (nativeError holds the key statement's code).
    enum class tInsertOutcome { Inserted, Refused, Failed };
    // Runs insert with one record number of the engine after another until it succeeds or fails
    // other than by a clash on the record-number key. After a run of clashes the engine's
    // counter is set again from the table; after too many the last clash is the failure.
    tInsertOutcome InsertUnderEngineRecno(const std::function<bool(f64)>& insert,
                                          const char* routine, f64& recno, i32& nativeError);
    void ResyncRecnoCounter();
    void StandOnInserted(f64 recno);
    // Makes recno current with its row in the current-record buffer; false when there is no
    // such record.
    bool PositionForChange(f64 recno);
    // The lock a change of recno needs when the client holds none; false when another holder
    // has it. taken: the caller gives it back with UnlockAfterChange.
    bool LockForChange(f64 recno, const char* operation, bool& taken);
    void UnlockAfterChange(f64 recno, bool taken);
    void ReleaseListedLocks();  // the locks of the locked-record list, which it empties
    // What an update changes: any field, the deletion mark, a field of the current order.
    struct tFieldChanges {
        bool any = false;
        bool deletedMark = false;
        bool keyField = false;
    };
    // The frame of an update of recno (0: the current record): refusal of a read-only file,
    // the warnings, positioning on the record, the lock it needs; rewrite writes the changes.
    i16 UpdateWith(f64 recno, const char* routine, const std::function<i16(f64)>& rewrite);
    i16 RewriteChangedFields(f64 recno);
    // After the UPDATE of recno on the key statement: the buffer's record is the current one
    // when written; else -37 for the database's user error, -29 for any other failure.
    i16 EndRewrite(bool written, f64 recno, bool keyField);
    // "<name> = <value>" joined by "," for each field whose bytes differ between the incoming
    // and the current record, value appending the value of the field; each audited but the
    // deletion mark. 0, value's refusal, or -29 for a refused audit.
    i16 AppendChangedFields(f64 recno, tFieldChanges& changes,
                            const std::function<i16(i16 fieldNo)>& value);
    bool AuditField(i16 fieldNo, f64 recno);
    i16 MarkDeletion(f64 recno, bool deleting);
    i16 KeyFieldCount(const tIndexDefinition& index) const;  // the fields before R_E_C_N_O_
    bool RunSeekQuery(i16 keyFields, const char* op);
    i16 LoadSeekResult(i16 keyFields, i16 asked, i16 keyLength, bool soft, bool& loaded);
    i16 EndSeek(i16 code, bool soft);

    // The session's thread only.
    tAutoArray<tFilterNode> filterList;
    bool filterChanged = false;
    std::unique_ptr<tSeekOptimizer> seekOptimizer;
    std::unique_ptr<tTableDefinitionExclusive> mirror;
    i32 order = 0;
    // Record buffers of the mirror's record length: the record the client sent, the current
    // record, and the current record in the client's byte order (only when the client's order
    // differs).
    // (A file's destructor may not throw, so these are vectors rather than guarded AutoChars;
    // a record buffer holds at least one byte.)
    std::vector<char> incomingRecord;
    std::vector<char> currentRecord;
    std::vector<char> swapRecord;
    tString recordSelect;      // the record fetch's text up to its condition; empty: build it again
    std::vector<u8> fieldMap;  // one byte per mirror field, 1: the field is read
    tString mapText;           // the field map last applied
    bool deletedFilter = false;
    std::unique_ptr<tStatement> fetchStmt;
    std::unique_ptr<tStatement> preparedStmt;
    tRecnoList lockedList;
    f64 heldRecno = -1.0;  // the record that the current-record buffer holds; -1: none
    // The record whose bytes the buffer holds, read or written by this file since; -1: none.
    // Unlike heldRecno it stays set after a write, whose row is read again only when moving.
    f64 bufferRecno = -1.0;
    bool srvDirty = false;   // a change of a key field: the current record must be read again
    bool needFirst = false;  // the next skip starts from the top
    std::unique_ptr<tCache> cache;
    std::unique_ptr<tIndexDefinition> filterIndex;  // an order of the filter's own, or null
    std::vector<tJoinField> joinFields;
    tString& sql;  // the connection's
};
