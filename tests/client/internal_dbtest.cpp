// The service channel through the client library against the real pellmar: GM_InternalF's
// one-string answers, and the shutdown hook that stops the whole program.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "client/gatemillapi.h"
#include "tests/client/support/pellmarserved.h"

namespace {

class InternalCalls : public gmtest::PellmarServed<gmtest::PostgresDatabase> {
protected:
    // The answer to the sub-code with the parameter; the library's count (the answer's length
    // and its NUL) in length. An empty answer leaves the buffer as it was.
    static std::string Call(GM_HANDLE db, uint8_t subcode, const std::string& parameter,
                            int32_t& length) {
        char buffer[4096] = "";
        std::memcpy(buffer, parameter.data(), parameter.size());
        length = GM_InternalF(db, subcode, buffer, static_cast<int16_t>(parameter.size()),
                              sizeof buffer - 1);
        return buffer;
    }
};

TEST_F(InternalCalls, AnswersOneTextAndTheShutdownHookStopsTheServer) {
    const GM_HANDLE db = Connected();
    int32_t length = 0;
    EXPECT_EQ(Call(db, 80, "", length), "20110117");
    EXPECT_EQ(length, 9);
    Call(db, 201, "anything", length);
    EXPECT_EQ(length, 1);  // an empty answer
    const GM_HANDLE other = Connected();
    EXPECT_EQ(Call(other, 51, "KEY", length), "1");
    EXPECT_EQ(Call(db, 51, "KEY", length), "0");

    // The fault hook prints and the server keeps serving.
    Call(db, 86, "GMLGENGPF", length);
    EXPECT_EQ(length, 1);
    EXPECT_TRUE(program->WaitFor("[INTERNAL] Gml Error Test - Exception Access Violation\n"));
    EXPECT_EQ(Call(db, 80, "", length), "20110117");

    Call(db, 86, "GMLSHUTDOWN", length);
    EXPECT_EQ(length, 1);
    EXPECT_TRUE(program->WaitFor("[INTERNAL] Gml ShutDown Test\n")) << program->Output();
    EXPECT_EQ(program->Finish(), 0) << program->Output();
    program.reset();  // ended on its own: nothing left to stop
}

}  // namespace
