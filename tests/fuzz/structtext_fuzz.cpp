// Fuzz target of the structure texts of a table alteration and the plan made from them. Whatever
// the texts, an accepted column has an identifier for its name and no name comes twice; the plan
// has one action per old column and one per new column the old structure lacks, each with only
// the flags its kind allows.
//
// Input: the old structure text, a NUL, the new structure text (a missing NUL: no new text).
#include <cstdint>
#include <cstring>
#include <string>

#include "lib_base/gmlassert.h"
#include "lib_common/sqltext.h"
#include "server/dispatch/structtext.h"

namespace {

#define FUZZ_CHECK(cond)                                     \
    do {                                                     \
        if (!(cond)) DoAssert(__FILE__, __LINE__, #cond, 0); \
    } while (0)

constexpr u16 kChangeFlags =
    tActionField::kTypeChange | tActionField::kLengthChange | tActionField::kDecimalsChange;

void CheckColumns(const tArray<tActionField>& columns) {
    for (i32 i = 0; i < columns.Count(); ++i) {
        const tActionField& column = *columns.Get(i);
        FUZZ_CHECK(IsSqlIdentifier(column.name));
        FUZZ_CHECK(column.actions == 0);
        for (i32 j = 0; j < i; ++j) {
            FUZZ_CHECK(std::strcmp(columns.Get(j)->name, column.name) != 0);
        }
    }
}

i32 CountMissing(const tArray<tActionField>& from, const tArray<tActionField>& in) {
    i32 missing = 0;
    for (i32 i = 0; i < from.Count(); ++i) {
        bool found = false;
        for (i32 j = 0; j < in.Count() && !found; ++j) {
            found = std::strcmp(from.Get(i)->name, in.Get(j)->name) == 0;
        }
        if (!found) ++missing;
    }
    return missing;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1u << 16) return 0;
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t nul = input.find('\0');
    const std::string oldText = input.substr(0, nul);
    const std::string newText = nul == std::string::npos ? "" : input.substr(nul + 1);
    tAutoArray<tActionField> oldColumns;
    tAutoArray<tActionField> newColumns;
    const bool oldOk = ParseStructureText(oldText.c_str(), false, oldColumns);
    const bool newOk = ParseStructureText(newText.c_str(), true, newColumns);
    if (!oldOk) FUZZ_CHECK(oldColumns.Count() == 0);
    if (!newOk) FUZZ_CHECK(newColumns.Count() == 0);
    CheckColumns(oldColumns);
    CheckColumns(newColumns);
    tAutoArray<tActionField> actions;
    PlanAlterActions(oldColumns, newColumns, actions);
    const i32 added = CountMissing(newColumns, oldColumns);
    FUZZ_CHECK(actions.Count() == oldColumns.Count() + added);
    for (i32 i = 0; i < actions.Count(); ++i) {
        const tActionField& action = *actions.Get(i);
        const u16 flags = action.actions;
        if (flags & (tActionField::kAdd | tActionField::kDrop)) {
            FUZZ_CHECK(flags == tActionField::kAdd || flags == tActionField::kDrop);
            FUZZ_CHECK((flags == tActionField::kAdd) == (i >= oldColumns.Count()));
        } else {
            FUZZ_CHECK((flags & ~kChangeFlags) == 0);
            FUZZ_CHECK(i < oldColumns.Count());
        }
    }
    return 0;
}
