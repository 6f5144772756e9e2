/* gatemillapi: the client library of the gatemill gateway. Applications reach the gateway's
 * tables, queries and SQL only through these functions. Each function that talks to the server
 * sends one request on the caller's thread, waits for the whole reply and returns a 16-bit
 * status; the work-area accessors and the table-creation descriptor work on local data only.
 * The library starts no threads and no exception ever leaves it.
 *
 * Handles: connections and descriptors are named by 32-bit handles (never 0). A handle that was
 * released, or never issued, is refused like a null handle. One thread at a time may use a
 * handle; different handles may be used from different threads.
 *
 * Status codes made by the library itself (never sent by the server):
 *   -2   null or unknown handle, not connected, or the connect failed;
 *   -24  no work area with that number on the connection;
 *   -40  the monitor's user list is longer than GM_InfoManager takes;
 *   -88  communication failure during a request: the connection is dropped, and the next
 *        request on the handle returns -2 without any network traffic;
 *   -99  the server's build is older than 20050901 (the library disconnected again).
 * Every other code is the server's; 0 is success, below 0 a failure (-10 no such open file,
 * -19 refused or failed (GM_GetError tells why), -25 no record, -31 locked by another owner).
 *
 * Work areas: opening a table or a query makes a work area, the local image of it: its fields,
 * one record buffer, the null flags and the navigation status. Its number (returned by GM_Open
 * and GM_Query) names it in the other functions. Moves fill the record buffer; writes and
 * updates send it. Field values lie in the record buffer as the server sends them: C and other
 * text fields padded to their length without a NUL, N and the other numeric 8-byte fields as
 * doubles, D as its eight characters YYYYMMDD, L as one byte ('T' or 'F'); memo fields take no
 * bytes. */
#ifndef GATEMILLAPI_H
#define GATEMILLAPI_H

#include <stdint.h>

#if defined(__GNUC__)
#define GM_EXPORT __attribute__((visibility("default")))
#else
#define GM_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32_t GM_HANDLE;

/* ---- Connections ------------------------------------------------------------------------- */

/* New connection objects, not yet connected; port 0 means 7890. 0 when none could be made.
 * GM_GetGmlConn makes a table connection (reserved is not read); the others the monitor,
 * lock-server, audit and audit-monitor connections. */
GM_EXPORT GM_HANDLE GM_GetGmlConn(uint32_t reserved, uint16_t port);
GM_EXPORT GM_HANDLE GM_GetManager(uint16_t port);
GM_EXPORT GM_HANDLE GM_GetLockClient(uint16_t port);
GM_EXPORT GM_HANDLE GM_GetAudit(uint16_t port);
GM_EXPORT GM_HANDLE GM_GetAuditMonitor(uint16_t port);

/* Destroy a connection (its work areas, socket and buffer) and release its handle; 0. GM_Release
 * and GM_ReleaseManager send nothing; the other three first disconnect when connected. */
GM_EXPORT int16_t GM_Release(GM_HANDLE handle);
GM_EXPORT int16_t GM_ReleaseManager(GM_HANDLE handle);
GM_EXPORT int16_t GM_ReleaseLockClient(GM_HANDLE handle);
GM_EXPORT int16_t GM_ReleaseAudit(GM_HANDLE handle);
GM_EXPORT int16_t GM_ReleaseAuditMonitor(GM_HANDLE handle);

/* Connects a table connection to host (a name or a dotted IPv4 address). environment is the
 * database type, "/" and the alias ("POSTGRES/ERP"); info is free text about the client
 * program. Up to 10 connect attempts are made, 1 s apart, also when the server accepts and then
 * answers nothing (0.5 s apart). 0 when connected, -2 when the server could not be reached,
 * -99 for a server too old, else the server's refusal (-35 database connect failed, -36
 * connections disabled, -6 server short of memory, -43 lock master unreachable).
 * GM_m4GLConnect connects in the m4GL mode: record replies then carry the changed-structure
 * block and null flags, and statement replies the three statement status words. */
GM_EXPORT int16_t GM_Connect(GM_HANDLE handle, const char* host, const char* environment,
                             const char* info);
GM_EXPORT int16_t GM_m4GLConnect(GM_HANDLE handle, const char* host, const char* environment,
                                 const char* info);
/* One connect attempt each; -2 at once when it fails. */
GM_EXPORT int16_t GM_ConnectManager(GM_HANDLE handle, const char* host);
GM_EXPORT int16_t GM_ConnectLockClient(GM_HANDLE handle, const char* host);
GM_EXPORT int16_t GM_ConnectAudit(GM_HANDLE handle, const char* host, const char* caller);
GM_EXPORT int16_t GM_ConnectAuditMonitor(GM_HANDLE handle, const char* host, const char* caller);

