// tConfigCache: the process's ini values kept in memory, with the lookup chain of database type,
// environment and "General", and the deciphering of stored passwords.
#pragma once
#include "lib_base/list.h"
#include "lib_base/rwlock.h"
#include "lib_base/stringz.h"
#include "lib_base/types.h"
#include "lib_common/inifile.h"

class tConfigEntry;

// Every value read is kept, keyed by kind, section and key without regard to case, until the
// next Flush; a missing key keeps the default it was first read with. Any thread may call any
// operation: lookups and Flush hold the cache's lock (exclusive) for the search, the file read
// and the insertion; the chain lookups take it once per section tried. Writes change the file
// first and then flush, so no lookup can keep a value older than the write.
class tConfigCache : public tRWLock {
public:
    explicit tConfigCache(const char* iniPath);
    ~tConfigCache() override;

    i32 GetInt(const char* section, const char* key, i32 def);
    void GetString(const char* section, const char* key, const char* def, tString& out);
    u8 GetBool(const char* section, const char* key, u8 def);  // 1 for any non-zero value

    // Tries the sections "type/environment", "type" and "General" in turn; an empty value counts
    // as absent. True when one of the first two had the key; the default applies only after
    // "General". A value of the key "password" (any case) comes back deciphered.
    bool GetStringEx(const char* type, const char* environment, const char* key, const char* def,
                     tString& out);
    // The same chain over integers: in the first two sections a value of 99 or more counts as
    // absent; only 1 is true.
    bool GetBoolEx(const char* type, const char* environment, const char* key, u8 def);

    // Write through the ini file, then empty the cache. False when the ini file refused the
    // texts or could not be written.
    bool WriteString(const char* section, const char* key, const char* value);
    bool WriteInt(const char* section, const char* key, i32 value);
    bool DeleteSection(const char* section);
    bool DeleteKey(const char* section, const char* key);

    void Flush();  // forgets every value; the next lookups read the file again
    tIniFile* GetIniFile() { return &iniFile; }  // owned by the cache, for whole-file operations

private:
    static constexpr i32 kInitialCapacity = 128;

    // The entry of the kind, section and key; made by fill from the file and inserted when the
    // table has none. Called with the lock held.
    template <class Fill>
    tConfigEntry* Lookup(char kind, const char* section, const char* key, Fill fill);
    bool Flushed(bool written);  // flushes after the write whose result it passes on

    // Read and written by any thread; the ini layer serialises its writes.
    tIniFile iniFile;
    // Guarded by the cache's lock.
    tAutoArray<tConfigEntry> entries;  // sorted by key, byte order
    tString lookupKey;                 // the key of the current search
};
