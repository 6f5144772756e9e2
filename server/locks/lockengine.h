// The two lock engines of the server: record locks, table locks, table openings and record-number
// counters (tRecordLockEngine), and named locks over two key texts (tVirtualLockEngine). The
// in-process servers and the remote clients of a slave server implement them; every caller goes
// through these interfaces.
#pragma once
#include "lib_base/types.h"

class tString;

// What NextRecno answers while another holder has the table locked.
constexpr f64 kRecnoTableLocked = -15.0;

// Arguments shared by the operations:
//  owner     a number chosen by the caller (a connection's thread id);
//  hash      the table's lock bucket, 0..511 (see lockbucket.h); callers give the same bucket
//            for the same table name every time;
//  table     the table's full name, compared byte for byte;
//  recno     a record number; 0.0 stands for the whole table;
//  location  the connection through which a lock is held. A lock is held by the pair
//            (owner, location): equal owners at different locations are different holders.
// Engines are deleted through the interface. The in-process servers are shared by every thread;
// a remote client belongs to one connection's thread.
class tRecordLockEngine {
public:
    virtual ~tRecordLockEngine() = default;
    // True when the record is locked for the holder (newly or already).
    virtual bool RLock(u32 owner, i32 hash, const char* table, f64 recno, u32 location) = 0;
    // A null table means every table of the bucket; recno 0.0 releases all of the holder's locks
    // in the table.
    virtual bool RUnLock(u32 owner, i32 hash, const char* table, f64 recno, u32 location) = 0;
    // True when the whole table is locked for the holder.
    virtual bool FLock(u32 owner, i32 hash, const char* table, u32 location) = 0;
    // Releases the holder's table lock and record locks in the table; a null table releases them
    // in every table and forgets the holder's information text.
    virtual bool FUnLock(u32 owner, i32 hash, const char* table, u32 location) = 0;
    // True only when the record is locked by this very holder.
    virtual bool IsLocked(u32 owner, i32 hash, const char* table, f64 recno, u32 location) = 0;
    // Fills info with the information text of the record's holder. The in-process server answers
    // the holder's owner (0, info unchanged, when the record is free); a remote client answers
    // the master's reply code (0 when a holder was found).
    virtual i32 LockOwnerInfo(i32 hash, const char* table, f64 recno, tString& info) = 0;
    // Replaces text with a listing of the locks held (ownerFilter 0: of every owner).
    virtual void InspectLocks(tString& text, u32 ownerFilter) = 0;
    // Releases everything held at the location; an engine without local state does nothing.
    virtual void UnLockLocation(u32 location) {}
    // The table's next record number, or kRecnoTableLocked while another holder has the table
    // locked (the counter then stays as it was).
    virtual f64 NextRecno(u32 owner, i32 hash, const char* table, u32 location) = 0;
    virtual void SetRecCount(i32 hash, const char* table, f64 count) = 0;
    virtual f64 RecCount(i32 hash, const char* table) = 0;
    // Registers an opening of the table; false when the table is open exclusively, or when an
    // exclusive opening is asked while it is open at all.
    virtual bool SetOpen(u32 owner, i32 hash, const char* table, u8 exclusive, u32 location) = 0;
    // Removes one opening of the holder; false when there is none.
    virtual bool SetClose(u32 owner, i32 hash, const char* table, u32 location) = 0;
    // The text that LockOwnerInfo reports about the holder's locks.
    virtual void SetOwnerInfo(u32 owner, const char* text, u32 location) = 0;
    virtual bool IsConnected() = 0;
    // Appends the engine's counter lines to text; reset sets the counters to 0 afterwards.
    virtual void Statistics(tString& text, u8 reset) = 0;
};

// Named locks over a pair of keys (a key and an environment). In a request, a null or empty key
// matches any key; a held lock's own empty key is an ordinary value.
class tVirtualLockEngine {
public:
    // True when the keys are locked for the holder. When another holder has them, info is
    // overwritten with that holder's information text (the in-process server only); a new lock
    // keeps a copy of info as its own information text.
    virtual bool VLock(u32 owner, const char* key, i32 location, const char* env,
                       tString& info) = 0;
    // Releases the owner's locks matching the keys at the location (-1: at any location); true
    // when at least one was released.
    virtual bool VUnLock(u32 owner, const char* key, i32 location, const char* env) = 0;
    virtual void UnLockLocation(i32 location) = 0;
    // Appends the engine's counter lines to text; reset sets the counters to 0 afterwards.
    virtual void Statistics(tString& text, u8 reset) = 0;
    virtual ~tVirtualLockEngine() = default;
};
