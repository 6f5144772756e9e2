// Program entry: the paths of the program's files, the configuration check, the process globals,
// the one command-line option, and the two ways of running the server until the process stop
// event is set: as a service of the system's service manager, or as a console program.
#pragma once
#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>

#include "lib_base/stringz.h"
#include "lib_base/threads.h"
#include "lib_base/types.h"
#include "platform/servicehost.h"

// The service's exit code when the server could not start (the port was not available).
constexpr u32 kServiceStartFailed = 1359;

// What the command line asks for: an option after '-' or '/' in the first argument (any case),
// or the service when there is none or it is not one of these.
enum class tProgramOption { kService, kInstall, kRemove, kConsole, kUsage };
tProgramOption ParseProgramOption(int argc, char** argv);

// Where the console's answers come from; tests give their own.
class tConsoleInput {
public:
    virtual ~tConsoleInput() = default;
    virtual void Flush() = 0;  // throws away what was typed and not yet read
    // One line, as plat::ReadConsoleLine reads it: the bytes read, its '\n' included.
    virtual size_t ReadLine(char* buffer, size_t size) = 0;
};

// The parts of the program's surroundings that tests replace; the defaults are the system's.
// Set before GatemillMain runs.
struct tEntrySurroundings {
    plat::ServiceHost* host = nullptr;  // null: plat::SystemServiceHost on the system's units
    tConsoleInput* input = nullptr;     // null: standard input
    tShutdownPacing shutdownPacing;     // of the thread list the entry makes
    std::function<void(u32 ms)> pause;  // the entry's waits; null: sleeps
};
void SetEntrySurroundings(const tEntrySurroundings& surroundings);

// The program: prepares the paths, the configuration file and the globals, then acts on the
// option or runs the service. programPath is the program's own path, whose directory holds
// gatemill.ini, gatemill.log and gatemillconsole.log. Gives the exit code: 0 after an option or
// after the service ran, 1 when the configuration file cannot be created, 2 when the program
// cannot run as a service. The process-wide steps (console printer, crash handlers) are the
// caller's. One run at a time.
int GatemillMain(int argc, char** argv, const char* programPath);

// Reports the service's state to the host, under the status lock: STOP accepted except while
// start is pending, the checkpoint counted up through pending states. Reports nothing and
// answers true in console mode and after stopped was reported once. False when the host
// refused the report, which is then reported as an error event.
bool SetServiceState(plat::ServiceState state, u32 exitCode, u32 waitHintMs);
// Sets the process stop event; any thread.
void SignalShutdown();

// The directory of programPath (up to its last '/') gives the ini path and, when it is still
// empty, the log path.
void SetProgramPaths(const char* programPath);
tString GetProgramDirectory();  // with its trailing '/'
tString GetIniPath();
// Creates the ini file with the one line "[General]" when it does not exist; false when it
// cannot be created.
bool CheckIniFile(const char* iniPath);
// The system's message of the host's last error as "%s (0x%x)" in buffer; empty when there is
// no error or the text does not fit.
char* GetLastErrorText(char* buffer, size_t size);
// "[SHUTDOWN] ... Finalizado." on the console, then the console log is closed.
void PrintShutdownLine();

// Lists whose items are separated by ',' or ';'. CountListItems: 0 for an empty text, else one
// more than the separators in it. NextListItem: copies the characters from start up to the next
// separator, the end of the text or index end (whichever comes first) into item (itemSize bytes,
// cut to fit, NUL-terminated) and gives the index after the character that ended the item (one
// past the end of the text when the text ended it); -1 for an empty item, item left as it was.
i32 CountListItems(const char* text);
i32 NextListItem(const char* text, i32 start, char* item, size_t itemSize, i32 end);

// The console's control events: an interrupt or break asks whether to stop, with one prompt
// answered at a time; SIGTERM stops at once; a closed terminal only says how to stop. Each event
// may run on its own thread.
class tConsoleControl {
public:
    // input: not owned, outlives this; stop: the event set when the stop is confirmed.
    tConsoleControl(tConsoleInput& input, std::shared_ptr<tSemaphore> stop);
    void OnEvent(plat::ConsoleEvent event);
    // Reads the answer: true for "SIM" or "YES" (upper case), its line end aside.
    bool ConfirmExit();

private:
    tConsoleInput& input;
    const std::shared_ptr<tSemaphore> stop;
    std::atomic<bool> prompting{false};  // a prompt is waiting for its answer
};
