// Session requests that touch no table.
#include <gtest/gtest.h>

#include <string>

#include "lib_common/opcodes.h"
#include "tests/server/dispatch/support/dbserverfixture.h"

namespace {

class DBServerSession : public gmtest::DBServerTest {
protected:
    void SetUp() override { ScriptConnections(); }
};

// The client library refuses a server whose build text is older than it needs, so the text
// must come back bare: no return code before it.
TEST_F(DBServerSession, BuildAnswersTheBareBuildNumber) {
    auto session = OpenConnected();
    EXPECT_EQ(session->Exchange(OP_BUILD), std::string("20110117") + '\0');
    EXPECT_EQ(session->Exchange(OP_BUILD, "ignored"), std::string("20110117") + '\0');
    session->Disconnect();
    session->End();
}

}  // namespace
