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

// Answers op(table) for the bucket's table, made when absent, under the bucket's lock.
template <class Op>
auto InTable(tLockServerNode& bucket, const char* table, Op op) {
    CheckTable(table);
    tWriting hold(&bucket, __FILE__, __LINE__);
    return op(*bucket.FindOrMake(table));
}

// Under the bucket's lock: answers found(table) when the bucket has the table, else missing().
template <class Found, class Missing>
auto InFoundTable(tLockServerNode& bucket, const char* table, Found found, Missing missing) {
    tWriting hold(&bucket, __FILE__, __LINE__);
    tLockList* list = bucket.Find(table);
    return list ? found(*list) : missing();
}

// Applies op to every table of the bucket under the bucket's lock.
template <class Op>
void InEveryTable(tLockServerNode& bucket, Op op) {
    tWriting hold(&bucket, __FILE__, __LINE__);
    for (i32 i = 0; i < bucket.TableCount(); ++i) op(*bucket.GetTable(i));
}

// Copies the lock that covers the record; false when the record or the table is free.
bool FindCover(tLockServerNode& bucket, const char* table, f64 recno, tRecordLockNode& cover) {
    CheckTable(table);
    tReading hold(&bucket, __FILE__, __LINE__);
    const tLockList* list = bucket.Find(table);
    const tRecordLockNode* node = list ? list->Cover(recno) : nullptr;
    if (node) cover = *node;
    return node != nullptr;
}

// Raises one of a pair of counters and answers which.
bool Counted(tLockServerNode& bucket, bool yes, tLockCounter ifYes, tLockCounter ifNo) {
    Count(bucket.counters[yes ? ifYes : ifNo]);
    return yes;
}

}  // namespace

bool tRecordLockServer::RLock(u32 owner, i32 hash, const char* table, f64 recno, u32 location) {
    tLockServerNode& bucket = Bucket(hash);
    const bool granted =
        InTable(bucket, table, [&](tLockList& list) { return list.Lock(owner, recno, location); });
    return Counted(bucket, granted, kLockOk, kLockFailed);
}

void tRecordLockServer::UnlockInBucket(tLockServerNode& bucket, u32 owner, const char* table,
                                       f64 recno, u32 location) {
    if (!table) {
        InEveryTable(bucket, [&](tLockList& list) { list.Unlock(owner, 0.0, location); });
        return;
    }
    tWriting hold(&bucket, __FILE__, __LINE__);
    tLockList* list = bucket.Find(table);
    if (list) list->Unlock(owner, recno, location);
}

bool tRecordLockServer::RUnLock(u32 owner, i32 hash, const char* table, f64 recno, u32 location) {
    tLockServerNode& bucket = Bucket(hash);
    UnlockInBucket(bucket, owner, table, recno, location);
    Count(bucket.counters[kUnlockOps]);
    return true;
}

bool tRecordLockServer::FLock(u32 owner, i32 hash, const char* table, u32 location) {
    return InTable(Bucket(hash), table,
                   [&](tLockList& list) { return list.LockTable(owner, location); });
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
    tLockServerNode& bucket = Bucket(hash);
    tRecordLockNode cover{};
    const bool held = FindCover(bucket, table, recno, cover) && cover.IsHeldBy(owner, location);
    return Counted(bucket, held, kIsLockOk, kIsLockFailed);
}

i32 tRecordLockServer::LockOwnerInfo(i32 hash, const char* table, f64 recno, tString& info) {
    tRecordLockNode holder{};
    if (!FindCover(Bucket(hash), table, recno, holder)) return 0;
    // The bucket is let go first: no two of the server's locks are ever held together.
    if (!owners->CopyInfo(holder.owner, static_cast<i32>(holder.location), info)) {
        info.Assign("Internal|Lock owner not found.");
    }
    return static_cast<i32>(holder.owner);
}

void tRecordLockServer::UnLockLocation(u32 location) {
    for (i32 b = 0; b < kLockBucketCount; ++b) {
        InEveryTable(buckets[b], [&](tLockList& list) { list.RemoveLocation(location); });
    }
    owners->RemoveLocation(static_cast<i32>(location));
}

f64 tRecordLockServer::NextRecno(u32 owner, i32 hash, const char* table, u32 location) {
    CheckTable(table);
    tLockServerNode& bucket = Bucket(hash);
    const auto next = [&](tLockList& list) { return list.NextRecno(owner, location); };
    return InFoundTable(bucket, table, next, [&] {
        BasePrintf("[WARNING] tLockServerNode::GetNextRecno build new tLockList on table [%s].\n",
                   table);
        return next(*bucket.FindOrMake(table));
    });
}

void tRecordLockServer::SetRecCount(i32 hash, const char* table, f64 count) {
    InTable(Bucket(hash), table, [&](tLockList& list) { list.SetCounter(count); });
}

// Every reply's status block reads the counter: a table seen before answers without the bucket's
// lock, so readers never wait behind writers of its locks.
f64 tRecordLockServer::RecCount(i32 hash, const char* table) {
    CheckTable(table);
    tLockServerNode& bucket = Bucket(hash);
    const tLockList* list = bucket.Find(table);
    if (list) return list->GetCounter();
    return InTable(bucket, table, [](tLockList& made) { return made.GetCounter(); });
}

bool tRecordLockServer::SetOpen(u32 owner, i32 hash, const char* table, u8 exclusive,
                                u32 location) {
    return InTable(Bucket(hash), table,
                   [&](tLockList& list) { return list.Open(owner, exclusive != 0, location); });
}

bool tRecordLockServer::SetClose(u32 owner, i32 hash, const char* table, u32 location) {
    CheckTable(table);
    return InFoundTable(
        Bucket(hash), table, [&](tLockList& list) { return list.Close(owner, location); },
        [&] {
            BasePrintf(
                "[LOCKSERVERNODE] SetClose List NOT FOUND on table %s Owner %u Location %i\n",
                table, owner, static_cast<i32>(location));
            return false;
        });
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
