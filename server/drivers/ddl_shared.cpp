// DDL pieces that several dialects write alike.
#include "server/drivers/ddl_shared.h"

#include <utility>

#include "server/tables/dbtable.h"

tColumnClass ColumnClassOf(u8 letter) {
    switch (letter) {
        case 'A':
        case 'C':
        case 'D':
            return tColumnClass::Text;
        case 'L':
            return tColumnClass::Logical;
        case 'B':
        case 'F':
        case 'N':
        case 'P':
        case 'Z':
            return tColumnClass::Float;
        case 'R':
            return tColumnClass::Integer;
        case 'M':
            return tColumnClass::Memo;
        default:
            return tColumnClass::None;
    }
}

void AppendTypeName(tString& sql, u8 letter, i32 length, const tTypeNames& names) {
    switch (ColumnClassOf(letter)) {
        case tColumnClass::Text:
        case tColumnClass::Logical:
            sql += names.text;
            sql += "(";
            sql += IntToString(length);
            sql += ")";
            break;
        case tColumnClass::Float:
            sql += names.number;
            break;
        case tColumnClass::Integer:
            sql += names.integer;
            break;
        case tColumnClass::Memo:
            sql += names.memo;
            break;
        case tColumnClass::None:
            break;
    }
}

// The size given to tString counts the NUL.
tString DefaultBlanks(u32 count) { return tString(static_cast<i32>(count) + 1, ' '); }

bool CloseDescribedIndex(tTableDefinition& def, std::unique_ptr<tIndexDefinition> index) {
    if (index->GetFieldCount() == 1 && index->GetField(0) == def.GetRecnoField()) return true;
    if (index->GetFieldCount() > 0) def.AddIndex(std::move(index));
    return false;
}

void AppendBackupValue(tString& sql, const char* table, const tString& value) {
    sql += " = ( select ";
    sql += value;
    sql += " FROM ";
    sql += table;
    sql += "_BKP where ";
    sql += table;
    sql += "_BKP.R_E_C_N_O_ = ";
    sql += table;
    sql += ".R_E_C_N_O_)";
}
