// tIniFile over the platform's ini layer.
#include "lib_common/inifile.h"

#include <cstdio>
#include <string>

#include "platform/inifile.h"

tIniFile::tIniFile(const char* fileName, const char* defaultSection) {
    SetFile(fileName, defaultSection);
}

tIniFile::~tIniFile() = default;

void tIniFile::SetFile(const char* fileName, const char* defaultSection) {
    if (fileName) this->fileName = fileName;
    if (defaultSection) this->defaultSection = defaultSection;
}

const char* tIniFile::Section(const char* section) const {
    return section ? section : defaultSection.GetText();
}

void tIniFile::ReadString(const char* section, const char* key, const char* def,
                          tString& out) const {
    out = plat::IniReadString(fileName, Section(section), key, def).c_str();
}

i32 tIniFile::ReadInt(const char* section, const char* key, i32 def) const {
    return plat::IniReadInt(fileName, Section(section), key, def);
}

u8 tIniFile::ReadBool(const char* section, const char* key, u8 def) const {
    return ReadInt(section, key, def ? 1 : 0) != 0 ? 1 : 0;
}

bool tIniFile::WriteString(const char* section, const char* key, const char* value) {
    return plat::IniWriteString(fileName, Section(section), key, value);
}

bool tIniFile::WriteInt(const char* section, const char* key, i32 value) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", value);
    return WriteString(section, key, text);
}

bool tIniFile::WriteBool(const char* section, const char* key, u8 value) {
    return WriteString(section, key, value ? "1" : "0");
}

bool tIniFile::DeleteSection(const char* section) {
    return plat::IniWriteString(fileName, Section(section), nullptr, nullptr);
}

bool tIniFile::DeleteKey(const char* section, const char* key) {
    return key && plat::IniWriteString(fileName, Section(section), key, nullptr);
}

void tIniFile::ReadSectionNames(tList<tString>& names) const {
    for (const std::string& name : plat::IniReadSectionNames(fileName)) {
        names.Add(new tString(name.c_str()));
    }
}
