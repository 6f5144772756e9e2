// The audit server as a client connection sees it: one handle per client connection that
// connects to the external audit server and sends it audit records, and the custom audit
// columns that a client connection keeps for its records.
#pragma once
#include <functional>
#include <memory>

#include "lib_base/list.h"
#include "lib_base/stringz.h"
#include "lib_base/types.h"

// One handle to the audit server, made not connected. Destroying it releases it (a connected
// handle says goodbye first). Used by its client connection's thread only.
class tAuditClient {
public:
    virtual ~tAuditClient() = default;
    // Connects to the host at the handle's port, naming the caller; 0 when connected, else the
    // failure's code.
    virtual i16 Connect(const char* host, const char* caller) = 0;
    // Sends one audit record; 0 when the server took it. extra is sent only when not null.
    // Records of a table whose name holds "AUDIT_TRAIL" are not sent (0).
    virtual i16 Write(const char* action, const char* table, f64 recno, const char* detail1,
                      const char* detail2, const char* auditId, const char* extra) = 0;
    // Names the user that the next records are written for.
    virtual i16 AuditUser(const char* user) = 0;
    // Sets a custom column of the next records.
    virtual i16 WriteCustom(const char* column, const char* value) = 0;
    // Each answers the audit server's status, -2 when not connected, or -88 when the exchange
    // failed (the handle is then no longer connected).
};

// Makes the handle of a port, owned by the caller.
using tAuditClientMaker = std::function<std::unique_ptr<tAuditClient>(u16 port)>;
// Replaces the maker (tests record what is sent); an empty maker restores the built-in one,
// whose handles are the client library's audit connections. Set while no client connection
// runs.
void SetAuditClientMaker(tAuditClientMaker maker);
std::unique_ptr<tAuditClient> NewAuditClient(u16 port);

// One custom audit column.
class tAuditCustomField {
public:
    tAuditCustomField(const char* name, const char* value) : name(name), value(value) {}
    virtual ~tAuditCustomField() = default;

    tString name;
    tString value;
};

// The custom audit columns of a client connection, owned and kept sorted by name (bytes compared
// as unsigned). One thread.
class tAuditCustomFieldList : public tAutoArray<tAuditCustomField> {
public:
    // True with the column's position, or false with the position where a column of that name
    // belongs.
    bool Find(const char* name, i32& pos) const;
    void SetField(const char* name, const char* value);  // adds the column or replaces its value
    bool RemoveField(const char* name);                  // false when there is no such column
};