/* Tell the server that the connection ends (no reply is awaited) and close it; 0. Nothing is
 * sent when not connected. Work areas stay until GM_Release. */
GM_EXPORT int16_t GM_DisConnect(GM_HANDLE handle);
GM_EXPORT int16_t GM_DisconnectManager(GM_HANDLE handle);
GM_EXPORT int16_t GM_DisconnectLockClient(GM_HANDLE handle);
GM_EXPORT int16_t GM_DisconnectAudit(GM_HANDLE handle);
GM_EXPORT int16_t GM_DisconnectAuditMonitor(GM_HANDLE handle);

/* 1 when connected, else 0. */
GM_EXPORT int16_t GM_IsConnected(GM_HANDLE handle);
GM_EXPORT int16_t GM_ManagerIsConnected(GM_HANDLE handle);
GM_EXPORT int16_t GM_LockClientIsConnected(GM_HANDLE handle);
/* Always 2. */
GM_EXPORT int16_t GM_GetConnType(GM_HANDLE handle);
/* Copy the server type ("WinNT") or the server info that the handshake received into out (room
 * for 256 bytes); 0. -2, with out emptied, when the handle is unknown or not connected. */
GM_EXPORT int16_t GM_GetServerType(GM_HANDLE handle, char* out);
GM_EXPORT int16_t GM_GetServerInfo(GM_HANDLE handle, char* out);
/* Copies the library's build, "20090120"; 0. */
GM_EXPORT int16_t GM_GetApiBuild(GM_HANDLE handle, char* out);
/* Asks the server for its build date text (eight digits) into out (room for 256 bytes); 0, -2
 * or -88. */
GM_EXPORT int16_t GM_GetBuild(GM_HANDLE handle, char* out);

/* ---- Transactions and server-wide requests (table connections) -------------------------- */

GM_EXPORT int16_t GM_StrCmtCtl(GM_HANDLE handle); /* begin a transaction */
GM_EXPORT int16_t GM_EndCmtCtl(GM_HANDLE handle); /* end it (back to autocommit) */
GM_EXPORT int16_t GM_Commit(GM_HANDLE handle, uint32_t reserved);
GM_EXPORT int16_t GM_Rollbk(GM_HANDLE handle);

/* Creates table from a descriptor made by GM_GetCreateStruct. The descriptor is freed once the
 * server has answered; after -2 or -88 it stays the caller's. -2 also for an unknown
 * descriptor. */
GM_EXPORT int16_t GM_CreateFile(GM_HANDLE handle, const char* table, GM_HANDLE descriptor);
GM_EXPORT int16_t GM_DeleteFile(GM_HANDLE handle, const char* table);
/* 0 when the table exists; second is passed to the server as given. */
GM_EXPORT int16_t GM_CanOpen(GM_HANDLE handle, const char* table, const char* second);
GM_EXPORT int16_t GM_Refresh(GM_HANDLE handle, const char* table);
GM_EXPORT int16_t GM_SPExist(GM_HANDLE handle, const char* procedure);
/* Dummy mode on (on != 0) or off: in it the server answers record moves and writes with -25. */
GM_EXPORT int16_t GM_DummyMode(GM_HANDLE handle, uint8_t on);
GM_EXPORT int16_t GM_AlterFile(GM_HANDLE handle, const char* first, const char* second,
                               const char* third);
GM_EXPORT int16_t GM_SetParam(GM_HANDLE handle, const char* name, const char* value);
GM_EXPORT int16_t GM_Unique(GM_HANDLE handle, const char* first, const char* second);

/* ---- Errors and session ------------------------------------------------------------------ */

/* The connection's last error: the status is the error number made positive, and its text is
 * copied into out (at most max bytes; no NUL is added when the text fills them). -19 when the
 * server has no error text (out then emptied when max > 0). */
GM_EXPORT int16_t GM_GetError(GM_HANDLE handle, char* out, uint16_t max);
GM_EXPORT int16_t GM_GetNativeError(GM_HANDLE handle, char* out, uint16_t max);
/* The server's session id for this connection (or -2, -88). */
GM_EXPORT int32_t GM_GetSID(GM_HANDLE handle);
/* The database's session id text: copies min(length + 1, max) bytes into out when it is not
 * empty and returns length + 1 (so a result above max means it was cut); or -2, -88. */
GM_EXPORT int32_t GM_GetDBSID(GM_HANDLE handle, char* out, uint16_t max);

/* ---- Tables and indexes ------------------------------------------------------------------ */

/* Opens a table; readOnly and exclusive when non-zero. The new work area's number (1 or more),
 * or the server's code: -19 (no such table, or refused), -15 (in use exclusively). */
