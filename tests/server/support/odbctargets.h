// The real databases that ODBC tests run against, each in both ODBC modes, and the driver
// manager kept loaded for the whole test program.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "platform/shared_library.h"
#include "server/drivers/odbc.h"

namespace gmtest {

struct tOdbcTarget {
    const char* name;
    const char* dbType;
    bool odbc3;
    bool postgres;
};

inline const tOdbcTarget kOdbcTargets[] = {
    {"pg3", "POSTGRES", true, true},
    {"pg1", "POSTGRES", false, true},
    {"maria3", "MYSQL", true, false},
    {"maria1", "MYSQL", false, false},
};

inline std::string OdbcTargetName(const ::testing::TestParamInfo<tOdbcTarget>& info) {
    return info.param.name;
}

// The driver manager stays loaded for the whole program, as in the server, which never releases
// it: its own caches then stay reachable after a test's loader lets go. True once it is loaded.
// Its installer library stays too, as in the server (tODBCLibrary::Bind).
inline bool KeepDriverManagerLoaded() {
    static plat::SharedLibrary* const installer = [] {
        auto* lib = new plat::SharedLibrary;
        lib->Open(tODBCLibrary::kInstallerFile);
        return lib;
    }();
    static plat::SharedLibrary* const resident = [] {
        auto* lib = new plat::SharedLibrary;
        lib->Open(tODBCLibrary::kDriverManagerFile);
        return lib;
    }();
    return resident->IsOpen() && installer->IsOpen();
}

}  // namespace gmtest
