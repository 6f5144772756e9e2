// Logon objects made and deleted on many threads keep the OCI 7 library's user count right.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "server/drivers/oci7.h"
#include "tests/server/support/recoci_control.h"
#include "tests/server/support/testprocess.h"
#include "tests/support/gmtest.h"

namespace {

TEST(OCILibraryThreads, EightThreadsKeepTheUserCountRight) {
    gmtest::TestDBProcess process;
    gmtest::ConsoleCapture console;
    gmtest::RecOciControl rec;
    gmtest::OracleHome home;
    home.Client("oci.dll");
    process.SetIni("Oracle", "ORACLE_HOME", home.Path().c_str());

    std::atomic<int> notLoaded{0};
    auto work = [&] {
        for (int i = 0; i < 200; ++i) {
            auto a = std::make_unique<tOCI7>();
            auto b = std::make_unique<tOCI7>();
            if (!a->IsLibraryLoaded() || !b->IsLibraryLoaded()) ++notLoaded;
            const tOCILibraryState state = OCI7LibraryState();
            if (!state.loaded || state.refCount < 2) ++notLoaded;
        }
    };
    for (bool holder : {false, true}) {
        SCOPED_TRACE(holder ? "one object held throughout" : "no object held");
        std::unique_ptr<tOCI7> held(holder ? new tOCI7 : nullptr);
        std::vector<std::thread> threads;
        for (int t = 0; t < 8; ++t) threads.emplace_back(work);
        for (std::thread& thread : threads) thread.join();
        EXPECT_EQ(notLoaded.load(), 0);
        EXPECT_EQ(OCI7LibraryState().refCount, holder ? 1 : 0);
        EXPECT_EQ(OCI7LibraryState().loaded, holder);
    }
    EXPECT_EQ(OCI7LibraryState().refCount, 0);
    EXPECT_FALSE(OCI7LibraryState().holdsModule);
}

}  // namespace
