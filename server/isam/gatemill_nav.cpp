// Navigation of a table file: top, bottom and skip over the record-number cache, refilling its
// window through key cursors only at its edges, with BOF and EOF telling where a move ended.
#include <cstdlib>

#include "lib_base/mstimer.h"
#include "server/isam/dbconn.h"
#include "server/isam/gatemill.h"
#include "server/isam/session.h"
#include "server/tables/dbtable.h"

void tISAMFile::TraceLoad(const char* routine, f64 elapsed, i32 rows) {
    if (!dbServer || !dbServer->IsTraceOn()) return;
    tString text;
    text.sprintf("-- Load [%u] record(s) to IsamCache", static_cast<u32>(rows));
    dbServer->Trace(routine, elapsed, text);
}

bool tISAMFile::GoTop() {
    return LoadTopBlock(
        [this] {
            BuildNextSelect(-1);
            AddRowLimit();
        },
        "tISAMFile::GoTop", "tISAMFile::GoTop");
}

bool tISAMFile::GoBottom() {
    return LoadBottomBlock(
        [this] {
            BuildPrevSelect(-1);
            AddRowLimit();
        },
        "tISAMFile::GoBottom", "tISAMFile::GoBottom");
}

bool tISAMFile::LoadTopBlock(const std::function<void()>& build, const char* routine,
                             const char* traceRoutine) {
    bof = eof = false;
    cache->Revalidate(false);
    if (!cache->IsForwardComplete()) {
        cache->SetCurrent(0);
        cache->Reset(false);
        build();
        if (fetchStmt->ExecDirect(sql, routine, 1)) {
            tMSTimer timer;
            timer.Start();
            const i32 rows = cache->LoadForward(0);
            const bool lastRowIn = rows < connection->GetRowCount();
            cache->SetBackwardComplete(lastRowIn);
            if (rows == 0) bof = eof = true;
            if (traceRoutine) TraceLoad(traceRoutine, timer.Elapsed(), rows);
        }
        fetchStmt->Close();
    } else {
        cache->GoFirst();
    }
    cache->SetForwardComplete(true);
    if (cache->IsEmpty()) {
        eof = true;
        return false;
    }
    bof = false;
    SyncCurrent(false);
    return true;
}

bool tISAMFile::LoadBottomBlock(const std::function<void()>& build, const char* routine,
                                const char* traceRoutine) {
    bof = eof = false;
    cache->Revalidate(false);
    if (!cache->IsBackwardComplete()) {
        cache->Reset(false);
        cache->SetCurrent(tCache::kSlots - 1);
        build();
        if (fetchStmt->ExecDirect(sql, routine, 1)) {
            tMSTimer timer;
            timer.Start();
            const i32 rows = cache->LoadBackward(0);
            cache->SetForwardComplete(rows < connection->GetRowCount());
            if (traceRoutine) TraceLoad(traceRoutine, timer.Elapsed(), rows);
        }
        fetchStmt->Close();
    } else {
        cache->GoLast();
    }
    cache->SetBackwardComplete(true);
    if (!cache->IsFilled(cache->GetCurrent())) {
        bof = eof = true;
        return false;
    }
    eof = false;
    SyncCurrent(false);
    return true;
}

bool tISAMFile::Skip(i32 count) {
    if (needFirst) GoTop();
    if (eof && count < 0) return GoBottom();  // back from the end lands on the last record
    if (!mirror->IsFullMapped() && order != cache->GetOrder()) SyncCurrent(true);
    if (srvDirty) SyncCurrent(false);
    cache->Revalidate(true);
    if (cache->IsEmpty()) {
        if (count == 0) return false;  // no record to stay on
        if (!cache->HasFirstRow() && count > 0) return GoTop();
        if (!cache->IsBackwardComplete() && count < 0) return GoBottom();
    }
    const f64 saved = cache->GetCurrentRecno();
    bool ok = true;
    for (i64 left = std::llabs(static_cast<i64>(count)); ok && left > 0; --left) {
        // Leaving a record that is marked deleted while such records are hidden: the window
        // still holds it, so it is rebuilt around the new position.
        const bool leavingDeleted = deletedFilter && IsCurrentDeleted();
        ok = count > 0 ? StepForward(left == 1) : StepBackward(left == 1);
        if (leavingDeleted) cache->Reset(true);
    }
    if (ok) {
        bof = eof = false;
        return true;
    }
    if (saved > 0.0) {
        const bool endBof = bof;
        const bool endEof = eof;
        if (GoTo(saved, false)) {
            bof = endBof;
            eof = endEof;
        }
    }
    return false;
}

bool tISAMFile::IsCurrentDeleted() const {
    const i16 deletedNo = mirror->GetDeletedField();
    if (deletedNo < 0) return false;
    const tField* deleted = mirror->GetField(deletedNo);
    return deleted->IsData() && currentRecord[deleted->GetOffset()] == '*';
}

bool tISAMFile::StepForward(bool last) {
    eof = false;
    const i32 next = cache->GetCurrent() + 1;
    if (cache->IsPastEnd(next)) {
        eof = true;
        return false;
    }
    if (cache->IsFilled(next)) {
        cache->SetCurrent(next);
        if (last) SyncCurrent(false);
        return true;
    }
    SyncCurrent(false);  // the key cursor starts from the current record's key
    if (GetSelect(false)) {
        cache->SetCurrent(cache->GetCurrent() + 1);
        SyncCurrent(false);
        return true;
    }
    eof = true;
    return false;
}

bool tISAMFile::StepBackward(bool last) {
    bof = false;
    if (eof) return GoBottom();
    const i32 prev = cache->GetCurrent() - 1;
    if (cache->IsFilled(prev)) {
        cache->SetCurrent(prev);
        if (last) SyncCurrent(false);
        return true;
    }
    if (cache->HasFirstRow()) {
        bof = true;
        return false;
    }
    SyncCurrent(false);
    if (GetSelect(true)) {
        cache->SetCurrent(cache->GetCurrent() - 1);
        SyncCurrent(false);
        return true;
    }
    bof = true;
    return false;
}

// Key cursors with fewer key fields each: for an index A, B, R_E_C_N_O_ going forward, first
// the rows with A and B equal and a greater record number, then those with A equal and a greater
// B, then those with a greater A; the first that returns rows fills the window.
bool tISAMFile::GetSelect(bool backward) {
    const tIndexDefinition* index = GetCurrentIndex();
    i32 keyFields = IsIndexOrder() ? index->GetFieldCount() : 1;
    i32 loaded = 0;
    f64 total = 0.0;
    tMSTimer timer;
    timer.Start();
    for (; loaded == 0 && keyFields > 0; --keyFields) {
        if (backward) {
            BuildPrevSelect(keyFields);
        } else {
            BuildNextSelect(keyFields);
        }
        AddRowLimit();
        if (!fetchStmt->ExecDirect(sql, "tISAMFile::GetSelect", 1)) {
            fetchStmt->Close();
            return false;
        }
        timer.Start();
        loaded += backward ? cache->LoadBackward(loaded) : cache->LoadForward(loaded);
        fetchStmt->Close();
        total += timer.Elapsed();
    }
    // Only the widest cursor tells that the order has no more rows that way.
    if (keyFields == 0 && loaded < connection->GetRowCount()) {
        if (backward) {
            cache->SetForwardComplete(true);
        } else {
            cache->SetBackwardComplete(true);
        }
    }
    TraceLoad("tISAMFile::GetSelect", total, loaded);
    return loaded > 0 && SyncCurrent(false);
}
