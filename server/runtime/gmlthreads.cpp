// The connection-thread registry, the connection records and their call statistics.
#include "server/runtime/gmlthreads.h"

#include <cstdio>
#include <memory>

#include "lib_base/datetime.h"
#include "lib_base/misc.h"
#include "lib_common/commbuffer.h"
#include "lib_common/opcodes.h"

namespace {

constexpr char kFieldEnd = '\x02';
constexpr char kRecordEnd = '\x01';

void AppendUnsigned(tString& out, u64 value) {
    char text[24];
    std::snprintf(text, sizeof text, "%llu", static_cast<unsigned long long>(value));
    out += text;
}

void PadTo(tString& out, char fill, i32 width) {
    if (out.GetLength() < width) out.PadRight(fill, width - out.GetLength());
}

// "dd/mm/yyyy hh:mm:ss" of now.
void StampNow(char (&text)[20]) { FormatDateTimeStamp(CurrentTime(), text, sizeof text); }

// One user-list field: the text with the framing bytes made blanks, then the field end.
void AppendField(tString& out, const char* text) {
    const i32 start = out.GetLength();
    out += text;
    for (i32 i = start; i < out.GetLength(); ++i) {
        if (out.At(i) == kFieldEnd || out.At(i) == kRecordEnd) out.At(i) = ' ';
    }
    out += kFieldEnd;
}

void AppendLabelled(tString& out, const char* label, const char* value) {
    out += label;
    out += " [";
    out += value;
    out += "]\t";
}

void AppendLabelled(tString& out, const char* label, u64 value) {
    out += label;
    out += " [";
    AppendUnsigned(out, value);
    out += "]\t";
}

}  // namespace

void tDBCallInfo::AddCall(i16 opcode, f64 elapsed) {
    if (opcode < 0 || opcode >= kOpcodes) return;
    tWriting hold(&lock, __FILE__, __LINE__);
    ++counts[opcode];
    seconds[opcode] += elapsed;
}

void tDBCallInfo::DumpCalls(tString& out, bool reset) {
    tWriting hold(&lock, __FILE__, __LINE__);
    u64 total = 0;
    for (i32 op = 0; op < kOpcodes; ++op) {
        if (counts[op] == 0) continue;
        tString line(OpcodeName(static_cast<i16>(op)));
        PadTo(line, '.', 30);
        line += ": ";
        AppendUnsigned(line, counts[op]);
        PadTo(line, ' ', 50);
        char time[64];
        std::snprintf(time, sizeof time, "( %.3f s.)\n", seconds[op]);
        line += time;
        out += line;
        total += counts[op];
        if (reset) {
            counts[op] = 0;
            seconds[op] = 0;
        }
    }
    if (total == 0) return;
    tString line("TOTAL I/O COUNT");
    PadTo(line, '.', 30);
    line += ": ";
    AppendUnsigned(line, total);
    line += "\n";
    out += line;
}

tDBProperties::tDBProperties(const tCommBuffer* frame, tDBCallInfo* globalCalls)
    : tRWLock("tDBProperties"), frame(frame), globalCalls(globalCalls) {}

void tDBProperties::SetText(tString& member, const char* text) {
    tWriting hold(this, __FILE__, __LINE__);
    member = text;
}

void tDBProperties::SetUser(const char* text) { SetText(user, text); }

void tDBProperties::SetObs(const char* text) { SetText(comment, text); }

void tDBProperties::SetDBEnv(const char* text) { SetText(dbEnv, text); }

void tDBProperties::SetDBSID(const char* text) { SetText(dbThreadId, text); }

void tDBProperties::SetIP(const char* text) { SetText(address, text); }

void tDBProperties::SetSP(const char* text) { SetText(procedure, text); }

void tDBProperties::SetStarted() {
    char now[20];
    StampNow(now);
    tWriting hold(this, __FILE__, __LINE__);
    started = now;
}

