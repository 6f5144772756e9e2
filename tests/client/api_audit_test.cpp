// The audit and audit-monitor exports against a fake audit server on loopback: the handshake of
// each kind, the records and requests as the server receives them, the audit-table guard, the
// monitor's replies, and the stubs that send nothing.
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

// The audit connect packet: the magic and its NUL, host byte order ('1' on this little-endian
// host), the kind, then user, computer and caller.
std::string AuditConnectFrame(char kind, const char* caller) {
    return tWire()
        .Raw(
            "\xAE"
            "ADT"
            "\xAE")
        .Byte(0)
        .Byte('1')
        .Byte(static_cast<u8>(kind))
        .Text("tester")
        .Text("box")
        .Text(caller)
        .Frame();
}

TEST(AuditExports, HandshakeNamesKindUserComputerAndCaller) {
    const struct {
        tKind kind;
        char byte;
        const char* caller;
    } cases[] = {{tKind::Audit, '0', "ERP\\PC01"}, {tKind::AuditMonitor, '1', "mon"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.byte);
        tKindSession session(c.kind, {});
        EXPECT_EQ(session.connectStatus, 0);
        EXPECT_TRUE(session.Requests().empty());
        EXPECT_EQ(session.connectFrame, AuditConnectFrame(c.byte, c.caller));
    }
}

TEST(AuditExports, RecordsAndRequestsReachTheServerAsSent) {
    tKindSession session(tKind::Audit, {Reply(Status(0)), Reply(Status(0)), Reply(Status(-19)),
                                        Reply(Status(0)), Reply(Status(0)), Reply(Status(0))});
    ASSERT_EQ(session.connectStatus, 0);
    const GM_HANDLE h = session.handle;
    EXPECT_EQ(GM_WriteAudit(h, "I", "SA1010", 7, "a", "b", "c"), 0);
    EXPECT_EQ(GM_WriteAudit2(h, "U", "SA1010", 8, "NOME", "old", "K000000003", "new"), 0);
    EXPECT_EQ(GM_WriteAudit2(h, "D", "sa1010_audit_trail", 9, "", "", "K000000004", nullptr), -19);
    // The audit table itself, anywhere in a longer name: nothing is sent.
    EXPECT_EQ(GM_WriteAudit(h, "I", "XAUDIT_TRAIL01", 1, "", "", ""), 0);
    EXPECT_EQ(GM_WriteAudit2(h, "I", "AUDIT_TRAIL", 1, "", "", "id", "x"), 0);
    EXPECT_EQ(GM_AuditUser(h, "maria"), 0);
    EXPECT_EQ(GM_WriteAuditCustom(h, "BRANCH", "01"), 0);
    EXPECT_EQ(GM_WriteAppLog(h, "app", "event", 12, "t3", "t4"), 0);
    EXPECT_EQ(session.Requests(),
              (std::vector<std::string>{tWire()
                                            .Short(96)
                                            .Text("I")
                                            .Text("SA1010")
                                            .Double(7)
                                            .Text("a")
                                            .Text("b")
                                            .Text("c")
                                            .Payload(),
                                        tWire()
                                            .Short(96)
                                            .Text("U")
                                            .Text("SA1010")
                                            .Double(8)
                                            .Text("NOME")
                                            .Text("old")
                                            .Text("K000000003")
                                            .Text("new")
                                            .Payload(),
                                        tWire()
                                            .Short(96)
                                            .Text("D")
                                            .Text("sa1010_audit_trail")
                                            .Double(9)
                                            .Text("")
                                            .Text("")
                                            .Text("K000000004")
                                            .Payload(),
                                        tWire().Short(100).Text("maria").Payload(),
                                        tWire().Short(102).Text("BRANCH").Text("01").Payload(),
                                        tWire()
                                            .Short(101)
                                            .Text("app")
                                            .Text("event")
                                            .Long(12)
                                            .Text("t3")
                                            .Text("t4")
                                            .Payload()}));
}

