// A copy of the real pellmar in console mode whose client library for one database type is the
// recording ODBC driver, playing a script file and appending its calls to a log file, and
// client connections to it through the shared library's GM_ functions: the ground of the
// drivers' end-to-end tests for databases this machine lacks.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "client/gatemillapi.h"
#include "tests/server/process/support/programprocess.h"
#include "tests/server/process/support/programrun.h"

namespace gmtest {

// How often part stands in text.
inline size_t CountOf(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

class RecordedProgram : public ::testing::Test {
protected:
    // Writes gatemill.ini (the port, a small worker pool, the recording driver as dbType's
    // client library, then moreIni) and the script, and starts the program; asserts that it
    // listens.
    void Start(const std::string& dbType, const std::string& script,
               const std::string& moreIni = "") {
        port = FreePort();
        ASSERT_NE(port, 0);
        WriteFileText(dir.File("gatemill.ini"), "[General]\r\nPort=" + std::to_string(port) +
                                                    "\r\nThreadMin=2\r\nThreadInc=1\r\n[" + dbType +
                                                    "]\r\nClientLibrary=" + GM_RECODBC_PATH +
                                                    "\r\n" + moreIni);
        WriteFileText(dir.File("script.txt"), script);
        setenv("GM_RECODBC_SCRIPT", dir.File("script.txt").c_str(), 1);
        setenv("GM_RECODBC_LOG", log.c_str(), 1);
        program =
            std::make_unique<ProgramRun>(CopyProgram(dir), std::vector<std::string>{"-console"});
        unsetenv("GM_RECODBC_SCRIPT");
        unsetenv("GM_RECODBC_LOG");
        ASSERT_TRUE(program->Started());
        ASSERT_TRUE(program->WaitFor("Listening port " + std::to_string(port) + " \n"))
            << program->Output();
    }
    void TearDown() override {
        for (GM_HANDLE handle : handles) {
            GM_DisConnect(handle);
            GM_Release(handle);
        }
        size_t from = 0;
        if (program && program->Started()) {
            EXPECT_EQ(program->StopAnsweringYes(from), 0) << program->Output();
        }
    }
    // A client handle for the program's port, ended by TearDown.
    GM_HANDLE NewHandle() {
        const GM_HANDLE handle = GM_GetGmlConn(0, port);
        EXPECT_NE(handle, 0u);
        handles.push_back(handle);
        return handle;
    }
    std::string Log() const { return ReadFileText(log); }

    TempDir dir;
    const std::string log = dir.File("calls.log");
    u16 port = 0;
    std::unique_ptr<ProgramRun> program;
    std::vector<GM_HANDLE> handles;
};

}  // namespace gmtest
