// Table structure, query and maintenance requests over loopback against the private PostgreSQL:
// a created table with its reserved columns and GML_FIELD rows opening with the structure it was
// made with, refusals that leave the database as it was, an index and the order it gives, drops
// refused while the table is open elsewhere, query files and the table list, direct statements
// and the last error, the build number, clear and pack.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "lib_common/opcodes.h"
#include "lib_common/retcodes.h"
#include "server/dispatch/dbserver.h"
#include "server/locks/lockengine.h"
#include "server/runtime/globals.h"
#include "server/tables/dbtable.h"
#include "tests/server/dispatch/support/dbserverpg.h"
#include "tests/support/gmtest.h"

namespace {

using gmtest::ConnectTexts;
using gmtest::Long;
using gmtest::ReadFrame;
using gmtest::Short;

const std::string kConnected = Short(0) + "WinNT" + '\0';

std::string Text(const std::string& text) { return text + '\0'; }

std::string Field(const std::string& name, char type, i16 size, i16 width, i16 decimals) {
    return Text(name) + type + Short(size) + Short(width) + Short(decimals);
}

// A field as the open reply describes it.
std::string Described(const std::string& name, char type, i16 length, i16 decimals) {
    return Text(name) + type + Short(length) + Short(decimals);
}

std::string OpenRequest(const std::string& table) { return Text(table) + '\0' + '\0'; }

// CLIENTES: NOME C 10, VALOR F 12.2, NASCIDO D 8, ATIVO L 1, NOTAS M 10.
std::string ClientesRequest(const std::string& table = "clientes") {
    return Text(table) + Short(5) + Field("NOME", 'C', 10, 0, 0) + Field("VALOR", 'F', 8, 12, 2) +
           Field("NASCIDO", 'D', 8, 0, 0) + Field("ATIVO", 'L', 1, 0, 0) +
           Field("NOTAS", 'M', 10, 0, 0);
}

// The open reply of CLIENTES up to the status: code 0, the id, the record length and the data
// fields with D_E_L_E_T_.
std::string ClientesOpened(i16 id) {
    return Short(0) + Short(id) + Long(10 + 8 + 8 + 1 + 0 + 1) + Short(6) +
           Described("NOME", 'C', 10, 0) + Described("VALOR", 'N', 12, 2) +
           Described("NASCIDO", 'D', 8, 0) + Described("ATIVO", 'L', 1, 0) +
           Described("NOTAS", 'M', 10, 0) + Described("D_E_L_E_T_", 'C', 1, 0);
}

// The NOME of a found move's reply: after the code and the record number.
std::string MovedName(const std::string& reply) {
    return reply.size() >= 20 ? reply.substr(10, 10) : "(" + std::to_string(reply.size()) + ")";
}

class DBServerCreate : public gmtest::DBServerPostgres {
protected:
    std::unique_ptr<gmtest::Session> Connected() {
        auto session = Open(ConnectTexts(Environment(), "ERP", "ana", "PC01"));
        EXPECT_EQ(ReadFrame(*session->client), kConnected);
        return session;
    }
    static std::string LastError(gmtest::Session& session) {
        const std::string reply = session.Exchange(OP_GETERROR);
        return reply.size() > 2 ? reply.substr(2) : reply;
    }
    static bool Holds(const std::string& text, const std::string& part) {
        return text.find(part) != std::string::npos;
    }
    std::vector<std::string> Columns(const std::string& table) {
        return Values("select column_name from information_schema.columns where table_name = '" +
                      table + "' order by ordinal_position");
    }
    std::vector<std::string> FieldRows() {
        return Values(
            "select trim(field_table)||' '||trim(field_name)||' '||trim(field_type)||' '||"
            "trim(field_prec)||' '||trim(field_dec) from gml_field order by 1");
    }
    std::string TableCount() { return Value("select count(*) from pg_tables"); }
    // Four rows written directly, one of them marked deleted.
    void FillClientes(gmtest::Session& session) {
        const char* rows[] = {
            "INSERT INTO clientes (nome, valor, ativo, d_e_l_e_t_, r_e_c_n_o_) VALUES "
            "('CARLA', 30, 'T', ' ', 1), ('ANA', 10, 'T', ' ', 2), ('BIA', 20, 'F', '*', 3), "
            "('DORA', 40, 'T', ' ', 4)",
        };
        for (const char* row : rows) {
            ASSERT_EQ(session.Exchange(OP_SQLEXEC, Text(row)), Short(RC_OK)) << LastError(session);
        }
    }
};

TEST_F(DBServerCreate, CreatedTableHasItsReservedColumnsAndFieldRowsAndOpensAsItWasMade) {
    auto session = Connected();
    ASSERT_EQ(session->Exchange(OP_CREATEFILE, ClientesRequest()), Short(RC_OK))
        << LastError(*session);
    EXPECT_EQ(Columns("clientes"), (std::vector<std::string>{"nome", "valor", "nascido", "ativo",
                                                             "notas", "d_e_l_e_t_", "r_e_c_n_o_"}));
    EXPECT_EQ(FieldRows(),
              (std::vector<std::string>{"CLIENTES ATIVO L 1 0", "CLIENTES NASCIDO D 8 0",
                                        "CLIENTES NOTAS M 10 0", "CLIENTES VALOR P 12 2"}));
    // From the definition cached by the create, then from one described by the database.
    const std::string opened = session->Exchange(OP_OPEN, OpenRequest("clientes"));
    EXPECT_EQ(opened.substr(0, ClientesOpened(1).size()), ClientesOpened(1));
    globals->GetTableCache()->Clean("test");
    const std::string reopened = session->Exchange(OP_OPEN, OpenRequest("CLIENTES"));
    EXPECT_EQ(reopened.substr(0, ClientesOpened(2).size()), ClientesOpened(2));
    session->Disconnect();
    session->End();
}

TEST_F(DBServerCreate, RefusedCreatesLeaveTheDatabaseAsItWas) {
    auto session = Connected();
    const std::string tables = TableCount();
    const std::string quoted = ClientesRequest("cli'entes");
    const std::string pastFrame = Text("clientes") + Short(400) + Field("NOME", 'C', 10, 0, 0);
    EXPECT_EQ(session->Exchange(OP_CREATEFILE, quoted), Short(RC_FAILED));
    EXPECT_TRUE(Holds(LastError(*session), "Invalid Table Name"));
    EXPECT_EQ(session->Exchange(OP_CREATEFILE, pastFrame), Short(RC_FAILED));
    EXPECT_TRUE(Holds(LastError(*session), "Invalid Field Count"));
    EXPECT_EQ(TableCount(), tables);
    EXPECT_EQ(FieldRows(), std::vector<std::string>{});
    session->Disconnect();
    session->End();
}

TEST_F(DBServerCreate, IndexGivesItsOrderAndDropWaitsUntilNoConnectionHasTheTableOpen) {
    auto session = Connected();
    auto other = Connected();
    ASSERT_EQ(session->Exchange(OP_CREATEFILE, ClientesRequest()), Short(RC_OK));
    FillClientes(*session);
    ASSERT_EQ(session->Exchange(OP_OPEN, OpenRequest("clientes")).substr(0, 4),
              Short(0) + Short(1));
    EXPECT_EQ(session->Exchange(OP_CREATEINDEX, Short(1) + Text("CLIENTES1") + Text("NOME")),
              Short(RC_OK) + Text("CLIENTES1") + Text("001"));
    ASSERT_EQ(session->Exchange(OP_SETKEY, Short(1) + Short(1)), Short(RC_OK));
    std::vector<std::string> names{MovedName(session->Exchange(OP_FIRST, Short(1)))};
    for (int i = 0; i < 3; ++i)
        names.push_back(MovedName(session->Exchange(OP_SKIP, Short(1) + Long(1))));
    EXPECT_EQ(names,
              (std::vector<std::string>{"ANA       ", "BIA       ", "CARLA     ", "DORA      "}));

    // Open here: the other connection may neither drop it nor create it again.
    EXPECT_EQ(other->Exchange(OP_DELETEFILE, Text("CLIENTES")), Short(RC_NO_DELETE));
    EXPECT_TRUE(Holds(LastError(*other), "DROP ERROR : TABLE CLIENTES STILL IN USE."));
    EXPECT_EQ(other->Exchange(OP_CREATEFILE, ClientesRequest("Clientes")), Short(RC_FAILED));
    EXPECT_EQ(Columns("clientes").size(), 7u);
    EXPECT_EQ(session->Exchange(OP_CLOSE, Short(1)), Short(RC_OK));
    EXPECT_EQ(other->Exchange(OP_DELETEFILE, Text("Clientes")), Short(RC_OK)) << LastError(*other);
    EXPECT_EQ(Columns("clientes"), std::vector<std::string>{});
    EXPECT_EQ(FieldRows(), std::vector<std::string>{});
    session->Disconnect();
    other->Disconnect();
    session->End();
    other->End();
}

TEST_F(DBServerCreate, DirectUpdateChangesRowsAndABadStatementLeavesItsTextForTheLastError) {
    auto session = Connected();
    EXPECT_EQ(session->Exchange(OP_BUILD), Text("20110117"));  // what the client checks first
    ASSERT_EQ(session->Exchange(OP_CREATEFILE, ClientesRequest()), Short(RC_OK));
    FillClientes(*session);
    EXPECT_EQ(session->Exchange(OP_SQLEXEC, Text("UPDATE clientes SET valor = valor * 2")),
              Short(RC_OK));
    EXPECT_EQ(Values("select valor from clientes order by r_e_c_n_o_"),
              (std::vector<std::string>{"60", "20", "40", "80"}));
    EXPECT_EQ(session->Exchange(OP_SQLEXEC, Text("UPDATE nosuchtable SET x = 1")),
              Short(RC_FAILED));
    // The database's own code, made positive, then its text.
    const std::string error = session->Exchange(OP_GETERROR);
    ASSERT_GE(error.size(), 2u);
    i16 code = 0;
    std::memcpy(&code, error.data(), sizeof code);
    EXPECT_GT(code, 0);
    EXPECT_TRUE(Holds(error, "nosuchtable")) << error;
    session->Disconnect();
    session->End();
}

TEST_F(DBServerCreate, QueryOpensAsAReadOnlyFileAndGmlFilesListsTheTables) {
    auto session = Connected();
    ASSERT_EQ(session->Exchange(OP_CREATEFILE, ClientesRequest()), Short(RC_OK));
    FillClientes(*session);
    const std::string query =
        session->Exchange(OP_QUERY, Text("SELECT nome FROM clientes ORDER BY nome"));
    ASSERT_EQ(query.substr(0, 4), Short(0) + Short(1)) << LastError(*session);
    std::vector<std::string> names{MovedName(session->Exchange(OP_FIRST, Short(1)))};
    for (int i = 0; i < 4; ++i) {
        names.push_back(MovedName(session->Exchange(OP_SKIP, Short(1) + Long(1))));
    }
    EXPECT_EQ(names, (std::vector<std::string>{"ANA       ", "BIA       ", "CARLA     ",
                                               "DORA      ", "(9)"}));   // then -25 and status
    EXPECT_EQ(session->Exchange(OP_CLEAR, Short(1)), Short(RC_FAILED));  // read-only
    EXPECT_EQ(Value("select count(*) from clientes"), "4");

    const std::string files = session->Exchange(OP_OPEN, OpenRequest("GML_FILES"));
    ASSERT_EQ(files.substr(0, 4), Short(0) + Short(2)) << LastError(*session);
    std::vector<std::string> listed;
    std::string moved = session->Exchange(OP_FIRST, Short(2));
    while (moved.substr(0, 2) == Short(0)) {
        listed.push_back(moved.substr(10, std::strlen(moved.c_str() + 10)));
        moved = session->Exchange(OP_SKIP, Short(2) + Long(1));
    }
    for (const char* table : {"clientes", "gml_field"}) {
        bool found = false;
        for (const std::string& name : listed) found = found || name.rfind(table, 0) == 0;
        EXPECT_TRUE(found) << table;
    }
    session->Disconnect();
    session->End();
}

TEST_F(DBServerCreate, PackRemovesDeletedRecordsAndClearEmptiesTheTableAndItsCounter) {
    auto session = Connected();
    ASSERT_EQ(session->Exchange(OP_CREATEFILE, ClientesRequest()), Short(RC_OK));
    FillClientes(*session);
    ASSERT_EQ(session->Exchange(OP_OPEN, OpenRequest("clientes")).substr(0, 4),
              Short(0) + Short(1));
    EXPECT_EQ(session->Exchange(OP_PACK, Short(1)), Short(RC_OK)) << LastError(*session);
    EXPECT_EQ(Values("select nome from clientes order by r_e_c_n_o_"),
              (std::vector<std::string>{"CARLA     ", "ANA       ", "DORA      "}));
    const tTableDefinition def("CLIENTES", dsn.c_str());
    tRecordLockEngine& records = *globals->GetRecordLockServer();
    records.SetRecCount(static_cast<i32>(def.GetLockBucket()), def.GetFullName(), 4.0);
    // 0, then the status of a file on no record of an empty table.
    EXPECT_EQ(session->Exchange(OP_CLEAR, Short(1)),
              Short(RC_OK) + std::string("\1\1\0", 3) + Long(0))
        << LastError(*session);
    EXPECT_EQ(Value("select count(*) from clientes"), "0");
    EXPECT_EQ(records.RecCount(static_cast<i32>(def.GetLockBucket()), def.GetFullName()), 0.0);
    session->Disconnect();
    session->End();
}

}  // namespace
