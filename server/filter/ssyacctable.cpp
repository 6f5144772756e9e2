// Loading and lookups of the parse table. Image layout (32-bit little-endian words): a 20-byte
// header (magic, counts, states, row-area offset, production-table offset), one row offset per
// state, the production table (length, left-hand symbol), the rows, then the conflict lists, each
// an expression list of the lexer table layout.
// Loaded table:
//  (1) every row lies inside the image; its shift, goto and error targets are states of the table,
//      its reduce arguments productions of the table and its conflict arguments conflict lists;
//  (2) the production table lies inside the image.
// Lookups rely on (1) and (2) and check only the state or number they are given.
#include "server/filter/ssyacctable.h"

#include <algorithm>
#include <cstring>

#include "server/filter/ssfile.h"
#include "server/filter/ssresource.h"
#include "server/filter/ssword.h"

namespace {

constexpr u32 kMagic = 0x53535943;  // the bytes "CYSS"
constexpr size_t kHeader = 20;
constexpr size_t kRowHeader = 12;
constexpr size_t kEntry = 8;
constexpr size_t kLexImageHeader = 36;
constexpr size_t kLexListHeader = 88;

void PutWord(u8* at, u32 word) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<u8>(word >> (8 * i));
}

u64 RowLength(u32 flags, u32 gotos, u32 actions) {
    if (flags & kSSYaccRowEmpty) return kRowHeader;
    return kRowHeader + kEntry * (u64(gotos) + actions + ((flags & kSSYaccRowError) ? 1 : 0));
}

}  // namespace

SSYaccAction ssYaccActionKind(u32 word) {
    if (word & kSSYaccShiftBit) return SSYaccAction::kShift;
    if (word & kSSYaccReduceBit) return SSYaccAction::kReduce;
    if (word & kSSYaccAcceptBit) return SSYaccAction::kAccept;
    if (word & kSSYaccConflictBit) return SSYaccAction::kConflict;
    return SSYaccAction::kError;
}

SSYaccTable::SSYaccTable(const void* bytes, size_t count, const char* label) {
    Load({static_cast<const u8*>(bytes), count, label});
}

SSYaccTable::SSYaccTable(const char* fileName) { LoadFile(fileName, false); }

SSYaccTable::SSYaccTable(Buffered, const char* fileName) { LoadFile(fileName, true); }

SSYaccTable::SSYaccTable(FromResource, const char* resourceName) {
    const SSResource* resource = ssFindResource(resourceName);
    if (!resource) {
        ssError(kSSYaccResource, kSSYaccResourceMsg, resourceName);
        return;
    }
    Load({resource->data, resource->size, resourceName});
}

SSYaccTable::~SSYaccTable() = default;

void SSYaccTable::LoadFile(const char* fileName, bool buffered) {
    std::vector<u8> bytes;
    switch (ssReadWholeFile(fileName, buffered, bytes)) {
        case SSFileRead::kOpenFailed:
            ssError(kSSYaccOpenFile, kSSYaccOpenFileMsg, fileName);
            return;
        case SSFileRead::kReadFailed:
            ssError(kSSYaccReadTable, kSSYaccReadTableMsg, fileName);
            return;
        case SSFileRead::kDone:
            break;
    }
    Load({bytes.data(), bytes.size(), fileName});
}

void SSYaccTable::Load(const Source& source) {
    if (source.size < kHeader) return Refuse(source.label);
    const u32 magic = ssWord(source.data);
    if (magic != 0 && magic != 1 && magic != kMagic) return Refuse(source.label);
    const u32 counts = ssWord(source.data + 4);
    const u32 stateWords = ssWord(source.data + 8);
    const u32 productionWords = counts & 0xFFFF;
    // The sum in 64 bits: in 32 it wraps and lets a huge table through.
    if (kHeader + 4 * u64(stateWords) + 8 * u64(productionWords) > 0xFFFFFFFEull) {
        ssError(kSSYaccTableTooBig, "%s", kSSYaccTableTooBigMsg);
        return;
    }
    const u32 productionTable = ssWord(source.data + 16);
    if (kHeader + 4 * u64(stateWords) > source.size ||
        productionTable + kEntry * u64(productionWords) > source.size) {
        return Refuse(source.label);
    }
    states = stateWords;
    productions = productionWords;
    size_t end = kHeader + 4 * size_t(states);
    if (!CheckRows(source, end) || !LoadConflicts(source, end, counts >> 16)) {
        return Refuse(source.label);
    }
    image = ssNewArray<u8>(source.size);
    if (source.size > 0) std::memcpy(image.get(), source.data, source.size);
    size = source.size;
}

