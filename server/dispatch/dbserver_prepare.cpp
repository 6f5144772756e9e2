// Prepared statements: a text prepared once by the database connection as a query file under a
// file id, then bound again and again with typed parameter values, each bind running it anew.
#include <memory>

#include "lib_base/stringz.h"
#include "lib_common/commbuffer.h"
#include "lib_common/retcodes.h"
#include "server/dispatch/dbserver.h"
#include "server/dispatch/paramdecode.h"
#include "server/isam/dbconn.h"
#include "server/isam/gatemill_query.h"
#include "server/runtime/gmlthreads.h"
#include "server/tables/dbtable.h"

i16 tDBServer::DecodeParams(tAutoArray<tDATAField>& params, i16 count) {
    return DecodeParamList(*GetCommBuffer(), count, dbType == "MSSQL", params);
}

void tDBServer::SqlPrepare() {
    tCommBuffer& out = *GetCommBuffer();
    tString text;
    out.GetString(text);
    if (out.IsMalformed()) return;
    out.Reset();
    const i16 id = GetFreeFileId();
    std::unique_ptr<tQueryFile> file(connection->PrepareStmt(out, GetThreadId(), text));
    if (!file) {
        out.PutReturnCode(RC_FAILED);  // the id stays free; the connection's error says why
        return;
    }
    file->SetPrepared();
    StoreQueryFile(id, std::move(file));
}

void tDBServer::SqlBind() {
    tCommBuffer& in = *GetCommBuffer();
    i16 id = 0;
    i16 count = 0;
    in.GetShort(id);
    in.GetShort(count);
    if (in.IsMalformed()) return;
    tGenericFile* file = GetFile(id);
    if (!file) {
        in.Reset();
        in.PutReturnCode(RC_NO_OPEN_FILE);
        return;
    }
    // Only a prepared query file is bound; a table under the id is never taken for one.
    auto* query = file->IsQueryFile() ? dynamic_cast<tQueryFile*>(file) : nullptr;
    if (!query) {
        in.Reset();
        connection->SetError(RC_FAILED, "tDBServer::SqlBind",
                             "Invalid SqlBind on non-prepared statement table", file);
        in.PutReturnCode(RC_FAILED);
        return;
    }
    auto params = std::make_unique<tAutoArray<tDATAField>>();
    const i16 decoded = DecodeParams(*params, count);
    if (in.IsMalformed()) return;  // nothing was bound
    bool bound = false;
    if (decoded == RC_OK) {
        file->ResetBofEof();
        bound = query->BindQueryParam(std::move(params));  // the statement keeps the values
    }
    in.Reset();
    in.PutReturnCode(bound ? RC_OK : RC_FAILED);
    properties->AddTable();
    if (bound && query->IsStructurePending()) {
        file->Open(static_cast<u16>(id));
        query->ClearStructurePending();
    }
}