GM_EXPORT int16_t GM_Open(GM_HANDLE handle, const char* table, uint8_t readOnly, uint8_t exclusive);
/* Closes a table on the server and drops its work area, also when the reply is lost. A prepared
 * statement's work area of a GM_Connect connection stays (its cursor is closed). */
GM_EXPORT int16_t GM_Close(GM_HANDLE handle, uint16_t wa);
/* Closes a prepared query's cursor; the work area stays. */
GM_EXPORT int16_t GM_JustClose(GM_HANDLE handle, uint16_t wa);
/* Removes every record of the table (the record buffer is zeroed). */
GM_EXPORT int16_t GM_Clear(GM_HANDLE handle, uint16_t wa);
/* Removes the deleted records, then reads the current record again. 0, or the pack's failure
 * code, or -88. */
GM_EXPORT int16_t GM_Pack(GM_HANDLE handle, uint16_t wa);
/* Creates an index (name, key expression such as "CODE+NAME"); on 0 the work area's index lists
 * are renewed. */
GM_EXPORT int16_t GM_CreateIndex(GM_HANDLE handle, uint16_t wa, const char* name, const char* key);
/* Sets the order: index 1 is the record-number order, 2 the first index of GM_GetKeyNames, 3
 * the second, and so on (-14 when there is no such index). Nothing is sent, and 0 returned,
 * when the server already has that order for the work area. */
GM_EXPORT int16_t GM_SetKey(GM_HANDLE handle, uint16_t wa, int16_t index);
/* Sets the order by index name (letters in either case): its position in GM_GetKeyNames,
 * counted from 1, is sent. -14 when the work area has no index of that name. */
GM_EXPORT int16_t GM_SetKeyC(GM_HANDLE handle, uint16_t wa, const char* name);
/* Sets the server-side field map; an empty list switches it off. */
GM_EXPORT int16_t GM_SrvMap(GM_HANDLE handle, uint16_t wa, const char* map);
/* Shows (0) or hides (non-zero) the records marked deleted. Nothing is sent when unchanged. */
GM_EXPORT int16_t GM_SetDeleted(GM_HANDLE handle, uint16_t wa, int16_t setting);

/* ---- Navigation and records -------------------------------------------------------------- */
/* Moves answer 0 with the record in the work area's buffer, or a negative code with the buffer
 * zeroed (-25: no record; GM_Bof and GM_Eof tell which end). Parameters named unused are not
 * sent. */

GM_EXPORT int16_t GM_First(GM_HANDLE handle, uint16_t wa, int32_t unused1, int32_t unused2);
GM_EXPORT int16_t GM_Last(GM_HANDLE handle, uint16_t wa, int32_t unused1, int32_t unused2);
/* count records forwards (or backwards when negative) in the current order. */
GM_EXPORT int16_t GM_Skip(GM_HANDLE handle, uint16_t wa, int32_t unused1, int32_t count,
                          int32_t unused2);
/* Goes to a record number. */
GM_EXPORT int16_t GM_ChainR(GM_HANDLE handle, uint16_t wa, int32_t unused1, uint32_t record,
                            int32_t unused2);
/* Seeks in the current index the key held in the record buffer (its key fields filled in, with
 * GM_SetInternalFld): keyFields key fields, keyLength bytes of key. lock non-zero also locks
 * the record found (-31 when another owner holds it); soft non-zero stops on the next greater
 * key, answering -28 with that record. */
GM_EXPORT int16_t GM_Seek(GM_HANDLE handle, uint16_t wa, int32_t unused1, uint16_t keyFields,
                          uint8_t lock, uint8_t soft, uint16_t keyLength, int32_t unused2);
/* Appends the record buffer as a new record; on 0 the work area stands on it (GM_RecNo) and,
 * unless the table is open exclusively, holds its lock until GM_UnLock or GM_FUnLock. */
GM_EXPORT int16_t GM_Write(GM_HANDLE handle, uint16_t wa, int32_t unused);
/* Rewrites record number record with the record buffer. */
GM_EXPORT int16_t GM_UpdateR(GM_HANDLE handle, uint16_t wa, int32_t unused, uint32_t record);
/* Mark a record deleted, or remove the mark; on 0 the buffer's D_E_L_E_T_ field shows it. */
GM_EXPORT int16_t GM_DeleteR(GM_HANDLE handle, uint16_t wa, uint32_t record);
GM_EXPORT int16_t GM_RecallR(GM_HANDLE handle, uint16_t wa, uint32_t record, int32_t unused);

/* ---- Filters ----------------------------------------------------------------------------- */
/* Restricts the work area to the records that match condition (a filter expression; "@" and SQL
 * as written; an empty one removes it) and reads the current record again: the buffer holds it,
 * or is zeroed when the area no longer stands on one (GM_Skip then starts from the top). 0, or
 * -19 when the server refused the condition. */
