// Client connections to a fresh PostgreSQL database of the test's own: the environment
// "postgres/<dsn>" names it, and its alias's user and password come from the ini. A second data
// source, "<dsn>_bad", reaches the same database with the wrong password. Db tests only.
#pragma once
#include <memory>
#include <string>

#include "server/dispatch/dbserver.h"
#include "server/isam/dbconn.h"
#include "server/tables/dbtable.h"
#include "tests/lib_common/support/inipassword.h"
#include "tests/server/dispatch/support/dbserverfixture.h"
#include "tests/server/support/pgdatabase.h"

namespace gmtest {

// A CLIENTES record as the client holds it (MakeClientes): NOME C 10, CIDADE C 8, D_E_L_E_T_.
inline std::string ClientesRecord(const std::string& nome, const std::string& cidade,
                                  char deleted = ' ') {
    return nome + std::string(10 - nome.size(), ' ') + cidade +
           std::string(8 - cidade.size(), ' ') + deleted;
}

class DBServerPostgres : public PostgresDatabase, public DBServerWorld {
protected:
    void SetUp() override {
        PostgresDatabase::SetUp();
        if (HasFatalFailure()) return;
        StartServerGlobals("");
    }
    // Globals over the ini of both aliases, with the general lines before them ([General]) and
    // these lines after them.
    void StartServerGlobals(const std::string& more, const std::string& general = "") {
        const DbSettings& env = DbEnv();
        const std::string sources = ReadFileText(dir.File("odbc.ini"));
        if (sources.find("[" + dsn + "_bad]") == std::string::npos) {
            WriteFileText(dir.File("odbc.ini"), sources + "\n[" + dsn +
                                                    "_bad]\nDriver=gm PostgreSQL\n"
                                                    "Servername=127.0.0.1\nPort=" +
                                                    env.pgPort + "\nDatabase=" + dsn + "\n");
        }
        StartGlobals(general + "[POSTGRES/" + dsn + "]\nuser=" + env.pgUser +
                     "\npassword=" + IniPassword(env.pgPassword) + "\n[POSTGRES/" + dsn +
                     "_bad]\nuser=" + env.pgUser + "\npassword=" + IniPassword("wrong") + "\n" +
                     more);
    }
    std::string Environment() const { return "postgres/" + dsn; }

    // A client connection to the test's database, past its connect reply.
    std::unique_ptr<Session> Connected() {
        auto session = Open(ConnectTexts(Environment(), "ERP", "ana", "PC01"));
        EXPECT_EQ(ReadFrame(*session->client), Short(0) + "WinNT" + '\0');
        return session;
    }
    static std::string LastError(tDBServer& server) {
        tString text;
        server.GetDBConnection()->GetLastErrorInfo(text);
        return text.GetText();
    }
    // CLIENTES (NOME C 10, CIDADE C 8, D_E_L_E_T_ C 1) keyed by its record number, with the
    // rows N001 SP, N002 RJ and N004 BH as records 1 to 3; after the catalogue check-up.
    void MakeClientes() {
        tTableDefinition made("CLIENTES", dsn.c_str());
        made.AddField("NOME", 'C', 10, 0, true, true);
        made.AddField("CIDADE", 'C', 8, 0, true, true);
        made.AddField("D_E_L_E_T_", 'C', 1, 0, true, true);
        made.AddField("R_E_C_N_O_", 'R', 4, 0, false, true);
        CheckUpAndCreate(made);
        if (HasFatalFailure()) return;
        ASSERT_TRUE(
            Run("insert into clientes values ('N001', 'SP', ' ', 1), "
                "('N002', 'RJ', ' ', 2), ('N004', 'BH', ' ', 3)"));
        ASSERT_TRUE(Run("alter table clientes add primary key (r_e_c_n_o_)"));
    }
};

}  // namespace gmtest
