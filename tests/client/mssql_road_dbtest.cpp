// The main road of an application on SQL Server, end to end: the real pellmar over the SQL
// Server connection whose client library is the recording ODBC driver, reached through the
// shared library's GM_ functions; the statements as the driver's log shows them, the rows as its
// script answers them.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "client/gatemillapi.h"
#include "tests/client/support/mssqlserved.h"

namespace {

using gmtest::Count;
using gmtest::MSSQLSessionScript;

constexpr int16_t kNoRecord = -25;

// One answer of the record fetch: CODE, PRICE, D_E_L_E_T_, R_E_C_N_O_.
std::string Fetched(const std::string& code, const std::string& price, const std::string& recno) {
    return "RESULT\tSELECT * FROM dbo.ROAD TBL WHERE TBL.R_E_C_N_O_ = ?\n"
           "COLUMN\tCODE\t12\t8\nCOLUMN\tPRICE\t8\t15\nCOLUMN\tD_E_L_E_T_\t12\t1\n"
           "COLUMN\tR_E_C_N_O_\t4\t10\nROW\t" +
           code + "\t" + price + "\t \t" + recno + "\n";
}

// The key cursors in CODE order, without and with the filter, the records they name, the query
// and the table list, each on a child session of its own.
std::string RoadScript() {
    return MSSQLSessionScript("51") +
           "RESULT\tSELECT R_E_C_N_O_ FROM dbo.ROAD ORDER BY CODE,R_E_C_N_O_\n"
           "COLUMN\tR_E_C_N_O_\t4\t10\nROW\t2\nROW\t1\n" +
           Fetched("K0", "0.5", "2") + Fetched("K1", "1.5", "1") +
           "RESULT\tSELECT R_E_C_N_O_ FROM dbo.ROAD WHERE *\nCOLUMN\tR_E_C_N_O_\t4\t10\nROW\t1\n" +
           MSSQLSessionScript("60") +
           "RESULT\tSELECT CODE, PRICE FROM ROAD\nCOLUMN\tCODE\t12\t10\nCOLUMN\tPRICE\t8\t15\n"
           "ROW\tK1\t1.5\nROW\tK0\t0.5\n" +
           MSSQLSessionScript("61") +
           "RESULT\tSELECT name FNAMF1 FROM sysobjects WHERE sysstat & 0xf in (3) and name not "
           "like '#%' and name not like '%FK' ORDER BY name\n"
           "COLUMN\tFNAMF1\t12\t128\nROW\tGML_FIELD\nROW\tROAD\n";
}

// A work area read through the local accessors.
struct Area {
    GM_HANDLE db = 0;
    int16_t wa = 0;

