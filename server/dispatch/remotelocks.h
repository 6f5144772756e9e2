// The lock engines of a slave's client connection: every operation goes to the master through the
// client library's lock-client connection, where the master holds the lock at that connection's
// location. Nothing is kept here, so the location argument is not sent.
#pragma once
#include "server/locks/lockengine.h"

// Record locks, table locks, openings and record numbers at the master. Belongs to one client
// connection's thread. The handle is the connection's: these neither connect nor release it.
class tRecordLockClient : public tRecordLockEngine {
public:
    explicit tRecordLockClient(u32 handle) : handle(handle) {}

    bool RLock(u32 owner, i32 hash, const char* table, f64 recno, u32 location) override;
    // A record the master did not hold counts as unlocked.
    bool RUnLock(u32 owner, i32 hash, const char* table, f64 recno, u32 location) override;
    bool FLock(u32 owner, i32 hash, const char* table, u32 location) override;
    bool FUnLock(u32 owner, i32 hash, const char* table, u32 location) override;
    bool IsLocked(u32 owner, i32 hash, const char* table, f64 recno, u32 location) override;
    // The master's reply code: 0 with info filled when the record has a holder, else -25 or the
    // library's failure code.
    i32 LockOwnerInfo(i32 hash, const char* table, f64 recno, tString& info) override;
    // The master's locks are listed by the master: text stays as it was.
    void InspectLocks(tString& text, u32 ownerFilter) override {}
    f64 NextRecno(u32 owner, i32 hash, const char* table, u32 location) override;
    void SetRecCount(i32 hash, const char* table, f64 count) override;
    f64 RecCount(i32 hash, const char* table) override;
    bool SetOpen(u32 owner, i32 hash, const char* table, u8 exclusive, u32 location) override;
    bool SetClose(u32 owner, i32 hash, const char* table, u32 location) override;
    void SetOwnerInfo(u32 owner, const char* text, u32 location) override;
    // Whether the link to the master is up.
    bool IsConnected() override;
    void Statistics(tString& text, u8 reset) override {}

private:
    const u32 handle;
};

// Named locks at the master.
class tVirtualLockClient : public tVirtualLockEngine {
public:
    explicit tVirtualLockClient(u32 handle) : handle(handle) {}

    // The master tells no holder's text: info stays as it was whatever the answer.
    bool VLock(u32 owner, const char* key, i32 location, const char* env, tString& info) override;
    bool VUnLock(u32 owner, const char* key, i32 location, const char* env) override;
    void UnLockLocation(i32 location) override {}
    void Statistics(tString& text, u8 reset) override {}

private:
    const u32 handle;
};
