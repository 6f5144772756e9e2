// One road over every database type, through the shared library's GM_ functions only, against
// the real pellmar in console mode: connect, create a table, open it, append, go top, skip, seek,
// update, delete and recall, filter, query and drop. PostgreSQL and MariaDB are the private
// servers; ODBC is the harness's SQLite data source, which runs statements and queries and
// refuses to open tables; ORACLE runs over the recording OCI library and the others over the
// recording ODBC driver, whose logs must show each step's SQL. Each type is one row of kTypes:
// its service, environment, script and the SQL of each step.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "client/gatemillapi.h"
#include "tests/client/support/mssqlserved.h"
#include "tests/client/support/oracleserved.h"
#include "tests/client/support/pellmarserved.h"
#include "tests/client/support/recodbcserved.h"
#include "tests/support_db/db_env.h"

namespace {

using gmtest::ErrorOf;

constexpr int16_t kFailed = -19;
constexpr int16_t kNoRecord = -25;

enum tStep {
    kConnect,
    kCreate,
    kOpen,
    kAppend,
    kTop,
    kSkip,
    kSeek,
    kUpdate,
    kDelete,
    kRecall,
    kFilter,
    kQuery,
    kDrop
};
const char* const kStepNames[] = {"connect", "create", "open",   "append", "top",   "skip", "seek",
                                  "update",  "delete", "recall", "filter", "query", "drop"};

enum class tServe { Postgres, MariaDB, SQLite, Recording, Oracle };

// A statement that the recording driver's log shows during a step, after the step's statements
// before it: the whole text, with the bound values as the log gives them.
struct tSql {
    tStep step;
    std::string text;
};

struct tDatabaseType {
    const char* name;
    tServe serve;
    const char* section;      // whose ClientLibrary the recording driver is
    std::string environment;  // of a recording type; the others make their own
    std::string script;       // the recording driver's answers, in the order they are asked
    std::string moreIni;      // further sections of gatemill.ini
    std::vector<tSql> sql;
};

// The type's name in the test's messages.
void PrintTo(const tDatabaseType& type, std::ostream* out) { *out << type.name; }

// ---- How a row's database is served.

class tServed {
public:
    virtual ~tServed() = default;
    virtual void Start() = 0;
    virtual void Stop() = 0;
    virtual GM_HANDLE Connect(int16_t& status) = 0;
    virtual std::string Log() const { return ""; }
    // How the log shows the statement sql.
    virtual std::string Logged(const std::string& sql) const { return "\t" + sql + "\n"; }
    virtual std::string Output() = 0;
};

// A fresh database of the test's own on a private server.
template <class Database>
class tFreshServed : public tServed, public gmtest::PellmarServed<Database> {
public:
    void Start() override { this->SetUp(); }
    void Stop() override { this->TearDown(); }
    GM_HANDLE Connect(int16_t& status) override {
        return this->Connection(status, this->Environment());
    }
    std::string Output() override { return this->program ? this->program->Output() : ""; }

private:
    void TestBody() override {}
};

// The harness's SQLite data source.
class tSQLiteServed : public tServed {
public:
    void Start() override {
        gmtest::DbEnv();  // the harness's ODBCINI, which the program inherits
        const u16 port = pellmar.Port();
        ASSERT_NE(port, 0);
        gmtest::WriteFileText(
            dir.File("gatemill.ini"),
            "[General]\r\nPort=" + std::to_string(port) + "\r\nThreadMin=2\r\nThreadInc=1\r\n");
        ASSERT_TRUE(gmtest::StartWithDriverLeaks(pellmar, dir));
    }
    void Stop() override { pellmar.Stop(); }
    GM_HANDLE Connect(int16_t& status) override {
        return pellmar.Connection(status, "ODBC/gm_sqlite", "gatemill every database");
    }
    std::string Output() override { return pellmar.Program().Output(); }

private:
    gmtest::TempDir dir;
    gmtest::PellmarRun pellmar;
};

// The recording ODBC driver as the type's client library.
class tRecordingServed : public tServed {
public:
    explicit tRecordingServed(const tDatabaseType& type) : type(type) {}
    void Start() override {
        ASSERT_TRUE(served.Start(type.section, type.script, "", type.moreIni));
    }
    void Stop() override { served.pellmar.Stop(); }
    GM_HANDLE Connect(int16_t& status) override {
        return served.pellmar.Connection(status, type.environment, "gatemill every database");
    }
    std::string Log() const override { return served.Log(); }
    std::string Output() override { return served.pellmar.Program().Output(); }

private:
    const tDatabaseType& type;
    gmtest::TempDir dir;
    gmtest::RecodbcPellmar served{dir};
};

// The recording OCI library as the Oracle client library.
class tOracleServed : public tServed {
public:
    explicit tOracleServed(const tDatabaseType& type) : type(type) {}
    void Start() override { ASSERT_TRUE(served.Start(type.script)); }
    void Stop() override { served.pellmar.Stop(); }
    GM_HANDLE Connect(int16_t& status) override { return served.Connection(status); }
    std::string Log() const override { return served.Log(); }
    // The execution's line: its text, bound values, iterations and mode, and its answer.
    std::string Logged(const std::string& sql) const override { return "OCIStmtExecute(" + sql; }
    std::string Output() override { return served.pellmar.Program().Output(); }

private:
    const tDatabaseType& type;
    gmtest::TempDir dir;
    gmtest::OraclePellmar served{dir};
};

// ---- The road.

// A work area read and written through the local accessors.
struct Area {
    GM_HANDLE db = 0;
    uint16_t wa = 0;

    // CODE without its trailing blanks.
    std::string Code() const {
        const char* at = GM_GetInternalFld(db, wa, "CODE");
        if (!at) return "(no field)";
        std::string code(at, strnlen(at, 8));
        code.erase(code.find_last_not_of(' ') + 1);
        return code;
    }
    // "CODE PRICE RECNO" of the current record.
    std::string Values() const {
        double price = -1;
        if (const char* at = GM_GetInternalFld(db, wa, "PRICE")) {
            std::memcpy(&price, at, sizeof price);
        }
        char text[64];
        std::snprintf(text, sizeof text, " %.2f %d", price, GM_RecNo(db, wa));
        return Code() + text;
    }
    std::string Deleted() const {
        const char* at = GM_GetInternalFld(db, wa, "D_E_L_E_T_");
        return at ? std::string(at, 1) : "(no field)";
    }
    // A new record buffer with the code, and the price unless it is negative.
    void Put(const std::string& code, double price) {
        GM_InitRecord(db, wa, 0);
        EXPECT_EQ(GM_SetInternalFld(db, wa, "CODE", code.c_str()),
                  static_cast<int32_t>(code.size()));
        if (price >= 0) {
            EXPECT_EQ(GM_SetInternalFld(db, wa, "PRICE", &price), 8);
        }
    }
    // The CODE of every row from the top on.
    std::vector<std::string> Codes() const {
        std::vector<std::string> codes;
        for (int16_t status = GM_First(db, wa, 0, 0); status == 0 && codes.size() < 9;
             status = GM_Skip(db, wa, 0, 1, 0)) {
            codes.push_back(Code());
        }
        return codes;
    }
};

class EveryDatabase : public ::testing::TestWithParam<tDatabaseType> {
protected:
    void SetUp() override {
        switch (GetParam().serve) {
            case tServe::Postgres:
                served = std::make_unique<tFreshServed<gmtest::PostgresDatabase>>();
                break;
            case tServe::MariaDB:
                served = std::make_unique<tFreshServed<gmtest::MariaDatabase>>();
                break;
            case tServe::SQLite:
                served = std::make_unique<tSQLiteServed>();
                break;
            case tServe::Recording:
                served = std::make_unique<tRecordingServed>(GetParam());
                break;
            case tServe::Oracle:
                served = std::make_unique<tOracleServed>(GetParam());
                break;
        }
        ASSERT_NO_FATAL_FAILURE(served->Start());
    }
    void TearDown() override { served->Stop(); }

