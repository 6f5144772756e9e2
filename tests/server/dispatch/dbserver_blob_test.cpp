// Memo reads and writes over a client connection, with a scripted open file: the file gets the
// request's values as sent and writes the reply, and the trace line names what was moved.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lib_common/opcodes.h"
#include "lib_common/retcodes.h"
#include "server/dispatch/dbserver.h"
#include "tests/server/dispatch/support/recordfile.h"
#include "tests/support/gmtest.h"

namespace {

using gmtest::Long;
using gmtest::Short;

using Lines = std::vector<std::string>;

class BlobHandlers : public gmtest::RecordHandlerTest {};

TEST_F(BlobHandlers, ReadAndWriteReachTheFileAsSentAndTraceTheFieldAsUnsigned) {
    const struct {
        i16 opcode;
        std::string args;  // after the file id
        std::string call;
        std::string trace;
    } cases[] = {
        {OP_BLOBREAD, Short(2) + Long(9) + Long(100), "BlobRead 2 9 100",
         "(tDBServer::BlobRead) -- BLOB Read on SA1010 Id  2 Recno 9 Length 100"},
        {OP_BLOBREAD, Short(-1) + Long(9) + Long(0), "BlobRead -1 9 0",
         "(tDBServer::BlobRead) -- BLOB Read on SA1010 Id  4294967295 Recno 9 Length 0"},
        {OP_BLOBWRITE, Short(3) + Long(3) + "abc", "BlobWrite 3 abc",
         "(tDBServer::BlobWrite) -- BLOB Write on SA1010 Id  3 Length 3"},
        {OP_BLOBWRITE, Short(-2) + Long(2) + "xy", "BlobWrite -2 xy",
         "(tDBServer::BlobWrite) -- BLOB Write on SA1010 Id  4294967294 Length 2"},
    };
    for (const i16 code : {RC_OK, RC_FAILED}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(c.trace + " " + std::to_string(code));
            file.code = code;
            file.calls.clear();
            auto session = OpenWithFile();
            session->server->GetProperties()->SetTraced(1);
            EXPECT_EQ(session->Exchange(c.opcode, Short(1) + c.args), Short(code));
            // A free id: -10 is the whole reply, and the file is not asked.
            EXPECT_EQ(session->Exchange(c.opcode, Short(2) + c.args), Short(RC_NO_OPEN_FILE));
            session->Disconnect();
            EXPECT_EQ(file.Calls(), Lines{c.call});
            const Lines traces = gmtest::TakeTraces(*session->server);
            ASSERT_FALSE(traces.empty());
            EXPECT_EQ(traces[0], c.trace);
            session->End();
        }
    }
}

}  // namespace
