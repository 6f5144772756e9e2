// Table definitions of a connection: loading one through the driver's catalogue answers, the
// field types that GML_FIELD corrects, the process's definition cache, the unique key
// <table>_UNQ, and the join descriptions queued for the next table file.
#include <strings.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>

#include "lib_base/toklist.h"
#include "lib_common/configcache.h"
#include "lib_common/logwriter.h"
#include "lib_common/retcodes.h"
#include "lib_common/sqltext.h"
#include "server/isam/dbconn.h"
#include "server/isam/dbprocess.h"
#include "server/isam/gatemill.h"
#include "server/isam/session.h"
#include "server/locks/lockengine.h"
#include "server/tables/dbtable.h"

namespace {

// A field's type as GML_FIELD sets it.
struct tFieldType {
    u8 type;
    i16 length;
    u16 decimals;
};

// FIELD_TABLE, FIELD_NAME, FIELD_TYPE, FIELD_PREC, FIELD_DEC.
constexpr i16 kFieldTableColumns = 5;

i16 ToLength(const char* text) {
    const long value = std::strtol(text, nullptr, 10);
    return static_cast<i16>(std::clamp<long>(value, 0, INT16_MAX));
}

// The environment part of a full name ("ENVIRONMENT|TABLE").
tString EnvironmentOf(const tTableDefinition& def) {
    const tString full(def.GetFullName());
    const i32 bar = full.ReverseFind('|');
    return bar > 0 ? full.Copy(0, bar) : tString();
}

// Rewrites def with the given field types; everything else stays. A field's type cannot change
// in place, so the layout is rebuilt and copied over.
void ApplyFieldTypes(tTableDefinition& def, const std::vector<tFieldType>& types) {
    tTableDefinitionExclusive rebuilt(def.GetName(), EnvironmentOf(def));
    rebuilt.SetFieldCapacity(def.GetFieldCount());
    for (i32 i = 0; i < def.GetFieldCount(); ++i) {
        const tField& field = *def.GetField(i);
        const tFieldType& t = types[static_cast<size_t>(i)];
        rebuilt.AddField(field.GetName(), t.type, t.length, t.decimals, field.IsData(), true);
    }
    for (i32 i = 0; i < def.GetIndexCount(); ++i) {
        const tIndexDefinition& index = *def.GetIndex(i);
        std::unique_ptr<tIndexDefinition> copy(
            new tIndexDefinition(index.GetName(), index.IsReverse()));
        for (i32 k = 0; k < index.GetFieldCount(); ++k) copy->AddField(index.GetField(k));
        rebuilt.AddIndex(std::move(copy));
    }
    rebuilt.SetAuditable(def.IsAuditable());
    rebuilt.SetAutoRecno(def.IsAutoRecno());
    rebuilt.SetRecnoIndexID(def.GetRecnoIndexID());
    def.CopyFrom(rebuilt);
}

bool IsNumericLetter(char c) { return c == 'B' || c == 'F' || c == 'N' || c == 'P' || c == 'Z'; }

// Sets t to the type that GML_FIELD gives the field, when the field's database type can hold
// it; otherwise appends the warning and answers false.
bool AdjustFieldType(const tTableDefinition& def, const tField& field, const char* type, i16 length,
                     i16 decimals, tFieldType& t, tString& warnings) {
    const char letter = type[0];
    const u8 current = field.GetType();
    tString line;
    bool fits = false;
    if (letter == 'L') {
        fits = current == 'C' && field.GetLen() == 1;
        if (fits) t = {'L', 1, 0};
    } else if (letter == 'M') {
        fits = current == 'M';
    } else if (letter == 'D') {
        if (current == 'C' && field.GetLen() == 8) {
            t = {'D', 8, 0};
            return true;
        }
        line.sprintf("[WARNING] Table %s GML_Field %s invalid conversion from [%c / %i] to [%s].\n",
                     def.GetName(), field.GetName(), current, field.GetLen(), type);
        warnings += line;
        return false;
    } else if (IsNumericLetter(letter)) {
        fits = current == 'N';
        if (fits) t = {'N', length, static_cast<u16>(decimals)};
    } else {
        line.sprintf("[WARNING] Table %s GML_Field %s invalid type [%s].\n", def.GetName(),
                     field.GetName(), type);
        warnings += line;
        return false;
    }
    if (fits) return true;
    line.sprintf("[WARNING] Table %s GML_Field %s invalid conversion from [%c] to [%s].\n",
                 def.GetName(), field.GetName(), current, type);
    warnings += line;
    return false;
}

}  // namespace

