// An Oracle table file over the recording OCI library, run on both OCI generations: a connected
// Oracle connection, the table T with its protected state open to the tests, the library's
// scripts for key cursors and records, and the executions read back as texts.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "server/drivers/oracle.h"
#include "server/drivers/oracle_isam.h"
#include "server/tables/dbtable.h"
#include "tests/server/support/recoci_control.h"
#include "tests/server/support/testisam.h"
#include "tests/server/support/testprocess.h"
#include "tests/server/support/testsession.h"
#include "tests/support/gmtest.h"

namespace gmtest {

class TestOracleFile : public tOracleISAMFile {
public:
    using tOracleISAMFile::tOracleISAMFile;
    void AddFilter(i16 level, const char* text) { filterList.Add(new tFilterNode(level, text)); }
    char* IncomingRecord() { return incomingRecord.data(); }
    char* CurrentRecord() { return currentRecord.data(); }
    const tRecnoList& LockedList() const { return lockedList; }
    bool IsBof() const { return bof; }
    bool IsEof() const { return eof; }
};

// T: 0 A C 10, 1 B N 12,2, 2 C2 C 4, 3 D1 D 8, 4 OK L 1, 5 MEMO M 10, 6 R_E_C_N_O_,
// 7 D_E_L_E_T_ C 1, 8 R_E_C_D_E_L_, with the indexes I1 (A, B, R_E_C_N_O_) and
// I2 (A, C2, R_E_C_N_O_).
inline std::shared_ptr<tTableDefinitionShared> OracleTableT(const char* name = "T") {
    auto def = std::make_shared<tTableDefinitionShared>(name, "PROD");
    def->AddField("A", 'C', 10, 0, true, true);
    def->AddField("B", 'N', 12, 2, true, true);
    def->AddField("C2", 'C', 4, 0, true, true);
    def->AddField("D1", 'D', 8, 0, true, true);
    def->AddField("OK", 'L', 1, 0, true, true);
    def->AddField("MEMO", 'M', 10, 0, true, true);
    def->AddField("R_E_C_N_O_", 'N', 15, 0, false, true);
    def->AddField("D_E_L_E_T_", 'C', 1, 0, true, true);
    def->AddField("R_E_C_D_E_L_", 'N', 15, 0, false, true);
    def->AddIndex(MakeIndex("I1", {0, 1, 6}));
    def->AddIndex(MakeIndex("I2", {0, 2, 6}));
    return def;
}

// The record fetch of T.
constexpr const char* kOracleRecordFetch =
    "SELECT A,B,C2,D1,OK,TBL.D_E_L_E_T_ FROM T TBL WHERE TBL.R_E_C_N_O_ = :1";

// The parameter is the OCI generation (7 or 8). The session's trace is off.
class RecordedOracle : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override {
        home.Client("oci.dll");
        process.SetIni("Oracle", "ORACLE_HOME", home.Path().c_str());
        process.SetIni("Oracle", "OCIVersion", std::to_string(GetParam()).c_str());
        session.traceOn = false;
        conn = Connect("PROD");
        rec.ClearLog();
    }
    void TearDown() override {
        file.reset();
        conn.reset();
    }

    std::unique_ptr<tOracleConnection> Connect(const char* alias) {
        auto made = std::make_unique<tOracleConnection>("ORACLE", tString(alias), tString("scott"),
                                                        tString("tiger"), true);
        made->SetDBServer(&session);
        EXPECT_TRUE(made->Connect());
        return made;
    }
    // A file of T (or of d) on the connection (or on on).
    std::unique_ptr<TestOracleFile> MakeFile(std::shared_ptr<tTableDefinitionShared> d = nullptr,
                                             tOracleConnection* on = nullptr) {
        auto made = std::make_unique<TestOracleFile>(on ? on : conn.get(), d ? d : def, reply,
                                                     session.threadId);
        made->SetDBServer(&session);
        return made;
    }
    void ScriptKeys(const char* pattern, const std::vector<int>& recnos) {
        rec.AddResult(pattern);
        rec.AddColumn("R_E_C_N_O_", 2, 22);
        for (int recno : recnos) {
            rec.AddRow();
            rec.AddValue(std::to_string(recno).c_str());
        }
    }
    // The row of record recno: A "R<recno>", B recno * 1.5, C2 "XY", D1 20240131, OK T.
    void ScriptRecord(int recno, const char* deleted = " ") {
        rec.AddResult(kOracleRecordFetch);
        rec.AddColumn("A", 1, 10);
        rec.AddColumn("B", 2, 22);
        rec.AddColumn("C2", 1, 4);
        rec.AddColumn("D1", 1, 8);
        rec.AddColumn("OK", 1, 1);
        rec.AddColumn("D_E_L_E_T_", 1, 1);
        rec.AddRow();
        for (const std::string& value :
             {"R" + std::to_string(recno), std::to_string(recno * 1.5), std::string("XY"),
              std::string("20240131"), std::string("T"), std::string(deleted)}) {
            rec.AddValue(value.c_str());
        }
    }
    // The executions since the last call, each its SQL and its binds ("... [1='5']").
    std::vector<std::string> Ran() {
        std::vector<std::string> lines;
        std::istringstream text(rec.Calls());
        for (std::string line; std::getline(text, line);) {
            const size_t end = line.rfind(")=");
            if (line.rfind("oexec(", 0) == 0) {
                lines.push_back(line.substr(6, end - 6));
            } else if (line.rfind("OCIStmtExecute(", 0) == 0) {
                std::string args = line.substr(15, end - 15);
                args.erase(args.rfind(','));  // the mode
                args.erase(args.rfind(','));  // the iterations
                lines.push_back(args);
            }
        }
        rec.ClearLog();
        return lines;
    }
    static std::string Fetched(int recno) {
        return std::string(kOracleRecordFetch) + " [1='" + std::to_string(recno) + "']";
    }
    std::string LastError() {
        tString text;
        conn->GetLastErrorInfo(text);
        return text.GetText();
    }
    // Writes the field's bytes into record: text for C, D and L fields, a number for N ones.
    void Put(char* record, const char* name, const std::string& text) {
        const tField* field = def->FindField(name);
        std::memset(record + field->GetOffset(), 0, static_cast<size_t>(field->GetDataSize()));
        std::memcpy(record + field->GetOffset(), text.data(), text.size());
    }
    void Put(char* record, const char* name, f64 number) {
        std::memcpy(record + def->FindField(name)->GetOffset(), &number, sizeof number);
    }

    TestDBProcess process;
    ConsoleCapture console;
    RecOciControl rec;
    OracleHome home;
    TestSession session;
    tCommBuffer reply;
    std::shared_ptr<tTableDefinitionShared> def = OracleTableT();
    std::unique_ptr<tOracleConnection> conn;
    std::unique_ptr<TestOracleFile> file;
};

inline std::string OCIGenerationName(const ::testing::TestParamInfo<int>& info) {
    return "OCI" + std::to_string(info.param);
}

}  // namespace gmtest
