// The end of a client connection: Terminate from another thread, Done on its own, the release of
// its locks and of its user count, and the lock engines it works through.
//
// Release:
//  (1) The user count is taken back exactly once: the count moves from "counted" to
//      "uncounted" atomically, by Terminate or by Done, whichever comes first.
//  (2) The owner's table and virtual locks are released by Done in every case, and by Terminate
//      as soon as it runs; releasing twice does no harm, and a lock taken by a request that was
//      still under way during a kill is released all the same.
#include <string>

#include "lib_common/commbuffer.h"
#include "platform/thread.h"
#include "server/dispatch/dbserver.h"
#include "server/isam/dbconn.h"
#include "server/isam/gatemill.h"
#include "server/locks/lockengine.h"
#include "server/runtime/consolelog.h"
#include "server/runtime/globals.h"
#include "server/runtime/gmlthreads.h"

namespace {

constexpr u8 kNotCounted = 0;
constexpr u8 kCounted = 1;
constexpr u8 kUncounted = 2;
// How long Done gives a monitor to fetch the last trace lines.
constexpr i32 kTraceDrainRounds = 11;
constexpr u32 kTraceDrainPauseMs = 250;

}  // namespace

// ---- session id --------------------------------------------------------------------------------

void tDBServer::GetSID() {
    tCommBuffer& out = *GetCommBuffer();
    out.Reset();
    out.PutLong(static_cast<i32>(properties->GetSID()));
}

// ---- count and release -------------------------------------------------------------------------

void tDBServer::CountUser(bool userConn) {
    Globals()->ConnectUser(userConn);
    countState.store(kCounted);
}

void tDBServer::UncountOnce() {
    u8 expected = kCounted;
    if (countState.compare_exchange_strong(expected, kUncounted)) {  // (1)
        Globals()->DisconnectUser(userConnection);
    }
}

void tDBServer::ReleaseLocks(const tString& lockEnv) {  // (2)
    const u32 owner = GetThreadId();
    tGMLGlobals& globals = *Globals();
    if (tRecordLockEngine* records = globals.GetRecordLockServer()) {
        records->FUnLock(owner, 0, nullptr, 0);
    }
    if (tVirtualLockEngine* virtuals = globals.GetVirtualLockServer()) {
        virtuals->VUnLock(owner, nullptr, 0, lockEnv.GetLength() ? lockEnv.GetText() : nullptr);
    }
}

// ---- Terminate ---------------------------------------------------------------------------------

void tDBServer::Terminate(u8 force) {
    {
        tWaiting hold(&stateLock, __FILE__, __LINE__);
        const tString description = DescribeForConsole();
        if (terminateCalled.exchange(true)) {
            ConsolePrintf("[TERMINATE] WARNING : Thread (%u) ALREADY HAS TERMINATED - %s\n",
                          GetThreadId(), description.GetText());
            return;
        }
        if (properties) {
            ConsolePrintf("[TERMINATE] Thread (%u) KILLED / TERMINATED - %s\n", GetThreadId(),
                          description.GetText());
            properties->SetStatus("TERM");
            if (properties->IsTraceOn()) {
                properties->GetTrace()->Add("tDBServer::Terminate", 0,
                                            "-- Killed / Terminated Process.");
            }
        }
    }
    if (Globals()) {
        UncountOnce();
        ReleaseLocks(LockEnvironment());
    }
    tGMLSockConn::Terminate(force);
}

// A private copy: strings share their records, and this one is read by two threads.
tString tDBServer::LockEnvironment() {
    tWaiting hold(&stateLock, __FILE__, __LINE__);
    return tString(lockEnvironment.GetText());
}

// The properties' thread description, or nothing without properties; under stateLock.
tString tDBServer::DescribeForConsole() {
    tString description;
    if (properties) properties->DescribeThread(description, false);
    return description;
}

// ---- Done --------------------------------------------------------------------------------------

bool tDBServer::Done() {
    if (Globals()) {
        if (properties) properties->SetStatus("DONE");
        UncountOnce();
        ReleaseLocks(LockEnvironment());
    }
    CloseFiles();
    EndDatabase();
    auditClient.reset();  // a connected handle says goodbye to the audit server
    ReleaseMaster();
    EndProperties();
    return true;
}

// Closes the open files, first to last: a child connection goes back to its parent, a table's
// opening is unregistered (a refusal changes nothing), the file is deleted.
void tDBServer::CloseFiles() {
    while (openFiles.Count() > 0) {
        std::unique_ptr<tGenericFile> file(openFiles.Get(0));
        openFiles.Delete(0);
        if (file) ReleaseFile(*file, false);
    }
}

// Rolls back a transaction left open (with its audit record when the level asks for it), then
// deletes the connection, whose driver disconnects.
void tDBServer::EndDatabase() {
    if (!connection) return;
    if (connection->IsConnected() && connection->InTransaction()) {
        connection->Rollback();
        connection->EndCmtCtl();
        if (auditClient && audit.log && audit.level > 2) WriteAudit("R", "", 0, "", "", nullptr);
    }
    connection.reset();
}

void tDBServer::EndProperties() {
    if (!properties) return;
    if (properties->IsTraceOn()) {
        Trace("tDBServer::Done", -1, "-- Done Process.");
        for (i32 round = 0; round < kTraceDrainRounds && IsTraceOn() && GetTraceCount() > 0;
             ++round) {
            plat::Sleep(kTraceDrainPauseMs);
        }
        if (IsTraceOn() && GetTraceCount() > 0) {
            ConsolePrintf("[WARNING] Trace in progress EXIT without notify Monitor.\n");
            properties->GetTrace()->Clear();
        }
    }
    if (properties->GetTraceFlag()) {
        const std::string dashes(79, '-');
        tString report(dashes.c_str());
        report += "\n";
        properties->DescribeThread(report, false);
        properties->DumpOpCalls(report);
        report += dashes.c_str();
        ConsolePrintf("%s\n", report.GetText());
    }
    tDBProperties* record = properties;
    {
        tWaiting hold(&stateLock, __FILE__, __LINE__);
        properties = nullptr;
    }
    if (tGMLGlobals* globals = Globals()) globals->GetThreads()->RemoveThread(record);
}
