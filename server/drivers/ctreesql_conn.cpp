// c-treeSQL connection and catalogue: table and index existence, columns and indexes described
// from syscolumns and sysindexes, the DDL texts, the highest record number, the duplicate-key
// tests and query files; its statement and table file.
#include <strings.h>

#include <cstring>
#include <memory>
#include <utility>

#include "lib_base/printer.h"
#include "lib_common/sqltext.h"
#include "server/drivers/ctreesql.h"
#include "server/tables/dbtable.h"

namespace {

constexpr tColumnTexts kColumnTexts = {" varchar(",
                                       ") not null default '",
                                       245,
                                       " float not null default 0.0",
                                       " varchar(1) not null default 'F'",
                                       " lvarchar",
                                       " int not null default 0.0"};

bool StartsWith(const char* text, const char* prefix) {
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

bool IsDataColumn(const tString& name) { return name != kRecnoColumn && name != kRecDelColumn; }

}  // namespace

tCTreeSQLConnection::tCTreeSQLConnection(const char* dbType, const tString& alias,
                                         const tString& user, const tString& password)
    : tODBCConnection(dbType, alias, user, password) {}

tCTreeSQLConnection::tCTreeSQLConnection(const char* dbType, const tString& alias,
                                         const tString& user, const tString& password,
                                         tODBCLibrary& library)
    : tODBCConnection(dbType, alias, user, password, library) {}

tCTreeSQLStmt::tCTreeSQLStmt(tODBCConnection* connection)
    : tCloudScapeStmt(connection, "tCTreeSQLStmt::ExecParam", "tCTreeSQLStmt::GetData") {}

tCTreeSQLISAMFile::tCTreeSQLISAMFile(tDBConnection* connection,
                                     std::shared_ptr<tTableDefinitionShared> def,
                                     tCommBuffer& reply, u32 lockOwner)
    : tCloudScapeISAMFile(connection, std::move(def), reply, lockOwner, " CHR(") {}

tGenericFile* tCTreeSQLConnection::NewISAMFile(tCommBuffer& reply,
                                               const std::shared_ptr<tTableDefinitionShared>& def,
                                               u32 lockOwner) {
    return new tCTreeSQLISAMFile(this, def, reply, lockOwner);
}

std::unique_ptr<tODBCStatement> tCTreeSQLConnection::Statement() {
    return std::make_unique<tCTreeSQLStmt>(this);
}

tStatement* tCTreeSQLConnection::NewStatement() { return Statement().release(); }

bool tCTreeSQLConnection::Run(const char* sql, const char* routine) {
    return Statement()->ExecDirect(sql, routine, 1);
}

const char* tCTreeSQLConnection::GetOwner() { return ""; }
bool tCTreeSQLConnection::SPExist(const char*) { return false; }
bool tCTreeSQLConnection::IsMemoAsBlob() { return false; }
bool tCTreeSQLConnection::IsDuplicateKey(i32 native) { return native == -17002; }
bool tCTreeSQLConnection::IsRecnoKeyError(const tTableDefinition&) {
    return lastError.Find("Key value already exists") >= 0;
}
void tCTreeSQLConnection::ListTables(tString& sql) { sql = "select tbl from systables"; }

bool tCTreeSQLConnection::AddPrimaryKey(tString& sql, const char* table) {
    sql = "ALTER TABLE ";
    sql += table;
    sql += " ADD PRIMARY KEY (R_E_C_N_O_)";
    sql.Lower();
    return true;
}

void tCTreeSQLConnection::GetRecnoIndex(const char* table, tString& sql) {
    AddPrimaryKey(sql, table);
}

void tCTreeSQLConnection::DropIndex(tString& sql, const char* table, const char* index) {
    sql = "DROP INDEX ";
    sql += index;
    sql += " ON ";
    sql += table;
    sql.Lower();
}

bool tCTreeSQLConnection::CanOpen(const char* table, const char* index) {
    if (index && *index) return HasIndex(table, index);
    tString sql("select tbl from systables where tbl = ");
    AppendQuoted(sql, table);
    sql.Lower();
    std::unique_ptr<tODBCStatement> stmt = Statement();
    return stmt->ExecDirect(sql, "tCTreeSQLConnection::CanOpen", 0) && stmt->Fetch();
}

bool tCTreeSQLConnection::HasIndex(const char* table, const char* index) {
    tString sql("select idxname from sysindexes where tbl = ");
    AppendQuoted(sql, table);
    sql += " and idxname = ";
    AppendQuoted(sql, index);
    sql.Lower();
    std::unique_ptr<tODBCStatement> stmt = Statement();
    if (!stmt->ExecDirect(sql, "tCTreeSQLConnection::CanOpen", 0)) return false;
    tString name;
    while (stmt->Fetch()) {
        if (strcasecmp(stmt->FieldAsString(name, 0).GetText(), index) == 0) return true;
    }
    return false;
}

void tCTreeSQLConnection::CreateTable(const tTableDefinition& def, tString& sql) {
    sql = "create table ";
    sql += def.GetName();
    sql += "(";
    for (i32 i = 0; i < def.GetFieldCount(); ++i) {
        if (i > 0) sql += ",";
        AppendNewColumn(sql, *def.GetField(i), kColumnTexts);
    }
    sql += ") ";
}

bool tCTreeSQLConnection::CreateGMLParam() {
    return CreateParamTable(*this, "tCTreeSQLConnection::CreateGMLParam");
}

f64 tCTreeSQLConnection::GetRecCount(const char* table) {
    if (!IsSqlIdentifier(table)) return -1.0;
    tString sql("select max(r_e_c_n_o_) recno from ");
    sql += table;
    std::unique_ptr<tODBCStatement> stmt = Statement();
    if (stmt->ExecDirect(sql, "tCTreeSQLConnection::GetRecCount", 1) && stmt->Fetch()) {
        return stmt->FieldAsDouble(0);
    }
    return -1.0;
}

bool tCTreeSQLConnection::ClearTable(const char* table) {
    if (!IsSqlIdentifier(table)) return false;
    tString sql("delete from ");
    sql += table;
    return Run(sql, "tCTreeSQLConnection::ClearTable");
}

tQueryFile* tCTreeSQLConnection::GetQueryFile(tCommBuffer& reply, u32 lockOwner, tString& query) {
    return NewQueryFile(reply, lockOwner, query, "tCTreeSQLConnection::GetQueryFile", Statement());
}

bool tCTreeSQLConnection::DescribeTable(tTableDefinition& def) {
    tString sql("select col, coltype, width from syscolumns where tbl = ");
    AppendQuoted(sql, def.GetName());
    sql.Lower();
    std::unique_ptr<tODBCStatement> stmt = Statement();
    if (!stmt->ExecDirect(sql, "tCTreeSQLConnection::DescribeTable", 1)) return false;
    tString name;
    tString dataType;
    while (stmt->Fetch()) {
        stmt->FieldAsString(name, 0);
        stmt->FieldAsString(dataType, 1);
        AddDescribedColumn(def, name, dataType, stmt->FieldAsDouble(2));
    }
    return true;
}

void tCTreeSQLConnection::AddDescribedColumn(tTableDefinition& def, const char* columnName,
                                             const char* dataType, f64 width) {
    tString name(columnName);
    name.Upper();
    const bool isData = IsDataColumn(name);
    const bool sized = width >= 1.0 && width <= 32766.0;
    if (StartsWith(dataType, "lvarchar")) {
        def.AddField(name, 'M', 10, 0, isData, true);
    } else if ((StartsWith(dataType, "varchar") || StartsWith(dataType, "char")) && sized) {
        def.AddField(name, 'C', static_cast<i16>(width), 0, isData, true);
    } else if (std::strcmp(dataType, "float") == 0 || StartsWith(dataType, "int") ||
               StartsWith(dataType, "smallint")) {
        def.AddField(name, 'N', 15, 6, isData, true);
    } else {
        BasePrintf(
            "[WARNING] (tCTreeSQLConnection::DescribeTable) Table [%s] unsupported field [%s] "
            "type [%s].\n",
            def.GetName(), name.GetText(), dataType);
        def.AddField(name, 'X', 0, 0, false, true);
    }
}

bool tCTreeSQLConnection::DescribeIndexes(tTableDefinition& def) {
    tString sql("select idxseq, id, idxname, tbl, colname from sysindexes where tbl = ");
    AppendQuoted(sql, def.GetName());
    sql += " order by idxname,idxseq";
    sql.Lower();
    std::unique_ptr<tODBCStatement> stmt = Statement();
    const bool described = stmt->ExecDirect(sql, "tCTreeSQLConnection::Indexes", 1);
    bool recnoKeySeen = false;
    std::unique_ptr<tIndexDefinition> index;
    bool usable = true;  // every key column is a field of the definition
    const auto close = [&] {
        if (index && usable)
            recnoKeySeen = CloseDescribedIndex(def, std::move(index)) || recnoKeySeen;
        index.reset();
        usable = true;
    };
    tString name;
    tString column;
    while (described && stmt->Fetch()) {
        stmt->FieldAsString(name, 2);
        name.Upper();
        stmt->FieldAsString(column, 4);
        column.Upper();
        if (!index || name != tString(index->GetName())) {
            close();
            index = std::make_unique<tIndexDefinition>(name, false);
        }
        if (column == kDeletedColumn) continue;
        const i16 fieldNo = FindFieldNo(def, column);
        if (fieldNo >= 0) {
            index->AddField(fieldNo);
        } else if (usable) {
            usable = false;
            BasePrintf(
                "[WARNING] (tCTreeSQLConnection::DescribeIndexes) Table [%s] index [%s] skipped: "
                "no field [%s].\n",
                def.GetName(), name.GetText(), column.GetText());
        }
    }
    close();
    if (!recnoKeySeen) {
        tString table(def.GetName());
        table.Lower();
        GetRecnoIndex(table, sql);
        Run(sql, "tCTreeSQLConnection::DescribeIndexes");  // the outcome is not looked at
    }
    return described;
}
