// Typed parameter values bound by their letters against the private PostgreSQL (WIN1252) and
// MariaDB (latin1) servers, in both ODBC modes: each value comes back from the database as the
// database itself formats it, and a value that is not what its letter says is refused before
// the statement runs, leaving it prepared.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "server/drivers/odbc.h"
#include "server/tables/dbtable.h"
#include "tests/server/support/odbctargets.h"
#include "tests/server/support/testprocess.h"
#include "tests/support/gmtest.h"
#include "tests/support_db/db_env.h"

namespace {

// Each parameter comes back as text, formatted by the database.
constexpr const char* kPgEcho =
    "SELECT CAST(? AS VARCHAR(20)), CAST(? AS VARCHAR(20)), "
    "CAST(CAST(? AS NUMERIC(10,2)) AS VARCHAR(20)), CAST(CAST(? AS FLOAT8) AS VARCHAR(20)), "
    "CAST(CAST(? AS INTEGER) AS VARCHAR(20)), CAST(TO_CHAR(CAST(? AS DATE), 'YYYY-MM-DD') AS "
    "VARCHAR(20)), CAST(TO_CHAR(CAST(? AS TIMESTAMP), 'YYYY-MM-DD HH24:MI:SS.MS') AS "
    "VARCHAR(30)), CAST(ENCODE(CAST(? AS BYTEA), 'hex') AS VARCHAR(20)), "
    "CAST(COALESCE(CAST(? AS VARCHAR(5)), 'null') AS VARCHAR(5)), "
    "CAST(COALESCE(CAST(CAST(? AS FLOAT8) AS VARCHAR(20)), 'null') AS VARCHAR(20))";
constexpr const char* kMariaEcho =
    "SELECT CAST(? AS CHAR(20)), CAST(? AS CHAR(20)), CAST(CAST(? AS DECIMAL(10,2)) AS CHAR(20)), "
    "CAST(? AS CHAR(20)), CAST(? AS CHAR(20)), CAST(DATE_FORMAT(?, '%Y-%m-%d') AS CHAR(20)), "
    "CAST(DATE_FORMAT(?, '%Y-%m-%d %H:%i:%s.%f') AS CHAR(30)), CAST(LOWER(HEX(?)) AS CHAR(20)), "
    "CAST(COALESCE(?, 'null') AS CHAR(5)), CAST(COALESCE(?, 'null') AS CHAR(20))";

std::unique_ptr<tDATAField> Text(u8 type, const std::string& text, i16 length = -1) {
    const i16 n = length >= 0 ? length : static_cast<i16>(text.size());
    std::unique_ptr<tDATAField> f;
    if (type == 'D') {
        f = std::make_unique<tDateField>("", type, n, 0);
    } else if (type == 'T') {
        f = std::make_unique<tDateTimeField>("", type, n, 0);
    } else {
        f = std::make_unique<tCharField>("", type, n, 0);
    }
    f->SetData(text.data(), text.size());
    return f;
}

template <class T>
std::unique_ptr<tDATAField> Number(u8 type, i16 length, T value) {
    auto f = std::make_unique<tNumericField>("", type, length, 0);
    f->SetData(&value, sizeof value);
    return f;
}

class RealParams : public ::testing::TestWithParam<gmtest::tOdbcTarget> {
protected:
    void SetUp() override {
        ASSERT_TRUE(gmtest::KeepDriverManagerLoaded());
        const gmtest::DbSettings& db = gmtest::DbEnv();
        process.SetIni("General", "ODBC30", GetParam().odbc3 ? "1" : "0");
        const bool pg = GetParam().postgres;
        conn = std::make_unique<tODBCConnection>(
            GetParam().dbType, tString((pg ? db.pgDsn : db.mariaDsn).c_str()),
            tString((pg ? db.pgUser : db.mariaUser).c_str()),
            tString((pg ? db.pgPassword : db.mariaPassword).c_str()), loader);
        ASSERT_TRUE(conn->Connect()) << LastError();
        stmt = std::make_unique<tODBCStatement>(conn.get());
        ASSERT_TRUE(stmt->Prepare(pg ? kPgEcho : kMariaEcho, "tTest::Prepare")) << LastError();
    }

    std::string LastError() {
        tString text;
        conn->GetLastErrorInfo(text);
        return text.GetText();
    }

    // The values of every letter; date is the 'D' value's text.
    std::unique_ptr<tAutoArray<tDATAField>> Values(const std::string& date) {
        auto list = std::make_unique<tAutoArray<tDATAField>>();
        list->Add(Text('C', "it's").release());
        list->Add(Text('A', "A\xe7\xe3o").release());
        list->Add(Text('B', "12.50").release());
        list->Add(Number<f64>('N', 15, 2.5).release());
        list->Add(Number<i32>('E', 4, 7).release());
        list->Add(Text('D', date, 24).release());
        auto stamp = Text('T', "2010-12-25 10:20:30.123", 24);
        stamp->SetFirstUnit(1);
        stamp->SetLastUnit(7);
        list->Add(stamp.release());
        auto image = std::make_unique<tImageField>("", 'I', 3, 0);
        image->SetData("\x00\x0a\xff", 3);
        list->Add(image.release());
        list->Add(Text('X', "1").release());
        list->Add(Text('X', "2").release());
        return list;
    }

    std::vector<std::string> Row() {
        std::vector<std::string> row;
        EXPECT_TRUE(stmt->Fetch()) << LastError();
        for (i16 c = 0; c < stmt->GetColumnCount(); ++c) {
            tString text;
            row.push_back(stmt->FieldAsString(text, c).GetText());
        }
        return row;
    }

    gmtest::TestDBProcess process;
    gmtest::ConsoleCapture console;
    tODBCLibrary loader;
    std::unique_ptr<tODBCConnection> conn;
    std::unique_ptr<tODBCStatement> stmt;
};

TEST_P(RealParams, EveryLetterReachesTheDatabaseAsItsValue) {
    ASSERT_TRUE(stmt->BindParam(Values("25/12/2010"))) << LastError();
    const std::vector<std::string> want = {
        "it's",
        "A\xe7\xe3o",
        "12.50",
        "2.5",
        "7",
        "2010-12-25",
        GetParam().postgres ? "2010-12-25 10:20:30.123" : "2010-12-25 10:20:30.123000",
        "000aff",
        "null",
        "null"};
    EXPECT_EQ(Row(), want);
}

TEST_P(RealParams, BadDateIsRefusedAndTheStatementStaysPrepared) {
    EXPECT_FALSE(stmt->BindParam(Values("31/02/2010")));
    tString text;
    EXPECT_EQ(conn->GetLastErrorInfo(text), -19);
    EXPECT_NE(std::string(text.GetText()).find("Invalid date in parameter 6 [31/02/2010]."),
              std::string::npos)
        << text.GetText();
    ASSERT_TRUE(stmt->BindParam(Values("29/02/2012"))) << LastError();
    EXPECT_EQ(Row().at(5), "2012-02-29");
}

INSTANTIATE_TEST_SUITE_P(Databases, RealParams, ::testing::ValuesIn(gmtest::kOdbcTargets),
                         gmtest::OdbcTargetName);

}  // namespace
