// Exports of the two connections to the audit server: audit records, the audited user and custom
// columns on the audit connection; statistics, configuration and the log on the audit-monitor
// connection. Writes to the audit table itself are never audited.
#include <cstring>

#include "client/exports.h"
#include "client/gatemillapi.h"
#include "lib_common/commbuffer.h"
#include "lib_common/opcodes.h"

using gmapi::StatusRequest;

namespace {

// Requests of the audit server that the gateway itself never serves.
constexpr i16 kOpWriteAppLog = 101;
constexpr i16 kOpWriteAuditCustom = 102;

// A table whose name holds this (case counts) is the audit table: its records are not sent.
constexpr const char* kAuditTrailTable = "AUDIT_TRAIL";

template <class Body>
int16_t WithAudit(GM_HANDLE handle, bool monitor, Body&& body) {
    return gmapi::WithConnection<tAuditClient, int16_t>(
        handle, std::forward<Body>(body),
        [monitor](const tAuditClient& client) { return client.IsMonitor() == monitor; });
}

// A request of texts and numbers whose reply is the status alone.
template <class... Args>
int16_t AuditRequest(GM_HANDLE handle, bool monitor, i16 opcode, Args... args) {
    return WithAudit(handle, monitor, [&](tAuditClient& client) -> int16_t {
        client.BeginRequest(opcode);
        (gmapi::PutArg(client.GetBuffer(), args), ...);
        return StatusRequest(client);
    });
}

bool IsAuditTrail(const char* table) { return table && std::strstr(table, kAuditTrailTable); }

// The audit record; extra goes out only when given.
int16_t WriteAuditRecord(GM_HANDLE handle, const char* action, const char* table, double recno,
                         const char* detail1, const char* detail2, const char* detail3,
                         const char* extra) {
    return WithAudit(handle, false, [&](tAuditClient& client) -> int16_t {
        if (IsAuditTrail(table)) return RC_OK;
        client.BeginRequest(OP_WRITEAUDIT);
        for (const char* text : {action, table}) client.GetBuffer().PutString(text);
        client.GetBuffer().PutDouble(recno);
        for (const char* text : {detail1, detail2, detail3}) client.GetBuffer().PutString(text);
        if (extra) client.GetBuffer().PutString(extra);
        return StatusRequest(client);
    });
}

}  // namespace

int16_t GM_WriteAudit(GM_HANDLE handle, const char* action, const char* table, double recno,
                      const char* detail1, const char* detail2, const char* detail3) {
    return WriteAuditRecord(handle, action, table, recno, detail1, detail2, detail3, nullptr);
}

int16_t GM_WriteAudit2(GM_HANDLE handle, const char* action, const char* table, double recno,
                       const char* detail1, const char* detail2, const char* auditId,
                       const char* extra) {
    return WriteAuditRecord(handle, action, table, recno, detail1, detail2, auditId, extra);
}

int16_t GM_WriteAppLog(GM_HANDLE handle, const char* text1, const char* text2, uint32_t value,
                       const char* text3, const char* text4) {
    return AuditRequest(handle, false, kOpWriteAppLog, text1, text2, value, text3, text4);
}

int16_t GM_WriteAuditCustom(GM_HANDLE handle, const char* column, const char* value) {
    return AuditRequest(handle, false, kOpWriteAuditCustom, column, value);
}

int16_t GM_AuditUser(GM_HANDLE handle, const char* user) {
    return AuditRequest(handle, false, OP_AUDITUSER, user);
}

int16_t GM_AuditMonitorStats(GM_HANDLE handle, int32_t* first, int32_t* second, int32_t* third) {
    return WithAudit(handle, true, [&](tAuditClient& client) -> int16_t {
        client.BeginRequest(OP_AUDITSTATS);
        i16 status = 0;
        if (!client.Request(status, true)) return status;
        if (status != RC_OK) return status;
        i32 values[3] = {0, 0, 0};
        for (i32& value : values) client.GetBuffer().GetLong(value);
        if (client.GetBuffer().IsMalformed()) return client.CommFail(RC_COMM_FAILURE);
        if (first) *first = values[0];
        if (second) *second = values[1];
        if (third) *third = values[2];
        return status;
    });
}

int16_t GM_AuditMonitorGetConfig(GM_HANDLE handle, char* text1, int32_t* value, char* text2,
                                 char* text3) {
    return WithAudit(handle, true, [&](tAuditClient& client) -> int16_t {
        client.BeginRequest(OP_AUDITGETCFG);
        if (!client.Transact()) return client.CommFail(RC_COMM_FAILURE);
        tCommBuffer& in = client.GetBuffer();
        bool read = gmapi::ReadTextInto(in, text1, GM_AUDIT_CONFIG_SIZE);
        i32 number = 0;
        in.GetLong(number);
        read = read && !in.IsMalformed();
        if (read && value) *value = number;
        read = read && gmapi::ReadTextInto(in, text2, GM_AUDIT_CONFIG_SIZE) &&
               gmapi::ReadTextInto(in, text3, GM_AUDIT_CONFIG_SIZE);
        return client.Finish(RC_OK, read);
    });
}

int16_t GM_AuditMonitorSetConfig(GM_HANDLE handle, const char* text1, uint32_t value,
                                 const char* text2, const char* text3) {
    return AuditRequest(handle, true, OP_AUDITSETCFG, text1, value, text2, text3);
}

int16_t GM_AuditMonitorErrorLog(GM_HANDLE handle, char* out) {
    return WithAudit(handle, true, [&](tAuditClient& client) -> int16_t {
        client.BeginRequest(OP_READLOG);
        return gmapi::StatusAndText(client, out, GM_LOG_TEXT_SIZE);
    });
}

int16_t GM_AuditMonitorClearLog(GM_HANDLE handle) {
    return AuditRequest(handle, true, OP_CLEARLOG);
}
