// Memory report with fixed figures (exact text, warnings, critical states, limits beyond 32
// bits), the OS report of this machine, and the diagnostic report through a scripted launcher.
#include "server/runtime/diagnostics.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/procinfo.h"
#include "tests/server/support/fixedmemory.h"
#include "tests/support/tempdir.h"

namespace {

using gmtest::FixedMemory;
using gmtest::kMiB;

TEST(MemoryReport, ExactTextOfAQuietMachine) {
    FixedMemory memory;
    memory.system = {8192 * kMiB, 2048 * kMiB,   12288 * kMiB,
                     4096 * kMiB, 131072 * kMiB, 131000 * kMiB};
    memory.process = {100 * kMiB, 50 * kMiB};
    tString text("before");
    EXPECT_FALSE(AppendMemoryReport(text, 0));
    EXPECT_STREQ(
        text.GetText(),
        "before"
        "\n---------------- Global Memory Status -----------------------------------------\n"
        "Physical memory .     8192.00 Mb.   Used     6144.00 Mb.   Free     2048.00 Mb.\n"
        "Paging file .....    12288.00 Mb.   Used     8192.00 Mb.   Free     4096.00 Mb.\n"
        "Virtual memory ..   131072.00 Mb.   Used       72.00 Mb.   Free   131000.00 Mb.\n"
        "-------------------------------------------------------------------------------\n\n"
        "---------------- Application Memory Status ------------------------------------\n"
        "Application Limit       UNDEFINED\n"
        "Work Memory .....      100.00 Mb.\n"
        "Paged Memory ....       50.00 Mb.\n"
        "-------------------------------------------------------------------------------\n\n");
}

TEST(MemoryReport, ApplicationLimitStates) {
    const char* kWarning = "*** APPLICATION MEMORY WARNING : MEMORY ALLOCATED CLOSER TO SAFE";
    const char* kCritical = "*** APPLICATION MEMORY CRITICAL : MEMORY ALLOCATED OVER SAFE LIMIT.";
    const struct {
        u32 limitMb;
        u64 workingSet, privateBytes;
        const char* limitText;
        bool warning, critical;
    } cases[] = {
        {0, 900000 * kMiB, 0, "      UNDEFINED", false, false},  // no limit: never critical
        {100, 90 * kMiB, 10 * kMiB, "     100.00 Mb.", false, false},
        {100, 95 * kMiB, 0, "     100.00 Mb.", true, false},
        {100, 0, 95 * kMiB, "     100.00 Mb.", true, false},   // the larger figure counts
        {100, 100 * kMiB, 0, "     100.00 Mb.", true, false},  // at the limit: not over it
        {100, 101 * kMiB, 0, "     100.00 Mb.", false, true},
        {100, 0, 101 * kMiB, "     100.00 Mb.", false, true},
        {4096, 4000 * kMiB, 0, "    4096.00 Mb.", true, false},
        {4096, 4097 * kMiB, 0, "    4096.00 Mb.", false, true},
        {5000, 4600 * kMiB, 0, "    5000.00 Mb.", true, false},
        {0xFFFFFFFF, 4096 * kMiB, 0, "4294967295.00 Mb.", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.limitMb);
        SCOPED_TRACE(c.workingSet);
        FixedMemory memory;
        memory.system = {8192 * kMiB, 4096 * kMiB, 8192 * kMiB, 4096 * kMiB, kMiB, kMiB};
        memory.process = {c.workingSet, c.privateBytes};
        tString text;
        EXPECT_EQ(AppendMemoryReport(text, c.limitMb), c.critical);
        const std::string s = text.GetText();
        EXPECT_NE(s.find(std::string("Application Limit ") + c.limitText + "\n"), std::string::npos)
            << s;
        EXPECT_EQ(s.find(kWarning) != std::string::npos, c.warning) << s;
        EXPECT_EQ(s.find(kCritical) != std::string::npos, c.critical) << s;
    }
}

TEST(MemoryReport, SystemPagingStates) {
    const char* kPaged = "Too Many Paged Memory in use. (";
    const char* kCritical = "*** SYSTEM MEMORY CRITICAL : Not enough free Paged Memory (";
    const struct {
        plat::SystemMemory system;
        bool paged, critical;
    } cases[] = {
        // 10 GiB of 16 GiB committable in use, 8 GiB physical: paged beyond physical.
        {{8192 * kMiB, 0, 16384 * kMiB, 6144 * kMiB, kMiB, kMiB}, true, false},
        // 95 percent of 20 GiB in use, and 19 GiB is more than the 16 GiB physical.
        {{16384 * kMiB, 0, 20480 * kMiB, 1024 * kMiB, kMiB, kMiB}, true, true},
        // 16 GiB of 16 GiB physical paged is not more; 90 percent exactly is not above 90.
        {{16384 * kMiB, 0, 18500 * kMiB, 2116 * kMiB, kMiB, kMiB}, false, false},
        {{16384 * kMiB, 0, 10240 * kMiB, 1024 * kMiB, kMiB, kMiB}, false, false},
        {{16384 * kMiB, 0, 10240 * kMiB, 1024 * kMiB, kMiB, kMiB}, false, false},
        // Nothing readable: zero totals give 0 percent, never a division by zero.
        {{0, 0, 0, 0, 0, 0}, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.system.pagingTotal);
        FixedMemory memory;
        memory.system = c.system;
        memory.process = {kMiB, kMiB};
        tString text;
        EXPECT_EQ(AppendMemoryReport(text, 0), c.critical);
        const std::string s = text.GetText();
        EXPECT_EQ(s.find(kPaged) != std::string::npos, c.paged) << s;
        EXPECT_EQ(s.find(kCritical) != std::string::npos, c.critical) << s;
    }
    FixedMemory both;
    both.system = {16384 * kMiB, 0, 20480 * kMiB, 1024 * kMiB, kMiB, kMiB};
    tString text;
    AppendMemoryReport(text, 0);
    EXPECT_NE(std::string(text.GetText())
                  .find("*** SYSTEM MEMORY WARNING : Too Many Paged Memory in use. "
                        "(118.75 percent)\n"
                        "*** System Paged Memory greater than Physical Memory. ***\n"
                        "*** This may cause system PERFORMANCE LOSS            ***\n"
                        "*** SYSTEM MEMORY CRITICAL : Not enough free Paged Memory ( 95.00 "
                        "percent)\n"
                        "*** THIS MAY CAUSE SERIOUS SYSTEM INSTABILITY. ***\n"
                        "----"),
              std::string::npos)
        << text.GetText();
}

TEST(MemoryReport, UnreadableProcessFiguresAreReported) {
    FixedMemory memory;
    memory.processReadable = false;
    tString text;
    EXPECT_FALSE(AppendMemoryReport(text, 100));
    const std::string expected =
        "*** UNABLE TO READ CURRENT PROCCESS INFO - PID " + std::to_string(getpid()) + " ***\n";
    EXPECT_NE(std::string(text.GetText()).find(expected), std::string::npos) << text.GetText();
}

TEST(OSReport, NamesLinuxAndItsVersionOnThisMachine) {
    utsname names{};
    ASSERT_EQ(uname(&names), 0);
    int major = 0, minor = 0, build = 0;
    ASSERT_GE(sscanf(names.release, "%d.%d.%d", &major, &minor, &build), 2);

    EXPECT_EQ(GetOSVersionCode(), 5);
    tString text("x");
    GMLCheckOS(text);
    const std::string expected =
        std::string(
            "x\n---------------- OS System Info "
            "-----------------------------------------------\n") +
        "OS Version .........: Linux [Version " + std::to_string(major) + "." +
        std::to_string(minor) + "." + std::to_string(build) + "]\n" +
        "OS Platform ........: Linux (" + names.machine + ")\n" +
        "OS Version Info ....: " + names.version + "\n" +
        "-------------------------------------------------------------------------------\n\n";
    EXPECT_EQ(std::string(text.GetText()), expected);

    tString check;
    EXPECT_TRUE(CheckOS(check));
    EXPECT_EQ(check.GetLength(), 0);
    EXPECT_STREQ(GetOSTypeName(), "WinNT");
}

TEST(OSReport, NamesOfTheCodes) {
    const struct {
        u8 code;
        const char* name;
    } cases[] = {{0, "Invalid"},
                 {5, "Linux"},
                 {13, "Windows 2000"},
                 {17, "Windows Server 2003"},
                 {19, "Windows Server2008"},
                 {21, "Windows Server2008R2"},
                 {22, "Invalid"},
                 {255, "Invalid"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_STREQ(GetOSName(c.code), c.name);
    }
}

// Plays the system-information tool: answers a scripted result and writes the report file
// named in the command after a number of pauses.
class tScriptedTool : public tDiagLauncher {
public:
    i32 result = 42;
    int writeAfterPauses = -1;  // -1: never
    std::string content;
    bool asDirectory = false;
    std::string command;
    std::string reportPath;
    int pauses = 0;

    i32 Launch(const char* line) override {
        command = line;
        const size_t at = command.find("/report \"") + 9;
        reportPath = command.substr(at, command.find('"', at) - at);
        MaybeWrite();
        return result;
    }
    void Pause(u32 ms) override {
        EXPECT_EQ(ms, 1000u);
        ++pauses;
        MaybeWrite();
    }

private:
    void MaybeWrite() {
        if (writeAfterPauses != pauses || result < 32) return;
        if (asDirectory)
            mkdir(reportPath.c_str(), 0755);
        else
            gmtest::WriteFileText(reportPath, content);
    }
};

const char* kDetailsEnd =
    "-------------------------------------------------------------------------\n"
    "\n[=== Server Diagnostic File ===]\n\n";

TEST(DiagnosticReport, ProcessDetailsAndMissingProgramFiles) {
    setenv("COMPUTERNAME", "BOX01", 1);
    unsetenv("SESSIONNAME");
    setenv("USERDOMAIN", "ACME", 1);
    unsetenv("USERNAME");
    unsetenv("CommonProgramFiles");
    tString text;
    DiagnosticReport(text);
    EXPECT_EQ(std::string(text.GetText()),
              "\n---------------- Process Details ----------------------------------------\n"
              "Computer Name .....: BOX01\n"
              "User Domain .......: ACME\n"
              "User Name .........: " +
                  plat::UserName() + "\n" + kDetailsEnd +
                  "GmlDiagServer ERROR : CommonProgramFiles NOT FOUND.\n");

    setenv("USERNAME", "operator", 1);
    setenv("SESSIONNAME", "Console", 1);
    setenv("CommonProgramFiles", "", 1);  // empty counts as missing
    tString again;
    DiagnosticReport(again);
    EXPECT_NE(std::string(again.GetText())
                  .find("Session Name ......: Console\n"
                        "User Domain .......: ACME\n"
                        "User Name .........: operator\n"),
              std::string::npos);
    EXPECT_NE(std::string(again.GetText()).find("CommonProgramFiles NOT FOUND"), std::string::npos);
}

// Every case shares msdiag.log in the program's directory, so they run in one test, in turn.
TEST(DiagnosticReport, ToolResultsAndReportFiles) {
    setenv("CommonProgramFiles", "C:\\Program Files\\Common Files", 1);
    const std::string path = plat::ProgramDirectory() + "msdiag.log";
    const std::string big(1000010, 'A');
    const struct {
        const char* name;
        i32 result;
        int writeAfterPauses;
        std::string content;
        bool asDirectory;
        int pauses;
        std::string tail;  // what follows the process details
    } cases[] = {
        {"tool missing", -1, -1, "", false, 0,
         "The specified file was not found.Log File [msdiag.log] NOT FOUND.\n"},
        {"out of resources", 0, -1, "", false, 0,
         "The system is out of memory or resources.Log File [msdiag.log] NOT FOUND.\n"},
        {"path missing", 3, -1, "", false, 0,
         "The specified path was not found.Log File [msdiag.log] NOT FOUND.\n"},
        {"invalid program", 11, -1, "", false, 0,
         "The executable file is invalid.Log File [msdiag.log] NOT FOUND.\n"},
        {"other error", 31, -1, "", false, 0,
         "Diagnostic Execute Error 31Log File [msdiag.log] NOT FOUND.\n"},
        {"16-bit text at once", 42, 0, std::string("S\0y\0s\0\n\0", 8), false, 1, "Sys\n"},
        {"written after three pauses", 42, 3, "report\n", false, 4, "report\n"},
        {"never written", 42, -1, "", false, 600,
         "LOG Operation Time-Out.Log File [msdiag.log] NOT FOUND.\n"},
        {"empty", 42, 0, "", false, 1, "Unable to READ msdiag.log\n"},
        {"cut at a million bytes", 42, 0, big, false, 1, big.substr(0, 1000000)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        gmtest::WriteFileText(path, "stale report of an earlier run");
        tScriptedTool tool;
        tool.result = c.result;
        tool.writeAfterPauses = c.writeAfterPauses;
        tool.content = c.content;
        tool.asDirectory = c.asDirectory;
        SetDiagLauncher(c.result >= 0 ? &tool : nullptr);
        tString text;
        DiagnosticReport(text);
        SetDiagLauncher(nullptr);
        const std::string s = text.GetText();
        const size_t start = s.find(kDetailsEnd);
        ASSERT_NE(start, std::string::npos);
        EXPECT_EQ(s.substr(start + std::strlen(kDetailsEnd)), c.tail);
        EXPECT_EQ(tool.pauses, c.pauses);
        if (c.result >= 0) {
            EXPECT_EQ(tool.command,
                      "\"C:\\Program Files\\Common Files\\Microsoft Shared\\MSInfo\\MSInfo32.exe\" "
                      "/report \"" +
                          path +
                          "\" /categories +SystemSummary+ResourcesConflicts+ResourcesIRQS+"
                          "ComponentsNetwork+ComponentsStorage+ComponentsProblemDevices+"
                          "SWEnvEnvVars+SWEnvNetConn+SWEnvServices+SWEnvProgramGroup+"
                          "SWEnvStartupPrograms");
        }
        unlink(path.c_str());
    }

    // A report that cannot be opened (here a directory in its place) gives the open error.
    tScriptedTool tool;
    tool.writeAfterPauses = 0;
    tool.asDirectory = true;
    SetDiagLauncher(&tool);
    tString text;
    DiagnosticReport(text);
    SetDiagLauncher(nullptr);
    rmdir(path.c_str());
    const std::string s = text.GetText();
    EXPECT_NE(s.find(std::string(kDetailsEnd) + "Open Error on [msdiag.log] - "), std::string::npos)
        << s;
    EXPECT_EQ(s.back(), '\n');
    unsetenv("CommonProgramFiles");
}

}  // namespace
