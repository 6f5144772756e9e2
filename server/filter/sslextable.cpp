// Loading and lookups of the lexer table. Image layout (32-bit little-endian words): a 36-byte
// header (lists, tag, keyword tables, class entries, five reserved), the expression lists, the
// keyword tables, then the class entries (low, high, character: three words each).
// Loaded table:
//  (1) every list has at least one state; its row table and state records lie inside the
//      list's data, every row lies inside it and every next state is one of the list's states;
//  (2) every keyword text lies inside its table and ends there.
// Lookups rely on (1) and (2) and check only the list and state they are given.
#include "server/filter/sslextable.h"

#include <cstring>

#include "platform/files.h"
#include "server/filter/ssfile.h"
#include "server/filter/ssresource.h"
#include "server/filter/ssword.h"

namespace {

constexpr size_t kImageHeader = 36;
constexpr u32 kListHeader = 88;
constexpr u32 kRecordSize = 28;
constexpr u32 kRangeSize = 12;
constexpr u32 kKeywordHeader = 40;
constexpr u32 kKeywordEntry = 41;
constexpr u32 kClassEntry = 12;

bool ValidRows(const u8* list, u32 end, u32 states, u32 rowTable) {
    for (u32 s = 0; s < states; ++s) {
        const u32 row = ssWord(list + rowTable + 4 * s);
        if (row > end - 4) return false;
        const u32 ranges = ssWord(list + row);
        if (ranges > (end - row - 4) / kRangeSize) return false;
        for (u32 k = 0; k < ranges; ++k) {
            if (ssWord(list + row + 4 + kRangeSize * k + 8) >= states) return false;
        }
    }
    return true;
}

// Checks (1) of one list of size bytes.
bool ValidList(const u8* list, u32 size, u32 tag, SSLexList& out) {
    if (tag != 0 && ssWord(list) != tag) return false;
    const u32 end = ssWord(list + 44);
    out.states = ssWord(list + 40);
    out.rowTable = ssWord(list + 48);
    out.records = ssWord(list + 52);
    if (end < kListHeader || end > size || out.states == 0) return false;
    if (out.rowTable > end || out.states > (end - out.rowTable) / 4) return false;
    if (out.records > end || out.states > (end - out.records) / kRecordSize) return false;
    return ValidRows(list, end, out.states, out.rowTable);
}

// Checks (2) of one entry's texts and fills the entry.
bool ReadKeyword(const u8* table, u32 size, const u8* entry, SSLexKeyword& out) {
    const u32 text = ssWord(entry + 5);
    const u32 text16 = ssWord(entry + 17);
    if (text >= size || !std::memchr(table + text, 0, size - text)) return false;
    out.token = static_cast<i32>(ssWord(entry));
    out.caseInsensitive = entry[4] != 0;
    out.text = reinterpret_cast<const char*>(table + text);
    out.value = ssWord(entry + 13);
    out.text16 = nullptr;
    if (text16 == 0) return true;
    if (text16 > size - 2) return false;
    for (u32 at = text16; at <= size - 2; at += 2) {
        if (table[at] == 0 && table[at + 1] == 0) {
            out.text16 = table + text16;
            return true;
        }
    }
    return false;
}

}  // namespace

// Where an image comes from: bytes missing from a file are a read error, from memory an
// invalid table.
struct SSLexTable::Source {
    const u8* data;
    size_t size;
    const char* label;
    bool fromFile;
};

SSLexTable::SSLexTable(const void* image, size_t size, const char* label) {
    Load({static_cast<const u8*>(image), size, label, false});
}

SSLexTable::SSLexTable(FromResource, const char* resourceName) {
    const SSResource* resource = ssFindResource(resourceName);
    if (!resource) {
        ssError(kSSLexResource, kSSLexResourceMsg, resourceName);
        return;
    }
    Load({resource->data, resource->size, resourceName, false});
}

SSLexTable::SSLexTable(const char* fileName) {
    std::vector<u8> bytes;
    switch (ssReadWholeFile(fileName, false, bytes)) {
        case SSFileRead::kOpenFailed:
            ssError(kSSLexOpenFile, kSSLexOpenFileMsg, fileName, long(plat::LastFileError()));
            return;
        case SSFileRead::kReadFailed:
            ssError(kSSLexReadFile, kSSLexReadFileMsg, fileName, long(bytes.size()));
            return;
        case SSFileRead::kDone:
            break;
    }
    Load({bytes.data(), bytes.size(), fileName, true});
}

void SSLexTable::Load(const Source& source) {
    if (source.size < kImageHeader) {
        Refuse(source, source.fromFile ? kSSLexReadFile : kSSLexInvalidTable);
        return;
    }
    const u32 tag = ssWord(source.data + 4);
    if (tag != 0 && tag != kSSLexTag) {
        Refuse(source, kSSLexInvalidTable);
        return;
    }
    size_t at = kImageHeader;
    if (LoadLists(source, at) && LoadKeywordTables(source, at)) LoadClasses(source, at);
}

