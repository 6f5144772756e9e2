// The server's field registry and table drops: the GML_FIELD rows that keep the emulated type
// of a table's N, L, D and M fields, and the DROP TABLE of a client's table. Every value goes
// into the SQL as a literal of the dialect.
#include <memory>
#include <vector>

#include "lib_base/misc.h"
#include "server/isam/dbconn.h"
#include "server/tables/dbtable.h"

namespace {

bool IsRegistered(const tField& field) {
    const u8 type = field.GetType();
    return field.IsData() && (type == 'N' || type == 'L' || type == 'D' || type == 'M');
}

// Runs the statements on one statement object inside their own transaction: committed when
// all succeeded, else rolled back.
bool RunInTransaction(tDBConnection& conn, const std::vector<tString>& statements,
                      const char* routine) {
    conn.StrCmtCtl();
    bool ok = true;
    {
        std::unique_ptr<tStatement> stmt(conn.NewStatement());
        for (size_t i = 0; ok && i < statements.size(); ++i) {
            ok = stmt->ExecDirect(statements[i], routine, 1);
        }
    }
    if (ok) {
        conn.Commit();
    } else {
        conn.Rollback();
    }
    conn.EndCmtCtl();
    return ok;
}

// The registry serves the client session's table requests; its statements run under the session
// routines' names, which is how logs and traces show them.
constexpr const char* kRegisterRoutine = "tDBServer::RegisterFields";
constexpr const char* kUnregisterRoutine = "tDBServer::Unregister";

}  // namespace

void tDBConnection::BuildFieldInsert(tString& sql, const char* table, const tField& field) {
    sql = "INSERT INTO ";
    sql += OrEmpty(GetOwner());
    sql += "GML_FIELD(FIELD_TABLE,FIELD_NAME,FIELD_TYPE,FIELD_PREC,FIELD_DEC) VALUES(";
    tString qualified(OrEmpty(GetSchema()));
    qualified += table;
    AppendLiteral(sql, qualified);
    sql += ",";
    AppendLiteral(sql, field.GetName());
    sql += ",";
    const char type[2] = {static_cast<char>(field.GetType() == 'N' ? 'P' : field.GetType()), 0};
    AppendLiteral(sql, type);
    sql += ",";
    AppendLiteral(sql, IntToString(field.GetLen()));
    sql += ",";
    AppendLiteral(sql, UIntToStr(field.GetDecimals()));
    sql += ")";
}

bool tDBConnection::RegisterFields(const tTableDefinition& def) {
    std::vector<tString> inserts;
    for (i32 i = 0; i < def.GetFieldCount(); ++i) {
        const tField& field = *def.GetField(i);
        if (!IsRegistered(field)) continue;
        tString sql;
        BuildFieldInsert(sql, def.GetName(), field);
        inserts.push_back(sql);
    }
    return RunInTransaction(*this, inserts, kRegisterRoutine);
}

bool tDBConnection::UnregisterFields(const char* table) {
    tString sql("DELETE FROM ");
    sql += OrEmpty(GetOwner());
    sql += "GML_FIELD WHERE FIELD_TABLE =";
    tString qualified(OrEmpty(GetSchema()));
    tString name(table);
    name.Upper();
    qualified += name;
    AppendLiteral(sql, qualified);
    return RunInTransaction(*this, {sql}, kUnregisterRoutine);
}

bool tDBConnection::DropTable(const char* table, const char* routine) {
    tString sql("DROP TABLE ");
    sql += OrEmpty(GetOwner());
    sql += table;
    std::unique_ptr<tStatement> stmt(NewStatement());
    return stmt->ExecDirect(sql, routine, 1);
}
