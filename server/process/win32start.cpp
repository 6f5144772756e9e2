// Program entry, service mode and console mode. The entry's state is one process-wide record:
// the paths and names are set by the entry's own thread before any other thread starts; the
// service status and the stop event are shared with the control handlers' threads under the
// status lock.
#include "server/process/win32start.h"

#include <strings.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "lib_base/critsec.h"
#include "lib_base/diskman.h"
#include "lib_common/configcache.h"
#include "lib_common/logwriter.h"
#include "platform/console.h"
#include "platform/thread.h"
#include "server/process/pellmar.h"
#include "server/runtime/consolelog.h"
#include "server/runtime/globals.h"

namespace {

constexpr const char* kServiceSection = "SERVICE";
constexpr const char* kDefaultServiceName = "GATEMILL";
constexpr const char* kBuildDate = "Mar 22 2011";
constexpr const char* kBuildTime = "15:35:33";
constexpr u32 kIniRetryPauseMs = 5000;
constexpr u32 kStopPollMs = 1000;
constexpr size_t kAnswerSize = 1024;

struct tEntryState {
    // Set by the entry's thread before other threads start.
    tEntrySurroundings surroundings;
    tString programPath;
    tString programDir;
    tString iniPath;
    tString serviceName;
    tString displayName;
    std::unique_ptr<tThreadList> threadList;
    std::unique_ptr<tGMLGlobals> globals;
    tCriticalSection statusLock;
    // Guarded by statusLock.
    bool consoleMode = false;
    plat::ServiceStatus status;
    u32 checkpoint = 1;
    bool stoppedReported = false;
    u32 lastError = 0;  // the host's error at the last error event: the stopped report's code
    std::shared_ptr<tSemaphore> stopEvent = std::make_shared<tSemaphore>();
};

tEntryState& Entry() {
    static tEntryState* const state = new tEntryState;  // never destroyed: handlers may run late
    return *state;
}

plat::ServiceHost& Host() {
    static plat::SystemServiceHost* const system = new plat::SystemServiceHost();
    plat::ServiceHost* host = Entry().surroundings.host;
    return host ? *host : *system;
}

class tStandardInput : public tConsoleInput {
public:
    void Flush() override { plat::FlushConsoleInput(); }
    size_t ReadLine(char* buffer, size_t size) override {
        return plat::ReadConsoleLine(buffer, size);
    }
};

tConsoleInput& Input() {
    static tStandardInput* const standard = new tStandardInput;
    tConsoleInput* input = Entry().surroundings.input;
    return input ? *input : *standard;
}

void Pause(u32 ms) {
    const auto& pause = Entry().surroundings.pause;
    if (pause) {
        pause(ms);
    } else {
        plat::Sleep(ms);
    }
}

std::shared_ptr<tSemaphore> StopEvent() {
    tEntryState& e = Entry();
    tWaiting hold(&e.statusLock, __FILE__, __LINE__);
    return e.stopEvent;
}

// A fresh record for this run: a new stop event, no mode, nothing reported.
void BeginRun(const char* programPath) {
    tEntryState& e = Entry();
    tWaiting hold(&e.statusLock, __FILE__, __LINE__);
    e.programPath = programPath ? programPath : "";
    e.consoleMode = false;
    e.status = plat::ServiceStatus();
    e.checkpoint = 1;
    e.stoppedReported = false;
    e.lastError = 0;
    e.stopEvent = std::make_shared<tSemaphore>();
    TheConsoleLog().SetServiceMode(false);
}

void ReadServiceNames() {
    tEntryState& e = Entry();
    tConfigCache& config = *e.globals->GetConfig();
    config.GetString(kServiceSection, "Name", kDefaultServiceName, e.serviceName);
    config.GetString(kServiceSection, "DisplayName", kDefaultDisplayName, e.displayName);
}

void MakeGlobals() {
    tEntryState& e = Entry();
    e.globals = std::make_unique<tGMLGlobals>(e.iniPath);
    e.globals->SetThreadList(e.threadList.get());
    PublishGlobals(e.globals.get());
}

// The end of every run that made the globals: the threads are stopped, the listener deleted,
// the console closed (with the final line when asked) while the globals whose configuration it
// reads still exist, and then the globals and the thread list are deleted.
void EndProcess(bool finalLine) {
    tEntryState& e = Entry();
    if (!e.globals) return;
    e.threadList->Shutdown();
    EndServer(e.globals.get());
    if (finalLine) {
        PrintShutdownLine();
    } else {
        CloseConsoleLog();
    }
    PublishGlobals(nullptr);
    e.globals.reset();
    e.threadList.reset();
}

void PrintBanner() {
    ConsolePrintf("gatemill - database gateway\nISAM tables over relational databases\n");
    ConsolePrintf("%s - Build %s - %s %s\n\n", Entry().displayName.GetText(), kBuildNumber,
                  kBuildDate, kBuildTime);
}

void PrintUsage() {
    ConsolePrintf(
        "  -%s\tinstala o servico.\n  -%s\tremove o servico.\n  -%s\texecuta em modo "
        "console.\n\n",
        "install", "remove", "debug");
}

void ReportServiceError(const char* message) {
    tEntryState& e = Entry();
    u32 error = 0;
    {
        tWaiting hold(&e.statusLock, __FILE__, __LINE__);
        if (e.consoleMode) return;
        error = static_cast<u32>(Host().LastError());
        e.lastError = error;
    }
    tString first;
    first.sprintf("%s erro: %d", e.serviceName.GetText(), static_cast<i32>(error));
    Host().ReportError(e.serviceName, first, message);
}

// The server from start to the stop event, and the shutdown report.
void RunServer() {
    tEntryState& e = Entry();
    if (SetServiceState(plat::ServiceState::kStartPending, 0, 40000)) {
        if (!StartServer(e.globals.get(), kDefaultPort)) {
            SetServiceState(plat::ServiceState::kStopped, kServiceStartFailed, 0);
        } else if (StopEvent()->Wait(0) || SetServiceState(plat::ServiceState::kRunning, 0, 0)) {
            // A stop asked for while starting (SIGTERM comes at any time) gets no running report.
            StopEvent()->Wait(-1);
        }
    }
    ShutdownReport(e.globals.get());
}

void ServiceCtrlHandler(plat::ServiceControl control) {
    if (control == plat::ServiceControl::kStop) {
        SetServiceState(plat::ServiceState::kStopPending, 0, 0);
        StopEvent()->Set();
        return;
    }
    tEntryState& e = Entry();
    plat::ServiceState current;
    {
        tWaiting hold(&e.statusLock, __FILE__, __LINE__);
        current = e.status.state;
    }
    SetServiceState(current, 0, 0);
}

void ServiceMain() {
    tEntryState& e = Entry();
    ReadServiceNames();
    if (!Host().RegisterServiceHandler(e.serviceName, ServiceCtrlHandler)) return;
    if (SetServiceState(plat::ServiceState::kStartPending, 0, 3000)) {
        RunServer();
        EndProcess(true);
    }
    // Reported here only when the run did not report it, so a failed start keeps its code.
    u32 code = 0;
    {
        tWaiting hold(&e.statusLock, __FILE__, __LINE__);
        code = e.lastError;
    }
    SetServiceState(plat::ServiceState::kStopped, code, 0);
}

// Service mode: the console log alone, the banner, and the service until it has stopped.
int RunService() {
    tEntryState& e = Entry();
    TheConsoleLog().SetServiceMode(true);
    OpenConsoleLog(e.globals->GetConfig(), e.programDir);
    PrintBanner();
    ConsolePrintf("Starting... Please wait... (Ctrl+Break terminate)\n");
    if (!Host().Dispatch(e.serviceName, ServiceMain)) {
        ReportServiceError("\nError starting service.\n");
        EndProcess(false);
        return 2;
    }
    EndProcess(false);  // when the service never got as far as its own end
    return 0;
}

void PrintServiceFailure(const char* format, const char* step) {
    char text[512];
    ConsolePrintf(format, step, GetLastErrorText(text, sizeof text));
}

void InstallService() {
    tEntryState& e = Entry();
    constexpr const char* kFailed = "\nError instaling service (%s): %s\n";
    if (e.programPath.GetLength() == 0) return PrintServiceFailure(kFailed, "GetModuleFileName");
    SetProgramPaths(e.programPath);
    if (!Host().OpenManager()) return PrintServiceFailure(kFailed, "OpenSCManager");
    if (!Host().CreateService(e.serviceName, e.displayName, e.programPath)) {
        return PrintServiceFailure(kFailed, "CreateService");
    }
    ConsolePrintf("\nservice successfully installed.\n");
}

// Sends STOP to the running service and waits while it stops.
void StopService() {
    tEntryState& e = Entry();
    plat::ServiceHost& host = Host();
    if (!host.SendStop(e.serviceName)) return;
    ConsolePrintf("\nWait...\n");
    Pause(kStopPollMs);
    plat::ServiceState state = plat::ServiceState::kRunning;
    while (host.QueryState(e.serviceName, state) && state == plat::ServiceState::kStopPending) {
        ConsolePrintf(".");
        Pause(kStopPollMs);
    }
    if (state == plat::ServiceState::kStopped) {
        ConsolePrintf("\nservice '%s' stopped.\n", e.displayName.GetText());
    } else {
        ConsolePrintf("\nError stopping service '%s'\n", e.displayName.GetText());
    }
}

void RemoveService() {
    tEntryState& e = Entry();
    constexpr const char* kFailed = "\nError uninstalling service (%s): %s\n";
    if (!Host().OpenManager()) return PrintServiceFailure(kFailed, "OpenSCManager");
    if (e.programPath.GetLength() == 0) return PrintServiceFailure(kFailed, "GetModuleFileName");
    SetProgramPaths(e.programPath);
    if (!Host().OpenService(e.serviceName)) return PrintServiceFailure(kFailed, "OpenService");
    StopService();
    if (!Host().DeleteService(e.serviceName)) return PrintServiceFailure(kFailed, "DeleteService");
    ConsolePrintf("\nservice successfully uninstalled.\n");
}

void RunConsole() {
    tEntryState& e = Entry();
    {
        tWaiting hold(&e.statusLock, __FILE__, __LINE__);
        e.consoleMode = true;
    }
    OpenConsoleLog(e.globals->GetConfig(), e.programDir);
    ReadServiceNames();
    PrintBanner();
    if (e.programPath.GetLength() == 0) {
        return PrintServiceFailure("\nError instaling service (%s): %s\n", "GetModuleFileName");
    }
    SetProgramPaths(e.programPath);
    ConsolePrintf("\n'%s' console mode.\nPress Ctrl+Break to terminate.\n",
                  e.displayName.GetText());
    auto control = std::make_shared<tConsoleControl>(Input(), StopEvent());
    // Without the handler the signals keep their default actions: Ctrl-C ends the process.
    Host().RegisterConsoleHandler([control](plat::ConsoleEvent event) { control->OnEvent(event); });
    RunServer();
}

void RunOption(tProgramOption option) {
    switch (option) {
        case tProgramOption::kInstall:
            InstallService();
            break;
        case tProgramOption::kRemove:
            RemoveService();
            break;
        case tProgramOption::kConsole:
            RunConsole();
            break;
        case tProgramOption::kUsage:
            PrintUsage();
            break;
        case tProgramOption::kService:
            break;
    }
}

}  // namespace

