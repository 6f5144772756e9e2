// The Oracle driver's catalogue and DDL end to end: the real pellmar over the Oracle connection
// whose client library is the recording OCI library, reached through the shared library's GM_
// functions; the statements as the library's log shows them, the rows as its script answers
// them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "client/gatemillapi.h"
#include "tests/client/support/oracleserved.h"
#include "tests/server/dispatch/support/structuretext.h"

namespace {

using gmtest::Count;
using gmtest::Structure;

// How often the statement was prepared, as the library's log line begins.
size_t Prepared(const std::string& log, const std::string& sql) {
    return Count(log, "OCIStmtPrepare(" + sql + ",");
}

// T9 described: its columns and its primary key, for one description.
std::string T9Described(const std::string& name) {
    const std::string t9 = "'T9'*\nCOLUMN\tN\t1\t10\nROW\t";
    return "RESULT\tSELECT MAX(COL#) FROM SYS.COL$ C, SYS.OBJ$ O WHERE O.OBJ# = C.OBJ# AND "
           "O.NAME = " +
           t9 +
           "4\nRESULT\tSELECT C.NAME*\nCOLUMN\tNAME\t1\t30\nCOLUMN\tDATA_TYPE\t1\t30\n"
           "COLUMN\tLENGTH\t1\t10\nROW\t" +
           name +
           "\nROW\tPRICE\tNUMBER\t22\nROW\tD_E_L_E_T_\tCHAR\t1\nROW\tR_E_C_N_O_\tNUMBER\t22\n"
           "RESULT\tSELECT COUNT(OBJ.NAME) FROM SYS.OBJ$ OBJ, SYS.IND$ IND, SYS.OBJ$ OBJI WHERE "
           "OBJ.NAME = " +
           t9 +
           "1\nRESULT\tSELECT OBJI.NAME INDEX_NAME, COL.NAME COLUMN_NAME FROM SYS.OBJ$ OBJ, "
           "SYS.IND$ IND, SYS.OBJ$ OBJI, SYS.ICOL$ ICOL, SYS.COL$ COL WHERE OBJ.NAME = 'T9'*\n"
           "COLUMN\tINDEX_NAME\t1\t30\nCOLUMN\tCOLUMN_NAME\t1\t30\nROW\tT9_PK\tR_E_C_N_O_\n";
}

// T9 with 10 records, counted for the load of its definition, the alteration and the reload.
std::string T9Counted() {
    return "RESULT\tSELECT MAX(R_E_C_N_O_) FROM T9\nCOLUMN\tN\t1\t10\nROW\t10\n";
}

// A version 9 server on which T9 exists, described before and after the alteration, and whose
// table list names two tables.
std::string CatalogScript() {
    return "RESULT\tselect * from v$version\nCOLUMN\tBANNER\t1\t80\n"
           "ROW\tOracle9i Enterprise Edition Release 9.2.0.1.0 - Production\n"
           "RESULT\tSELECT NAME FROM SYS.OBJ$ WHERE NAME = 'T9'*\nCOLUMN\tNAME\t1\t30\nROW\tT9\n" +
           T9Counted() + T9Counted() + T9Counted() + T9Described("NAME\tCHAR\t10") +
           T9Described("NAME\tCHAR\t10") + T9Described("NAME\tCHAR\t20") +
           "RESULT\tSELECT TABLE_NAME FNAMF1 FROM SYS.USER_TABLES*\nCOLUMN\tFNAMF1\t1\t30\n"
           "ROW\tGML_FIELD\nROW\tT9\n";
}

class OracleCatalogueProgram : public gmtest::OracleServed {
protected:
    void SetUp() override { Start(CatalogScript(), "IndexSpace=IDXS\r\n"); }
};

TEST_F(OracleCatalogueProgram, CatalogueTablesCreateAlterAndTheTableList) {
    const GM_HANDLE db = Connected();
    const std::string connected = Log();
    for (const char* create :
         {"CREATE TABLE GML_FIELD(", "create table GML_PARAM(", "create index GML_PARAM1 on",
          "CREATE TABLE GML_IDXSTATS(", "CREATE TABLE GML_VIRTUALIDX(", "CREATE TABLE GML_SP("}) {
        EXPECT_EQ(Count(connected, "OCIStmtPrepare(" + std::string(create)), 1u) << create << "\n"
                                                                                 << connected;
    }
    EXPECT_EQ(Prepared(connected,
                       "SELECT NAME FROM SYS.OBJ$ WHERE NAME = 'GML_FIELD' AND OWNER# "
                       "= USERENV('SCHEMAID') AND TYPE# IN (2,3,4)"),
              1u);

    const GM_HANDLE fields = GM_GetCreateStruct(2, 0, 0);
    ASSERT_NE(GM_SetCreateField(fields, 0, "NAME", 'C', 10, 0, 0), nullptr);
    ASSERT_NE(GM_SetCreateField(fields, 1, "PRICE", 'N', 12, 12, 2), nullptr);
    ASSERT_EQ(GM_CreateFile(db, "T9", fields), 0) << Error(db) << program->Output();
    const std::string created = LogFrom(connected.size());
    EXPECT_EQ(Count(created, "OCIStmtPrepare(CREATE TABLE T9(NAME CHAR(10) DEFAULT '" +
                                 std::string(10, ' ') +
                                 "' NOT NULL ,PRICE NUMBER DEFAULT 0.0 NOT NULL ,D_E_L_E_T_ "
                                 "CHAR(1) DEFAULT ' ' NOT NULL ,R_E_C_N_O_ NUMBER DEFAULT 0.0 NOT "
                                 "NULL ),"),
              1u)
        << created;
    EXPECT_EQ(Prepared(created,
                       "ALTER TABLE T9 ADD CONSTRAINT T9_PK PRIMARY KEY (R_E_C_N_O_) "
                       "USING INDEX TABLESPACE IDXS"),
              1u)
        << created;
    EXPECT_EQ(Prepared(created,
                       "INSERT INTO GML_FIELD(FIELD_TABLE,FIELD_NAME,FIELD_TYPE,"
                       "FIELD_PREC,FIELD_DEC) VALUES('SCOTT.T9','PRICE','P','12','2')"),
              1u)
        << created;

    const std::string before = Structure({{"NAME", "C", "10", "0"}, {"PRICE", "N", "12", "2"}});
    const std::string after =
        Structure({{"NAME", "C", "20", "0"}, {"PRICE", "N", "12", "2"}, {"NOTE", "C", "5", "0"}});
    ASSERT_EQ(GM_AlterFile(db, "T9", before.c_str(), after.c_str()), 0)
        << Error(db) << LogFrom(connected.size() + created.size());
    const std::string altered = LogFrom(connected.size() + created.size());
    EXPECT_LT(
        altered.find("ALTER TABLE T9 ADD ( NOTE CHAR(5) DEFAULT '     ' NOT NULL  )"),
        altered.find("ALTER TABLE T9 MODIFY NAME CHAR(20) DEFAULT '" + std::string(20, ' ') + "',"))
        << altered;
    EXPECT_EQ(Count(altered, "OCIStmtPrepare(ALTER TABLE"), 2u) << altered;
    EXPECT_EQ(Prepared(altered,
                       "INSERT INTO GML_FIELD(FIELD_TABLE,FIELD_NAME,FIELD_TYPE,"
                       "FIELD_PREC,FIELD_DEC) VALUES('SCOTT.T9','PRICE','P','12','2')"),
              1u)
        << altered;

    const int16_t wa = GM_Open(db, "GML_FILES", 0, 0);
    ASSERT_GT(wa, 0) << Error(db);
    std::vector<std::string> tables;
    for (int16_t status = GM_First(db, static_cast<uint16_t>(wa), 0, 0);
         status == 0 && tables.size() < 9;
         status = GM_Skip(db, static_cast<uint16_t>(wa), 0, 1, 0)) {
        const char* at = GM_GetInternalFld(db, static_cast<uint16_t>(wa), "FNAMF1");
        ASSERT_NE(at, nullptr);
        std::string name(at, strnlen(at, 30));
        name.erase(name.find_last_not_of(' ') + 1);
        tables.push_back(name);
    }
    EXPECT_EQ(tables, (std::vector<std::string>{"GML_FIELD", "T9"}));
    EXPECT_EQ(GM_Close(db, static_cast<uint16_t>(wa)), 0);
}

}  // namespace