TEST(AuditExports, MonitorExportsReadTheirReplies) {
    tKindSession session(
        tKind::AuditMonitor,
        {Reply(tWire().Short(0).Long(10).Long(20).Long(30).Payload()),
         Reply(tWire().Text("db").Long(5).Text("dir").Text("mode").Payload()), Reply(Status(0)),
         Reply(tWire().Short(0).Text("audit log").Payload()), Reply(Status(-19))});
    ASSERT_EQ(session.connectStatus, 0);
    const GM_HANDLE h = session.handle;
    int32_t a = 0, b = 0, c = 0;
    EXPECT_EQ(GM_AuditMonitorStats(h, &a, &b, &c), 0);
    EXPECT_EQ(std::vector<int32_t>({a, b, c}), std::vector<int32_t>({10, 20, 30}));
    char t1[GM_AUDIT_CONFIG_SIZE], t2[GM_AUDIT_CONFIG_SIZE], t3[GM_AUDIT_CONFIG_SIZE];
    int32_t value = 0;
    EXPECT_EQ(GM_AuditMonitorGetConfig(h, t1, &value, t2, t3), 0);
    EXPECT_EQ(std::string(t1) + "|" + std::to_string(value) + "|" + t2 + "|" + t3, "db|5|dir|mode");
    EXPECT_EQ(GM_AuditMonitorSetConfig(h, "db", 6, "dir", "mode"), 0);
    std::vector<char> log(GM_LOG_TEXT_SIZE);
    EXPECT_EQ(GM_AuditMonitorErrorLog(h, log.data()), 0);
    EXPECT_STREQ(log.data(), "audit log");
    EXPECT_EQ(GM_AuditMonitorClearLog(h), -19);
    EXPECT_EQ(session.Requests(),
              (std::vector<std::string>{
                  tWire().Short(97).Payload(), tWire().Short(98).Payload(),
                  tWire().Short(99).Text("db").Long(6).Text("dir").Text("mode").Payload(),
                  tWire().Short(71).Payload(), tWire().Short(72).Payload()}));
}

// A configuration reply cut short is a communication failure.
TEST(AuditExports, ShortConfigReplyDropsTheConnection) {
    tKindSession session(tKind::AuditMonitor, {Reply(tWire().Text("db").Long(5).Payload())});
    ASSERT_EQ(session.connectStatus, 0);
    char t1[GM_AUDIT_CONFIG_SIZE], t2[GM_AUDIT_CONFIG_SIZE], t3[GM_AUDIT_CONFIG_SIZE];
    int32_t value = 0;
    EXPECT_EQ(GM_AuditMonitorGetConfig(session.handle, t1, &value, t2, t3), -88);
    EXPECT_EQ(GM_AuditMonitorClearLog(session.handle), -2);
}

// Each kind's exports refuse the other kinds' handles, and every handle that is not connected,
// with -2 and no traffic.
TEST(AuditExports, OtherKindsAndIdleHandlesAreRefused) {
    tKindSession monitor(tKind::AuditMonitor, {});
    tKindSession audit(tKind::Audit, {});
    tKindSession manager(tKind::Manager, {});
    const GM_HANDLE idle = GM_GetAudit(1);
    for (const GM_HANDLE h : {monitor.handle, idle, GM_HANDLE{0}}) {
        EXPECT_EQ(GM_WriteAudit(h, "I", "T", 1, "", "", ""), -2);
        EXPECT_EQ(GM_AuditUser(h, "u"), -2);
    }
    for (const GM_HANDLE h : {audit.handle, manager.handle, GM_HANDLE{0}}) {
        EXPECT_EQ(GM_AuditMonitorClearLog(h), -2);
    }
    EXPECT_EQ(GM_ClearLog(audit.handle), -2);
    EXPECT_EQ(GM_LockClientFLock(manager.handle, 1, 1, "T"), -2);
    GM_ReleaseAudit(idle);
    for (tKindSession* s : {&monitor, &audit, &manager}) EXPECT_TRUE(s->Requests().empty());
}

TEST(Stubs, GiveTheirFixedResultsAndSendNothing) {
    tKindSession session(tKind::Manager, {});
    const GM_HANDLE h = session.handle;
    EXPECT_EQ(GM_SyncFiles(h, 1), 0);
    EXPECT_EQ(GM_BufferizeServer(h, 1, 2), 0);
    EXPECT_EQ(GM_SetAutoScan(h, 1), 0);
    EXPECT_EQ(GM_SetFields(h, 1, 2, 3), 0);
    EXPECT_EQ(GM_Call(h, 1, 2, 3), -19);
    EXPECT_EQ(GM_QCall(h, 1), -19);
    EXPECT_EQ(GM_ErrorCountManager(h), 0);
    GM_InitCache(5);
    GM_Shutdown();
    EXPECT_EQ(GM_ManagerIsConnected(h), 1);
    EXPECT_TRUE(session.Requests().empty());
}

}  // namespace
