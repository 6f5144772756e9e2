// The MySQL connection's decisions that need no server: which duplicate-key texts name the
// record-number key, and the refusal of names that are no identifiers before any SQL.
#include "server/drivers/mysql.h"

#include <gtest/gtest.h>

#include <string>

#include "lib_common/retcodes.h"
#include "server/tables/dbtable.h"
#include "tests/server/support/testprocess.h"

namespace {

class MySQLOffline : public ::testing::Test {
protected:
    gmtest::TestDBProcess process;
    tMySQLConnection conn{"MYSQL", "nowhere", "user", "secret"};
};

TEST_F(MySQLOffline, RecordNumberKeyIsNamedByPrimaryOrKeyOne) {
    const tTableDefinition def("SA1010", "nowhere");
    const struct {
        const char* message;
        bool recno;
    } cases[] = {
        {"Duplicate entry '5' for key 'PRIMARY'", true},         // MariaDB 10.11
        {"Duplicate entry '5' for key 'sa1010.PRIMARY'", true},  // MySQL 8
        {"Duplicate entry '5' for key 'SA1010.primary'", true},
        {"Duplicate entry '5' for key 'OTHER.PRIMARY'", false},
        {"Duplicate entry '5' for key 1", true},  // old servers
        {"Duplicate entry '5' for key 1 ", true},
        {"Duplicate entry '5' for key 12", false},  // another key
        {"Duplicate entry 'A' for key 'SA1010_UNQ'", false},
        {"Duplicate entry 'for key 1' for key 2", true},  // a plain substring test
        {"Table 'x' doesn't exist", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        conn.SetError(1062, "tTest::Write", c.message, nullptr);
        EXPECT_EQ(conn.IsRecnoKeyError(def), c.recno);
    }
    EXPECT_TRUE(conn.IsDuplicateKey(1062));
    EXPECT_FALSE(conn.IsDuplicateKey(1146));
    EXPECT_FALSE(conn.IsDuplicateKey(-10102));
}

TEST_F(MySQLOffline, NamesThatAreNoIdentifiersAreRefusedBeforeAnySQL) {
    tAutoArray<tActionField> actions;
    actions.Add(new tActionField("NAME", 'C', 10, 0));
    actions.Get(0)->actions = tActionField::kAdd;
    EXPECT_FALSE(conn.AlterTable("T1 x", actions, 0));
    tString text;
    EXPECT_EQ(conn.GetLastErrorInfo(text), RC_FAILED);
    EXPECT_NE(std::string(text.GetText()).find("Table [T1 x] Error - Invalid Table Name."),
              std::string::npos);
    actions.Add(new tActionField("BAD-NAME", 'C', 10, 0));
    EXPECT_FALSE(conn.AlterStructure("T1", actions, 0));
    conn.GetLastErrorInfo(text);
    EXPECT_NE(std::string(text.GetText()).find("Table [T1] Error - Invalid Field Name [BAD-NAME]."),
              std::string::npos);
    EXPECT_FALSE(conn.CanOpen("T1;", nullptr));
    EXPECT_EQ(conn.GetRecCount("T1 T2"), -1.0);
    EXPECT_FALSE(conn.ClearTable("T1 T2"));
}

TEST_F(MySQLOffline, EmptyAlterationSucceedsWithoutWork) {
    tAutoArray<tActionField> none;
    EXPECT_TRUE(conn.AlterTable("T1", none, 0));
}

}  // namespace
