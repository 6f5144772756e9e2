// Oracle connections made on many threads at once all wait for the one probe of the client
// version: none of them chooses the OCI 7 layer while another probes.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <memory>
#include <thread>
#include <vector>

#include "server/drivers/oracle.h"
#include "tests/server/support/recoci_control.h"
#include "tests/server/support/testprocess.h"
#include "tests/support/gmtest.h"

namespace {

TEST(OracleProbe, EightThreadsConstructingConnectionsShareOneProbe) {
    gmtest::TestDBProcess process;
    gmtest::ConsoleCapture console;
    gmtest::RecOciControl rec;
    gmtest::OracleHome home;
    home.Client("oci.dll");
    std::ofstream(home.Path() + "/bin/oraclient9.dll").put('x');
    process.SetIni("Oracle", "ORACLE_HOME", home.Path().c_str());
    for (int round = 0; round < 20; ++round) {
        tOracleConnection::ResetOCIVersionProbe();
        std::atomic<int> oci7{0};
        std::atomic<bool> go{false};
        std::vector<std::thread> threads;
        for (int t = 0; t < 8; ++t) {
            threads.emplace_back([&] {
                while (!go.load()) std::this_thread::yield();
                tOracleConnection conn("ORACLE", tString("ORCL"), tString("scott"),
                                       tString("tiger"), true);
                if (!conn.UsesOCI8()) ++oci7;
            });
        }
        go = true;
        for (auto& t : threads) t.join();
        EXPECT_EQ(oci7.load(), 0) << "round " << round;
    }
    tOracleConnection::ResetOCIVersionProbe();
}

}  // namespace
