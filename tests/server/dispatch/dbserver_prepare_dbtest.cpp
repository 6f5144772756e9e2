// Prepared statements and memo requests on the private PostgreSQL, where the connection prepares
// no statements: the refusals of a prepare and of binds on what is no prepared query, and memo
// requests on a free id or with a byte count past the request.
#include <gtest/gtest.h>

#include <string>

#include "lib_common/opcodes.h"
#include "lib_common/retcodes.h"
#include "tests/server/dispatch/support/dbserverpg.h"

namespace {

using gmtest::kClosed;
using gmtest::Long;
using gmtest::Short;

std::string Text(const std::string& text) { return text + '\0'; }
std::string OpenRequest(const std::string& table) { return Text(table) + '\0' + '\0'; }

class DBServerPrepare : public gmtest::DBServerPostgres {
protected:
    void SetUp() override {
        DBServerPostgres::SetUp();
        if (!HasFatalFailure()) MakeClientes();
    }
};

TEST_F(DBServerPrepare, PrepareTakesNoIdAndBindRefusesTablesAndFreeIds) {
    auto session = Connected();
    EXPECT_EQ(session->Exchange(OP_SQLPREPARE, Text("SELECT nome FROM clientes")),
              Short(RC_FAILED));
    // The refused prepare left id 1 free.
    ASSERT_EQ(session->Exchange(OP_OPEN, OpenRequest("CLIENTES")).substr(0, 4),
              Short(RC_OK) + Short(1));
    // A table is never bound, whatever follows the count.
    EXPECT_EQ(session->Exchange(OP_SQLBIND, Short(1) + Short(1) + "A" + Text("x")),
              Short(RC_FAILED));
    EXPECT_EQ(session->Exchange(OP_FIRST, Short(1)).substr(0, 2), Short(RC_OK))
        << "the table still reads";
    ASSERT_EQ(session->Exchange(OP_CLOSE, Short(1)), Short(RC_OK));
    // A free id: -10 before any parameter is decoded (a negative count would give -19).
    EXPECT_EQ(session->Exchange(OP_SQLBIND, Short(1) + Short(-1)), Short(RC_NO_OPEN_FILE));
    EXPECT_EQ(session->Exchange(OP_BLOBREAD, Short(1) + Short(1) + Long(1) + Long(0)),
              Short(RC_NO_OPEN_FILE));
    EXPECT_EQ(session->Exchange(OP_BLOBWRITE, Short(1) + Short(1) + Long(-3)), Short(RC_FAILED));
    session->Disconnect();
    session->End();
}

TEST_F(DBServerPrepare, BlobWritePastItsRequestEndsOnlyThatConnection) {
    auto session = Connected();
    auto other = Connected();
    ASSERT_EQ(session->Exchange(OP_OPEN, OpenRequest("CLIENTES")).substr(0, 4),
              Short(RC_OK) + Short(1));
    EXPECT_EQ(session->Exchange(OP_BLOBWRITE, Short(1) + Short(1) + Long(1000) + "abc"), kClosed);
    session->Join();
    EXPECT_EQ(Value("select count(*) from clientes"), "3");
    ASSERT_EQ(other->Exchange(OP_OPEN, OpenRequest("CLIENTES")).substr(0, 4),
              Short(RC_OK) + Short(1));
    EXPECT_EQ(other->Exchange(OP_BLOBWRITE, Short(1) + Short(1) + Long(3) + "abc"),
              Short(RC_FAILED))
        << "CLIENTES has no memo";
    other->Disconnect();
    other->End();
    session->End();
}

}  // namespace
