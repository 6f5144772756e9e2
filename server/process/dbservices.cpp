// The process services of the database side, answered by the published process globals.
#include "server/process/dbservices.h"

#include <memory>

#include "lib_base/gmlassert.h"
#include "server/dispatch/dbserver.h"
#include "server/isam/dbprocess.h"
#include "server/process/acceptance.h"
#include "server/runtime/globals.h"

namespace {

class tGlobalsDBProcess : public tDBProcess {
public:
    tConfigCache& GetConfig() override { return *Published().GetConfig(); }
    bool GetLogFull() override { return Published().GetLogFull() != 0; }
    tTableCache& GetTableCache() override { return *Published().GetTableCache(); }
    bool GetThreadInfo() override { return Published().GetThreadInfo() != 0; }
    bool IsIndexTraceChanged() override { return Published().IndexTraceChanged(false); }

private:
    static tGMLGlobals& Published() {
        tGMLGlobals* globals = Globals();
        GML_ASSERT(globals != nullptr, "database services asked without process globals");
        return *globals;
    }
};

}  // namespace

void InstallDBServices() {
    // Never destroyed: connections may ask until the process ends.
    static tGlobalsDBProcess* const services = new tGlobalsDBProcess;
    SetDBProcessOnce(services);
}

void RegisterClientConnections() {
    InstallDBServices();
    SetConnectionMaker(kKindClient, [] { return std::make_unique<tDBServer>(); });
}
