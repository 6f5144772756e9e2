// The column changes that the alteration tests hand to a driver's AlterTable or AlterStructure.
#pragma once
#include <vector>

#include "lib_base/list.h"
#include "server/isam/dbconn.h"

namespace gmtest {

// One column: its name, type and length before and after, and the change flags.
struct Action {
    const char* name;
    u8 oldType;
    u16 oldLength;
    u8 newType;
    u16 newLength;
    u16 flags;
};

// Appends the actions to list (which owns them), with 0 decimals before and after.
inline void Fill(tArray<tActionField>& list, const std::vector<Action>& actions) {
    for (const Action& a : actions) {
        auto* f = new tActionField(a.name, a.newType, a.newLength, 0);
        f->oldType = a.oldType;
        f->oldLength = a.oldLength;
        f->actions = a.flags;
        list.Add(f);
    }
}

}  // namespace gmtest
