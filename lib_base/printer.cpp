// Default console printer and the formatting entry of the base library.
#include "lib_base/printer.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace {

void PrintToStdout(const char* text) {
    std::fputs(text, stdout);
    std::fflush(stdout);
}

std::atomic<tConsolePrinter> gPrinter{PrintToStdout};

}  // namespace

void SetConsolePrinter(tConsolePrinter printer) {
    gPrinter.store(printer ? printer : PrintToStdout);
}

void BasePrintf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    BaseVPrintf(format, args);
    va_end(args);
}

void BaseVPrintf(const char* format, va_list args) {
    char local[2048];
    va_list again;
    va_copy(again, args);
    int n = std::vsnprintf(local, sizeof local, format, args);
    if (n < 0) {
        va_end(again);
        return;
    }
    if (static_cast<size_t>(n) < sizeof local) {
        va_end(again);
        gPrinter.load()(local);
        return;
    }
    // Long texts take a block from the C heap, never from the tagged allocator.
    char* big = static_cast<char*>(std::malloc(static_cast<size_t>(n) + 1));
    if (big) std::vsnprintf(big, static_cast<size_t>(n) + 1, format, again);
    va_end(again);
    gPrinter.load()(big ? big : local);
    std::free(big);
}
