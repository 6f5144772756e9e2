// The record lock server: finds a table in its bucket under the bucket's lock and applies the
// operation there; the owner list and the counters live beside the buckets.
#include "server/locks/recordlockserver.h"

#include "lib_base/gmlassert.h"
#include "lib_base/printer.h"
#include "lib_base/rwlock.h"
#include "lib_base/stringz.h"
#include "server/locks/lockbucket.h"
#include "server/locks/lockstats.h"
#include "server/locks/locktable.h"
#include "server/locks/ownerlist.h"

tRecordLockServer::tRecordLockServer()
    : buckets(new tLockServerNode[kLockBucketCount]), owners(new tOwnerList) {}

tRecordLockServer::~tRecordLockServer() = default;

tLockServerNode& tRecordLockServer::Bucket(i32 hash) const {
    GML_ASSERT(IsValidLockBucket(hash), "lock bucket out of range");
    return buckets[hash];
}

namespace {

// Only the unlock operations take a null table (meaning every table); elsewhere it is a caller
// error.
void CheckTable(const char* table) { GML_ASSERT(table != nullptr, "lock table name missing"); }

}  // namespace

bool tRecordLockServer::RLock(u32 owner, i32 hash, const char* table, f64 recno, u32 location) {
    CheckTable(table);
    tLockServerNode& bucket = Bucket(hash);
    bool granted;
    {
        tWriting hold(&bucket, __FILE__, __LINE__);
        granted = bucket.FindOrMake(table)->Lock(owner, recno, location);
    }
    Count(bucket.counters[granted ? kLockOk : kLockFailed]);
    return granted;
}

void tRecordLockServer::UnlockInBucket(tLockServerNode& bucket, u32 owner, const char* table,
                                       f64 recno, u32 location) {
    tWriting hold(&bucket, __FILE__, __LINE__);
    if (table) {
        tLockList* list = bucket.Find(table);
        if (list) list->Unlock(owner, recno, location);
        return;
    }
    for (i32 i = 0; i < bucket.TableCount(); ++i) bucket.GetTable(i)->Unlock(owner, 0.0, location);
}

bool tRecordLockServer::RUnLock(u32 owner, i32 hash, const char* table, f64 recno, u32 location) {
    tLockServerNode& bucket = Bucket(hash);
    UnlockInBucket(bucket, owner, table, recno, location);
    Count(bucket.counters[kUnlockOps]);
    return true;
}

bool tRecordLockServer::FLock(u32 owner, i32 hash, const char* table, u32 location) {
    CheckTable(table);
    tLockServerNode& bucket = Bucket(hash);
    tWriting hold(&bucket, __FILE__, __LINE__);
    return bucket.FindOrMake(table)->LockTable(owner, location);
}

bool tRecordLockServer::FUnLock(u32 owner, i32 hash, const char* table, u32 location) {
    if (table) {
        UnlockInBucket(Bucket(hash), owner, table, 0.0, location);
        return true;
    }
    for (i32 b = 0; b < kLockBucketCount; ++b) {
        UnlockInBucket(buckets[b], owner, nullptr, 0.0, location);
    }
    owners->Remove(owner, static_cast<i32>(location));
    return true;
}

bool tRecordLockServer::IsLocked(u32 owner, i32 hash, const char* table, f64 recno, u32 location) {
    CheckTable(table);
    tLockServerNode& bucket = Bucket(hash);
    bool held = false;
    {
        tReading hold(&bucket, __FILE__, __LINE__);
        const tLockList* list = bucket.Find(table);
        const tRecordLockNode* cover = list ? list->Cover(recno) : nullptr;
        held = cover && cover->IsHeldBy(owner, location);
    }
    Count(bucket.counters[held ? kIsLockOk : kIsLockFailed]);
    return held;
}

