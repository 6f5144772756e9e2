// The server program pellmar: the process-wide set-up that only the real program does (the
// lexer runtime's object, the console printer, the crash-dump handlers), then the entry.
#include <string>

#include "platform/crashdump.h"
#include "platform/procinfo.h"
#include "server/filter/consumerglobal.h"
#include "server/process/win32start.h"
#include "server/runtime/consolelog.h"

namespace {

// Made before main runs and before any connection can exist.
[[maybe_unused]] const bool consumerGlobalReady = (InitConsumerGlobal(), true);

}  // namespace

int main(int argc, char** argv) {
    InstallConsolePrinter();
    const std::string programPath = plat::ProgramPath();
    plat::InstallCrashHandlers(plat::ProgramDirectory().c_str());
    return GatemillMain(argc, argv, programPath.c_str());
}
