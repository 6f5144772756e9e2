// The main road of an application, through the shared library's GM_ functions only, against the
// real pellmar in console mode over a fresh database of the test's own on the private PostgreSQL
// and on the private MariaDB, reached through the alias <type>/<database> of the program's
// gatemill.ini.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "client/gatemillapi.h"
#include "tests/client/support/pellmarserved.h"
#include "tests/lib_common/support/inipassword.h"
#include "tests/server/process/support/programprocess.h"
#include "tests/server/process/support/programrun.h"
#include "tests/server/support/mariadatabase.h"
#include "tests/server/support/pgdatabase.h"

namespace {

// Status codes of the library's header.
constexpr int16_t kNotConnected = -2;
constexpr int16_t kConnectFailed = -35;
constexpr int16_t kFailed = -19;
constexpr int16_t kNoRecord = -25;
constexpr int16_t kSoftGreater = -28;
constexpr int16_t kLocked = -31;

// The road's table: CODE C(8), PRICE N(12,2), BORN D, ACTIVE L, and an index on CODE.
constexpr const char* kTable = "ROAD";
constexpr int kRecords = 1000;

// Record i (from 0) of the appends holds the values of number Scrambled(i), so that the index
// order differs from the record order.
int Scrambled(int i) { return i * 337 % kRecords; }

// The values of number n.
std::string CodeOf(int n) {
    char text[16];
    std::snprintf(text, sizeof text, "CODE%04d", n);
    return text;
}
double PriceOf(int n) { return n * 1.25 + 0.5; }
std::string BornOf(int n) {
    char text[16];
    std::snprintf(text, sizeof text, "%04d%02d%02d", 1990 + n / 336, 1 + n / 28 % 12, 1 + n % 28);
    return text;
}
char ActiveOf(int n) { return n % 3 == 0 ? 'T' : 'F'; }

// The values of number n as Area::Values gives them.
std::string ValuesOf(int n) {
    char price[32];
    std::snprintf(price, sizeof price, "%.2f", PriceOf(n));
    return CodeOf(n) + " " + price + " " + BornOf(n) + " " + ActiveOf(n);
}

// A work area of a connection, read and written through the local accessors only.
struct Area {
    GM_HANDLE db = 0;
    int16_t wa = 0;