// Checks (1) of every row; end becomes the end of the row that ends last.
bool SSYaccTable::CheckRows(const Source& source, size_t& end) {
    const u32 conflictLists = ssWord(source.data + 4) >> 16;
    for (u32 s = 0; s < states; ++s) {
        const u32 at = ssWord(source.data + kHeader + 4 * s);
        if (at > source.size || source.size - at < kRowHeader) return false;
        const u8* row = source.data + at;
        const u32 flags = ssWord(row);
        const u32 gotos = ssWord(row + 4);
        const u32 actions = ssWord(row + 8);
        const u64 length = RowLength(flags, gotos, actions);
        if (length > source.size - at) return false;
        end = std::max(end, size_t(at + length));
        if (flags & kSSYaccRowEmpty) continue;
        for (u32 i = 0; i < actions; ++i) {
            const u32 word = ssWord(row + kRowHeader + kEntry * i);
            const u32 argument = word & kSSYaccArgumentMask;
            switch (ssYaccActionKind(word)) {
                case SSYaccAction::kShift:
                    if (argument >= states) return false;
                    break;
                case SSYaccAction::kReduce:
                    if (argument >= productions) return false;
                    break;
                case SSYaccAction::kConflict:
                    if (argument >= conflictLists) return false;
                    break;
                case SSYaccAction::kAccept:
                case SSYaccAction::kError:
                    break;
            }
        }
        const u8* gotoEntries = row + kRowHeader + kEntry * actions;
        for (u32 i = 0; i < gotos; ++i) {
            if (ssWord(gotoEntries + kEntry * i) >= states) return false;
        }
        if ((flags & kSSYaccRowError) &&
            (ssWord(gotoEntries + kEntry * gotos) & kSSYaccArgumentMask) >= states) {
            return false;
        }
    }
    return true;
}

// Each conflict list becomes a lexer table of that one list.
bool SSYaccTable::LoadConflicts(const Source& source, size_t at, u32 count) {
    for (u32 i = 0; i < count; ++i) {
        if (at > source.size || source.size - at < kLexListHeader) return false;
        const u32 listSize = ssWord(source.data + at + 4);
        if (listSize < kLexListHeader || listSize > source.size - at) return false;
        std::vector<u8> lexImage(kLexImageHeader + listSize, 0);
        PutWord(lexImage.data(), 1);
        PutWord(lexImage.data() + 4, kSSLexTag);
        std::memcpy(lexImage.data() + kLexImageHeader, source.data + at, listSize);
        try {
            conflicts.push_back(
                std::make_unique<SSLexTable>(lexImage.data(), lexImage.size(), source.label));
        } catch (const SSException& e) {
            if (e.errorId() == kSSOutOfStorage) throw;
            return false;
        }
        if (conflicts.back()->listCount() != 1) return false;
        at += listSize;
    }
    return true;
}

void SSYaccTable::Refuse(const char* label) {
    states = 0;
    productions = 0;
    conflicts.clear();
    ssError(kSSYaccReadTable, kSSYaccReadTableMsg, label);
}

const u8* SSYaccTable::Row(u32 state) const {
    if (state >= states) return nullptr;
    return image.get() + ssWord(image.get() + kHeader + 4 * state);
}

u32 SSYaccTable::rowFlags(u32 state) const {
    const u8* row = Row(state);
    return row ? ssWord(row) : 0;
}

u32 SSYaccTable::actionCount(u32 state) const {
    const u8* row = Row(state);
    if (!row || (ssWord(row) & kSSYaccRowEmpty)) return 0;
    return ssWord(row + 8);
}

SSYaccEntry SSYaccTable::actionEntry(u32 state, u32 index) const {
    if (index >= actionCount(state)) return {0, 0};
    const u8* entry = Row(state) + kRowHeader + kEntry * index;
    return {ssWord(entry), static_cast<i32>(ssWord(entry + 4))};
}

bool SSYaccTable::action(u32 state, i32 token, u32& word) const {
    const u32 count = actionCount(state);
    const u8* entries = count ? Row(state) + kRowHeader : nullptr;
    for (u32 i = 0; i < count; ++i) {
        if (static_cast<i32>(ssWord(entries + kEntry * i + 4)) == token) {
            word = ssWord(entries + kEntry * i);
            return true;
        }
    }
    return false;
}

bool SSYaccTable::gotoState(u32 state, u32 symbol, u32& target) const {
    const u8* row = Row(state);
    if (!row || (ssWord(row) & kSSYaccRowEmpty)) return false;
    const u32 gotos = ssWord(row + 4);
    const u8* entries = row + kRowHeader + kEntry * ssWord(row + 8);
    for (u32 i = 0; i < gotos; ++i) {
        if (ssWord(entries + kEntry * i + 4) == symbol) {
            target = ssWord(entries + kEntry * i);
            return true;
        }
    }
    return false;
}

bool SSYaccTable::errorEntry(u32 state, u32& word) const {
    const u8* row = Row(state);
    if (!row) return false;
    const u32 flags = ssWord(row);
    if ((flags & kSSYaccRowEmpty) || !(flags & kSSYaccRowError)) return false;
    word = ssWord(row + kRowHeader + kEntry * (u64(ssWord(row + 4)) + ssWord(row + 8)));
    return true;
}

bool SSYaccTable::production(u32 n, u32& length, u32& leftSymbol) const {
    if (n >= productions) return false;
    const u8* entry = image.get() + ssWord(image.get() + 16) + kEntry * n;
    length = ssWord(entry);
    leftSymbol = ssWord(entry + 4);
    return true;
}

const SSLexTable* SSYaccTable::conflictList(u32 i) const {
    return i < conflicts.size() ? conflicts[i].get() : nullptr;
}