void tDBProperties::SetStatus(const char* word) {
    char now[20];
    StampNow(now);
    tWriting hold(this, __FILE__, __LINE__);
    if (!word) {
        status.Clear();
        return;
    }
    status = now;
    status += " ";
    status += word;
}

void tDBProperties::SetLastStatement(const char* statement, const char* routine) {
    tWriting hold(this, __FILE__, __LINE__);
    lastStatement = routine;
    lastStatement += " - ";
    lastStatement += statement ? statement : "";
}

void tDBProperties::ClearLastStatement() {
    tWriting hold(this, __FILE__, __LINE__);
    lastStatement.Clear();
}

void tDBProperties::SetSID(u32 id) {
    tWriting hold(this, __FILE__, __LINE__);
    threadId = id;
}

void tDBProperties::AddTable() {
    tWriting hold(this, __FILE__, __LINE__);
    if (++tables > maxTables) maxTables = tables;
}

void tDBProperties::RemoveTable() {
    tWriting hold(this, __FILE__, __LINE__);
    --tables;
}

void tDBProperties::SetTraceOwner(u32 owner) {
    tWriting hold(this, __FILE__, __LINE__);
    traceOwner = owner;
}

u32 tDBProperties::GetSID() {
    tReading hold(this, __FILE__, __LINE__);
    return threadId;
}

void tDBProperties::GetObs(tString& out) {
    tReading hold(this, __FILE__, __LINE__);
    out = comment.GetText();
}

void tDBProperties::GetDBSID(tString& out) {
    tReading hold(this, __FILE__, __LINE__);
    out = dbThreadId.GetText();
}

i32 tDBProperties::GetTables() {
    tReading hold(this, __FILE__, __LINE__);
    return tables;
}

bool tDBProperties::InProcedure() {
    tReading hold(this, __FILE__, __LINE__);
    return procedure.GetLength() > 0;
}

u32 tDBProperties::GetTraceOwner() {
    tReading hold(this, __FILE__, __LINE__);
    return traceOwner;
}

void tDBProperties::GetUser(tString& out) {
    tReading hold(this, __FILE__, __LINE__);
    if (user.GetLength() > 0) out += user.GetText();
}

void tDBProperties::AddCall(i16 opcode, f64 seconds) {
    calls.AddCall(opcode, seconds);
    globalCalls->AddCall(opcode, seconds);
}

void tDBProperties::DumpOpCalls(tString& out) {
    tWriting hold(this, __FILE__, __LINE__);
    out += "[INFO] Operation Calls :\n";
    calls.DumpCalls(out, true);
}

void tDBProperties::DescribeThread(tString& out, bool withStatement) {
    tReading hold(this, __FILE__, __LINE__);
    AppendLabelled(out, "Thread ID", threadId);
    AppendLabelled(out, "User", user);
    AppendLabelled(out, "IO", GetIO());
    AppendLabelled(out, "Tables", static_cast<u32>(tables));
    AppendLabelled(out, "MaxTables", static_cast<u32>(maxTables));
    AppendLabelled(out, "Comment", comment);
    AppendLabelled(out, "Status", status);
    AppendLabelled(out, "SP", procedure.GetLength() > 0 ? procedure.GetText() : " ");
    AppendLabelled(out, "Traced", IsTraceOn() ? "Yes" : "No");
    AppendLabelled(out, "InTran", inTransaction.load(std::memory_order_relaxed) ? "Yes" : "No");
    AppendLabelled(out, "DBEnv", dbEnv);
    AppendLabelled(out, "DBThread", dbThreadId);
    AppendLabelled(out, "Started", started);
    AppendLabelled(out, "LastIO", lastIO);
    AppendLabelled(out, "IP", address);
    AppendLabelled(out, "RCV", frame ? frame->GetTotalRead() : 0);
    AppendLabelled(out, "SND", frame ? frame->GetTotalWritten() : 0);
    if (withStatement) AppendLabelled(out, "Last/Run Stmt", lastStatement);
}