    // The step begins: what the log holds so far belongs to the steps before.
    void Begin(tStep next) {
        step = next;
        mark = served->Log().size();
    }
    // The log since Begin holds the step's texts in order.
    void Check() {
        std::vector<std::string> texts;
        for (const tSql& sql : GetParam().sql) {
            if (sql.step == step) texts.push_back(served->Logged(sql.text));
        }
        const std::string log = served->Log();
        EXPECT_TRUE(gmtest::InOrder(log, texts, mark)) << kStepNames[step];
    }

    void IsamRoad();
    void CreateAndOpen();
    void AppendAndWalk();
    void ChangeRecord();
    void FilterQueryAndDrop();
    void StatementRoad();

    std::unique_ptr<tServed> served;
    GM_HANDLE db = 0;
    Area road;  // the table's work area
    tStep step = kConnect;
    size_t mark = 0;
};

// Records 1 and 2 hold K1 1.50 and K0 0.50; the index on CODE puts record 2 first.
void EveryDatabase::IsamRoad() {
    ASSERT_NO_FATAL_FAILURE(CreateAndOpen());
    ASSERT_NO_FATAL_FAILURE(AppendAndWalk());
    ASSERT_NO_FATAL_FAILURE(ChangeRecord());
    FilterQueryAndDrop();
}

void EveryDatabase::CreateAndOpen() {
    Begin(kCreate);
    const GM_HANDLE fields = GM_GetCreateStruct(2, 0, 0);
    ASSERT_NE(GM_SetCreateField(fields, 0, "CODE", 'C', 8, 0, 0), nullptr);
    ASSERT_NE(GM_SetCreateField(fields, 1, "PRICE", 'N', 12, 12, 2), nullptr);
    ASSERT_EQ(GM_CreateFile(db, "ROAD", fields), 0) << ErrorOf(db);
    Check();

    Begin(kOpen);
    const int16_t opened = GM_Open(db, "ROAD", 0, 0);
    ASSERT_GT(opened, 0) << ErrorOf(db);
    road = Area{db, static_cast<uint16_t>(opened)};
    EXPECT_EQ(gmtest::DescribeField(db, road.wa, 0), "CODE C 8 8 0");
    EXPECT_EQ(gmtest::DescribeField(db, road.wa, 1), "PRICE F 8 12 2");
    ASSERT_EQ(GM_CreateIndex(db, road.wa, "ROAD1", "CODE"), 0) << ErrorOf(db);
    Check();
}

void EveryDatabase::AppendAndWalk() {
    Begin(kAppend);
    road.Put("K1", 1.5);
    ASSERT_EQ(GM_Write(db, road.wa, 0), 0) << ErrorOf(db);
    EXPECT_EQ(GM_RecNo(db, road.wa), 1);
    road.Put("K0", 0.5);
    ASSERT_EQ(GM_Write(db, road.wa, 0), 0) << ErrorOf(db);
    EXPECT_EQ(GM_RecNo(db, road.wa), 2);
    ASSERT_EQ(GM_FUnLock(db, road.wa), 0);
    Check();

    Begin(kTop);
    ASSERT_EQ(GM_SetKey(db, road.wa, 2), 0) << ErrorOf(db);
    ASSERT_EQ(GM_First(db, road.wa, 0, 0), 0) << ErrorOf(db);
    EXPECT_EQ(road.Values(), "K0 0.50 2");
    Check();

    Begin(kSkip);
    ASSERT_EQ(GM_Skip(db, road.wa, 0, 1, 0), 0) << ErrorOf(db);
    EXPECT_EQ(road.Values(), "K1 1.50 1");
    EXPECT_EQ(GM_Skip(db, road.wa, 0, 1, 0), kNoRecord);
    EXPECT_EQ(GM_Eof(db, road.wa), 1);
    Check();

    Begin(kSeek);
    road.Put("K1", -1);
    ASSERT_EQ(GM_Seek(db, road.wa, 0, 1, 0, 0, 8, 0), 0) << ErrorOf(db);
    EXPECT_EQ(road.Values(), "K1 1.50 1");
    road.Put("K9", -1);
    EXPECT_EQ(GM_Seek(db, road.wa, 0, 1, 0, 0, 8, 0), kNoRecord);
    Check();
}

// Record 1's price changes; deleted, it is marked, and recalled, no longer.
void EveryDatabase::ChangeRecord() {
    Begin(kUpdate);
    ASSERT_EQ(GM_ChainR(db, road.wa, 0, 1, 0), 0) << ErrorOf(db);
    const double price = 9.5;
    ASSERT_EQ(GM_SetInternalFld(db, road.wa, "PRICE", &price), 8);
    ASSERT_EQ(GM_UpdateR(db, road.wa, 0, 1), 0) << ErrorOf(db);
    ASSERT_EQ(GM_ChainR(db, road.wa, 0, 1, 0), 0) << ErrorOf(db);
    EXPECT_EQ(road.Values(), "K1 9.50 1");
    Check();

    Begin(kDelete);
    ASSERT_EQ(GM_DeleteR(db, road.wa, 1), 0) << ErrorOf(db);
    EXPECT_EQ(road.Deleted(), "*");
    Check();

    Begin(kRecall);
    ASSERT_EQ(GM_RecallR(db, road.wa, 1, 0), 0) << ErrorOf(db);
    EXPECT_EQ(road.Deleted(), " ");
    ASSERT_EQ(GM_FUnLock(db, road.wa), 0);
    Check();
}

void EveryDatabase::FilterQueryAndDrop() {
    Begin(kFilter);
    ASSERT_EQ(GM_ChgQuery(db, road.wa, "'CODE *EQ \"K1\"'"), 0) << ErrorOf(db);
    ASSERT_EQ(GM_First(db, road.wa, 0, 0), 0) << ErrorOf(db);
    EXPECT_EQ(road.Values(), "K1 9.50 1");
    EXPECT_EQ(GM_Skip(db, road.wa, 0, 1, 0), kNoRecord);
    Check();

    Begin(kQuery);
    const int16_t query = GM_Query(db, "SELECT CODE FROM ROAD ORDER BY CODE");
    ASSERT_GT(query, 0) << ErrorOf(db);
    EXPECT_EQ((Area{db, static_cast<uint16_t>(query)}.Codes()),
              (std::vector<std::string>{"K0", "K1"}));
    EXPECT_EQ(GM_Close(db, static_cast<uint16_t>(query)), 0);
    Check();

    Begin(kDrop);
    EXPECT_EQ(GM_Close(db, road.wa), 0);
    ASSERT_EQ(GM_DeleteFile(db, "ROAD"), 0) << ErrorOf(db);
    EXPECT_EQ(GM_CanOpen(db, "ROAD", ""), -11);
    Check();
}

// Tables are made, written, read and dropped by statements and queries; opening is refused.
void EveryDatabase::StatementRoad() {
    const std::string table = "gm_road_" + std::to_string(getpid());
    const auto execute = [&](const std::string& sql) { return GM_Execute(db, sql.c_str(), 0); };
    const auto codes = [&](const std::string& where) {
        const std::string sql = "SELECT CODE FROM " + table + where + " ORDER BY CODE";
        const int16_t query = GM_Query(db, sql.c_str());
        EXPECT_GT(query, 0) << ErrorOf(db);
        if (query <= 0) return std::vector<std::string>{"(failed)"};
        const std::vector<std::string> codes = Area{db, static_cast<uint16_t>(query)}.Codes();
        EXPECT_EQ(GM_Close(db, static_cast<uint16_t>(query)), 0);
        return codes;
    };

    Begin(kCreate);
    const GM_HANDLE fields = GM_GetCreateStruct(1, 0, 0);
    ASSERT_NE(GM_SetCreateField(fields, 0, "CODE", 'C', 8, 0, 0), nullptr);
    EXPECT_EQ(GM_CreateFile(db, table.c_str(), fields), kFailed);
    execute("DROP TABLE IF EXISTS " + table);
    ASSERT_EQ(execute("CREATE TABLE " + table + " (CODE varchar(8), PRICE double)"), 0)
        << ErrorOf(db);

    Begin(kOpen);
    EXPECT_EQ(GM_Open(db, table.c_str(), 0, 0), kFailed);
    EXPECT_NE(ErrorOf(db).find("[WARNING] OpenFile only supported when IsamConnection is "
                               "ENABLED.\n"),
              std::string::npos)
        << ErrorOf(db);

    Begin(kAppend);
    ASSERT_EQ(execute("INSERT INTO " + table + " VALUES ('K1', 1.5)"), 0) << ErrorOf(db);
    ASSERT_EQ(execute("INSERT INTO " + table + " VALUES ('K0', 0.5)"), 0) << ErrorOf(db);
    EXPECT_EQ(codes(""), (std::vector<std::string>{"K0", "K1"}));

    Begin(kUpdate);
    ASSERT_EQ(execute("UPDATE " + table + " SET CODE = 'K2' WHERE CODE = 'K0'"), 0) << ErrorOf(db);
    EXPECT_EQ(codes(""), (std::vector<std::string>{"K1", "K2"}));

    Begin(kDelete);
    ASSERT_EQ(execute("DELETE FROM " + table + " WHERE CODE = 'K1'"), 0) << ErrorOf(db);
    EXPECT_EQ(codes(""), (std::vector<std::string>{"K2"}));

    Begin(kQuery);
    EXPECT_EQ(codes(" WHERE PRICE > 0.25"), (std::vector<std::string>{"K2"}));

    Begin(kDrop);
    ASSERT_EQ(execute("DROP TABLE " + table), 0) << ErrorOf(db);
    EXPECT_EQ(GM_Query(db, ("SELECT CODE FROM " + table).c_str()), kFailed);
}

TEST_P(EveryDatabase, WalksTheRoad) {
    Begin(kConnect);
    int16_t status = -1;
    db = served->Connect(status);
    ASSERT_EQ(status, 0) << served->Output();
    Check();
    if (GetParam().serve == tServe::SQLite) {
        StatementRoad();
    } else {
        IsamRoad();
    }
    EXPECT_EQ(GM_DisConnect(db), 0);
}

// ---- The recording driver's answers.

// The column types that a recording library's script gives: whole numbers, texts and reals.
struct tColumnTypes {
    std::string integer, text, real;
};
const tColumnTypes kOdbcTypes{"4", "12", "8"};  // SQL_INTEGER, SQL_VARCHAR, SQL_DOUBLE
const tColumnTypes kOciTypes{"2", "1", "2"};    // NUMBER, VARCHAR2, NUMBER

// The patterns of the statements that read the road: the key cursor, the record's read and the
// seek's cursor; Informix's key cursor also reads the key's values.
struct tRoadReads {
    std::string keyCursor = "SELECT R_E_C_N_O_ FROM*";
    std::string fetch = "SELECT * FROM*";
    std::string seek = "SELECT R_E_C_N_O_, D_E_L_E_T_, CODE FROM*";
    bool keyValues = false;
};

// The answers of the road's reads, which every dialect asks in the same order: the key cursor in
// CODE order, the records it names, the seek of K1 and its record, the record read before and
// after the update, the key cursor under the filter and its record, and the query.
std::string RoadScript(const tColumnTypes& types = kOdbcTypes, const tRoadReads& reads = {}) {
    const std::vector<std::string> recno{"R_E_C_N_O_", types.integer, "10"};
    const std::vector<std::string> code{"CODE", types.text, "8"};
    const std::vector<std::string> deleted{"D_E_L_E_T_", types.text, "1"};
    const auto keys = [&](const std::vector<std::vector<std::string>>& rows) {
        if (reads.keyValues) return gmtest::ScriptLines(reads.keyCursor, {recno, code}, rows);
        std::vector<std::vector<std::string>> recnos;
        for (const auto& row : rows) recnos.push_back({row[0]});
        return gmtest::ScriptLines(reads.keyCursor, {recno}, recnos);
    };
    // One record of the table: "CODE PRICE D_E_L_E_T_ R_E_C_N_O_".
    const auto record = [&](const std::vector<std::string>& values) {
        return gmtest::ScriptLines(reads.fetch, {code, {"PRICE", types.real, "15"}, deleted, recno},
                                   {values});
    };
    return keys({{"2", "K0"}, {"1", "K1"}}) + record({"K0", "0.5", " ", "2"}) +
           record({"K1", "1.5", " ", "1"}) +
           gmtest::ScriptLines(reads.seek, {recno, deleted, code}, {{"1", " ", "K1"}}) +
           record({"K1", "1.5", " ", "1"}) + record({"K1", "1.5", " ", "1"}) +
           record({"K1", "9.5", " ", "1"}) + keys({{"1", "K1"}}) + record({"K1", "9.5", " ", "1"}) +
           gmtest::ScriptLines("SELECT CODE FROM ROAD ORDER BY CODE", {code}, {{"K0"}, {"K1"}});
}

// ---- The SQL that each recording type's driver receives.

const std::vector<tSql> kSybaseSql = {
    {kConnect, "SET TRANSACTION ISOLATION LEVEL READ UNCOMMITTED"},
    {kConnect, "SELECT name FROM sysobjects NOLOCK WHERE name = 'GML_FIELD'"},
    {kCreate,
     "CREATE TABLE dbo.ROAD(CODE VARCHAR(8) DEFAULT '        ',PRICE FLOAT DEFAULT 0,D_E_L_E_T_ "
     "VARCHAR(1) DEFAULT ' ',R_E_C_N_O_ INT DEFAULT 0)"},
    {kCreate, "DELETE FROM dbo.GML_FIELD WHERE FIELD_TABLE ='dbo.ROAD'"},
    {kCreate,
     "INSERT INTO dbo.GML_FIELD(FIELD_TABLE,FIELD_NAME,FIELD_TYPE,FIELD_PREC,FIELD_DEC) "
     "VALUES('dbo.ROAD','PRICE','P','12','2')"},
    {kCreate, "ALTER TABLE dbo.ROAD ADD CONSTRAINT ROAD_PK PRIMARY KEY CLUSTERED (R_E_C_N_O_)"},
    {kOpen, "SET ROWCOUNT 40"},
    {kOpen, "CREATE INDEX ROAD1 ON dbo.ROAD(CODE,R_E_C_N_O_,D_E_L_E_T_)"},
    {kAppend, "INSERT INTO dbo.ROAD(CODE,PRICE,R_E_C_N_O_) VALUES ( 'K1      ',1.5000000000,1)"},
    {kAppend, "INSERT INTO dbo.ROAD(CODE,PRICE,R_E_C_N_O_) VALUES ( 'K0      ',0.5000000000,2)"},
    {kTop, "SELECT R_E_C_N_O_ FROM dbo.ROAD NOLOCK  ORDER BY CODE,R_E_C_N_O_"},
    {kTop, "SELECT * FROM dbo.ROAD TBL NOLOCK  WHERE TBL.R_E_C_N_O_ = CONVERT( INT , ? ) [1='2']"},
    {kSkip, "SELECT * FROM dbo.ROAD TBL NOLOCK  WHERE TBL.R_E_C_N_O_ = CONVERT( INT , ? ) [1='1']"},
    {kSeek,
     "SELECT R_E_C_N_O_, D_E_L_E_T_, CODE FROM dbo.ROAD NOLOCK  WHERE  CODE  = 'K1      ' ORDER BY "
     "CODE,R_E_C_N_O_"},
    {kSeek, "SELECT * FROM dbo.ROAD TBL NOLOCK  WHERE TBL.R_E_C_N_O_ = CONVERT( INT , ? ) [1='1']"},
    {kSeek,
     "SELECT R_E_C_N_O_, D_E_L_E_T_, CODE FROM dbo.ROAD NOLOCK  WHERE  CODE  = 'K9      ' ORDER BY "
     "CODE,R_E_C_N_O_"},
    {kUpdate,
     "SELECT * FROM dbo.ROAD TBL NOLOCK  WHERE TBL.R_E_C_N_O_ = CONVERT( INT , ? ) [1='1']"},
    {kUpdate, "UPDATE dbo.ROAD SET PRICE = 9.5000000000 WHERE R_E_C_N_O_ = 1"},
    {kUpdate,
     "SELECT * FROM dbo.ROAD TBL NOLOCK  WHERE TBL.R_E_C_N_O_ = CONVERT( INT , ? ) [1='1']"},
    {kDelete, "UPDATE dbo.ROAD SET D_E_L_E_T_ = '*' WHERE R_E_C_N_O_ = 1"},
    {kRecall, "UPDATE dbo.ROAD SET D_E_L_E_T_ = ' ' WHERE R_E_C_N_O_ = 1"},
    {kFilter, "SET ROWCOUNT 250"},
    {kFilter,
     "SELECT R_E_C_N_O_ FROM dbo.ROAD NOLOCK  WHERE (CODE = 'K1') ORDER BY CODE,R_E_C_N_O_"},
    {kFilter,
     "SELECT * FROM dbo.ROAD TBL NOLOCK  WHERE TBL.R_E_C_N_O_ = CONVERT( INT , ? ) [1='1']"},
    {kQuery, "SET TRANSACTION ISOLATION LEVEL READ UNCOMMITTED"},
    {kQuery, "SELECT CODE FROM ROAD ORDER BY CODE"},
    {kDrop, "SET ROWCOUNT 0"},
    {kDrop, "DROP TABLE dbo.ROAD"},
    {kDrop, "DELETE FROM dbo.GML_FIELD WHERE FIELD_TABLE ='dbo.ROAD'"},
    {kDrop, "SELECT name FROM sysobjects NOLOCK WHERE name = 'ROAD'"},
};

const std::vector<tSql> kMSSQLSql = {
    {kConnect, "select substring(@@version,charindex('-',@@version)+2,2)"},
    {kConnect, "SELECT @@SPID AS PARAM_SESSION"},
    {kCreate,
     "CREATE TABLE dbo.ROAD(CODE VARCHAR(8) NOT NULL CONSTRAINT ROAD_CODE_DF DEFAULT '        "
     "',PRICE FLOAT NOT NULL CONSTRAINT ROAD_PRICE_DF DEFAULT 0,D_E_L_E_T_ VARCHAR(1) NOT NULL "
     "CONSTRAINT ROAD_D_E_L_E_T__DF DEFAULT ' ',R_E_C_N_O_ INT NOT NULL CONSTRAINT "
     "ROAD_R_E_C_N_O__DF DEFAULT 0)"},
    {kCreate, "DELETE FROM dbo.GML_FIELD WHERE FIELD_TABLE ='dbo.ROAD'"},
    {kCreate,
     "INSERT INTO dbo.GML_FIELD(FIELD_TABLE,FIELD_NAME,FIELD_TYPE,FIELD_PREC,FIELD_DEC) "
     "VALUES('dbo.ROAD','PRICE','P','12','2')"},
    {kCreate, "ALTER TABLE dbo.ROAD ADD CONSTRAINT ROAD_PK PRIMARY KEY CLUSTERED (R_E_C_N_O_)"},
    {kOpen, "CREATE INDEX ROAD1 ON dbo.ROAD(CODE,R_E_C_N_O_,D_E_L_E_T_)"},
    {kAppend, "INSERT INTO dbo.ROAD(CODE,PRICE,R_E_C_N_O_) VALUES ( 'K1      ',1.5000000000,1)"},
    {kAppend, "INSERT INTO dbo.ROAD(CODE,PRICE,R_E_C_N_O_) VALUES ( 'K0      ',0.5000000000,2)"},
    {kTop, "SET ROWCOUNT 40"},
    {kTop, "SELECT R_E_C_N_O_ FROM dbo.ROAD ORDER BY CODE,R_E_C_N_O_"},
    {kTop, "SELECT * FROM dbo.ROAD TBL WHERE TBL.R_E_C_N_O_ = ? [1='2']"},
    {kSkip, "SELECT * FROM dbo.ROAD TBL WHERE TBL.R_E_C_N_O_ = ? [1='1']"},
    {kSeek,
     "SELECT R_E_C_N_O_, D_E_L_E_T_, CODE FROM dbo.ROAD WHERE  CODE  = 'K1      ' ORDER BY "
     "CODE,R_E_C_N_O_"},
    {kSeek, "SELECT * FROM dbo.ROAD TBL WHERE TBL.R_E_C_N_O_ = ? [1='1']"},
    {kSeek,
     "SELECT R_E_C_N_O_, D_E_L_E_T_, CODE FROM dbo.ROAD WHERE  CODE  = 'K9      ' ORDER BY "
     "CODE,R_E_C_N_O_"},
    {kUpdate, "SELECT * FROM dbo.ROAD TBL WHERE TBL.R_E_C_N_O_ = ? [1='1']"},
    {kUpdate, "UPDATE dbo.ROAD SET PRICE = 9.5000000000 WHERE R_E_C_N_O_ = 1"},
    {kUpdate, "SELECT * FROM dbo.ROAD TBL WHERE TBL.R_E_C_N_O_ = ? [1='1']"},
    {kDelete, "UPDATE dbo.ROAD SET D_E_L_E_T_ = '*' WHERE R_E_C_N_O_ = 1"},
    {kRecall, "UPDATE dbo.ROAD SET D_E_L_E_T_ = ' ' WHERE R_E_C_N_O_ = 1"},
    {kFilter, "SET ROWCOUNT 250"},
    {kFilter, "SELECT R_E_C_N_O_ FROM dbo.ROAD WHERE (CODE = 'K1') ORDER BY CODE,R_E_C_N_O_"},
    {kFilter, "SELECT * FROM dbo.ROAD TBL WHERE TBL.R_E_C_N_O_ = ? [1='1']"},
    {kQuery, "select substring(@@version,charindex('-',@@version)+2,2)"},
    {kQuery, "SELECT @@SPID AS PARAM_SESSION"},
    {kQuery, "SET TRANSACTION ISOLATION LEVEL READ UNCOMMITTED"},
    {kQuery, "SELECT CODE FROM ROAD ORDER BY CODE"},
    {kDrop, "SET ROWCOUNT 0"},
    {kDrop, "DROP TABLE dbo.ROAD"},
    {kDrop, "DELETE FROM dbo.GML_FIELD WHERE FIELD_TABLE ='dbo.ROAD'"},
    {kDrop, "SELECT name FROM sysobjects WHERE sysstat & 0xf IN (3) AND id = object_id('ROAD')"},
};

const std::vector<tSql> kCloudScapeSql = {
    {kConnect, "select schemaid  from sys.sysschemas  where schemaname = 'ADMIN'"},
    {kConnect,
     "select tableid   from sys.systables   where tablename = 'GML_FIELD' and schemaid = 'S1'"},
    {kCreate,
     "CREATE TABLE ADMIN.ROAD(CODE VARCHAR(8) NOT NULL DEFAULT '        ',PRICE FLOAT NOT NULL "
     "DEFAULT 0.0,D_E_L_E_T_ VARCHAR(1) NOT NULL DEFAULT ' ',R_E_C_N_O_ INTEGER NOT NULL DEFAULT "
     "0)"},
    {kCreate, "DELETE FROM ADMIN.GML_FIELD WHERE FIELD_TABLE ='ADMIN.ROAD'"},
    {kCreate,
     "INSERT INTO ADMIN.GML_FIELD(FIELD_TABLE,FIELD_NAME,FIELD_TYPE,FIELD_PREC,FIELD_DEC) "
     "VALUES('ADMIN.ROAD','PRICE','P','12','2')"},
    {kCreate, "ALTER TABLE ROAD ADD PRIMARY KEY (R_E_C_N_O_)"},
    {kOpen, "CREATE INDEX ROAD1 ON ADMIN.ROAD(CODE,R_E_C_N_O_,D_E_L_E_T_)"},
    {kAppend, "INSERT INTO ADMIN.ROAD(CODE,PRICE,R_E_C_N_O_) VALUES ( 'K1      ',1.5000000000,1)"},
    {kAppend, "INSERT INTO ADMIN.ROAD(CODE,PRICE,R_E_C_N_O_) VALUES ( 'K0      ',0.5000000000,2)"},
    {kTop, "SELECT R_E_C_N_O_ FROM ADMIN.ROAD ORDER BY CODE,R_E_C_N_O_"},
    {kTop, "SELECT * FROM ADMIN.ROAD TBL WHERE TBL.R_E_C_N_O_ = ? [1='2']"},
    {kSkip, "SELECT * FROM ADMIN.ROAD TBL WHERE TBL.R_E_C_N_O_ = ? [1='1']"},
    {kSeek,
     "SELECT R_E_C_N_O_, D_E_L_E_T_, CODE FROM ADMIN.ROAD WHERE  CODE  = 'K1      ' ORDER BY "
     "CODE,R_E_C_N_O_"},
    {kSeek, "SELECT * FROM ADMIN.ROAD TBL WHERE TBL.R_E_C_N_O_ = ? [1='1']"},
    {kSeek,
     "SELECT R_E_C_N_O_, D_E_L_E_T_, CODE FROM ADMIN.ROAD WHERE  CODE  = 'K9      ' ORDER BY "
     "CODE,R_E_C_N_O_"},
    {kUpdate, "SELECT * FROM ADMIN.ROAD TBL WHERE TBL.R_E_C_N_O_ = ? [1='1']"},
    {kUpdate, "UPDATE ADMIN.ROAD SET PRICE = 9.5000000000 WHERE R_E_C_N_O_ = 1"},
    {kUpdate, "SELECT * FROM ADMIN.ROAD TBL WHERE TBL.R_E_C_N_O_ = ? [1='1']"},
    {kDelete, "UPDATE ADMIN.ROAD SET D_E_L_E_T_ = '*' WHERE R_E_C_N_O_ = 1"},
    {kRecall, "UPDATE ADMIN.ROAD SET D_E_L_E_T_ = ' ' WHERE R_E_C_N_O_ = 1"},
    {kFilter, "SELECT R_E_C_N_O_ FROM ADMIN.ROAD WHERE (CODE = 'K1') ORDER BY CODE,R_E_C_N_O_"},
    {kFilter, "SELECT * FROM ADMIN.ROAD TBL WHERE TBL.R_E_C_N_O_ = ? [1='1']"},
    {kQuery, "SELECT CODE FROM ROAD ORDER BY CODE"},
    {kDrop, "DROP TABLE ADMIN.ROAD"},
    {kDrop, "DELETE FROM ADMIN.GML_FIELD WHERE FIELD_TABLE ='ADMIN.ROAD'"},
    {kDrop, "select tableid   from sys.systables   where tablename = 'ROAD' and schemaid = 'S1'"},
};

// The statements of skip, seek, update, delete and recall on the unqualified ROAD, which
// c-treeSQL and Informix send alike.
std::vector<tSql> WithRecordSteps(std::vector<tSql> sql) {
    sql.insert(
        sql.end(),
        {
            {kSkip, "SELECT * FROM ROAD TBL WHERE TBL.R_E_C_N_O_ = ? [1='1']"},
            {kSeek,
             "SELECT R_E_C_N_O_, D_E_L_E_T_, CODE FROM ROAD WHERE  CODE  = 'K1      ' ORDER BY "
             "CODE,R_E_C_N_O_"},
            {kSeek, "SELECT * FROM ROAD TBL WHERE TBL.R_E_C_N_O_ = ? [1='1']"},
            {kSeek,
             "SELECT R_E_C_N_O_, D_E_L_E_T_, CODE FROM ROAD WHERE  CODE  = 'K9      ' ORDER BY "
             "CODE,R_E_C_N_O_"},
            {kUpdate, "SELECT * FROM ROAD TBL WHERE TBL.R_E_C_N_O_ = ? [1='1']"},
            {kUpdate, "UPDATE ROAD SET PRICE = 9.5000000000 WHERE R_E_C_N_O_ = 1"},
            {kUpdate, "SELECT * FROM ROAD TBL WHERE TBL.R_E_C_N_O_ = ? [1='1']"},
            {kDelete, "UPDATE ROAD SET D_E_L_E_T_ = '*' WHERE R_E_C_N_O_ = 1"},
            {kRecall, "UPDATE ROAD SET D_E_L_E_T_ = ' ' WHERE R_E_C_N_O_ = 1"},
        });
    return sql;
}

const std::vector<tSql> kCTreeSQLSql = WithRecordSteps({
    {kConnect, "select tbl from systables where tbl = 'gml_field'"},
    {kConnect,
     "create table GML_FIELD(FIELD_TABLE varchar(64) not null default '                            "
     "                                    ',FIELD_NAME varchar(32) not null default '              "
     "                  ',FIELD_TYPE varchar(2) not null default '  ',FIELD_PREC varchar(4) not "
     "null default '    ',FIELD_DEC varchar(4) not null default '    ') "},
    {kCreate,
     "create table ROAD(CODE varchar(8) not null default '        ',PRICE float not null default "
     "0.0,D_E_L_E_T_ varchar(1) not null default ' ',R_E_C_N_O_ int not null default 0.0) "},
    {kCreate, "DELETE FROM GML_FIELD WHERE FIELD_TABLE ='ROAD'"},
    {kCreate,
     "INSERT INTO GML_FIELD(FIELD_TABLE,FIELD_NAME,FIELD_TYPE,FIELD_PREC,FIELD_DEC) "
     "VALUES('ROAD','PRICE','P','12','2')"},
    {kCreate, "alter table road add primary key (r_e_c_n_o_)"},
    {kOpen, "CREATE INDEX ROAD1 ON ROAD(CODE,R_E_C_N_O_,D_E_L_E_T_)"},
    {kAppend, "INSERT INTO ROAD(CODE,PRICE,R_E_C_N_O_) VALUES ( 'K1      ',1.5000000000,1)"},
    {kAppend, "INSERT INTO ROAD(CODE,PRICE,R_E_C_N_O_) VALUES ( 'K0      ',0.5000000000,2)"},
    {kTop, "SELECT R_E_C_N_O_ FROM ROAD ORDER BY CODE,R_E_C_N_O_"},
    {kTop, "SELECT * FROM ROAD TBL WHERE TBL.R_E_C_N_O_ = ? [1='2']"},
    {kFilter, "SELECT R_E_C_N_O_ FROM ROAD WHERE (CODE = 'K1') ORDER BY CODE,R_E_C_N_O_"},
    {kFilter, "SELECT * FROM ROAD TBL WHERE TBL.R_E_C_N_O_ = ? [1='1']"},
    {kQuery, "SELECT CODE FROM ROAD ORDER BY CODE"},
    {kDrop, "DROP TABLE ROAD"},
    {kDrop, "DELETE FROM GML_FIELD WHERE FIELD_TABLE ='ROAD'"},
    {kDrop, "select tbl from systables where tbl = 'road'"},
});

const std::vector<tSql> kDB2Sql = {
    {kConnect, "select application_id() AS APPLID from sysibm.sysdummy1"},
    {kConnect,
     "SELECT TABNAME FROM SYSCAT.TABLES WHERE TABNAME = 'GML_FIELD' AND TABSCHEMA = 'ADMIN' FOR "
     "READ ONLY"},
    {kCreate,
     "CREATE TABLE ADMIN.ROAD(CODE VARCHAR(8) NOT NULL  DEFAULT '        ',PRICE DOUBLE NOT NULL  "
     "DEFAULT 0.0,D_E_L_E_T_ VARCHAR(1) NOT NULL  DEFAULT ' ',R_E_C_N_O_ INTEGER NOT NULL  DEFAULT "
     "0)"},
    {kCreate, "DELETE FROM ADMIN.GML_FIELD WHERE FIELD_TABLE ='ADMIN.ROAD'"},
    {kCreate,
     "INSERT INTO ADMIN.GML_FIELD(FIELD_TABLE,FIELD_NAME,FIELD_TYPE,FIELD_PREC,FIELD_DEC) "
     "VALUES('ADMIN.ROAD','PRICE','P','12','2')"},
    {kCreate,
     "CREATE UNIQUE INDEX ROAD_PK ON ROAD(R_E_C_N_O_ ASC)  PCTFREE 10 MINPCTUSED 10 ALLOW REVERSE "
     "SCANS"},
    {kCreate, "ALTER TABLE ADMIN.ROAD ADD PRIMARY KEY (R_E_C_N_O_)"},
    {kOpen, "CREATE INDEX ROAD1 ON ADMIN.ROAD(CODE,R_E_C_N_O_,D_E_L_E_T_) ALLOW REVERSE SCANS"},
    {kAppend, "INSERT INTO ADMIN.ROAD(CODE,PRICE,R_E_C_N_O_) VALUES ( 'K1      ',1.5000000000,1)"},
    {kAppend, "INSERT INTO ADMIN.ROAD(CODE,PRICE,R_E_C_N_O_) VALUES ( 'K0      ',0.5000000000,2)"},
    {kTop,
     "SELECT R_E_C_N_O_ FROM ADMIN.ROAD WHERE  CODE >= chr(0) ORDER BY CODE,R_E_C_N_O_ FETCH FIRST "
     "40 ROWS ONLY OPTIMIZE FOR 40 ROWS FOR READ ONLY"},
    {kTop, "SELECT * FROM ADMIN.ROAD TBL WHERE TBL.R_E_C_N_O_ = ? [1='2']"},
    {kSkip, "SELECT * FROM ADMIN.ROAD TBL WHERE TBL.R_E_C_N_O_ = ? [1='1']"},
    {kSeek,
     "SELECT R_E_C_N_O_, D_E_L_E_T_, CODE FROM ADMIN.ROAD WHERE  CODE  = 'K1      ' ORDER BY "
     "CODE,R_E_C_N_O_ FETCH FIRST 40 ROWS ONLY OPTIMIZE FOR 40 ROWS FOR READ ONLY"},
    {kSeek, "SELECT * FROM ADMIN.ROAD TBL WHERE TBL.R_E_C_N_O_ = ? [1='1']"},
    {kSeek,
     "SELECT R_E_C_N_O_, D_E_L_E_T_, CODE FROM ADMIN.ROAD WHERE  CODE  = 'K9      ' ORDER BY "
     "CODE,R_E_C_N_O_ FETCH FIRST 40 ROWS ONLY OPTIMIZE FOR 40 ROWS FOR READ ONLY"},
    {kUpdate, "SELECT * FROM ADMIN.ROAD TBL WHERE TBL.R_E_C_N_O_ = ? [1='1']"},
    {kUpdate, "UPDATE ADMIN.ROAD SET PRICE = 9.5000000000 WHERE R_E_C_N_O_ = 1"},
    {kUpdate, "SELECT * FROM ADMIN.ROAD TBL WHERE TBL.R_E_C_N_O_ = ? [1='1']"},
    {kDelete, "UPDATE ADMIN.ROAD SET D_E_L_E_T_ = '*' WHERE R_E_C_N_O_ = 1"},
    {kRecall, "UPDATE ADMIN.ROAD SET D_E_L_E_T_ = ' ' WHERE R_E_C_N_O_ = 1"},
    {kFilter,
     "SELECT R_E_C_N_O_ FROM ADMIN.ROAD WHERE  CODE >= chr(0) AND (CODE = 'K1') ORDER BY "
     "CODE,R_E_C_N_O_ FETCH FIRST 250 ROWS ONLY OPTIMIZE FOR 250 ROWS FOR READ ONLY"},
    {kFilter, "SELECT * FROM ADMIN.ROAD TBL WHERE TBL.R_E_C_N_O_ = ? [1='1']"},
    {kQuery, "SELECT CODE FROM ROAD ORDER BY CODE"},
    {kDrop, "DROP TABLE ADMIN.ROAD"},
    {kDrop, "DELETE FROM ADMIN.GML_FIELD WHERE FIELD_TABLE ='ADMIN.ROAD'"},
    {kDrop,
     "SELECT TABNAME FROM SYSCAT.TABLES WHERE TABNAME = 'ROAD' AND TABSCHEMA = 'ADMIN' FOR READ "
     "ONLY"},
};

const std::vector<tSql> kInformixSql = WithRecordSteps({
    {kConnect, "SET ISOLATION TO DIRTY READ"},
    {kConnect, "SET LOCK MODE TO WAIT"},
    {kConnect, "select dbinfo('sessionid') as param_session from systables where tabid = 1"},
    {kConnect, "select tabname from systables where tabname = 'gml_field' and owner = ''"},
    {kCreate,
     "CREATE TABLE ROAD(CODE VARCHAR(8) DEFAULT '        ' NOT NULL,PRICE FLOAT DEFAULT 0.0 NOT "
     "NULL,D_E_L_E_T_ VARCHAR(1) DEFAULT ' ' NOT NULL,R_E_C_N_O_ INTEGER DEFAULT 0 NOT NULL) LOCK "
     "MODE ROW"},
    {kCreate, "DELETE FROM GML_FIELD WHERE FIELD_TABLE ='ROAD'"},
    {kCreate, "COMMIT WORK"},
    {kCreate,
     "INSERT INTO GML_FIELD(FIELD_TABLE,FIELD_NAME,FIELD_TYPE,FIELD_PREC,FIELD_DEC) "
     "VALUES('ROAD','PRICE','P','12','2')"},
    {kCreate, "COMMIT WORK"},
    {kCreate, "ALTER TABLE ROAD ADD CONSTRAINT PRIMARY KEY (R_E_C_N_O_) CONSTRAINT ROAD_PK"},
    {kOpen, "CREATE INDEX ROAD1 ON ROAD(CODE,R_E_C_N_O_,D_E_L_E_T_)"},
    {kAppend, "INSERT INTO ROAD(CODE,PRICE,R_E_C_N_O_) VALUES ( 'K1      ',1.5000000000,1)"},
    {kAppend, "INSERT INTO ROAD(CODE,PRICE,R_E_C_N_O_) VALUES ( 'K0      ',0.5000000000,2)"},
    {kTop, "SELECT R_E_C_N_O_ ,CODE FROM ROAD ORDER BY CODE,R_E_C_N_O_"},
    {kTop, "SELECT * FROM ROAD TBL WHERE TBL.R_E_C_N_O_ = ? [1='2']"},
    {kFilter, "SELECT R_E_C_N_O_ ,CODE FROM ROAD WHERE (CODE = 'K1') ORDER BY CODE,R_E_C_N_O_"},
    {kFilter, "SELECT * FROM ROAD TBL WHERE TBL.R_E_C_N_O_ = ? [1='1']"},
    {kQuery, "SELECT CODE FROM ROAD ORDER BY CODE"},
    {kDrop, "DROP TABLE ROAD"},
    {kDrop, "DELETE FROM GML_FIELD WHERE FIELD_TABLE ='ROAD'"},
    {kDrop, "COMMIT WORK"},
    {kDrop, "select tabname from systables where tabname = 'road' and owner = ''"},
});

// DB2's application id, asked when the session begins.
std::string DB2Session() {
    return gmtest::ScriptLines("select application_id() AS APPLID from sysibm.sysdummy1",
                               {{"APPLID", "12", "32"}}, {{"*LOCAL.DB2.1"}});
}

// Informix's session number, asked when the session begins.
std::string InformixSession() {
    return gmtest::ScriptLines(
        "select dbinfo('sessionid') as param_session from systables where tabid = 1",
        {{"PARAM_SESSION", "4", "10"}}, {{"77"}});
}

// Oracle 9's version; the definition of the table it created stays in the server's cache.
std::string OracleScript() {
    return gmtest::ScriptLines("select * from v$version", {{"BANNER", "1", "80"}},
                               {{"Oracle9i Enterprise Edition Release 9.2.0.1.0 - Production"}}) +
           RoadScript(kOciTypes, {"SELECT R_E_C_N_O_ FROM*", "SELECT * FROM ROAD*",
                                  "SELECT  /*+ FIRST_ROWS(50) INDEX_ASC(ROAD ROAD1) */ R_E_C_N_O_, "
                                  "D_E_L_E_T_, CODE FROM*"});
}

// Oracle's statements as the library executes them, with their bound values. The key cursors
// load a row_number() window under hints; the record's read and the writes bind their values.
const std::vector<tSql> kOracleSql = {
    {kConnect, "delete from GML_PARAM where PARAM_SESSION = userenv('sessionid'),1,32)"},
    {kConnect,
     "SELECT NAME FROM SYS.OBJ$ WHERE NAME = 'GML_FIELD' AND OWNER# = USERENV('SCHEMAID') AND "
     "TYPE# IN (2,3,4),0,32)"},
    {kCreate,
     "CREATE TABLE ROAD(CODE CHAR(8) DEFAULT '        ' NOT NULL ,PRICE NUMBER DEFAULT 0.0 NOT "
     "NULL ,D_E_L_E_T_ CHAR(1) DEFAULT ' ' NOT NULL ,R_E_C_N_O_ NUMBER DEFAULT 0.0 NOT NULL "
     "),1,32)"},
    {kCreate, "DELETE FROM GML_FIELD WHERE FIELD_TABLE ='SCOTT.ROAD',1,0)"},
    {kCreate,
     "INSERT INTO GML_FIELD(FIELD_TABLE,FIELD_NAME,FIELD_TYPE,FIELD_PREC,FIELD_DEC) "
     "VALUES('SCOTT.ROAD','PRICE','P','12','2'),1,0)"},
    {kCreate, "ALTER TABLE ROAD ADD CONSTRAINT ROAD_PK PRIMARY KEY (R_E_C_N_O_),1,32)"},
    {kOpen, "CREATE INDEX ROAD1 ON ROAD(CODE,R_E_C_N_O_,D_E_L_E_T_),1,32)"},
    {kAppend,
     "INSERT INTO ROAD(CODE,PRICE,R_E_C_N_O_) VALUES ( :1,:2,:3) [1='K1      '] [2=1.5] "
     "[3=1],1,0)"},
    {kAppend,
     "INSERT INTO ROAD(CODE,PRICE,R_E_C_N_O_) VALUES ( :1,:2,:3) [1='K0      '] [2=0.5] "
     "[3=2],1,0)"},
    {kTop,
     "SELECT R_E_C_N_O_ FROM ( select  /*+ FIRST_ROWS(50) INDEX_ASC(ROAD ROAD1) */ R_E_C_N_O_, "
     "row_number() over (  ORDER BY CODE,R_E_C_N_O_ ) rn from ROAD ) where rn between 1 and "
     "50,0,0)"},
    {kTop, "SELECT * FROM ROAD TBL WHERE TBL.R_E_C_N_O_ = :1 [1='2'],0,0)"},
    {kSkip, "SELECT * FROM ROAD TBL WHERE TBL.R_E_C_N_O_ = :1 [1='1'],0,0)"},
    {kSeek,
     "SELECT  /*+ FIRST_ROWS(50) INDEX_ASC(ROAD ROAD1) */ R_E_C_N_O_, D_E_L_E_T_, CODE FROM ROAD "
     "WHERE  CODE  = 'K1      ' ORDER BY CODE,R_E_C_N_O_,0,0)"},
    {kSeek, "SELECT * FROM ROAD TBL WHERE TBL.R_E_C_N_O_ = :1 [1='1'],0,0)"},
    {kSeek,
     "SELECT  /*+ FIRST_ROWS(50) INDEX_ASC(ROAD ROAD1) */ R_E_C_N_O_, D_E_L_E_T_, CODE FROM ROAD "
     "WHERE  CODE  = 'K9      ' ORDER BY CODE,R_E_C_N_O_,0,0)"},
    {kUpdate, "SELECT * FROM ROAD TBL WHERE TBL.R_E_C_N_O_ = :1 [1='1'],0,0)"},
    {kUpdate, "UPDATE ROAD SET PRICE = :1 WHERE R_E_C_N_O_ = :2 [1=9.5] [2=1],1,0)"},
    {kUpdate, "SELECT * FROM ROAD TBL WHERE TBL.R_E_C_N_O_ = :1 [1='1'],0,0)"},
    {kDelete, "UPDATE ROAD SET D_E_L_E_T_ = '*' WHERE R_E_C_N_O_ = 1,1,0)"},
    {kRecall, "UPDATE ROAD SET D_E_L_E_T_ = ' ' WHERE R_E_C_N_O_ = 1,1,0)"},
    {kFilter,
     "SELECT R_E_C_N_O_ FROM ( select  /*+ FIRST_ROWS(260)  */ R_E_C_N_O_, row_number() over (  "
     "ORDER BY CODE,R_E_C_N_O_ ) rn from ROAD WHERE (CODE = 'K1') ) where rn between 1 and "
     "260,0,0)"},
    {kFilter, "SELECT * FROM ROAD TBL WHERE TBL.R_E_C_N_O_ = :1 [1='1'],0,0)"},
    {kQuery, "SELECT CODE FROM ROAD ORDER BY CODE,0,0)"},
    {kDrop, "DROP TABLE ROAD,1,32)"},
    {kDrop, "DELETE FROM GML_FIELD WHERE FIELD_TABLE ='SCOTT.ROAD',1,0)"},
    {kDrop,
     "SELECT NAME FROM SYS.OBJ$ WHERE NAME = 'ROAD' AND OWNER# = USERENV('SCHEMAID') AND TYPE# IN "
     "(2,3,4),0,0)"},
};

const tDatabaseType kTypes[] = {
    {"POSTGRES", tServe::Postgres, "", "", "", "", {}},
    {"MYSQL", tServe::MariaDB, "", "", "", "", {}},
    {"ODBC", tServe::SQLite, "", "", "", "", {}},
    {"SYBASE", tServe::Recording, "SYBASE", "SYBASE/ERP", RoadScript(), "", kSybaseSql},
    {"MSSQL", tServe::Recording, "MSSQL", "MSSQL/ERP",
     gmtest::MSSQLSessionScript("51") + gmtest::MSSQLSessionScript("60") + RoadScript(),
     gmtest::MSSQLDataSourceIni(), kMSSQLSql},
    {"MSSQL7", tServe::Recording, "MSSQL", "MSSQL7/ERP",
     gmtest::MSSQLSessionScript("51") + gmtest::MSSQLSessionScript("60") + RoadScript(),
     gmtest::MSSQLDataSourceIni(), kMSSQLSql},
    {"CLOUDSCAPE", tServe::Recording, "CLOUDSCAPE", "CLOUDSCAPE/ERP",
     gmtest::ScriptLines("select schemaid  from sys.sysschemas  where schemaname = 'ADMIN'",
                         {{"SCHEMAID", "12", "36"}}, {{"S1"}}) +
         RoadScript(),
     "", kCloudScapeSql},
    {"CTREESQL", tServe::Recording, "CTREESQL", "CTREESQL/ERP", RoadScript(), "", kCTreeSQLSql},
    {"DB2", tServe::Recording, "DB2", "DB2/ERP", DB2Session() + RoadScript(), "user=admin\r\n",
     kDB2Sql},
    {"ORACLE", tServe::Oracle, "", "", OracleScript(), "", kOracleSql},
    {"INFORMIX", tServe::Recording, "INFORMIX", "INFORMIX/ERP",
     InformixSession() +
         RoadScript(kOdbcTypes, {"SELECT R_E_C_N_O_ ,CODE FROM*", "SELECT * FROM*",
                                 "SELECT R_E_C_N_O_, D_E_L_E_T_, CODE FROM*", true}),
     "", kInformixSql},
};

INSTANTIATE_TEST_SUITE_P(Types, EveryDatabase, ::testing::ValuesIn(kTypes),
                         [](const ::testing::TestParamInfo<tDatabaseType>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