i16 FindFieldNo(const tTableDefinition& def, const char* name) {
    for (i32 i = 0; i < def.GetFieldCount(); ++i) {
        if (strcasecmp(def.GetField(i)->GetName(), name) == 0) return static_cast<i16>(i);
    }
    return -1;
}

std::unique_ptr<tTableDefinitionShared> tDBConnection::LoadTableDef(const char* table,
                                                                    const char* environment) {
    const char* failure = nullptr;
    std::unique_ptr<tTableDefinitionShared> def;
    if (!IsSqlIdentifier(table)) {
        failure = "Table [%s] Error - Invalid Table Name.\n";
    } else {
        def.reset(new tTableDefinitionShared(table, environment));
        failure = DescribeForLoad(*def, table, environment);
    }
    if (!failure) return def;
    tString message;
    message.sprintf(failure, OrEmpty(table));
    SetError(RC_FAILED, "tDBServer::OpenFile", message, nullptr);
    return nullptr;
}

// Fills def from the catalogue; null on success, else the failure's message format.
const char* tDBConnection::DescribeForLoad(tTableDefinitionShared& def, const char* table,
                                           const char* environment) {
    def.SetFieldCapacity(128);
    SetRowCount(0);
    if (!DescribeTable(def)) return "Table [%s] Error - Describe Structure Failed.\n";
    if (!DescribeIndexes(def)) return "Table [%s] Error - Describe Indexes Failed.\n";
    if (def.GetRecnoField() < 0) return "Table [%s] Error - R_E_C_N_O_ field NOT FOUND.\n";
    if (def.GetDeletedField() < 0) return "Table [%s] Error - D_E_L_E_T_ field NOT FOUND.\n";
    if (!AdjustFields(def)) return "Table [%s] Error - ADJUSTFIELDS FAILED.\n";
    PrepareTraceIndex(def);
    LoadVirtualIndex(def);
    const f64 count = GetRecCount(table);
    if (count < 0.0) return "Table [%s] Error - GETRECCOUNT FAILED.\n";
    // New record numbers follow the highest one in the table.
    if (tRecordLockEngine* engine = LockEngine()) {
        engine->SetRecCount(static_cast<i32>(def.GetLockBucket()), def.GetFullName(), count);
    }
    tConfigCache& config = DBProcess().GetConfig();
    bool auditable = config.GetBool("General", "AuditAll", 0);
    if (!auditable) {
        tString section("AUDIT/");
        section += environment;
        auditable = config.GetBool(section, table, 0);
    }
    def.SetAuditable(auditable);
    return nullptr;
}

std::shared_ptr<tTableDefinitionShared> tDBConnection::FindTableDef(const char* table,
                                                                    const char* environment) {
    return DBProcess().GetTableCache().Find(table, environment);
}

std::shared_ptr<tTableDefinitionShared> tDBConnection::GetTableDef(const char* table,
                                                                   const char* environment,
                                                                   bool load) {
    std::shared_ptr<tTableDefinitionShared> def = FindTableDef(table, environment);
    if (def || !load) return def;
    std::unique_ptr<tTableDefinitionShared> loaded = LoadTableDef(table, environment);
    if (!loaded) return nullptr;
    return AddTableDef(std::move(loaded), environment);
}

std::shared_ptr<tTableDefinitionShared> tDBConnection::AddTableDef(
    std::unique_ptr<tTableDefinitionShared> def, const char* environment) {
    return DBProcess().GetTableCache().Add(std::move(def), environment);
}

bool tDBConnection::RemoveTableDef(const char* table, const char* environment) {
    return DBProcess().GetTableCache().Remove(table, environment);
}

