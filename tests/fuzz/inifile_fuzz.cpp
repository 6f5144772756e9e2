// Fuzz target of the ini file layer. The input's file is read, then changed once through the
// writer, and read again: the change must read back as written (or be refused with the file
// untouched), and every other key of the file must read as before.
//
// Input: flags byte (bits 0-1: set, delete the key, delete the section), then the section, the
// key and the value each ended by a NUL, then the file's bytes.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/inifile.h"
#include "tests/fuzz/fuzzcheck.h"

namespace {

// Fails the run: the reader or the writer broke what it promises.

constexpr size_t kMaxNames = 24;
constexpr const char* kMissing = "\x01missing";

// A scratch directory of the process's own, removed when it exits.
std::string& ScratchDir() {
    static std::string dir;
    return dir;
}

const std::string& IniPath() {
    static const std::string path = [] {
        const char* shm = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        ScratchDir() = std::string(shm) + "/gm_inifuzz_XXXXXX";
        if (!mkdtemp(ScratchDir().data())) std::abort();
        std::atexit([] { std::filesystem::remove_all(ScratchDir()); });
        return ScratchDir() + "/gatemill.ini";
    }();
    return path;
}

void WriteFile(const std::string& bytes) {
    std::ofstream(IniPath(), std::ios::binary | std::ios::trunc) << bytes;
}

std::string ReadFile() {
    std::ifstream in(IniPath(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

std::string Trim(const std::string& s) {
    size_t begin = 0;
    size_t end = s.size();
    while (begin < end && IsBlank(s[begin])) ++begin;
    while (end > begin && IsBlank(s[end - 1])) --end;
    return s.substr(begin, end - begin);
}

bool SameName(const std::string& a, const std::string& b) {
    const std::string x = Trim(a);
    const std::string y = Trim(b);
    if (x.size() != y.size()) return false;
    for (size_t i = 0; i < x.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(x[i])) !=
            std::toupper(static_cast<unsigned char>(y[i])))
            return false;
    }
    return true;
}

// The key names the file's lines could hold: the text before each line's first '='.
std::vector<std::string> KeyNames(const std::string& text) {
    std::vector<std::string> keys;
    size_t pos = 0;
    while (pos < text.size() && keys.size() < kMaxNames) {
        size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(pos, end - pos);
        const size_t equals = line.find('=');
        if (equals != std::string::npos && line.find('\0') == std::string::npos) {
            keys.push_back(line.substr(0, equals));
        }
        pos = end + 1;
    }
    return keys;
}

// What a read of every section and key gives.
std::vector<std::string> ReadAll(const std::vector<std::string>& sections,
                                 const std::vector<std::string>& keys) {
    std::vector<std::string> values;
    for (const std::string& section : sections) {
        for (const std::string& key : keys) {
            values.push_back(
                plat::IniReadString(IniPath().c_str(), section.c_str(), key.c_str(), kMissing));
        }
    }
    return values;
}

// The value as a read gives it back: blanks, then a pair of quotes, dropped; cut to length.
std::string AsRead(const std::string& value) {
    std::string v = Trim(value);
    if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0]) {
        v = v.substr(1, v.size() - 2);
    }
    return v.substr(0, plat::kIniValueMax);
}

bool Refused(const std::string& section, const std::string& key, const std::string& value, int op) {
    const auto breaks = [](const std::string& s) {
        return s.find_first_of("\r\n") != std::string::npos;
    };
    if (breaks(section) || section.find_first_of("[]") != std::string::npos) return true;
    if (op == 2) return false;
    if (breaks(key) || key.find('=') != std::string::npos || Trim(key).rfind('[', 0) == 0) {
        return true;
    }
    return op == 0 && breaks(value);
}

// The text up to the next NUL, moving pos past it.
std::string Take(const uint8_t* data, size_t size, size_t& pos) {
    std::string text;
    while (pos < size && data[pos] != 0) text += static_cast<char>(data[pos++]);
    if (pos < size) ++pos;
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 1u << 16) return 0;
    const int op = data[0] % 3;
    size_t pos = 1;
    const std::string section = Take(data, size, pos);
    const std::string key = Take(data, size, pos);
    const std::string value = Take(data, size, pos);
    const std::string file(reinterpret_cast<const char*>(data) + pos, size - pos);
    WriteFile(file);

    std::vector<std::string> sections = plat::IniReadSectionNames(IniPath().c_str());
    if (sections.size() > kMaxNames) sections.resize(kMaxNames);
    for (std::string& name : sections) name = name.c_str();  // as a caller can name it
    sections.push_back(section);
    std::vector<std::string> keys = KeyNames(file);
    keys.push_back(key);
    const std::vector<std::string> before = ReadAll(sections, keys);

    const char* keyArg = op == 2 ? nullptr : key.c_str();
    const char* valueArg = op == 0 ? value.c_str() : nullptr;
    const bool written = plat::IniWriteString(IniPath().c_str(), section.c_str(), keyArg, valueArg);
    if (Refused(section, key, value, op)) {
        FUZZ_CHECK(!written && ReadFile() == file);
        return 0;
    }
    FUZZ_CHECK(written);

    const std::vector<std::string> after = ReadAll(sections, keys);
    for (size_t s = 0; s < sections.size(); ++s) {
        for (size_t k = 0; k < keys.size(); ++k) {
            const std::string& got = after[s * keys.size() + k];
            const bool sameSection = SameName(sections[s], section);
            if (sameSection && (op == 2 || SameName(keys[k], key))) {
                FUZZ_CHECK(got == (op == 0 ? AsRead(value) : std::string(kMissing)));
            } else {
                FUZZ_CHECK(got == before[s * keys.size() + k]);
            }
        }
    }
    if (op == 2) {
        for (const std::string& name : plat::IniReadSectionNames(IniPath().c_str())) {
            FUZZ_CHECK(!SameName(name, section));
        }
    }
    return 0;
}
