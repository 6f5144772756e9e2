// Logon objects made and deleted on many threads keep each OCI generation's user count right.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "server/drivers/oci7.h"
#include "server/drivers/oci8.h"
#include "tests/server/support/recoci_control.h"
#include "tests/server/support/testprocess.h"
#include "tests/support/gmtest.h"

namespace {

template <class tLogon>
void EightThreadsKeepTheUserCountRight(tOCILibraryState (*state)()) {
    gmtest::TestDBProcess process;
    gmtest::ConsoleCapture console;
    gmtest::RecOciControl rec;
    gmtest::OracleHome home;
    home.Client("oci.dll");
    process.SetIni("Oracle", "ORACLE_HOME", home.Path().c_str());
    const int openBefore = rec.OpenHandles();

    std::atomic<int> notLoaded{0};
    auto work = [&] {
        for (int i = 0; i < 200; ++i) {
            auto a = std::make_unique<tLogon>();
            auto b = std::make_unique<tLogon>();
            if (!a->IsLibraryLoaded() || !b->IsLibraryLoaded()) ++notLoaded;
            const tOCILibraryState now = state();
            if (!now.loaded || now.refCount < 2) ++notLoaded;
        }
    };
    for (bool holder : {false, true}) {
        SCOPED_TRACE(holder ? "one object held throughout" : "no object held");
        std::unique_ptr<tLogon> held(holder ? new tLogon : nullptr);
        std::vector<std::thread> threads;
        for (int t = 0; t < 8; ++t) threads.emplace_back(work);
        for (std::thread& thread : threads) thread.join();
        EXPECT_EQ(notLoaded.load(), 0);
        EXPECT_EQ(state().refCount, holder ? 1 : 0);
        EXPECT_EQ(state().loaded, holder);
    }
    EXPECT_EQ(state().refCount, 0);
    EXPECT_FALSE(state().holdsModule);
    EXPECT_EQ(rec.OpenHandles(), openBefore);  // OCI 8: every environment and error handle freed
}

TEST(OCILibraryThreads, EightThreadsKeepTheOCI7UserCountRight) {
    EightThreadsKeepTheUserCountRight<tOCI7>(&OCI7LibraryState);
}

TEST(OCILibraryThreads, EightThreadsKeepTheOCI8UserCountRight) {
    EightThreadsKeepTheUserCountRight<tOCI8>(&OCI8LibraryState);
}

}  // namespace
