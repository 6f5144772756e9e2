// The virtual lock server: key matching with wildcards, releases and the counters.
#include "server/locks/virtuallockserver.h"

#include <gtest/gtest.h>

#include <memory>

#include "lib_base/stringz.h"

namespace {

struct Request {
    u32 owner;
    i32 location;
    const char* key;
    const char* env;
    bool expect;
    const char* infoAfter;  // the information text after the call
};

// Each request carries "own<owner>" as its information text.
void RunRequests(tVirtualLockServer& server, const Request* requests, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        const Request& r = requests[i];
        SCOPED_TRACE(testing::Message() << "request " << i);
        tString info(("own" + std::to_string(r.owner)).c_str());
        EXPECT_EQ(server.VLock(r.owner, r.key, r.location, r.env, info), r.expect);
        EXPECT_STREQ(info.GetText(), r.infoAfter);
    }
}

TEST(VirtualLockServer, EmptyRequestKeysMatchAnyHeldKey) {
    tVirtualLockServer server;
    const Request requests[] = {
        {7, 100, "K1", "K2", true, "own7"},
        {7, 100, "K1", "K2", true, "own7"},   // the same holder again
        {8, 100, "K1", "K2", false, "own7"},  // refused: the holder's text comes back
        {7, 101, "K1", "K2", false, "own7"},  // same owner at another location
        {8, 100, "K1", "", false, "own7"},
        {8, 100, nullptr, "K2", false, "own7"},
        {8, 100, "K3", "K2", true, "own8"},
        {9, 5, "", "", false, "own7"},       // any key is held by someone
        {9, 5, "", "K9", true, "own9"},      // matches nothing held: a lock with an empty key
        {10, 5, "K5", "K9", true, "own10"},  // a held empty key is no wildcard
        {10, 5, "", "K9", false, "own9"},
        {8, 100, "k1", "K2", true, "own8"},  // case counts
        {8, 100, "K1", "K4", true, "own8"},
        // A wildcard request is refused when any match belongs to another holder, even when
        // the first match is the requester's own.
        {7, 100, "K1", "", false, "own8"},
    };
    RunRequests(server, requests, std::size(requests));
}

TEST(VirtualLockServer, EmptyKeysAreGrantedOnlyWhenNothingIsHeld) {
    tVirtualLockServer server;
    const Request requests[] = {
        {1, 1, "", nullptr, true, "own1"},
        {1, 1, "A", "B", true, "own1"},  // matches nothing held: the held key "" is a value
        {2, 2, nullptr, nullptr, false, "own1"},
    };
    RunRequests(server, requests, std::size(requests));
}

TEST(VirtualLockServer, VUnLockReleasesTheOwnersMatchingLocks) {
    const struct {
        u32 owner;
        const char* key;
        i32 location;
        bool expect;
        const char* freed;  // keys free for owner 9 afterwards ("K1", "K2", "K3")
    } cases[] = {
        {7, "", -1, true, "K1 K2"},  // owner 7 at every location
        {7, nullptr, 100, true, "K1"}, {7, "K2", 101, true, "K2"},
        {7, "K3", -1, false, ""},  // owner 8's lock: not owner 7's to release
        {8, "K1", -1, false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.owner << " " << (c.key ? c.key : "null") << " " << c.location);
        tVirtualLockServer server;
        tString info;
        server.VLock(7, "K1", 100, "E", info);
        server.VLock(7, "K2", 101, "E", info);
        server.VLock(8, "K3", 100, "E", info);
        EXPECT_EQ(server.VUnLock(c.owner, c.key, c.location, "E"), c.expect);
        for (const char* key : {"K1", "K2", "K3"}) {
            const bool freed = std::string(c.freed).find(key) != std::string::npos;
            EXPECT_EQ(server.VLock(9, key, 9, "E", info), freed) << key;
        }
    }
}

TEST(VirtualLockServer, UnLockLocationReleasesEveryOwnerThere) {
    tVirtualLockServer server;
    tString info;
    server.VLock(7, "K1", 100, "E", info);
    server.VLock(8, "K2", 100, "E", info);
    server.VLock(8, "K3", 101, "E", info);
    server.UnLockLocation(100);
    EXPECT_TRUE(server.VLock(9, "K1", 9, "E", info));
    EXPECT_TRUE(server.VLock(9, "K2", 9, "E", info));
    EXPECT_FALSE(server.VLock(9, "K3", 9, "E", info));
}

TEST(VirtualLockServer, StatisticsCountsAndResets) {
    std::unique_ptr<tVirtualLockEngine> server(new tVirtualLockServer);
    tString info;
    server->VLock(1, "K", 1, "E", info);
    server->VLock(1, "K", 1, "E", info);
    server->VLock(2, "K", 2, "E", info);
    server->VUnLock(2, "K", 2, "E");
    tString text("x\n");
    server->Statistics(text, 1);
    EXPECT_STREQ(text.GetText(),
                 "x\n"
                 "Virtual Lock OK ..............: 2\n"
                 "Virtual Lock Failed ..........: 1\n"
                 "Virtual UnLock Op.............: 1\n");
    tString after;
    server->Statistics(after, 0);
    EXPECT_STREQ(after.GetText(),
                 "Virtual Lock OK ..............: 0\n"
                 "Virtual Lock Failed ..........: 0\n"
                 "Virtual UnLock Op.............: 0\n");
}

}  // namespace
