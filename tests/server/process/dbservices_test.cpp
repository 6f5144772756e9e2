// The database side's process services over the published globals: installed only when none
// are, and answering from the globals.
#include "server/process/dbservices.h"

#include <gtest/gtest.h>

#include <memory>

#include "lib_common/configcache.h"
#include "server/isam/dbprocess.h"
#include "server/runtime/globals.h"
#include "tests/server/support/testprocess.h"
#include "tests/support/tempdir.h"

namespace {

TEST(DBServices, AnswerFromThePublishedGlobals) {
    gmtest::TempDir dir;
    gmtest::WriteFileText(dir.File("gatemill.ini"), "[General]\nThreadInfo=1\nLogFull=1\n");
    tGMLGlobals globals(dir.File("gatemill.ini").c_str());
    PublishGlobals(&globals);
    SetDBProcess(nullptr);
    InstallDBServices();
    tDBProcess& services = DBProcess();
    EXPECT_EQ(&services.GetConfig(), globals.GetConfig());
    EXPECT_EQ(&services.GetTableCache(), globals.GetTableCache());
    EXPECT_TRUE(services.GetThreadInfo());
    EXPECT_TRUE(services.GetLogFull());
    EXPECT_FALSE(services.IsIndexTraceChanged());
    globals.IndexTraceChanged(true);
    EXPECT_TRUE(services.IsIndexTraceChanged());
    SetDBProcess(nullptr);
    PublishGlobals(nullptr);
}

TEST(DBServices, LeaveServicesInstalledBeforeAlone) {
    gmtest::TestDBProcess own;  // installs itself
    InstallDBServices();
    EXPECT_EQ(&DBProcess(), &own);
}

}  // namespace
