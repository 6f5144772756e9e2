// The lock-client exports against the scripted fake server: the bytes of each request, the
// master's codes passed through unchanged, the two number exports with their -2.0 and -88.0.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "client/gatemillapi.h"
#include "tests/client/support/clienttest.h"

using gmtest::Reply;
using gmtest::Status;
using gmtest::tKind;
using gmtest::tKindSession;
using gmtest::tWire;

namespace {

struct tLockCase {
    const char* name;
    std::function<double(GM_HANDLE)> call;
    std::string reply;
    std::string request;
    double result;
};

// Owner 0x80000001 and hash 511 go out as the caller gave them.
std::vector<tLockCase> LockCases() {
    const u32 owner = 0x80000001u;
    const i32 ownerOnWire = static_cast<i32>(owner);
    return {
        {"RLock", [=](GM_HANDLE h) { return GM_LockClientRLock(h, owner, 511, "SA1010", 7); },
         Status(0),
         tWire().Short(19).Long(ownerOnWire).Long(511).Text("SA1010").Double(7).Payload(), 0},
        {"RLock held by another owner",
         [=](GM_HANDLE h) { return GM_LockClientRLock(h, owner, 3, "SA1010", 0); }, Status(-31),
         tWire().Short(19).Long(ownerOnWire).Long(3).Text("SA1010").Double(0).Payload(), -31},
        {"RUnLock", [=](GM_HANDLE h) { return GM_LockClientRUnLock(h, owner, 3, "SA1010", 7); },
         Status(0), tWire().Short(20).Long(ownerOnWire).Long(3).Text("SA1010").Double(7).Payload(),
         0},
        {"FLock", [=](GM_HANDLE h) { return GM_LockClientFLock(h, owner, 3, "SA1010"); },
         Status(-31), tWire().Short(51).Long(ownerOnWire).Long(3).Text("SA1010").Payload(), -31},
        {"FUnLock of every table",
         [=](GM_HANDLE h) { return GM_LockClientFUnLock(h, owner, 0, nullptr); }, Status(0),
         tWire().Short(52).Long(ownerOnWire).Long(0).Text("").Payload(), 0},
        {"VLock", [=](GM_HANDLE h) { return GM_LockClientVLock(h, owner, "SEQ", "SA1"); },
         Status(0), tWire().Short(53).Long(ownerOnWire).Text("SEQ").Text("SA1").Payload(), 0},
        {"VUnLock", [=](GM_HANDLE h) { return GM_LockClientVUnLock(h, owner, "SEQ", "SA1"); },
         Status(0), tWire().Short(54).Long(ownerOnWire).Text("SEQ").Text("SA1").Payload(), 0},
        {"IsLocked not by this owner",
         [=](GM_HANDLE h) { return GM_LockClientIsLocked(h, owner, 3, "SA1010", 7); }, Status(-31),
         tWire().Short(57).Long(ownerOnWire).Long(3).Text("SA1010").Double(7).Payload(), -31},
        {"NextRecno", [=](GM_HANDLE h) { return GM_LockClientNextRecno(h, owner, 3, "SA1010"); },
         tWire().Double(4097).Payload(),
         tWire().Short(55).Long(ownerOnWire).Long(3).Text("SA1010").Payload(), 4097},
        {"RecCount", [](GM_HANDLE h) { return GM_LockClientRecCount(h, 3, "SA1010"); },
         tWire().Double(-1).Payload(), tWire().Short(121).Long(3).Text("SA1010").Payload(), -1},
        {"SetRecCount", [](GM_HANDLE h) { return GM_LockClientSetRecCount(h, 3, "SA1010", 99); },
         Status(0), tWire().Short(56).Long(3).Text("SA1010").Double(99).Payload(), 0},
        {"SetOpen exclusive",
         [=](GM_HANDLE h) { return GM_LockClientSetOpen(h, owner, 3, "SA1010", 1); }, Status(-15),
         tWire().Short(122).Long(ownerOnWire).Long(3).Text("SA1010").Byte(1).Payload(), -15},
        {"SetClose", [=](GM_HANDLE h) { return GM_LockClientSetClose(h, owner, 3, "SA1010"); },
         Status(0), tWire().Short(123).Long(ownerOnWire).Long(3).Text("SA1010").Payload(), 0},
        {"SetOwnerInfo",
         [=](GM_HANDLE h) { return GM_LockClientSetOwnerInfo(h, owner, "ERP|PC01"); }, Status(0),
         tWire().Short(124).Long(ownerOnWire).Text("ERP|PC01").Payload(), 0},
    };
}

TEST(LockClientExports, EachSendsItsRequestAndPassesTheMastersAnswer) {
    for (const tLockCase& c : LockCases()) {
        SCOPED_TRACE(c.name);
        tKindSession session(tKind::LockClient, {Reply(c.reply)});
        ASSERT_EQ(session.connectStatus, 0);
        EXPECT_EQ(c.call(session.handle), c.result);
        EXPECT_EQ(GM_LockClientIsConnected(session.handle), 1);
        EXPECT_EQ(session.Requests(), std::vector<std::string>{c.request});
    }
}

TEST(LockClientExports, LockOwnerInfoCopiesTheHolderOnlyOnZero) {
    for (const i16 status : {0, -19}) {
        SCOPED_TRACE(status);
        tWire reply;
        reply.Short(status);
        if (status == 0) reply.Text("ERP|PC01|7");
        tKindSession session(tKind::LockClient, {Reply(reply.Payload())});
        ASSERT_EQ(session.connectStatus, 0);
        char out[GM_LOCK_OWNER_SIZE] = "untouched";
        EXPECT_EQ(GM_LockClientLockOwnerInfo(session.handle, 3, "SA1010", 7, out), status);
        EXPECT_STREQ(out, status == 0 ? "ERP|PC01|7" : "untouched");
        EXPECT_EQ(
            session.Requests(),
            std::vector<std::string>{tWire().Short(81).Long(3).Text("SA1010").Double(7).Payload()});
    }
}

// The number exports give their codes as numbers; a failed exchange drops the connection.
TEST(LockClientExports, NumberExportsGiveMinusTwoAndMinusEightyEight) {
    EXPECT_EQ(GM_LockClientNextRecno(0, 1, 1, "T"), -2.0);
    EXPECT_EQ(GM_LockClientRecCount(0, 1, "T"), -2.0);
    const GM_HANDLE idle = GM_GetLockClient(1);
    EXPECT_EQ(GM_LockClientNextRecno(idle, 1, 1, "T"), -2.0);  // made, never connected
    EXPECT_EQ(GM_LockClientRecCount(idle, 1, "T"), -2.0);
    GM_ReleaseLockClient(idle);

    const std::function<double(GM_HANDLE)> calls[] = {
        [](GM_HANDLE h) { return GM_LockClientNextRecno(h, 1, 1, "T"); },
        [](GM_HANDLE h) { return GM_LockClientRecCount(h, 1, "T"); }};
    for (const auto& call : calls) {
        for (const gmtest::tFakeAnswer& answer :
             {Reply(tWire().Long(4).Payload()), gmtest::Hangup()}) {
            tKindSession session(tKind::LockClient, {answer});
            ASSERT_EQ(session.connectStatus, 0);
            EXPECT_EQ(call(session.handle), -88.0);
            EXPECT_EQ(GM_LockClientIsConnected(session.handle), 0);
            EXPECT_EQ(call(session.handle), -2.0);
        }
    }
}

}  // namespace
