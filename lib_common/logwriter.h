// The log writer: dated lines appended to the server's log file (gatemill.log in the program's
// directory), each echoed through the console printer, the file moved aside to a ".bak" beside
// it once it holds kLogMaxSize bytes.
#pragma once
#include "lib_base/stringz.h"
#include "lib_base/types.h"

constexpr i64 kLogMaxSize = 1000000;  // bytes; the write that finds this many rotates first

// The log file's full path (empty until set). Any thread; one process-wide lock serialises
// these with WriteLog.
void SetLogPath(const char* path);
tString GetLogPath();

// Appends "dd/mm/yyyy hh:mm:ss : " (local time), the message and "\n" as one unit under the
// log lock, then echoes "[BEGINLOG]\n<message>\n[ENDLOG]\n". With recreate the file is emptied
// first. False, with a warning on the console, when the file cannot be opened or created;
// false too when the line could not be written whole.
bool WriteLog(const char* message, u8 recreate);

// The path with the extension of its file name (from its last '.') replaced by ext, or ext
// appended when it has none: "/srv/gatemill.log" and ".bak" give "/srv/gatemill.bak".
tString ReplaceExtension(const char* path, const char* ext);
