// CloudScape connection and catalogue: the schema prefix and id, table and index existence,
// columns and indexes described from the sys. tables, the DDL texts, the highest record number,
// the duplicate-key tests and query files.
#include <strings.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

#include "lib_base/printer.h"
#include "lib_common/sqltext.h"
#include "server/drivers/cloudscape.h"
#include "server/tables/dbtable.h"

namespace {

constexpr tColumnTexts kColumnTexts = {" VARCHAR(",
                                       ") NOT NULL DEFAULT '",
                                       252,
                                       " FLOAT NOT NULL DEFAULT 0.0",
                                       " VARCHAR(1) NOT NULL DEFAULT 'F'",
                                       " LONG VARCHAR",
                                       " INTEGER NOT NULL DEFAULT 0"};

bool StartsWith(const char* text, const char* prefix) {
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

// The number between the first "(" of the data type and the first ")" after it; 0 without one.
i16 TypeLength(const char* dataType) {
    const char* open = std::strchr(dataType, '(');
    if (!open) return 0;
    const long n = std::strtol(open + 1, nullptr, 10);
    return n > 0 && n <= 32766 ? static_cast<i16>(n) : 0;
}

bool IsDataColumn(const tString& name) { return name != kRecnoColumn && name != kRecDelColumn; }

}  // namespace

tCloudScapeConnection::tCloudScapeConnection(const char* dbType, const tString& alias,
                                             const tString& user, const tString& password)
    : tODBCConnection(dbType, alias, user, password), schemaPrefix(user) {
    schemaPrefix.Upper();
    schemaPrefix += ".";
    if (schemaPrefix == ".") schemaPrefix = "ADMIN.";
}

tCloudScapeConnection::tCloudScapeConnection(const char* dbType, const tString& alias,
                                             const tString& user, const tString& password,
                                             tODBCLibrary& library)
    : tODBCConnection(dbType, alias, user, password, library), schemaPrefix(user) {
    schemaPrefix.Upper();
    schemaPrefix += ".";
    if (schemaPrefix == ".") schemaPrefix = "ADMIN.";
}

std::unique_ptr<tODBCStatement> tCloudScapeConnection::Statement() {
    return std::make_unique<tCloudScapeStmt>(this);
}

tStatement* tCloudScapeConnection::NewStatement() { return Statement().release(); }

bool tCloudScapeConnection::Run(const char* sql, const char* routine) {
    return Statement()->ExecDirect(sql, routine, 1);
}

const char* tCloudScapeConnection::GetOwner() { return schemaPrefix.GetText(); }
bool tCloudScapeConnection::SPExist(const char*) { return false; }
bool tCloudScapeConnection::IsMemoAsBlob() { return false; }
bool tCloudScapeConnection::IsDuplicateKey(i32 native) { return native == -1; }
bool tCloudScapeConnection::IsRecnoKeyError(const tTableDefinition&) {
    return lastError.Find("for key 1") >= 0;
}
void tCloudScapeConnection::ListTables(tString& sql) {
    sql = "select tablename from sys.systables";
}

bool tCloudScapeConnection::AddPrimaryKey(tString& sql, const char* table) {
    sql = "ALTER TABLE ";
    sql += table;
    sql += " ADD PRIMARY KEY (R_E_C_N_O_)";
    return true;
}

void tCloudScapeConnection::GetRecnoIndex(const char* table, tString& sql) {
    AddPrimaryKey(sql, table);
}

void tCloudScapeConnection::DropIndex(tString& sql, const char* table, const char* index) {
    sql = "DROP INDEX ";
    sql += index;
    sql += " ON ";
    sql += table;
}

const tString& tCloudScapeConnection::GetSchemaID() {
    if (schemaId.GetLength() > 0) return schemaId;
    tString schema(schemaPrefix);
    schema.Delete(schema.GetLength() - 1);  // without the "."
    tString sql("select schemaid  from sys.sysschemas  where schemaname = ");
    AppendQuoted(sql, schema);
    std::unique_ptr<tODBCStatement> stmt = Statement();
    if (stmt->ExecDirect(sql, "tCloudScapeConnection::GetSchemaID", 0) && stmt->Fetch()) {
        stmt->FieldAsString(schemaId, 0);
    }
    return schemaId;
}

bool tCloudScapeConnection::CanOpen(const char* table, const char* index) {
    if (index && *index) return HasIndex(table, index);
    tString sql("select tableid   from sys.systables   where tablename = ");
    AppendQuoted(sql, table);
    sql += " and schemaid = ";
    AppendQuoted(sql, GetSchemaID());
    std::unique_ptr<tODBCStatement> stmt = Statement();
    return stmt->ExecDirect(sql, "tCloudScapeConnection::CanOpen", 0) && stmt->Fetch();
}

bool tCloudScapeConnection::HasIndex(const char* table, const char* index) {
    tString sql(
        "select conglomeratename   from sys.sysconglomerates c, sys.systables t  where "
        "c.tableid = t.tableid   and c.schemaid = ");
    AppendQuoted(sql, GetSchemaID());
    sql += " and t.tablename = ";
    AppendQuoted(sql, table);
    sql += " and isindex = 1";
    std::unique_ptr<tODBCStatement> stmt = Statement();
    if (!stmt->ExecDirect(sql, "tCloudScapeConnection::CanOpen", 0)) return false;
    tString name;
    while (stmt->Fetch()) {
        if (strcasecmp(stmt->FieldAsString(name, 0).GetText(), index) == 0) return true;
    }
    return false;
}

void tCloudScapeConnection::CreateTable(const tTableDefinition& def, tString& sql) {
    sql = "CREATE TABLE ";
    sql += schemaPrefix;
    sql += def.GetName();
    sql += "(";
    for (i32 i = 0; i < def.GetFieldCount(); ++i) {
        if (i > 0) sql += ",";
        AppendNewColumn(sql, *def.GetField(i), kColumnTexts);
    }
    sql += ")";
}

bool tCloudScapeConnection::CreateGMLParam() {
    return CreateParamTable(*this, "tCloudScapeConnection::CreateGMLParam");
}

f64 tCloudScapeConnection::GetRecCount(const char* table) {
    if (!IsSqlIdentifier(table)) return -1.0;
    tString sql("SELECT MAX(R_E_C_N_O_) FROM ");
    sql += schemaPrefix;
    sql += table;
    std::unique_ptr<tODBCStatement> stmt = Statement();
    if (stmt->ExecDirect(sql, "tCloudScapeConnection::GetRecCount", 1) && stmt->Fetch()) {
        return stmt->FieldAsDouble(0);
    }
    return -1.0;
}

bool tCloudScapeConnection::ClearTable(const char* table) {
    if (!IsSqlIdentifier(table)) return false;
    tString sql("DELETE FROM ");
    sql += schemaPrefix;
    sql += table;
    return Run(sql, "tCloudScapeConnection::ClearTable");
}

tQueryFile* tCloudScapeConnection::GetQueryFile(tCommBuffer& reply, u32 lockOwner, tString& query) {
    return NewQueryFile(reply, lockOwner, query, "tCloudScapeConnection::GetQueryFile",
                        Statement());
}

bool tCloudScapeConnection::DescribeTable(tTableDefinition& def) {
    tString sql(
        "SELECT C.COLUMNNAME, C.COLUMNDATATYPE  FROM SYS.SYSCOLUMNS C, sys.systables T  WHERE "
        "referenceid = tableid  AND t.tablename = ");
    AppendQuoted(sql, def.GetName());
    sql += " and t.schemaid = ";
    AppendQuoted(sql, GetSchemaID());
    sql += " ORDER BY C.COLUMNNUMBER";
    std::unique_ptr<tODBCStatement> stmt = Statement();
    if (!stmt->ExecDirect(sql, "tCloudScapeConnection::DescribeTable", 1)) return false;
    tString name;
    tString dataType;
    while (stmt->Fetch()) {
        stmt->FieldAsString(name, 0);
        stmt->FieldAsString(dataType, 1);
        AddDescribedColumn(def, name, dataType);
    }
    return true;
}

void tCloudScapeConnection::AddDescribedColumn(tTableDefinition& def, const char* columnName,
                                               const char* dataType) {
    tString name(columnName);
    name.Upper();
    const bool isData = IsDataColumn(name);
    const i16 length = TypeLength(dataType);
    if (StartsWith(dataType, "LONG VARCHAR")) {
        def.AddField(name, 'M', 10, 0, isData, true);
    } else if ((StartsWith(dataType, "VARCHAR") || StartsWith(dataType, "CHAR")) && length > 0) {
        def.AddField(name, 'C', length, 0, isData, true);
    } else if (StartsWith(dataType, "DOUBLE") || StartsWith(dataType, "INT") ||
               StartsWith(dataType, "SMALLINT")) {
        def.AddField(name, 'N', 15, 6, isData, true);
    } else {
        BasePrintf(
            "[WARNING] (tCloudScapeConnection::DescribeTable) Table [%s] unsupported field [%s] "
            "type [%s].\n",
            def.GetName(), name.GetText(), dataType);
        def.AddField(name, 'X', 0, 0, false, true);
    }
}

bool tCloudScapeConnection::DescribeIndexes(tTableDefinition& def) {
    tString sql(
        "SELECT CONGLOMERATENAME, DESCRIPTOR  FROM SYS.SYSCONGLOMERATES C, SYS.SYSTABLES T  WHERE "
        "C.TABLEID = T.TABLEID  AND C.SCHEMAID = ");
    AppendQuoted(sql, GetSchemaID());
    sql += " AND T.TABLENAME = ";
    AppendQuoted(sql, def.GetName());
    sql += " AND ISINDEX = 1";
    std::unique_ptr<tODBCStatement> stmt = Statement();
    const bool described = stmt->ExecDirect(sql, "tCloudScapeConnection::Indexes", 1);
    bool recnoKeySeen = false;
    tString name;
    tString descriptor;
    while (described && stmt->Fetch()) {
        stmt->FieldAsString(name, 0);
        name.Upper();
        stmt->FieldAsString(descriptor, 1);
        recnoKeySeen = AddIndexFromDescriptor(def, name, descriptor) || recnoKeySeen;
    }
    if (!recnoKeySeen) {
        GetRecnoIndex(def.GetName(), sql);
        Run(sql, "tCloudScapeConnection::DescribeIndexes");  // the outcome is not looked at
    }
    return described;
}

// The key is the list of 1-based column numbers in the descriptor's parentheses. True when it
// is the record-number key. A descriptor without the list, or with a number that names no
// column of the definition, leaves the index out.
bool tCloudScapeConnection::AddIndexFromDescriptor(tTableDefinition& def, const tString& name,
                                                   const char* descriptor) {
    const char* open = std::strchr(descriptor, '(');
    const char* close = open ? std::strchr(open, ')') : nullptr;
    auto index = std::make_unique<tIndexDefinition>(name, false);
    bool usable = close != nullptr;
    for (const char* p = open ? open + 1 : close; usable && p < close;) {
        char* end = nullptr;
        const long n = std::strtol(p, &end, 10);
        while (*end == ' ') ++end;
        if (end == p || (*end != ',' && end != close) || n < 1 || n > def.GetFieldCount()) {
            usable = false;
            break;
        }
        const char* column = def.GetField(static_cast<i32>(n - 1))->GetName();
        if (strcasecmp(column, kDeletedColumn) != 0) index->AddField(FindFieldNo(def, column));
        p = end + 1;
    }
    if (!usable) {
        BasePrintf(
            "[WARNING] (tCloudScapeConnection::DescribeIndexes) Table [%s] index [%s] skipped: "
            "descriptor [%s] names no field.\n",
            def.GetName(), name.GetText(), descriptor);
        return false;
    }
    return CloseDescribedIndex(def, std::move(index));
}

bool CreateParamTable(tODBCConnection& conn, const char* routine) {
    std::unique_ptr<tStatement> stmt(conn.NewStatement());
    return stmt->ExecDirect(
               "create table GML_PARAM(PARAM_NAME char(50) not null,PARAM_SESSION int not null, "
               "PARAM_VALUE char(50) not null)",
               routine, 1) &&
           stmt->ExecDirect("create index GML_PARAM1 on GML_PARAM( PARAM_SESSION, PARAM_NAME )",
                            routine, 1);
}

void AppendNewColumn(tString& sql, const tField& field, const tColumnTexts& texts) {
    sql += field.GetName();
    AppendColumnType(sql, field.GetType(), field.GetLen(), texts);
}

void AppendColumnType(tString& sql, u8 letter, i32 length, const tColumnTexts& texts) {
    const u32 width = length > 0 ? static_cast<u32>(length) : 0;
    switch (letter) {
        case 'A':
        case 'C':
        case 'D':
            sql += texts.text;
            sql += UIntToStr(width);
            sql += texts.textDefault;
            sql += DefaultBlanks(width < texts.maxBlanks ? width : texts.maxBlanks);
            sql += texts.textEnd;
            break;
        case 'B':
        case 'F':
        case 'N':
        case 'P':
        case 'Z':
            sql += texts.number;
            break;
        case 'L':
            sql += texts.logical;
            break;
        case 'M':
            sql += texts.memo;
            break;
        case 'R':
            sql += texts.recno;
            break;
        default:
            break;  // the name stands alone
    }
}
