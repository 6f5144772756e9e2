// The trace lines of one traced client connection: the connection adds them while a monitor
// counts and takes them, oldest first.
#pragma once
#include "lib_base/list.h"
#include "lib_base/rwlock.h"
#include "lib_base/stringz.h"
#include "lib_base/types.h"

// One trace line: the seconds it reports, its text and the routine that wrote it (may be empty).
class tTrace {
public:
    tTrace(const char* routine, f64 elapsed, const char* text);
    virtual ~tTrace() = default;

    f64 GetElapsed() const { return elapsed; }
    const tString& GetText() const { return text; }
    const tString& GetRoutine() const { return routine; }

private:
    const f64 elapsed;
    const tString text;
    const tString routine;
};

// The queue owns its lines. Every operation below holds the queue's lock for its whole work,
// so a line is either wholly there or wholly gone; any thread may call them. The array's other
// operations are not locked.
class tTraceServer : public tRWLock, public tAutoArray<tTrace> {
public:
    tTraceServer() : tRWLock("tTraceServer") {}

    // The text up to its first newline becomes a line with the routine and the seconds; each
    // further part becomes a line of routine "..." and 0 seconds. An empty text gives one empty
    // line; a final newline gives no empty last line. Null routine or text count as empty.
    void Add(const char* routine, f64 elapsed, const char* text);
    void Clear() override;
    i32 Count();
    // Takes the oldest line: its seconds into elapsed, and "(" routine ") " text appended to
    // text. False, both left alone, when no line waits.
    bool Take(f64& elapsed, tString& text);
};
