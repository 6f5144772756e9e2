// The CloudScape, c-treeSQL, DB2 and Informix drivers end to end: the real pellmar in console
// mode whose client library for the type is the recording ODBC driver, playing a script file that
// answers the catalogue as the database would and appending its calls to a log file, reached
// through the shared library's GM_ functions: a client connects, creates a table, opens it,
// appends a record and moves over it.
#include <gtest/gtest.h>

#include <string>

#include "client/gatemillapi.h"
#include "tests/client/support/recodbcserved.h"

namespace {

struct tDialect {
    const char* dbType;
    std::string script;      // the catalogue's answers: the schema of CloudScape, DB2's
                             // application id and columns
    std::string create;      // the table's DDL that the log must show
    std::string primaryKey;  // and its record-number key
};

std::string Column(const char* name, int sqlType, int size) {
    return std::string("COLUMN\t") + name + "\t" + std::to_string(sqlType) + "\t" +
           std::to_string(size) + "\n";
}

const tDialect kDialects[] = {
    {"CLOUDSCAPE",
     "RESULT\tselect schemaid  from sys.sysschemas  where schemaname = 'ADMIN'\n" +
         Column("SCHEMAID", 12, 36) + "ROW\tS1\n",
     "CREATE TABLE ADMIN.T1(CODE VARCHAR(8) NOT NULL DEFAULT '        ',PRICE FLOAT NOT NULL "
     "DEFAULT 0.0,D_E_L_E_T_ VARCHAR(1) NOT NULL DEFAULT ' ',R_E_C_N_O_ INTEGER NOT NULL DEFAULT "
     "0)",
     "ALTER TABLE T1 ADD PRIMARY KEY (R_E_C_N_O_)"},
    {"DB2",
     "RESULT\tselect application_id() AS APPLID from sysibm.sysdummy1\n" +
         Column("APPLID", 12, 32) + "ROW\t*LOCAL.DB2.1\n" +
         "RESULT\tSELECT COUNT(COLNAME) FROM SYSCAT.COLUMNS WHERE (TABSCHEMA = 'ADMIN' AND "
         "TABNAME = 'T1')\n" +
         Column("N", 4, 10) + "ROW\t4\n" +
         "RESULT\tSELECT COLNAME,TYPENAME,LENGTH FROM SYSCAT.COLUMNS*\n" +
         Column("COLNAME", 12, 128) + Column("TYPENAME", 12, 128) + Column("LENGTH", 4, 10) +
         "ROW\tCODE\tVARCHAR\t8\nROW\tPRICE\tDOUBLE\t8\nROW\tD_E_L_E_T_\tVARCHAR\t1\n"
         "ROW\tR_E_C_N_O_\tINTEGER\t4\n",
     "CREATE TABLE ADMIN.T1(CODE VARCHAR(8) NOT NULL  DEFAULT '        ',PRICE DOUBLE NOT NULL  "
     "DEFAULT 0.0,D_E_L_E_T_ VARCHAR(1) NOT NULL  DEFAULT ' ',R_E_C_N_O_ INTEGER NOT NULL  "
     "DEFAULT 0)",
     "ALTER TABLE ADMIN.T1 ADD PRIMARY KEY (R_E_C_N_O_)"},
    {"CTREESQL", "",
     "create table T1(CODE varchar(8) not null default '        ',PRICE float not null default "
     "0.0,D_E_L_E_T_ varchar(1) not null default ' ',R_E_C_N_O_ int not null default 0.0) ",
     "alter table t1 add primary key (r_e_c_n_o_)"},
    {"INFORMIX",
     "RESULT\tselect dbinfo('sessionid') as param_session from systables where tabid = 1\n" +
         Column("PARAM_SESSION", 4, 10) + "ROW\t77\n",
     "CREATE TABLE admin.T1(CODE VARCHAR(8) DEFAULT '        ' NOT NULL,PRICE FLOAT DEFAULT 0.0 "
     "NOT "
     "NULL,D_E_L_E_T_ VARCHAR(1) DEFAULT ' ' NOT NULL,R_E_C_N_O_ INTEGER DEFAULT 0 NOT NULL) LOCK "
     "MODE ROW",
     "ALTER TABLE admin.T1 ADD CONSTRAINT PRIMARY KEY (R_E_C_N_O_) CONSTRAINT T1_PK"},
};

class DialectProgram : public ::testing::TestWithParam<tDialect> {
protected:
    void SetUp() override {
        // After the first open the record fetch finds record 1: CODE A1, PRICE 2.5.
        const std::string fetch = std::string("RESULT\tSELECT * FROM *\n") + Column("CODE", 12, 8) +
                                  Column("PRICE", 8, 15) + Column("D_E_L_E_T_", 12, 1) +
                                  Column("R_E_C_N_O_", 4, 10) + "ROW\tA1\t2.5\t \t1\n";
        const std::string keys =
            "RESULT\tSELECT R_E_C_N_O_ FROM *\n" + Column("R_E_C_N_O_", 4, 10) + "ROW\t1\n";
        port = served.pellmar.Port();
        ASSERT_TRUE(served.Start(GetParam().dbType, GetParam().script + keys + fetch, "",
                                 "user=admin\r\n"));
        program = &served.pellmar.Program();
    }
    void TearDown() override {
        if (db) {
            GM_DisConnect(db);
            GM_Release(db);
        }
        served.pellmar.Stop();
    }
    std::string ErrorOf() { return gmtest::ErrorOf(db); }
    std::string Log() const { return served.Log(); }