GM_EXPORT int16_t GM_ChgQuery(GM_HANDLE handle, uint16_t wa, const char* condition);
/* As GM_ChgQuery; *partial becomes 0 when the server translated the whole condition, 1 when a
 * part of it selects more rows than it says, 2 when the reply did not tell. */
GM_EXPORT int16_t GM_ChgQueryEx(GM_HANDLE handle, uint16_t wa, const char* condition,
                                uint16_t* partial);
/* Sets the condition of a further filter level (1 and up) beside the plain filter; an empty
 * condition removes the level. The server's code: -19 when it refused the condition. */
GM_EXPORT int16_t GM_FilterEx(GM_HANDLE handle, uint16_t wa, uint16_t level, const char* condition);

/* ---- Locks ------------------------------------------------------------------------------- */

/* Locks a record (0: the current one) and reads it afresh: a move. -31 when another owner
 * holds it. */
GM_EXPORT int16_t GM_Lock(GM_HANDLE handle, uint16_t wa, uint32_t record);
GM_EXPORT int16_t GM_UnLock(GM_HANDLE handle, uint16_t wa, uint32_t record);
/* Lock and unlock the whole table. */
GM_EXPORT int16_t GM_FLock(GM_HANDLE handle, uint16_t wa, int32_t unused);
GM_EXPORT int16_t GM_FUnLock(GM_HANDLE handle, uint16_t wa);

/* ---- Queries and direct SQL -------------------------------------------------------------- */

/* Opens a SELECT as a read-only work area: its number, or the server's code (-19). */
GM_EXPORT int16_t GM_Query(GM_HANDLE handle, const char* sql);
/* As GM_Query with a second text and two values passed as given. statusBlock (may be null; at
 * least 96 bytes) receives the three statement status words at bytes 0, 88 and 92. */
GM_EXPORT int16_t GM_QueryEx(GM_HANDLE handle, const char* sql, const char* second, uint8_t first,
                             uint8_t third, void* statusBlock);
/* Runs a statement that returns no rows: its first length bytes (0: the whole text). */
GM_EXPORT int16_t GM_Execute(GM_HANDLE handle, const char* sql, uint32_t length);
GM_EXPORT int16_t GM_ExecuteEx(GM_HANDLE handle, const char* sql, uint32_t length,
                               void* statusBlock);

/* ---- Prepared statements and stored procedures ----------------------------------------------
 * A descriptor list is one text of descriptors "T/nnn/d/" (type letter, length of at least three
 * digits, a digit), 8 bytes each, one more byte per extra length digit for A, B, D and I; the data
 * area holds the values one after another: A B D n bytes, E R 4, F G 8, I n bytes, L 1, T n bytes
 * and two int32, X 2 bytes (its value is the descriptor's seventh character). */
/* Prepares a statement: the handle of its work area, or the server's negative code. */
GM_EXPORT int16_t GM_SqlPrepare(GM_HANDLE handle, const char* sql);
/* Binds values to the prepared statement and runs it; the first bind with a result reads its
 * structure into the work area. */
GM_EXPORT int16_t GM_SqlBind(GM_HANDLE handle, uint16_t wa, const char* descriptors,
                             const void* data);
/* Frees a prepared statement and its work area; -15 while its cursor is open (the area stays). */
GM_EXPORT int16_t GM_SqlFree(GM_HANDLE handle, uint16_t wa);
/* Runs a stored procedure. descriptors holds count 8-byte descriptors: the first describes the
 * procedure's name, the others its parameters (A and D texts, F doubles, L bytes; other letters
 * send no value). The results are written back over the descriptors ("C/nnn/0/" for a text of
 * at most 999 bytes, "F/008/0/" for a double) and the data, at most count of them, followed by a
 * descriptor "*" when there is room. The number of results written, or a negative code. */
GM_EXPORT int16_t GM_ProcExec(GM_HANDLE handle, char* descriptors, void* data, int16_t count);

/* ---- Embedded statements ---------------------------------------------------------------------
 * statusBlock (may be null; at least 96 bytes) receives the three statement status words at
 * bytes 0, 88 and 92, as for GM_QueryEx. These requests have no handler in pellmar, which
 * answers with the request itself: the exports then give -88 and make no work area. */
/* Prepares a statement as a work area: its handle, or the negative status. */
GM_EXPORT int16_t GM_PrepareStmt(GM_HANDLE handle, const char* sql, void* statusBlock);
GM_EXPORT int16_t GM_PrepareUnload(GM_HANDLE handle, const char* sql, void* statusBlock);
/* Stores the type letter of each column of the statement's result into types, one per column;
 * 0 (also for a status outside 0..99). */
