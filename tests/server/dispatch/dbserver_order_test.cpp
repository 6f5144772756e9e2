// The index order, the deleted-rows switch and the field map over a client connection, with a
// scripted open file: each reaches the file as sent, its code comes back, and its trace line
// says what was set.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lib_common/opcodes.h"
#include "lib_common/retcodes.h"
#include "server/dispatch/dbserver.h"
#include "server/runtime/gmlthreads.h"
#include "tests/server/dispatch/support/recordfile.h"
#include "tests/support/gmtest.h"

namespace {

using gmtest::Short;

using Lines = std::vector<std::string>;

class OrderHandlers : public gmtest::RecordHandlerTest {};

TEST_F(OrderHandlers, SettingsReachTheFileAndItsCodeComesBack) {
    const struct {
        i16 opcode;
        std::string args;  // after the file id
        std::string call;
        std::string trace;
    } cases[] = {
        {OP_SETKEY, Short(2), "SetOrder 2",
         "(tDBServer::SetKey) -- Set Order to 2 on Table SA1010"},
        {OP_SETKEY, Short(-1), "SetOrder -1",
         "(tDBServer::SetKey) -- Set Order to 4294967295 on Table SA1010"},
        {OP_SETDELEON, "\x07", "SetDeletedFilter 7",
         "(tDBServer::SetDeleOn) -- Set Deleted Filter ON on Table SA1010"},
        {OP_SETDELEON, std::string(1, '\0'), "SetDeletedFilter 0",
         "(tDBServer::SetDeleOn) -- Set Deleted Filter OFF on Table SA1010"},
        {OP_SETFIELDMAP, std::string("A1_COD,A1_NOME") + '\0', "SrvMap A1_COD,A1_NOME",
         "(tDBServer::SrvMap) -- Set Mapper Fields A1_COD,A1_NOME on Table SA1010"},
        {OP_SETFIELDMAP, std::string(1, '\0'), "SrvMap ",
         "(tDBServer::SrvMap) -- Set Mapper [OFF] on Table SA1010"},
    };
    for (const i16 code : {RC_OK, RC_BAD_INDEX, RC_FAILED}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(c.trace + " " + std::to_string(code));
            file.code = code;
            file.calls.clear();
            auto session = OpenWithFile();
            session->server->GetProperties()->SetTraced(1);
            EXPECT_EQ(session->Exchange(c.opcode, Short(1) + c.args), Short(code));
            EXPECT_EQ(session->Exchange(c.opcode, Short(2) + c.args), Short(RC_NO_OPEN_FILE));
            session->Disconnect();
            EXPECT_EQ(file.Calls(), Lines{c.call});
            Lines traces = gmtest::TakeTraces(*session->server);
            ASSERT_FALSE(traces.empty());
            EXPECT_EQ(traces[0], c.trace);
            session->End();
        }
    }
}

}  // namespace
