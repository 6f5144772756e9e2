// PostgreSQL DDL on the private server: the CREATE TABLE texts and the tables they make, the
// rebuild of a table whose columns change (every row kept, a failure leaving the backup and a
// usable session), and the maintenance statements that work in blocks of record numbers.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "lib_common/retcodes.h"
#include "server/drivers/postgres.h"
#include "server/tables/dbtable.h"
#include "tests/server/support/pgdatabase.h"

namespace {

constexpr const char* kAlter = "tPostgresConnection::AlterStructure";

std::string Text(const tString& s) { return s.GetText(); }
std::string Blanks(size_t n) { return std::string(n, ' '); }

// A column change for AlterStructure, made as the dispatcher makes them.
tActionField* Action(const char* name, u8 type, u16 length, u16 decimals, u16 flags = 0) {
    tActionField* a = new tActionField(name, type, length, decimals);
    a->actions = flags;
    return a;
}
tActionField* Changed(const char* name, u8 oldType, u16 oldLength, u16 oldDecimals, u8 newType,
                      u16 newLength, u16 newDecimals) {
    tActionField* a = Action(name, oldType, oldLength, oldDecimals);
    a->newType = newType;
    a->newLength = newLength;
    a->newDecimals = newDecimals;
    if (newType != oldType) a->actions |= tActionField::kTypeChange;
    if (newLength != oldLength) a->actions |= tActionField::kLengthChange;
    if (newDecimals != oldDecimals) a->actions |= tActionField::kDecimalsChange;
    return a;
}

class PostgresDDL : public gmtest::PostgresDatabase {
protected:
    std::string LastError() {
        tString text;
        conn->GetLastErrorInfo(text);
        return Text(text);
    }
    std::string Columns(const std::string& table) {
        return Value(
            "select string_agg(attname, ',' order by attnum) from pg_attribute where "
            "attrelid = '" +
            table + "'::regclass and attnum > 0 and not attisdropped");
    }
    // 10,000 rows numbered 1..10000, every tenth marked deleted, from the select list given for
    // the columns before D_E_L_E_T_ and R_E_C_N_O_ (g is the row's number).
    bool Fill(const std::string& table, const std::string& values) {
        return Run("insert into " + table + " select " + values +
                   ", case when g % 10 = 0 then '*' else ' ' end, g from generate_series(1, "
                   "10000) g");
    }
    bool HasLogEntryStarting(const std::string& start) {
        for (const std::string& e : process.LogEntries()) {
            if (e.compare(0, start.size(), start) == 0) return true;
        }
        return false;
    }
};

TEST_F(PostgresDDL, CreateTableWritesEachTypeAndTheTableTakesRows) {
    tTableDefinition def("SA1010", dsn.c_str());
    def.AddField("NAME", 'C', 10, 0, true, true);
    def.AddField("LONGTEXT", 'C', 300, 0, true, true);
    def.AddField("VALOR", 'N', 12, 2, true, true);
    def.AddField("BORN", 'D', 8, 0, true, true);
    def.AddField("ACTIVE", 'L', 1, 0, true, true);
    def.AddField("NOTES", 'M', 10, 0, true, true);
    def.AddField("D_E_L_E_T_", 'C', 1, 0, true, true);
    def.AddField("R_E_C_N_O_", 'R', 4, 0, false, true);
    tString sql;
    conn->CreateTable(def, sql);
    const std::string golden =
        "CREATE TABLE SA1010(NAME char(10) not null default '" + Blanks(10) +
        "',LONGTEXT char(300) not null default '" + Blanks(252) +
        "',VALOR float8 not null default 0.0,BORN char(8) not null default '" + Blanks(8) +
        "',ACTIVE char(1) not null default 'F',NOTES text ,D_E_L_E_T_ char(1) not null default "
        "' ',R_E_C_N_O_ int4 not null default 0.0)";
    EXPECT_EQ(Text(sql), golden);
    ASSERT_TRUE(Run(Text(sql)));
    ASSERT_TRUE(Run("insert into sa1010 (r_e_c_n_o_) values (1)"));
    ASSERT_TRUE(
        Run("insert into sa1010 values ('abc', 'x', 12.5, '20240131', 'T', 'a memo', "
            "'*', 2)"));
    EXPECT_EQ(
        Value("select concat_ws('|', octet_length(name), octet_length(longtext), valor, "
              "octet_length(born), active, coalesce(notes, 'NULL'), octet_length(d_e_l_e_t_)) "
              "from sa1010 where r_e_c_n_o_ = 1"),
        "10|300|0|8|F|NULL|1");
    EXPECT_EQ(Value("select concat_ws('|', rtrim(name), valor, born, active, notes, d_e_l_e_t_) "
                    "from sa1010 where r_e_c_n_o_ = 2"),
              "abc|12.5|20240131|T|a memo|*");

    tTableDefinition odd("SA1020", dsn.c_str());
    odd.AddField("DESCR", 'X', 0, 0, false, true);
    odd.AddField("R_E_C_D_E_L_", 'R', 4, 0, false, true);
    conn->CreateTable(odd, sql);
    EXPECT_EQ(Text(sql), "CREATE TABLE SA1020(DESCR,R_E_C_D_E_L_ int4 not null default 0.0)");

    conn->GetRecnoIndex("SA1010", sql);
    EXPECT_EQ(Text(sql), "ALTER TABLE SA1010 ADD PRIMARY KEY (R_E_C_N_O_)");
    tString key;
    EXPECT_TRUE(conn->AddPrimaryKey(key, "SA1010"));
    EXPECT_EQ(key, sql);
}

TEST_F(PostgresDDL, ParamTableIsMadeOnceWithItsIndex) {
    EXPECT_TRUE(conn->CreateGMLParam());
    EXPECT_EQ(Ran("tPostgresConnection::CreateGMLParam"),
              (std::vector<std::string>{
                  "create table GML_PARAM(PARAM_NAME char(50) not null,PARAM_SESSION int2 not "
                  "null, PARAM_VALUE char(50) not null)",
                  "create index GML_PARAM1 on GML_PARAM( PARAM_SESSION, PARAM_NAME )"}));
    EXPECT_TRUE(conn->CanOpen("GML_PARAM", "GML_PARAM1"));
    EXPECT_FALSE(conn->CreateGMLParam());  // it exists
}

TEST_F(PostgresDDL, RebuildKeepsEveryRowThroughTypeLengthAddAndDropChanges) {
    tTableDefinition def("SA1010", dsn.c_str());
    def.AddField("NAME", 'C', 40, 0, true, true);
    def.AddField("VALOR", 'N', 10, 2, true, true);
    def.AddField("CODE", 'C', 10, 0, true, true);
    def.AddField("QTY", 'N', 5, 0, true, true);
    def.AddField("OLD", 'C', 5, 0, true, true);
    def.AddField("D_E_L_E_T_", 'C', 1, 0, true, true);
    def.AddField("R_E_C_N_O_", 'R', 4, 0, false, true);
    def.AddField("R_E_C_D_E_L_", 'R', 4, 0, false, true);
    tString create;
    conn->CreateTable(def, create);
    ASSERT_TRUE(Run(Text(create)));
    ASSERT_TRUE(Run("alter table sa1010 add primary key (r_e_c_n_o_)"));
    ASSERT_TRUE(
        Run("insert into sa1010 select 'name ' || g, g * 1.25 - 3, lpad(g::text, 10, "
            "'0'), g, 'old', case when g % 10 = 0 then '*' else ' ' end, g, case when g % "
            "10 = 0 then g else 0 end from generate_series(1, 10000) g"));

    tAutoArray<tActionField> actions;
    actions.Add(Action("NAME", 'C', 40, 0));
    actions.Add(Changed("VALOR", 'N', 10, 2, 'C', 12, 0));
    actions.Add(Changed("CODE", 'C', 10, 0, 'C', 5, 0));
    actions.Add(Changed("QTY", 'N', 5, 0, 'C', 5, 0));
    actions.Add(Action("OLD", 'C', 5, 0, tActionField::kDrop));
    actions.Add(Action("NEWCOL", 'C', 3, 0, tActionField::kAdd));
    session.traces.clear();
    ASSERT_TRUE(conn->AlterTable("SA1010", actions, 1)) << LastError();

    const std::string copy =
        "INSERT INTO SA1010(NAME,VALOR,CODE,QTY,D_E_L_E_T_,R_E_C_N_O_,R_E_C_D_E_L_) select "
        "NAME,substr(ltrim(to_char(VALOR,'9999999999.99')),1,12),substr(CODE,1,5),"
        "substr(ltrim(to_char(QTY,'99999.')),1,5),D_E_L_E_T_,R_E_C_N_O_,R_E_C_D_E_L_ from "
        "SA1010_BKP where R_E_C_N_O_ > ";
    EXPECT_EQ(Ran(kAlter),
              (std::vector<std::string>{
                  "select R_E_C_N_O_ from SA1010 order by R_E_C_N_O_ DESC LIMIT 1",
                  "create table SA1010_BKP as select * from SA1010",
                  "CREATE INDEX SA1010_BKPIDX ON SA1010_BKP(R_E_C_N_O_)", "drop table SA1010",
                  "CREATE TABLE SA1010(NAME char(40) not null default '" + Blanks(40) +
                      "',VALOR char(12) not null default '" + Blanks(12) +
                      "',CODE char(5) not null default '" + Blanks(5) +
                      "',QTY char(5) not null default '" + Blanks(5) +
                      "',NEWCOL char(3) not null default '" + Blanks(3) +
                      "',D_E_L_E_T_ char(1) not null default ' ',R_E_C_N_O_ int4 not null default "
                      "0.0,R_E_C_D_E_L_ int4 not null default 0.0)",
                  copy + "0 and R_E_C_N_O_ <= 4096", copy + "4096 and R_E_C_N_O_ <= 8192",
                  copy + "8192 and R_E_C_N_O_ <= 12288"}));
    EXPECT_FALSE(conn->InTransaction());
    EXPECT_EQ(Columns("sa1010"), "name,valor,code,qty,newcol,d_e_l_e_t_,r_e_c_n_o_,r_e_c_d_e_l_");
    EXPECT_EQ(Value("select concat_ws('|', count(*), sum(r_e_c_n_o_), sum(r_e_c_d_e_l_), "
                    "count(*) filter (where d_e_l_e_t_ = '*')) from sa1010"),
              "10000|50005000|5005000|1000");
    EXPECT_EQ(Value("select string_agg(concat_ws('|', rtrim(name), rtrim(valor), code, rtrim(qty), "
                    "octet_length(newcol)), ' ; ' order by r_e_c_n_o_) from sa1010 where "
                    "r_e_c_n_o_ in (1, 4097, 10000)"),
              "name 1|-1.75|00000|1|3 ; name 4097|5118.25|00000|4097|3 ; "
              "name 10000|12497.00|00000|10000|3");
    // The copy of the old table stays behind.
    EXPECT_EQ(Value("select count(*) from sa1010_bkp"), "10000");

    // The next rebuild replaces that copy: the table holds as many rows.
    tAutoArray<tActionField> again;
    again.Add(Changed("NAME", 'C', 40, 0, 'C', 20, 0));
    session.traces.clear();
    ASSERT_TRUE(conn->AlterStructure("SA1010", again, 0)) << LastError();
    EXPECT_EQ(Ran(kAlter)[1], "drop table SA1010_BKP");
    EXPECT_EQ(Columns("sa1010"), "name,d_e_l_e_t_,r_e_c_n_o_");
    EXPECT_EQ(Value("select count(*) from sa1010 where name = substr('name ' || r_e_c_n_o_, 1, "
                    "20)"),
              "10000");
}

TEST_F(PostgresDDL, FailedCopyKeepsTheBackupAndTheSessionAndARetryKeepsBoth) {
    ASSERT_TRUE(
        Run("create table sa1020 (name char(10), d_e_l_e_t_ char(1) not null default ' ', "
            "r_e_c_n_o_ int4 not null primary key)"));
    // Rows past the first block hold a NULL that the rebuilt table refuses.
    ASSERT_TRUE(Fill("sa1020", "case when g <= 4096 then 'n' || g end"));
    tAutoArray<tActionField> actions;
    actions.Add(Action("NAME", 'C', 10, 0));
    actions.Add(Action("NEWCOL", 'C', 2, 0, tActionField::kAdd));
    EXPECT_FALSE(conn->AlterStructure("SA1020", actions, 0));
    EXPECT_NE(LastError().find("(23502)"), std::string::npos) << LastError();

    // Every row is in the backup; the first block was copied and committed.
    EXPECT_EQ(Value("select count(*) from sa1020_bkp"), "10000");
    EXPECT_EQ(Value("select count(*) from sa1020"), "4096");
    // The session is out of commit control and not inside an aborted transaction: what it
    // writes now is committed at once, as another session sees.
    EXPECT_FALSE(conn->InTransaction());
    EXPECT_EQ(Value("select 1"), "1");
    ASSERT_TRUE(Run("insert into sa1020 (name, r_e_c_n_o_) values ('late', 20001)"));
    EXPECT_EQ(Value(Other(), "select count(*) from sa1020 where r_e_c_n_o_ = 20001"), "1");

    // A retry must not drop the backup, the only full copy.
    session.traces.clear();
    EXPECT_FALSE(conn->AlterStructure("SA1020", actions, 0));
    EXPECT_EQ(LastError().find("GML Error -19 - Table [SA1020] Error - Backup table [SA1020_BKP] "
                               "kept: it holds 10000 rows, the table 4097."),
              0u)
        << LastError();
    for (const std::string& sql : Ran(kAlter)) EXPECT_EQ(sql.find("drop"), std::string::npos);
    EXPECT_EQ(Value("select count(*) from sa1020_bkp"), "10000");
    EXPECT_EQ(Value("select count(*) from sa1020"), "4097");
    EXPECT_FALSE(conn->InTransaction());
    EXPECT_EQ(Value("select 1"), "1");
}

TEST_F(PostgresDDL, RequestsThatCannotCompleteRunNothing) {
    ASSERT_TRUE(Run("create table sa1030 (name char(10), d_e_l_e_t_ char(1), r_e_c_n_o_ int4)"));
    ASSERT_TRUE(Run("insert into sa1030 values ('a', ' ', 1)"));
    const struct {
        const char* name;
        const char* table;
        tActionField* action;
        const char* message;
    } cases[] = {
        {"table name", "SA1030;DROP", Action("NAME", 'C', 10, 0), "Invalid Table Name."},
        {"field name", "SA1030", Action("NA ME", 'C', 10, 0), "Invalid Field Name [NA ME]."},
        {"no such type", "SA1030", Action("NAME", 'X', 10, 0),
         "Field [NAME] type [X] length 10 cannot be created."},
        {"empty text", "SA1030", Action("NAME", 'C', 0, 0),
         "Field [NAME] type [C] length 0 cannot be created."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        session.traces.clear();
        tAutoArray<tActionField> actions;
        actions.Add(c.action);
        EXPECT_FALSE(conn->AlterStructure(c.table, actions, 0));
        EXPECT_NE(LastError().find(c.message), std::string::npos) << LastError();
        EXPECT_TRUE(Ran(kAlter).empty());
    }
    tAutoArray<tActionField> twice;
    twice.Add(Action("NAME", 'C', 10, 0));
    twice.Add(Action("name", 'C', 10, 0, tActionField::kAdd));
    EXPECT_FALSE(conn->AlterStructure("SA1030", twice, 0));
    EXPECT_NE(LastError().find("Field [name] given twice."), std::string::npos) << LastError();
    EXPECT_EQ(Value("select rtrim(name) from sa1030"), "a");
    EXPECT_FALSE(conn->CanOpen("SA1030_BKP", nullptr));
}

TEST_F(PostgresDDL, RebuildOfAnEmptyTableCopiesNothing) {
    ASSERT_TRUE(Run("create table sa1040 (name char(10), d_e_l_e_t_ char(1), r_e_c_n_o_ int4)"));
    tAutoArray<tActionField> actions;
    actions.Add(Changed("NAME", 'C', 10, 0, 'C', 30, 0));
    ASSERT_TRUE(conn->AlterStructure("SA1040", actions, 0)) << LastError();
    for (const std::string& sql : Ran(kAlter)) EXPECT_EQ(sql.find("INSERT"), std::string::npos);
    EXPECT_EQ(Value("select atttypmod - 4 from pg_attribute where attrelid = 'sa1040'::regclass "
                    "and attname = 'name'"),
              "30");
}

TEST_F(PostgresDDL, UniqueKeyAddsTheDeletionRecnoByARebuildAndIndexesIt) {
    tString report;
    ASSERT_TRUE(conn->InitialCheckUp(report));
    ASSERT_TRUE(
        Run("create table sa1050 (code char(6) not null default ' ', d_e_l_e_t_ char(1) "
            "not null default ' ', r_e_c_n_o_ int4 not null default 0 primary key)"));
    ASSERT_TRUE(Run("insert into sa1050 values ('a', ' ', 1), ('a', '*', 2), ('a', '*', 3)"));
    ASSERT_NE(conn->GetTableDef("SA1050", dsn.c_str(), true), nullptr) << LastError();
    EXPECT_EQ(conn->UniqueKey("sa1050", "code"), RC_OK) << LastError();
    EXPECT_EQ(Columns("sa1050"), "code,r_e_c_d_e_l_,d_e_l_e_t_,r_e_c_n_o_");
    EXPECT_EQ(Value("select string_agg(r_e_c_n_o_ || ':' || r_e_c_d_e_l_, ',' order by "
                    "r_e_c_n_o_) from sa1050"),
              "1:0,2:2,3:3");
    EXPECT_EQ(Value("select indexdef from pg_indexes where indexname = 'sa1050_unq'"),
              "CREATE UNIQUE INDEX sa1050_unq ON public.sa1050 USING btree (code, r_e_c_d_e_l_)");
    // A live duplicate is refused, a deleted one is not.
    EXPECT_FALSE(Run("insert into sa1050 values ('a', 0, ' ', 4)"));
    EXPECT_TRUE(Run("insert into sa1050 values ('a', 5, '*', 5)"));
}

TEST_F(PostgresDDL, PackDeletesMarkedRowsInBlocksAndAFailedBlockStopsIt) {
    for (const char* table : {"sa1060", "sa1070"}) {
        ASSERT_TRUE(Run(std::string("create table ") + table +
                        " (name char(10), d_e_l_e_t_ char(1), r_e_c_n_o_ int4 primary key)"));
        ASSERT_TRUE(Fill(table, "'n' || g"));
    }
    ASSERT_TRUE(conn->PackTable("SA1060"));
    const std::string del = "DELETE FROM SA1060 WHERE D_E_L_E_T_ = '*' AND R_E_C_N_O_ > ";
    EXPECT_EQ(Ran("tDBConnection::PackTable"),
              (std::vector<std::string>{del + "0 AND R_E_C_N_O_ <= 4096",
                                        del + "4096 AND R_E_C_N_O_ <= 8192",
                                        del + "8192 AND R_E_C_N_O_ <= 12288"}));
    EXPECT_EQ(Value("select concat_ws('|', count(*), count(*) filter (where d_e_l_e_t_ = '*')) "
                    "from sa1060"),
              "9000|0");

    // A marked row of the second block that another table still points to.
    ASSERT_TRUE(Run("create table sa1070c (ref int4 references sa1070 (r_e_c_n_o_))"));
    ASSERT_TRUE(Run("insert into sa1070c values (5000)"));
    EXPECT_FALSE(conn->PackTable("SA1070"));
    EXPECT_TRUE(
        HasLogEntryStarting("ExecInBlocks operation FAILED. Processed 4096 of 10000 "
                            "record(s). ( From tDBConnection::PackTable )\n"));
    // The first block stays packed; the rest is untouched.
    EXPECT_EQ(Value("select concat_ws('|', count(*) filter (where r_e_c_n_o_ <= 4096 and "
                    "d_e_l_e_t_ = '*'), count(*) filter (where d_e_l_e_t_ = '*')) from sa1070"),
              "0|591");

    EXPECT_TRUE(
        conn->ExecInBlocks("UPDATE SA1070 SET D_E_L_E_T_ = ' '", "tISAMFile::Clear", 10000.0, 0));
    EXPECT_EQ(Value("select count(*) filter (where d_e_l_e_t_ = '*') from sa1070"), "0");
    EXPECT_EQ(Ran("tISAMFile::Clear").size(), 3u);
}

}  // namespace
