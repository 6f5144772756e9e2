// Informix column alterations of several connections run one at a time: an ALTER waits while
// another connection holds the process's alteration lock, and two connections altering at once
// both finish.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "server/drivers/informix.h"
#include "tests/server/support/informixconn.h"
#include "tests/server/support/odbcdialect.h"
#include "tests/server/support/recodbc_fixture.h"

namespace {

class InformixAlterLockTest : public gmtest::RecordedODBC {
protected:
    static bool Drop(tInformixConnection& conn, const char* table) {
        tAutoArray<tActionField> actions;
        gmtest::FillActions(actions, {{"OLD", 'C', 2, 0, 'C', 2, 0, tActionField::kDrop}});
        return conn.AlterTable(table, actions, 0);
    }
    size_t Count(const std::string& part) {
        const std::string ran = rec.Statements();
        size_t n = 0;
        for (size_t at = ran.find(part); at != std::string::npos; at = ran.find(part, at + 1)) ++n;
        return n;
    }
};

TEST_P(InformixAlterLockTest, AlterationsWaitForTheLock) {
    process.SetIni("INFORMIX", "ForceAlterTable", "1");
    auto first = gmtest::ConnectedInformix(rec, loader);
    auto second = gmtest::ConnectedInformix(rec, loader);
    gmtest::ScriptRows(rec, "SELECT MAX(R_E_C_N_O_) FROM infx.T1", {"m"}, {{"5"}});
    gmtest::ScriptRows(rec, "SELECT MAX(R_E_C_N_O_) FROM infx.T2", {"m"}, {{"5"}});
    bool firstDone = false;
    bool secondDone = false;
    std::thread a;
    std::thread b;
    {
        tWaiting hold(&InformixAlterLock(), __FILE__, __LINE__);
        a = std::thread([&] { firstDone = Drop(*first, "T1"); });
        b = std::thread([&] { secondDone = Drop(*second, "T2"); });
        // Both have counted their rows and now wait before their ALTER TABLE.
        for (int i = 0; i < 500 && Count("SELECT MAX(R_E_C_N_O_)") < 2; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(Count("SELECT MAX(R_E_C_N_O_)"), 2u);
        EXPECT_EQ(Count("ALTER TABLE"), 0u) << rec.Statements();
    }
    a.join();
    b.join();
    EXPECT_TRUE(firstDone);
    EXPECT_TRUE(secondDone);
    EXPECT_EQ(Count("ALTER TABLE infx.T1 DROP ( OLD)"), 1u);
    EXPECT_EQ(Count("ALTER TABLE infx.T2 DROP ( OLD)"), 1u);
}

INSTANTIATE_TEST_SUITE_P(Modes, InformixAlterLockTest, ::testing::Bool(), gmtest::ODBCModeName);

}  // namespace
