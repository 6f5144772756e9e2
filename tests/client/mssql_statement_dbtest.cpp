// Prepared statements and stored procedures end to end: the real pellmar over the SQL Server
// connection whose client library is the recording ODBC driver, reached through the shared
// library's GM_ functions; the bound values, calls and texts as the driver's log shows them.
#include <gtest/gtest.h>
#include <sqlext.h>

#include <cstdint>
#include <cstring>
#include <iterator>
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

// The catalogue's answer for procedure name: its parameters as (name, COLUMN_TYPE, DATA_TYPE,
// BUFFER_LENGTH).
struct tProcParam {
    const char* name;
    int columnType;
    int dataType;
    int bufferLength;
};
std::string ProcCatalogue(const std::string& name, const std::vector<tProcParam>& params) {
    std::string script = "RESULT\tSQLProcedureColumns(,dbo," + name + ",)\n";
    const char* columns[] = {"PROCEDURE_CAT", "PROCEDURE_SCHEM", "PROCEDURE_NAME",
                             "COLUMN_NAME",   "COLUMN_TYPE",     "DATA_TYPE",
                             "TYPE_NAME",     "COLUMN_SIZE",     "BUFFER_LENGTH"};
    for (int i = 0; i < 9; ++i) {
        const bool number = i == 4 || i == 5 || i == 7 || i == 8;
        script += std::string("COLUMN\t") + columns[i] + (number ? "\t5\t5\n" : "\t12\t128\n");
    }
    for (const tProcParam& p : params) {
        const std::string length = std::to_string(p.bufferLength);
        script += "ROW\tERP\tdbo\t" + name + "\t" + p.name + "\t" + std::to_string(p.columnType) +
                  "\t" + std::to_string(p.dataType) + "\tt\t" + length + "\t" + length + "\n";
    }
    return script;
}

// P takes a text, a number and a logical and gives a text, an integer and a number; Q gives the
// same results and takes nothing; R fails.
std::string ProcScript() {
    const std::vector<tProcParam> outputs = {{"@OUT_C", SQL_PARAM_OUTPUT, SQL_VARCHAR, 20},
                                             {"@OUT_I", SQL_PARAM_OUTPUT, SQL_INTEGER, 4},
                                             {"@OUT_F", SQL_PARAM_OUTPUT, SQL_FLOAT, 8}};
    std::vector<tProcParam> p = {{"@RETURN_VALUE", SQL_RETURN_VALUE, SQL_INTEGER, 4},
                                 {"@IN_A", SQL_PARAM_INPUT, SQL_VARCHAR, 10},
                                 {"@IN_N", SQL_PARAM_INPUT, SQL_FLOAT, 8},
                                 {"@IN_L", SQL_PARAM_INPUT, SQL_VARCHAR, 1}};
    p.insert(p.end(), outputs.begin(), outputs.end());
    return ProcCatalogue("P", p) +
           "RESULT\t{ call dbo.P(?,?,?,?,?,?) }\nOUTPUT\t4\t  ab  \nOUTPUT\t5\t-1\nOUTPUT\t6\t3\n" +
           ProcCatalogue("Q", outputs) +
           "RESULT\t{ call dbo.Q(?,?,?) }\nOUTPUT\t1\t  ab  \nOUTPUT\t2\t-1\nOUTPUT\t3\t3\n" +
           ProcCatalogue("R", {}) + "FAIL\t{ call dbo.R }\t42000\t50000\tR refuses.\n";
}

// Every trace line of the connection that the manager connection traces.
std::string TakeTrace(GM_HANDLE manager, const std::string& thread) {
    std::string lines;
    auto text = std::make_unique<char[]>(GM_INFO_TEXT_SIZE);
    double elapsed = 0;
    for (int i = 0;
         i < 1000 && GM_GetTrace(manager, thread.c_str(), text.get(), 4000, &elapsed) == 0; ++i) {
        lines += text.get();
        lines += "\n";
    }
    return lines;
}