tProgramOption ParseProgramOption(int argc, char** argv) {
    if (argc < 2 || !argv[1] || (argv[1][0] != '-' && argv[1][0] != '/')) {
        return tProgramOption::kService;
    }
    const struct {
        const char* name;
        tProgramOption option;
    } kOptions[] = {{"install", tProgramOption::kInstall},
                    {"remove", tProgramOption::kRemove},
                    {"debug", tProgramOption::kConsole},
                    {"console", tProgramOption::kConsole},
                    {"?", tProgramOption::kUsage}};
    for (const auto& o : kOptions) {
        if (strcasecmp(argv[1] + 1, o.name) == 0) return o.option;
    }
    return tProgramOption::kService;
}

void SetEntrySurroundings(const tEntrySurroundings& surroundings) {
    Entry().surroundings = surroundings;
}

int GatemillMain(int argc, char** argv, const char* programPath) {
    tEntryState& e = Entry();
    BeginRun(programPath);
    SetLogPath("");
    e.threadList = std::make_unique<tThreadList>();
    e.threadList->SetShutdownPacing(e.surroundings.shutdownPacing);
    SetProgramPaths(e.programPath);
    if (!CheckIniFile(e.iniPath)) {
        Pause(kIniRetryPauseMs);
        e.threadList.reset();
        return 1;
    }
    MakeGlobals();
    ReadServiceNames();
    const tProgramOption option = ParseProgramOption(argc, argv);
    if (option == tProgramOption::kService) return RunService();
    RunOption(option);
    EndProcess(true);
    return 0;
}

