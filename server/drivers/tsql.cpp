// The Transact-SQL connections' common part: main and child construction, the pool of children,
// query files on a child, and the DDL texts that SQL Server and Sybase write alike.
#include "server/drivers/tsql.h"

#include <cctype>
#include <memory>
#include <utility>

#include "lib_common/configcache.h"
#include "lib_common/retcodes.h"
#include "lib_common/sqltext.h"
#include "server/drivers/ddl_shared.h"
#include "server/isam/dbprocess.h"
#include "server/isam/gatemill_query.h"
#include "server/tables/dbtable.h"

namespace {

// How much of the client's query an error text repeats.
constexpr i32 kQuotedQueryLimit = 65536;

// The syscolumns type codes that the servers' columns map from.
constexpr int kTypeImage = 34;
constexpr int kTypeText = 35;
constexpr int kTypeVarbinary = 37;
constexpr int kTypeVarchar = 39;
constexpr int kTypeTinyint = 48;
constexpr int kTypeSmallint = 52;
constexpr int kTypeInt = 56;
constexpr int kTypeFloat = 62;

// The query's result columns as the fields of a private definition: character columns at their
// length, numbers as N 15,8; other columns are left out.
std::unique_ptr<tTableDefinitionExclusive> ResultDefinition(tStatement& stmt,
                                                            const tString& alias) {
    auto def = std::make_unique<tTableDefinitionExclusive>("", alias);
    const i16 count = stmt.GetColumnCount();
    def->SetFieldCapacity(count);
    const tColumnDesc* columns = stmt.GetColumns();
    for (i16 c = 0; c < count; ++c) {
        const tColumnDesc& d = columns[c];
        if (d.type == 'C') {
            def->AddField(d.name, 'C', static_cast<i16>(d.bufferLength - 1), 0, true, true);
        } else if (d.type == 'N') {
            def->AddField(d.name, 'N', 15, 8, true, true);
        }
    }
    return def;
}

}  // namespace

bool ReadLeadingNumber(const char* text, i16& number) {
    if (!text || !std::isdigit(static_cast<unsigned char>(*text))) return false;
    i32 value = 0;
    for (const char* p = text; std::isdigit(static_cast<unsigned char>(*p)) && value < 10000; ++p) {
        value = value * 10 + (*p - '0');
    }
    number = static_cast<i16>(value < 10000 ? value : 9999);
    return true;
}

tTSQLConnection::tTSQLConnection(const char* dbType, const tString& alias, const tString& user,
                                 const tString& password, tODBCLibrary& library)
    : tODBCConnection(dbType, alias, user, password, library),
      library(library),
      ownPool(new tConnectionPool),
      pool(ownPool.get()) {}

tTSQLConnection::tTSQLConnection(const char* dbType, const tTSQLConnection& parent)
    : tODBCConnection(dbType, parent.alias, parent.user, parent.password, parent.library),
      library(parent.library),
      pool(parent.pool) {}

tTSQLConnection::~tTSQLConnection() = default;

std::unique_ptr<tODBCStatement> tTSQLConnection::Statement() {
    return std::unique_ptr<tODBCStatement>(new tODBCStatement(this));
}

const char* tTSQLConnection::GetOwner() { return "dbo."; }

bool tTSQLConnection::AddPrimaryKey(tString& sql, const char* table) {
    sql = "ALTER TABLE dbo.";
    sql += table;
    sql += " ADD CONSTRAINT ";
    sql += table;
    sql += "_PK PRIMARY KEY CLUSTERED (R_E_C_N_O_)";
    return true;
}

void tTSQLConnection::GetRecnoIndex(const char* table, tString& sql) { AddPrimaryKey(sql, table); }

void tTSQLConnection::DropIndex(tString& sql, const char* table, const char* index) {
    sql = "DROP INDEX ";
    sql += table;
    sql += ".";
    sql += index;
}

void tTSQLConnection::IndexSpaceClause(tString& sql, u8) {
    tString space;
    DBProcess().GetConfig().GetStringEx(GetDBType(), alias, "IndexSpace", "", space);
    if (space.GetLength() == 0) return;
    sql += " ON [";
    sql += space;
    sql += "]";
}

void tTSQLConnection::ColumnType(tString& out, u8 letter, i32 length, const char* memoType) {
    AppendTypeName(out, letter, length, {"VARCHAR", "FLOAT", "INT", memoType});
}

void tTSQLConnection::AppendTableSpace(tString& sql) {
    tString tableSpace;
    DBProcess().GetConfig().GetStringEx(GetDBType(), alias, "TableSpace", "", tableSpace);
    if (tableSpace.GetLength() == 0) return;
    sql += " ON ";
    sql += tableSpace;
}

tTSQLConnection::tColumnMap tTSQLConnection::MapColumnType(int type, f64 length, bool longText) {
    switch (type) {
        case kTypeImage:
        case kTypeVarbinary:
            return {'M', 10, 0};
        case kTypeText:
            return longText ? tColumnMap{'M', 11, 0} : tColumnMap{'X', 0, 0};
        case kTypeVarchar:
            if (longText && length == -1.0) return {'M', 11, 0};  // varchar(max)
            return {'C', static_cast<i16>(length), 0};
        case kTypeTinyint:
        case kTypeSmallint:
        case kTypeInt:
        case kTypeFloat:
            return {'N', 15, 6};
        default:
            return {'X', 0, 0};
    }
}

