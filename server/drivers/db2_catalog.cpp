// DB2 tables described from SYSCAT: the columns by their type names, the indexes with their key
// columns, and the record-number index, whose IID the definition keeps.
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "lib_base/printer.h"
#include "lib_common/sqltext.h"
#include "server/drivers/cloudscape.h"
#include "server/drivers/db2.h"
#include "server/tables/dbtable.h"

namespace {

// From this version on the key columns are read from SYSCAT.INDEXCOLUSE.
constexpr f64 kIndexColUseVersion = 9.01;

bool StartsWith(const char* text, const char* prefix) {
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

bool IsDataColumn(const tString& name) { return name != kRecnoColumn && name != kRecDelColumn; }

}  // namespace

bool tDB2Connection::DescribeTable(tTableDefinition& def) {
    const char* routine = "tDB2Connection::DescribeTable";
    tString where(" FROM SYSCAT.COLUMNS WHERE (TABSCHEMA = ");
    AppendUser(where);
    where += " AND TABNAME = ";
    AppendQuoted(where, def.GetName());
    where += ")";
    tString sql("SELECT COUNT(COLNAME)");
    sql += where;
    std::unique_ptr<tODBCStatement> count = Statement();
    if (!CatalogueRow(*count, sql, routine, 1) || count->FieldAsDouble(0) == 0.0) return false;
    count.reset();
    sql = "SELECT COLNAME,TYPENAME,LENGTH";
    sql += where;
    sql += " ORDER BY COLNO FOR READ ONLY";
    sql.Upper();
    std::unique_ptr<tODBCStatement> stmt = Statement();
    if (!stmt->ExecDirect(sql, routine, 1)) return false;
    tString name;
    tString type;
    while (stmt->Fetch()) {
        stmt->FieldAsString(name, 0);
        stmt->FieldAsString(type, 1);
        AddDescribedColumn(def, name, type, stmt->FieldAsDouble(2));
    }
    return true;
}

void tDB2Connection::AddDescribedColumn(tTableDefinition& def, const tString& name,
                                        const tString& type, f64 length) {
    const bool isData = IsDataColumn(name);
    if (StartsWith(type, "VARCHAR")) {
        def.AddField(name, 'C', static_cast<i16>(length), 0, isData, true);
    } else if (StartsWith(type, "LONG VARCHAR") || StartsWith(type, "BLOB")) {
        def.AddField(name, 'M', 10, 0, isData, true);
    } else if (StartsWith(type, "CLOB")) {
        def.AddField(name, 'M', 11, 0, isData, true);
    } else if (StartsWith(type, "DOUBLE") || StartsWith(type, "INTEGER")) {
        def.AddField(name, 'N', 15, 6, isData, true);
    } else {
        BasePrintf(
            "[WARNING] (tDB2Connection::DescribeTable) Table [%s] unsupported field [%s] type "
            "[%s].\n",
            def.GetName(), name.GetText(), type.GetText());
        def.AddField(name, 'X', 0, 0, false, true);
    }
}

bool tDB2Connection::DescribeIndexes(tTableDefinition& def) {
    tString where(" FROM SYSCAT.INDEXES WHERE TABNAME = ");
    AppendQuoted(where, def.GetName());
    where += " AND TABSCHEMA = ";
    AppendUser(where);
    where += " FOR READ ONLY";
    tString sql("SELECT COUNT(DISTINCT INDNAME)");
    sql += where;
    std::unique_ptr<tODBCStatement> count = Statement();
    const bool described = CatalogueRow(*count, sql, "tDB2Connection::Indexes", 1);
    const bool any = described && count->FieldAsDouble(0) != 0.0;
    count.reset();
    bool recnoIndexSeen = false;
    if (any) {
        const bool colNames = version < kIndexColUseVersion;
        sql = "SELECT INDNAME,IID,REVERSE_SCANS";
        if (colNames) sql += ",COLNAMES";
        sql += where;
        sql.Upper();
        std::unique_ptr<tODBCStatement> stmt = Statement();
        const bool ran = stmt->ExecDirect(sql, "tDB2Connection::DescribeIndexes", 1);
        tString name;
        tString reverse;
        tString columns;
        while (ran && stmt->Fetch()) {
            stmt->FieldAsString(name, 0);
            const i32 iid = static_cast<i32>(stmt->FieldAsDouble(1));
            stmt->FieldAsString(reverse, 2);
            columns = "";
            if (colNames) {
                stmt->FieldAsString(columns, 3);
                if (columns.GetLength() > 0) columns.Delete(0, 1);  // the leading "+"
            } else {
                GetIndexCols(columns, name);
            }
            recnoIndexSeen =
                AddDescribedIndex(def, name, columns, reverse == "Y", iid) || recnoIndexSeen;
        }
    }
    if (!recnoIndexSeen) {
        GetRecnoIndex(def.GetName(), sql);
        Run(sql, "tDB2Connection::DescribeIndexes");
    }
    return described;
}

// The key is the columns text split on "+". A part that names no field of the definition (a
// descending "-COL" part, a column the definition lacks) leaves the index out.
bool tDB2Connection::AddDescribedIndex(tTableDefinition& def, const tString& name,
                                       const tString& columns, bool reverseScans, i32 iid) {
    auto index = std::make_unique<tIndexDefinition>(name, reverseScans);
    const std::string text(columns.GetText());
    bool usable = true;
    bool anyPart = false;
    for (size_t at = 0; usable && at <= text.size();) {
        size_t end = text.find('+', at);
        if (end == std::string::npos) end = text.size();
        const std::string part = text.substr(at, end - at);
        at = end + 1;
        if (part.empty()) continue;
        anyPart = true;
        if (part == kDeletedColumn) continue;
        const i16 fieldNo = FindFieldNo(def, part.c_str());
        if (fieldNo < 0) {
            usable = false;
        } else {
            index->AddField(fieldNo);
        }
    }
    if (!usable || !anyPart) {
        BasePrintf(
            "[WARNING] (tDB2Connection::DescribeIndexes) Table [%s] index [%s] skipped: key [%s] "
            "names no field.\n",
            def.GetName(), name.GetText(), columns.GetText());
        return false;
    }
    if (!CloseDescribedIndex(def, std::move(index))) return false;
    def.SetRecnoIndexID(static_cast<i16>(iid));
    return true;
}

bool tDB2Connection::GetIndexCols(tString& columns, const char* index) {
    tString sql("SELECT COLNAME FROM SYSCAT.INDEXCOLUSE  WHERE INDSCHEMA = ");
    AppendUser(sql);
    sql += " AND INDNAME = ";
    AppendQuoted(sql, index);
    sql += " ORDER BY COLSEQ FOR READ ONLY";
    sql.Upper();
    std::unique_ptr<tODBCStatement> stmt = Statement();
    if (stmt->ExecDirect(sql, "tDB2Connection::GetIndexCols", 1)) {
        tString column;
        while (stmt->Fetch()) {
            if (columns.GetLength() > 0) columns += "+";
            columns += stmt->FieldAsString(column, 0);
        }
    }
    stmt->Close();
    return columns.GetLength() > 0;
}
