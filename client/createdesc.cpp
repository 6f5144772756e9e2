// The table-creation descriptor: bounded slot filling and the field list of the request.
#include "client/createdesc.h"

#include <cstring>

#include "lib_base/gmlassert.h"
#include "lib_common/commbuffer.h"

tCreateDescriptor::tCreateDescriptor(i16 count, u8 flag1, u8 flag2)
    : flag1(flag1), flag2(flag2), comment("Halvorn created File") {
    GML_ASSERT(count >= 0, "negative field count");
    slots.resize(static_cast<size_t>(count));
}

tCreateSlot* tCreateDescriptor::SetField(i16 n, const char* name, u8 type, u16 size, u16 width,
                                         u16 decimals) {
    if (n < 0 || static_cast<size_t>(n) >= slots.size()) return nullptr;
    tCreateSlot& slot = slots[static_cast<size_t>(n)];
    slot.type = type;
    slot.size = size;
    slot.width = width;
    slot.decimals = decimals;
    const size_t length = name ? strnlen(name, tCreateSlot::kMaxName) : 0;
    std::memset(slot.name, 0, sizeof slot.name);
    if (length > 0) std::memcpy(slot.name, name, length);
    return &slot;
}

void tCreateDescriptor::PutFields(tCommBuffer& buffer) const {
    buffer.PutShort(static_cast<i16>(slots.size()));
    for (const tCreateSlot& slot : slots) {
        buffer.PutString(slot.name);
        buffer.PutByte(slot.type);
        buffer.PutShort(static_cast<i16>(slot.size));
        buffer.PutShort(static_cast<i16>(slot.width));
        buffer.PutShort(static_cast<i16>(slot.decimals));
    }
}
