// Fuzz target of the client library's reply readers, export by export: a connection of the
// input's kind, past its handshake with a scripted server on loopback, makes the input's calls,
// and each request gets the input's reply. Whatever the replies, every call ends (a request the
// script has no reply for finds the connection closed), writes only within the caller's
// buffers (they are exactly as large as each export asks), and a call that found its reply
// unusable leaves the connection dropped. Crashes, leaks and sanitizer reports fail too.
//
// Input: kind byte (bits 0-6: 0 table, 1 monitor, 2 lock client, 3 audit, 4 audit monitor, the
// rest as 0; bit 7: the handshake's replies come from the input too, as the first calls'
// replies), then calls, each
// a selector byte (its export, modulo the kind's table), a little-endian u16 reply length and
// the reply's payload.
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "client/gatemillapi.h"
#include "lib_common/retcodes.h"
#include "tests/client/support/clienttest.h"
#include "tests/fuzz/fuzzcheck.h"

namespace {

using tCall = std::function<int64_t(GM_HANDLE, uint16_t&)>;

// A caller's buffer of exactly size bytes on the heap, so that a write past it is reported.
class CallerBuffer {
public:
    explicit CallerBuffer(size_t size) : bytes(new char[size]) {
        std::memset(bytes.get(), 0, size);
    }
    char* get() { return bytes.get(); }

private:
    std::unique_ptr<char[]> bytes;
};

constexpr size_t kStatusBlock = 96;
constexpr size_t kConnectAttempts = 10;  // socket connects of one table connect

// A call whose result is a value from the reply rather than a status: not checked as a status.
int64_t Value(int64_t) { return 0; }

// The work area a call names: the one the last successful open or query gave.
int64_t Opened(int64_t status, uint16_t& wa) {
    if (status > 0) wa = static_cast<uint16_t>(status);
    return status;
}

const std::vector<tCall>& TableCalls() {
    static const std::vector<tCall> calls = {
        [](GM_HANDLE h, uint16_t& wa) { return Opened(GM_Open(h, "ORDERS", 0, 0), wa); },
        [](GM_HANDLE h, uint16_t& wa) { return Opened(GM_Query(h, "SELECT A FROM T"), wa); },
        [](GM_HANDLE h, uint16_t& wa) {
            CallerBuffer block(kStatusBlock);
            return Opened(GM_QueryEx(h, "SELECT A FROM T", "X", 1, 2, block.get()), wa);
        },
        [](GM_HANDLE h, uint16_t& wa) { return GM_First(h, wa, 0, 0); },
        [](GM_HANDLE h, uint16_t& wa) { return GM_Last(h, wa, 0, 0); },
        [](GM_HANDLE h, uint16_t& wa) { return GM_Skip(h, wa, 0, -2, 0); },
        [](GM_HANDLE h, uint16_t& wa) { return GM_ChainR(h, wa, 0, 3, 0); },
        [](GM_HANDLE h, uint16_t& wa) { return GM_Seek(h, wa, 0, 1, 1, 1, 6, 0); },
        [](GM_HANDLE h, uint16_t& wa) { return GM_Write(h, wa, 0); },
        [](GM_HANDLE h, uint16_t& wa) { return GM_UpdateR(h, wa, 0, 1); },
        [](GM_HANDLE h, uint16_t& wa) { return GM_DeleteR(h, wa, 1); },
        [](GM_HANDLE h, uint16_t& wa) { return GM_Lock(h, wa, 0); },
        [](GM_HANDLE h, uint16_t& wa) { return GM_SetKey(h, wa, 2); },
        [](GM_HANDLE h, uint16_t& wa) { return GM_ChgQuery(h, wa, "A = 1"); },
        [](GM_HANDLE h, uint16_t& wa) { return GM_FilterEx(h, wa, 1, "A = 1"); },
        [](GM_HANDLE h, uint16_t& wa) { return GM_Pack(h, wa); },
        [](GM_HANDLE h, uint16_t& wa) { return GM_Close(h, wa); },
        [](GM_HANDLE h, uint16_t& wa) {
            CallerBuffer out(64);
            return Value(GM_Blob_Read(h, wa, 1, 1, out.get(), 64));
        },
        [](GM_HANDLE h, uint16_t& wa) { return Value(GM_Blob_Length(h, wa, 1, 1)); },
        [](GM_HANDLE h, uint16_t&) { return GM_Execute(h, "DELETE FROM T", 0); },
        [](GM_HANDLE h, uint16_t&) {
            CallerBuffer block(kStatusBlock);
            return GM_ExecuteEx(h, "DELETE FROM T", 0, block.get());
        },
        [](GM_HANDLE h, uint16_t& wa) { return Opened(GM_SqlPrepare(h, "SELECT A FROM T"), wa); },
        [](GM_HANDLE h, uint16_t& wa) {
            const int32_t value = 7;
            return GM_SqlBind(h, wa, "I/004/0/", &value);
        },
        [](GM_HANDLE h, uint16_t&) {
            // The name and one double; room for two results of the longest kind.
            CallerBuffer descriptors(2 * 8 + 1);
            std::memcpy(descriptors.get(), "A/003/0/F/008/0/", 17);
            CallerBuffer data(2 * 999);
            std::memcpy(data.get(), "SP1\0\0\0\0\0\0\0\0", 11);
            return GM_ProcExec(h, descriptors.get(), data.get(), 2);
        },
        [](GM_HANDLE h, uint16_t&) {
            CallerBuffer out(16);
            return GM_GetError(h, out.get(), 16);
        },
        [](GM_HANDLE h, uint16_t&) {
            CallerBuffer out(16);
            return GM_GetDBSID(h, out.get(), 16);
        },
        [](GM_HANDLE h, uint16_t&) { return Value(GM_GetSID(h)); },
        [](GM_HANDLE h, uint16_t&) {
            CallerBuffer buffer(16);
            std::memcpy(buffer.get(), "AB", 2);
            return Value(GM_InternalF(h, 3, buffer.get(), 2, 16));
        },
        [](GM_HANDLE h, uint16_t&) {
            CallerBuffer out(256);
            return GM_GetBuild(h, out.get());
        },
        [](GM_HANDLE h, uint16_t&) { return GM_CanOpen(h, "ORDERS", ""); },
        [](GM_HANDLE h, uint16_t&) { return GM_Commit(h, 0); },
    };
    return calls;
}

const std::vector<tCall>& MonitorCalls() {
    static const std::vector<tCall> calls = {
        [](GM_HANDLE h, uint16_t&) {
            CallerBuffer out(GM_INFO_TEXT_SIZE);
            int32_t count = 0;
            return GM_InfoManager(h, out.get(), &count);
        },
        [](GM_HANDLE h, uint16_t&) { return GM_StartTraceManager(h, "77"); },
        [](GM_HANDLE h, uint16_t&) {
            CallerBuffer out(GM_INFO_TEXT_SIZE);
            return GM_StopTraceManager(h, "77", out.get());
        },
        [](GM_HANDLE h, uint16_t&) { return GM_GetTraceCount(h, "77"); },
        [](GM_HANDLE h, uint16_t&) {
            CallerBuffer out(17);
            double elapsed = 0;
            return GM_GetTrace(h, "77", out.get(), 16, &elapsed);
        },
        [](GM_HANDLE h, uint16_t&) { return GM_KillUser(h, "77"); },
        [](GM_HANDLE h, uint16_t&) {
            CallerBuffer out(GM_LOG_TEXT_SIZE);
            return GM_ErrorLog(h, out.get());
        },
        [](GM_HANDLE h, uint16_t&) {
            CallerBuffer out(8);
            return GM_ReadIniString(h, "General", "Port", "x", out.get(), 8);
        },
        [](GM_HANDLE h, uint16_t&) {
            uint32_t value = 0;
            return GM_ReadIniInteger(h, "General", "Port", 5, &value);
        },
        [](GM_HANDLE h, uint16_t&) {
            CallerBuffer out(32);
            return GM_GetLockInfo(h, out.get(), 32);
        },
        [](GM_HANDLE h, uint16_t&) {
            uint8_t enabled = 0;
            return GM_IsConnectionEnabled(h, &enabled);
        },
        [](GM_HANDLE h, uint16_t&) {
            CallerBuffer out(GM_INFO_TEXT_SIZE);
            return GM_DiagLog(h, out.get());
        },
        [](GM_HANDLE h, uint16_t&) {
            CallerBuffer out(GM_LOG_TEXT_SIZE);
            return GM_DiagFile(h, "gatemill.log", out.get());
        },
        [](GM_HANDLE h, uint16_t&) {
            double memory = 0, processor = 0;
            int32_t third = 0;
            return GM_DiagMiscInfo(h, &memory, &processor, &third);
        },
    };
    return calls;
}

const std::vector<tCall>& LockClientCalls() {
    static const std::vector<tCall> calls = {
        [](GM_HANDLE h, uint16_t&) { return GM_LockClientRLock(h, 1, 2, "T", 3); },
        [](GM_HANDLE h, uint16_t&) { return GM_LockClientFLock(h, 1, 2, "T"); },
        [](GM_HANDLE h, uint16_t&) { return GM_LockClientVLock(h, 1, "K1", "K2"); },
        [](GM_HANDLE h, uint16_t&) { return GM_LockClientIsLocked(h, 1, 2, "T", 3); },
        [](GM_HANDLE h, uint16_t&) {
            return Value(static_cast<int64_t>(GM_LockClientNextRecno(h, 1, 2, "T")));
        },
        [](GM_HANDLE h, uint16_t&) {
            return Value(static_cast<int64_t>(GM_LockClientRecCount(h, 2, "T")));
        },
        [](GM_HANDLE h, uint16_t&) { return GM_LockClientSetOpen(h, 1, 2, "T", 1); },
        [](GM_HANDLE h, uint16_t&) {
            CallerBuffer out(GM_LOCK_OWNER_SIZE);
            return GM_LockClientLockOwnerInfo(h, 2, "T", 3, out.get());
        },
    };
    return calls;
}

const std::vector<tCall>& AuditCalls() {
    static const std::vector<tCall> calls = {
        [](GM_HANDLE h, uint16_t&) { return GM_WriteAudit(h, "I", "ORDERS", 3, "a", "b", "c"); },
        [](GM_HANDLE h, uint16_t&) { return GM_WriteAppLog(h, "a", "b", 7, "c", "d"); },
        [](GM_HANDLE h, uint16_t&) { return GM_AuditUser(h, "ana"); },
        [](GM_HANDLE h, uint16_t&) {
            return GM_WriteAudit2(h, "U", "ORDERS", 4, "a", "b", "id7", "extra");
        },
    };
    return calls;
}

// The audit monitor's exports: an audit monitor connection is the fifth kind.
const std::vector<tCall>& AuditMonitorCalls() {
    static const std::vector<tCall> calls = {
        [](GM_HANDLE h, uint16_t&) {
            int32_t first = 0, second = 0, third = 0;
            return GM_AuditMonitorStats(h, &first, &second, &third);
        },
        [](GM_HANDLE h, uint16_t&) {
            CallerBuffer text1(GM_AUDIT_CONFIG_SIZE), text2(GM_AUDIT_CONFIG_SIZE),
                text3(GM_AUDIT_CONFIG_SIZE);
            int32_t value = 0;
            return GM_AuditMonitorGetConfig(h, text1.get(), &value, text2.get(), text3.get());
        },
        [](GM_HANDLE h, uint16_t&) {
            CallerBuffer out(GM_LOG_TEXT_SIZE);
            return GM_AuditMonitorErrorLog(h, out.get());
        },
    };
    return calls;
}

// Whether the connection is still up, for the kinds that can tell.
bool StillConnected(uint8_t kind, GM_HANDLE h) {
    if (kind == 0) return GM_IsConnected(h) != 0;
    if (kind == 1) return GM_ManagerIsConnected(h) != 0;
    if (kind == 2) return GM_LockClientIsConnected(h) != 0;
    return false;
}

// Runs the calls; one that reports a communication failure must have dropped the connection.
void RunCalls(uint8_t kind, GM_HANDLE h, const std::vector<const tCall*>& calls) {
    uint16_t wa = 1;
    for (const tCall* call : calls) {
        if ((*call)(h, wa) == RC_COMM_FAILURE) FUZZ_CHECK(!StillConnected(kind, h));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 1u << 16) return 0;
    const bool handshakeFromInput = (data[0] & 0x80) != 0;
    const uint8_t kind = (data[0] & 0x7F) <= 4 ? data[0] & 0x7F : 0;
    const std::vector<tCall>* tables[] = {&TableCalls(), &MonitorCalls(), &LockClientCalls(),
                                          &AuditCalls(), &AuditMonitorCalls()};
    const std::vector<tCall>& table = *tables[kind];
    const gmtest::tKind kinds[] = {gmtest::tKind::Manager, gmtest::tKind::Manager,
                                   gmtest::tKind::LockClient, gmtest::tKind::Audit,
                                   gmtest::tKind::AuditMonitor};

    std::vector<gmtest::tFakeAnswer> script;
    if (!handshakeFromInput) {
        script = kind == 0 ? gmtest::AcceptTable() : gmtest::tKindSession::Accept(kinds[kind]);
    }
    std::vector<const tCall*> calls;
    size_t at = 1;
    while (at + 3 <= size) {
        calls.push_back(&table[data[at] % table.size()]);
        const size_t length = std::min<size_t>(data[at + 1] | data[at + 2] << 8, size - at - 3);
        script.push_back(gmtest::Reply(std::string(data + at + 3, data + at + 3 + length)));
        at += 3 + length;
    }
    script.push_back(gmtest::Hangup());

    // A table connection whose connect reply is empty connects again, up to its attempts: each
    // later connection is closed unanswered, as a server with nothing to say would.
    std::vector<std::vector<gmtest::tFakeAnswer>> scripts{script};
    if (handshakeFromInput) scripts.resize(1 + kConnectAttempts, {gmtest::Hangup()});
    gmtest::tFakeServer server;
    server.Run(scripts);
    gmtest::tTestEnvironment environment;
    const GM_HANDLE handle = kind == 0 ? GM_GetGmlConn(0, server.Port())
                                       : gmtest::tKindSession::Make(kinds[kind], server.Port());
    gmtest::ClientOf(handle).SetEnvironment(&environment);
    const int16_t status = kind == 0 ? GM_Connect(handle, "127.0.0.1", "POSTGRES/TEST", "tests")
                                     : gmtest::tKindSession::Connect(kinds[kind], handle);
    // The handshake's own replies are read by the connect: any answer but a clean 0 leaves
    // the connection down.
    if (handshakeFromInput && status != 0) FUZZ_CHECK(!StillConnected(kind, handle));
    if (!handshakeFromInput) FUZZ_CHECK(status == 0);
    if (status == 0) RunCalls(kind, handle, calls);
    GM_Release(handle);
    return 0;
}
