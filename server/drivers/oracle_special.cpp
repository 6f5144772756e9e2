// The bound insert and update of the Oracle table file: the statement's parameters bound by
// position from the caller's list, then one execution.
#include "lib_base/list.h"
#include "server/drivers/oracle.h"

namespace {

// Parameter i goes to placeholder i + 1. Binding stops at the first failure; a parameter of
// another letter binds nothing and keeps the previous outcome (a failure when it comes first),
// so that its placeholder is never left silently unbound.
bool BindSpecialParams(tOCIStmt& cursor, tArray<tBindParam>& params) {
    bool bound = true;
    for (i32 i = 0; i < params.Count() && bound; ++i) {
        tBindParam& param = *params.Get(i);
        char* text = static_cast<char*>(param.value);
        switch (param.type) {
            case 'C':
                bound = cursor.BindStringParamAt(text, param.length, i);
                break;
            case 'D':
                bound = cursor.BindStringParamAt(text, 8, i);
                break;
            case 'L':
                bound = cursor.BindStringParamAt(text, 1, i);
                break;
            case 'N':
                bound = cursor.BindDoubleParamAt(static_cast<f64*>(param.value), i);
                break;
            default:
                bound = bound && i > 0;
                break;
        }
    }
    return bound;
}

}  // namespace

bool tOracleStmt::ExecSpecial(const char* sql, tArray<tBindParam>& params, const char* routine,
                              u8 report) {
    if (!connection->IsConnected()) return false;
    Begin(routine, sql, true);
    Open(0);
    bool ok = cursor->Parse(sql) && BindSpecialParams(*cursor, params);
    if (!ok) {
        Fail(routine, sql, report);
    } else if (!cursor->Execute()) {
        Fail(routine, sql, report);
        Close();
        ok = false;
    } else {
        ok = BindResult(1);
        if (ok && connection->IsTraced()) connection->TraceEnd(sql);
    }
    OpLog(routine, sql);
    return ok;
}
