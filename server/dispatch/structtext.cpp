// Reading the structure texts of a table alteration, and planning the alteration column by
// column. The texts come from the wire: every name is checked here, once, before it can reach
// SQL, an error text or the field registry.
#include "server/dispatch/structtext.h"

#include <strings.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "lib_common/sqltext.h"

namespace {

constexpr i32 kMaxAttributeValue = 32767;
constexpr i32 kAttributeCount = 4;
constexpr u16 kBlobMemoLength = 11;

// The bytes from begin up to the first separator or end.
const char* FindSeparator(const char* begin, const char* end, char separator) {
    const void* at = std::memchr(begin, separator, static_cast<size_t>(end - begin));
    return at ? static_cast<const char*>(at) : end;
}

// Blanks around a run of digits, nothing else; an empty text is 0.
bool ReadAttributeNumber(const std::string& text, u16& value) {
    tString digits(text.c_str());
    digits.Trim();
    i32 number = 0;
    for (i32 i = 0; i < digits.GetLength(); ++i) {
        const char c = digits.At(i);
        if (c < '0' || c > '9') return false;
        number = number * 10 + (c - '0');
        if (number > kMaxAttributeValue) return false;
    }
    value = static_cast<u16>(number);
    return true;
}

// One column's attributes (between begin and end) as a column; null when not well-formed.
std::unique_ptr<tActionField> ReadColumn(const char* begin, const char* end, bool memoAsBlob) {
    std::vector<std::string> parts;
    for (const char* at = begin;;) {
        const char* stop = FindSeparator(at, end, kAttributeSeparator);
        parts.emplace_back(at, stop);
        if (stop == end) break;
        at = stop + 1;
    }
    if (parts.size() != kAttributeCount) return nullptr;
    tString name(parts[0].c_str());
    name.Trim();
    u16 length = 0;
    u16 decimals = 0;
    if (!IsSqlIdentifier(name) || parts[1].empty() || !ReadAttributeNumber(parts[2], length) ||
        !ReadAttributeNumber(parts[3], decimals)) {
        return nullptr;
    }
    const u8 type = static_cast<u8>(parts[1][0]);
    if (type == 'M' && memoAsBlob) length = kBlobMemoLength;
    return std::make_unique<tActionField>(name, type, length, decimals);
}

bool HasColumn(const tArray<tActionField>& columns, const char* name) {
    for (i32 i = 0; i < columns.Count(); ++i) {
        if (strcasecmp(columns.Get(i)->name, name) == 0) return true;
    }
    return false;
}

// The column of columns named exactly name, or null.
const tActionField* FindExact(const tArray<tActionField>& columns, const tString& name) {
    for (i32 i = 0; i < columns.Count(); ++i) {
        const tActionField* column = columns.Get(i);
        if (std::strcmp(column->name, name) == 0) return column;
    }
    return nullptr;
}

std::unique_ptr<tActionField> CopyColumn(const tActionField& column, u16 flags) {
    auto action = std::make_unique<tActionField>(column.name, column.newType, column.newLength,
                                                 column.newDecimals);
    action->actions = flags;
    return action;
}

}  // namespace

bool ParseStructureText(const char* text, bool memoAsBlob, tAutoArray<tActionField>& columns) {
    columns.Clear();
    const char* end = text + std::strlen(text);
    for (const char* at = text; at < end;) {
        const char* stop = FindSeparator(at, end, kColumnSeparator);
        if (stop > at) {
            std::unique_ptr<tActionField> column = ReadColumn(at, stop, memoAsBlob);
            if (!column || HasColumn(columns, column->name)) {
                columns.Clear();
                return false;
            }
            columns.Add(column.release());
        }
        at = stop + 1;
    }
    return true;
}

void PlanAlterActions(const tArray<tActionField>& oldColumns,
                      const tArray<tActionField>& newColumns, tAutoArray<tActionField>& actions) {
    for (i32 i = 0; i < oldColumns.Count(); ++i) {
        const tActionField& old = *oldColumns.Get(i);
        const tActionField* fresh = FindExact(newColumns, old.name);
        if (!fresh) {
            actions.Add(CopyColumn(old, tActionField::kDrop).release());
            continue;
        }
        std::unique_ptr<tActionField> action = CopyColumn(old, 0);
        if (fresh->newType != old.newType) {
            action->actions |= tActionField::kTypeChange;
            action->newType = fresh->newType;
        }
        if (fresh->newLength != old.newLength && action->newType != 'M') {
            action->actions |= tActionField::kLengthChange;
            action->newLength = fresh->newLength;
        }
        if (fresh->newDecimals != old.newDecimals) {
            action->actions |= tActionField::kDecimalsChange;
            action->newDecimals = fresh->newDecimals;
        }
        actions.Add(action.release());
    }
    for (i32 i = 0; i < newColumns.Count(); ++i) {
        const tActionField& fresh = *newColumns.Get(i);
        if (!FindExact(oldColumns, fresh.name)) {
            actions.Add(CopyColumn(fresh, tActionField::kAdd).release());
        }
    }
}
