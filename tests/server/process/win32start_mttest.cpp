// Program entry with a real server on loopback: the service-state sequence through a recording
// service host, a failed start reported stopped once with its code, console mode under either
// option, and a second console interrupt while the prompt waits for its answer.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "lib_common/logwriter.h"
#include "server/process/pellmar.h"
#include "server/process/win32start.h"
#include "tests/lib_base/support/loopback.h"
#include "tests/server/process/support/programrun.h"
#include "tests/server/process/support/scriptedinput.h"
#include "tests/server/process/support/servicerecorder.h"
#include "tests/support/gmtest.h"
#include "tests/support/tempdir.h"

namespace {

using plat::ServiceState;

constexpr i32 kBoundMs = 20000;
const std::string kFinalLine = "[SHUTDOWN] Korvane Gatemill 4.2 Server Finalizado.\n";

struct tReport {
    ServiceState state;
    bool acceptsStop;
    u32 exitCode;
    u32 checkpoint;
    u32 waitHintMs;
};

void ExpectReports(const std::vector<plat::ServiceStatus>& got, const std::vector<tReport>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(got[i].state, want[i].state);
        EXPECT_EQ(got[i].acceptsStop, want[i].acceptsStop);
        EXPECT_EQ(got[i].exitCode, want[i].exitCode);
        EXPECT_EQ(got[i].checkpoint, want[i].checkpoint);
        EXPECT_EQ(got[i].waitHintMs, want[i].waitHintMs);
    }
}

// The entry with a server on a loopback port of the test's choice, paced for tests.
class ServerRun : public ::testing::Test {
protected:
    void SetUp() override {
        tEntrySurroundings surroundings;
        surroundings.host = &recorder;
        surroundings.shutdownPacing.pauseMs = 20;
        SetEntrySurroundings(surroundings);
        tListenerPacing pacing;
        pacing.roundMs = 50;
        pacing.bindAttempts = 1;
        SetListenerPacing(pacing);
    }
    void TearDown() override {
        SetEntrySurroundings(tEntrySurroundings());
        SetListenerPacing(tListenerPacing());
        SetLogPath("");
    }

    void WriteIni(u16 port) {
        gmtest::WriteFileText(
            dir.File("gatemill.ini"),
            "[General]\r\nPort=" + std::to_string(port) + "\r\nThreadMin=2\r\nThreadInc=1\r\n");
    }
    int Run(std::vector<const char*> args) {
        gmtest::CommandLine line(args);
        return GatemillMain(line.Count(), line.Values(), dir.File("pellmar").c_str());
    }
    std::string Log() { return gmtest::ReadFileText(dir.File("gatemill.log")); }

    gmtest::TempDir dir;
    gmtest::ServiceRecorder recorder;
    gmtest::ConsoleCapture console;
};

TEST_F(ServerRun, ServiceReportsEachStateInOrderAndStopsOnRequest) {
    const u16 port = gmtest::FreePort();
    WriteIni(port);
    int code = -1;
    std::thread entry([&] { code = Run({}); });
    const bool running = recorder.running.Wait(kBoundMs);
    if (running) {
        recorder.Control(plat::ServiceControl::kInterrogate);
        recorder.Control(plat::ServiceControl::kStop);
    } else {
        SignalShutdown();
    }
    entry.join();
    ASSERT_TRUE(running);
    EXPECT_EQ(code, 0);
    ExpectReports(recorder.Reports(), {{ServiceState::kStartPending, false, 0, 1, 3000},
                                       {ServiceState::kStartPending, false, 0, 2, 40000},
                                       {ServiceState::kRunning, true, 0, 0, 0},
                                       {ServiceState::kRunning, true, 0, 0, 0},
                                       {ServiceState::kStopPending, true, 0, 3, 0},
                                       {ServiceState::kStopped, true, 0, 0, 0}});
    EXPECT_EQ(recorder.Calls(),
              (std::vector<std::string>{"Dispatch GATEMILL", "RegisterServiceHandler GATEMILL"}));
    EXPECT_TRUE(gmtest::InOrder(console.Get(), {"Listening port " + std::to_string(port) + " \n",
                                                "Application Summary", kFinalLine}));
    EXPECT_NE(Log().find("[SHUTDOWN] Korvane Gatemill 4.2 Server...\n"), std::string::npos);
}

