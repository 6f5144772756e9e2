// A copy of the real pellmar in console mode serving from a test's directory, and the table
// connections to it through the shared library's GM_ functions, released when it stops.
#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "client/gatemillapi.h"
#include "tests/server/process/support/programprocess.h"
#include "tests/server/process/support/programrun.h"

namespace gmtest {

// The connection's last error text, for failure messages.
inline std::string ErrorOf(GM_HANDLE db) {
    char text[512] = "";
    GM_GetError(db, text, sizeof text - 1);
    return text;
}

// A work area field's description: "name type length declared decimals".
inline std::string DescribeField(GM_HANDLE db, uint16_t wa, int16_t index) {
    char name[30] = "";
    uint8_t type = 0;
    uint32_t length = 0;
    uint16_t declared = 0;
    uint16_t decimals = 0;
    const int16_t status =
        GM_GetFieldDesc(db, wa, index, name, &type, &length, &declared, &decimals);
    if (status != 0) return "(status " + std::to_string(status) + ")";
    return std::string(name) + " " + static_cast<char>(type) + " " + std::to_string(length) + " " +
           std::to_string(declared) + " " + std::to_string(decimals);
}

class PellmarRun {
public:
    // A free port for the ini file's [General] Port, before Start; 0 when none was found.
    u16 Port() {
        if (port == 0) port = gmtest::FreePort();
        return port;
    }
    // Starts the copy in dir, whose gatemill.ini names Port(), and waits until it listens.
    ::testing::AssertionResult Start(gmtest::TempDir& dir) {
        program = std::make_unique<gmtest::ProgramRun>(gmtest::CopyProgram(dir),
                                                       std::vector<std::string>{"-console"});
        if (!program->Started()) return ::testing::AssertionFailure() << "pellmar did not start";
        if (!program->WaitFor("Listening port " + std::to_string(port) + " \n")) {
            return ::testing::AssertionFailure() << program->Output();
        }
        return ::testing::AssertionSuccess();
    }
    // Releases the connections, then asks the program to stop; it must end with status 0.
    void Stop() {
        for (GM_HANDLE handle : handles) {
            GM_DisConnect(handle);
            GM_Release(handle);
        }
        handles.clear();
        if (program && program->Started()) {
            size_t from = 0;
            EXPECT_EQ(program->StopAnsweringYes(from), 0) << program->Output();
        }
        program.reset();
    }
    // A new table connection to the environment, released by Stop, and its connect's status.
    GM_HANDLE Connection(int16_t& status, const std::string& environment, const char* caller) {
        const GM_HANDLE handle = GM_GetGmlConn(0, port);
        EXPECT_NE(handle, 0u);
        handles.push_back(handle);
        status = GM_Connect(handle, "127.0.0.1", environment.c_str(), caller);
        return handle;
    }
    gmtest::ProgramRun& Program() { return *program; }
    // The program ended on its own: Stop has nothing left to stop.
    void Ended() { program.reset(); }

private:
    u16 port = 0;
    std::unique_ptr<gmtest::ProgramRun> program;
    std::vector<GM_HANDLE> handles;
};

}  // namespace gmtest