i32 tRecordLockServer::LockOwnerInfo(i32 hash, const char* table, f64 recno, tString& info) {
    CheckTable(table);
    tLockServerNode& bucket = Bucket(hash);
    tRecordLockNode holder{};
    {
        tWriting hold(&bucket, __FILE__, __LINE__);
        const tLockList* list = bucket.Find(table);
        const tRecordLockNode* cover = list ? list->Cover(recno) : nullptr;
        if (!cover) return 0;
        holder = *cover;
    }
    // The bucket is let go first: no two of the server's locks are ever held together.
    if (!owners->CopyInfo(holder.owner, static_cast<i32>(holder.location), info)) {
        info.Assign("Internal|Lock owner not found.");
    }
    return static_cast<i32>(holder.owner);
}

void tRecordLockServer::UnLockLocation(u32 location) {
    for (i32 b = 0; b < kLockBucketCount; ++b) {
        tWriting hold(&buckets[b], __FILE__, __LINE__);
        for (i32 i = 0; i < buckets[b].TableCount(); ++i) {
            buckets[b].GetTable(i)->RemoveLocation(location);
        }
    }
    owners->RemoveLocation(static_cast<i32>(location));
}

f64 tRecordLockServer::NextRecno(u32 owner, i32 hash, const char* table, u32 location) {
    CheckTable(table);
    tLockServerNode& bucket = Bucket(hash);
    tWriting hold(&bucket, __FILE__, __LINE__);
    tLockList* list = bucket.Find(table);
    if (!list) {
        BasePrintf("[WARNING] tLockServerNode::GetNextRecno build new tLockList on table [%s].\n",
                   table);
        list = bucket.FindOrMake(table);
    }
    return list->NextRecno(owner, location);
}

void tRecordLockServer::SetRecCount(i32 hash, const char* table, f64 count) {
    CheckTable(table);
    tLockServerNode& bucket = Bucket(hash);
    tWriting hold(&bucket, __FILE__, __LINE__);
    bucket.FindOrMake(table)->SetCounter(count);
}

f64 tRecordLockServer::RecCount(i32 hash, const char* table) {
    CheckTable(table);
    tLockServerNode& bucket = Bucket(hash);
    tWriting hold(&bucket, __FILE__, __LINE__);
    return bucket.FindOrMake(table)->GetCounter();
}

bool tRecordLockServer::SetOpen(u32 owner, i32 hash, const char* table, u8 exclusive,
                                u32 location) {
    CheckTable(table);
    tLockServerNode& bucket = Bucket(hash);
    tWriting hold(&bucket, __FILE__, __LINE__);
    return bucket.FindOrMake(table)->Open(owner, exclusive != 0, location);
}

bool tRecordLockServer::SetClose(u32 owner, i32 hash, const char* table, u32 location) {
    CheckTable(table);
    tLockServerNode& bucket = Bucket(hash);
    tWriting hold(&bucket, __FILE__, __LINE__);
    tLockList* list = bucket.Find(table);
    if (!list) {
        BasePrintf("[LOCKSERVERNODE] SetClose List NOT FOUND on table %s Owner %u Location %i\n",
                   table, owner, static_cast<i32>(location));
        return false;
    }
    return list->Close(owner, location);
}

void tRecordLockServer::SetOwnerInfo(u32 owner, const char* text, u32 location) {
    owners->Set(owner, static_cast<i32>(location), text);
}

void tRecordLockServer::Statistics(tString& text, u8 reset) {
    static const char* const kLabels[kLockCounterCount] = {
        "Record  Lock OK ..............: ", "Record  Lock Failed ..........: ",
        "Record  IsLock OK ............: ", "Record  IsLock Failed ........: ",
        "Record  UnLock Op.............: "};
    for (i32 c = 0; c < kLockCounterCount; ++c) {
        u32 total = 0;  // wraps as one 32-bit counter would
        for (i32 b = 0; b < kLockBucketCount; ++b)
            total += ReadCounter(buckets[b].counters[c], reset);
        AppendCounterLine(text, kLabels[c], total);
    }
}
