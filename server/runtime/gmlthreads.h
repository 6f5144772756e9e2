// The registry of client connections (tGmlThreads) and each connection's record in it
// (tDBProperties): what the monitor shows of a connection, its trace lines and its per-opcode
// call statistics (tDBCallInfo), kept per record and for the whole process.
#pragma once
#include <atomic>

#include "lib_base/list.h"
#include "lib_base/mstimer.h"
#include "lib_base/printer.h"
#include "lib_base/rwlock.h"
#include "lib_base/stringz.h"
#include "lib_base/types.h"
#include "server/runtime/traceserver.h"

class tCommBuffer;

// Call counts and summed seconds per opcode 0..255. Every operation takes the statistics' own
// lock, so calls from many threads lose no count.
class tDBCallInfo {
public:
    static constexpr i32 kOpcodes = 256;

    tDBCallInfo() = default;
    virtual ~tDBCallInfo() = default;
    tDBCallInfo(const tDBCallInfo&) = delete;
    tDBCallInfo& operator=(const tDBCallInfo&) = delete;

    void AddCall(i16 opcode, f64 seconds);  // an opcode outside 0..255 is not counted
    // Appends one line per opcode called, in opcode order: its name padded with '.' to 30, ": ",
    // the count, blanks to 50 characters, "( ", the seconds ("%.3f") and " s.)\n"; then the
    // "TOTAL I/O COUNT" line. Nothing at all when nothing was called. With reset, each listed
    // opcode starts again from 0.
    void DumpCalls(tString& out, bool reset);

private:
    tRWLock lock{"crDBCallInfo"};
    // Guarded by lock.
    u32 counts[kOpcodes] = {};
    f64 seconds[kOpcodes] = {};
};

// One client connection's record. The connection writes it; monitor and other connection
// threads read it. Text members are read and written only under the record's lock (getters
// copy them out, never share them); the I/O count and the three flags are single words that
// one thread writes and others read without the lock. A thread holding a record's lock never
// takes the registry's lock.
class tDBProperties : public tRWLock, public tMSTimer {
public:
    // frame: the connection's frame buffer, whose byte totals the description shows (not
    // owned, may be null); globalCalls: the registry's statistics (not owned, outlives this).
    tDBProperties(const tCommBuffer* frame, tDBCallInfo* globalCalls);
    ~tDBProperties() override = default;

    // Under the write lock. A null text counts as empty.
    void SetUser(const char* user);
    void SetObs(const char* comment);
    void SetDBEnv(const char* environment);
    void SetDBSID(const char* dbThreadId);
    void SetIP(const char* address);
    void SetSP(const char* procedure);
    void SetStarted();                 // now, "dd/mm/yyyy hh:mm:ss"
    void SetStatus(const char* word);  // now and the word; null empties the status
    void SetLastStatement(const char* statement, const char* routine);  // routine " - " statement
    void ClearLastStatement();
    void SetSID(u32 threadId);
    void AddTable();  // also raises the most open tables
    void RemoveTable();
    void SetTraceOwner(u32 owner);

    // Without a lock.
    void SetInTransaction(u8 on) { inTransaction.store(on, std::memory_order_relaxed); }
    void AddIO() { ioCount.fetch_add(1, std::memory_order_relaxed); }
    u32 GetIO() const { return ioCount.load(std::memory_order_relaxed); }
    void SetTraced(u8 on) { traced.store(on, std::memory_order_relaxed); }
    bool IsTraceOn() const { return traced.load(std::memory_order_relaxed) != 0; }
    // The per-opcode statistics switch that the request loop copies at every pass.
    void SetTraceFlag(u8 on) { traceRequest.store(on, std::memory_order_relaxed); }
    u8 GetTraceFlag() const { return traceRequest.load(std::memory_order_relaxed); }
    tTraceServer* GetTrace() { return &traces; }  // owned by the record

    // Under the read lock.
    u32 GetSID();
    void GetObs(tString& out);    // replaces out
    void GetDBSID(tString& out);  // replaces out
    i32 GetTables();
    bool InProcedure();
    u32 GetTraceOwner();
    void GetUser(tString& out);  // appends the user when there is one

