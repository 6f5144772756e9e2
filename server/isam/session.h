// tDBSession: the client session as the database side sees it. The dispatcher's tDBServer
// implements it; connections, statements and open files reach their session only through it.
#pragma once
#include "lib_base/types.h"

class tGenericFile;
class tRecordLockEngine;
class tString;

// Called on the session's own thread, except IsRunning and GetThreadId, which any thread may
// call while the session lives.
class tDBSession {
public:
    virtual ~tDBSession() = default;

    virtual bool IsTraceOn() = 0;
    // Adds the text to the session's trace, one entry per line: the first line with the label
    // and the elapsed seconds, each further line with the label "..." and 0.
    virtual void Trace(const char* label, f64 elapsed, const char* text) = 0;

    // The session's properties record: its state line appended to text (the last statement
    // only when asked), and the statement it runs now.
    virtual void DescribeThread(tString& text, bool withStatement) = 0;
    virtual void SetLastStatement(const char* routine, const char* sql) = 0;
    virtual void ClearLastStatement() = 0;

    // The session's open file of the id (not owned); null for a free id or one outside the
    // session's table.
    virtual tGenericFile* FindOpenFile(i16 id) = 0;

    // The record-lock engine that this session's files lock through (not owned).
    virtual tRecordLockEngine* GetRecordLockEngine() = 0;

    // Sends one audit record; non-zero means failure. extra is sent only when not null.
    virtual i16 WriteAudit(const char* action, const char* table, f64 recno, const char* detail1,
                           const char* detail2, const char* extra) = 0;

    // The session thread's id (lock owner, operation-log lines) and whether it still runs.
    virtual u32 GetThreadId() = 0;
    virtual bool IsRunning() = 0;
};
