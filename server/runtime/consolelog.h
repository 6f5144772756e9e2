// The server's console output: every console line of the server goes to standard output and,
// when enabled, to the console log file with a dated prefix; the file is moved aside to a
// ".bak" once it grows past its maximum size.
#pragma once
#include <cstdio>

#include "lib_base/critsec.h"
#include "lib_base/diskman.h"
#include "lib_base/stringz.h"
#include "lib_base/types.h"

class tConfigCache;

// Configuration of the console log, section "GENERAL".
constexpr const char* kConsoleSection = "GENERAL";
constexpr const char* kConsoleLogName = "gatemillconsole.log";  // in the program directory
constexpr i32 kConsoleDefaultMaxSize = 10485760;                // bytes

// One console: a lock serialises every operation, so lines from many threads never interleave
// and a rotation happens between two whole lines. Any thread may call any operation.
class tConsoleLog {
public:
    explicit tConsoleLog(std::FILE* standardOutput);  // not owned
    ~tConsoleLog();                                   // closes the file
    tConsoleLog(const tConsoleLog&) = delete;
    tConsoleLog& operator=(const tConsoleLog&) = delete;

    // In service mode an open console file receives the text alone; standard output does not.
    void SetServiceMode(bool service);
    // Reads ConsoleFile, ConsoleLog and ConsoleMaxSize and, with ConsoleLog on, opens the file
    // for appending. A file that cannot be opened stays closed: output goes to standard output
    // only. The cache is not owned and must outlive this log; it is read again at every rotation.
    void Open(tConfigCache* config, const char* programDir);
    void Close();
    bool IsOpen();
    void GetFileName(tString& out);  // the ConsoleFile value; empty before Open

    // Writes the text as given (the caller supplies line ends): to standard output unless in
    // service mode with the file open, then to the file behind "dd/mm/yyyy hh:mm:ss : ".
    void Write(const char* text);

private:
    void OpenLocked();
    void ReadFileName(tString& out);
    void WriteToFile(const char* text);
    void Rotate();

    tCriticalSection lock;
    // Guarded by lock.
    std::FILE* const standardOutput;
    tConfigCache* config = nullptr;
    tString programDir;
    tDiskManLocal disk;  // empty roots: names are used as given
    i32 handle = -1;     // the open console file, -1 when closed
    tString openPath;    // the name it was opened under
    i64 maxSize = kConsoleDefaultMaxSize;
    bool service = false;
};

// The process's console, writing to the process's standard output. Never destroyed, so that
// printing stays safe until the process ends.
tConsoleLog& TheConsoleLog();

// Makes the process's console the base library's console printer, so that ConsolePrintf and
// every report of the base library go through it. The program entry calls it once at start.
void InstallConsolePrinter();

// printf-style through the installed console printer.
void ConsolePrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The process console's operations under the names the rest of the server uses.
void OpenConsoleLog(tConfigCache* config, const char* programDir);
void GetConsoleFileName(tString& out);
void CloseConsoleLog();
