// The in-process virtual lock engine: named locks over a key and an environment text, for all
// connections of this server and the lock connections of its slave servers.
#pragma once
#include <atomic>

#include "lib_base/list.h"
#include "lib_base/rwlock.h"
#include "lib_base/stringz.h"
#include "server/locks/lockengine.h"

// A held virtual lock. Its texts are never shared with a caller's string: copies go by text.
struct tVirtualLockNode {
    u32 owner;
    tString key;
    i32 location;
    tString env;
    tString info;  // the holder's information text, given to refused requests
};

// Safe from any thread: every operation runs whole under the server's one lock.
class tVirtualLockServer : public tVirtualLockEngine, private tRWLock {
public:
    tVirtualLockServer() : tRWLock("tVirtualLockServer") {}
    tVirtualLockServer(const tVirtualLockServer&) = delete;
    tVirtualLockServer& operator=(const tVirtualLockServer&) = delete;

    // Refused when any lock matching the keys belongs to another holder; the first such lock
    // gives its information text.
    bool VLock(u32 owner, const char* key, i32 location, const char* env, tString& info) override;
    bool VUnLock(u32 owner, const char* key, i32 location, const char* env) override;
    void UnLockLocation(i32 location) override;
    void Statistics(tString& text, u8 reset) override;
    ~tVirtualLockServer() override = default;

private:
    // Guarded by the server's lock: the held locks in order of creation.
    tAutoArray<tVirtualLockNode> nodes;

    // Counted without a lock; Statistics reads and resets each one atomically.
    std::atomic<u32> lockOk{0};
    std::atomic<u32> lockFailed{0};
    std::atomic<u32> unlockOps{0};
};
