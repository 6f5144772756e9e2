// The index order, the deleted-rows switch, the filters and the field map over a client
// connection, with a scripted open file: each reaches the file as sent, its code comes back, and
// its trace line says what was set.
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
using gmtest::Status;

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

TEST_F(OrderHandlers, FilterReplyEndsWithTheTranslatedFlagAfterTheStatus) {
    const struct {
        std::string expression;
        i16 code;  // of the file: 0 keeps it on its record
        bool translated;
        std::string reply;
        std::string trace;
    } cases[] = {
        {"A1_COD = '1'", RC_OK, true,
         Short(RC_OK) + gmtest::SentRecord(7.0, "----") + Status() + '\x01',
         "(tDBServer::SetFilter) -- Set Filter to [A1_COD = '1'] on Table SA1010"},
        {"A1_COD $ 'X'", RC_OK, false,
         Short(RC_OK) + gmtest::SentRecord(7.0, "----") + Status() + '\0',
         "(tDBServer::SetFilter) -- Set Filter to [A1_COD $ 'X'] on Table SA1010"},
        {"", RC_NO_RECORD, true, Short(RC_NO_RECORD) + Status() + '\x01',
         "(tDBServer::SetFilter) -- Clear Filter on Table SA1010"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.trace);
        file.code = c.code;
        file.translated = c.translated;
        file.calls.clear();
        auto session = OpenWithFile();
        session->server->GetProperties()->SetTraced(1);
        EXPECT_EQ(session->Exchange(OP_FILTER, Short(1) + c.expression + '\0'), c.reply);
        EXPECT_EQ(session->Exchange(OP_FILTER, Short(2) + c.expression + '\0'),
                  Short(RC_NO_OPEN_FILE));
        session->Disconnect();
        EXPECT_EQ(file.Calls(), Lines{"SetFilter " + c.expression});
        Lines traces = gmtest::TakeTraces(*session->server);
        ASSERT_FALSE(traces.empty());
        EXPECT_EQ(traces[0], c.trace);
        session->End();
    }
}

TEST_F(OrderHandlers, ExtendedFilterPassesLevelAndExpressionAndAnswersTheFileCode) {
    for (const i16 code : {RC_OK, RC_FAILED}) {
        SCOPED_TRACE(code);
        file.code = code;
        file.calls.clear();
        auto session = OpenWithFile();
        session->server->GetProperties()->SetTraced(1);
        const std::string args = Short(-2) + "A1_NOME > 'M'" + '\0';
        EXPECT_EQ(session->Exchange(OP_FILTEREX, Short(1) + args), Short(code));
        EXPECT_EQ(session->Exchange(OP_FILTEREX, Short(2) + args), Short(RC_NO_OPEN_FILE));
        session->Disconnect();
        EXPECT_EQ(file.Calls(), Lines{"SetFilterEx -2 A1_NOME > 'M'"});
        Lines traces = gmtest::TakeTraces(*session->server);
        ASSERT_FALSE(traces.empty());
        EXPECT_EQ(traces[0],
                  "(tDBServer::SetFilterEx) -- Set Filter Extended to SA1010 Expression "
                  "[A1_NOME > 'M'] Level 4294967294");
        session->End();
    }
}

}  // namespace