TEST_F(MSSQLStatements, ProcedureCallsAreTracedAuditedAndAnsweredWithinTheDescriptors) {
    gmtest::tFakeServer audit;
    // The audit handshake, then a record of each call.
    const gmtest::tFakeAnswer accepted = gmtest::Reply(gmtest::tWire().Short(0).Payload());
    audit.Run({{accepted, accepted, accepted, accepted}});
    Start(MSSQLSessionScript("51") + ProcScript(),
          "AuditLog=1\r\nAuditServer=127.0.0.1\r\nAuditPort=" + std::to_string(audit.Port()) +
              "\r\nAuditLevel=2\r\n");
    const GM_HANDLE db = Connected();
    const GM_HANDLE manager = GM_GetManager(port);
    ASSERT_EQ(GM_ConnectManager(manager, "127.0.0.1"), 0);
    const std::string thread = std::to_string(GM_GetSID(db));
    ASSERT_EQ(GM_StartTraceManager(manager, thread.c_str()), 0);
    // A move on a table sets the connection's row limit to 40.
    const GM_HANDLE fields = GM_GetCreateStruct(1, 0, 0);
    ASSERT_NE(GM_SetCreateField(fields, 0, "CODE", 'C', 8, 0, 0), nullptr);
    ASSERT_EQ(GM_CreateFile(db, "T2", fields), 0) << Error(db);
    const int16_t table = GM_Open(db, "T2", 0, 0);
    ASSERT_GT(table, 0) << Error(db);
    EXPECT_EQ(GM_First(db, table, 0, 0), kNoRecord);
    ASSERT_EQ(Count(Log(), "\tSET ROWCOUNT 40\n"), 1u);

    // The name, then a text, an X that carries no value, a number and a logical; room for four
    // results and a guard behind the descriptors.
    char descriptors[8 * 5 + 8] = "A/001/0/A/001/0/X/001/0/F/008/0/L/001/0/GUARD..";
    const double two = 2.0;
    unsigned char data[64] = {};
    std::memcpy(data, "Pa", 2);
    std::memcpy(data + 2, &two, 8);
    data[10] = 'x';
    const size_t beforeCall = Log().size();
    ASSERT_EQ(GM_ProcExec(db, descriptors, data, 5), 3) << Error(db);
    const std::string call = LogFrom(beforeCall);
    EXPECT_EQ(Count(call, "{ call dbo.P(?,?,?,?,?,?) } [1='a', 2=2, 3='x', 4=OUT, 5=OUT, 6=OUT]"),
              1u)
        << call;
    // The text trimmed, the integer -1 as a double, the number; then the end mark.
    EXPECT_EQ(std::string(descriptors, 26), std::string("C/002/0/F/008/0/F/008/0/*\0", 26));
    EXPECT_EQ(std::string(descriptors + 40, 7), "GUARD..");
    double minusOne = 0;
    double three = 0;
    std::memcpy(&minusOne, data + 2, 8);
    std::memcpy(&three, data + 10, 8);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data), 2), "ab");
    EXPECT_EQ(minusOne, -1.0);
    EXPECT_EQ(three, 3.0);

    // Room for one result: one is written, and nothing past the caller's descriptors.
    char one[8 + 8] = "A/001/0/GUARD..";
    std::memcpy(data, "Q", 1);
    ASSERT_EQ(GM_ProcExec(db, one, data, 1), 1) << Error(db);
    EXPECT_EQ(std::string(one, 15), "C/002/0/GUARD..");

    // A failing procedure replies its code, and the log has its call.
    char failing[8 + 2] = "A/001/0/";
    std::memcpy(data, "R", 1);
    EXPECT_EQ(GM_ProcExec(db, failing, data, 1), -21);

    const std::string trace = TakeTrace(manager, thread);
    EXPECT_EQ(Count(trace, "-- CALL P ('a',2,'x') RETURN ('ab',4294967295,3)"), 1u) << trace;
    EXPECT_EQ(Count(trace, "-- CALL Q () RETURN ('ab',4294967295,3)"), 1u) << trace;
    EXPECT_EQ(Count(gmtest::ReadFileText(dir.File("gatemill.log")), "-- CALL R () FAILED."), 1u);
    // Each call ran without a row limit, and the limit was back after it, failed or not.
    EXPECT_TRUE(gmtest::InOrder(LogFrom(beforeCall),
                                {"\tSET ROWCOUNT 0\n", "\t{ call dbo.P(", "\tSET ROWCOUNT 40\n",
                                 "\tSET ROWCOUNT 0\n", "\t{ call dbo.Q(", "\tSET ROWCOUNT 40\n",
                                 "\tSET ROWCOUNT 0\n", "\t{ call dbo.R }", "\tSET ROWCOUNT 40\n"}));
    EXPECT_EQ(Count(LogFrom(beforeCall), "SET ROWCOUNT"), 6u);
    GM_StopTraceManager(manager, thread.c_str(), nullptr);
    GM_DisconnectManager(manager);
    GM_ReleaseManager(manager);

    // An audit record of kind "X" for each call (opcode 96, then the kind).
    GM_DisConnect(db);
    const auto frames = audit.Join();
    ASSERT_EQ(frames.size(), 1u);
    for (const char* text : {"-- CALL P ('a',2,'x') RETURN ('ab',4294967295,3)",
                             "-- CALL Q () RETURN ('ab',4294967295,3)", "-- CALL R () FAILED."}) {
        size_t records = 0;
        for (const std::string& frame : frames[0]) {
            if (Count(frame, text) == 0) continue;
            ++records;
            EXPECT_EQ(frame.substr(4, 4), std::string("\x60\0X\0", 4)) << text;
        }
        EXPECT_EQ(records, 1u) << text;
    }
}

}  // namespace
