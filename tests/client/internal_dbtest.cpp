// The service channel through the client library against the real pellmar: GM_InternalF's
// one-string answers, and the shutdown hook that stops the whole program.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "client/gatemillapi.h"
#include "tests/client/support/pellmarserved.h"

namespace {

// The answer to the sub-code with the parameter; the library's count (the answer's length and
// its NUL) in length. An empty answer leaves the buffer as it was.
std::string Call(GM_HANDLE db, uint8_t subcode, const std::string& parameter, int32_t& length) {
    char buffer[4096] = "";
    std::memcpy(buffer, parameter.data(), parameter.size());
    length = GM_InternalF(db, subcode, buffer, static_cast<int16_t>(parameter.size()),
                          sizeof buffer - 1);
    return buffer;
}

class InternalCalls : public gmtest::PellmarServed<gmtest::PostgresDatabase> {};
class InternalCallsMaria : public gmtest::PellmarServed<gmtest::MariaDatabase> {};

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
    // The connections still open end at once: the shutdown waits out no thread.
    EXPECT_EQ(program->Output().find("TIME-OUT"), std::string::npos) << program->Output();
    this->pellmar.Ended();  // ended on its own: nothing left to stop
    program = nullptr;
}

// Sub-code 62 drops the named trigger; a name that is no identifier drops nothing.
TEST_F(InternalCallsMaria, DropsATrigger) {
    ASSERT_TRUE(Run("create table t (a int)"));
    ASSERT_TRUE(Run("create trigger trg before insert on t for each row set new.a = new.a + 1"));
    const std::string count =
        "select count(*) from information_schema.triggers where trigger_schema = database() and "
        "trigger_name = 'trg'";
    const GM_HANDLE db = Connected();
    int32_t length = 0;
    EXPECT_EQ(Call(db, 62, "trg; drop table t", length), "0");
    EXPECT_EQ(Value(count), "1");
    EXPECT_EQ(Call(db, 62, "trg", length), "1");
    EXPECT_EQ(Value(count), "0");
    EXPECT_EQ(Value("select count(*) from t"), "0");  // the table stays
}

}  // namespace