    std::string Text(const char* field, size_t length) const {
        const char* at = GM_GetInternalFld(db, static_cast<uint16_t>(wa), field);
        return at ? std::string(at, strnlen(at, length)) : "(no field)";
    }
    double Number(const char* field) const {
        double value = -1;
        if (const char* at = GM_GetInternalFld(db, static_cast<uint16_t>(wa), field)) {
            std::memcpy(&value, at, sizeof value);
        }
        return value;
    }
    // "CODE PRICE RECNO" of the current record.
    std::string Values() const {
        return Text("CODE", 8) + " " + std::to_string(Number("PRICE")).substr(0, 3) + " " +
               std::to_string(GM_RecNo(db, static_cast<uint16_t>(wa)));
    }
    std::string Describe(int16_t index) const {
        return gmtest::DescribeField(db, static_cast<uint16_t>(wa), index);
    }
};

class MSSQLRoad : public gmtest::MSSQLServed {};

TEST_F(MSSQLRoad, CreateOpenAppendWalkFilterQueryAndList) {
    Start(RoadScript());
    const GM_HANDLE db = Connected();

    // The table in the SQL Server form, and the field registry's row of its N field.
    size_t mark = Log().size();
    const GM_HANDLE fields = GM_GetCreateStruct(2, 0, 0);
    ASSERT_NE(GM_SetCreateField(fields, 0, "CODE", 'C', 8, 0, 0), nullptr);
    ASSERT_NE(GM_SetCreateField(fields, 1, "PRICE", 'N', 12, 12, 2), nullptr);
    ASSERT_EQ(GM_CreateFile(db, "ROAD", fields), 0) << Error(db);
    const std::string created = LogFrom(mark);
    EXPECT_TRUE(gmtest::InOrder(
        created,
        {"\tCREATE TABLE dbo.ROAD(CODE VARCHAR(8) NOT NULL CONSTRAINT ROAD_CODE_DF DEFAULT "
         "'        ',PRICE FLOAT NOT NULL CONSTRAINT ROAD_PRICE_DF DEFAULT 0,D_E_L_E_T_ "
         "VARCHAR(1) NOT NULL CONSTRAINT ROAD_D_E_L_E_T__DF DEFAULT ' ',R_E_C_N_O_ INT NOT NULL "
         "CONSTRAINT ROAD_R_E_C_N_O__DF DEFAULT 0)\n",
         "\tDELETE FROM dbo.GML_FIELD WHERE FIELD_TABLE ='dbo.ROAD'\n",
         "\tINSERT INTO dbo.GML_FIELD(FIELD_TABLE,FIELD_NAME,FIELD_TYPE,FIELD_PREC,FIELD_DEC) "
         "VALUES('dbo.ROAD','PRICE','P','12','2')\n",
         "\tALTER TABLE dbo.ROAD ADD CONSTRAINT ROAD_PK PRIMARY KEY CLUSTERED (R_E_C_N_O_)\n"}));

    Area road{db, GM_Open(db, "ROAD", 0, 0)};
    ASSERT_GT(road.wa, 0) << Error(db);
    EXPECT_EQ(road.Describe(0), "CODE C 8 8 0");
    EXPECT_EQ(road.Describe(1), "PRICE F 8 12 2");
    ASSERT_EQ(GM_CreateIndex(db, road.wa, "ROAD1", "CODE"), 0) << Error(db);
    EXPECT_EQ(Count(Log(), "\tCREATE INDEX ROAD1 ON dbo.ROAD(CODE,R_E_C_N_O_,D_E_L_E_T_)\n"), 1u);

    // An append takes the next record number.
    GM_InitRecord(db, road.wa, 0);
    ASSERT_EQ(GM_SetInternalFld(db, road.wa, "CODE", "K1"), 2);
    const double price = 1.5;
    ASSERT_EQ(GM_SetInternalFld(db, road.wa, "PRICE", &price), 8);
    ASSERT_EQ(GM_Write(db, road.wa, 0), 0) << Error(db);
    EXPECT_EQ(GM_RecNo(db, road.wa), 1);
    EXPECT_EQ(Count(Log(),
                    "\tINSERT INTO dbo.ROAD(CODE,PRICE,R_E_C_N_O_) VALUES ( 'K1      '"
                    ",1.5000000000,1)\n"),
              1u)
        << Log();
    ASSERT_EQ(GM_FUnLock(db, road.wa), 0);

    // In CODE order: the key cursor names records 2 and 1, each read by the record fetch.
    ASSERT_EQ(GM_SetKey(db, road.wa, 2), 0) << Error(db);
    mark = Log().size();
    ASSERT_EQ(GM_First(db, road.wa, 0, 0), 0) << Error(db);
    EXPECT_EQ(road.Values(), "K0 0.5 2");
    ASSERT_EQ(GM_Skip(db, road.wa, 0, 1, 0), 0) << Error(db);
    EXPECT_EQ(road.Values(), "K1 1.5 1");
    EXPECT_EQ(GM_Skip(db, road.wa, 0, 1, 0), kNoRecord);
    EXPECT_EQ(GM_Eof(db, road.wa), 1);
    EXPECT_TRUE(gmtest::InOrder(
        LogFrom(mark),
        {"\tSET ROWCOUNT 40\n", "\tSELECT R_E_C_N_O_ FROM dbo.ROAD ORDER BY CODE,R_E_C_N_O_\n",
         "\tSELECT * FROM dbo.ROAD TBL WHERE TBL.R_E_C_N_O_ = ? [1='2']\n",
         "\tSELECT * FROM dbo.ROAD TBL WHERE TBL.R_E_C_N_O_ = ? [1='1']\n"}));

    // A filter with a containment and a substring without a length, in their SQL Server forms.
    mark = Log().size();
    ASSERT_EQ(GM_ChgQuery(db, road.wa, "'CODE *CT \"K\" *AND %SST(CODE 2) *EQ \"1\"'"), 0)
        << Error(db);
    ASSERT_EQ(GM_First(db, road.wa, 0, 0), 0) << Error(db);
    EXPECT_EQ(road.Values(), "K1 1.5 1");
    EXPECT_EQ(GM_Skip(db, road.wa, 0, 1, 0), kNoRecord);
    EXPECT_EQ(Count(LogFrom(mark),
                    "\tSELECT R_E_C_N_O_ FROM dbo.ROAD WHERE (CHARINDEX('K',CONVERT(CHAR(8),CODE))"
                    ">0  AND  SUBSTRING(CODE,2,7) = '1') ORDER BY CODE,R_E_C_N_O_\n"),
              1u)
        << LogFrom(mark);

    // A query runs on a child session: a VARCHAR(10) column (its descriptor holds 11 bytes with
    // the terminator) is C 10, a number N 15,8.
    Area query{db, GM_Query(db, "SELECT CODE, PRICE FROM ROAD")};
    ASSERT_GT(query.wa, 0) << Error(db);
    EXPECT_EQ(query.Describe(0), "CODE C 10 10 0");
    EXPECT_EQ(query.Describe(1), "PRICE F 8 15 8");
    ASSERT_EQ(GM_First(db, query.wa, 0, 0), 0);
    EXPECT_EQ(query.Text("CODE", 10), "K1");
    EXPECT_EQ(query.Number("PRICE"), 1.5);
    ASSERT_EQ(GM_Skip(db, query.wa, 0, 1, 0), 0);
    EXPECT_EQ(query.Text("CODE", 10), "K0");
    EXPECT_EQ(GM_Skip(db, query.wa, 0, 1, 0), kNoRecord);

    // The table list, while the query is open, on a second child.
    Area files{db, GM_Open(db, "GML_FILES", 0, 0)};
    ASSERT_GT(files.wa, 0) << Error(db);
    std::vector<std::string> tables;
    for (int16_t status = GM_First(db, files.wa, 0, 0); status == 0 && tables.size() < 9;
         status = GM_Skip(db, files.wa, 0, 1, 0)) {
        std::string name = files.Text("FNAMF1", 128);
        name.erase(name.find_last_not_of(' ') + 1);
        tables.push_back(name);
    }
    EXPECT_EQ(tables, (std::vector<std::string>{"GML_FIELD", "ROAD"}));
    const std::string all = Log();
    EXPECT_EQ(Count(all, "\tSELECT @@SPID AS PARAM_SESSION\n"), 3u) << "one main, two children";
    EXPECT_EQ(GM_Close(db, files.wa), 0);
    EXPECT_EQ(GM_Close(db, query.wa), 0);
    EXPECT_EQ(GM_Close(db, road.wa), 0);
}

}  // namespace
