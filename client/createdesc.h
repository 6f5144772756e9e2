// The table-creation descriptor: a field list made and filled locally through the exports and
// sent by GM_CreateFile, which then frees it.
#pragma once
#include <vector>

#include "client/handles.h"
#include "lib_base/stringz.h"
#include "lib_base/types.h"

class tCommBuffer;

// One field of the table to create. The values travel in the order the server reads them:
// size (the field length; for N the total width), width (for N the total width, which the
// server takes as the field length) and decimals.
struct tCreateSlot {
    static constexpr size_t kMaxName = 17;  // characters; longer names are cut
    u8 type = 0;
    u16 size = 0;
    u16 width = 0;
    u16 decimals = 0;
    char name[kMaxName + 1] = {};
};

// Used by one thread at a time, as its handle is.
class tCreateDescriptor : public tHandleObject {
public:
    // count slots, all zeroed; count must not be negative.
    tCreateDescriptor(i16 count, u8 flag1, u8 flag2);

    // Fills slot n (from 0) and gives it; null when n is outside the slots.
    tCreateSlot* SetField(i16 n, const char* name, u8 type, u16 size, u16 width, u16 decimals);
    // Appends the field count and the slots to a GM_CreateFile request.
    void PutFields(tCommBuffer& buffer) const;

private:
    // Kept for the caller; nothing in the system reads them.
    u16 flag1;
    u16 flag2;
    tString comment;
    std::vector<tCreateSlot> slots;
};
