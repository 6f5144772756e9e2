// A copy of the real pellmar in console mode whose client library for one database type is the
// recording ODBC driver.
#pragma once
#include <string>

#include "tests/client/support/recordingpellmar.h"
#include "tests/client/support/scriptfile.h"
#include "tests/server/process/support/programprocess.h"

namespace gmtest {

class RecodbcPellmar : public RecordingPellmar {
public:
    explicit RecodbcPellmar(TempDir& dir) : RecordingPellmar(dir, tRecording::Odbc) {}

    // Starts pellmar with the driver as the [dbType] client library; moreGeneral: further
    // [General] lines, moreIni: further sections ("Key=value\r\n" lines).
    ::testing::AssertionResult Start(const std::string& dbType, const std::string& script,
                                     const std::string& moreGeneral = "",
                                     const std::string& moreIni = "") {
        return RecordingPellmar::Start(
            [&](u16 port) {
                return RecordingDriverIni(port, "ThreadMin=2\r\nThreadInc=1\r\n" + moreGeneral,
                                          dbType) +
                       moreIni;
            },
            script);
    }
};

}  // namespace gmtest
