// The application summary's exact text with known figures: without calls, with calls and a
// reset, and after the reset.
#include "server/runtime/appsummary.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "lib_base/threads.h"
#include "server/locks/lockengine.h"
#include "server/runtime/globals.h"
#include "server/runtime/gmlthreads.h"
#include "server/runtime/namedlock.h"
#include "server/tables/dbtable.h"
#include "tests/support/gmtest.h"
#include "tests/support/tempdir.h"

namespace {

// A thread that runs until released, so the thread list has one live thread.
class tParkedThread : public tThread {
public:
    explicit tParkedThread(tThreadList* list) : tThread(list, false) {}
    i32 GetThreadType() override { return kThreadTypeThread; }
    const char* GetClassName() override { return "tParkedThread"; }
    i32 Execute() override {
        release.Wait(-1);
        return 0;
    }
    tSemaphore release;
};

class AppSummaryTest : public ::testing::Test {
protected:
    void SetUp() override {
        gmtest::WriteFileText(dir.File("gatemill.ini"), "");
        globals = std::make_unique<tGMLGlobals>(dir.File("gatemill.ini").c_str());
        PublishGlobals(globals.get());
        globals->CreateLockServers();
        globals->SetThreadList(&threadList);
        parked = std::make_unique<tParkedThread>(&threadList);
        ASSERT_TRUE(parked->Start(1));
    }
    void TearDown() override {
        parked->release.Set();
        parked->WaitEnd();
        parked.reset();
        PublishGlobals(nullptr);
        globals.reset();
    }

    gmtest::TempDir dir;
    tThreadList threadList;
    std::unique_ptr<tGMLGlobals> globals;
    std::unique_ptr<tParkedThread> parked;
};

const char* kHead =
    "\n--------------- Application Summary -------------------------------------------\n"
    "Total Connections ............: 3\n"
    "Active connections ...........: 2\n"
    "User connections .............: 2\n"
    "Maximum connections (Peak)....: 3\n"
    "Total Application Threads ....: 1\n"
    "Connection Status ............: DISABLED\n"
    "Current open tables ..........: 3\n"
    "TableDefs in cache ...........: 2\n"
    "Global Named Locks ...........: 2\n"
    "Connections in Procedure .....: 1\n"
    "Connections in Trace .........: 1\n"
    "\n";
const char* kLocksCounted =
    "Virtual Lock OK ..............: 1\n"
    "Virtual Lock Failed ..........: 1\n"
    "Virtual UnLock Op.............: 1\n"
    "Record  Lock OK ..............: 1\n"
    "Record  Lock Failed ..........: 1\n"
    "Record  IsLock OK ............: 0\n"
    "Record  IsLock Failed ........: 0\n"
    "Record  UnLock Op.............: 1\n";
const char* kLocksReset =
    "Virtual Lock OK ..............: 0\n"
    "Virtual Lock Failed ..........: 0\n"
    "Virtual UnLock Op.............: 0\n"
    "Record  Lock OK ..............: 0\n"
    "Record  Lock Failed ..........: 0\n"
    "Record  IsLock OK ............: 0\n"
    "Record  IsLock Failed ........: 0\n"
    "Record  UnLock Op.............: 0\n";
const char* kCalls =
    "\n"
    "OP_OPEN.......................: 2                 ( 0.750 s.)\n"
    "TOTAL I/O COUNT...............: 2\n";
const char* kEnd =
    "-------------------------------------------------------------------------------\n\n";

TEST_F(AppSummaryTest, ExactTextWithAndWithoutCallsAndAfterReset) {
    tGMLGlobals& g = *globals;
    tGmlThreads& threads = *g.GetThreads();
    tDBProperties* first = threads.AddThread(nullptr);
    tDBProperties* second = threads.AddThread(nullptr);
    threads.RemoveThread(threads.AddThread(nullptr));  // counted in the total only
    first->AddTable();
    first->AddTable();
    second->AddTable();
    first->SetSP("sp_close_month");
    second->SetTraced(1);
    first->AddCall(8, 0.5);
    second->AddCall(8, 0.25);

    g.ConnectUser(true);
    g.ConnectUser(true);
    g.ConnectUser(false);
    g.DisconnectUser(false);
    g.GetTableCache()->Add(std::make_unique<tTableDefinitionShared>("SA1010", "MSSQL/ERP"),
                           "MSSQL/ERP");
    g.GetTableCache()->Add(std::make_unique<tTableDefinitionShared>("SA1020", "MSSQL/ERP"),
                           "MSSQL/ERP");
    g.GetNamedLocks()->GetNode("MSSQL", "#CONNECT#");
    g.GetNamedLocks()->GetNode("ERP", "SA1010");
    g.GetNamedLocks()->GetNode("MSSQL", "#CONNECT#");

    tString info("first holder");
    tVirtualLockEngine& virtualLocks = *g.GetVirtualLockServer();
    EXPECT_TRUE(virtualLocks.VLock(1, "K", 1, "ENV", info));
    EXPECT_FALSE(virtualLocks.VLock(2, "K", 1, "ENV", info));
    EXPECT_TRUE(virtualLocks.VUnLock(1, "K", 1, "ENV"));
    tRecordLockEngine& recordLocks = *g.GetRecordLockServer();
    EXPECT_TRUE(recordLocks.RLock(1, 5, "ENV|T", 1.0, 1));
    EXPECT_FALSE(recordLocks.RLock(2, 5, "ENV|T", 1.0, 1));
    EXPECT_TRUE(recordLocks.RUnLock(1, 5, "ENV|T", 1.0, 1));

    gmtest::ConsoleCapture console;  // the switch's notice is not part of the summary
    g.SetConnectionsEnabled(false);

    tString plain("x");
    ApplicationSummary(plain, false, false);
    EXPECT_EQ(std::string(plain.GetText()), std::string("x") + kHead + kLocksCounted + kEnd);

    tString withCalls;
    ApplicationSummary(withCalls, true, true);
    EXPECT_EQ(std::string(withCalls.GetText()), std::string(kHead) + kLocksCounted + kCalls + kEnd);

    tString afterReset;
    ApplicationSummary(afterReset, true, false);
    EXPECT_EQ(std::string(afterReset.GetText()), std::string(kHead) + kLocksReset + "\n" + kEnd);

    threads.RemoveThread(first);
    threads.RemoveThread(second);
}

TEST_F(AppSummaryTest, QuietServerWithoutLockServersOrThreadList) {
    globals.reset(new tGMLGlobals(dir.File("gatemill.ini").c_str()));
    PublishGlobals(globals.get());
    tString text;
    ApplicationSummary(text, true, false);
    EXPECT_EQ(std::string(text.GetText()),
              "\n--------------- Application Summary -------------------------------------------\n"
              "Total Connections ............: 0\n"
              "Active connections ...........: 0\n"
              "User connections .............: 0\n"
              "Maximum connections (Peak)....: 0\n"
              "Total Application Threads ....: 0\n"
              "Connection Status ............: ENABLED\n"
              "Current open tables ..........: 0\n"
              "TableDefs in cache ...........: 0\n"
              "Global Named Locks ...........: 0\n"
              "Connections in Procedure .....: 0\n"
              "Connections in Trace .........: 0\n"
              "\n\n" +
                  std::string(kEnd));
}

}  // namespace