bool SetServiceState(plat::ServiceState state, u32 exitCode, u32 waitHintMs) {
    tEntryState& e = Entry();
    tWaiting hold(&e.statusLock, __FILE__, __LINE__);
    if (e.consoleMode || e.stoppedReported) return true;
    e.status.state = state;
    e.status.acceptsStop = state != plat::ServiceState::kStartPending;
    e.status.exitCode = exitCode;
    e.status.waitHintMs = waitHintMs;
    const bool settled =
        state == plat::ServiceState::kRunning || state == plat::ServiceState::kStopped;
    e.status.checkpoint = settled ? 0 : e.checkpoint++;
    // Stopped is reported once: a later report would replace the code of the first.
    if (state == plat::ServiceState::kStopped) e.stoppedReported = true;
    if (Host().ReportStatus(e.status)) return true;
    ReportServiceError("SetServiceStatus");
    return false;
}

void SignalShutdown() { StopEvent()->Set(); }

void SetProgramPaths(const char* programPath) {
    tEntryState& e = Entry();
    const std::string path(programPath ? programPath : "");
    const size_t slash = path.find_last_of('/');
    e.programDir = slash == std::string::npos ? "" : path.substr(0, slash + 1).c_str();
    if (GetLogPath().GetLength() == 0) {
        tString log(e.programDir);
        log += "gatemill.log";
        SetLogPath(log);
    }
    e.iniPath = e.programDir;
    e.iniPath += "gatemill.ini";
}

