// Fuzz target of the client library's reply parser: the structure of a table open and the
// record replies that follow, as the work area reads them. Whatever the bytes, a parse that
// succeeds leaves every field inside the record buffer, which the target then writes through.
//
// Input: flags byte (bit 0 short records, bit 1 index lists after the status block), then the
// reply payload from the work area's handle on; what follows a successful open is read as
// record replies, each followed by a status block.
#include <cstdint>
#include <cstring>

#include "client/workarea.h"
#include "lib_common/commbuffer.h"
#include "lib_common/fieldsize.h"
#include "tests/fuzz/fuzzcheck.h"

namespace {

// Every field lies inside the record, and a write through each stays there.
void CheckLayout(tClientWorkArea& area) {
    static const char value[] = "0123456789abcdef0123456789abcdef";
    for (i32 i = 0; i < area.GetFieldCount(); ++i) {
        const tClientField& field = *area.GetField(i);
        const u64 end =
            u64{field.offset} + FieldRecordSize(field.type, static_cast<i32>(field.length));
        FUZZ_CHECK(end <= static_cast<u64>(area.GetRecordSize()));
        area.WriteField(field, value);
        FUZZ_CHECK(area.GetNullFlag(i) != nullptr);
    }
    FUZZ_CHECK(area.GetNullFlag(area.GetFieldCount()) == nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > tCommBuffer::kMaxFrameLength - 8) return 0;
    const bool shortRecords = (data[0] & 1) != 0;
    const bool withIndexes = (data[0] & 2) != 0;
    tCommBuffer buffer;
    const u32 frameLength = static_cast<u32>(size - 1 + tCommBuffer::kHeaderSize);
    buffer.Prepare(frameLength);
    std::memcpy(buffer.GetReceivePtr(0), &frameLength, 4);
    std::memcpy(buffer.GetReceivePtr(4), data + 1, size - 1);
    buffer.SetReceived(frameLength);

    tClientWorkArea area(buffer, shortRecords);
    if (!area.ReadHandle() || !area.ReadStructure() || !area.ReadStatus()) return 0;
    if (withIndexes && !area.ReadIndexes()) return 0;
    CheckLayout(area);
    while (buffer.GetBytesLeft() > 0 && area.ReadRecord() && area.ReadStatus()) {
        CheckLayout(area);
    }
    return 0;
}
