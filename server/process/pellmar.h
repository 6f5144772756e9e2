// Server start and stop: StartServer sets the process up to serve (environment, mode, the
// listening server and its thread limits, the port, the start reports, the listening socket,
// the lock servers and the listener thread); ShutdownReport writes the final lines once the stop
// event is set; EndServer deletes the listening server once its thread has ended.
#pragma once
#include "lib_base/sockserver.h"
#include "lib_base/types.h"
#include "lib_common/build.h"

class tGMLGlobals;

constexpr i32 kDefaultPort = 7890;
constexpr const char* kDefaultDisplayName = "Korvane Gatemill 4.2 Server";

// How the listening server binds and paces its rounds; tests shorten the bind attempts. Set
// before StartServer.
void SetListenerPacing(const tListenerPacing& pacing);

// Sets the server of globals up and starts it; true when it listens. With port kDefaultPort the
// [General] Port key chooses the port; any other port is used as given. After the listen, the
// factory makes client connections (tDBServer) and monitors (tMonitor), and both lock servers
// exist before the listener thread starts its workers. On a failed listen the listening server
// stays in the globals without a thread, and no lock server is made. The globals need their
// thread list. Called once for each globals, from the thread that later ends them.
bool StartServer(tGMLGlobals* globals, i32 port);
// Writes the shutdown line to the log and prints the memory report and the application summary.
void ShutdownReport(tGMLGlobals* globals);
// After the thread list's shutdown and before globals are deleted: asks the listener of globals
// to end, waits for its thread and deletes it. Nothing happens when StartServer was not called.
void EndServer(tGMLGlobals* globals);
