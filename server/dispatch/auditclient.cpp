// The audit-client maker with its built-in handle, and the custom audit columns.
#include "server/dispatch/auditclient.h"

#include "lib_base/replaceable.h"
#include "lib_common/logwriter.h"
#include "lib_common/retcodes.h"

namespace {

// This build carries no audit transport: a handle never connects, so a client connection that
// must audit is refused at its connect.
class tUnavailableAudit : public tAuditClient {
public:
    i16 Connect(const char* host, const char* caller) override {
        tString line;
        line.sprintf("*** AUDIT SERVER (%s) NOT AVAILABLE IN THIS BUILD ***", host);
        WriteLog(line, 0);
        return RC_NOT_CONNECTED;
    }
    i16 Write(const char*, const char*, f64, const char*, const char*, const char*,
              const char*) override {
        return RC_COMM_FAILURE;  // what a handle whose link is down answers
    }
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
    return std::make_unique<tUnavailableAudit>();
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
