// Virtual locks: a request's empty or missing key matches any key, so one request may match
// several held locks.
#include "server/locks/virtuallockserver.h"

#include <memory>

#include "server/locks/lockstats.h"
#include "server/locks/ownedarray.h"

namespace {

bool KeyMatches(const char* wanted, const tString& held) {
    return !wanted || !*wanted || held == wanted;
}

bool Matches(const tVirtualLockNode& node, const char* key, const char* env) {
    return KeyMatches(key, node.key) && KeyMatches(env, node.env);
}

}  // namespace

bool tVirtualLockServer::VLock(u32 owner, const char* key, i32 location, const char* env,
                               tString& info) {
    bool granted = true;
    {
        tWriting hold(this, __FILE__, __LINE__);
        bool held = false;
        for (i32 i = 0; i < nodes.Count() && granted; ++i) {
            const tVirtualLockNode& node = *nodes[i];
            if (!Matches(node, key, env)) continue;
            if (node.owner == owner && node.location == location) {
                held = true;
            } else {
                info.Assign(node.info.GetText());
                granted = false;
            }
        }
        if (granted && !held) {
            AddOwned(nodes,
                     std::make_unique<tVirtualLockNode>(tVirtualLockNode{
                         owner, tString(key), location, tString(env), tString(info.GetText())}));
        }
    }
    Count(granted ? lockOk : lockFailed);
    return granted;
}

bool tVirtualLockServer::VUnLock(u32 owner, const char* key, i32 location, const char* env) {
    i32 released = 0;
    {
        tWriting hold(this, __FILE__, __LINE__);
        released = DeleteIf(nodes, [&](const tVirtualLockNode& node) {
            return node.owner == owner && (location == -1 || node.location == location) &&
                   Matches(node, key, env);
        });
    }
    Count(unlockOps);
    return released > 0;
}

void tVirtualLockServer::UnLockLocation(i32 location) {
    tWriting hold(this, __FILE__, __LINE__);
    DeleteIf(nodes, [&](const tVirtualLockNode& node) { return node.location == location; });
}

void tVirtualLockServer::Statistics(tString& text, u8 reset) {
    AppendCounterLine(text, "Virtual Lock OK ..............: ", ReadCounter(lockOk, reset));
    AppendCounterLine(text, "Virtual Lock Failed ..........: ", ReadCounter(lockFailed, reset));
    AppendCounterLine(text, "Virtual UnLock Op.............: ", ReadCounter(unlockOps, reset));
}
