// Registry values over the ini reader and writer; the file's path is the only state.
#include "platform/registry.h"

#include <strings.h>

#include <mutex>
#include <utility>

#include "platform/inifile.h"
#include "platform/procinfo.h"

namespace plat {

namespace {

std::mutex pathLock;
std::string& ChosenPath() {  // guarded by pathLock
    static std::string path;
    return path;
}

}  // namespace

void SetRegistryFile(const std::string& path) {
    std::lock_guard<std::mutex> hold(pathLock);
    ChosenPath() = path;
}

std::string RegistryFile() {
    std::lock_guard<std::mutex> hold(pathLock);
    if (!ChosenPath().empty()) return ChosenPath();
    return ProgramDirectory() + "gatemill.ini";
}

bool RegistryKeyExists(const char* key) {
    if (!key) return false;
    for (const std::string& section : IniReadSectionNames(RegistryFile().c_str())) {
        if (strcasecmp(section.c_str(), key) == 0) return true;
    }
    return false;
}

std::string RegistryReadString(const char* key, const char* value, const char* def) {
    return IniReadString(RegistryFile().c_str(), key, value, def);
}

bool RegistryReadValue(const char* key, const char* value, std::string& out) {
    // The ini reader answers a missing value with the default: two defaults that no stored
    // value equals at once tell a missing value from any present one.
    const std::string path = RegistryFile();
    std::string text = IniReadString(path.c_str(), key, value, "\x01");
    if (text == "\x01" && IniReadString(path.c_str(), key, value, "\x02") == "\x02") return false;
    out = std::move(text);
    return true;
}

bool RegistryDeleteValue(const char* key, const char* value) {
    if (!value || !RegistryKeyExists(key)) return false;
    return IniWriteString(RegistryFile().c_str(), key, value, nullptr);
}

}  // namespace plat
