// The trace-line queue of a traced connection.
#include "server/runtime/traceserver.h"

#include <cstring>
#include <memory>

tTrace::tTrace(const char* routine, f64 elapsed, const char* text)
    : elapsed(elapsed), text(text ? text : ""), routine(routine ? routine : "") {}

void tTraceServer::Add(const char* routine, f64 elapsed, const char* text) {
    const char* part = text ? text : "";
    tWriting hold(this, __FILE__, __LINE__);
    bool first = true;
    do {
        const char* end = std::strchr(part, '\n');
        const i32 length = end ? static_cast<i32>(end - part) : static_cast<i32>(std::strlen(part));
        const tString line(part, length + 1);
        std::unique_ptr<tTrace> trace(first ? new tTrace(routine, elapsed, line)
                                            : new tTrace("...", 0, line));
        tAutoArray<tTrace>::Add(trace.get());
        trace.release();  // the queue owns it now
        first = false;
        part = end ? end + 1 : part + length;
    } while (*part != '\0');
}

void tTraceServer::Clear() {
    tWriting hold(this, __FILE__, __LINE__);
    tAutoArray<tTrace>::Clear();
}

i32 tTraceServer::Count() {
    tReading hold(this, __FILE__, __LINE__);
    return tAutoArray<tTrace>::Count();
}

bool tTraceServer::Take(f64& elapsed, tString& text) {
    tWriting hold(this, __FILE__, __LINE__);
    if (tAutoArray<tTrace>::Count() == 0) return false;
    const std::unique_ptr<tTrace> oldest(Get(0));
    Delete(0);
    elapsed = oldest->GetElapsed();
    text += "(";
    text += oldest->GetRoutine();
    text += ") ";
    text += oldest->GetText();
    return true;
}
