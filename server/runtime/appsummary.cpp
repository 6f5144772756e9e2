// The application summary over the connection-thread registry and the process globals.
#include "server/runtime/appsummary.h"

#include <cstdio>

#include "lib_base/gmlassert.h"
#include "lib_base/threads.h"
#include "server/locks/lockengine.h"
#include "server/runtime/globals.h"
#include "server/runtime/gmlthreads.h"
#include "server/runtime/namedlock.h"
#include "server/tables/dbtable.h"

namespace {

void AppendFigure(tString& out, const char* label, u64 value) {
    char line[96];
    std::snprintf(line, sizeof line, "%s%llu\n", label, static_cast<unsigned long long>(value));
    out += line;
}

}  // namespace

void ApplicationSummary(tString& out, bool withCalls, bool reset) {
    tGMLGlobals* globals = Globals();
    GML_ASSERT(globals != nullptr, "ApplicationSummary - no process globals");
    tGmlThreads* threads = globals->GetThreads();
    u64 active = 0, tables = 0, inProcedure = 0, inTrace = 0;
    threads->ForEachRecord("ApplicationSummary", [&](tDBProperties& record) {
        ++active;
        const i32 open = record.GetTables();
        if (open > 0) tables += static_cast<u64>(open);
        if (record.InProcedure()) ++inProcedure;
        if (record.IsTraceOn()) ++inTrace;
    });
    tThreadList* threadList = globals->GetThreadList();
    const i32 alive = threadList ? threadList->CountAlive() : 0;

    out += "\n--------------- Application Summary -------------------------------------------\n";
    AppendFigure(out, "Total Connections ............: ", threads->GetTotalAdded());
    AppendFigure(out, "Active connections ...........: ", active);
    AppendFigure(out, "User connections .............: ", globals->GetUserConnections());
    AppendFigure(out, "Maximum connections (Peak)....: ", globals->GetPeakConnections());
    AppendFigure(out, "Total Application Threads ....: ", alive > 0 ? static_cast<u64>(alive) : 0);
    out += "Connection Status ............: ";
    out += globals->IsConnectionEnabled() ? "ENABLED\n" : "DISABLED\n";
    AppendFigure(out, "Current open tables ..........: ", tables);
    const i32 defs = globals->GetTableCache()->GetCount();
    AppendFigure(out, "TableDefs in cache ...........: ", static_cast<u64>(defs));
    const i32 nodes = globals->GetNamedLocks()->CountNodes();
    AppendFigure(out, "Global Named Locks ...........: ", static_cast<u64>(nodes));
    AppendFigure(out, "Connections in Procedure .....: ", inProcedure);
    AppendFigure(out, "Connections in Trace .........: ", inTrace);
    out += "\n";
    if (tVirtualLockEngine* virtualLocks = globals->GetVirtualLockServer())
        virtualLocks->Statistics(out, reset);
    if (tRecordLockEngine* recordLocks = globals->GetRecordLockServer())
        recordLocks->Statistics(out, reset);
    if (withCalls) {
        out += "\n";
        threads->GetCallInfo()->DumpCalls(out, reset);
    }
    out += "-------------------------------------------------------------------------------\n\n";
}
