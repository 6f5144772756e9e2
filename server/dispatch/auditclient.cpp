// The audit-client maker with its built-in handle on the client library, and the custom audit
// columns.
#include "server/dispatch/auditclient.h"

#include "client/gatemillapi.h"
#include "lib_base/replaceable.h"

namespace {

// A connection of the client library to the audit server.
class tLibraryAudit : public tAuditClient {
public:
    explicit tLibraryAudit(u16 port) : handle(GM_GetAudit(port)) {}
    // A connected handle says goodbye to the audit server first.
    ~tLibraryAudit() override { GM_ReleaseAudit(handle); }
    tLibraryAudit(const tLibraryAudit&) = delete;
    tLibraryAudit& operator=(const tLibraryAudit&) = delete;

    i16 Connect(const char* host, const char* caller) override {
        return GM_ConnectAudit(handle, host, caller);
    }
    i16 Write(const char* action, const char* table, f64 recno, const char* detail1,
              const char* detail2, const char* auditId, const char* extra) override {
        return GM_WriteAudit2(handle, action, table, recno, detail1, detail2, auditId, extra);
    }
    i16 AuditUser(const char* user) override { return GM_AuditUser(handle, user); }
    i16 WriteCustom(const char* column, const char* value) override {
        return GM_WriteAuditCustom(handle, column, value);
    }

private:
    const GM_HANDLE handle;  // 0 when the library could not make one: every call answers -2
};

// The maker that tests install. Never destroyed: a connection may still ask while the process
// ends.
tReplaceable<tAuditClientMaker>& Replacement() {
    static auto* const replacement = new tReplaceable<tAuditClientMaker>;
    return *replacement;
}

int CompareName(const tAuditCustomField* field, const char* name,
                const tArray<tAuditCustomField>&) {
    return CompareText(field->name.GetText(), name);
}

}  // namespace

void SetAuditClientMaker(tAuditClientMaker maker) { Replacement().Set(std::move(maker)); }

std::unique_ptr<tAuditClient> NewAuditClient(u16 port) {
    if (const tAuditClientMaker maker = Replacement().Get()) return maker(port);
    return std::make_unique<tLibraryAudit>(port);
}

bool tAuditCustomFieldList::Find(const char* name, i32& pos) const {
    pos = 0;
    return Search(name, pos, CompareName);
}

void tAuditCustomFieldList::SetField(const char* name, const char* value) {
    i32 pos = 0;
    if (Find(name, pos)) {
        Get(pos)->value = value;
        return;
    }
    auto field = std::make_unique<tAuditCustomField>(name, value);
    // Room first, so that the array takes the field without any step left that can fail.
    if (Count() == GetCapacity()) SetCapacity(Count() + 4);
    if (pos < Count()) {
        Insert(pos, field.release());
    } else {
        Add(field.release());
    }
}

bool tAuditCustomFieldList::RemoveField(const char* name) {
    i32 pos = 0;
    if (!Find(name, pos)) return false;
    std::unique_ptr<tAuditCustomField> field(Get(pos));
    Delete(pos);
    return true;
}
