// The console printer of the base library. Both deliverables print their reports (assertions,
// lock misuse) through it; the server replaces it with its console output, the client library
// with one that writes nothing. The default writes to standard output.
#pragma once
#include <cstdarg>

// Receives one formatted text (it may hold several lines); must be safe to call from any thread.
using tConsolePrinter = void (*)(const char* text);

// Installs the printer; null restores the default. Installed once at start, before threads run.
void SetConsolePrinter(tConsolePrinter printer);

// Formats printf-style and hands the text to the installed printer. Takes no lock and never
// uses the tagged allocator, so it can report an allocation failure.
void BasePrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));
void BaseVPrintf(const char* format, va_list args) __attribute__((format(printf, 1, 0)));
