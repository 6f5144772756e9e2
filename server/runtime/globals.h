// tGMLGlobals: the server's one process-wide object. It owns the configuration cache, the
// table-definition cache, the named locks, the connection-thread registry and the lock servers,
// and keeps the connection counters, the run-time switches, the registry of database
// environments and the process meters.
#pragma once
#include <atomic>
#include <memory>
#include <vector>

#include "lib_base/rwlock.h"
#include "lib_base/stringz.h"
#include "lib_base/types.h"

class tConfigCache;
class tGmlThreads;
class tNamedLock;
class tPdhQuery;
class tRecordLockEngine;
class tTableCache;
class tThreadList;
class tVirtualLockEngine;

// Server modes, from the [GENERAL] MODE key.
constexpr u32 kModeStandalone = 0;
constexpr u32 kModeMaster = 1;
constexpr u32 kModeSlave = 2;

// What the globals know of the listening server: the mode it runs in. The listener above this
// layer implements it.
class tListeningServer {
public:
    virtual ~tListeningServer() = default;
    virtual u32 GetMode() const = 0;   // one of the kMode values
    virtual void RequestShutdown() {}  // asks the process to stop; any thread
};

// The local time as seconds from the start of the current year (day of the year from 0,
// hours, minutes, seconds). All connection timing uses it, so it restarts at 0 on 1 January.
f64 GetYearSeconds();

// Created once by program entry before any server thread starts and deleted after every thread
// has ended. Any thread may call any operation. The object's lock guards the counters, the
// idle-clean and index-trace flags and the environment registry; the owned caches and
// registries lock themselves. The globals' lock is taken before the table cache's.
class tGMLGlobals : public tRWLock {
public:
    // Idle seconds after which the first new connection empties the table cache.
    static constexpr f64 kIdleCleanSeconds = 300.0;

    // Opens the configuration on the ini file and reads the [General] keys ThreadInfo,
    // GlbProfiler, LogFull (off by default), MemLimit (megabytes, 0 = none; below 0 counts as
    // 0) and RWTimer (printed when set).
    explicit tGMLGlobals(const char* iniPath);
    ~tGMLGlobals() override;  // cleans the table cache first, with the reason "~tGMLGlobals"

    // Set before the server's threads start; read without a lock.
    void CreateLockServers();  // both in-process lock servers, in every server mode
    void SetServer(tListeningServer* listening) { server = listening; }  // not owned
    tListeningServer* GetServer() const { return server; }
    // The listening server's mode (kModeStandalone, kModeMaster, kModeSlave); standalone while
    // there is none.
    u32 GetServerMode() const;
    // The process's thread list (not owned), counted by the application summary.
    void SetThreadList(tThreadList* list) { threadList = list; }
    tThreadList* GetThreadList() const { return threadList; }
    // The operating-system report: server start appends it once, before threads run.
    tString& GetOSReport() { return osReport; }

    // Owned by the globals, valid while they live; no lock.
    tConfigCache* GetConfig() const { return config.get(); }
    tTableCache* GetTableCache() const { return tableCache.get(); }
    tGmlThreads* GetThreads() const { return threads.get(); }
    tNamedLock* GetNamedLocks() const { return namedLocks.get(); }
    tRecordLockEngine* GetRecordLockServer() const { return recordLockServer.get(); }
    tVirtualLockEngine* GetVirtualLockServer() const { return virtualLockServer.get(); }

    // Read without a lock.
    u8 GetThreadInfo() const { return threadInfo; }
    u8 GetGlbProfiler() const { return glbProfiler; }
    u8 GetLogFull() const { return logFull; }
    u32 GetMemLimit() const { return memLimit; }
    bool IsConnectionEnabled() const { return connectionsEnabled.load() != 0; }
    u8 IsCriticalMemory() const { return criticalMemory.load(); }
    void SetCriticalMemory(u8 critical) { criticalMemory.store(critical); }  // the memory check

    // Connection counters. The counts never go below 0.
    u32 GetActiveConnections();
    u32 GetUserConnections();
    u32 GetPeakConnections();
    // Counts a new connection. The first one after more than kIdleCleanSeconds without any
    // empties the table cache (reason "ConnectUser") and clears the idle-clean request.
    void ConnectUser(bool user);
    // Counts a closed connection. When it was the last and an idle clean was asked for, the
    // table cache is emptied (reason "DisconnectUser") and the request cleared.
    void DisconnectUser(bool user);
    void SetCleanCacheOnIdle();

    // Stores the switch and prints its framed notice, also when it did not change.
    void SetConnectionsEnabled(bool enabled);
    // With set, raises the index-trace flag for good and empties the environment registry, so
    // that every environment's next connect checks its catalogue again. Returns the flag.
    bool IndexTraceChanged(bool set);

    // The environment registry. CheckEnvironment compares names and databases without regard to
    // case: 0 for an unknown name, 1 for a known name with the same database, 2 for a known name
    // with another database (message then holds the error text).
    i32 CheckEnvironment(const char* name, const char* database, tString& message);
    void AddEnvironment(const char* name, const char* database, const char* report);
    void GetEnvironmentReports(tString& out);  // each report and "\n", appended

    // Process meters. InitProcessCounters runs once at server start; until then, and when the
    // figures cannot be read, each meter gives 0.
    void InitProcessCounters();
    f64 GetProcessMemory();  // kilobytes: the larger of resident and private memory
    f64 GetVirtualMemory();  // kilobytes of address space in use
    f64 GetCpuUsage();       // whole percent of processor time since the last call

private:
    struct tEnvironment {
        tString name;
        tString database;
        tString report;
    };

    // Set before threads run, then read without a lock.
    tListeningServer* server = nullptr;
    tThreadList* threadList = nullptr;
    std::unique_ptr<tVirtualLockEngine> virtualLockServer;
    std::unique_ptr<tRecordLockEngine> recordLockServer;
    // Created by the constructor; each guards itself.
    std::unique_ptr<tTableCache> tableCache;
    std::unique_ptr<tConfigCache> config;
    std::unique_ptr<tGmlThreads> threads;
    std::unique_ptr<tNamedLock> namedLocks;
    // Guarded by the globals' lock.
    u32 activeConnections = 0;
    u32 userConnections = 0;
    u32 peakConnections = 0;
    f64 lastDisconnect = 0;  // year seconds
    u8 cleanCacheOnIdle = 0;
    std::vector<tEnvironment> environments;
    u8 indexTrace = 0;
    // Written under the globals' lock, read without it.
    std::atomic<u8> connectionsEnabled{1};
    std::atomic<u8> criticalMemory{0};
    // Read from the configuration by the constructor only.
    u8 threadInfo = 0;
    u8 glbProfiler = 0;
    u8 logFull = 0;
    u32 memLimit = 0;
    // Written before threads run.
    tString osReport;
    // The meters: set up by InitProcessCounters, used under the globals' lock.
    bool processMeter = false;
    bool processorMeter = false;
    u64 processMemory = 0;  // bytes at the last sample
    std::unique_ptr<tPdhQuery> processorQuery;
    i32 processorCounter = -1;
};

// The process's globals, published by program entry; null before and after.
tGMLGlobals* Globals();
void PublishGlobals(tGMLGlobals* globals);
