// Bytes a field takes in a record buffer by its type letter. The server's record layout and the
// client library's offsets both come from this one table, so both ends agree on every field.
#pragma once
#include "lib_base/types.h"

// B C E O Y: the declared length; D F G J K N: 8; L: 1; any other letter (M, H, R, X ...): 0.
// A negative length takes no bytes.
inline u32 FieldRecordSize(u8 type, i32 length) {
    switch (type) {
        case 'B':
        case 'C':
        case 'E':
        case 'O':
        case 'Y':
            return length > 0 ? static_cast<u32>(length) : 0;
        case 'D':
        case 'F':
        case 'G':
        case 'J':
        case 'K':
        case 'N':
            return 8;
        case 'L':
            return 1;
        default:
            return 0;
    }
}
