// The generic ODBC connection on SQLite through unixODBC and the SQLite ODBC driver (DSN
// gm_sqlite of the test harness): its configuration overrides, its catalogue answers and its
// query files. Each test works in a table of its own, dropped whatever happens.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "lib_common/commbuffer.h"
#include "server/drivers/generic.h"
#include "server/isam/gatemill_query.h"
#include "server/tables/dbtable.h"
#include "tests/server/support/odbctargets.h"
#include "tests/server/support/testprocess.h"
#include "tests/support_db/db_env.h"

namespace {

class GenericSQLite : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(gmtest::KeepDriverManagerLoaded());
        gmtest::DbEnv();  // the harness's ODBCINI names gm_sqlite
        process.SetIni("General", "ODBC30", "1");
        process.SetIni("ODBC", "IsamConnection", "1");
        process.SetIni("ODBC", "ReadOnly", "1");
        conn = std::make_unique<tGenericConnection>("ODBC", tString("gm_sqlite"), tString(""),
                                                    tString(""), loader);
        ASSERT_TRUE(conn->Connect()) << LastError();
        table =
            "gm_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name());
        ASSERT_TRUE(Run("DROP TABLE IF EXISTS " + table));
        ASSERT_TRUE(Run("CREATE TABLE " + table + " (CODE varchar(6), PRICE double)"));
    }
    void TearDown() override {
        if (conn && conn->IsConnected()) Run("DROP TABLE IF EXISTS " + table);
    }

    bool Run(const std::string& sql) {
        std::unique_ptr<tStatement> stmt(conn->NewStatement());
        return stmt->ExecDirect(sql.c_str(), "test", 1);
    }
    std::string LastError() {
        tString text;
        conn->GetLastErrorInfo(text);
        return text.GetText();
    }
    std::unique_ptr<tQueryFile> Query(const std::string& sql) {
        tString query(sql.c_str());
        return std::unique_ptr<tQueryFile>(conn->GetQueryFile(reply, 1, query));
    }

    gmtest::TestDBProcess process;
    tODBCLibrary loader;
    tCommBuffer reply;
    std::unique_ptr<tGenericConnection> conn;
    std::string table;  // the test's own, named after it
};

TEST_F(GenericSQLite, TablesAndReadOnlyModeAreOffWhateverTheConfigurationSays) {
    EXPECT_FALSE(conn->IsIsamAllowed());
    EXPECT_FALSE(conn->IsReadOnly());
    // So a write runs.
    EXPECT_TRUE(Run("INSERT INTO " + table + " VALUES ('A1', 2.5)")) << LastError();
    EXPECT_TRUE(Run("UPDATE " + table + " SET PRICE = 3 WHERE CODE = 'A1'")) << LastError();
    // SQLite's driver refuses to switch escape scanning off: that is no error.
    EXPECT_TRUE(process.LogEntries().empty());
}

TEST_F(GenericSQLite, EveryCatalogueQuestionAnswersFalse) {
    EXPECT_FALSE(conn->CanOpen(table.c_str(), nullptr));
    EXPECT_FALSE(conn->CanOpen(table.c_str(), "I1"));
    EXPECT_FALSE(conn->SPExist(table.c_str()));
    tTableDefinitionExclusive def(table.c_str(), tString("gm_sqlite"));
    EXPECT_FALSE(conn->DescribeTable(def));
    EXPECT_FALSE(conn->DescribeIndexes(def));
    EXPECT_EQ(def.GetFieldCount(), 0);
    EXPECT_EQ(def.GetIndexCount(), 0);
    EXPECT_FALSE(conn->IsMemoAsBlob());
}

TEST_F(GenericSQLite, QueryFileHasCharacterAndNumberFieldsAndTheRows) {
    ASSERT_TRUE(Run("INSERT INTO " + table + " VALUES ('A1', 2.5)"));
    ASSERT_TRUE(Run("INSERT INTO " + table + " VALUES ('B22', 7)"));
    std::unique_ptr<tQueryFile> file = Query("SELECT CODE, PRICE FROM " + table + " ORDER BY CODE");
    ASSERT_NE(file, nullptr) << LastError();
    const tTableDefinition& def = *file->GetTableDef();
    ASSERT_EQ(def.GetFieldCount(), 2);
    tStatement& stmt = file->GetStatement();
    EXPECT_STREQ(def.GetField(0)->GetName(), "CODE");
    EXPECT_EQ(def.GetField(0)->GetType(), 'C');
    EXPECT_EQ(def.GetField(0)->GetLen(), stmt.GetColumns()[0].bufferLength - 1);
    EXPECT_EQ(def.GetField(1)->GetType(), 'N');
    EXPECT_EQ(def.GetField(1)->GetLen(), 15);
    EXPECT_EQ(def.GetField(1)->GetDecimals(), 8);
    tString text;
    ASSERT_TRUE(file->GoTop());
    EXPECT_STREQ(stmt.FieldAsString(text, 0).GetText(), "A1");
    EXPECT_EQ(stmt.FieldAsDouble(1), 2.5);
    ASSERT_TRUE(file->Skip(1));
    EXPECT_STREQ(stmt.FieldAsString(text, 0).GetText(), "B22");
    EXPECT_EQ(stmt.FieldAsDouble(1), 7.0);
    EXPECT_FALSE(file->Skip(1));
}

TEST_F(GenericSQLite, StatementWithoutColumnsGivesNoFileAndError19) {
    const std::string sql = "UPDATE " + table + " SET PRICE = 1";
    EXPECT_EQ(Query(sql), nullptr);
    tString text;
    EXPECT_EQ(conn->GetLastErrorInfo(text), -19);
    EXPECT_NE(std::string(text.GetText())
                  .find(std::string("Query does not return any supported column.\nQuery : ") + sql +
                        "\n"),
              std::string::npos)
        << text.GetText();
}

TEST_F(GenericSQLite, FailedQueryLeavesTheDatabaseError) {
    EXPECT_EQ(Query("SELECT NOPE FROM " + table), nullptr);
    EXPECT_NE(LastError().find("NOPE"), std::string::npos) << LastError();
}

}  // namespace
