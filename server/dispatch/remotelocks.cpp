// The remote lock engines: each operation is one lock-client request to the master, and its
// reply code becomes the engine's answer (-31 is yes for a record lock and its test, no for the
// rest).
#include "server/dispatch/remotelocks.h"

#include "client/gatemillapi.h"
#include "lib_base/stringz.h"
#include "lib_common/retcodes.h"

namespace {

u32 Hash(i32 hash) { return static_cast<u32>(hash); }

}  // namespace

bool tRecordLockClient::RLock(u32 owner, i32 hash, const char* table, f64 recno, u32) {
    return GM_LockClientRLock(handle, owner, Hash(hash), table, recno) == RC_LOCKED;
}

bool tRecordLockClient::RUnLock(u32 owner, i32 hash, const char* table, f64 recno, u32) {
    const i16 code = GM_LockClientRUnLock(handle, owner, Hash(hash), table, recno);
    return code == RC_OK || code == RC_NO_RECORD;
}

bool tRecordLockClient::FLock(u32 owner, i32 hash, const char* table, u32) {
    return GM_LockClientFLock(handle, owner, Hash(hash), table) == RC_OK;
}

bool tRecordLockClient::FUnLock(u32 owner, i32 hash, const char* table, u32) {
    return GM_LockClientFUnLock(handle, owner, Hash(hash), table) == RC_OK;
}

bool tRecordLockClient::IsLocked(u32 owner, i32 hash, const char* table, f64 recno, u32) {
    return GM_LockClientIsLocked(handle, owner, Hash(hash), table, recno) == RC_LOCKED;
}

i32 tRecordLockClient::LockOwnerInfo(i32 hash, const char* table, f64 recno, tString& info) {
    char text[GM_LOCK_OWNER_SIZE] = "";
    const i16 code = GM_LockClientLockOwnerInfo(handle, Hash(hash), table, recno, text);
    if (code == RC_OK) info.Assign(text);
    return code;
}

f64 tRecordLockClient::NextRecno(u32 owner, i32 hash, const char* table, u32) {
    return GM_LockClientNextRecno(handle, owner, Hash(hash), table);
}

void tRecordLockClient::SetRecCount(i32 hash, const char* table, f64 count) {
    GM_LockClientSetRecCount(handle, Hash(hash), table, count);
}

f64 tRecordLockClient::RecCount(i32 hash, const char* table) {
    return GM_LockClientRecCount(handle, Hash(hash), table);
}

bool tRecordLockClient::SetOpen(u32 owner, i32 hash, const char* table, u8 exclusive, u32) {
    return GM_LockClientSetOpen(handle, owner, Hash(hash), table, exclusive) == RC_OK;
}

bool tRecordLockClient::SetClose(u32 owner, i32 hash, const char* table, u32) {
    return GM_LockClientSetClose(handle, owner, Hash(hash), table) == RC_OK;
}

void tRecordLockClient::SetOwnerInfo(u32 owner, const char* text, u32) {
    GM_LockClientSetOwnerInfo(handle, owner, text);
}

bool tRecordLockClient::IsConnected() { return GM_LockClientIsConnected(handle) != 0; }

bool tVirtualLockClient::VLock(u32 owner, const char* key, i32, const char* env, tString&) {
    return GM_LockClientVLock(handle, owner, key, env) == RC_OK;
}

bool tVirtualLockClient::VUnLock(u32 owner, const char* key, i32, const char* env) {
    return GM_LockClientVUnLock(handle, owner, key, env) == RC_OK;
}
