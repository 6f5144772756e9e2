// The services of the server process that the database side uses: the configuration cache, the
// table-definition cache and a few process switches. The process installs its implementation
// once at start, before the first connection is made; tests install their own.
#pragma once

class tConfigCache;
class tTableCache;

// Any thread may call these while the implementation is installed.
class tDBProcess {
public:
    virtual ~tDBProcess() = default;
    virtual tConfigCache& GetConfig() = 0;
    // The [General] LogFull switch: errors of a file's statements carry the file's description.
    virtual bool GetLogFull() = 0;
    // The process-wide cache of table definitions shared by every connection.
    virtual tTableCache& GetTableCache() = 0;
    // The [General] ThreadInfo switch: statements keep the text they run in their session's
    // properties record, and the catalogue check-up names its environment.
    virtual bool GetThreadInfo() = 0;
    // Whether the index-use trace was switched on while the server ran (the flag, once raised,
    // stays raised): the catalogue check-up then resets the use counters.
    virtual bool IsIndexTraceChanged() = 0;
};

// Installs the implementation (not owned; it must outlive every use); null removes it.
void SetDBProcess(tDBProcess* process);
// Installs the implementation only when none is installed; true when it was.
bool SetDBProcessOnce(tDBProcess* process);
// The installed implementation; asserts when there is none.
tDBProcess& DBProcess();
