// Columns, typed parameter values and index definitions.
#include <cstring>

#include "lib_base/gmlassert.h"
#include "lib_common/fieldsize.h"
#include "server/tables/dbtable.h"

namespace {

// A value's length is 16 bits wide; callers read it back signed, but a buffer holds all of it.
u32 ValueBytes(i16 length) { return static_cast<u16>(length); }

}  // namespace

tField::tField(const char* name, u8 type, i16 length, u16 decimals, bool isData, bool fetch)
    : name(name), type(type), length(length), decimals(decimals), isData(isData), fetch(fetch) {}

i16 tField::GetDataSize() const {
    // Letters of a fixed record size answer it; every other letter its declared length.
    const u32 fixed = FieldRecordSize(type, 0);
    return fixed > 0 ? static_cast<i16>(fixed) : length;
}

bool tField::IsEmpty(const char* record) const {
    const char* value = record + offset;
    switch (type) {
        case 'C':
            return value[0] == '\0';
        case 'D':
        case 'L':
            return value[0] == ' ' || value[0] == '\0';
        case 'N': {
            // Byte for byte: -0.0 holds a sign bit and is not empty.
            const f64 zero = 0.0;
            return std::memcmp(value, &zero, sizeof zero) == 0;
        }
        default:
            return false;
    }
}

tDATAField::tDATAField(const char* name, u8 type, i16 length, u16 decimals)
    : tField(name, type, length, decimals, false, true) {}

void tDATAField::SetData(const void* bytes, size_t count) {
    Clear();
    const size_t n = count < GetValueSize() ? count : GetValueSize();
    if (n > 0) std::memcpy(GetData(), bytes, n);
}

tNumericField::tNumericField(const char* name, u8 type, i16 length, u16 decimals)
    : tDATAField(name, type, length, decimals) {}

tIntegerField::tIntegerField(const char* name, u8 type, i16 length, u16 decimals)
    : tDATAField(name, type, length, decimals) {}

tBufferField::tBufferField(const char* name, u8 type, i16 length, u16 decimals, u32 valueSize)
    : tDATAField(name, type, length, decimals),
      valueSize(valueSize),
      buffer(static_cast<char*>(GML_ALLOC(static_cast<size_t>(valueSize) + 1, Mem_Buffer))) {}

void tBufferField::tFree::operator()(char* block) const { GML_FREE(block); }

void tBufferField::Clear() { std::memset(buffer.get(), 0, valueSize); }

tCharField::tCharField(const char* name, u8 type, i16 length, u16 decimals)
    : tBufferField(name, type, length, decimals, ValueBytes(length)) {}

tDateField::tDateField(const char* name, u8 type, i16 length, u16 decimals)
    : tBufferField(name, type, length, decimals, ValueBytes(length)) {}

tDateTimeField::tDateTimeField(const char* name, u8 type, i16 length, u16 decimals)
    : tBufferField(name, type, length, decimals, ValueBytes(length)) {}

tImageField::tImageField(const char* name, u8 type, u32 byteLength, u16 decimals)
    : tBufferField(name, type, 0, decimals, byteLength) {}

tIndexDefinition::tIndexDefinition(const char* name, bool reverse) : name(name), reverse(reverse) {
    key.reserve(25);
}

void tIndexDefinition::AddField(i16 fieldNo) {
    GML_ASSERT(fieldNo >= 0, "tIndexDefinition::AddField - negative field number");
    key.push_back(fieldNo);
}

i16 tIndexDefinition::GetField(i32 pos) const {
    GML_ASSERT(pos >= 0 && static_cast<size_t>(pos) < key.size(), nullptr);
    return key[static_cast<size_t>(pos)];
}
