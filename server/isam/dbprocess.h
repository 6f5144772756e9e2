// The services of the server process that the database side uses: the configuration cache and
// the full-log and thread-information switches. The process installs its implementation once
// at start, before the first connection is made; tests install their own.
#pragma once

class tConfigCache;

// Any thread may call these while the implementation is installed.
class tDBProcess {
public:
    virtual ~tDBProcess() = default;
    virtual tConfigCache& GetConfig() = 0;
    // The [General] LogFull switch: errors of a file's statements carry the file's description.
    virtual bool GetLogFull() = 0;
    // The [General] ThreadInfo switch: statements keep the text they run in their session's
    // properties record.
    virtual bool GetThreadInfo() = 0;
};

// Installs the implementation (not owned; it must outlive every use); null removes it.
void SetDBProcess(tDBProcess* process);
// The installed implementation; asserts when there is none.
tDBProcess& DBProcess();
