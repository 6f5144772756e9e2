// A table file over the recording ODBC driver, run in both ODBC modes: the CLIENTES file with a
// prepared record fetch, the driver's scripts for key cursors and records, and the executions
// read back as texts.
#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "server/drivers/odbc.h"
#include "server/isam/gatemill.h"
#include "tests/server/support/recodbc_fixture.h"
#include "tests/server/support/testisam.h"
#include "tests/server/support/testsession.h"

namespace gmtest {

// The record fetch of the file below, with its parameter marker.
constexpr const char* kRecordFetch = "SELECT * FROM CLIENTES TBL WHERE TBL.R_E_C_N_O_ = ?";

// A dialect that prepares its record fetch with a parameter marker.
class MarkerFile : public TestISAMFile {
public:
    using TestISAMFile::TestISAMFile;
    void RecnoParamMarker() override { sql += " = ?"; }
    const tRecnoList& LockedList() const { return lockedList; }
};

// An ODBC connection whose statements are ODBC statements, as every driver's are. It tells a
// duplicate key by the SQLSTATE class 23, as the PostgreSQL connection does, and answers the
// table's highest record number and an identity value as the test sets them.
class RecordedConnection : public tODBCConnection {
public:
    using tODBCConnection::tODBCConnection;
    tStatement* NewStatement() override { return new tODBCStatement(this); }
    bool IsDuplicateKey(i32) override { return std::string(GetSqlState()).rfind("23", 0) == 0; }
    f64 GetRecCount(const char*) override { return highestRecno; }
    f64 GetInsertedRecno() override { return insertedRecno; }

    f64 highestRecno = -1.0;
    f64 insertedRecno = -1.0;
};

class RecordedTableFile : public RecordedODBC {
protected:
    void SetUp() override {
        RecordedODBC::SetUp();
        conn = std::make_unique<RecordedConnection>("MSSQL", tString("RECDSN"), tString("gm"),
                                                    tString("pw"), loader);
        ASSERT_TRUE(conn->Connect());
        conn->SetDBServer(&session);
        file = MakeFile(def);
        rec.ClearLog();
    }

    std::unique_ptr<MarkerFile> MakeFile(const std::shared_ptr<tTableDefinitionShared>& d) {
        auto made = std::make_unique<MarkerFile>(conn.get(), d, reply, session.threadId);
        made->SetDBServer(&session);
        return made;
    }

    void ScriptKeys(const std::string& sql, const std::vector<int>& recnos) {
        rec.AddResult(sql.c_str());
        rec.AddColumn("R_E_C_N_O_", SQL_DOUBLE, 15, 0, SQL_NULLABLE);
        for (int recno : recnos) {
            rec.AddRow();
            rec.AddValue(std::to_string(recno).c_str());
        }
    }
    // The row of a record: NOME "C<recno>", CIDADE "RIO", VALOR recno * 1.5, DATA 20110117,
    // ATIVO T.
    void ScriptRecord(int recno, const char* deleted = " ") {
        rec.AddResult(kRecordFetch);
        for (const char* name : {"NOME", "CIDADE", "DATA", "ATIVO"}) {
            rec.AddColumn(name, SQL_CHAR, 10, 0, SQL_NULLABLE);
        }
        rec.AddColumn("VALOR", SQL_DOUBLE, 15, 0, SQL_NULLABLE);
        rec.AddColumn("R_E_C_N_O_", SQL_DOUBLE, 15, 0, SQL_NULLABLE);
        rec.AddColumn("D_E_L_E_T_", SQL_CHAR, 1, 0, SQL_NULLABLE);
        rec.AddRow();
        for (const std::string& value :
             {"C" + std::to_string(recno), std::string("RIO"), std::string("20110117"),
              std::string("T"), std::to_string(recno * 1.5), std::to_string(recno),
              std::string(deleted)}) {
            rec.AddValue(value.c_str());
        }
    }
    // The executions since the last call, one text each ("[1='5']" for the record number).
    std::vector<std::string> Ran() {
        std::vector<std::string> lines;
        std::istringstream text(rec.Statements());
        for (std::string line; std::getline(text, line);) lines.push_back(line);
        rec.ClearLog();
        return lines;
    }
    static std::string Fetched(int recno) {
        return std::string(kRecordFetch) + " [1='" + std::to_string(recno) + "']";
    }
    std::string Name() {
        return std::string(file->CurrentRecord(), strnlen(file->CurrentRecord(), 10));
    }
    bool Bof() { return StatusHas("[BOF]"); }
    bool Eof() { return StatusHas("[EOF]"); }
    bool Found() { return StatusHas("[FOUND]"); }

    TestSession session;
    tCommBuffer reply;
    std::shared_ptr<tTableDefinitionShared> def = ClientesDefinition();
    std::unique_ptr<RecordedConnection> conn;
    std::unique_ptr<MarkerFile> file;

private:
    bool StatusHas(const char* flag) {
        tString text;
        file->StatusText(text);
        return std::string(text.GetText()).find(flag) != std::string::npos;
    }
};

}  // namespace gmtest