bool tTSQLConnection::SendRowCount(i16 rows, const char* routine) {
    if (rows == rowLimit) return true;
    rowLimit = rows;
    tString sql("SET ROWCOUNT ");
    sql += IntToString(rows);
    return Statement()->ExecDirect(sql, routine, 1);
}

bool tTSQLConnection::CreateParamTable(const char* indexSql, const char* routine) {
    std::unique_ptr<tODBCStatement> stmt = Statement();
    return stmt->ExecDirect(
               "create table GML_PARAM(PARAM_NAME VarChar(50) not null,PARAM_SESSION Smallint not "
               "null, PARAM_VALUE VarChar(50) not null)",
               routine, 1) &&
           stmt->ExecDirect(indexSql, routine, 1);
}

void tTSQLConnection::DefaultClause(tString& out, u8 letter, i32 length) {
    switch (ColumnClassOf(letter)) {
        case tColumnClass::Text:
            out += " DEFAULT '";
            for (i32 i = 0; i < length; ++i) out += ' ';
            out += "'";
            break;
        case tColumnClass::Logical:
            out += " DEFAULT 'F'";
            break;
        case tColumnClass::Float:
        case tColumnClass::Integer:
            out += " DEFAULT 0";
            break;
        case tColumnClass::Memo:
        case tColumnClass::None:
            break;
    }
}

std::unique_ptr<tTSQLConnection> tTSQLConnection::TakeChild() {
    {
        tWriting hold(pool, __FILE__, __LINE__);
        if (pool->Count() > 0) {
            std::unique_ptr<tTSQLConnection> idle(static_cast<tTSQLConnection*>(pool->Get(0)));
            pool->Delete(0);
            return idle;
        }
    }
    std::unique_ptr<tTSQLConnection> child(NewChild());
    child->SetDBServer(GetDBServer());
    if (!child->Connect()) return nullptr;
    return child;
}

void tTSQLConnection::AddBusyChild(tTSQLConnection* child) {
    tWriting hold(this, __FILE__, __LINE__);
    Add(child);
}

void tTSQLConnection::ReleaseChild(tDBConnection* child) {
    if (!child) return;
    {
        tWriting hold(this, __FILE__, __LINE__);
        Remove(child);
    }
    tWriting hold(pool, __FILE__, __LINE__);
    pool->Add(child);
}

tQueryFile* tTSQLConnection::QueryOnChild(tCommBuffer& reply, u32 lockOwner, tString& query,
                                          const char* routine) {
    bool pooled = false;
    {
        tWriting hold(pool, __FILE__, __LINE__);
        pooled = pool->Count() > 0;
    }
    std::unique_ptr<tTSQLConnection> child = TakeChild();
    // A pooled child whose session ended is deleted here: neither kept nor leaked.
    if (!child || !child->IsConnected()) return nullptr;
    child->SetRowCount(0);  // a query reads every row; sends nothing while the limit is 0
    std::unique_ptr<tODBCStatement> stmt = child->Statement();
    const bool ran = stmt->ExecDirect(query, routine, 1);
    if (ran && stmt->GetColumnCount() > 0) {
        std::unique_ptr<tTableDefinitionExclusive> def = ResultDefinition(*stmt, alias);
        tTSQLConnection* served = child.get();
        AddBusyChild(child.release());
        return new tQueryFile(served, std::move(def), reply, lockOwner, std::move(stmt), query);
    }
    stmt.reset();
    if (ran) {
        tString text("Query does not return any supported column.\nQuery : ");
        text.Append(query, kQuotedQueryLimit);
        text += "\n";
        SetError(RC_FAILED, routine, text, nullptr);
    } else {
        lastError = child->lastError;
        lastErrorCode = child->lastErrorCode;
    }
    if (pooled) {
        tWriting hold(pool, __FILE__, __LINE__);
        pool->Add(child.release());
    }
    return nullptr;
}

bool tTSQLConnection::CheckAlterNames(const char* table, tArray<tActionField>& actions,
                                      const char* routine) {
    tString problem;
    if (!IsSqlIdentifier(table)) {
        problem.sprintf("Table [%s] Error - Invalid Table Name.\n", OrEmpty(table));
    }
    for (i32 i = 0; i < actions.Count() && problem.GetLength() == 0; ++i) {
        if (!IsSqlIdentifier(actions.Get(i)->name)) {
            problem.sprintf("Table [%s] Error - Invalid Field Name [%s].\n", table,
                            actions.Get(i)->name.GetText());
        }
    }
    if (problem.GetLength() == 0) return true;
    SetError(RC_FAILED, routine, problem, nullptr);
    return false;
}

bool tTSQLConnection::CloseIndex(tTableDefinition& def, std::unique_ptr<tIndexDefinition> index) {
    const i32 count = index->GetFieldCount();
    if (count == 1 && index->GetField(0) == def.GetRecnoField()) return false;
    if (count > 0) def.AddIndex(std::move(index));
    return true;
}