GM_EXPORT int16_t GM_GetQryDescription(GM_HANDLE handle, const char* sql, char* types,
                                       void* statusBlock);
/* Binds the parameters (descriptor list and data as for GM_SqlBind) to a prepared work area. */
GM_EXPORT int16_t GM_BindParam(GM_HANDLE handle, uint16_t wa, const char* descriptors,
                               const void* data, const char* text, uint8_t first, uint8_t second,
                               void* statusBlock);
GM_EXPORT int16_t GM_ExecStmt(GM_HANDLE handle, uint16_t wa, uint8_t first, const char* text,
                              uint8_t second, uint8_t third, void* statusBlock);
/* Runs a statement with parameters that returns no rows. */
GM_EXPORT int16_t GM_ExecEmbeddedNoReturn(GM_HANDLE handle, const char* sql,
                                          const char* descriptors, const void* data,
                                          void* statusBlock);
/* Runs a procedure opened as a work area; values (may be null): a count n, then n int32. The new
 * work area's handle; -25 for any failure the server reports. */
GM_EXPORT int16_t GM_ExecProcedure(GM_HANDLE handle, const char* name, const char* descriptors,
                                   const void* data, const int32_t* values, void* statusBlock);
GM_EXPORT int16_t GM_FieldCount(GM_HANDLE handle, uint16_t wa);
/* Fetches the next row: 0 when one came, 1 at the end (and for an unknown handle or work area). */
GM_EXPORT int16_t GM_IsEofEmbedded(GM_HANDLE handle, uint16_t wa);
GM_EXPORT int16_t GM_FetchScroll(GM_HANDLE handle, uint16_t wa, uint32_t first, uint16_t second,
                                 void* statusBlock);

/* ---- Memo fields (field: the field's number among the data fields, from 1) ------------------ */
/* The memo's length in bytes; recno 0 names the current record. -24, -2 or -88 as usual. */
GM_EXPORT int32_t GM_Blob_Length(GM_HANDLE handle, uint16_t wa, uint16_t field, uint32_t recno);
/* Copies at most length bytes of the memo into out; gives the server's code (0). */
GM_EXPORT int32_t GM_Blob_Read(GM_HANDLE handle, uint16_t wa, uint16_t field, uint32_t recno,
                               void* out, uint32_t length);
/* Sets the memo of the current record to length bytes of data (null data: an empty memo); the
 * next GM_Write or GM_UpdateR stores it. */
GM_EXPORT int16_t GM_Blob_Write(GM_HANDLE handle, uint16_t wa, uint16_t field, const void* data,
                                uint32_t length);

/* ---- Work areas: local access, no request ------------------------------------------------ */
/* Unless said otherwise: -24 for an unknown work area, -2 for an unknown handle or a connection
 * that is not connected. Functions that return an address or a byte count give 0 (null)
 * instead. Addresses stay valid until the work area's next record reply or its close. */

GM_EXPORT int32_t GM_GetTotalRecs(GM_HANDLE handle, uint16_t wa); /* the record count */
/* The current record number; the record count + 1 at end of file. */
GM_EXPORT int32_t GM_RecNo(GM_HANDLE handle, uint16_t wa);
GM_EXPORT int16_t GM_Bof(GM_HANDLE handle, uint16_t wa);
GM_EXPORT int16_t GM_Eof(GM_HANDLE handle, uint16_t wa);
/* The record buffer. */
GM_EXPORT char* GM_GetInternalRec(GM_HANDLE handle, uint16_t wa);
/* A field's bytes in the record buffer, by name (letters in either case) or by number from 1;
 * null when there is no such field. */
GM_EXPORT char* GM_GetInternalFld(GM_HANDLE handle, uint16_t wa, const char* name);
GM_EXPORT char* GM_GetInternalFldN(GM_HANDLE handle, uint16_t wa, int16_t n);
/* Field n's null flag (n from 1); filled only on m4GL connections. */
GM_EXPORT char* GM_GetIsNull(GM_HANDLE handle, uint16_t wa, int16_t n);
/* Write a value into a field of the record buffer and return the bytes written. Text fields
 * (B C O Y) take the value's text up to the field length and keep the rest of the field as it
 * was; N D F G J K take 8 bytes (a double); L takes 1 byte; other types take nothing (0). */
GM_EXPORT int32_t GM_SetInternalFld(GM_HANDLE handle, uint16_t wa, const char* name,
                                    const void* value);
