// Probes a client sends before it acts (does a table, an index or a stored procedure exist) and
// the switch of dummy mode, in which the request loop answers record moves without running them.
// A name that is no plain identifier exists nowhere: it is answered -11 and never reaches SQL.
#include <strings.h>

#include <cstring>

#include "lib_common/commbuffer.h"
#include "lib_common/retcodes.h"
#include "lib_common/sqltext.h"
#include "server/dispatch/dbserver.h"
#include "server/isam/dbconn.h"
#include "server/runtime/namedlock.h"
#include "server/tables/dbtable.h"

namespace {

// Whether some index of the definition, in index order, begins with the name, compared without
// regard to case.
bool HasIndexStartingWith(const tTableDefinitionShared& shared, const tString& index) {
    const tTableDefinitionExclusive def(shared);  // indexes handed out by shared may change
    const size_t length = static_cast<size_t>(index.GetLength());
    for (i32 i = 0; i < def.GetIndexCount(); ++i) {
        const char* name = def.GetIndex(i)->GetName();
        if (std::strlen(name) >= length && strncasecmp(name, index, length) == 0) return true;
    }
    return false;
}

}  // namespace

void tDBServer::CanOpen() {
    tCommBuffer& in = *GetCommBuffer();
    tString table;
    tString index;
    in.GetString(table);
    in.GetString(index);
    if (in.IsMalformed()) return;
    in.Reset();
    if (table.GetLength()) {
        AddDetails("Table : ");
        AddDetails(table);
    }
    if (index.GetLength()) {
        AddDetails("Index : ");
        AddDetails(index);
    }
    const bool withIndex = index.GetLength() > 0;
    if (!IsSqlIdentifier(table) || (withIndex && !IsSqlIdentifier(index))) {
        in.PutReturnCode(RC_NOT_FOUND);
        return;
    }
    bool found = false;
    {
        tWaiting hold(GetTableNode(table), __FILE__, __LINE__);
        const std::shared_ptr<tTableDefinitionShared> def =
            connection->GetTableDef(table, GetEnvironment(), false);
        if (def) {
            found = !withIndex || HasIndexStartingWith(*def, index);
        } else {
            found = connection->CanOpen(table, withIndex ? index.GetText() : nullptr);
        }
        if (!found && withIndex) found = connection->IsVirtualIndex(index);
    }
    in.PutReturnCode(found ? RC_OK : RC_NOT_FOUND);
}

void tDBServer::SPExist() {
    tCommBuffer& in = *GetCommBuffer();
    tString name;
    in.GetString(name);
    if (in.IsMalformed()) return;
    in.Reset();
    AddDetails("Procedure : ");
    AddDetails(name);
    const bool found = IsSqlIdentifier(name) && connection->SPExist(name);
    in.PutReturnCode(found ? RC_OK : RC_NOT_FOUND);
}

void tDBServer::SetDummy() {
    tCommBuffer& in = *GetCommBuffer();
    tString text;
    in.GetString(text);
    if (in.IsMalformed()) return;
    in.Reset();
    AddDetails("Set DUMMY ");
    AddDetails(text);
    dummyMode = text == "*ON";  // exactly: "*on" switches it off
    if (IsTraceOn()) {
        Trace("tDBServer::SetDummy", 0,
              dummyMode ? "-- Set Dummy Mode ON" : "-- Set Dummy Mode OFF");
    }
    in.PutReturnCode(RC_OK);
}