void tDBProperties::GetUserInfo(tString& out) {
    tReading hold(this, __FILE__, __LINE__);
    AppendField(out, UIntToStr(threadId));
    AppendField(out, user);
    AppendField(out, UIntToStr(GetIO()));
    AppendField(out, IntToString(tables));
    tString state;
    if (status.GetLength() > 0) {
        state = status.GetText();
        state += " - ";
    }
    state += comment.GetText();
    AppendField(out, state);
    AppendField(out, procedure.GetLength() > 0 ? procedure.GetText() : " ");
    AppendField(out, dbEnv);
    AppendField(out, dbThreadId);
    AppendField(out, started);
    AppendField(out, address);
    AppendField(out, lastIO);
    out += kRecordEnd;
}

tGmlThreads::tGmlThreads() : tRWLock("tGmlThreads") { records.SetCapacity(kInitialCapacity); }

tDBProperties* tGmlThreads::AddThread(const tCommBuffer* frame) {
    tWriting hold(this, __FILE__, __LINE__);
    ++totalAdded;
    std::unique_ptr<tDBProperties> record(new tDBProperties(frame, &globalCalls));
    records.Add(record.get());
    return record.release();  // the registry owns it now
}

void tGmlThreads::RemoveThread(tDBProperties* record) {
    tWriting hold(this, __FILE__, __LINE__);
    const i32 pos = records.Find(record);
    GML_ASSERT(pos >= 0, "pos >= 0");
    records.Delete(pos);
    delete record;
}

void tGmlThreads::GetUserInfo(tString& out) {
    ForEachRecord("tGmlThreads::GetUserInfo",
                  [&](tDBProperties& record) { record.GetUserInfo(out); });
}

i16 tGmlThreads::GetThreadList(tString& out) {
    i16 listed = 0;
    ForEachRecord("tGmlThreads::GetThreadList", [&](tDBProperties& record) {
        AppendUnsigned(out, record.GetSID());
        out += ",";
        ++listed;
    });
    return listed;
}

i16 tGmlThreads::GetThreadObs(tString& out) {
    i16 listed = 0;
    tString comment;
    ForEachRecord("tGmlThreads::GetThreadObs", [&](tDBProperties& record) {
        AppendUnsigned(out, record.GetSID());
        out += "|";
        record.GetObs(comment);
        out += comment;
        out += "\n";
        ++listed;
    });
    return listed;
}

bool tGmlThreads::SetThreadTrace(u32 threadId, u32 owner, bool on, tString& out) {
    tWriting hold(this, __FILE__, __LINE__);
    tDBProperties* record = nullptr;
    for (i32 i = 0; i < records.Count() && !record; ++i) {
        tDBProperties* r = records.Get(i);
        if (r && r->GetSID() == threadId) record = r;
    }
    if (!record) return false;
    if (on) {
        if (record->IsTraceOn()) return false;
        record->Start();
        record->SetTraced(1);
        record->SetTraceOwner(owner);
        record->GetTrace()->Clear();
        record->SetTraceFlag(1);
        tString text("-- Running at ");
        record->DescribeThread(text, true);
        text.ReplaceChar('\t', '\n');
        record->GetTrace()->Add("SetThreadTrace", 0, text);
        return true;
    }
    if (!record->IsTraceOn() || record->GetTraceOwner() != owner) return false;
    record->SetTraced(0);
    record->GetTrace()->Clear();
    record->SetTraceFlag(0);
    record->DumpOpCalls(out);
    char summary[64];
    std::snprintf(summary, sizeof summary, "[INFO] Trace Total Timer ( %.0f) s.\n",
                  record->Elapsed());
    out += summary;
    return true;
}

u32 tGmlThreads::GetTotalAdded() {
    tReading hold(this, __FILE__, __LINE__);
    return totalAdded;
}
