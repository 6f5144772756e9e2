// The console: standard output plus the dated console log file, with its rotation by size.
#include "server/runtime/consolelog.h"

#include <cstdarg>

#include "lib_base/datetime.h"
#include "lib_base/misc.h"
#include "lib_base/printer.h"
#include "lib_common/configcache.h"
#include "lib_common/logwriter.h"

namespace {

void PutText(std::FILE* out, const char* text) {
    std::fputs(text, out);
    std::fflush(out);
}

}  // namespace

tConsoleLog::tConsoleLog(std::FILE* standardOutput) : standardOutput(standardOutput) {}

tConsoleLog::~tConsoleLog() { Close(); }

void tConsoleLog::SetServiceMode(bool serviceMode) {
    tWaiting hold(&lock, __FILE__, __LINE__);
    service = serviceMode;
}

void tConsoleLog::Open(tConfigCache* configCache, const char* directory) {
    tWaiting hold(&lock, __FILE__, __LINE__);
    config = configCache;
    programDir = directory ? directory : "";
    OpenLocked();
}

void tConsoleLog::Close() {
    tWaiting hold(&lock, __FILE__, __LINE__);
    if (handle >= 0) disk.FileClose(handle);
    handle = -1;
}

bool tConsoleLog::IsOpen() {
    tWaiting hold(&lock, __FILE__, __LINE__);
    return handle >= 0;
}

void tConsoleLog::GetFileName(tString& out) {
    tWaiting hold(&lock, __FILE__, __LINE__);
    out.Clear();
    if (config) ReadFileName(out);
}

void tConsoleLog::Write(const char* text) {
    if (!text) return;
    if (lock.IsHeldByMe()) {
        // A report raised inside this thread's own write (by the disk manager or the allocator):
        // the file is in the middle of an operation, so the report goes to standard output.
        PutText(standardOutput, text);
        return;
    }
    tWaiting hold(&lock, __FILE__, __LINE__);
    if (!service || handle < 0) PutText(standardOutput, text);
    if (handle >= 0) WriteToFile(text);
}

void tConsoleLog::OpenLocked() {
    if (handle >= 0) disk.FileClose(handle);
    handle = -1;
    if (!config) return;
    tString path;
    ReadFileName(path);
    const bool enabled = config->GetBool(kConsoleSection, "ConsoleLog", 1) != 0;
    maxSize = config->GetInt(kConsoleSection, "ConsoleMaxSize", kConsoleDefaultMaxSize);
    if (!enabled) return;
    handle = disk.FileExists(path) ? disk.FileOpen(path, 2, nullptr) : disk.FileCreate(path);
    if (handle >= 0 && disk.FileSeek(handle, 0, 2) < 0) {
        disk.FileClose(handle);
        handle = -1;
    }
    openPath = path;
}

void tConsoleLog::ReadFileName(tString& out) {
    tString fallback(programDir);
    const i32 length = fallback.GetLength();
    if (length > 0 && fallback.At(length - 1) != '/' && fallback.At(length - 1) != '\\') {
        fallback += "/";
    }
    fallback += kConsoleLogName;
    config->GetString(kConsoleSection, "ConsoleFile", fallback, out);
}

void tConsoleLog::WriteToFile(const char* text) {
    char prefix[32];
    FormatDateTimeStamp(CurrentTime(), prefix, sizeof prefix);
    disk.FileWriteText(handle, prefix);
    disk.FileWriteText(handle, " : ");
    disk.FileWriteText(handle, text);
    // Only appended to, so the position is the size.
    if (disk.FileTell(handle) > maxSize) Rotate();
}

// Moves the full file aside to the ".bak" of its name and opens the log again. Failures to
// delete or rename are not reported: the log then continues the old file.
void tConsoleLog::Rotate() {
    disk.FileClose(handle);
    handle = -1;
    tString backup = ReplaceExtension(openPath, ".bak");
    // A log already named ".bak" would be its own backup and delete itself.
    if (CompareText(backup, openPath) == 0) backup += ".bak";
    disk.FileDelete(backup);
    disk.FileRename(openPath, backup);
    OpenLocked();
}

tConsoleLog& TheConsoleLog() {
    static tConsoleLog* const console = new tConsoleLog(stdout);
    return *console;
}

void InstallConsolePrinter() {
    SetConsolePrinter([](const char* text) { TheConsoleLog().Write(text); });
}

void ConsolePrintf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    BaseVPrintf(format, args);
    va_end(args);
}

void OpenConsoleLog(tConfigCache* config, const char* programDir) {
    TheConsoleLog().Open(config, programDir);
}

void GetConsoleFileName(tString& out) { TheConsoleLog().GetFileName(out); }

void CloseConsoleLog() { TheConsoleLog().Close(); }
