// A client connection's trace as a monitor sees it: switched on and off under a monitor's owner
// id, and the lines waiting taken as text.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "server/dispatch/dbserver.h"
#include "server/runtime/globals.h"
#include "server/runtime/gmlthreads.h"
#include "server/runtime/traceserver.h"

namespace gmtest {

constexpr u32 kTraceOwner = 1;

inline void TraceOn(tGMLGlobals& globals, tDBServer& server) {
    tString out;
    EXPECT_TRUE(globals.GetThreads()->SetThreadTrace(server.GetThreadId(), kTraceOwner, true, out));
}

// Off before the connection ends, or its end waits for a monitor to fetch the last lines.
inline void TraceOff(tGMLGlobals& globals, tDBServer& server) {
    tString out;
    EXPECT_TRUE(
        globals.GetThreads()->SetThreadTrace(server.GetThreadId(), kTraceOwner, false, out));
}

// The trace lines waiting, each "(routine) text" and a newline.
inline std::string TakeTrace(tGMLGlobals& globals, tDBServer& server) {
    std::string lines;
    globals.GetThreads()->WithTraceServer(server.GetThreadId(), kTraceOwner,
                                          [&](tTraceServer& trace) {
                                              f64 elapsed = 0;
                                              tString line;
                                              while (trace.Take(elapsed, line)) line += "\n";
                                              lines = line.GetText();
                                          });
    return lines;
}

}  // namespace gmtest
