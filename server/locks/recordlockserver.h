// The in-process record lock engine: record and table locks, table openings and record-number
// counters of every table, for all connections of this server and the lock connections of its
// slave servers.
#pragma once
#include <memory>

#include "server/locks/lockengine.h"

class tLockServerNode;
class tLockList;
class tOwnerList;

// Tables are spread over 512 buckets, each with its own lock, so that work on different tables
// rarely waits. Safe from any thread. No operation holds two of its locks at once: those that
// touch several buckets or the owner list take each lock in turn (buckets in index order, then
// the owner list). A bucket outside 0..511 is a caller error and raises an assertion.
class tRecordLockServer : public tRecordLockEngine {
public:
    tRecordLockServer();
    ~tRecordLockServer() override;
    tRecordLockServer(const tRecordLockServer&) = delete;
    tRecordLockServer& operator=(const tRecordLockServer&) = delete;

    bool RLock(u32 owner, i32 hash, const char* table, f64 recno, u32 location) override;
    bool RUnLock(u32 owner, i32 hash, const char* table, f64 recno, u32 location) override;
    bool FLock(u32 owner, i32 hash, const char* table, u32 location) override;
    bool FUnLock(u32 owner, i32 hash, const char* table, u32 location) override;
    bool IsLocked(u32 owner, i32 hash, const char* table, f64 recno, u32 location) override;
    i32 LockOwnerInfo(i32 hash, const char* table, f64 recno, tString& info) override;
    // Stops after the line that takes the text past 786432 bytes, with a console warning.
    void InspectLocks(tString& text, u32 ownerFilter) override;
    void UnLockLocation(u32 location) override;
    f64 NextRecno(u32 owner, i32 hash, const char* table, u32 location) override;
    void SetRecCount(i32 hash, const char* table, f64 count) override;
    // Reads the counter without the bucket's lock once the table is known.
    f64 RecCount(i32 hash, const char* table) override;
    bool SetOpen(u32 owner, i32 hash, const char* table, u8 exclusive, u32 location) override;
    bool SetClose(u32 owner, i32 hash, const char* table, u32 location) override;
    void SetOwnerInfo(u32 owner, const char* text, u32 location) override;
    bool IsConnected() override { return true; }
    void Statistics(tString& text, u8 reset) override;

private:
    tLockServerNode& Bucket(i32 hash) const;
    void UnlockInBucket(tLockServerNode& bucket, u32 owner, const char* table, f64 recno,
                        u32 location);

    // Constant after construction: the buckets themselves and the owner list (each guards its
    // own contents).
    std::unique_ptr<tLockServerNode[]> buckets;
    std::unique_ptr<tOwnerList> owners;
};