    gmtest::TempDir dir;
    gmtest::RecodbcPellmar served{dir};
    u16 port = 0;
    gmtest::ProgramRun* program = nullptr;  // pellmar's, once started
    GM_HANDLE db = 0;
};

TEST_P(DialectProgram, ClientCreatesOpensAppendsAndMoves) {
    db = GM_GetGmlConn(0, port);
    ASSERT_NE(db, 0u);
    const std::string environment = std::string(GetParam().dbType) + "/ERP";
    ASSERT_EQ(GM_Connect(db, "127.0.0.1", environment.c_str(), "gatemill dialect"), 0)
        << program->Output();

    const GM_HANDLE fields = GM_GetCreateStruct(2, 0, 0);
    ASSERT_NE(GM_SetCreateField(fields, 0, "CODE", 'C', 8, 0, 0), nullptr);
    ASSERT_NE(GM_SetCreateField(fields, 1, "PRICE", 'N', 12, 12, 2), nullptr);
    ASSERT_EQ(GM_CreateFile(db, "T1", fields), 0) << ErrorOf();
    EXPECT_NE(Log().find("\t" + GetParam().create + "\n"), std::string::npos) << Log();
    EXPECT_NE(Log().find("\t" + GetParam().primaryKey + "\n"), std::string::npos) << Log();

    const int16_t wa = GM_Open(db, "T1", 0, 0);
    ASSERT_GT(wa, 0) << ErrorOf() << "\n" << Log();
    GM_InitRecord(db, static_cast<uint16_t>(wa), 0);
    GM_SetInternalFld(db, static_cast<uint16_t>(wa), "CODE", "A1");
    const double price = 2.5;
    GM_SetInternalFld(db, static_cast<uint16_t>(wa), "PRICE", &price);
    ASSERT_EQ(GM_Write(db, static_cast<uint16_t>(wa), 0), 0) << ErrorOf() << "\n" << Log();
    EXPECT_NE(Log().find("INSERT INTO"), std::string::npos) << Log();

    ASSERT_EQ(GM_First(db, static_cast<uint16_t>(wa), 0, 0), 0) << ErrorOf() << "\n" << Log();
    EXPECT_EQ(std::string(GM_GetInternalFld(db, static_cast<uint16_t>(wa), "CODE"), 2), "A1");
    EXPECT_EQ(GM_RecNo(db, static_cast<uint16_t>(wa)), 1);
    EXPECT_NE(GM_Skip(db, static_cast<uint16_t>(wa), 0, 1, 0), 0);
    EXPECT_EQ(GM_Eof(db, static_cast<uint16_t>(wa)), 1);
}

// The script answers DB2's application id once: the next session finds none and is refused
// after its connection is closed again.
using DB2Program = DialectProgram;

TEST_P(DB2Program, ConnectWithoutAnApplicationIdIsRefused) {
    db = GM_GetGmlConn(0, port);
    ASSERT_NE(db, 0u);
    ASSERT_EQ(GM_Connect(db, "127.0.0.1", "DB2/ERP", "gatemill dialect"), 0) << program->Output();
    const GM_HANDLE second = GM_GetGmlConn(0, port);
    ASSERT_NE(second, 0u);
    EXPECT_EQ(GM_Connect(second, "127.0.0.1", "DB2/ERP", "gatemill dialect"), -35);
    GM_Release(second);
    const std::string log = gmtest::ReadFileText(dir.File("gatemill.log"));
    EXPECT_NE(log.find("[ERROR] DB2 - ERP - Unable to get APPLICATION_ID() value."),
              std::string::npos)
        << log;
    // The refused session's connection was closed; the first one is still up.
    const std::string calls = Log();
    size_t disconnects = 0;
    for (size_t at = calls.find("SQLDisconnect("); at != std::string::npos;
         at = calls.find("SQLDisconnect(", at + 1)) {
        ++disconnects;
    }
    EXPECT_EQ(disconnects, 1u) << calls;
}

INSTANTIATE_TEST_SUITE_P(DB2Only, DB2Program, ::testing::Values(kDialects[1]),
                         [](const ::testing::TestParamInfo<tDialect>&) { return "DB2"; });

INSTANTIATE_TEST_SUITE_P(Dialects, DialectProgram, ::testing::ValuesIn(kDialects),
                         [](const ::testing::TestParamInfo<tDialect>& info) {
                             return std::string(info.param.dbType);
                         });

}  // namespace