GM_EXPORT int32_t GM_SetInternalFldN(GM_HANDLE handle, uint16_t wa, int16_t n, const void* value);
/* Zeroes the record buffer; 0 (also 0 for an unknown handle). */
GM_EXPORT int16_t GM_InitRecord(GM_HANDLE handle, uint16_t wa, int32_t unused);
/* The number of fields (0 for an unknown handle). */
GM_EXPORT int16_t GM_GetColCount(GM_HANDLE handle, uint16_t wa);
/* Describes field index (from 0): name into 30 bytes (at most 29 characters and a NUL), type
 * letter, length in record bytes, declared length, decimals. A numeric field (N) is reported
 * as F with length 8. 0; -13 when index is outside the fields; 0 for an unknown handle. Any
 * out pointer may be null. GM_GetGeneralFldDesc gives the first length as 16 bits. */
GM_EXPORT int16_t GM_GetFieldDesc(GM_HANDLE handle, uint16_t wa, int16_t index, char* name,
                                  uint8_t* type, uint32_t* length, uint16_t* declared,
                                  uint16_t* decimals);
GM_EXPORT int16_t GM_GetGeneralFldDesc(GM_HANDLE handle, uint16_t wa, int16_t index, char* name,
                                       uint8_t* type, uint16_t* length, uint16_t* declared,
                                       uint16_t* decimals);
/* Copies the table's index names, comma-separated, into out (which must hold them) and returns
 * how many there are. */
GM_EXPORT int16_t GM_GetKeyNames(GM_HANDLE handle, uint16_t wa, char* out);
/* Copies the key of index n (n from 2: the first index) into out (which must hold it), as the
 * server lists it: the numbers of the key's fields in the record, from 1, three digits each and
 * comma-separated ("001,003"); 0, or -14 with out emptied when there is no such index. */
GM_EXPORT int16_t GM_GetKeys(GM_HANDLE handle, uint16_t wa, char* out, int16_t n);

/* ---- Table-creation descriptor ----------------------------------------------------------- */

/* A new descriptor with count empty field slots; flag1 and flag2 are kept for the caller. 0
 * when count is negative. Freed by GM_CreateFile. */
GM_EXPORT GM_HANDLE GM_GetCreateStruct(int16_t count, uint8_t flag1, uint8_t flag2);
/* Fills slot n (from 0): name (at most 17 characters are kept), type letter (C, N, D, L, M;
 * A B F P are taken as their C or N forms; a memo name ending in "#" asks for a text memo),
 * size, width and decimals. size is the field length (the text length of a C field); width is
 * the total width of a numeric field, which the server takes as its length; decimals are the
 * numeric field's decimal places. A numeric field N(15,2) is size 15, width 15, decimals 2; a
 * C(30) field is size 30, width 0, decimals 0. Returns the slot's address (its layout is the
 * library's own), or null when n is outside the slots or the descriptor is unknown. */
GM_EXPORT void* GM_SetCreateField(GM_HANDLE descriptor, int16_t n, const char* name, uint8_t type,
                                  uint16_t size, uint16_t width, uint16_t decimals);

/* ---- Service channel --------------------------------------------------------------------- */

/* Sends a service request (subcode) with length bytes of buffer as its parameter (none when
 * length is 0 or less) and copies the answer text back into buffer: min(its length + 1, max)
 * bytes, when it is not empty. Returns the answer's length + 1; -2 or -88. */
GM_EXPORT int32_t GM_InternalF(GM_HANDLE handle, uint8_t subcode, char* buffer, int16_t length,
                               int16_t max);

/* ---- Monitor connections (GM_GetManager) ------------------------------------------------- */
/* Unless said otherwise each returns the server's status (0 success, -19 failed), -2 for an
 * unknown handle or one not connected, or -88 (communication failure, the connection dropped).
 * Out values are written only on 0. Texts without a size argument are cut to the buffer size
 * named here less one byte, and end in a NUL. */

/* Room for the user list, the diagnostic report and a trace summary. */
#define GM_INFO_TEXT_SIZE 786433
/* Room for the log and for a piece of a diagnostic file with its heading. */
#define GM_LOG_TEXT_SIZE 1000512

/* The number of user connections into count and the user list into out (GM_INFO_TEXT_SIZE
 * bytes). -40 when the list is longer than 786432 bytes: nothing is copied (count is set). */
GM_EXPORT int16_t GM_InfoManager(GM_HANDLE handle, char* out, int32_t* count);
/* Always 0; sends nothing. */
GM_EXPORT int16_t GM_ErrorCountManager(GM_HANDLE handle);
/* connection names a server connection by its thread id. Start tracing it; stop, with the
 * trace's summary into out when the server sends one (out may be null; GM_INFO_TEXT_SIZE
 * bytes); the number of trace lines waiting (0 or more). */
GM_EXPORT int16_t GM_StartTraceManager(GM_HANDLE handle, const char* connection);
GM_EXPORT int16_t GM_StopTraceManager(GM_HANDLE handle, const char* connection, char* out);
GM_EXPORT int16_t GM_GetTraceCount(GM_HANDLE handle, const char* connection);
/* Takes the next trace line: at most number bytes of it into out (number + 1 bytes) and its
 * elapsed seconds into elapsed. -19 when no line waits. */
