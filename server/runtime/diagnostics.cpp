// Memory and operating-system reports and the diagnostic report. Memory figures are 64-bit byte
// counts from the installed memory source; a zero total gives 0 percent.
#include "server/runtime/diagnostics.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "lib_base/diskman.h"
#include "lib_base/gmlalloc.h"
#include "lib_base/gmlassert.h"
#include "lib_common/logwriter.h"
#include "platform/procinfo.h"
#include "platform/thread.h"
#include "server/runtime/globals.h"

namespace {

constexpr const char* kClosingRule =
    "-------------------------------------------------------------------------------\n\n";
constexpr u64 kMegabyte = 1048576;
constexpr u8 kOSCodeLinux = 5;
constexpr u8 kOSCodeLast = 21;
constexpr i32 kReportWaitSteps = 600;  // of 1 s
constexpr i32 kReportMaxBytes = 1000000;
constexpr const char* kReportName = "msdiag.log";
constexpr const char* kDiagCategories =
    "/categories "
    "+SystemSummary+ResourcesConflicts+ResourcesIRQS+ComponentsNetwork+ComponentsStorage+"
    "ComponentsProblemDevices+SWEnvEnvVars+SWEnvNetConn+SWEnvServices+SWEnvProgramGroup+"
    "SWEnvStartupPrograms";

class tMachineMemory : public tMemorySource {
public:
    bool ReadSystem(plat::SystemMemory& out) override { return plat::ReadSystemMemory(out); }
    bool ReadProcess(plat::ProcessMemory& out) override { return plat::ReadProcessMemory(out); }
};

class tMissingDiagTool : public tDiagLauncher {
public:
    i32 Launch(const char*) override { return 2; }
};

tMachineMemory machineMemory;
tMemorySource* memorySource = &machineMemory;
tMissingDiagTool missingDiagTool;
tDiagLauncher* diagLauncher = &missingDiagTool;

void Appendf(tString& out, const char* format, ...) __attribute__((format(printf, 2, 3)));
void Appendf(tString& out, const char* format, ...) {
    char line[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    out += line;
}

// part of whole in percent; 0 when whole is 0.
double Percent(u64 part, u64 whole) {
    return whole == 0 ? 0.0 : static_cast<double>(part) / static_cast<double>(whole) * 100.0;
}

u64 Used(u64 total, u64 free) { return free < total ? total - free : 0; }

void AppendSizeLine(tString& out, const char* label, u64 total, u64 free) {
    char a[32], b[32], c[32];
    Appendf(out, "%s %15s   Used %15s   Free %15s\n", label, FormatMegabytes(total, a, sizeof a),
            FormatMegabytes(Used(total, free), b, sizeof b), FormatMegabytes(free, c, sizeof c));
}

// The machine's part of the report; true when paging-file use is critical.
bool AppendSystemMemory(tString& out) {
    plat::SystemMemory m;
    if (!memorySource->ReadSystem(m)) m = plat::SystemMemory();
    const u64 pagingUsed = Used(m.pagingTotal, m.pagingFree);
    // The decisions are taken on the byte counts; the percents are only printed.
    const bool pagedBeyondPhysical = m.physicalTotal && pagingUsed > m.physicalTotal;
    const bool critical = m.pagingTotal && pagingUsed * 10 > m.pagingTotal * 9;
    out += "\n---------------- Global Memory Status -----------------------------------------\n";
    AppendSizeLine(out, "Physical memory .", m.physicalTotal, m.physicalFree);
    AppendSizeLine(out, "Paging file .....", m.pagingTotal, m.pagingFree);
    AppendSizeLine(out, "Virtual memory ..", m.virtualTotal, m.virtualFree);
    if (pagedBeyondPhysical) {
        Appendf(out, "*** SYSTEM MEMORY WARNING : Too Many Paged Memory in use. (%6.2f percent)\n",
                Percent(pagingUsed, m.physicalTotal));
        out += "*** System Paged Memory greater than Physical Memory. ***\n";
        out += "*** This may cause system PERFORMANCE LOSS            ***\n";
    }
    if (critical) {
        Appendf(out, "*** SYSTEM MEMORY CRITICAL : Not enough free Paged Memory (%6.2f percent)\n",
                Percent(pagingUsed, m.pagingTotal));
        out += "*** THIS MAY CAUSE SERIOUS SYSTEM INSTABILITY. ***\n";
    }
    out += kClosingRule;
    return critical;
}

// The process's part of the report; true when the process is over its limit.
bool AppendApplicationMemory(tString& out, u32 memLimitMb) {
    out += "---------------- Application Memory Status ------------------------------------\n";
    plat::ProcessMemory p;
    bool critical = false;
    if (!memorySource->ReadProcess(p)) {
        Appendf(out, "*** UNABLE TO READ CURRENT PROCCESS INFO - PID %u ***\n", plat::ProcessId());
    } else {
        const u64 limit = static_cast<u64>(memLimitMb) * kMegabyte;
        char text[32];
        Appendf(out, "Application Limit %15s\n",
                limit ? FormatMegabytes(limit, text, sizeof text) : "UNDEFINED");
        Appendf(out, "Work Memory ..... %15s\n", FormatMegabytes(p.workingSet, text, sizeof text));
        Appendf(out, "Paged Memory .... %15s\n",
                FormatMegabytes(p.privateBytes, text, sizeof text));
        const u64 used = p.workingSet > p.privateBytes ? p.workingSet : p.privateBytes;
        if (limit && used > limit) {
            out += "*** APPLICATION MEMORY CRITICAL : MEMORY ALLOCATED OVER SAFE LIMIT.\n";
            critical = true;
        } else if (limit && used * 10 > limit * 9) {
            out += "*** APPLICATION MEMORY WARNING : MEMORY ALLOCATED CLOSER TO SAFE LIMIT.\n";
        }
    }
    out += kClosingRule;
    return critical;
}

void AppendProcessDetail(tString& out, const char* label, const char* variable,
                         const std::string& fallback) {
    const char* value = std::getenv(variable);
    if (!value && fallback.empty()) return;
    out += label;
    out += value ? value : fallback.c_str();
    out += "\n";
}

// The text of a launch result below 32.
void AppendLaunchError(tString& out, i32 result) {
    switch (result) {
        case 0:
            out += "The system is out of memory or resources.";
            break;
        case 2:
            out += "The specified file was not found.";
            break;
        case 3:
            out += "The specified path was not found.";
            break;
        case 11:
            out += "The executable file is invalid.";
            break;
        default:
            Appendf(out, "Diagnostic Execute Error %i", result);
            break;
    }
}

// Waits for the tool to write its report; false after the time-out.
bool WaitForReport(tDiskManAbs& dm, const char* path) {
    for (i32 step = 0; !dm.FileExists(path); ++step) {
        if (step >= kReportWaitSteps) return false;
        diagLauncher->Pause(1000);
    }
    diagLauncher->Pause(1000);  // the tool may still be writing
    return true;
}

// Appends the report file's bytes that are not 0: the tool writes 16-bit text, and this keeps
// its ASCII characters.
void AppendReportFile(tString& out, tDiskManAbs& dm, const char* path) {
    if (!dm.FileExists(path)) {
        out += "Log File [msdiag.log] NOT FOUND.\n";
        return;
    }
    const i32 handle = dm.FileOpen(path, 0, nullptr);
    if (handle < 0) {
        out += "Open Error on [msdiag.log] - ";
        out += dm.GetErrorText(dm.GetLastError());
        out += "\n";
        return;
    }
    std::unique_ptr<char[]> bytes(new char[kReportMaxBytes]);
    i32 total = 0;
    for (i32 n; total < kReportMaxBytes &&
                (n = dm.FileRead(handle, bytes.get() + total, kReportMaxBytes - total)) > 0;)
        total += n;
    dm.FileClose(handle);
    if (total <= 0) {
        out += "Unable to READ msdiag.log\n";
        return;
    }
    tString kept;
    kept.Reserve(total + 1);
    for (i32 i = 0; i < total; ++i)
        if (bytes[i] != 0) kept += bytes[i];
    out += kept;
}

}  // namespace

void SetMemorySource(tMemorySource* source) { memorySource = source ? source : &machineMemory; }

tMemorySource& GetMemorySource() { return *memorySource; }

bool AppendMemoryReport(tString& out, u32 memLimitMb) {
    const bool systemCritical = AppendSystemMemory(out);
    const bool applicationCritical = AppendApplicationMemory(out, memLimitMb);
    return systemCritical || applicationCritical;
}

void CheckMemoryStatus(tString& out) {
    tGMLGlobals* globals = Globals();
    GML_ASSERT(globals != nullptr, "CheckMemoryStatus - no process globals");
    if (AppendMemoryReport(out, globals->GetMemLimit())) {
        out += "**********************************************\n";
        out += "***    WARNING !!! CRITICAL MEMORY LIMIT   ***\n";
        out += "***        USER CONNECTIONS DISABLED       ***\n";
        out += "**********************************************\n\n";
        globals->SetCriticalMemory(1);
    } else if (globals->IsCriticalMemory()) {
        globals->SetCriticalMemory(0);
        out += "**********************************************\n";
        out += "***       MEMORY SAFE LIMIT AVAILABLE      ***\n";
        out += "***         USER CONNECTIONS ENABLED       ***\n";
        out += "**********************************************\n\n";
    }
}

u8 GetOSVersionCode() {
    plat::OSFacts os;
    return plat::ReadOSFacts(os) ? kOSCodeLinux : 0;
}

const char* GetOSName(u8 code) {
    static const char* const kNames[kOSCodeLast + 1] = {"Invalid",       "Windows 95",
                                                        "Windows 98",    "Windows NT 4",
                                                        "Windows NT 5",  "Linux",
                                                        "Solaris",       "HP-UX",
                                                        "ALPHA",         "AIX",
                                                        "HP-IA64",       "AS400",
                                                        "S390",          "Windows 2000",
                                                        "PPC",           "Windows ME",
                                                        "Windows XP",    "Windows Server 2003",
                                                        "Windows Vista", "Windows Server2008",
                                                        "Windows 7",     "Windows Server2008R2"};
    return code <= kOSCodeLast ? kNames[code] : kNames[0];
}

const char* GetOSTypeName() { return "WinNT"; }

void GMLCheckOS(tString& out) {
    plat::OSFacts os;
    if (!plat::ReadOSFacts(os)) {
        WriteLog("GMLCheckOS : Unable to obtain WIN version information.", 0);
        return;
    }
    out += "\n---------------- OS System Info -----------------------------------------------\n";
    Appendf(out, "OS Version .........: %s [Version %i.%i.%i]\n", GetOSName(kOSCodeLinux), os.major,
            os.minor, os.build);
    Appendf(out, "OS Platform ........: %s (%s)\n", os.name.c_str(), os.machine.c_str());
    Appendf(out, "OS Version Info ....: %s\n", os.version.c_str());
    out += kClosingRule;
}

bool CheckOS(tString&) { return true; }

void tDiagLauncher::Pause(u32 ms) { plat::Sleep(ms); }

void SetDiagLauncher(tDiagLauncher* launcher) {
    diagLauncher = launcher ? launcher : &missingDiagTool;
}

void DiagnosticReport(tString& out) {
    out += "\n---------------- Process Details ----------------------------------------\n";
    AppendProcessDetail(out, "Computer Name .....: ", "COMPUTERNAME", plat::ComputerName());
    AppendProcessDetail(out, "Session Name ......: ", "SESSIONNAME", std::string());
    AppendProcessDetail(out, "User Domain .......: ", "USERDOMAIN", std::string());
    AppendProcessDetail(out, "User Name .........: ", "USERNAME", plat::UserName());
    out += "-------------------------------------------------------------------------\n";
    out += "\n[=== Server Diagnostic File ===]\n\n";

    const char* programFiles = std::getenv("CommonProgramFiles");
    if (!programFiles || !*programFiles) {
        out += "GmlDiagServer ERROR : CommonProgramFiles NOT FOUND.\n";
        return;
    }
    const tString path = (plat::ProgramDirectory() + kReportName).c_str();
    tDiskManLocal dm;
    if (dm.FileExists(path)) dm.FileDelete(path);
    tString command("\"");
    command += programFiles;
    command += "\\Microsoft Shared\\MSInfo\\MSInfo32.exe\" /report \"";
    command += path;
    command += "\" ";
    command += kDiagCategories;
    const i32 result = diagLauncher->Launch(command);
    if (result < 32)
        AppendLaunchError(out, result);
    else if (!WaitForReport(dm, path))
        out += "LOG Operation Time-Out.";
    AppendReportFile(out, dm, path);
}
