// The PostgreSQL connection on the private server: the check-up on a fresh database and again,
// the catalogue questions, columns and indexes described into table definitions, and table
// loading with the types that GML_FIELD restores.
#include <gtest/gtest.h>
#include <strings.h>

#include <set>
#include <string>
#include <vector>

#include "lib_common/retcodes.h"
#include "server/drivers/postgres.h"
#include "server/tables/dbtable.h"
#include "tests/server/support/pgdatabase.h"

namespace {

std::string Text(const tString& s) { return s.GetText(); }

// Each field as NAME:<type><length>.<decimals>/<in record>.
std::string Layout(const tTableDefinition& def) {
    std::string text;
    for (i32 i = 0; i < def.GetFieldCount(); ++i) {
        const tField& f = *def.GetField(i);
        text += std::string(i ? " " : "") + f.GetName() + ":" + static_cast<char>(f.GetType()) +
                std::to_string(f.GetLen()) + "." + std::to_string(f.GetDecimals()) + "/" +
                (f.IsData() ? "1" : "0");
    }
    return text;
}

// Each index as NAME(FIELD,...), in definition order.
std::string Indexes(const tTableDefinition& def) {
    std::string text;
    for (i32 i = 0; i < def.GetIndexCount(); ++i) {
        const tIndexDefinition& index = *def.GetIndex(i);
        text += std::string(i ? " " : "") + index.GetName() + "(";
        for (i32 k = 0; k < index.GetFieldCount(); ++k) {
            text += std::string(k ? "," : "") + def.GetField(index.GetField(k))->GetName();
        }
        text += ")";
    }
    return text;
}

class PostgresCatalog : public gmtest::PostgresDatabase {
protected:
    // The tables that CREATE TABLE statements of the trace made, in order.
    std::vector<std::string> CreatedTables() const {
        std::vector<std::string> tables;
        for (const auto& entry : session.traces) {
            if (strncasecmp(entry.text.c_str(), "create table ", 13) != 0) continue;
            const std::string rest = entry.text.substr(13);
            tables.push_back(rest.substr(0, rest.find('(')));
        }
        return tables;
    }
    std::string LastError(tDBConnection& c) {
        tString text;
        c.GetLastErrorInfo(text);
        return Text(text);
    }
    bool HasLogEntry(const std::string& entry) {
        for (const std::string& e : process.LogEntries()) {
            if (e == entry) return true;
        }
        return false;
    }
};

TEST_F(PostgresCatalog, CheckUpOnAFreshDatabaseCreatesTheMissingCatalogueOnce) {
    tString report;
    ASSERT_TRUE(conn->InitialCheckUp(report)) << Text(report);
    const std::string r = Text(report);
    const std::string block =
        "--------------- Initial Connection Check-Up ---------------\n"
        "Database..........: POSTGRES\nEnvironment.......: " +
        dsn + "\nServer Version....: ";
    EXPECT_EQ(r.find(block), 0u) << r;
    size_t at = 0;
    for (const char* label :
         {"\nConfig File.......: /", "\nServer Encoding...: WIN1252\n", "\nClient Encoding...: ",
          "\nGEQO Engine.......: "
          "on\n-----------------------------------------------------------\n\n"
          "--------------- ODBC Connection Check-Up ------------------\n",
          "------------- Generic Connection Check-Up -----------------\nPrepared Stmt Cache "
          ".......: ENABLED\nIndex Trace ...............: DISABLED\nISAM Compatibility Mode ...: "
          "ENABLED\nConnection Access Mode ....: READWRITE (DEFAULT)\n"
          "-----------------------------------------------------------\n\n"}) {
        const size_t found = r.find(label, at);
        EXPECT_NE(found, std::string::npos) << label << "\n" << r;
        if (found != std::string::npos) at = found;
    }
    EXPECT_EQ(r.find("NOT AVAILABLE"), std::string::npos) << r;
    EXPECT_EQ(r.find("[WARNING]"), std::string::npos) << r;
    EXPECT_EQ(CreatedTables(), (std::vector<std::string>{"GML_FIELD", "GML_PARAM", "GML_IDXSTATS",
                                                         "GML_VIRTUALIDX", "GML_SP", "GMLTEMP"}));
    EXPECT_EQ(Value("select string_agg(indexname || ':' || (indexdef like '%UNIQUE%')::text, ',' "
                    "order by indexname) from pg_indexes where schemaname = 'public'"),
              "gml_fieldi:true,gml_idxstatsi:false,gml_param1:false,gml_virtualidxi:true");
    EXPECT_EQ(Value("select cpoc from gmltemp"), "0000000001");
    EXPECT_EQ(Value("select round(2.345::float8, 2)::text"), "2.35");
    EXPECT_TRUE(conn->InUnitOfWork());

    // Again: nothing to create but the test table, which goes first.
    session.traces.clear();
    tString again;
    ASSERT_TRUE(conn->InitialCheckUp(again)) << Text(again);
    EXPECT_EQ(CreatedTables(), std::vector<std::string>{"GMLTEMP"});
    EXPECT_EQ(Ran("tDBConnection::InitialCheckUp").front(), "drop table gmltemp");
    EXPECT_EQ(Value("select count(*) from gmltemp"), "1");
}

TEST_F(PostgresCatalog, OvergrownParamTableIsRecreatedWithItsFkInUseRows) {
    ASSERT_TRUE(conn->CreateGMLParam());
    ASSERT_TRUE(
        Run("insert into GML_PARAM select 'P' || g, g % 100, 'v' from "
            "generate_series(1, 998) g"));
    ASSERT_TRUE(Run("insert into GML_PARAM values ('FKINUSE_SA1', 7, 'it''s')"));
    tString report;
    ASSERT_TRUE(conn->InitialCheckUp(report));
    EXPECT_EQ(Value("select count(*) from GML_PARAM"), "999");  // 999 rows are kept

    ASSERT_TRUE(Run("insert into GML_PARAM values ('FKINUSE_SA2', 8, 'x')"));
    session.traces.clear();
    ASSERT_TRUE(conn->InitialCheckUp(report));
    EXPECT_EQ(Value("select string_agg(concat_ws('|', rtrim(param_name), param_session, "
                    "rtrim(param_value)), ',' order by param_name) from GML_PARAM"),
              "FKINUSE_SA1|1|it's,FKINUSE_SA2|1|x");
    EXPECT_TRUE(conn->CanOpen("GML_PARAM", "GML_PARAM1"));
    EXPECT_TRUE(HasLogEntry("[INFO] Restore GML_PARAM information.\n"));
}

TEST_F(PostgresCatalog, CheckUpOfARoleWithoutSuperuserRightsLacksTheConfigFile) {
    const gmtest::DbSettings& env = gmtest::DbEnv();
    tString owner;
    ASSERT_TRUE(conn->InitialCheckUp(owner));
    tPostgresConnection& plain = Other(env.pgNoSuperUser, env.pgNoSuperPassword);
    ASSERT_TRUE(plain.IsConnected());
    tString report;
    EXPECT_FALSE(plain.InitialCheckUp(report));  // the ROUND function is not its own
    const std::string r = Text(report);
    const size_t version = r.find("Server Version....: ");
    ASSERT_NE(version, std::string::npos) << r;
    EXPECT_EQ(r.find("\n*** CONFIG_FILE NOT AVAILABLE ***\nServer Encoding...: WIN1252\n"),
              r.find('\n', version))
        << r;
    EXPECT_TRUE(HasLogEntry(
        "[POSTGRES] Initial Checkup Error : Failed to create or replace round() function."));
}

TEST_F(PostgresCatalog, ProbesCountsAndClearsAnswerForTheRealTable) {
    ASSERT_TRUE(Run("create table sa1010 (a char(2), r_e_c_n_o_ int4 primary key)"));
    ASSERT_TRUE(Run("create index sa1010_1 on sa1010 (a)"));
    EXPECT_TRUE(conn->CanOpen("SA1010", nullptr));
    EXPECT_TRUE(conn->CanOpen("sa1010", ""));
    EXPECT_TRUE(conn->CanOpen("SA1010", "SA1010_1"));
    EXPECT_FALSE(conn->CanOpen("SA1010", "SA1010_2"));
    EXPECT_FALSE(conn->CanOpen("SA1020", nullptr));
    EXPECT_FALSE(conn->CanOpen("sa1010' or ''='", nullptr));
    EXPECT_EQ(conn->GetRecCount("SA1010"), 0.0);
    EXPECT_EQ(conn->GetRecCount("SA1020"), -1.0);
    EXPECT_EQ(conn->GetRecCount("SA1010;"), -1.0);
    ASSERT_TRUE(Run("insert into sa1010 values ('x', 7), ('y', 4100), ('z', 12)"));
    EXPECT_EQ(conn->GetRecCount("SA1010"), 4100.0);
    EXPECT_EQ(conn->GetTableCount("SA1010", "A > 'x'"), 2.0);
    EXPECT_TRUE(conn->ClearTable("SA1010"));
    EXPECT_EQ(conn->GetTableCount("SA1010", nullptr), 0.0);
    // A value with a quote and a backslash reads back as it was.
    tString literal("select ");
    conn->AppendLiteral(literal, "it's C:\\dir");
    EXPECT_EQ(Text(literal), "select E'it''s C:\\\\dir'");
    EXPECT_EQ(Value(Text(literal)), "it's C:\\dir");
    tString list;
    conn->ListTables(list);
    EXPECT_EQ(Text(list), "select tablename FNAMF1 from pg_tables");
}

TEST_F(PostgresCatalog, OnlyAnIntegrityViolationCountsAsADuplicateKey) {
    ASSERT_TRUE(Run("create table sa1010 (r_e_c_n_o_ int4 primary key)"));
    ASSERT_TRUE(Run("insert into sa1010 values (1)"));
    ASSERT_TRUE(Run("create table sa1020 (a int4 unique, r_e_c_n_o_ int4 primary key)"));
    ASSERT_TRUE(Run("insert into sa1020 values (1, 1)"));
    tTableDefinition sa1010("sa1010", dsn.c_str());
    tTableDefinition sa1020("sa1020", dsn.c_str());
    const struct {
        const char* sql;
        bool duplicate;
        bool recnoKey;  // of SA1010
    } cases[] = {
        {"insert into sa1010 values (1)", true, true},
        {"insert into sa1020 values (1, 2)", true, false},
        {"insert into sa1010 values ('x')", false, false},
        {"insert into sa1030 values (1)", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sql);
        std::unique_ptr<tStatement> stmt(conn->NewStatement());
        EXPECT_FALSE(stmt->ExecDirect(c.sql, "test", 1));
        const i32 native = stmt->GetRetCode();
        EXPECT_TRUE(native == 1 || native == 7) << native;
        EXPECT_EQ(conn->IsDuplicateKey(native), c.duplicate);
        // The record-number key of a table is its primary key <table>_pkey.
        EXPECT_EQ(conn->IsRecnoKeyError(sa1010), c.recnoKey) << LastError(*conn);
    }
    EXPECT_TRUE(conn->IsDuplicateKey(-10102));
    EXPECT_FALSE(conn->IsDuplicateKey(-7));
}

TEST_F(PostgresCatalog, ColumnsMapByTypeWithMixedCaseNamesAndWithoutDroppedOnes) {
    ASSERT_TRUE(
        Run("create table Clients (Code char(40) not null default ' ', Notes text, Price "
            "float8, Qty int2, Stock int4, DropMe char(3), Descr varchar(20), D_E_L_E_T_ "
            "char(1) not null default ' ', R_E_C_N_O_ int4 not null default 0, "
            "R_E_C_D_E_L_ int4 not null default 0)"));
    ASSERT_TRUE(Run("alter table clients drop column dropme"));
    tTableDefinition def("Clients", dsn.c_str());
    gmtest::ConsoleCapture console;
    ASSERT_TRUE(conn->DescribeTable(def));
    EXPECT_EQ(Layout(def),
              "CODE:C40.0/1 NOTES:M10.0/1 PRICE:N15.6/1 QTY:N15.6/1 STOCK:N15.6/1 DESCR:X0.0/0 "
              "D_E_L_E_T_:C1.0/1 R_E_C_N_O_:N15.6/0 R_E_C_D_E_L_:N15.6/0");
    EXPECT_EQ(def.GetRecnoField(), 7);
    EXPECT_EQ(def.GetDeletedField(), 6);
    EXPECT_EQ(def.GetRecDelField(), 8);
    EXPECT_NE(console.Get().find("[WARNING] (tPostgresConnection::DescribeTable) Table [CLIENTS] "
                                 "unsupported field [DESCR] type [1043].\n"),
              std::string::npos)
        << console.Get();
    const std::vector<std::string> ran = Ran("tPostgresConnection::DescribeTable");
    ASSERT_EQ(ran.size(), 2u);
    EXPECT_EQ(ran[0],
              "select count(attname)::int from pg_type a, pg_attribute b where "
              "b.attrelid=a.typrelid and typname='clients' and attnum > 0 and not b.attisdropped");

    tTableDefinition missing("SA1020", dsn.c_str());
    EXPECT_FALSE(conn->DescribeTable(missing));
    EXPECT_EQ(missing.GetFieldCount(), 0);
}

TEST_F(PostgresCatalog, IndexesLeaveOutTheRecnoKeyWhichIsAddedWhenMissing) {
    ASSERT_TRUE(
        Run("create table clients (code char(6), qty int4, d_e_l_e_t_ char(1), "
            "r_e_c_n_o_ int4 not null)"));
    tTableDefinition bare("clients", dsn.c_str());
    ASSERT_TRUE(conn->DescribeTable(bare));
    ASSERT_TRUE(conn->DescribeIndexes(bare));
    EXPECT_EQ(Indexes(bare), "");
    EXPECT_EQ(Ran("tPostgresConnection::DescribeIndexes"),
              std::vector<std::string>{"ALTER TABLE CLIENTS ADD PRIMARY KEY (R_E_C_N_O_)"});
    EXPECT_EQ(Value("select indexdef from pg_indexes where indexname = 'clients_pkey'"),
              "CREATE UNIQUE INDEX clients_pkey ON public.clients USING btree (r_e_c_n_o_)");

    ASSERT_TRUE(Run("create index clients_1 on clients (code desc, \"qty\", d_e_l_e_t_)"));
    ASSERT_TRUE(Run("create index clients_2 on clients (lower(code))"));
    ASSERT_TRUE(Run("create unique index clients_3 on clients (r_e_c_n_o_, d_e_l_e_t_)"));
    ASSERT_TRUE(Run("create index clients_4 on clients (qty, r_e_c_n_o_)"));
    session.traces.clear();
    tTableDefinition def("clients", dsn.c_str());
    ASSERT_TRUE(conn->DescribeTable(def));
    ASSERT_TRUE(conn->DescribeIndexes(def));
    std::set<std::string> names;
    for (i32 i = 0; i < def.GetIndexCount(); ++i) names.insert(def.GetIndex(i)->GetName());
    EXPECT_EQ(names, (std::set<std::string>{"CLIENTS_1", "CLIENTS_4"}));
    const std::string indexes = Indexes(def);
    EXPECT_NE(indexes.find("CLIENTS_1(CODE,QTY)"), std::string::npos) << indexes;
    EXPECT_NE(indexes.find("CLIENTS_4(QTY,R_E_C_N_O_)"), std::string::npos) << indexes;
    EXPECT_EQ(Ran("tPostgresConnection::DescribeIndexes").size(), 1u);  // the list, no ALTER
}

TEST_F(PostgresCatalog, LoadedTableTakesBackItsTypesFromTheFieldTable) {
    tString report;
    ASSERT_TRUE(conn->InitialCheckUp(report));
    tTableDefinition made("SA1010", dsn.c_str());
    made.AddField("CODE", 'C', 6, 0, true, true);
    made.AddField("ACTIVE", 'L', 1, 0, true, true);
    made.AddField("BORN", 'D', 8, 0, true, true);
    made.AddField("PRICE", 'N', 12, 2, true, true);
    made.AddField("NOTES", 'M', 10, 0, true, true);
    made.AddField("D_E_L_E_T_", 'C', 1, 0, true, true);
    made.AddField("R_E_C_N_O_", 'R', 4, 0, false, true);
    tString create;
    conn->CreateTable(made, create);
    ASSERT_TRUE(Run(Text(create)));
    ASSERT_TRUE(Run("insert into sa1010 (code, r_e_c_n_o_) values ('a', 5), ('b', 57), ('c', 12)"));

    // Without its GML_FIELD rows the table loads with the database's types, and says so.
    std::unique_ptr<tTableDefinitionShared> plain = conn->LoadTableDef("SA1010", dsn.c_str());
    ASSERT_NE(plain, nullptr) << LastError(*conn);
    EXPECT_EQ(Layout(*plain),
              "CODE:C6.0/1 ACTIVE:C1.0/1 BORN:C8.0/1 PRICE:N15.6/1 NOTES:M10.0/1 D_E_L_E_T_:C1.0/1 "
              "R_E_C_N_O_:N15.6/0");
    EXPECT_TRUE(
        HasLogEntry("[WARNING] Table SA1010 has 1 numeric fields on DBMS, but 0 was "
                    "adjusted using GML_FIELD.\n"));

    // The rows that table creation writes for the types the database cannot hold.
    ASSERT_TRUE(
        Run("insert into GML_FIELD values ('SA1010', 'ACTIVE', 'L', '1', '0'), "
            "('SA1010', 'BORN', 'D', '8', '0'), ('SA1010', 'PRICE', 'N', '12', '2')"));
    const std::shared_ptr<tTableDefinitionShared> def =
        conn->GetTableDef("SA1010", dsn.c_str(), true);
    ASSERT_NE(def, nullptr) << LastError(*conn);
    EXPECT_EQ(Layout(*def),
              "CODE:C6.0/1 ACTIVE:L1.0/1 BORN:D8.0/1 PRICE:N12.2/1 NOTES:M10.0/1 D_E_L_E_T_:C1.0/1 "
              "R_E_C_N_O_:N15.6/0");
    EXPECT_EQ(def->GetRecLen(), 6u + 1 + 8 + 8 + 0 + 1);
    EXPECT_EQ(
        session.lockServer.RecCount(static_cast<i32>(def->GetLockBucket()), def->GetFullName()),
        57.0);
    EXPECT_EQ(conn->FindTableDef("SA1010", dsn.c_str()), def);
}

TEST_F(PostgresCatalog, IndexUseIsTracedAndVirtualIndexesJoinTheLoadedTable) {
    process.SetIni("General", "TraceIndex", "1");
    const gmtest::DbSettings& env = gmtest::DbEnv();
    std::unique_ptr<tPostgresConnection> traced = Connect(dsn, env.pgUser, env.pgPassword);
    traced->SetDBServer(&session);
    tString report;
    ASSERT_TRUE(traced->InitialCheckUp(report)) << Text(report);
    ASSERT_TRUE(
        Run("create table sa1010 (code char(6), name char(20), d_e_l_e_t_ char(1), "
            "r_e_c_n_o_ int4 primary key)"));
    ASSERT_TRUE(Run("create index sa1010_1 on sa1010 (code, d_e_l_e_t_)"));
    ASSERT_TRUE(
        Run("insert into GML_IDXSTATS (idx_env, idx_table, idx_name, idx_key, idx_use, "
            "r_e_c_n_o_) values ('OTHER', 'X', 'X', 'X', 1, 30)"));
    // The catalogue keeps the environment upper-cased.
    std::string environment = dsn;
    for (char& c : environment) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    ASSERT_TRUE(Run("insert into GML_VIRTUALIDX values ('" + environment +
                    "', 'SA1010', 'SA1010_V1', 'NAME,CODE'), ('" + environment +
                    "', 'SA1010', 'SA1010_V2', 'R_E_C_N_O_')"));
    tDBConnection::ForgetIndexTraceDefinition();  // counted again, now with the row above

    std::unique_ptr<tTableDefinitionShared> def = traced->LoadTableDef("SA1010", dsn.c_str());
    ASSERT_NE(def, nullptr);
    EXPECT_EQ(Indexes(*def), "SA1010_1(CODE) SA1010_V1(NAME,CODE)");
    ASSERT_NE(traced->LoadTableDef("SA1010", dsn.c_str()), nullptr);  // prepares no second row
    traced->TraceIndex(*def, *def->GetIndex(1));
    EXPECT_EQ(Value("select string_agg(concat_ws('|', rtrim(idx_env), rtrim(idx_table), "
                    "rtrim(idx_name), rtrim(idx_key), idx_use, r_e_c_n_o_), ' ; ' order by "
                    "r_e_c_n_o_) from GML_IDXSTATS where idx_table = 'SA1010'"),
              environment + "|SA1010|SA1010_1|CODE|0|31 ; " + environment +
                  "|SA1010|SA1010_V1|NAME,CODE|1|32");
    EXPECT_TRUE(traced->IsVirtualIndex("sa1010_v1"));
    EXPECT_FALSE(traced->IsVirtualIndex("sa1010_1"));
}

TEST_F(PostgresCatalog, LoadFailuresSayWhyAndCacheNothing) {
    tString report;
    ASSERT_TRUE(conn->InitialCheckUp(report));
    ASSERT_TRUE(Run("create table nodel (a char(1), r_e_c_n_o_ int4 primary key)"));
    ASSERT_TRUE(Run("create table norecno (a char(1), d_e_l_e_t_ char(1))"));
    ASSERT_TRUE(
        Run("create table locked (a char(1), d_e_l_e_t_ char(1), r_e_c_n_o_ int4 "
            "primary key)"));
    const gmtest::DbSettings& env = gmtest::DbEnv();
    // A role that reads the catalogue tables but not the table itself.
    ASSERT_TRUE(Run("grant select on GML_FIELD, GML_VIRTUALIDX to " + env.pgNoSuperUser));
    tPostgresConnection& plain = Other(env.pgNoSuperUser, env.pgNoSuperPassword);
    const struct {
        tPostgresConnection* c;
        const char* table;
        const char* message;
    } cases[] = {
        {conn.get(), "SA1020", "Table [SA1020] Error - Describe Structure Failed.\n"},
        {conn.get(), "NODEL", "Table [NODEL] Error - D_E_L_E_T_ field NOT FOUND.\n"},
        {conn.get(), "NORECNO", "Table [NORECNO] Error - R_E_C_N_O_ field NOT FOUND.\n"},
        {&plain, "LOCKED", "Table [LOCKED] Error - GETRECCOUNT FAILED.\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.table);
        EXPECT_EQ(c.c->GetTableDef(c.table, dsn.c_str(), true), nullptr);
        EXPECT_EQ(LastError(*c.c).find(std::string("GML Error -19 - ") + c.message +
                                       " ( From tDBServer::OpenFile )\n"),
                  0u)
            << LastError(*c.c);
        EXPECT_EQ(c.c->FindTableDef(c.table, dsn.c_str()), nullptr);
    }
    EXPECT_EQ(process.GetTableCache().GetCount(), 0);
}

}  // namespace
