// The generic ODBC driver end to end: the real pellmar in console mode serving the harness's
// SQLite data source gm_sqlite as "ODBC/gm_sqlite", reached through the shared library's GM_
// functions, with IsamConnection and ReadOnly switched on for the ODBC type in its gatemill.ini.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "client/gatemillapi.h"
#include "tests/client/support/pellmarserved.h"
#include "tests/support_db/db_env.h"

namespace {

constexpr const char* kEnvironment = "ODBC/gm_sqlite";

using gmtest::ErrorOf;

// The field's bytes in the work area's record buffer, up to its declared length.
std::string FieldText(GM_HANDLE db, uint16_t wa, const char* name, size_t length) {
    const char* bytes = GM_GetInternalFld(db, wa, name);
    return bytes ? std::string(bytes, strnlen(bytes, length)) : "<none>";
}

class GenericProgram : public ::testing::Test {
protected:
    void SetUp() override {
        gmtest::DbEnv();  // the harness's ODBCINI, which the program inherits
        port = pellmar.Port();
        ASSERT_NE(port, 0);
        gmtest::WriteFileText(dir.File("gatemill.ini"),
                              "[General]\r\nPort=" + std::to_string(port) +
                                  "\r\nThreadMin=2\r\nThreadInc=1\r\n[ODBC]\r\nIsamConnection=1\r\n"
                                  "ReadOnly=1\r\n");
        ASSERT_TRUE(gmtest::StartWithDriverLeaks(pellmar, dir));
        program = &pellmar.Program();
        int16_t status = -1;
        db = Connect(status);
        ASSERT_EQ(status, 0) << program->Output();
        table =
            "gm_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name());
        Execute("DROP TABLE IF EXISTS " + table);
        ASSERT_EQ(Execute("CREATE TABLE " + table + " (CODE varchar(6), PRICE double)"), 0)
            << ErrorOf(db);
    }
    void TearDown() override {
        if (db) Execute("DROP TABLE IF EXISTS " + table);
        pellmar.Stop();
    }
    int16_t Execute(const std::string& sql) { return GM_Execute(db, sql.c_str(), 0); }
    GM_HANDLE Connect(int16_t& status) {
        return pellmar.Connection(status, kEnvironment, "gatemill generic");
    }

    gmtest::TempDir dir;
    gmtest::PellmarRun pellmar;
    u16 port = 0;
    gmtest::ProgramRun* program = nullptr;
    GM_HANDLE db = 0;
    std::string table;  // the test's own, named after it
};

TEST_F(GenericProgram, CheckUpReportsTheODBCBlockAndMakesNoCatalogueTables) {
    EXPECT_TRUE(program->WaitFor("--------------- ODBC Connection Check-Up ------------------\n"))
        << program->Output();
    EXPECT_TRUE(program->WaitFor("[INFO] Initial CheckUp - ISAM OPERATIONS NOT SUPPORTED.\n"))
        << program->Output();
    const int16_t wa =
        GM_Query(db, "SELECT count(*) AS N FROM sqlite_master WHERE name LIKE 'GML%'");
    ASSERT_GT(wa, 0) << ErrorOf(db);
    ASSERT_EQ(GM_First(db, static_cast<uint16_t>(wa), 0, 0), 0) << ErrorOf(db);
    double tables = -1;
    std::memcpy(&tables, GM_GetInternalFld(db, static_cast<uint16_t>(wa), "N"), sizeof tables);
    EXPECT_EQ(tables, 0.0);  // no GML_ table was made
    GM_Close(db, static_cast<uint16_t>(wa));
}

TEST_F(GenericProgram, WritesRunAndAQueryReadsThemBack) {
    ASSERT_EQ(Execute("INSERT INTO " + table + " VALUES ('A1', 2.5)"), 0) << ErrorOf(db);
    ASSERT_EQ(Execute("INSERT INTO " + table + " VALUES ('B22', 7)"), 0) << ErrorOf(db);
    ASSERT_EQ(Execute("UPDATE " + table + " SET PRICE = 8.25 WHERE CODE = 'B22'"), 0)
        << ErrorOf(db);

    const std::string query = "SELECT CODE, PRICE FROM " + table + " ORDER BY CODE";
    const int16_t wa = GM_Query(db, query.c_str());
    ASSERT_GT(wa, 0) << ErrorOf(db);
    ASSERT_EQ(GM_GetColCount(db, wa), 2);
    char name[30] = "";
    uint8_t type = 0;
    uint16_t declared = 0;
    uint16_t decimals = 0;
    ASSERT_EQ(GM_GetFieldDesc(db, wa, 0, name, &type, nullptr, &declared, &decimals), 0);
    EXPECT_STREQ(name, "CODE");
    EXPECT_EQ(type, 'C');
    const uint16_t codeLength = declared;
    EXPECT_GT(codeLength, 0);
    ASSERT_EQ(GM_GetFieldDesc(db, wa, 1, name, &type, nullptr, &declared, &decimals), 0);
    EXPECT_STREQ(name, "PRICE");
    EXPECT_EQ(type, 'F');  // N as the client library reports it
    EXPECT_EQ(declared, 15);
    EXPECT_EQ(decimals, 8);

    ASSERT_EQ(GM_First(db, wa, 0, 0), 0) << ErrorOf(db);
    EXPECT_EQ(FieldText(db, wa, "CODE", codeLength).substr(0, 2), "A1");
    double price = 0;
    std::memcpy(&price, GM_GetInternalFld(db, wa, "PRICE"), sizeof price);
    EXPECT_EQ(price, 2.5);
    ASSERT_EQ(GM_Skip(db, wa, 0, 1, 0), 0) << ErrorOf(db);
    EXPECT_EQ(FieldText(db, wa, "CODE", codeLength).substr(0, 3), "B22");
    std::memcpy(&price, GM_GetInternalFld(db, wa, "PRICE"), sizeof price);
    EXPECT_EQ(price, 8.25);
    EXPECT_NE(GM_Skip(db, wa, 0, 1, 0), 0);
    GM_Close(db, static_cast<uint16_t>(wa));
}

TEST_F(GenericProgram, TablesAreNeitherOpenedNorFound) {
    EXPECT_EQ(GM_Open(db, table.c_str(), 0, 0), -19);
    EXPECT_NE(ErrorOf(db).find("[WARNING] OpenFile only supported when IsamConnection is "
                               "ENABLED.\n"),
              std::string::npos)
        << ErrorOf(db);
    EXPECT_EQ(GM_CanOpen(db, table.c_str(), ""), -11);
}

}  // namespace
