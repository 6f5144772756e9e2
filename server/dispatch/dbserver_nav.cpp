// Navigation of an open file: the first, last and numbered record, skips and seeks. The moves are
// the file's; these handlers decode the request, choose the reply and write the trace.
//
// Replies:
//  (1) A found record is 0, the record and the file's status; a failed move is -25 and the
//      status alone, so that the client reads where the file stopped.
//  (2) A seek answers the file's code; the record follows only 0 and -28, the status always.
#include <cmath>
#include <limits>

#include "lib_common/commbuffer.h"
#include "lib_common/retcodes.h"
#include "server/dispatch/dbserver.h"
#include "server/isam/dbconn.h"
#include "server/isam/gatemill.h"

namespace {

// The record number as the i32 that record locks take, held within the i32 range.
i32 RecnoToLock(f64 recno) {
    constexpr f64 kMax = std::numeric_limits<i32>::max();
    constexpr f64 kMin = std::numeric_limits<i32>::min();
    if (std::isnan(recno)) return 0;
    if (recno >= kMax) return std::numeric_limits<i32>::max();
    if (recno <= kMin) return std::numeric_limits<i32>::min();
    return static_cast<i32>(recno);
}

// Puts the reply of a move (1).
void PutMoveReply(tCommBuffer& out, tGenericFile& file, bool moved) {
    out.PutReturnCode(moved ? RC_OK : RC_NO_RECORD);
    if (moved) file.SendRecord();
    file.SendStatus();
}

// "<head><recno> on Table <name> [OK]" or, not found, "<head> on Table <name>
// [NO_RECORD_FOUND]", then the file's status text.
tString MoveText(tGenericFile& file, const char* head, const char* recno, bool moved) {
    tString text(head);
    if (moved) text += recno;
    text += " on Table ";
    text += file.GetTableName();
    text += moved ? " [OK]" : " [NO_RECORD_FOUND]";
    file.StatusText(text);
    return text;
}

}  // namespace

void tDBServer::GoTo() {
    i16 id = 0;
    i32 recno = 0;
    tGenericFile* file = ReadFileRequest(id, recno);  // not owned: the open-file table keeps it
    if (!file) return;
    tCommBuffer& in = *GetCommBuffer();
    const bool moved = file->GoTo(static_cast<f64>(recno), true);
    PutMoveReply(in, *file, moved);
    if (!IsHandlerTraced()) return;
    tString head;
    head.sprintf("Goto %u", static_cast<u32>(recno));  // the number asked, found or not
    TraceHandler("GoTo", MoveText(*file, head, "", moved));
}

void tDBServer::First() { MoveToEnd(true); }

void tDBServer::Last() { MoveToEnd(false); }

// OP_FIRST (top) and OP_LAST: the file's first or last record in its current order.
void tDBServer::MoveToEnd(bool top) {
    i16 id = 0;
    tGenericFile* file = ReadFileRequest(id);  // not owned: the open-file table keeps it
    if (!file) return;
    tCommBuffer& in = *GetCommBuffer();
    const bool moved = top ? file->GoTop() : file->GoBottom();
    PutMoveReply(in, *file, moved);
    if (!IsHandlerTraced()) return;
    char recno[kRecnoTextSize];
    RecnoToStr(file->GetRecno(), recno);
    TraceHandler(top ? "First" : "Last()",
                 MoveText(*file, top ? "First Recno " : "Last Recno ", recno, moved));
}

void tDBServer::Skip() {
    i16 id = 0;
    i32 count = 0;
    tGenericFile* file = ReadFileRequest(id, count);  // not owned: the open-file table keeps it
    if (!file) return;
    tCommBuffer& in = *GetCommBuffer();
    const bool traced = IsHandlerTraced();
    if (traced) {
        tString text("Begin Skip ");
        if (file->IsQuery()) {
            text += "Query";
        } else {
            text += "File ";
            text += file->GetTableName();
        }
        tString numbers;
        numbers.sprintf(" ID %u Count %.0f From Record %.0f", static_cast<u32>(id),
                        static_cast<f64>(count), file->GetRecno());
        text += numbers;
        file->StatusText(text);
        TraceHandler("Skip", text);
    }
    const bool moved = file->Skip(count);
    PutMoveReply(in, *file, moved);
    if (!traced) return;
    tString text;
    if (moved) {
        text.sprintf("End Skip to %.0f", file->GetRecno());
    } else {
        text = "End Skip - [NO_RECORD_FOUND]";
    }
    file->StatusText(text);
    TraceHandler("Skip", text);
}

void tDBServer::Seek() {
    tCommBuffer& in = *GetCommBuffer();
    i16 id = 0;
    i16 keyFields = 0;
    i16 keyLength = 0;
    u8 lock = 0;
    u8 soft = 0;
    in.GetShort(id);
    in.GetShort(keyFields);
    in.GetShort(keyLength);
    in.GetByte(lock);
    in.GetByte(soft);
    if (in.IsMalformed()) return;
    tGenericFile* file = GetFile(id);  // not owned: the open-file table keeps it
    if (!file) {
        in.Reset();
        in.PutReturnCode(RC_NO_OPEN_FILE);
        return;
    }
    file->RecvRecord();  // the key, laid out as a record
    if (in.IsMalformed()) return;
    in.Reset();
    const bool traced = IsHandlerTraced();
    if (traced) {
        tString text;
        text.sprintf("Begin Seek Table %s Order %u Keys %u Length %u%s%s", file->GetTableName(),
                     static_cast<u32>(file->GetOrder()), static_cast<u32>(keyFields),
                     static_cast<u32>(keyLength), lock ? " [LOCK]" : "", soft ? " [SOFT]" : "");
        TraceHandler("Seek", text);
    }
    const i16 code = file->Seek(keyFields, keyLength, soft);
    const bool positioned = code == RC_OK || code == RC_SOFT_SEEK_GREATER;
    // A refused lock (another holder, or the record gone) leaves the position the seek reached
    // and sends no record.
    if (positioned && lock && file->Lock(0, RecnoToLock(file->GetRecno())) != RC_OK) {
        in.PutReturnCode(RC_LOCKED);
        file->SendStatus();
        return;
    }
    in.PutReturnCode(code);
    if (positioned) file->SendRecord();
    file->SendStatus();
    if (!traced) return;
    tString text;
    text.sprintf("End Seek : Return %i RECNO %.0f", code, file->GetRecno());
    file->StatusText(text);
    TraceHandler("Seek", text);
}
