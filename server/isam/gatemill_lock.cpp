// Record and table locks of a table file: they live in the session's record-lock engine, and the
// file keeps the list of what it holds, which the changes consult before they lock for
// themselves.
#include "lib_base/gmlassert.h"
#include "lib_base/printer.h"
#include "lib_common/retcodes.h"
#include "server/isam/gatemill.h"
#include "server/isam/session.h"
#include "server/locks/lockengine.h"
#include "server/tables/dbtable.h"

tRecordLockEngine& tISAMFile::LockEngine() const {
    GML_ASSERT(dbServer != nullptr, "table file without a session");
    return *dbServer->GetRecordLockEngine();
}

i32 tISAMFile::LockBucket() const { return static_cast<i32>(mirror->GetLockBucket()); }

i16 tISAMFile::Lock(u8 table, i32 recno) {
    tRecordLockEngine& engine = LockEngine();
    const char* name = mirror->GetFullName();
    if (table) {
        // A file that stands nowhere has no record to read under the lock. It is refused before
        // the engine is asked: giving a granted table lock back releases every lock this owner
        // holds in the table, those taken through its other files too.
        if (cache->IsEmpty()) return RC_NO_RECORD;
        if (!engine.FLock(lockOwner, LockBucket(), name, 0)) return RC_LOCKED;
        lockedList.Add(0.0);
        if (SyncCurrent(false)) return RC_OK;
        lockedList.Remove(0.0);
        engine.FUnLock(lockOwner, LockBucket(), name, 0);
        return RC_NO_RECORD;
    }
    // No record has a number of 0 or less, and for the engine 0 is the whole table: granting
    // it and giving it back on the failed read would release every lock this owner holds in
    // the table.
    if (recno <= 0) return RC_NO_RECORD;
    // An exclusive file needs no lock, but the reply still carries the record asked for: the
    // client goes on to change what it believes it locked.
    if (exclusive) {
        BasePrintf("[WARNING] OP_LOCK in Exclusive Table [%s] Recno [%.0f]\n", name,
                   static_cast<f64>(recno));
        return GoTo(recno, true) ? RC_OK : RC_NO_RECORD;
    }
    // When the record cannot be read, only what this call took is given back: a lock that the
    // owner held already, through this file or another, stays.
    const bool held = engine.IsLocked(lockOwner, LockBucket(), name, recno, 0);
    if (!engine.RLock(lockOwner, LockBucket(), name, recno, 0)) return RC_LOCKED;
    const bool listed = !lockedList.Add(recno);
    if (GoTo(recno, true)) return RC_OK;
    if (!listed) lockedList.Remove(recno);
    if (!held) engine.RUnLock(lockOwner, LockBucket(), name, recno, 0);
    return RC_NO_RECORD;
}

bool tISAMFile::Unlock(u8 table, i32 recno) {
    tRecordLockEngine& engine = LockEngine();
    if (table) {
        lockedList.Remove(0.0);  // the table lock and every record lock go together
        return engine.FUnLock(lockOwner, LockBucket(), mirror->GetFullName(), 0);
    }
    lockedList.Remove(recno);
    return engine.RUnLock(lockOwner, LockBucket(), mirror->GetFullName(), recno, 0);
}

// The owner's other files of the same table keep their locks: only what this file lists goes.
// Its table lock, when it holds one, goes with every record lock of the owner in the table, as a
// table unlock does.
void tISAMFile::ReleaseListedLocks() {
    tRecordLockEngine& engine = LockEngine();
    const char* name = mirror->GetFullName();
    if (lockedList.Find(0.0)) {
        engine.FUnLock(lockOwner, LockBucket(), name, 0);
    } else {
        for (i32 i = 0; i < lockedList.Count(); ++i) {
            engine.RUnLock(lockOwner, LockBucket(), name, lockedList.Get(i), 0);
        }
    }
    lockedList.Remove(0.0);
}

void tISAMFile::GetLockOwner(i32 recno, tString& text) {
    LockEngine().LockOwnerInfo(LockBucket(), mirror->GetFullName(), recno, text);
}

// A record that this file locked, or that another file of the same owner holds, needs no lock
// of its own: taking and giving back one would release the other file's lock.
bool tISAMFile::LockForChange(f64 recno, const char* operation, bool& taken) {
    taken = false;
    if (exclusive || lockedList.Find(recno)) return true;
    const char* name = mirror->GetFullName();
    BasePrintf("[WARNING] %s Without Lock in Table [%s] Recno [%.0f]\n", operation, name, recno);
    tRecordLockEngine& engine = LockEngine();
    if (engine.IsLocked(lockOwner, LockBucket(), name, recno, 0)) return true;
    if (!engine.RLock(lockOwner, LockBucket(), name, recno, 0)) return false;
    taken = true;
    return true;
}

void tISAMFile::UnlockAfterChange(f64 recno, bool taken) {
    if (taken) LockEngine().RUnLock(lockOwner, LockBucket(), mirror->GetFullName(), recno, 0);
}

bool tISAMFile::IsKeyField(i16 fieldNo) const {
    if (cache->GetOrder() == 0 && !filterIndex) return false;  // the window is in record order
    const tIndexDefinition* index = GetCurrentIndex();
    if (!index) return false;
    for (i32 i = 0; i < index->GetFieldCount(); ++i) {
        if (index->GetField(i) == fieldNo) return true;
    }
    return false;
}
