// tIniFile: one ini file with a default section, read and written through the platform's ini
// layer with tString results.
#pragma once
#include "lib_base/list.h"
#include "lib_base/stringz.h"
#include "lib_base/types.h"

// A null section argument means the default section. An empty file name stands for the user's
// own profile, which this system does not have: reads then give the default and writes fail.
// Reads and writes may run on any thread; SetFile only while no other thread uses the object.
class tIniFile {
public:
    tIniFile(const char* fileName, const char* defaultSection);
    virtual ~tIniFile();
    tIniFile(const tIniFile&) = delete;
    tIniFile& operator=(const tIniFile&) = delete;

    void SetFile(const char* fileName, const char* defaultSection);  // null keeps a field
    const char* GetFileName() const { return fileName.GetText(); }

    // The value, cut to 254 characters, or the default when the key is missing.
    void ReadString(const char* section, const char* key, const char* def, tString& out) const;
    i32 ReadInt(const char* section, const char* key, i32 def) const;
    u8 ReadBool(const char* section, const char* key, u8 def) const;  // any non-zero value is 1
    // Writes answer false when a text holds CR or LF, the section '[' or ']', the key '=', or
    // when the file cannot be written; the file then stays as it was.
    bool WriteString(const char* section, const char* key, const char* value);
    bool WriteInt(const char* section, const char* key, i32 value);
    bool WriteBool(const char* section, const char* key, u8 value);
    bool DeleteSection(const char* section);
    bool DeleteKey(const char* section, const char* key);
    // Appends every section name, in file order, as a new string owned by the list.
    void ReadSectionNames(tList<tString>& names) const;

private:
    const char* Section(const char* section) const;

    tString fileName;
    tString defaultSection;
};
