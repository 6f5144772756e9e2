// Program entry without a running server: the option table, the list-text functions, the exit
// codes with the configuration file they create, install and removal through systemd unit files
// and through a scripted service manager, and the console's exit prompt.
#include "server/process/win32start.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "lib_common/logwriter.h"
#include "tests/server/process/support/programrun.h"
#include "tests/server/process/support/scriptedinput.h"
#include "tests/server/process/support/servicerecorder.h"
#include "tests/support/gmtest.h"
#include "tests/support/tempdir.h"

namespace {

using gmtest::ReadFileText;
using gmtest::WriteFileText;

const std::string kFinalLine = "[SHUTDOWN] Korvane Gatemill 4.2 Server Finalizado.\n";
const std::string kUsage =
    "  -install\tinstala o servico.\n  -remove\tremove o servico.\n  -debug\texecuta em modo "
    "console.\n\n";

TEST(ProgramOption, FirstArgumentAfterDashOrSlashNamesTheOptionInAnyCase) {
    const struct {
        std::vector<const char*> args;
        tProgramOption option;
    } cases[] = {
        {{}, tProgramOption::kService},
        {{"-INSTALL"}, tProgramOption::kInstall},
        {{"/Install"}, tProgramOption::kInstall},
        {{"-install"}, tProgramOption::kInstall},
        {{"install"}, tProgramOption::kService},  // without '-' or '/': the service runs
        {{"-remove"}, tProgramOption::kRemove},
        {{"/REMOVE"}, tProgramOption::kRemove},
        {{"-debug"}, tProgramOption::kConsole},
        {{"-console"}, tProgramOption::kConsole},
        {{"/Debug"}, tProgramOption::kConsole},
        {{"-?"}, tProgramOption::kUsage},
        {{"/?"}, tProgramOption::kUsage},
        {{"-"}, tProgramOption::kService},
        {{"-installs"}, tProgramOption::kService},
        {{"-help"}, tProgramOption::kService},
        {{"service", "-install"}, tProgramOption::kService},  // only the first argument counts
    };
    for (const auto& c : cases) {
        gmtest::CommandLine line(c.args);
        SCOPED_TRACE(c.args.empty() ? "(none)" : c.args[0]);
        EXPECT_EQ(ParseProgramOption(line.Count(), line.Values()), c.option);
    }
}

TEST(ListText, CountsItemsBetweenCommasAndSemicolons) {
    const struct {
        const char* text;
        i32 count;
    } cases[] = {{"", 0}, {"a", 1}, {"a,b", 2}, {"a;b,c", 3}, {",", 2}, {"a,,b;", 4}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(CountListItems(c.text), c.count);
    }
    EXPECT_EQ(CountListItems(nullptr), 0);
}

TEST(ListText, NextItemStopsAtSeparatorTextEndOrEndIndex) {
    const struct {
        const char* text;
        i32 start;
        i32 end;
        size_t size;
        i32 next;
        const char* item;  // "(kept)": the buffer was left as it was
    } cases[] = {
        {"alpha,beta", 0, 100, 32, 6, "alpha"},
        {"alpha,beta", 6, 100, 32, 11, "beta"},  // one past the text's end
        {"alpha;beta", 0, 100, 32, 6, "alpha"},
        {"alpha,beta", 0, 3, 32, 4, "alp"},   // the end index ends it first
        {"alpha,beta", 0, 100, 4, 6, "alp"},  // cut to the buffer
        {"a,,b", 2, 100, 32, -1, "(kept)"},   // an empty item
        {"a", 1, 100, 32, -1, "(kept)"},      // at the end
        {"a", 5, 100, 32, -1, "(kept)"},      // past the end
        {"a", -1, 100, 32, -1, "(kept)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " from " + std::to_string(c.start));
        char item[32] = "(kept)";
        EXPECT_EQ(NextListItem(c.text, c.start, item, c.size, c.end), c.next);
        EXPECT_STREQ(item, c.item);
    }
}

// The entry run in a private program directory with a recording service host; what it prints
// is captured.
class Entry : public ::testing::Test {
protected:
    void SetUp() override {
        tEntrySurroundings surroundings;
        surroundings.host = &recorder;
        surroundings.pause = [this](u32 ms) { pauses.push_back(ms); };
        surroundings.shutdownPacing.pauseMs = 10;
        SetEntrySurroundings(surroundings);
    }
    void TearDown() override {
        SetEntrySurroundings(tEntrySurroundings());
        SetLogPath("");
    }

    int Run(std::vector<const char*> args, const std::string& programPath = "") {
        gmtest::CommandLine line(args);
        const std::string path = programPath.empty() ? dir.File("pellmar") : programPath;
        return GatemillMain(line.Count(), line.Values(), path.c_str());
    }
    // The unit directory of a system host that the entry uses from now on.
    std::string UseUnitDirectory() {
        const std::string units = dir.File("units");
        mkdir(units.c_str(), 0700);
        system = std::make_unique<plat::SystemServiceHost>(units);
        tEntrySurroundings surroundings;
        surroundings.host = system.get();
        surroundings.shutdownPacing.pauseMs = 10;
        SetEntrySurroundings(surroundings);
        return units;
    }
    std::string Ini() { return dir.File("gatemill.ini"); }

    gmtest::TempDir dir;
    gmtest::ServiceRecorder recorder;
    std::unique_ptr<plat::SystemServiceHost> system;
    std::vector<u32> pauses;
    gmtest::ConsoleCapture console;
};

TEST_F(Entry, UsageCreatesTheMissingIniAndEndsWithZero) {
    EXPECT_EQ(Run({"-?"}), 0);
    EXPECT_EQ(ReadFileText(Ini()), "[General]\r\n");
    const std::string out = console.Get();
    EXPECT_EQ(out.find("Arquivo " + Ini() + " n\xE3o encontrado. Criando...\n"), 0u) << out;
    EXPECT_NE(out.find(kUsage), std::string::npos) << out;
    EXPECT_NE(out.find(kFinalLine), std::string::npos) << out;
    EXPECT_TRUE(recorder.Calls().empty());
    EXPECT_EQ(GetIniPath(), tString(Ini().c_str()));
    EXPECT_EQ(GetProgramDirectory(), tString((dir.Path() + "/").c_str()));
    EXPECT_EQ(GetLogPath(), tString(dir.File("gatemill.log").c_str()));
}

TEST_F(Entry, ExistingIniIsLeftAsItIs) {
    WriteFileText(Ini(), "[General]\nPort=7999\n");
    EXPECT_EQ(Run({"/?"}), 0);
    EXPECT_EQ(ReadFileText(Ini()), "[General]\nPort=7999\n");
    EXPECT_EQ(console.Get().find("Criando"), std::string::npos);
}

TEST_F(Entry, IniThatCannotBeCreatedEndsWithOneAfterAPause) {
    const std::string program = dir.File("missing/pellmar");
    EXPECT_EQ(Run({"-console"}, program), 1);
    EXPECT_EQ(pauses, std::vector<u32>{5000});
    EXPECT_TRUE(recorder.Calls().empty());
    EXPECT_EQ(console.Get().find(kFinalLine), std::string::npos);
}

TEST_F(Entry, ServiceThatCannotBeDispatchedReportsAnErrorEventAndEndsWithTwo) {
    recorder.dispatchError = 38;
    for (std::vector<const char*> args : {std::vector<const char*>{}, {"install"}, {"-other"}}) {
        SCOPED_TRACE(args.size());
        EXPECT_EQ(Run(args), 2);
    }
    const std::vector<std::string> error(3,
                                         "GATEMILL|GATEMILL erro: 38|\nError starting service.\n");
    EXPECT_EQ(recorder.Errors(), error);
    EXPECT_TRUE(recorder.Reports().empty());
    const std::string out = console.Get();
    EXPECT_NE(out.find("Korvane Gatemill 4.2 Server - Build 20110117 - Mar 22 2011 15:35:33\n\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("Starting... Please wait... (Ctrl+Break terminate)\n"), std::string::npos);
}

TEST_F(Entry, InstallAndRemoveWriteAndDeleteTheUnitFile) {
    const std::string units = UseUnitDirectory();
    WriteFileText(Ini(), "[General]\r\n[SERVICE]\r\nName=gmtest\r\nDisplayName=Test Gateway\r\n");
    const std::string unit = units + "/gmtest.service";

    EXPECT_EQ(Run({"-install"}), 0);
    const std::string text = ReadFileText(unit);
    EXPECT_NE(text.find("Description=Test Gateway\n"), std::string::npos) << text;
    EXPECT_NE(text.find("ExecStart=\"" + dir.File("pellmar") + "\"\n"), std::string::npos);
    EXPECT_EQ(Run({"/INSTALL"}), 0);
    EXPECT_EQ(Run({"-remove"}), 0);
    EXPECT_NE(access(unit.c_str(), F_OK), 0);
    EXPECT_EQ(Run({"-remove"}), 0);

    EXPECT_TRUE(gmtest::InOrder(
        console.Get(),
        {"\nservice successfully installed.\n",
         "\nError instaling service (CreateService): File exists (0x11)\n",
         "\nservice successfully uninstalled.\n",
         "\nError uninstalling service (OpenService): No such file or directory (0x2)\n"}));
}

TEST_F(Entry, InstallWithoutUnitDirectoryNamesTheFailedStep) {
    UseUnitDirectory();
    rmdir(dir.File("units").c_str());
    EXPECT_EQ(Run({"-install"}), 0);
    EXPECT_NE(console.Get().find(
                  "\nError instaling service (OpenSCManager): No such file or directory (0x2)\n"),
              std::string::npos)
        << console.Get();
}

TEST_F(Entry, RemoveWaitsWhileTheRunningServiceStops) {
    const struct {
        std::vector<plat::ServiceState> states;
        std::string lines;
        std::vector<u32> pauses;
    } cases[] = {
        {{plat::ServiceState::kStopPending, plat::ServiceState::kStopPending,
          plat::ServiceState::kStopped},
         "\nWait...\n..\nservice 'Korvane Gatemill 4.2 Server' stopped.\n"
         "\nservice successfully uninstalled.\n",
         {1000, 1000, 1000}},
        {{plat::ServiceState::kRunning},
         "\nWait...\n\nError stopping service 'Korvane Gatemill 4.2 Server'\n"
         "\nservice successfully uninstalled.\n",
         {1000}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lines);
        gmtest::ServiceRecorder manager;
        manager.stopAccepted = true;
        manager.queryStates = c.states;
        tEntrySurroundings surroundings;
        surroundings.host = &manager;
        surroundings.pause = [this](u32 ms) { pauses.push_back(ms); };
        surroundings.shutdownPacing.pauseMs = 10;
        SetEntrySurroundings(surroundings);
        pauses.clear();
        gmtest::ConsoleCapture capture;
        EXPECT_EQ(Run({"-remove"}), 0);
        EXPECT_NE(capture.Get().find(c.lines), std::string::npos) << capture.Get();
        EXPECT_EQ(pauses, c.pauses);
        EXPECT_EQ(manager.Calls(),
                  (std::vector<std::string>{"OpenManager", "OpenService GATEMILL",
                                            "SendStop GATEMILL", "DeleteService GATEMILL"}));
    }
}

TEST_F(Entry, RefusedStatusReportsBecomeErrorEventsAndTheServerIsNotStarted) {
    recorder.reportError = 5;
    EXPECT_EQ(Run({}), 0);
    const std::vector<plat::ServiceStatus> reports = recorder.Reports();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].state, plat::ServiceState::kStartPending);
    EXPECT_EQ(reports[1].state, plat::ServiceState::kStopped);
    EXPECT_EQ(reports[1].exitCode, 5u);  // the error recorded by the error event
    const std::vector<std::string> event(2, "GATEMILL|GATEMILL erro: 5|SetServiceStatus");
    EXPECT_EQ(recorder.Errors(), event);
    EXPECT_EQ(console.Get().find("Listening port"), std::string::npos);
}

TEST(ConsolePrompt, OnlyUpperCaseSimOrYesStops) {
    const std::string prompt =
        "\n\nDigite SIM [Enter] (maiusculo) para sair\nType YES [Enter] (uppercase) to exit:";
    const struct {
        const char* typedAhead;
        const char* answer;
        bool stops;
    } cases[] = {
        {"", "YES\n", true},      {"", "SIM\r\n", true}, {"", "YES", true},
        {"", "yes\n", false},     {"", "NO\n", false},   {"", "YES \n", false},
        {"", "YESS\n", false},    {"", "\n", false},     {"", "SIMYES\n", false},
        {"YES\n", "NO\n", false},  // typed before the prompt: thrown away
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.typedAhead) + c.answer);
        gmtest::ScriptedInput input;
        input.TypeAhead(c.typedAhead);
        input.Answer(c.answer);
        auto stop = std::make_shared<tSemaphore>();
        tConsoleControl control(input, stop);
        gmtest::ConsoleCapture capture;
        control.OnEvent(plat::ConsoleEvent::kInterrupt);
        EXPECT_EQ(stop->Wait(0), c.stops);
        EXPECT_EQ(capture.Get(), prompt + (c.stops ? "\nWait...\n" : "\n\nComando ignorado.\n\n"));
        EXPECT_EQ(input.Reads(), 1);
    }
}

TEST(ConsolePrompt, TerminateStopsWithoutAsking) {
    gmtest::ScriptedInput input;
    auto stop = std::make_shared<tSemaphore>();
    tConsoleControl control(input, stop);
    gmtest::ConsoleCapture capture;
    control.OnEvent(plat::ConsoleEvent::kTerminate);
    EXPECT_TRUE(stop->Wait(0));
    EXPECT_EQ(capture.Get(), "");
    EXPECT_EQ(input.Reads(), 0);
}

TEST(ConsolePrompt, ClosedTerminalOnlySaysHowToStop) {
    gmtest::ScriptedInput input;
    input.Answer("YES\n");
    auto stop = std::make_shared<tSemaphore>();
    tConsoleControl control(input, stop);
    gmtest::ConsoleCapture capture;
    control.OnEvent(plat::ConsoleEvent::kClose);
    EXPECT_FALSE(stop->Wait(0));
    EXPECT_EQ(capture.Get(), "\n\n\nPlease type Ctrl-C or Ctrl-Break to terminate!\n\n\n");
    EXPECT_EQ(input.Reads(), 0);
}

}  // namespace
