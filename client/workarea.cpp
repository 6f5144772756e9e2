// Work areas: parsing the structure, status and record replies within the received bytes, and
// the local field access that relies on the layout invariants of workarea.h.
#include "client/workarea.h"

#include <cstring>

#include "lib_common/commbuffer.h"
#include "lib_common/fieldsize.h"

const i32 kMaxRecordSize = static_cast<i32>(tCommBuffer::kMaxFrameLength - 4 - 2 - 8);

namespace {

// The fewest bytes a field of the structure takes: an empty name's NUL, the type, two i16.
constexpr u32 kMinFieldBytes = 6;
// The fewest bytes a pair of the changed-structure block takes: i16 index, i32 length.
constexpr u32 kChangedPairBytes = 6;

// Lays the fields out from offset 0 and gives where the last one ends.
u64 LayOut(std::vector<tClientField>& fields) {
    u64 end = 0;
    for (tClientField& field : fields) {
        field.offset = static_cast<u32>(end);
        end += FieldRecordSize(field.type, static_cast<i32>(field.length));
    }
    return end;
}

}  // namespace

bool SameText(const char* a, const char* b) {
    for (;; ++a, ++b) {
        const char x = *a >= 'a' && *a <= 'z' ? static_cast<char>(*a - 32) : *a;
        const char y = *b >= 'a' && *b <= 'z' ? static_cast<char>(*b - 32) : *b;
        if (x != y) return false;
        if (x == '\0') return true;
    }
}

tClientWorkArea::tClientWorkArea(tCommBuffer& buffer, bool shortRecords)
    : buffer(buffer), shortRecords(shortRecords), record(1, 0), nullFlags(1, 0) {}

bool tClientWorkArea::IsMalformed() const { return buffer.IsMalformed(); }

bool tClientWorkArea::ReadHandle() {
    i16 value = 0;
    buffer.GetShort(value);
    if (IsMalformed()) return false;
    handle = static_cast<u16>(value);
    return true;
}

// A record size and a count of items that follow, each of at least itemBytes: false when the
// size is out of bounds or the items cannot all be in the reply, before anything is allocated.
bool tClientWorkArea::ReadSizeAndCount(i32& size, i16& count, u32 itemBytes) {
    buffer.GetLong(size);
    buffer.GetShort(count);
    return !IsMalformed() && size >= 0 && size <= kMaxRecordSize && count >= 0 &&
           u64{static_cast<u16>(count)} * itemBytes <= buffer.GetBytesLeft();
}

bool tClientWorkArea::ReadStructure() {
    i32 size = 0;
    i16 count = 0;
    if (!ReadSizeAndCount(size, count, kMinFieldBytes)) return false;
    std::vector<tClientField> parsed(static_cast<size_t>(count));
    for (tClientField& field : parsed) {
        i16 length = 0;
        i16 decimals = 0;
        buffer.GetString(field.name);
        buffer.GetByte(field.type);
        buffer.GetShort(length);
        buffer.GetShort(decimals);
        // Lengths travel as 16 bits; read unsigned so that none is negative.
        field.length = static_cast<u16>(length);
        field.decimals = static_cast<u16>(decimals);
    }
    if (IsMalformed() || LayOut(parsed) > static_cast<u64>(size)) return false;  // (1), (3)
    fields = std::move(parsed);
    recordSize = size;
    record.assign(static_cast<size_t>(size) + 1, 0);  // (2)
    nullFlags.assign(fields.size() + 1, 0);
    return true;
}

bool tClientWorkArea::ReadStatus() {
    tFileStatus read;
    buffer.GetByte(read.bof);
    buffer.GetByte(read.eof);
    buffer.GetByte(read.third);
    buffer.GetLong(read.recCount);
    if (IsMalformed()) return false;
    status = read;
    return true;
}

bool tClientWorkArea::ReadStatusIfAny() { return buffer.GetBytesLeft() == 0 || ReadStatus(); }

bool tClientWorkArea::ReadRecord() {
    if (!shortRecords && !ReadChangedStructure()) return false;
    f64 number = 0;
    buffer.GetDouble(number);
    buffer.GetBytes(record.data(), recordSize);
    if (!shortRecords) buffer.GetBytes(nullFlags.data(), static_cast<i64>(fields.size()) + 1);
    if (IsMalformed()) return false;
    recno = number;
    return true;
}

// The block that tells of fields whose length changed since the structure: i16 changed; when
// not 0, i32 new record size, i16 n, then n pairs of i16 field index and i32 new length. Later
// offsets are laid out again by the type-size rule, as at creation.
bool tClientWorkArea::ReadChangedStructure() {
    i16 changed = 0;
    buffer.GetShort(changed);
    if (IsMalformed()) return false;
    if (changed == 0) return true;
    i32 size = 0;
    i16 count = 0;
    if (!ReadSizeAndCount(size, count, kChangedPairBytes)) return false;
    std::vector<tClientField> changedFields = fields;
    for (i16 i = 0; i < count; ++i) {
        i16 index = 0;
        i32 length = 0;
        buffer.GetShort(index);
        buffer.GetLong(length);
        if (IsMalformed() || index < 0 || index >= GetFieldCount() || length < 0) return false;
        changedFields[static_cast<size_t>(index)].length = static_cast<u32>(length);
    }
    if (LayOut(changedFields) > static_cast<u64>(size)) return false;  // (1), (3)
    fields = std::move(changedFields);
    recordSize = size;
    record.assign(static_cast<size_t>(size) + 1, 0);  // (2)
    return true;
}

bool tClientWorkArea::ReadIndexes() {
    tString names;
    tString keys;
    buffer.GetString(names);
    buffer.GetString(keys);
    if (IsMalformed()) return false;
    indexNames = names;
    indexKeys = keys;
    return true;
}

bool tClientWorkArea::ReadIndexesIfAny() { return buffer.GetBytesLeft() == 0 || ReadIndexes(); }

const tClientField* tClientWorkArea::GetField(i32 index) const {
    if (index < 0 || index >= GetFieldCount()) return nullptr;
    return &fields[static_cast<size_t>(index)];
}

const tClientField* tClientWorkArea::FindField(const char* name) const {
    if (!name) return nullptr;
    for (const tClientField& field : fields) {
        if (SameText(field.name.GetText(), name)) return &field;
    }
    return nullptr;
}

u8* tClientWorkArea::GetNullFlag(i32 index) {
    if (index < 0 || index >= GetFieldCount()) return nullptr;
    return nullFlags.data() + index;
}

void tClientWorkArea::ZeroRecord() {
    std::memset(record.data(), 0, static_cast<size_t>(recordSize));
}

i32 tClientWorkArea::WriteField(const tClientField& field, const void* value) {
    if (!value) return 0;
    u8* at = GetFieldAddress(field);  // (1): the field's bytes lie inside the record
    size_t n = 0;
    switch (field.type) {
        case 'B':
        case 'C':
        case 'O':
        case 'Y':
            n = strnlen(static_cast<const char*>(value), field.length);
            break;
        default:
            // The fixed sizes: 8 bytes for numbers and dates, 1 for L, nothing for the rest.
            n = FieldRecordSize(field.type, 0);
    }
    std::memcpy(at, value, n);
    return static_cast<i32>(n);
}
