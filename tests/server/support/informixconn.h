// An Informix connection over the recording driver for the driver's tests: its session number
// scripted, connected, the log cleared.
#pragma once
#include <memory>

#include "server/drivers/informix.h"
#include "tests/server/support/odbcdialect.h"

namespace gmtest {

constexpr const char* kInformixSessionQuery =
    "select dbinfo('sessionid') as param_session from systables where tabid = 1";

// The connection of user to the data source RECDSN through loader (not connected), which the
// driver will find scripted to answer the session number.
inline std::unique_ptr<tInformixConnection> InformixConnection(RecordingDriver& rec,
                                                               tODBCLibrary& loader,
                                                               const char* user = "infx") {
    ScriptRows(rec, kInformixSessionQuery, {"param_session"}, {{"4711"}});
    return std::make_unique<tInformixConnection>("INFORMIX", tString("RECDSN"), tString(user),
                                                 tString("pw"), loader);
}

// The same, connected, with the driver's log cleared.
inline std::unique_ptr<tInformixConnection> ConnectedInformix(RecordingDriver& rec,
                                                              tODBCLibrary& loader,
                                                              const char* user = "infx") {
    auto conn = InformixConnection(rec, loader, user);
    EXPECT_TRUE(conn->Connect());
    rec.ClearLog();
    return conn;
}

}  // namespace gmtest
