// A table file's description for diagnosis: its state, the record as its statement last read
// it, its memos, then the generic part. Reading it changes nothing in the file.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "server/isam/dbconn.h"
#include "server/isam/gatemill.h"
#include "server/tables/dbtable.h"

namespace {

constexpr size_t kShownMemoBytes = 1024;

const char* OkOrNull(const void* p) { return p ? "OK" : "NULL"; }

// A character column's value, never read past its buffer.
std::string ColumnText(const tColumnDesc& d) {
    if (d.type == 'N') {
        char text[32];
        std::snprintf(text, sizeof text, "%.15g", d.value.number);
        return text;
    }
    const size_t limit = d.bufferLength > 0 ? static_cast<size_t>(d.bufferLength) : 0;
    return std::string(d.value.text, strnlen(d.value.text, limit));
}

f64 ColumnNumber(const tColumnDesc& d) {
    return d.type == 'N' ? d.value.number : std::strtod(ColumnText(d).c_str(), nullptr);
}

}  // namespace

void tISAMFile::DumpInfo(tString& out) {
    tString line;
    out += "\n[ISAM FILE INFORMATION]\n";
    line.sprintf("Open Mode ................: %s%s\n", exclusive ? "[EXCLUSIVE]" : "[SHARED]",
                 readOnly ? " [READONLY]" : " ");
    out += line;
    out += "Mapper Fields ............: ";
    out += mapText;
    out += "\n";
    line.sprintf("Mirror Structure .........: %s\n", OkOrNull(mirror.get()));
    out += line;
    line.sprintf("Table Statement ..........: %s\n", OkOrNull(fetchStmt.get()));
    out += line;
    line.sprintf("Deleted Filter ...........: %s\n", deletedFilter ? "ON" : "OFF");
    out += line;
    line.sprintf("Control Flags ............: %s%s%s\n", filterChanged ? "[FLTCHG] " : "",
                 needFirst ? "[NEEDFIRST] " : "", srvDirty ? "[SRVDIRTY] " : "");
    out += line;
    line.sprintf("Current Order ............: %u\n", static_cast<u32>(order));
    out += line;
    line.sprintf("Filter Condition Count ...: %u\n", static_cast<u32>(filterList.Count()));
    out += line;
    line.sprintf("Current Record ...........: %.0f\n", GetRecno());
    out += line;
    out += "Current Locks (Thread) ...: ";
    for (i32 i = 0; i < lockedList.Count(); ++i) {
        if (i > 0) out += ",";
        line.sprintf("%.0f", lockedList.Get(i));
        out += line;
    }
    out += lockedList.Count() > 0 ? "\n" : "NONE\n";
    if (fetchStmt && mirror) DumpRecord(out);
    if (blobList.Count() > 0) DumpMemos(out);
    // The file's definition is its mirror, with its field map and joined fields.
    DumpGeneric(out, mirror.get());
}

void tISAMFile::DumpRecord(tString& out) {
    tString line;
    out += "\n[CURRENT RECORD CONTENT]\n";
    const tColumnDesc* columns = fetchStmt->GetColumns();
    for (i16 c = 0; columns && c < fetchStmt->GetColumnCount(); ++c) {
        const tColumnDesc& d = columns[c];
        const i16 no = FindFieldNo(*mirror, d.name);
        if (no < 0) {
            line.sprintf("Field [%20s] ERROR : NOT FOUND IN MIRROR.\n", d.name);
        } else if (d.type != 'N' && !d.value.text) {
            line.sprintf("Field [%20s] ERROR : INVALID CONTENT.", d.name);
        } else {
            const u8 type = mirror->GetField(no)->GetType();
            if (type == 'N') {
                line.sprintf("Field [%20s] [N] [%f]\n", d.name, ColumnNumber(d));
            } else if (type == 'C' || type == 'L' || type == 'D') {
                line.sprintf("Field [%20s] [%c] [%s]\n", d.name, type, ColumnText(d).c_str());
            } else {
                line.sprintf("Field [%20s] [%c]\n", d.name, type);
            }
        }
        out += line;
    }
}

void tISAMFile::DumpMemos(tString& out) {
    tString line;
    out += "\n[BLOBLIST CONTENT]\n";
    for (i32 i = 0; i < blobList.Count(); ++i) {
        const tBlobNode& node = *blobList.Get(i);
        if (node.fieldIndex >= mirror->GetFieldCount()) continue;
        // A memo may be far longer than a description can hold: its start is enough.
        const int shown = static_cast<int>(std::min(node.value.size(), kShownMemoBytes));
        line.sprintf(
            "Field [%20s] Dirty [%s] MustRead [%s] Record [%10.0f] Content[%.*s] Length [%u]\n",
            mirror->GetField(node.fieldIndex)->GetName(), node.dirty ? "Y" : "N",
            node.mustRead ? "Y" : "N", node.recno, shown, node.value.data(),
            static_cast<u32>(node.value.size()));
        out += line;
    }
}
