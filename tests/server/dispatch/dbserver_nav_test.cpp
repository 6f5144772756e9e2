// Navigation requests over a real loopback socket on files that answer as scripted: the replies
// of found and failed moves, free ids, the seek's codes with and without the lock flag, a short
// seek key, and the operation log's texts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lib_common/opcodes.h"
#include "lib_common/retcodes.h"
#include "tests/server/dispatch/support/scriptedfile.h"
#include "tests/support/gmtest.h"

namespace {

using gmtest::Long;
using gmtest::Short;
using Calls = std::vector<std::string>;

const std::string kRecord = std::string("\0\0\0\0\0\0\x1c\x40", 8) + "REC";  // 7.0 and "REC"

std::string Status(bool bof, bool eof, bool found) {
    return std::string(1, bof) + static_cast<char>(eof) + static_cast<char>(found) + Long(0);
}

using gmtest::Holds;

std::string SeekRequest(i16 id, u8 lock, u8 soft) {
    return Short(id) + Short(2) + Short(10) + static_cast<char>(lock) + static_cast<char>(soft) +
           Long(1234);
}

class DBServerNav : public gmtest::TableHandlerTest {
protected:
    // A connected client with SA1010 open as id 1, and id 2 closed again (free).
    std::unique_ptr<gmtest::Session> OpenSa1010() {
        auto session = OpenConnected();
        const std::string request = std::string("SA1010") + '\0' + '\0' + '\0';
        EXPECT_EQ(session->Exchange(OP_OPEN, request).substr(0, 4), Short(0) + Short(1));
        EXPECT_EQ(session->Exchange(OP_OPEN, request).substr(0, 4), Short(0) + Short(2));
        EXPECT_EQ(session->Exchange(OP_CLOSE, Short(2)), Short(0));
        TakeCalls();
        return session;
    }
};

TEST_F(DBServerNav, MovesAnswerTheRecordAndStatusOrNoRecordAndStatus) {
    const struct {
        i16 opcode;
        std::string args;  // after the id
        const char* call;
    } cases[] = {{OP_FIRST, "", "GoTop"},           {OP_LAST, "", "GoBottom"},
                 {OP_GO, Long(5), "GoTo 5 reread"}, {OP_GO, Long(-1), "GoTo -1 reread"},
                 {OP_SKIP, Long(-3), "Skip -3"},    {OP_SKIP, Long(0), "Skip 0"}};
    auto session = OpenSa1010();
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.call));
        files.moves = true;
        EXPECT_EQ(session->Exchange(c.opcode, Short(1) + c.args),
                  Short(0) + kRecord + Status(false, false, true));
        files.moves = false;
        EXPECT_EQ(session->Exchange(c.opcode, Short(1) + c.args),
                  Short(RC_NO_RECORD) + Status(true, true, false));
        EXPECT_EQ(TakeCalls(), (Calls{c.call, c.call}));
        EXPECT_EQ(session->Exchange(c.opcode, Short(2) + c.args), Short(RC_NO_OPEN_FILE));
        EXPECT_TRUE(TakeCalls().empty());
    }
    session->Disconnect();
    session->End();
}

TEST_F(DBServerNav, SeekAnswersTheFileCodeAndLocksOnlyWhatItFound) {
    const struct {
        i16 seekCode;
        u8 lock;
        i16 lockCode;
        std::string reply;
        Calls calls;
    } cases[] = {
        {0, 0, 0, Short(0) + kRecord + Status(false, false, true), {}},
        {RC_SOFT_SEEK_GREATER, 0, 0, Short(-28) + kRecord + Status(false, false, false), {}},
        {RC_NO_RECORD, 0, 0, Short(-25) + Status(false, true, false), {}},
        {RC_FAILED, 0, 0, Short(-19) + Status(false, false, false), {}},
        {0, 1, 0, Short(0) + kRecord + Status(false, false, true), {"Lock 0 7"}},
        {RC_SOFT_SEEK_GREATER,
         1,
         0,
         Short(-28) + kRecord + Status(false, false, false),
         {"Lock 0 7"}},
        {0, 1, RC_LOCKED, Short(RC_LOCKED) + Status(false, false, true), {"Lock 0 7"}},
        {0, 1, RC_NO_RECORD, Short(RC_LOCKED) + Status(false, false, true), {"Lock 0 7"}},
        {RC_NO_RECORD, 1, 0, Short(-25) + Status(false, true, false), {}},
    };
    auto session = OpenSa1010();
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.seekCode) + " lock " + std::to_string(c.lock) + " " +
                     std::to_string(c.lockCode));
        files.seekCode = c.seekCode;
        files.lockCode = c.lockCode;
        EXPECT_EQ(session->Exchange(OP_SEEK, SeekRequest(1, c.lock, 1)), c.reply);
        Calls calls{"RecvRecord 1234", "Seek 2 10 1"};
        calls.insert(calls.end(), c.calls.begin(), c.calls.end());
        EXPECT_EQ(TakeCalls(), calls);
    }
    // A free id answers before the key is read.
    EXPECT_EQ(session->Exchange(OP_SEEK, SeekRequest(2, 1, 0)), Short(RC_NO_OPEN_FILE));
    EXPECT_TRUE(TakeCalls().empty());
    session->Disconnect();
    session->End();
}

TEST_F(DBServerNav, SeekWithAShortKeyEndsTheConnectionWithoutSeeking) {
    auto session = OpenSa1010();
    ASSERT_TRUE(session->Send(gmtest::Request(
        OP_SEEK, Short(1) + Short(2) + Short(10) + '\0' + '\0' + std::string("\x01\x02", 2))));
    session->Join();
    EXPECT_EQ(TakeCalls(), (Calls{"RecvRecord 0"}));
    session->End();
    EXPECT_EQ(gmtest::ReadFrame(*session->client), gmtest::kClosed);
}

TEST_F(DBServerNav, OperationLogCarriesTheMoveTexts) {
    StartGlobals("UseTraceLog=1\n");
    ScriptFiles();
    auto session = OpenSa1010();
    gmtest::ConsoleCapture console;
    session->Exchange(OP_GO, Short(1) + Long(-1));
    session->Exchange(OP_FIRST, Short(1));
    session->Exchange(OP_SKIP, Short(1) + Long(2));
    session->Exchange(OP_SEEK, SeekRequest(1, 1, 1));
    files.moves = false;
    session->Exchange(OP_LAST, Short(1));
    session->Exchange(OP_SKIP, Short(1) + Long(-2));
    session->Disconnect();
    const std::string text = console.Get();
    // The details carry the trace's own lines, each from its "-- ".
    const char* const details[] = {
        "Details: -- Goto 4294967295 on Table SA1010 [OK] [FOUND]\n",
        "Details: -- First Recno 7 on Table SA1010 [OK] [FOUND]\n",
        "Details: -- Begin Skip File SA1010 ID 1 Count 2 From Record 7 [FOUND]"
        "-- End Skip to 7 [FOUND]\n",
        "Details: -- Begin Seek Table SA1010 Order 2 Keys 2 Length 10 [LOCK] [SOFT]"
        "-- End Seek : Return 0 RECNO 7 [FOUND]\n",
        "Details: -- Last Recno  on Table SA1010 [NO_RECORD_FOUND] [BOF] [EOF]\n",
        "Details: -- Begin Skip File SA1010 ID 1 Count -2 From Record 7 [BOF] [EOF]"
        "-- End Skip - [NO_RECORD_FOUND] [BOF] [EOF]\n",
    };
    for (const char* detail : details) EXPECT_TRUE(Holds(text, detail)) << detail << "\n" << text;
    session->End();
}

}  // namespace
