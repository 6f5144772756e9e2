// The main road of an application, through the shared library's GM_ functions only, against the
// real pellmar in console mode over a fresh database of the test's own on the private PostgreSQL
// and on the private MariaDB, reached through the alias <type>/<database> of the program's
// gatemill.ini.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "client/gatemillapi.h"
#include "tests/lib_common/support/inipassword.h"
#include "tests/server/process/support/programprocess.h"
#include "tests/server/process/support/programrun.h"
#include "tests/server/support/mariadatabase.h"
#include "tests/server/support/pgdatabase.h"

// The database drivers' own leaks, which the db test programs suppress (driver_leaks.cpp).
extern "C" const char* __lsan_default_suppressions();

namespace {

// Status codes of the library's header.
constexpr int16_t kNotConnected = -2;
constexpr int16_t kConnectFailed = -35;
constexpr int16_t kFailed = -19;

// The road's table: CODE C(8), PRICE N(12,2), BORN D, ACTIVE L.
constexpr const char* kTable = "ROAD";

// The values of row n.
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

// The connection's last error text, for failure messages.
std::string ErrorOf(GM_HANDLE db) {
    char text[512] = "";
    GM_GetError(db, text, sizeof text - 1);
    return text;
}

// A copy of pellmar in the test's directory, serving the test's database (Database: the server's
// fresh-database fixture), and table connections to it that are released at the end.
template <class Database>
class MainRoad : public Database {
protected:
    using Database::dir;
    using Database::dsn;
    using Database::server;

    void SetUp() override {
        Database::SetUp();
        if (this->HasFatalFailure()) return;
        port = gmtest::FreePort();
        ASSERT_NE(port, 0);
        gmtest::WriteFileText(dir.File("gatemill.ini"),
                              "[General]\r\nPort=" + std::to_string(port) +
                                  "\r\nThreadMin=4\r\nThreadInc=2\r\n[" + Environment() +
                                  "]\r\nuser=" + server.user +
                                  "\r\npassword=" + gmtest::IniPassword(server.password) + "\r\n");
        // The program under LeakSanitizer ignores the same driver leaks as this one.
        gmtest::WriteFileText(dir.File("driver_leaks.supp"), __lsan_default_suppressions());
        const char* options = std::getenv("LSAN_OPTIONS");
        const std::string kept = options ? options : "";
        setenv("LSAN_OPTIONS", ("suppressions=" + dir.File("driver_leaks.supp")).c_str(), 1);
        program = std::make_unique<gmtest::ProgramRun>(gmtest::CopyProgram(dir),
                                                       std::vector<std::string>{"-console"});
        if (options) {
            setenv("LSAN_OPTIONS", kept.c_str(), 1);
        } else {
            unsetenv("LSAN_OPTIONS");
        }
        ASSERT_TRUE(program->Started());
        ASSERT_TRUE(program->WaitFor("Listening port " + std::to_string(port) + " \n"))
            << program->Output();
    }

    void TearDown() override {
        for (GM_HANDLE handle : handles) {
            GM_DisConnect(handle);
            GM_Release(handle);
        }
        if (program && program->Started()) {
            size_t from = 0;
            EXPECT_EQ(program->StopAnsweringYes(from), 0) << program->Output();
        }
        Database::TearDown();
    }

    std::string Environment() const { return server.dbType + "/" + dsn; }

    // A new table connection, released at the end, and the status of its connect.
    GM_HANDLE Connection(int16_t& status, const std::string& environment) {
        const GM_HANDLE handle = GM_GetGmlConn(0, port);
        EXPECT_NE(handle, 0u);
        handles.push_back(handle);
        status = GM_Connect(handle, "127.0.0.1", environment.c_str(), "gatemill main road");
        return handle;
    }
    GM_HANDLE Connected() {
        int16_t status = 0;
        const GM_HANDLE handle = Connection(status, Environment());
        EXPECT_EQ(status, 0) << program->Output();
        return handle;
    }

