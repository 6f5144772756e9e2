// Registry values kept in an ini file in place of the Windows registry: a key path
// ("SOFTWARE\ODBC\ODBC.INI\ERP") is a section, a value a key in it.
#pragma once
#include <string>

namespace plat {

// The file that holds the registry: the program directory's gatemill.ini unless SetRegistryFile
// names another (an empty path restores that default). Any thread.
void SetRegistryFile(const std::string& path);
std::string RegistryFile();

// Whether the key exists (its section is in the file).
bool RegistryKeyExists(const char* key);
// The value's text; def when the key or the value is missing.
std::string RegistryReadString(const char* key, const char* value, const char* def);
// Deletes the value of an existing key; false when the key is missing or the file could not be
// written (it then stays whole).
bool RegistryDeleteValue(const char* key, const char* value);

}  // namespace plat