    std::string Text(const char* field, size_t length) const {
        const char* at = GM_GetInternalFld(db, static_cast<uint16_t>(wa), field);
        return at ? std::string(at, length) : "(no field)";
    }
    double Number(const char* field) const {
        const char* at = GM_GetInternalFld(db, static_cast<uint16_t>(wa), field);
        double value = -1;
        if (at) std::memcpy(&value, at, sizeof value);
        return value;
    }
    void Put(const char* field, const std::string& text) {
        EXPECT_EQ(GM_SetInternalFld(db, static_cast<uint16_t>(wa), field, text.c_str()),
                  static_cast<int32_t>(text.size()))
            << field;
    }
    void PutNumber(const char* field, double value) {
        EXPECT_EQ(GM_SetInternalFld(db, static_cast<uint16_t>(wa), field, &value), 8) << field;
    }
    // The record's values: "CODE PRICE BORN ACTIVE".
    std::string Values() const {
        char price[32];
        std::snprintf(price, sizeof price, "%.2f", Number("PRICE"));
        return Text("CODE", 8) + " " + price + " " + Text("BORN", 8) + " " + Text("ACTIVE", 1);
    }
    void PutValues(int n) {
        GM_InitRecord(db, static_cast<uint16_t>(wa), 0);
        Put("CODE", CodeOf(n));
        PutNumber("PRICE", PriceOf(n));
        Put("BORN", BornOf(n));
        Put("ACTIVE", std::string(1, ActiveOf(n)));
    }
    // The key of a seek, in the record buffer.
    void PutKey(const std::string& code) {
        GM_InitRecord(db, static_cast<uint16_t>(wa), 0);
        Put("CODE", code);
    }
    // The field's description: "name type length declared decimals".
    std::string Describe(int16_t index) const {
        return gmtest::DescribeField(db, static_cast<uint16_t>(wa), index);
    }
};

using gmtest::ErrorOf;

// Creates the road's table: slots of name, type, size, width and decimals.
void CreateTable(GM_HANDLE db) {
    const GM_HANDLE fields = GM_GetCreateStruct(4, 0, 0);
    ASSERT_NE(fields, 0u);
    ASSERT_NE(GM_SetCreateField(fields, 0, "CODE", 'C', 8, 0, 0), nullptr);
    ASSERT_NE(GM_SetCreateField(fields, 1, "PRICE", 'N', 12, 12, 2), nullptr);
    ASSERT_NE(GM_SetCreateField(fields, 2, "BORN", 'D', 8, 0, 0), nullptr);
    ASSERT_NE(GM_SetCreateField(fields, 3, "ACTIVE", 'L', 1, 0, 0), nullptr);
    ASSERT_EQ(GM_CreateFile(db, kTable, fields), 0) << ErrorOf(db);
}

// Served by a copy of pellmar over the test's database.
template <class Database>
class MainRoad : public gmtest::PellmarServed<Database> {};
using gmtest::DatabaseName;
using gmtest::Databases;
TYPED_TEST_SUITE(MainRoad, Databases, DatabaseName);

TYPED_TEST(MainRoad, ConnectChecksTheBuildAndDisconnectEndsTheSession) {
    const GM_HANDLE db = this->Connected();
    EXPECT_EQ(GM_IsConnected(db), 1);
    char text[256] = "x";
    EXPECT_EQ(GM_GetServerType(db, text), 0);
    EXPECT_STREQ(text, "WinNT");
    EXPECT_EQ(GM_GetBuild(db, text), 0);
    EXPECT_STREQ(text, "20110117");
    EXPECT_GT(GM_GetSID(db), 0);
    // The catalogue the first connect of the alias made, seen from the test's own connection.
    EXPECT_EQ(this->Value("select count(*) from GML_FIELD"), "0");

    EXPECT_EQ(GM_DisConnect(db), 0);
    EXPECT_EQ(GM_IsConnected(db), 0);
    EXPECT_EQ(GM_GetSID(db), kNotConnected);
    EXPECT_EQ(GM_GetBuild(db, text), kNotConnected);

    // The same handle connects again.
    EXPECT_EQ(GM_Connect(db, "127.0.0.1", this->Environment().c_str(), "again"), 0)
        << this->program->Output();
    EXPECT_GT(GM_GetSID(db), 0);
}

TYPED_TEST(MainRoad, AnAliasTheServerCannotConnectIsRefused) {
    for (const std::string& environment :
         {this->server.dbType + "/NOSUCHSOURCE", "FOO/" + this->dsn}) {
        SCOPED_TRACE(environment);
        int16_t status = 0;
        const GM_HANDLE db = this->Connection(status, environment);
        EXPECT_EQ(status, kConnectFailed);
        EXPECT_EQ(GM_IsConnected(db), 0);
        char text[256];
        EXPECT_EQ(GM_GetBuild(db, text), kNotConnected);
    }
}

// The example program of client/examples walks the same road and says what it does.
TYPED_TEST(MainRoad, ExampleProgramWalksTheRoad) {
    gmtest::ProgramRun example(GM_EXAMPLE_PATH,
                               {"127.0.0.1", std::to_string(this->port), this->Environment()});
    ASSERT_TRUE(example.Started());
    EXPECT_EQ(example.Finish(), 0) << example.Output() << this->program->Output();
    EXPECT_TRUE(gmtest::InOrder(
        example.Output(), {"GM_Connect ",
                           " 0\n",
                           "server type WinNT, build 20110117",
                           "GM_CreateFile GM_EXAMPLE ",
                           " 0\n",
                           "GM_Write x 100 ",
                           " 0\n",
                           "    100 records\n",
                           "GM_First ",
                           "    record 100: CODE ITEM0001 PRICE 250.00 BORN 20240517 ACTIVE F\n",
                           "GM_Skip past the last record ",
                           " -25\n",
                           "GM_Seek ITEM0059 (record 42) ",
                           "    record 42: CODE ITEM0059 PRICE 105.00",
                           "record 10: CODE ITEM0091 PRICE 999.50",
                           "D_E_L_E_T_ is '*'",
                           "GM_Lock 20 (second connection: locked) ",
                           " -31\n",
                           "record 30: CODE ITEM0071 PRICE 75.00",
                           "record 30: CODE ITEM0071 PRICE 2.00",
                           "GM_Query PRICE > 200 (work area) ",
                           " 0\n",
                           "    first row: CODE ITEM0001 PRICE 250.00\n",
                           "    21 rows\n",
                           "GM_DeleteFile GM_EXAMPLE ",
                           " 0\n",
                           "GM_DisConnect ",
                           " 0\n",
                           "done\n"}))
        << this->program->Output();
}

// The road of an application: create a table, open it, fill it and walk it, write, lock and
// query it, and drop it again; a second connection meets the first one's locks and writes.
TYPED_TEST(MainRoad, WalksTheRoad) {
    const GM_HANDLE db = this->Connected();
    const GM_HANDLE other = this->Connected();
    ASSERT_EQ(GM_IsConnected(db), 1);
    ASSERT_EQ(GM_IsConnected(other), 1);

    ASSERT_NO_FATAL_FAILURE(CreateTable(db));
    // The field registry of the new table: its N, D and L fields.
    EXPECT_EQ(
        this->Values("select concat(trim(FIELD_NAME), ' ', trim(FIELD_TYPE), ' ', "
                     "trim(FIELD_PREC), ' ', trim(FIELD_DEC)) from GML_FIELD order by FIELD_NAME"),
        (std::vector<std::string>{"ACTIVE L 1 0", "BORN D 8 0", "PRICE P 12 2"}));

    // Open it: the work area has the fields as created, N as an 8-byte F, and the deletion mark.
    Area road{db, GM_Open(db, kTable, 0, 0)};
    ASSERT_GT(road.wa, 0) << ErrorOf(db);
    EXPECT_EQ(road.Describe(0), "CODE C 8 8 0");
    EXPECT_EQ(road.Describe(1), "PRICE F 8 12 2");
    EXPECT_EQ(road.Describe(2), "BORN D 8 8 0");
    EXPECT_EQ(road.Describe(3), "ACTIVE L 1 1 0");
    EXPECT_EQ(road.Describe(4), "D_E_L_E_T_ C 1 1 0");
    EXPECT_EQ(GM_GetColCount(db, road.wa), 5);
    EXPECT_EQ(GM_GetTotalRecs(db, road.wa), 0);

    // An index on CODE: the work area's index lists name it and its field.
    ASSERT_EQ(GM_CreateIndex(db, road.wa, "ROAD1", "CODE"), 0) << ErrorOf(db);
    char text[512] = "";
    EXPECT_EQ(GM_GetKeyNames(db, road.wa, text), 1);
    EXPECT_STREQ(text, "ROAD1");
    EXPECT_EQ(GM_GetKeys(db, road.wa, text, 2), 0);
    EXPECT_STREQ(text, "001");  // the key's field numbers

    // Append the records; each append stands on its new record.
    std::vector<int> recnoOf(kRecords);
    for (int i = 0; i < kRecords; ++i) {
        const int n = Scrambled(i);
        recnoOf[n] = i + 1;
        road.PutValues(n);
        ASSERT_EQ(GM_Write(db, road.wa, 0), 0) << i << " " << ErrorOf(db);
        ASSERT_EQ(GM_RecNo(db, road.wa), i + 1);
    }
    EXPECT_EQ(GM_GetTotalRecs(db, road.wa), kRecords);
    EXPECT_EQ(this->Value("select count(*) from ROAD"), std::to_string(kRecords));
    // Each append keeps its new record locked for the appender, until the table unlock.
    Area seen{other, GM_Open(other, kTable, 0, 0)};
    ASSERT_GT(seen.wa, 0) << ErrorOf(other);
    EXPECT_EQ(GM_Lock(other, seen.wa, 1), kLocked);
    EXPECT_EQ(GM_Lock(other, seen.wa, kRecords), kLocked);
    ASSERT_EQ(GM_FUnLock(db, road.wa), 0);
    EXPECT_EQ(GM_Lock(other, seen.wa, 1), 0);
    EXPECT_EQ(GM_UnLock(other, seen.wa, 1), 0);

    // Walk the whole table in index order, and back from the end.
    ASSERT_EQ(GM_SetKeyC(db, road.wa, "road1"), 0) << ErrorOf(db);
    ASSERT_EQ(GM_First(db, road.wa, 0, 0), 0) << ErrorOf(db);
    for (int n = 0; n < kRecords; ++n) {
        ASSERT_EQ(road.Values(), ValuesOf(n));
        ASSERT_EQ(GM_RecNo(db, road.wa), recnoOf[n]) << n;
        ASSERT_EQ(GM_Bof(db, road.wa), 0) << n;
        ASSERT_EQ(GM_Skip(db, road.wa, 0, 1, 0), n + 1 < kRecords ? 0 : kNoRecord) << n;
    }
    EXPECT_EQ(GM_Eof(db, road.wa), 1);
    EXPECT_EQ(GM_RecNo(db, road.wa), kRecords + 1);
    ASSERT_EQ(GM_Last(db, road.wa, 0, 0), 0);
    EXPECT_EQ(road.Values(), ValuesOf(kRecords - 1));
    ASSERT_EQ(GM_Skip(db, road.wa, 0, -2, 0), 0);
    EXPECT_EQ(road.Values(), ValuesOf(kRecords - 3));

    // Go to a record number.
    ASSERT_EQ(GM_ChainR(db, road.wa, 0, 500, 0), 0);
    EXPECT_EQ(road.Values(), ValuesOf(Scrambled(499)));
    EXPECT_EQ(GM_RecNo(db, road.wa), 500);

    // Seek a key that is there, one that is not, and the next greater one (soft).
    road.PutKey(CodeOf(42));
    ASSERT_EQ(GM_Seek(db, road.wa, 0, 1, 0, 0, 8, 0), 0) << ErrorOf(db);
    EXPECT_EQ(road.Values(), ValuesOf(42));
    EXPECT_EQ(GM_RecNo(db, road.wa), recnoOf[42]);
    road.PutKey("CODE9999");
    EXPECT_EQ(GM_Seek(db, road.wa, 0, 1, 0, 0, 8, 0), kNoRecord);
    EXPECT_EQ(GM_Eof(db, road.wa), 1);
    road.PutKey("CODE041Z");
    EXPECT_EQ(GM_Seek(db, road.wa, 0, 1, 0, 1, 8, 0), kSoftGreater);
    EXPECT_EQ(road.Values(), ValuesOf(420));

    // Update record 10, and read it back through the other connection.
    const int tenth = Scrambled(9);
    ASSERT_EQ(GM_ChainR(db, road.wa, 0, 10, 0), 0);
    road.PutNumber("PRICE", 999.5);
    ASSERT_EQ(GM_UpdateR(db, road.wa, 0, 10), 0) << ErrorOf(db);
    ASSERT_EQ(GM_ChainR(other, seen.wa, 0, 10, 0), 0);
    EXPECT_EQ(seen.Number("PRICE"), 999.5);
    EXPECT_EQ(seen.Text("CODE", 8), CodeOf(tenth));

    // Delete it: marked in the buffer and the table; hidden, a seek no longer finds it; recalled,
    // it is back.
    ASSERT_EQ(GM_DeleteR(db, road.wa, 10), 0) << ErrorOf(db);
    EXPECT_EQ(road.Text("D_E_L_E_T_", 1), "*");
    EXPECT_EQ(this->Value("select D_E_L_E_T_ from ROAD where R_E_C_N_O_ = 10"), "*");
    ASSERT_EQ(GM_SetDeleted(db, road.wa, 1), 0);
    road.PutKey(CodeOf(tenth));
    EXPECT_EQ(GM_Seek(db, road.wa, 0, 1, 0, 0, 8, 0), kNoRecord);
    ASSERT_EQ(GM_RecallR(db, road.wa, 10, 0), 0) << ErrorOf(db);
    EXPECT_EQ(this->Value("select D_E_L_E_T_ from ROAD where R_E_C_N_O_ = 10"), " ");
    road.PutKey(CodeOf(tenth));
    ASSERT_EQ(GM_Seek(db, road.wa, 0, 1, 0, 0, 8, 0), 0);
    EXPECT_EQ(GM_RecNo(db, road.wa), 10);
    EXPECT_EQ(road.Text("D_E_L_E_T_", 1), " ");
    ASSERT_EQ(GM_SetDeleted(db, road.wa, 0), 0);

    // A record lock of one connection refuses the other until it is released; so does a table
    // lock.
    ASSERT_EQ(GM_Lock(db, road.wa, 20), 0) << ErrorOf(db);
    EXPECT_EQ(road.Values(), ValuesOf(Scrambled(19)));
    EXPECT_EQ(GM_Lock(other, seen.wa, 20), kLocked);
    seen.PutKey(CodeOf(Scrambled(19)));
    EXPECT_EQ(GM_SetKey(other, seen.wa, 2), 0);
    EXPECT_EQ(GM_Seek(other, seen.wa, 0, 1, 1, 0, 8, 0), kLocked);  // a seek that locks
    EXPECT_EQ(GM_Lock(other, seen.wa, 21), 0);
    EXPECT_EQ(GM_UnLock(other, seen.wa, 21), 0);
    EXPECT_EQ(GM_UnLock(db, road.wa, 20), 0);
    EXPECT_EQ(GM_Lock(other, seen.wa, 20), 0);
    EXPECT_EQ(GM_UnLock(other, seen.wa, 20), 0);
    ASSERT_EQ(GM_FLock(db, road.wa, 0), 0) << ErrorOf(db);
    EXPECT_EQ(GM_Lock(other, seen.wa, 21), kLocked);
    EXPECT_EQ(GM_FUnLock(db, road.wa), 0);
    EXPECT_EQ(GM_Lock(other, seen.wa, 21), 0);
    EXPECT_EQ(GM_UnLock(other, seen.wa, 21), 0);

    // A transaction rolled back leaves record 30 and the record count as they were; one
    // committed is seen by the other connection.
    const int thirtieth = Scrambled(29);
    ASSERT_EQ(GM_StrCmtCtl(db), 0) << ErrorOf(db);
    ASSERT_EQ(GM_ChainR(db, road.wa, 0, 30, 0), 0);
    road.PutNumber("PRICE", 1.0);
    ASSERT_EQ(GM_UpdateR(db, road.wa, 0, 30), 0) << ErrorOf(db);
    road.PutValues(kRecords);
    ASSERT_EQ(GM_Write(db, road.wa, 0), 0) << ErrorOf(db);
    EXPECT_EQ(GM_Rollbk(db), 0) << ErrorOf(db);
    EXPECT_EQ(GM_FUnLock(db, road.wa), 0);
    EXPECT_EQ(GM_EndCmtCtl(db), 0) << ErrorOf(db);
    EXPECT_EQ(this->Value("select count(*) from ROAD"), std::to_string(kRecords));
    ASSERT_EQ(GM_ChainR(other, seen.wa, 0, 30, 0), 0);
    EXPECT_EQ(seen.Values(), ValuesOf(thirtieth));
    ASSERT_EQ(GM_StrCmtCtl(db), 0) << ErrorOf(db);
    ASSERT_EQ(GM_ChainR(db, road.wa, 0, 30, 0), 0);
    EXPECT_EQ(road.Values(), ValuesOf(thirtieth));
    road.PutNumber("PRICE", 2.5);
    ASSERT_EQ(GM_UpdateR(db, road.wa, 0, 30), 0) << ErrorOf(db);
    EXPECT_EQ(GM_Commit(db, 0), 0) << ErrorOf(db);
    EXPECT_EQ(GM_EndCmtCtl(db), 0) << ErrorOf(db);
    ASSERT_EQ(GM_ChainR(other, seen.wa, 0, 30, 0), 0);
    EXPECT_EQ(seen.Number("PRICE"), 2.5);

    // Direct SQL changes rows; a statement the database refuses fails with its error text.
    ASSERT_EQ(GM_Execute(db, "UPDATE ROAD SET ACTIVE = 'T' WHERE CODE = 'CODE0001'", 0), 0)
        << ErrorOf(db);
    EXPECT_EQ(GM_Execute(db, "UPDATE NOSUCHTABLE SET X = 1", 0), kFailed);
    EXPECT_NE(ErrorOf(db).find("NOSUCHTABLE"), std::string::npos) << ErrorOf(db);

    // A query over the table is a read-only work area of its own.
    Area query{db, GM_Query(db, "SELECT CODE, PRICE FROM ROAD WHERE ACTIVE = 'T' ORDER BY CODE")};
    ASSERT_GT(query.wa, 0) << ErrorOf(db);
    EXPECT_EQ(GM_GetColCount(db, query.wa), 2);
    std::vector<std::string> codes;
    for (int16_t status = GM_First(db, query.wa, 0, 0); status == 0;
         status = GM_Skip(db, query.wa, 0, 1, 0)) {
        codes.push_back(query.Text("CODE", 8));
    }
    std::vector<std::string> active{CodeOf(1)};
    for (int n = 0; n < kRecords; n += 3) active.push_back(CodeOf(n));
    std::sort(active.begin(), active.end());
    EXPECT_EQ(codes, active);
    EXPECT_EQ(GM_Eof(db, query.wa), 1);
    EXPECT_EQ(GM_Close(db, query.wa), 0);

    // The table cannot be dropped while the other connection has it open; closed, it can.
    EXPECT_EQ(GM_DeleteFile(db, kTable), -30);
    EXPECT_EQ(GM_Close(other, seen.wa), 0);
    EXPECT_EQ(GM_Close(db, road.wa), 0);
    EXPECT_EQ(GM_First(db, road.wa, 0, 0), -24);  // the work area is gone
    ASSERT_EQ(GM_DeleteFile(db, kTable), 0) << ErrorOf(db);
    EXPECT_EQ(this->Value("select count(*) from information_schema.tables where "
                          "upper(table_name) = 'ROAD' and table_schema = " +
                          this->CurrentSchema()),
              "0");
    EXPECT_EQ(this->Value("select count(*) from GML_FIELD"), "0");
    // A query over the dropped table fails, and the last error says why.
    EXPECT_EQ(GM_Query(db, "SELECT CODE FROM ROAD"), kFailed);
    const std::string error = ErrorOf(db);
    EXPECT_NE(error.find("SELECT CODE FROM ROAD"), std::string::npos) << error;

    EXPECT_EQ(GM_DisConnect(db), 0);
    EXPECT_EQ(GM_DisConnect(other), 0);
    EXPECT_EQ(GM_IsConnected(db), 0);
}

// Two work areas of one table on one connection: closing the first gives back the locks taken
// through it and keeps those of the second.
TYPED_TEST(MainRoad, ClosingAWorkAreaKeepsTheLocksOfAnotherOnTheSameTable) {
    const GM_HANDLE db = this->Connected();
    const GM_HANDLE other = this->Connected();
    ASSERT_NO_FATAL_FAILURE(CreateTable(db));
    Area first{db, GM_Open(db, kTable, 0, 0)};
    ASSERT_GT(first.wa, 0) << ErrorOf(db);
    for (int n = 0; n < 8; ++n) {
        first.PutValues(n);
        ASSERT_EQ(GM_Write(db, first.wa, 0), 0) << ErrorOf(db);
    }
    ASSERT_EQ(GM_FUnLock(db, first.wa), 0);
    Area second{db, GM_Open(db, kTable, 0, 0)};
    ASSERT_GT(second.wa, 0) << ErrorOf(db);
    Area seen{other, GM_Open(other, kTable, 0, 0)};
    ASSERT_GT(seen.wa, 0) << ErrorOf(other);

    ASSERT_EQ(GM_Lock(db, first.wa, 5), 0) << ErrorOf(db);
    ASSERT_EQ(GM_Lock(db, second.wa, 7), 0) << ErrorOf(db);
    EXPECT_EQ(GM_Lock(other, seen.wa, 5), kLocked);
    ASSERT_EQ(GM_Close(db, first.wa), 0);
    EXPECT_EQ(GM_Lock(other, seen.wa, 5), 0);
    EXPECT_EQ(GM_Lock(other, seen.wa, 7), kLocked);

    ASSERT_EQ(GM_Close(db, second.wa), 0);
    EXPECT_EQ(GM_Lock(other, seen.wa, 7), 0);
}

// The table requests around the road, each answered as the library reads it.
TYPED_TEST(MainRoad, TableRequestsAroundTheRoad) {
    const GM_HANDLE db = this->Connected();
    ASSERT_NO_FATAL_FAILURE(CreateTable(db));
    EXPECT_EQ(GM_CanOpen(db, kTable, ""), 0);
    EXPECT_EQ(GM_CanOpen(db, "NOSUCHTABLE", ""), -11);
    // The connection prepares no statements: the prepare is refused and takes no id, so the
    // first open gets the first one.
    EXPECT_EQ(GM_SqlPrepare(db, "SELECT CODE FROM ROAD WHERE CODE = ?"), kFailed);
    Area road{db, GM_Open(db, kTable, 0, 0)};
    ASSERT_EQ(road.wa, 1) << ErrorOf(db);
    ASSERT_EQ(GM_CreateIndex(db, road.wa, "ROAD1", "CODE"), 0) << ErrorOf(db);
    EXPECT_EQ(GM_CanOpen(db, kTable, "ROAD1"), 0);
    EXPECT_EQ(GM_CanOpen(db, kTable, "NOSUCHINDEX"), -11);
    EXPECT_EQ(GM_SPExist(db, "NOSUCHPROCEDURE"), -11);

    // The table list opens as a work area without indexes and walks like a query.
    Area files{db, GM_Open(db, "GML_FILES", 0, 0)};
    ASSERT_GT(files.wa, 0) << ErrorOf(db);
    EXPECT_EQ(GM_GetColCount(db, files.wa), 1);
    char text[256] = "x";
    EXPECT_EQ(GM_GetKeyNames(db, files.wa, text), 0);
    EXPECT_STREQ(text, "");
    uint32_t width = 0;
    ASSERT_EQ(GM_GetFieldDesc(db, files.wa, 0, text, nullptr, &width, nullptr, nullptr), 0);
    EXPECT_STRCASEEQ(text, "FNAMF1");
    std::vector<std::string> tables;
    for (int16_t status = GM_First(db, files.wa, 0, 0); status == 0;
         status = GM_Skip(db, files.wa, 0, 1, 0)) {
        std::string name = files.Text("FNAMF1", width).c_str();
        name.erase(name.find_last_not_of(' ') + 1);
        std::transform(name.begin(), name.end(), name.begin(), ::toupper);
        tables.push_back(name);
    }
    EXPECT_EQ(GM_Eof(db, files.wa), 1);
    for (const char* table : {"ROAD", "GML_FIELD"}) {
        EXPECT_NE(std::find(tables.begin(), tables.end(), table), tables.end()) << table;
    }
    EXPECT_EQ(GM_Close(db, files.wa), 0);
    EXPECT_EQ(GM_IsConnected(db), 1);

    // Records 1 to 3 hold the numbers 2, 1, 0.
    for (int n = 2; n >= 0; --n) {
        road.PutValues(n);
        ASSERT_EQ(GM_Write(db, road.wa, 0), 0) << ErrorOf(db);
    }
    ASSERT_EQ(GM_FUnLock(db, road.wa), 0);

    // The order by number: 2 the first index, 1 the record numbers.
    ASSERT_EQ(GM_SetKey(db, road.wa, 2), 0) << ErrorOf(db);
    ASSERT_EQ(GM_First(db, road.wa, 0, 0), 0);
    EXPECT_EQ(road.Values(), ValuesOf(0));
    EXPECT_EQ(GM_RecNo(db, road.wa), 3);
    ASSERT_EQ(GM_SetKey(db, road.wa, 1), 0) << ErrorOf(db);
    ASSERT_EQ(GM_First(db, road.wa, 0, 0), 0);
    EXPECT_EQ(road.Values(), ValuesOf(2));
    EXPECT_EQ(GM_SetKey(db, road.wa, 3), -14);  // no second index

    // In dummy mode moves find nothing; out of it they find the records again.
    ASSERT_EQ(GM_DummyMode(db, 1), 0);
    EXPECT_EQ(GM_First(db, road.wa, 0, 0), kNoRecord);
    ASSERT_EQ(GM_DummyMode(db, 0), 0);
    ASSERT_EQ(GM_Last(db, road.wa, 0, 0), 0);
    EXPECT_EQ(road.Values(), ValuesOf(0));

    // A field map narrows what the moves read; an empty map gives the whole record again.
    ASSERT_EQ(GM_SrvMap(db, road.wa, "PRICE"), 0) << ErrorOf(db);
    ASSERT_EQ(GM_First(db, road.wa, 0, 0), 0);
    EXPECT_EQ(road.Number("PRICE"), PriceOf(2));
    EXPECT_EQ(road.Text("BORN", 8), std::string(8, '\0'));
    ASSERT_EQ(GM_SrvMap(db, road.wa, ""), 0) << ErrorOf(db);
    ASSERT_EQ(GM_First(db, road.wa, 0, 0), 0);
    EXPECT_EQ(road.Values(), ValuesOf(2));

    // Pack removes the deleted record; clear removes them all.
    ASSERT_EQ(GM_DeleteR(db, road.wa, 1), 0) << ErrorOf(db);
    EXPECT_EQ(GM_Pack(db, road.wa), 0) << ErrorOf(db);
    EXPECT_EQ(this->Value("select count(*) from ROAD"), "2");
    ASSERT_EQ(GM_First(db, road.wa, 0, 0), 0);
    EXPECT_EQ(road.Values(), ValuesOf(1));
    EXPECT_EQ(GM_Clear(db, road.wa), 0) << ErrorOf(db);
    EXPECT_EQ(GM_GetTotalRecs(db, road.wa), 0);
    EXPECT_EQ(GM_Eof(db, road.wa), 1);
    EXPECT_EQ(this->Value("select count(*) from ROAD"), "0");
    EXPECT_EQ(GM_First(db, road.wa, 0, 0), kNoRecord);

    // The database's session id, as a text with its length.
    const int32_t length = GM_GetDBSID(db, text, sizeof text);
    EXPECT_GT(length, 1);
    EXPECT_EQ(length, static_cast<int32_t>(std::strlen(text)) + 1) << text;

    // A close that keeps the work area, then the one that drops it.
    EXPECT_EQ(GM_JustClose(db, road.wa), 0);
    EXPECT_EQ(GM_GetColCount(db, road.wa), 5);
    EXPECT_EQ(GM_Close(db, road.wa), 0);
    EXPECT_EQ(GM_GetColCount(db, road.wa), -24);
    EXPECT_EQ(GM_DeleteFile(db, kTable), 0) << ErrorOf(db);
    EXPECT_EQ(GM_CanOpen(db, kTable, ""), -11);
}

}  // namespace