    u16 port = 0;
    std::unique_ptr<gmtest::ProgramRun> program;
    std::vector<GM_HANDLE> handles;
};

struct DatabaseName {
    template <class Database>
    static std::string GetName(int) {
        return std::is_same_v<Database, gmtest::PostgresDatabase> ? "PostgreSQL" : "MariaDB";
    }
};
using Databases = ::testing::Types<gmtest::PostgresDatabase, gmtest::MariaDatabase>;
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
        example.Output(),
        {"GM_Connect", " 0\n", "server type WinNT, build 20110117", "GM_CreateFile GM_EXAMPLE",
         " 0\n", "GM_DeleteFile GM_EXAMPLE", " 0\n", "GM_DisConnect", " 0\n", "done\n"}))
        << this->program->Output();
}

// The road of an application: create a table, open it, fill it and walk it, write, lock and
// query it, and drop it again.
TYPED_TEST(MainRoad, WalksTheRoad) {
    const GM_HANDLE db = this->Connected();
    ASSERT_EQ(GM_IsConnected(db), 1);

    // Create the table: slots of name, type, size, width and decimals.
    const GM_HANDLE fields = GM_GetCreateStruct(4, 0, 0);
    ASSERT_NE(fields, 0u);
    ASSERT_NE(GM_SetCreateField(fields, 0, "CODE", 'C', 8, 0, 0), nullptr);
    ASSERT_NE(GM_SetCreateField(fields, 1, "PRICE", 'N', 12, 12, 2), nullptr);
    ASSERT_NE(GM_SetCreateField(fields, 2, "BORN", 'D', 8, 0, 0), nullptr);
    ASSERT_NE(GM_SetCreateField(fields, 3, "ACTIVE", 'L', 1, 0, 0), nullptr);
    ASSERT_EQ(GM_CreateFile(db, kTable, fields), 0) << ErrorOf(db);
    // The field registry of the new table: its N, D and L fields.
    EXPECT_EQ(
        this->Values("select concat(trim(FIELD_NAME), ' ', trim(FIELD_TYPE), ' ', "
                     "trim(FIELD_PREC), ' ', trim(FIELD_DEC)) from GML_FIELD order by FIELD_NAME"),
        (std::vector<std::string>{"ACTIVE L 1 0", "BORN D 8 0", "PRICE P 12 2"}));

    // Direct SQL writes two rows.
    for (int n : {7, 3}) {
        const std::string insert =
            "INSERT INTO ROAD (CODE, PRICE, BORN, ACTIVE, D_E_L_E_T_, "
            "R_E_C_N_O_) VALUES ('" +
            CodeOf(n) + "', " + std::to_string(PriceOf(n)) + ", '" + BornOf(n) + "', '" +
            ActiveOf(n) + "', ' ', " + std::to_string(n) + ")";
        ASSERT_EQ(GM_Execute(db, insert.c_str(), 0), 0) << insert << ErrorOf(db);
    }
    EXPECT_EQ(
        this->Values("select concat(trim(CODE), ' ', BORN, ' ', ACTIVE) from ROAD order by CODE"),
        (std::vector<std::string>{CodeOf(3) + " " + BornOf(3) + " " + ActiveOf(3),
                                  CodeOf(7) + " " + BornOf(7) + " " + ActiveOf(7)}));
    // A statement the database refuses fails, and the last error says why.
    EXPECT_EQ(GM_Execute(db, "UPDATE NOSUCHTABLE SET X = 1", 0), kFailed);
    EXPECT_NE(ErrorOf(db).find("NOSUCHTABLE"), std::string::npos) << ErrorOf(db);

    // Drop the table, with its registry rows.
    EXPECT_EQ(GM_DeleteFile(db, kTable), 0) << ErrorOf(db);
    EXPECT_EQ(this->Value("select count(*) from information_schema.tables where "
                          "upper(table_name) = 'ROAD'"),
              "0");
    EXPECT_EQ(this->Value("select count(*) from GML_FIELD"), "0");

    EXPECT_EQ(GM_DisConnect(db), 0);
    EXPECT_EQ(GM_IsConnected(db), 0);
}

}  // namespace
