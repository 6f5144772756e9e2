// The fixture of the DB2 driver's tests over the recording driver: connections of the user
// admin whose connect finds an application id, and the scripted catalogue of the table T1.
#pragma once
#include <memory>
#include <vector>

#include "server/drivers/db2.h"
#include "server/tables/dbtable.h"
#include "tests/server/support/odbcdialect.h"
#include "tests/server/support/recodbc_fixture.h"

namespace gmtest {

constexpr const char* kDB2ApplId = "select application_id() AS APPLID from sysibm.sysdummy1";

class RecordedDB2 : public RecordedODBC {
protected:
    std::unique_ptr<tDB2Connection> Make() {
        return std::make_unique<tDB2Connection>("DB2", tString("RECDSN"), tString("admin"),
                                                tString("pw"), loader);
    }
    // Connected with the DBMS version text (null: as the driver answers) and the application
    // id *LOCAL.DB2.1; the driver's and the process's logs start empty.
    std::unique_ptr<tDB2Connection> Connected(const char* version = "09.07.0000") {
        if (version) rec.SetInfoText(SQL_DBMS_VER, version);
        Rows(kDB2ApplId, {"APPLID"}, {{"*LOCAL.DB2.1"}});
        auto conn = Make();
        EXPECT_TRUE(conn->Connect());
        rec.ClearLog();
        process.ClearLog();
        return conn;
    }
    void Rows(const char* sql, const std::vector<const char*>& columns,
              const std::vector<std::vector<const char*>>& rows) {
        ScriptRows(rec, sql, columns, rows);
    }
    // The next description of T1 finds CODE C 10, PRICE N, NAME C 20, R_E_C_N_O_, D_E_L_E_T_.
    void ScriptT1Columns() {
        Rows(
            "SELECT COUNT(COLNAME) FROM SYSCAT.COLUMNS WHERE (TABSCHEMA = 'ADMIN' AND TABNAME = "
            "'T1')",
            {"N"}, {{"5"}});
        Rows(
            "SELECT COLNAME,TYPENAME,LENGTH FROM SYSCAT.COLUMNS WHERE (TABSCHEMA = 'ADMIN' AND "
            "TABNAME = 'T1') ORDER BY COLNO FOR READ ONLY",
            {"COLNAME", "TYPENAME", "LENGTH"},
            {{"CODE", "VARCHAR", "10"},
             {"PRICE", "DOUBLE", "8"},
             {"NAME", "VARCHAR", "20"},
             {"R_E_C_N_O_", "INTEGER", "4"},
             {"D_E_L_E_T_", "VARCHAR", "1"}});
    }
    // Describes T1 into def.
    void ScriptT1(tDB2Connection& conn, tTableDefinition& def) {
        ScriptT1Columns();
        EXPECT_TRUE(conn.DescribeTable(def));
        rec.ClearLog();
    }
};

}  // namespace gmtest