bool SSLexTable::LoadLists(const Source& source, size_t& at) {
    const u32 count = ssWord(source.data);
    const u32 tag = ssWord(source.data + 4);
    const i32 cutId = source.fromFile ? kSSLexReadFile : kSSLexInvalidTable;
    for (u32 i = 0; i < count; ++i) {
        if (source.size - at < kListHeader) return Refuse(source, cutId);
        const u32 size = ssWord(source.data + at + 4);
        if (size < kListHeader) return Refuse(source, kSSLexInvalidTable);
        if (size > source.size - at) return Refuse(source, cutId);
        SSLexList list;
        list.size = size;
        list.bytes = ssNewArray<u8>(size);
        std::memcpy(list.bytes.get(), source.data + at, size);
        if (!ValidList(list.bytes.get(), size, tag, list)) {
            return Refuse(source, kSSLexInvalidTable);
        }
        lists.push_back(std::move(list));
        at += size;
    }
    return true;
}

bool SSLexTable::LoadKeywordTables(const Source& source, size_t& at) {
    const u32 count = ssWord(source.data + 8);
    const i32 cutId = source.fromFile ? kSSLexKeywordTable : kSSLexInvalidTable;
    for (u32 i = 0; i < count; ++i) {
        if (source.size - at < kKeywordHeader) return Refuse(source, cutId);
        const u32 size = ssWord(source.data + at);
        const u32 entries = ssWord(source.data + at + 4);
        if (size < kKeywordHeader || entries > (size - kKeywordHeader) / kKeywordEntry) {
            return Refuse(source, kSSLexInvalidTable);
        }
        if (size > source.size - at) return Refuse(source, cutId);
        SSLexKeywordTable table;
        table.bytes = ssNewArray<u8>(size);
        std::memcpy(table.bytes.get(), source.data + at, size);
        table.entries.resize(entries);
        for (u32 e = 0; e < entries; ++e) {
            const u8* entry = table.bytes.get() + kKeywordHeader + kKeywordEntry * e;
            if (!ReadKeyword(table.bytes.get(), size, entry, table.entries[e])) {
                return Refuse(source, kSSLexInvalidTable);
            }
        }
        keywordTables.push_back(std::move(table));
        at += size;
    }
    return true;
}

bool SSLexTable::LoadClasses(const Source& source, size_t at) {
    const u32 count = ssWord(source.data + 12);
    if (count > (source.size - at) / kClassEntry) {
        return Refuse(source, source.fromFile ? kSSLexReadFile : kSSLexInvalidTable);
    }
    for (u32 i = 0; i < count; ++i, at += kClassEntry) {
        const Class entry{ssWord(source.data + at), ssWord(source.data + at + 4),
                          ssWord(source.data + at + 8)};
        if (entry.low > entry.high) return Refuse(source, kSSLexInvalidTable);
        classes.push_back(entry);
        lowestClassChar = i == 0 ? entry.low : std::min(lowestClassChar, entry.low);
        highestClassChar = std::max(highestClassChar, entry.high);
    }
    return true;
}

// Raises the refusal with its message; the table is left without lists when it returns.
bool SSLexTable::Refuse(const Source& source, i32 id) {
    lists.clear();
    keywordTables.clear();
    classes.clear();
    if (id == kSSLexReadFile) {
        ssError(id, kSSLexReadFileMsg, source.label, long(source.size));
    } else if (id == kSSLexKeywordTable) {
        ssError(id, kSSLexKeywordTableMsg, source.label);
    } else {
        ssError(id, kSSLexInvalidTableMsg, source.label);
    }
    return false;
}

u32 SSLexTable::MapCharacter(u32 character) const {
    if (character < lowestClassChar || character > highestClassChar) return character;
    for (const Class& c : classes) {
        if (c.low <= character && character <= c.high) return c.character;
    }
    return character;
}

i32 SSLexTable::transition(u32 listIndex, u32 state, u32 character) const {
    if (listIndex >= lists.size() || state >= lists[listIndex].states) return -1;
    const SSLexList& l = lists[listIndex];
    const u32 c = MapCharacter(character);
    const u8* row = l.bytes.get() + ssWord(l.bytes.get() + l.rowTable + 4 * state);
    const u32 ranges = ssWord(row);
    for (u32 k = 0; k < ranges; ++k) {
        const u8* range = row + 4 + kRangeSize * k;
        if (ssWord(range) > c) break;  // rows are sorted by their low bound
        if (c <= ssWord(range + 4)) return static_cast<i32>(ssWord(range + 8));
    }
    return -1;
}

SSLexStateRecord SSLexTable::stateRecord(u32 listIndex, u32 state) const {
    SSLexStateRecord record;
    if (listIndex >= lists.size() || state >= lists[listIndex].states) return record;
    const SSLexList& l = lists[listIndex];
    const u8* r = l.bytes.get() + l.records + kRecordSize * state;
    record.token = static_cast<i32>(ssWord(r));
    record.list = ssWord(r + 4);
    record.flags = ssWord(r + 8);
    record.keywordIndex = ssWord(r + 12);
    record.value = ssWord(r + 16);
    return record;
}

const SSLexList* SSLexTable::list(u32 index) {
    if (index >= lists.size()) {
        ssError(kSSLexListIndex, kSSLexListIndexMsg, long(index));
        return nullptr;
    }
    return &lists[index];
}

const SSLexKeywordTable* SSLexTable::keywordTable(u32 index) const {
    return index < keywordTables.size() ? &keywordTables[index] : nullptr;
}