GM_EXPORT int16_t GM_GetTrace(GM_HANDLE handle, const char* connection, char* out, uint32_t number,
                              double* elapsed);
/* Ends the client connection with that thread id at its next request. */
GM_EXPORT int16_t GM_KillUser(GM_HANDLE handle, const char* connection);
/* The start of the server's log into out (GM_LOG_TEXT_SIZE bytes); clearing it. */
GM_EXPORT int16_t GM_ErrorLog(GM_HANDLE handle, char* out);
GM_EXPORT int16_t GM_ClearLog(GM_HANDLE handle);
/* Server configuration values. GM_ReadIniString zeroes max bytes of out, then copies at most
 * max bytes of the value (a NUL only when it fits), or of defaultValue when the value is empty.
 * Values of the keys "password" and "guestpassword" (any case) are kept enciphered by the
 * server: GM_WriteIniString enciphers them and GM_ReadIniString gives them back plain. */
GM_EXPORT int16_t GM_ReadIniString(GM_HANDLE handle, const char* section, const char* key,
                                   const char* defaultValue, char* out, int32_t max);
GM_EXPORT int16_t GM_WriteIniString(GM_HANDLE handle, const char* section, const char* key,
                                    const char* value);
/* Deletes the key, or the whole section when key is empty. */
GM_EXPORT int16_t GM_DelSection(GM_HANDLE handle, const char* section, const char* key);
/* The value into out; defaultValue when the server has 0 (or nothing) for the key. */
GM_EXPORT int16_t GM_ReadIniInteger(GM_HANDLE handle, const char* section, const char* key,
                                    uint32_t defaultValue, uint32_t* out);
GM_EXPORT int16_t GM_WriteIniInteger(GM_HANDLE handle, const char* section, const char* key,
                                     uint32_t value);
/* The record-lock list: max bytes of out zeroed, then at most max bytes of the list copied. */
GM_EXPORT int16_t GM_GetLockInfo(GM_HANDLE handle, char* out, uint32_t max);
/* Allows (enable != 0) or refuses new table connections; whether they are allowed (1 or 0). */
GM_EXPORT int16_t GM_SetConnectionEnable(GM_HANDLE handle, uint16_t enable);
GM_EXPORT int16_t GM_IsConnectionEnabled(GM_HANDLE handle, uint8_t* out);
/* The server's diagnostic report (GM_INFO_TEXT_SIZE bytes). */
GM_EXPORT int16_t GM_DiagLog(GM_HANDLE handle, char* out);
/* A file of the server's directory, in pieces: the first call names it and gives the first
 * piece, each later call the next one; after the last piece -24 (GM_LOG_TEXT_SIZE bytes). */
GM_EXPORT int16_t GM_DiagFile(GM_HANDLE handle, const char* file, char* out);
/* The server's memory in use and its processor load; third is 1 from a server that sends no
 * third value. */
GM_EXPORT int16_t GM_DiagMiscInfo(GM_HANDLE handle, double* memory, double* processor,
                                  int32_t* third);

/* ---- Lock-client connections (GM_GetLockClient) ------------------------------------------ */
/* A slave server's requests to its master. owner and hash go out as given; a null table is
 * sent empty (every table, for an unlock). Each returns the master's status (0 granted or
 * done, -31 held by another owner or, for GM_LockClientIsLocked, not held by owner), -2 when
 * the handle is unknown or not connected, -88 after a communication failure (dropped). */

/* Room for a lock holder's description. */
#define GM_LOCK_OWNER_SIZE 1024

GM_EXPORT int16_t GM_LockClientRLock(GM_HANDLE handle, uint32_t owner, uint32_t hash,
                                     const char* table, double recno);
GM_EXPORT int16_t GM_LockClientRUnLock(GM_HANDLE handle, uint32_t owner, uint32_t hash,
                                       const char* table, double recno);
GM_EXPORT int16_t GM_LockClientFLock(GM_HANDLE handle, uint32_t owner, uint32_t hash,
                                     const char* table);
GM_EXPORT int16_t GM_LockClientFUnLock(GM_HANDLE handle, uint32_t owner, uint32_t hash,
                                       const char* table);
GM_EXPORT int16_t GM_LockClientVLock(GM_HANDLE handle, uint32_t owner, const char* key1,
                                     const char* key2);
GM_EXPORT int16_t GM_LockClientVUnLock(GM_HANDLE handle, uint32_t owner, const char* key1,
                                       const char* key2);
GM_EXPORT int16_t GM_LockClientIsLocked(GM_HANDLE handle, uint32_t owner, uint32_t hash,
                                        const char* table, double recno);