bool tDBConnection::UpdateTableDef(const tTableDefinition& def, const char* environment) {
    return DBProcess().GetTableCache().Update(def, environment);
}

bool tDBConnection::AdjustFields(tTableDefinition& def) {
    std::unique_ptr<tStatement> stmt(NewStatement());
    if (!stmt->ExecDirect(FieldTableQuery(def), "tDBConnection::AdjustFields", 1)) return false;
    std::vector<tFieldType> types;
    i32 numeric = 0;
    for (i32 i = 0; i < def.GetFieldCount(); ++i) {
        const tField& field = *def.GetField(i);
        types.push_back({field.GetType(), field.GetLen(), field.GetDecimals()});
        if (field.IsData() && field.GetType() == 'N') ++numeric;
    }
    i32 adjusted = 0;
    bool adjustedAny = false;
    bool fits = true;
    tString warnings;
    tString name, type, length, decimals;
    while (stmt->Fetch()) {
        if (stmt->GetColumnCount() < kFieldTableColumns) return false;  // not the table we made
        stmt->FieldAsString(name, 1);
        name.Trim();
        const i16 no = FindFieldNo(def, name);
        if (no < 0) continue;
        stmt->FieldAsString(type, 2);
        stmt->FieldAsString(length, 3);
        stmt->FieldAsString(decimals, 4);
        type.Trim();
        const tField& field = *def.GetField(no);
        tFieldType& t = types[static_cast<size_t>(no)];
        if (!AdjustFieldType(def, field, type, ToLength(length), ToLength(decimals), t, warnings)) {
            fits = false;
            continue;
        }
        adjustedAny = true;
        if (IsNumericLetter(type.At(0)) && field.IsData()) ++adjusted;
    }
    if (adjustedAny) ApplyFieldTypes(def, types);
    return SettleFieldWarnings(def, fits, numeric, adjusted, warnings);
}

// The GML_FIELD rows of the table, by the full name or, without system tables, by a pattern.
tString tDBConnection::FieldTableQuery(const tTableDefinition& def) {
    tString sql("SELECT * FROM GML_FIELD WHERE FIELD_TABLE ");
    tString key;
    if (useSysTables) {
        sql += "=";
        key = OrEmpty(GetSchema());
        key += def.GetName();
    } else {
        sql += "LIKE ";
        key = "%.";
        key += def.GetName();
        key += " %";
    }
    AppendLiteral(sql, key);
    sql += " ORDER BY FIELD_TABLE,FIELD_NAME";
    return sql;
}

// Every numeric field of a served table needs its GML_FIELD row. Warnings are logged; they
// refuse the table only with [General] AdjustError.
bool tDBConnection::SettleFieldWarnings(const tTableDefinition& def, bool fits, i32 numeric,
                                        i32 adjusted, tString& warnings) {
    tString line;
    if (numeric > adjusted) {
        line.sprintf(
            "[WARNING] Table %s has %i numeric fields on DBMS, but %i was adjusted using "
            "GML_FIELD.\n",
            def.GetName(), numeric, adjusted);
        warnings += line;
        fits = false;
    }
    if (fits) return true;
    const bool adjustError = DBProcess().GetConfig().GetBool("General", "AdjustError", 0);
    if (adjustError) {
        line.sprintf(
            "[ERROR] INCOMPLETE OR INVALID GML_FIELD DEFINITION : Table [%s] Env ( %s/%s ).\n",
            def.GetName(), dbType.GetText(), alias.GetText());
        warnings += line;
    }
    WriteLog(warnings, 0);
    return !adjustError;
}

