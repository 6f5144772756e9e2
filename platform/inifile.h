// Ini files: a reader and writer that reads Windows ini files as the Windows private-profile
// functions do, and replaces a file only through a temporary file renamed over it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace plat {

// The longest value a read gives: the Windows readers return at most 254 characters.
constexpr std::size_t kIniValueMax = 254;

// Reading (any thread, no lock: a write replaces the file whole, so a reader sees the old or the
// new file). Section and key names match without regard to ASCII case, with the blanks around
// them ignored; only the first section of a name is read, and in it the first line of the key.
// A value loses its surrounding blanks, then a matching pair of surrounding quotes (' or "), and
// is cut to kIniValueMax bytes. Lines end in CR LF, LF or CR. Bytes at or above 0x80 are kept.

// The key's value; the default (null: empty, trailing blanks dropped, cut to kIniValueMax) when
// the file, section or key is missing or cannot be read, or the key's line has no '='.
std::string IniReadString(const char* path, const char* section, const char* key, const char* def);
// The value read as an optional sign and the decimal digits that follow it (0 without digits,
// modulo 2^32 when longer); the default when the key is missing or its value is empty.
std::int32_t IniReadInt(const char* path, const char* section, const char* key, std::int32_t def);
// The name of every section header, in file order.
std::vector<std::string> IniReadSectionNames(const char* path);

// Writing (any thread; one process-wide lock serialises every write, so two writes never lose
// each other's change). The file and the section are created when missing; the rest of the file
// stays byte for byte. New lines end in CR LF.

// Sets the key in the section; a null value deletes the key, a null key the whole section.
// False, with the file untouched, when a text is refused (CR or LF anywhere, '[' or ']' in the
// section, '=' in the key, a key that begins with '['), when the file exists but cannot be
// read, or when the write fails: the old file then stays whole.
bool IniWriteString(const char* path, const char* section, const char* key, const char* value);
// Replaces the whole file with the given bytes (temporary file, then rename), under the same
// lock as IniWriteString. False when the write fails; the old file then stays whole.
bool IniReplaceFile(const char* path, const char* data, std::size_t size);

}  // namespace plat
