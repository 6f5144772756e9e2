// Set up when the shared library is loaded: the library writes no log and prints nothing, so the
// base library's console printer becomes one that drops every text. Built into the shared
// library only; a program that links the client code statically keeps its own printer.
#include "lib_base/printer.h"

namespace {

void PrintNothing(const char*) {}

__attribute__((constructor)) void SilenceConsolePrinter() { SetConsolePrinter(&PrintNothing); }

}  // namespace
