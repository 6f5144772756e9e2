#include "server/runtime/consolelog.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "lib_base/printer.h"
#include "tests/server/process/support/consolefixture.h"

namespace {

using gmtest::ConsoleTest;
using gmtest::kConsolePrefix;
using gmtest::ReadFileText;

std::string Dated(const std::vector<std::string>& texts) {
    std::string all;
    for (const auto& t : texts) all += kConsolePrefix + t;
    return all;
}

// Each line is 22 bytes of prefix and 29 of text: two lines make 102 bytes. The line that takes
// the file above the maximum is the last of the backup; the next one starts a new file.
TEST_F(ConsoleTest, LineCrossingTheMaximumEndsTheBackupAndTheNextStartsANewFile) {
    const std::string l1 = "first line, of 29 bytes.....\n";
    const std::string l2 = "second line, of 29 bytes....\n";
    const std::string l3 = "third line, of 29 bytes.....\n";
    const struct {
        const char* name;
        int maxSize;
        const char* backup;
        std::vector<std::string> inBackup;
        std::vector<std::string> inLog;
    } cases[] = {
        {"console.log", 100, "console.bak", {l1, l2}, {l3}},
        {"console.txt", 101, "console.bak", {l1, l2}, {l3}},
        {"console.log",
         102,
         "console.bak",
         {l1, l2, l3},
         {}},  // 102 is not above 102: the third rotates
        {"console", 100, "console.bak", {l1, l2}, {l3}},
        {"console.bak", 100, "console.bak.bak", {l1, l2}, {l3}},  // never its own backup
        {"c.d/console.log", 100, "c.d/console.bak", {l1, l2}, {l3}},
    };
    std::filesystem::create_directory(dir.File("c.d"));
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + std::to_string(c.maxSize));
        const std::string log = dir.File(c.name);
        const std::string backup = dir.File(c.backup);
        gmtest::WriteFileText(backup, "an older backup\n");
        std::filesystem::remove(log);
        OpenWith("ConsoleFile=" + log + "\nConsoleMaxSize=" + std::to_string(c.maxSize) + "\n");
        for (const auto& l : {l1, l2, l3}) console->Write(l.c_str());
        console->Close();
        EXPECT_EQ(ReadFileText(backup), Dated(c.inBackup));
        EXPECT_TRUE(std::filesystem::exists(log));
        EXPECT_EQ(ReadFileText(log), Dated(c.inLog));
    }
    std::string everyLine;  // standard output has every line of every case, undated
    for (size_t i = 0; i < std::size(cases); ++i) everyLine += l1 + l2 + l3;
    EXPECT_EQ(Standard(), everyLine);
}

// Standard output is skipped only in service mode with the file open.
TEST_F(ConsoleTest, ServiceModeWithTheFileOpenWritesToTheFileOnly) {
    const struct {
        bool service;
        const char* settings;
        bool toStandard;
        bool toFile;
    } cases[] = {
        {true, "", false, true},
        {false, "", true, true},
        {true, "ConsoleLog=0\n", true, false},
        {true, "ConsoleFile=/nonexistent-dir/console.log\n", true, false},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.service) + " " + c.settings);
        const std::string before = Standard();
        std::filesystem::remove(dir.File("gatemillconsole.log"));
        console->SetServiceMode(c.service);
        OpenWith(c.settings);
        EXPECT_EQ(console->IsOpen(), c.toFile);
        const std::string text = "case " + std::to_string(n++) + "\n";
        console->Write(text.c_str());
        console->Close();
        EXPECT_EQ(Standard(), before + (c.toStandard ? text : ""));
        EXPECT_EQ(ReadFileText(dir.File("gatemillconsole.log")),
                  c.toFile ? kConsolePrefix + text : "");
    }
}

// The file name defaults to gatemillconsole.log in the program directory; the file is appended
// to, and text goes in exactly as given, line ends included or not.
TEST_F(ConsoleTest, DefaultFileInProgramDirectoryIsAppendedTo) {
    tString name;
    console->GetFileName(name);
    EXPECT_STREQ(name, "");
    gmtest::WriteFileText(dir.File("gatemillconsole.log"), "kept\n");
    OpenWith("");
    console->GetFileName(name);
    EXPECT_EQ(std::string(name.GetText()), dir.File("gatemillconsole.log"));
    console->Write("no line end");
    console->Write("\n");
    console->Close();
    EXPECT_EQ(ReadFileText(dir.File("gatemillconsole.log")),
              std::string("kept\n") + kConsolePrefix + "no line end" + kConsolePrefix + "\n");
}

// Once installed, ConsolePrintf and the base library's reports go through the process console.
TEST_F(ConsoleTest, InstalledConsoleCarriesConsolePrintfAndBaseReports) {
    gmtest::WriteFileText(dir.File("gatemill.ini"),
                          "[GENERAL]\nConsoleFile=" + dir.File("process.log") + "\n");
    tConfigCache processConfig(dir.File("gatemill.ini").c_str());
    InstallConsolePrinter();
    TheConsoleLog().SetServiceMode(true);  // keeps the test's standard output clean
    OpenConsoleLog(&processConfig, dir.Path().c_str());
    tString name;
    GetConsoleFileName(name);
    EXPECT_EQ(std::string(name.GetText()), dir.File("process.log"));
    ConsolePrintf("[INFO] %s %d\n", "started", 42);
    BasePrintf("[WARNING] from the base library\n");
    CloseConsoleLog();
    TheConsoleLog().SetServiceMode(false);
    SetConsolePrinter(nullptr);
    EXPECT_EQ(ReadFileText(dir.File("process.log")), std::string(kConsolePrefix) +
                                                         "[INFO] started 42\n" + kConsolePrefix +
                                                         "[WARNING] from the base library\n");
}

}  // namespace
