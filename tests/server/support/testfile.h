// A table file reduced to what the generic file leaves to its classes, for tests of the generic
// file and of what reaches a file: it never moves, and its status block holds the record-lock
// engine's counter, as a table's does.
#pragma once
#include "lib_common/retcodes.h"
#include "server/isam/gatemill.h"

namespace gmtest {

class TestFile : public tGenericFile {
public:
    using tGenericFile::tGenericFile;
    bool GoTop() override { return false; }
    bool GoBottom() override { return false; }
    bool GoTo(f64, bool) override { return false; }
    bool Skip(i32) override { return false; }
    bool Close() override { return true; }
    void SendRecord() override {}
    void SendStatus() override { PutStatus(LockEngineRecCount(*GetTableDef())); }
    f64 GetRecno() override { return 0.0; }
    i16 SetFilterEx(i16, const char*, tString&) override { return RC_FAILED; }
    bool IsQuery() override { return false; }

    tAutoArray<tBlobNode>& Blobs() { return blobList; }
    void SetFound(bool on) { found = on; }
};

}  // namespace gmtest
