// Registry values over the ini reader and writer; the file's path is the only state.
#include "platform/registry.h"

#include <strings.h>

#include <mutex>

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

bool RegistryDeleteValue(const char* key, const char* value) {
    if (!value || !RegistryKeyExists(key)) return false;
    return IniWriteString(RegistryFile().c_str(), key, value, nullptr);
}

}  // namespace plat
