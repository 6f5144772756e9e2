// The application type, configuration name and prefix of the process.
#include <cctype>
#include <cstring>

#include "lib_base/misc.h"

namespace {

constexpr size_t kMaxIniName = 15;

// Written at start, before other threads run; read-only afterwards.
char appType = 0;
char iniName[kMaxIniName + 1] = "hvn7srv.ini";
char appPrefix[kMaxIniName + 1] = "HVN7";

void UpdatePrefix() {
    const char* srv = std::strstr(iniName, "srv");
    const size_t length = srv ? static_cast<size_t>(srv - iniName) : std::strlen(iniName);
    for (size_t i = 0; i < length; ++i) {
        appPrefix[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(iniName[i])));
    }
    appPrefix[length] = '\0';
}

}  // namespace

const char* SelectAppType(char type) {
    if (appType == 0) appType = type;
    const bool seven = static_cast<unsigned char>(appType) < '8';
    std::strcpy(iniName, seven ? "hvn7srv.ini" : "hvn8srv.ini");
    iniName[3] = appType;  // the type stands in for the digit; 0 ends the name there
    UpdatePrefix();
    return appPrefix;
}

char GetAppType() { return appType; }

const char* GetAppIniName() { return iniName; }

void SetAppIniName(const char* name) {
    std::strncpy(iniName, name ? name : "", kMaxIniName);
    iniName[kMaxIniName] = '\0';
}

const char* GetAppPrefix() { return appPrefix; }