/* The next record number of the table, or its record count: -2.0 when not connected, -88.0
 * after a communication failure. */
GM_EXPORT double GM_LockClientNextRecno(GM_HANDLE handle, uint32_t owner, uint32_t hash,
                                        const char* table);
GM_EXPORT double GM_LockClientRecCount(GM_HANDLE handle, uint32_t hash, const char* table);
GM_EXPORT int16_t GM_LockClientSetRecCount(GM_HANDLE handle, uint32_t hash, const char* table,
                                           double count);
GM_EXPORT int16_t GM_LockClientSetOpen(GM_HANDLE handle, uint32_t owner, uint32_t hash,
                                       const char* table, uint8_t exclusive);
GM_EXPORT int16_t GM_LockClientSetClose(GM_HANDLE handle, uint32_t owner, uint32_t hash,
                                        const char* table);
GM_EXPORT int16_t GM_LockClientSetOwnerInfo(GM_HANDLE handle, uint32_t owner, const char* text);
/* The holder of the record's lock into out (GM_LOCK_OWNER_SIZE bytes). */
GM_EXPORT int16_t GM_LockClientLockOwnerInfo(GM_HANDLE handle, uint32_t hash, const char* table,
                                             double recno, char* out);

/* ---- Audit connections (GM_GetAudit) and audit-monitor connections (GM_GetAuditMonitor) -- */
/* Each returns the audit server's status (0 success), -2 for an unknown handle, one of the
 * other audit kind or one not connected, -88 after a communication failure (dropped). */

/* Room for each text of the audit server's configuration. */
#define GM_AUDIT_CONFIG_SIZE 256

/* One audit record. Nothing is sent, and 0 returned, when table contains "AUDIT_TRAIL" (case
 * counts): the audit table itself is not audited. GM_WriteAudit2 sends extra only when it is
 * not null. */
GM_EXPORT int16_t GM_WriteAudit(GM_HANDLE handle, const char* action, const char* table,
                                double recno, const char* detail1, const char* detail2,
                                const char* detail3);
GM_EXPORT int16_t GM_WriteAudit2(GM_HANDLE handle, const char* action, const char* table,
                                 double recno, const char* detail1, const char* detail2,
                                 const char* auditId, const char* extra);
GM_EXPORT int16_t GM_WriteAppLog(GM_HANDLE handle, const char* text1, const char* text2,
                                 uint32_t value, const char* text3, const char* text4);
/* A custom column of the next records, and the user they are written for. */
GM_EXPORT int16_t GM_WriteAuditCustom(GM_HANDLE handle, const char* column, const char* value);
GM_EXPORT int16_t GM_AuditUser(GM_HANDLE handle, const char* user);
/* Audit-monitor connections: the server's three counters; its configuration (texts of
 * GM_AUDIT_CONFIG_SIZE bytes; the reply has no status, so the result is 0, -2 or -88) and
 * setting it; its log (GM_LOG_TEXT_SIZE bytes) and clearing it. */
GM_EXPORT int16_t GM_AuditMonitorStats(GM_HANDLE handle, int32_t* first, int32_t* second,
                                       int32_t* third);
GM_EXPORT int16_t GM_AuditMonitorGetConfig(GM_HANDLE handle, char* text1, int32_t* value,
                                           char* text2, char* text3);
GM_EXPORT int16_t GM_AuditMonitorSetConfig(GM_HANDLE handle, const char* text1, uint32_t value,
                                           const char* text2, const char* text3);
GM_EXPORT int16_t GM_AuditMonitorErrorLog(GM_HANDLE handle, char* out);
GM_EXPORT int16_t GM_AuditMonitorClearLog(GM_HANDLE handle);

/* ---- Kept for older programs: they send nothing --------------------------------------------- */

GM_EXPORT int16_t GM_SyncFiles(GM_HANDLE handle, int32_t value);                        /* 0 */
GM_EXPORT int16_t GM_BufferizeServer(GM_HANDLE handle, int32_t value1, int32_t value2); /* 0 */
GM_EXPORT int16_t GM_SetAutoScan(GM_HANDLE handle, int32_t value);                      /* 0 */
GM_EXPORT int16_t GM_SetFields(GM_HANDLE handle, int32_t value1, int32_t value2,
                               int32_t value3); /* 0 */
GM_EXPORT int16_t GM_Call(GM_HANDLE handle, int32_t value1, int32_t value2,
                          int32_t value3);                   /* -19 */
GM_EXPORT int16_t GM_QCall(GM_HANDLE handle, int32_t value); /* -19 */
GM_EXPORT void GM_InitCache(int32_t value);
GM_EXPORT void GM_Shutdown(void);

#ifdef __cplusplus
}
#endif

#endif