tString GetProgramDirectory() { return Entry().programDir; }

tString GetIniPath() { return Entry().iniPath; }

bool CheckIniFile(const char* iniPath) {
    tDiskManLocal disk;
    if (disk.FileExists(iniPath)) return true;
    ConsolePrintf("Arquivo %s n\xE3o encontrado. Criando...\n", iniPath);
    const i32 handle = disk.FileCreate(iniPath);
    if (handle < 0) return false;
    const bool written = disk.FileWriteText(handle, "[General]\r\n") == 11;
    const bool closed = disk.FileClose(handle);
    return written && closed;
}

char* GetLastErrorText(char* buffer, size_t size) {
    if (!buffer || size == 0) return buffer;
    buffer[0] = '\0';
    const int error = Host().LastError();
    if (error == 0) return buffer;
    const std::string message = plat::ErrorMessage(error);
    if (message.empty() || size < message.size() + 14) return buffer;
    std::snprintf(buffer, size, "%s (0x%x)", message.c_str(), static_cast<unsigned>(error));
    return buffer;
}

void PrintShutdownLine() {
    ConsolePrintf("[SHUTDOWN] %s Finalizado.\n", kDefaultDisplayName);
    CloseConsoleLog();
}

i32 CountListItems(const char* text) {
    if (!text || !*text) return 0;
    i32 count = 1;
    for (const char* c = text; *c; ++c) {
        if (*c == ',' || *c == ';') ++count;
    }
    return count;
}

i32 NextListItem(const char* text, i32 start, char* item, size_t itemSize, i32 end) {
    if (!text || !item || itemSize == 0 || start < 0) return -1;
    const i32 length = static_cast<i32>(std::strlen(text));
    if (start > length) return -1;
    i32 stop = start;
    while (stop < length && stop < end && text[stop] != ',' && text[stop] != ';') ++stop;
    if (stop == start) return -1;
    size_t count = static_cast<size_t>(stop - start);
    if (count > itemSize - 1) count = itemSize - 1;
    std::memcpy(item, text + start, count);
    item[count] = '\0';
    return stop + 1;
}

tConsoleControl::tConsoleControl(tConsoleInput& input, std::shared_ptr<tSemaphore> stop)
    : input(input), stop(std::move(stop)) {}

void tConsoleControl::OnEvent(plat::ConsoleEvent event) {
    if (event == plat::ConsoleEvent::kTerminate) {
        stop->Set();
        return;
    }
    if (event == plat::ConsoleEvent::kClose) {
        // A closed terminal does not stop the server: only the confirmed prompt or SIGTERM do.
        ConsolePrintf("\n\n\nPlease type Ctrl-C or Ctrl-Break to terminate!\n\n\n");
        return;
    }
    ConsolePrintf(
        "\n\nDigite SIM [Enter] (maiusculo) para sair\nType YES [Enter] (uppercase) to exit:");
    if (prompting.exchange(true)) return;  // the pending prompt reads the answer
    if (ConfirmExit()) {
        ConsolePrintf("\nWait...\n");
        stop->Set();
    } else {
        ConsolePrintf("\n\nComando ignorado.\n\n");
    }
    prompting.store(false);
}

bool tConsoleControl::ConfirmExit() {
    char answer[kAnswerSize];
    input.Flush();
    size_t length = input.ReadLine(answer, sizeof answer);
    input.Flush();
    if (length > 0 && answer[length - 1] == '\n') --length;
    if (length > 0 && answer[length - 1] == '\r') --length;
    answer[length] = '\0';
    return std::strcmp(answer, "SIM") == 0 || std::strcmp(answer, "YES") == 0;
}