i16 tDBConnection::UniqueKey(const char* table, const char* keys) {
    const char* kRoutine = "tDBConnection::UniqueKey";
    std::unique_ptr<tStatement> stmt(NewStatement());
    tString name(table);
    name.Upper();
    name.Trim();
    tString terms(keys);
    terms.Upper();
    terms.ReplaceChar('+', ',');
    SetRowCount(0);
    const std::shared_ptr<tTableDefinitionShared> shared =
        IsSqlIdentifier(name) ? GetTableDef(name, alias, false) : nullptr;
    if (!shared) return RC_NOT_FOUND;
    const tTableDefinitionExclusive def(*shared);
    tString key;
    if (!KeyFieldList(def, terms, key)) return RC_FAILED;

    tString index(name);
    index += "_UNQ";
    tString sql;
    bool ok = true;
    if (CanOpen(name, index)) {
        DropIndex(sql, name, index);
        ok = stmt->ExecDirect(sql, kRoutine, 1);
    }
    if (!ok || key.GetLength() == 0) return ok ? RC_OK : RC_FAILED;
    if (def.GetRecDelField() < 0) ok = AddRecDelColumn(def, name);
    if (ok) {
        sql = "UPDATE ";
        sql += OrEmpty(GetOwner());
        sql += name;
        sql +=
            " SET R_E_C_D_E_L_ = R_E_C_N_O_ WHERE D_E_L_E_T_ = '*' AND R_E_C_N_O_ != R_E_C_D_E_L_";
        ok = stmt->ExecDirect(sql, kRoutine, 1);
    }
    if (ok) {
        sql = "CREATE UNIQUE INDEX ";
        sql += index;
        sql += " ON ";
        sql += name;
        sql += "(";
        sql += key;
        sql += ",R_E_C_D_E_L_)";
        IndexSpaceClause(sql, 0);
        ok = stmt->ExecDirect(sql, kRoutine, 1);
    }
    return ok ? RC_OK : RC_FAILED;
}

// The key terms ("A,B") as the table's field names joined by ","; false, with the error set,
// when a term names no field of the table.
bool tDBConnection::KeyFieldList(const tTableDefinition& def, const char* terms, tString& key) {
    tTokList parts(terms, ",");
    tIterator<tString> it(&parts);
    while (tString* part = it.Next()) {
        part->Trim();
        if (part->GetLength() == 0) continue;
        const i16 no = FindFieldNo(def, *part);
        if (no < 0) {
            tString message;
            message.sprintf("Table [%s] Error - Unique key field [%s] NOT FOUND.\n", def.GetName(),
                            part->GetText());
            SetError(RC_FAILED, "tDBConnection::UniqueKey", message, nullptr);
            return false;
        }
        if (key.GetLength() > 0) key += ",";
        key += def.GetField(no)->GetName();
    }
    return true;
}

// Alters the table to carry R_E_C_D_E_L_ after its own fields.
bool tDBConnection::AddRecDelColumn(const tTableDefinition& def, const char* table) {
    tAutoArray<tActionField> actions;
    for (i32 i = 0; i < def.GetFieldCount(); ++i) {
        const tField& field = *def.GetField(i);
        if (strncasecmp(field.GetName(), "R_E_C_", 6) == 0) continue;
        if (strcasecmp(field.GetName(), kDeletedColumn) == 0) continue;
        actions.Add(new tActionField(field.GetName(), field.GetType(),
                                     static_cast<u16>(field.GetLen()), field.GetDecimals()));
    }
    tActionField* recDel = new tActionField(kRecDelColumn, 'R', 4, 0);
    recDel->actions |= tActionField::kAdd;
    actions.Add(recDel);
    return AlterTable(table, actions, 0);
}

void tDBConnection::SetJoinInfo(const char* description, tString& result) {
    result = "0";
    tTokList tokens(description, ";");
    tIterator<tString> it(&tokens);
    while (const tString* first = it.Next()) {
        tString table(*first);
        tString prefix;
        const i32 bar = first->FindChar('|');
        if (bar > 0) {
            table = first->Copy(0, bar);
            prefix = first->Copy(bar + 1);
        }
        const tString* fields = it.Next();
        if (!fields) {
            result = "1";
            break;
        }
        const tString* condition = it.Next();
        if (!condition) {
            result = "2";
            break;
        }
        AddJoinInfo(std::make_unique<tJoinInfo>(table, *fields, *condition, prefix));
    }
    if (!IsTraced()) return;
    tString text("-- Set IsamFile Join Fields [");
    text += OrEmpty(description);
    text += "] RET [";
    text += result;
    text += "]";
    dbServer->Trace("tDBConnection::SetJoinInfo", 0.0, text);
}