TEST_F(ServerRun, StopWhileStartingIsNotFollowedByARunningReport) {
    WriteIni(gmtest::FreePort());
    recorder.stopAfterReport = 2;  // during the start of the server
    EXPECT_EQ(Run({}), 0);
    ExpectReports(recorder.Reports(), {{ServiceState::kStartPending, false, 0, 1, 3000},
                                       {ServiceState::kStartPending, false, 0, 2, 40000},
                                       {ServiceState::kStopPending, true, 0, 3, 0},
                                       {ServiceState::kStopped, true, 0, 0, 0}});
    EXPECT_TRUE(gmtest::InOrder(console.Get(), {"Listening port", kFinalLine}));
}

TEST_F(ServerRun, FailedStartIsReportedStoppedOnceWithItsCode) {
    std::unique_ptr<tSocket> taken = gmtest::ListenOnLoopback();
    ASSERT_NE(taken, nullptr);
    const u16 port = static_cast<u16>(taken->GetPort());
    WriteIni(port);
    EXPECT_EQ(Run({}), 0);
    ExpectReports(recorder.Reports(), {{ServiceState::kStartPending, false, 0, 1, 3000},
                                       {ServiceState::kStartPending, false, 0, 2, 40000},
                                       {ServiceState::kStopped, true, kServiceStartFailed, 0, 0}});
    EXPECT_NE(Log().find("Failed to connect to port " + std::to_string(port) +
                         " - Unable to Start Service.\n"),
              std::string::npos)
        << Log();
    // The shutdown report and the final line follow a failed start too.
    EXPECT_NE(console.Get().find("Application Summary"), std::string::npos);
    EXPECT_NE(console.Get().find(kFinalLine), std::string::npos);
}

TEST_F(ServerRun, DebugAndConsoleOptionsRunTheConsoleModeAlike) {
    recorder.eventsOnRegister = {plat::ConsoleEvent::kTerminate};
    for (const char* option : {"-debug", "-console"}) {
        SCOPED_TRACE(option);
        gmtest::ConsoleCapture capture;
        const u16 port = gmtest::FreePort();
        WriteIni(port);
        EXPECT_EQ(Run({option}), 0);
        EXPECT_TRUE(gmtest::InOrder(
            capture.Get(),
            {"Korvane Gatemill 4.2 Server - Build 20110117 - Mar 22 2011 15:35:33\n\n",
             "\n'Korvane Gatemill 4.2 Server' console mode.\nPress Ctrl+Break to terminate.\n",
             "Listening port " + std::to_string(port) + " \n", "Application Summary", kFinalLine}));
    }
    // Console mode reports nothing to the service manager.
    EXPECT_TRUE(recorder.Reports().empty());
    EXPECT_EQ(recorder.Calls(),
              (std::vector<std::string>{"RegisterConsoleHandler", "RegisterConsoleHandler"}));
}

TEST(ConsolePromptThreads, SecondInterruptWhilePromptWaitsReprintsItWithoutAnotherRead) {
    const std::string prompt =
        "\n\nDigite SIM [Enter] (maiusculo) para sair\nType YES [Enter] (uppercase) to exit:";
    gmtest::ScriptedInput input;
    auto stop = std::make_shared<tSemaphore>();
    tConsoleControl control(input, stop);
    gmtest::ConsoleCapture capture;

    std::thread first([&] { control.OnEvent(plat::ConsoleEvent::kInterrupt); });
    const bool reading = input.reading.Wait(kBoundMs);
    control.OnEvent(plat::ConsoleEvent::kBreak);  // returns at once: the first prompt reads
    const bool stoppedEarly = stop->Wait(0);
    input.Answer("NO\n");
    first.join();
    ASSERT_TRUE(reading);
    EXPECT_FALSE(stoppedEarly);
    EXPECT_FALSE(stop->Wait(0));
    EXPECT_EQ(input.Reads(), 1);
    EXPECT_EQ(capture.Get(), prompt + prompt + "\n\nComando ignorado.\n\n");

    // The prompt was answered: the next interrupt asks again.
    input.Answer("SIM\n");
    control.OnEvent(plat::ConsoleEvent::kInterrupt);
    EXPECT_TRUE(stop->Wait(0));
    EXPECT_EQ(input.Reads(), 2);
}

}  // namespace
