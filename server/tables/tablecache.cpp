// The table-definition cache: one shared definition per table and environment.
//
// Cache invariants:
//  (1) entries are in ascending byte order of key, and no two share a key.
//  (2) Keys are built and entries touched only under lock; each key owns its text.
#include <algorithm>
#include <cstddef>

#include "lib_base/gmlassert.h"
#include "lib_base/printer.h"
#include "server/tables/dbtable.h"

tString tTableCache::MakeKey(const char* table, const char* environment) {
    tString key(environment);
    key += "/";
    key += table;
    key.Upper();
    return key;
}

size_t tTableCache::LowerBound(const tString& key) const {
    const auto at = std::lower_bound(
        entries.begin(), entries.end(), key,
        [](const tEntry& entry, const tString& k) { return CompareText(entry.key, k) < 0; });
    return static_cast<size_t>(at - entries.begin());
}

bool tTableCache::IsAt(size_t pos, const tString& key) const {
    return pos < entries.size() && CompareText(entries[pos].key, key) == 0;
}

std::shared_ptr<tTableDefinitionShared> tTableCache::Find(const char* table,
                                                          const char* environment) {
    tWriting hold(&lock, __FILE__, __LINE__);
    const tString key = MakeKey(table, environment);
    const size_t pos = LowerBound(key);
    if (!IsAt(pos, key)) return nullptr;
    return entries[pos].def;
}

// Two loads of one table may race to add it (a joined table is loaded without its named lock):
// the first stays cached and both callers get it, so (1) holds.
std::shared_ptr<tTableDefinitionShared> tTableCache::Add(
    std::unique_ptr<tTableDefinitionShared> def, const char* environment) {
    GML_ASSERT(def != nullptr, "tTableCache::Add - no definition");
    tWriting hold(&lock, __FILE__, __LINE__);
    const tString key = MakeKey(def->GetName(), environment);
    const size_t pos = LowerBound(key);
    if (IsAt(pos, key)) return entries[pos].def;
    entries.insert(
        entries.begin() + static_cast<std::ptrdiff_t>(pos),
        tEntry{tString(key.GetText()), std::shared_ptr<tTableDefinitionShared>(std::move(def))});
    return entries[pos].def;
}

bool tTableCache::Remove(const char* table, const char* environment) {
    tWriting hold(&lock, __FILE__, __LINE__);
    const tString key = MakeKey(table, environment);
    const size_t pos = LowerBound(key);
    if (!IsAt(pos, key)) return false;
    entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(pos));
    return true;
}

bool tTableCache::Update(const tTableDefinition& def, const char* environment) {
    tWriting hold(&lock, __FILE__, __LINE__);
    const tString key = MakeKey(def.GetName(), environment);
    const size_t pos = LowerBound(key);
    if (!IsAt(pos, key)) return false;
    entries[pos].def->CopyFrom(def);
    return true;
}

void tTableCache::Clean(const char* reason) {
    tWriting hold(&lock, __FILE__, __LINE__);
    BasePrintf("[INFO] %s Cleaning Table Structure Cache (%i elements)...\n", reason ? reason : "",
               static_cast<int>(entries.size()));
    entries.clear();
    BasePrintf("[INFO] Table Structure Cache Cleaned.\n");
}

i32 tTableCache::GetCount() {
    tReading hold(&lock, __FILE__, __LINE__);
    return static_cast<i32>(entries.size());
}
