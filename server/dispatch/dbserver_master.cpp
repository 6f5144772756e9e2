// A slave's client connection keeps its locks at the master: at its start it opens a lock-client
// connection there and works through the remote lock engines over it; after each reply it checks
// that the link is still up; at its end it lets the link go, and the master releases what the
// connection held.
#include "client/gatemillapi.h"
#include "lib_common/configcache.h"
#include "lib_common/logwriter.h"
#include "lib_common/retcodes.h"
#include "server/dispatch/dbserver.h"
#include "server/dispatch/remotelocks.h"
#include "server/runtime/globals.h"

namespace {

constexpr const char* kGeneral = "General";
constexpr i32 kDefaultMasterPort = 7890;
// Attempts one right after the other: a master that is up answers the first.
constexpr int kMasterAttempts = 10;

}  // namespace

tRecordLockEngine* tDBServer::GetRecordLockEngine() {
    return recordLockClient ? recordLockClient.get() : Globals()->GetRecordLockServer();
}

tVirtualLockEngine* tDBServer::GetVirtualLockEngine() {
    return virtualLockClient ? virtualLockClient.get() : Globals()->GetVirtualLockServer();
}

i16 tDBServer::ConnectMaster() {
    tConfigCache& config = *Globals()->GetConfig();
    tString host;
    config.GetString(kGeneral, "MasterServer", "", host);
    const i32 port = config.GetInt(kGeneral, "MasterPort", kDefaultMasterPort);
    masterLock = GM_GetLockClient(static_cast<u16>(port));
    i16 code = RC_NOT_CONNECTED;
    for (int attempt = 0; attempt < kMasterAttempts; ++attempt) {
        code = GM_ConnectLockClient(masterLock, host);
        if (code == RC_OK || code == RC_NOT_MASTER) break;  // a server that is no master says so
    }
    if (code == RC_OK) {
        virtualLockClient = std::make_unique<tVirtualLockClient>(masterLock);
        recordLockClient = std::make_unique<tRecordLockClient>(masterLock);
        return RC_OK;
    }
    GM_ReleaseLockClient(masterLock);
    masterLock = 0;
    tString line;
    line.sprintf("Connect Error (%i) on ServerMaster %s:%i\n", code, host.GetText(), port);
    WriteLog(line, 0);
    return code;
}

void tDBServer::ReleaseMaster() {
    recordLockClient.reset();
    virtualLockClient.reset();
    if (masterLock == 0) return;
    GM_ReleaseLockClient(masterLock);
    masterLock = 0;
}

bool tDBServer::IsMasterLinkLost() {
    if (!recordLockClient || recordLockClient->IsConnected()) return false;
    tString line;
    line.sprintf("Thread (%u) RECORD_LOCK communication failure !!! (ISCONNECTED)", GetThreadId());
    WriteLog(line, 0);
    return true;
}
