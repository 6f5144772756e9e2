// Helpers for the tests of ODBC dialects over the recording driver: scripted catalogue rows,
// alteration lists, and the statements the code ran.
#pragma once
#include <gtest/gtest.h>
#include <sql.h>

#include <string>
#include <tuple>
#include <vector>

#include "lib_base/list.h"
#include "server/isam/dbconn.h"
#include "server/tables/dbtable.h"
#include "tests/server/support/recodbc_control.h"

namespace gmtest {

// The lines, each ended by a newline, as the driver's statement log writes them.
inline std::string Lines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

// The next execution matching sql answers these rows of character columns.
inline void ScriptRows(RecordingDriver& rec, const char* sql,
                       const std::vector<const char*>& columns,
                       const std::vector<std::vector<const char*>>& rows) {
    rec.AddResult(sql);
    for (const char* c : columns) rec.AddColumn(c, SQL_VARCHAR, 128, 0, SQL_NULLABLE);
    for (const auto& row : rows) {
        rec.AddRow();
        for (const char* v : row) rec.AddValue(v);
    }
}

// The next catalogue call matching call lists these procedure columns: (COLUMN_NAME,
// COLUMN_TYPE, DATA_TYPE, BUFFER_LENGTH) each, of the procedure P in the schema dbo.
inline void ScriptProcedureColumns(
    RecordingDriver& rec, const char* call,
    const std::vector<std::tuple<const char*, int, int, int>>& rows) {
    rec.AddResult(call);
    const char* names[] = {"PROCEDURE_CAT", "PROCEDURE_SCHEM", "PROCEDURE_NAME",
                           "COLUMN_NAME",   "COLUMN_TYPE",     "DATA_TYPE",
                           "TYPE_NAME",     "COLUMN_SIZE",     "BUFFER_LENGTH"};
    for (int i = 0; i < 9; ++i) {
        const bool number = i == 4 || i == 5 || i == 7 || i == 8;
        rec.AddColumn(names[i], number ? SQL_SMALLINT : SQL_VARCHAR, number ? 5 : 128, 0,
                      SQL_NULLABLE);
    }
    for (const auto& [name, columnType, dataType, bufferLength] : rows) {
        rec.AddRow();
        rec.AddValue(nullptr);
        rec.AddValue("dbo");
        rec.AddValue("P");
        rec.AddValue(name);
        rec.AddValue(std::to_string(columnType).c_str());
        rec.AddValue(std::to_string(dataType).c_str());
        rec.AddValue("t");
        rec.AddValue(std::to_string(bufferLength).c_str());
        rec.AddValue(std::to_string(bufferLength).c_str());
    }
}

// One change of an alteration list; the list owns what FillActions adds.
struct ActionSpec {
    const char* name;
    u8 oldType;
    u16 oldLength;
    u16 oldDecimals;
    u8 newType;
    u16 newLength;
    u16 newDecimals;
    u16 flags;
};

inline void FillActions(tAutoArray<tActionField>& list, const std::vector<ActionSpec>& actions) {
    for (const ActionSpec& a : actions) {
        auto* f = new tActionField(a.name, a.newType, a.newLength, a.newDecimals);
        f->oldType = a.oldType;
        f->oldLength = a.oldLength;
        f->oldDecimals = a.oldDecimals;
        f->actions = a.flags;
        list.Add(f);
    }
}

// The executed statements, one a line, without those that start with one of the prefixes.
inline std::string StatementsWithout(RecordingDriver& rec,
                                     const std::vector<std::string>& prefixes) {
    const std::string all = rec.Statements();
    std::string kept;
    size_t at = 0;
    while (at < all.size()) {
        const size_t end = all.find('\n', at);
        const std::string line = all.substr(at, end - at);
        bool skipped = false;
        for (const std::string& p : prefixes) skipped = skipped || line.rfind(p, 0) == 0;
        if (!skipped) kept += line + "\n";
        at = end == std::string::npos ? all.size() : end + 1;
    }
    return kept;
}

// T1 as the DDL tests create it: CODE C 300, NOTE M, PRICE N 12,2, OK L, DT D 8, ODD of a letter
// without a column type, and R_E_C_N_O_.
inline void AddDDLFields(tTableDefinition& def) {
    def.AddField("CODE", 'C', 300, 0, true, true);
    def.AddField("NOTE", 'M', 10, 0, true, true);
    def.AddField("PRICE", 'N', 12, 2, true, true);
    def.AddField("OK", 'L', 1, 0, true, true);
    def.AddField("DT", 'D', 8, 0, true, true);
    def.AddField("ODD", 'X', 0, 0, false, true);
    def.AddField("R_E_C_N_O_", 'R', 4, 0, false, true);
}

// A dialect's texts for the table of AddDDLFields (T1), its keys and its maintenance.
struct DDLTexts {
    std::string create;
    const char* primaryKey;  // AddPrimaryKey and GetRecnoIndex
    const char* dropIndex;   // of T1_2
    const char* listTables;
    const char* recCount;  // the statement GetRecCount runs
    const char* clear;     // the statement ClearTable runs
};

// Checks the texts of the connection and the statements that GML_PARAM's creation, two record
// counts (the first finding 42, the second no row) and the clearing run.
inline void ExpectDDLTexts(tDBConnection& conn, RecordingDriver& rec, const DDLTexts& texts) {
    tTableDefinitionExclusive def("T1", "RECDSN");
    AddDDLFields(def);
    tString sql;
    conn.CreateTable(def, sql);
    EXPECT_EQ(std::string(sql.GetText()), texts.create);
    EXPECT_TRUE(conn.AddPrimaryKey(sql, "T1"));
    EXPECT_STREQ(sql.GetText(), texts.primaryKey);
    conn.GetRecnoIndex("T1", sql);
    EXPECT_STREQ(sql.GetText(), texts.primaryKey);
    conn.DropIndex(sql, "T1", "T1_2");
    EXPECT_STREQ(sql.GetText(), texts.dropIndex);
    conn.ListTables(sql);
    EXPECT_STREQ(sql.GetText(), texts.listTables);

    rec.ClearLog();
    EXPECT_TRUE(conn.CreateGMLParam());
    ScriptRows(rec, texts.recCount, {"M"}, {{"42"}});
    EXPECT_EQ(conn.GetRecCount("T1"), 42.0);
    EXPECT_EQ(conn.GetRecCount("T1"), -1.0);
    EXPECT_TRUE(conn.ClearTable("T1"));
    EXPECT_EQ(std::string(rec.Statements()),
              Lines({"create table GML_PARAM(PARAM_NAME char(50) not null,PARAM_SESSION int not "
                     "null, PARAM_VALUE char(50) not null)",
                     "create index GML_PARAM1 on GML_PARAM( PARAM_SESSION, PARAM_NAME )",
                     texts.recCount, texts.recCount, texts.clear}));
    rec.FailNext("create table GML_PARAM*", "42000", -1, "exists");
    EXPECT_FALSE(conn.CreateGMLParam());
    EXPECT_EQ(rec.CountCalls("SQLExecDirect"), 6);  // the index is not tried
}

// One field that a description must have made.
struct FieldSpec {
    const char* name;
    u8 type;
    i16 length;
    u16 decimals;
    bool data;
};

inline void ExpectFields(const tTableDefinition& def, const std::vector<FieldSpec>& expected) {
    ASSERT_EQ(def.GetFieldCount(), static_cast<i32>(expected.size()));
    for (i32 i = 0; i < def.GetFieldCount(); ++i) {
        const FieldSpec& e = expected[static_cast<size_t>(i)];
        SCOPED_TRACE(e.name);
        const tField& f = *def.GetField(i);
        EXPECT_STREQ(f.GetName(), e.name);
        EXPECT_EQ(f.GetType(), e.type);
        EXPECT_EQ(f.GetLen(), e.length);
        EXPECT_EQ(f.GetDecimals(), e.decimals);
        EXPECT_EQ(f.IsData(), e.data);
    }
}

}  // namespace gmtest
