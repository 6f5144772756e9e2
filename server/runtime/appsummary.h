// The application summary: the connection and cache figures of the running server and the lock
// servers' statistics, as one text report for the console, monitors and clients.
#pragma once
#include "lib_base/stringz.h"

// Appends the summary of the published globals. With calls, the process's per-opcode call
// statistics follow; reset starts the lock servers' counters (and those statistics) again.
void ApplicationSummary(tString& out, bool withCalls, bool reset);
