// tConfigCache: the sorted entry table, the lookups that fill it and the chain lookups.
//
// Entry table:
//  (1) entries is sorted by key in byte order, without two equal keys.
//  (2) A key is the kind letter, the section, "/" and the key, upper-cased.
//  (3) The table is read and changed only under the cache's lock.
#include "lib_common/configcache.h"

#include <strings.h>

#include <memory>

#include "lib_common/cipher.h"

namespace {

constexpr char kKindInt = 'I';
constexpr char kKindBool = 'B';
constexpr char kKindString = 'S';
constexpr i32 kAbsentFlag = 99;  // in a chain's first sections, this or more means "not set"

tString JoinedSection(const char* type, const char* environment) {
    tString joined(type);
    joined += "/";
    joined += environment;
    return joined;
}

}  // namespace

// One cached value; only the member of its kind is meaningful.
class tConfigEntry {
public:
    explicit tConfigEntry(const tString& key) : key(key.GetText()) {}
    virtual ~tConfigEntry() = default;
    tConfigEntry(const tConfigEntry&) = delete;
    tConfigEntry& operator=(const tConfigEntry&) = delete;

    GML_CLASS_ALLOCATOR(tConfigEntry, Mem_Object)

    const tString key;
    i32 intValue = 0;
    u8 boolValue = 0;
    tString text;  // handed out as copies of its characters, never of its record
};

tConfigCache::tConfigCache(const char* iniPath)
    : tRWLock("tConfigCache"), iniFile(iniPath, nullptr) {
    entries.SetCapacity(kInitialCapacity);
}

tConfigCache::~tConfigCache() = default;

template <class Fill>
tConfigEntry* tConfigCache::Lookup(char kind, const char* section, const char* key, Fill fill) {
    const char letter[2] = {kind, '\0'};
    lookupKey = letter;
    lookupKey += section ? section : "";
    lookupKey += "/";
    lookupKey += key ? key : "";
    lookupKey.Upper();
    i32 pos = 0;
    if (entries.Search(lookupKey, pos, [](tConfigEntry* e, const tString& k, auto&) {
            return CompareText(e->key, k);
        })) {
        return entries[pos];
    }
    auto made = std::make_unique<tConfigEntry>(lookupKey);
    fill(*made);
    if (pos == entries.Count()) {
        entries.Add(made.get());
    } else {
        entries.Insert(pos, made.get());
    }
    return made.release();  // the table owns it now
}

i32 tConfigCache::GetInt(const char* section, const char* key, i32 def) {
    tWriting hold(this, __FILE__, __LINE__);
    return Lookup(kKindInt, section, key,
                  [&](tConfigEntry& made) { made.intValue = iniFile.ReadInt(section, key, def); })
        ->intValue;
}

u8 tConfigCache::GetBool(const char* section, const char* key, u8 def) {
    tWriting hold(this, __FILE__, __LINE__);
    return Lookup(kKindBool, section, key,
                  [&](tConfigEntry& made) { made.boolValue = iniFile.ReadBool(section, key, def); })
        ->boolValue;
}

void tConfigCache::GetString(const char* section, const char* key, const char* def, tString& out) {
    tWriting hold(this, __FILE__, __LINE__);
    const tConfigEntry* entry = Lookup(kKindString, section, key, [&](tConfigEntry& made) {
        iniFile.ReadString(section, key, def, made.text);
    });
    out = entry->text.GetText();  // a copy of the characters: the entry's record stays private
}

bool tConfigCache::GetStringEx(const char* type, const char* environment, const char* key,
                               const char* def, tString& out) {
    GetString(JoinedSection(type, environment), key, "", out);
    bool found = out.GetLength() > 0;
    if (!found) {
        GetString(type, key, "", out);
        found = out.GetLength() > 0;
    }
    if (!found) GetString("General", key, def, out);
    if (out.GetLength() > 0 && key && strcasecmp(key, "password") == 0) {
        const tCryptor cryptor(kIniPasswordKeyLength, kIniPasswordKey);
        const i32 length = out.GetLength();
        cryptor.Decrypt(out.GetBuffer(length + 1), static_cast<u32>(length));
        out.ReleaseBuffer(length);
    }
    return found;
}

bool tConfigCache::GetBoolEx(const char* type, const char* environment, const char* key, u8 def) {
    i32 value = GetInt(JoinedSection(type, environment), key, kAbsentFlag);
    if (value < kAbsentFlag) return value == 1;
    value = GetInt(type, key, kAbsentFlag);
    if (value < kAbsentFlag) return value == 1;
    return GetInt("General", key, def ? 1 : 0) == 1;
}

bool tConfigCache::WriteString(const char* section, const char* key, const char* value) {
    return Flushed(iniFile.WriteString(section, key, value));
}

bool tConfigCache::WriteInt(const char* section, const char* key, i32 value) {
    return Flushed(iniFile.WriteInt(section, key, value));
}

bool tConfigCache::DeleteSection(const char* section) {
    return Flushed(iniFile.DeleteSection(section));
}

bool tConfigCache::DeleteKey(const char* section, const char* key) {
    return Flushed(iniFile.DeleteKey(section, key));
}

bool tConfigCache::Flushed(bool written) {
    Flush();
    return written;
}

void tConfigCache::Flush() {
    tWriting hold(this, __FILE__, __LINE__);
    entries.Clear();
    entries.SetCapacity(kInitialCapacity);
}