    // Adds the call to this record's statistics and to the registry's.
    void AddCall(i16 opcode, f64 seconds);
    // Under the write lock: "[INFO] Operation Calls :\n" and this record's statistics, reset.
    void DumpOpCalls(tString& out);
    // Under the read lock: one line of "Label [value]\t" fields; the last statement when asked.
    void DescribeThread(tString& out, bool withStatement);
    // Under the read lock: the monitor's user-list record, eleven fields each followed by 0x02,
    // closed by 0x01. The framing bytes inside a field become blanks.
    void GetUserInfo(tString& out);

private:
    void SetText(tString& member, const char* text);  // under the write lock

    // Constant after construction.
    const tCommBuffer* const frame;
    tDBCallInfo* const globalCalls;
    // Guarded by the record's lock.
    tString user;
    tString comment;
    tString dbEnv;
    tString dbThreadId;
    tString address;
    tString started;
    tString lastIO;  // shown, never filled
    tString status;
    tString lastStatement;
    tString procedure;
    u32 threadId = 0;
    i32 tables = 0;
    i32 maxTables = 0;
    u32 traceOwner = 0;
    // Single words written by one thread, read by any.
    std::atomic<u32> ioCount{0};
    std::atomic<u8> traced{0};
    std::atomic<u8> traceRequest{0};
    std::atomic<u8> inTransaction{0};
    // Locked by themselves.
    tTraceServer traces;
    tDBCallInfo calls;
};

// The registry: owns one record per client connection, in the order they were added, and the
// process's call statistics. Any thread may call any operation; its lock is always taken before
// a record's.
class tGmlThreads : public tRWLock {
public:
    static constexpr i32 kInitialCapacity = 512;

    tGmlThreads();
    ~tGmlThreads() override = default;

    // A new record for a connection with this frame buffer (not owned). The connection keeps
    // the pointer until it hands it to RemoveThread, which deletes it.
    tDBProperties* AddThread(const tCommBuffer* frame);
    void RemoveThread(tDBProperties* record);  // a record not in the registry is an assertion

    void GetUserInfo(tString& out);   // every record's user-list record, appended
    i16 GetThreadList(tString& out);  // "id," for every record; the number listed
    i16 GetThreadObs(tString& out);   // "id|comment\n" for every record; the number listed

    // Switches the trace of the first record with this thread id. On: refused (false) when it is
    // traced already; else the lines are cleared and the first ones describe the connection.
    // Off: only by the owner that switched it on; the summary (call statistics, reset, and the
    // trace's seconds) is appended to out. False when no record has the thread id.
    bool SetThreadTrace(u32 threadId, u32 owner, bool on, tString& out);

    // Runs use(tTraceServer&) on the trace lines of the record with this thread id and trace
    // owner, under the registry's lock, so the record cannot be removed meanwhile. False, use
    // not run, when there is no such record.
    template <class Use>
    bool WithTraceServer(u32 threadId, u32 owner, Use use) {
        tReading hold(this, __FILE__, __LINE__);
        for (i32 i = 0; i < records.Count(); ++i) {
            tDBProperties* record = records.Get(i);
            if (record && record->GetSID() == threadId && record->GetTraceOwner() == owner) {
                use(*record->GetTrace());
                return true;
            }
        }
        return false;
    }

    // Calls visit(tDBProperties&) for every record in order under the registry's lock; a null
    // entry is skipped with a warning naming the caller.
    template <class Visit>
    void ForEachRecord(const char* caller, Visit visit) {
        tReading hold(this, __FILE__, __LINE__);
        for (i32 i = 0; i < records.Count(); ++i) {
            tDBProperties* record = records.Get(i);
            if (record) {
                visit(*record);
            } else {
                BasePrintf("[WARNING] Unexpected NULL node in %s\n", caller);
            }
        }
    }

    tDBCallInfo* GetCallInfo() { return &globalCalls; }  // owned by the registry
    u32 GetTotalAdded();                                 // records ever added ("Total Connections")

private:
    // Guarded by the registry's lock.
    tAutoArray<tDBProperties> records;
    u32 totalAdded = 0;
    // Locked by itself.
    tDBCallInfo globalCalls;
};
