// Prepared statements and stored procedures end to end: the real pellmar over the SQL Server
// connection whose client library is the recording ODBC driver, reached through the shared
// library's GM_ functions; the bound values, calls and texts as the driver's log shows them.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "client/gatemillapi.h"
#include "tests/client/support/fakeserver.h"
#include "tests/client/support/mssqlserved.h"
#include "tests/client/support/wirebytes.h"

namespace {

using gmtest::Count;
using gmtest::MSSQLSessionScript;

constexpr int16_t kNoOpenFile = -10;
constexpr int16_t kFailed = -19;
constexpr int16_t kNoRecord = -25;
constexpr int16_t kInUse = -15;
constexpr int16_t kCommFailure = -88;

constexpr const char* kSelect =
    "SELECT CODE, PRICE FROM ROAD WHERE A = ? AND B = ? AND D = ? AND E = ? AND F = ? AND I = ? "
    "AND L = ? AND T = ? AND X = ?";
// One descriptor of each letter, and a ninth character: a list of n descriptors is 8n + 1
// characters long.
constexpr const char* kDescriptors =
    "A/003/0/B/004/0/D/010/0/E/004/0/F/008/0/I/002/0/L/001/0/T/016/0/X/001/1/*";

std::string Bytes(const void* p, size_t n) { return std::string(static_cast<const char*>(p), n); }

// The data of kDescriptors: the texts, the numbers, two bytes, a logical, a date-time with its
// first and last unit, and two bytes that X passes over.
std::string BindData(const std::string& a, int32_t e, double f) {
    const int32_t units[2] = {1, 5};
    return a + "12.5" + "25/12/2010" + Bytes(&e, 4) + Bytes(&f, 8) + "\x01\xff" + "T" +
           "2010-12-25 10:20" + Bytes(units, 8) + "??";
}

// The driver's line of one execution of kSelect with these first, fourth and fifth values.
std::string Executed(const std::string& a, const std::string& e, const std::string& f) {
    return std::string("SQLExecute()=0\t") + kSelect + " [1='" + a + "', 2='12.5', 3={d " +
           "'2010-12-25'}, 4=" + e + ", 5=" + f + ", 6=0x01ff, 7='T', 8={ts '2010-12-25 " +
           "10:20:00.000000000'}, 9=NULL]\n";
}

std::string Result(const std::string& pattern, const std::vector<std::string>& rows) {
    std::string script = "RESULT\t" + pattern + "\nCOLUMN\tCODE\t12\t10\nCOLUMN\tPRICE\t8\t15\n";
    for (const std::string& row : rows) script += "ROW\t" + row + "\n";
    return script;
}

std::string Code(GM_HANDLE db, uint16_t wa) {
    const char* at = GM_GetInternalFld(db, wa, "CODE");
    return at ? std::string(at, strnlen(at, 9)) : "(no field)";
}
double Price(GM_HANDLE db, uint16_t wa) {
    double value = -1;
    if (const char* at = GM_GetInternalFld(db, wa, "PRICE")) std::memcpy(&value, at, 8);
    return value;
}

class MSSQLStatements : public gmtest::MSSQLServed {};

TEST_F(MSSQLStatements, PreparedStatementIsBoundReadAgainAndFreed) {
    // The first prepare of the process fails; every other runs.
    Start(MSSQLSessionScript("51") + MSSQLSessionScript("52") + MSSQLSessionScript("53") +
          "FAIL\tSQLPrepare\t42000\t102\tIncorrect syntax near 'FROM'.\n" +
          Result(kSelect, {"A1\t1.5", "A2\t2.5"}) + Result(kSelect, {"B1\t7"}));
    const GM_HANDLE db = Connected();
    EXPECT_EQ(GM_SqlPrepare(db, "SELECT FROM"), kFailed);
    char text[512] = "";
    GM_GetError(db, text, sizeof text - 1);
    EXPECT_NE(std::string(text).find("Incorrect syntax near 'FROM'."), std::string::npos) << text;

    // The refused prepare left id 1 free.
    const int16_t wa = GM_SqlPrepare(db, kSelect);
    ASSERT_EQ(wa, 1) << Error(db);
    const size_t beforeBind = Log().size();
    std::string data = BindData("abc", 7, 2.5);
    ASSERT_EQ(GM_SqlBind(db, wa, kDescriptors, data.data()), 0) << Error(db);
    const std::string firstRun = LogFrom(beforeBind);
    // Each letter's C type, SQL type and size; X '1' is a null character value.
    for (const char* bind :
         {"SQLBindParameter(1,1,1,1,3,0,0)=0\n", "SQLBindParameter(2,1,1,3,4,0,0)=0\n",
          "SQLBindParameter(3,1,91,91,6,6,6)=0\n", "SQLBindParameter(4,1,4,4,4,0,0)=0\n",
          "SQLBindParameter(5,1,8,8,15,0,0)=0\n", "SQLBindParameter(6,1,-2,-4,2,0,2)=0\n",
          "SQLBindParameter(7,1,1,1,1,0,0)=0\n", "SQLBindParameter(8,1,93,93,16,16,16)=0\n",
          "SQLBindParameter(9,1,1,1,0,0,0)=0\n"}) {
        EXPECT_EQ(Count(firstRun, bind), 1u) << bind << firstRun;
    }
    EXPECT_EQ(Count(firstRun, Executed("abc", "7", "2.5")), 1u) << firstRun;

    // The structure came with the bind; the moves read the scripted rows.
    EXPECT_EQ(GM_GetColCount(db, wa), 2);
    char name[32] = "";
    uint8_t type = 0;
    uint32_t length = 0;
    ASSERT_EQ(GM_GetFieldDesc(db, wa, 0, name, &type, &length, nullptr, nullptr), 0);
    EXPECT_STREQ(name, "CODE");
    EXPECT_EQ(type, 'C');
    EXPECT_EQ(length, 10u);
    ASSERT_EQ(GM_First(db, wa, 0, 0), 0);
    EXPECT_EQ(Code(db, wa), "A1");
    EXPECT_EQ(Price(db, wa), 1.5);
    ASSERT_EQ(GM_Skip(db, wa, 0, 1, 0), 0);
    EXPECT_EQ(Code(db, wa), "A2");
    EXPECT_EQ(Price(db, wa), 2.5);
    EXPECT_EQ(GM_Skip(db, wa, 0, 1, 0), kNoRecord);
    // While the run is open the statement is not freed.
    EXPECT_EQ(GM_SqlFree(db, wa), kInUse);

    // Closed, and bound again: the statement runs anew with the new values.
    ASSERT_EQ(GM_Close(db, wa), 0);
    const size_t beforeSecond = Log().size();
    data = BindData("xyz", -3, 0.25);
    ASSERT_EQ(GM_SqlBind(db, wa, kDescriptors, data.data()), 0) << Error(db);
    EXPECT_EQ(Count(LogFrom(beforeSecond), Executed("xyz", "-3", "0.25")), 1u)
        << LogFrom(beforeSecond);
    ASSERT_EQ(GM_First(db, wa, 0, 0), 0);
    EXPECT_EQ(Code(db, wa), "B1");
    EXPECT_EQ(Price(db, wa), 7.0);
    EXPECT_EQ(GM_GetColCount(db, wa), 2);

    // An R value has no binding: the bind is refused and runs nothing.
    ASSERT_EQ(GM_Close(db, wa), 0);
    const int32_t r = 5;
    const size_t beforeR = Log().size();
    EXPECT_EQ(GM_SqlBind(db, wa, "R/004/0/*", &r), kFailed);
    EXPECT_EQ(Count(LogFrom(beforeR), "SQLExecute("), 0u);

    // Freed, the id is free again: the next prepare takes it.
    EXPECT_EQ(GM_SqlFree(db, wa), 0);
    EXPECT_EQ(GM_GetColCount(db, wa), -24);
    const int16_t again = GM_SqlPrepare(db, kSelect);
    ASSERT_EQ(again, 1) << Error(db);

    // A table is never bound: the bind on its id is refused and runs nothing.
    const GM_HANDLE fields = GM_GetCreateStruct(1, 0, 0);
    ASSERT_NE(GM_SetCreateField(fields, 0, "CODE", 'C', 8, 0, 0), nullptr);
    ASSERT_EQ(GM_CreateFile(db, "T2", fields), 0) << Error(db);
    const int16_t table = GM_Open(db, "T2", 0, 0);
    ASSERT_EQ(table, 2) << Error(db);
    const size_t beforeTable = Log().size();
    EXPECT_EQ(GM_SqlBind(db, table, kDescriptors, data.data()), kFailed);
    EXPECT_EQ(Count(LogFrom(beforeTable), "SQLExecute("), 0u);
    EXPECT_EQ(Count(LogFrom(beforeTable), "SQLBindParameter("), 0u);

    // A new session never gave out the ids of the work areas that the library kept: a bind on
    // one ends that connection alone, binding and running nothing, and the next connect serves.
    ASSERT_EQ(GM_DisConnect(db), 0);
    ASSERT_EQ(GM_Connect(db, "127.0.0.1", "MSSQL7/ERP", "again"), 0) << program->Output();
    const size_t beforeStale = Log().size();
    EXPECT_EQ(GM_SqlBind(db, again, kDescriptors, data.data()), kCommFailure);
    EXPECT_EQ(GM_IsConnected(db), 0);
    EXPECT_EQ(Count(LogFrom(beforeStale), "SQLExecute("), 0u);
    EXPECT_EQ(Count(LogFrom(beforeStale), "SQLBindParameter("), 0u);
    ASSERT_EQ(GM_Connect(db, "127.0.0.1", "MSSQL7/ERP", "once more"), 0) << program->Output();
}

}  // namespace
