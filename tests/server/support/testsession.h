// A client session for tests of the database side: it keeps what the connection and its files
// hand it (trace entries, statements, audit records) and locks through a real in-process
// record-lock server of its own.
#pragma once
#include <string>
#include <vector>

#include "server/isam/session.h"
#include "server/locks/recordlockserver.h"

namespace gmtest {

// One thread, like a real session; the public fields set what it answers.
class TestSession : public tDBSession {
public:
    struct TraceEntry {
        std::string label;
        f64 elapsed;
        std::string text;
    };
    struct AuditRecord {
        std::string action, table;
        f64 recno;
        std::string detail1, detail2, extra;
        bool hasExtra;
    };

    bool IsTraceOn() override { return traceOn; }
    void Trace(const char* label, f64 elapsed, const char* text) override;
    void DescribeThread(tString& text, bool withStatement) override;
    void SetLastStatement(const char* routine, const char* sql) override;
    void ClearLastStatement() override { lastStatement.clear(); }
    tGenericFile* FindOpenFile(i16 id) override {
        return id >= 1 && static_cast<size_t>(id) <= openFiles.size() ? openFiles[id - 1] : nullptr;
    }
    tRecordLockEngine* GetRecordLockEngine() override { return &lockServer; }
    i16 WriteAudit(const char* action, const char* table, f64 recno, const char* detail1,
                   const char* detail2, const char* extra) override;
    u32 GetThreadId() override { return threadId; }
    bool IsRunning() override { return running; }

    // What it answers.
    bool traceOn = true;
    bool running = true;
    u32 threadId = 4242;
    i16 auditResult = 0;
    std::string stateLine = "Thread ID [4242]\tUser [tester]\t";
    std::vector<tGenericFile*> openFiles;  // id 1 first; null for a free id; not owned
    // What it was handed.
    std::vector<TraceEntry> traces;
    std::vector<AuditRecord> audits;
    std::string lastStatement;
    tRecordLockServer lockServer;
};

}  // namespace gmtest
