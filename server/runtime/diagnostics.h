// The server's reports on memory and the operating system, the memory check that switches the
// critical-memory state, and the diagnostic report that monitors ask for. Each report appends
// its text to the caller's.
#pragma once
#include "lib_base/stringz.h"
#include "lib_base/types.h"
#include "platform/procinfo.h"

// Where memory figures come from: the machine by default; tests install fixed figures. One
// source serves the memory report and the process meters of the globals.
class tMemorySource {
public:
    virtual ~tMemorySource() = default;
    virtual bool ReadSystem(plat::SystemMemory& out) = 0;    // false when unreadable
    virtual bool ReadProcess(plat::ProcessMemory& out) = 0;  // false when unreadable
};
// Installs the source (not owned; it must outlive its use); null restores the machine's.
// Installed before threads run.
void SetMemorySource(tMemorySource* source);
tMemorySource& GetMemorySource();

// Appends the system and application memory report. memLimitMb is the application's limit in
// megabytes (0: none). True when memory is critical: paging-file use above 90 percent, or the
// process using more than its limit.
bool AppendMemoryReport(tString& out, u32 memLimitMb);

// Appends the memory report with the published globals' limit and switches their
// critical-memory state: set when memory is critical (with the "USER CONNECTIONS DISABLED"
// box), cleared with the "USER CONNECTIONS ENABLED" box when it was set and memory has
// recovered.
void CheckMemoryStatus(tString& out);

// The operating-system code of this machine: 5 ("Linux") when the system names itself, else 0.
u8 GetOSVersionCode();
// The name of an operating-system code (0 to 21); "Invalid" for codes outside the table.
const char* GetOSName(u8 code);
// The server type named to clients and monitors: "WinNT", which existing clients expect.
const char* GetOSTypeName();
// Appends the operating-system report (name, version numbers, platform and build text). When
// the system cannot be asked, writes a line to the log and appends nothing.
void GMLCheckOS(tString& out);
// The start-up check of the operating system: every system that runs the server passes.
// Writes nothing.
bool CheckOS(tString& out);

// Starts the system-information tool for the diagnostic report. The tool does not exist on
// this system: the default launcher answers 2 (file not found); tests install others.
class tDiagLauncher {
public:
    virtual ~tDiagLauncher() = default;
    // Starts the command line hidden and does not wait: a result below 32 is an error code
    // (0 out of resources, 2 file not found, 3 path not found, 11 invalid program).
    virtual i32 Launch(const char* command) = 0;
    virtual void Pause(u32 ms);  // the wait between looks for the report file
};
// Installs the launcher (not owned); null restores the default. Installed before threads run.
void SetDiagLauncher(tDiagLauncher* launcher);

// Appends the process details (computer, session, domain and user names) and the
// system-information report that the tool writes to msdiag.log in the program's directory, or
// the reason why there is none.
void DiagnosticReport(tString& out);
