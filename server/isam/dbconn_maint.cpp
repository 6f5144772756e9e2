// Connection services around tables and statements that every driver shares: whether a text
// returns rows, whether a duplicate key is the record-number key, row counts, work in blocks of
// record numbers, pack and trigger removal, and the column changes of an alteration.
#include <cctype>
#include <cstring>
#include <memory>

#include "lib_common/retcodes.h"
#include "lib_common/sqltext.h"
#include "server/isam/dbconn.h"
#include "server/tables/dbtable.h"

namespace {

constexpr f64 kBlockRecnos = 4096.0;

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Whether " INTO " stands outside single quotes. A blank starts a match only when none is under
// way; a character that breaks a match resets it without starting a new one.
bool HasIntoOutsideQuotes(const char* sql) {
    static const char kInto[] = " INTO ";
    size_t matched = 0;
    bool quoted = false;
    for (const char* p = sql; *p; ++p) {
        if (*p == '\'') {
            quoted = !quoted;
            matched = 0;
            continue;
        }
        if (quoted) continue;
        const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
        if (matched == 0) {
            if (c == ' ') matched = 1;
        } else if (c == kInto[matched]) {
            if (++matched == sizeof kInto - 1) return true;
        } else {
            matched = 0;
        }
    }
    return false;
}

}  // namespace

tActionField::tActionField(const char* name, u8 type, u16 length, u16 decimals)
    : name(name),
      oldType(type),
      newType(type),
      oldLength(length),
      newLength(length),
      oldDecimals(decimals),
      newDecimals(decimals) {
    this->name.Trim();
}

bool tDBConnection::IsQueryStmt(const char* sql) {
    const char* p = sql;
    while (*p == '(' || IsSpace(*p)) ++p;
    char word[8] = {};
    size_t n = 0;
    for (; p[n] && !IsSpace(p[n]) && n < sizeof word - 1; ++n) {
        word[n] = static_cast<char>(std::toupper(static_cast<unsigned char>(p[n])));
    }
    if (n == 0) return false;
    if (!std::strcmp(word, "SHOW") || !std::strcmp(word, "WITH")) return true;
    // "select * into T_BKP from T" makes a table and returns no rows.
    if (std::strcmp(word, "EXEC") != 0 && std::strcmp(word, "SELECT") != 0) return false;
    return !HasIntoOutsideQuotes(sql);
}

bool tDBConnection::IsRecnoKeyError(const tTableDefinition& def) {
    for (const char* suffix : {"_PK", "_RECNO"}) {
        tString key(def.GetName());
        key += suffix;
        key.Upper();
        if (lastError.Find(key) >= 0) return true;
        key.Lower();
        if (lastError.Find(key) >= 0) return true;
    }
    return false;
}

f64 tDBConnection::GetTableCount(const char* table, const char* condition) {
    if (!IsSqlIdentifier(table)) return -1.0;
    std::unique_ptr<tStatement> stmt(NewStatement());
    tString sql("SELECT COUNT(*) AS TOTAL FROM ");
    sql += OrEmpty(GetOwner());
    sql += table;
    if (condition) {
        sql += " WHERE ";
        sql += condition;
    }
    if (stmt->ExecDirect(sql, "tDBConnection::GetTableCount", 1) && stmt->Fetch()) {
        return stmt->FieldAsDouble(0);
    }
    return -1.0;
}

bool tDBConnection::ExecInBlocks(const char* sql, const char* routine, f64 maxRecno,
                                 u8 hasCondition) {
    std::unique_ptr<tStatement> stmt(NewStatement());
    char from[kRecnoTextSize];
    char to[kRecnoTextSize];
    f64 lower = 0.0;
    bool ok = true;
    while (ok && lower < maxRecno) {
        tString text(sql);
        text += hasCondition ? " AND R_E_C_N_O_ > " : " WHERE R_E_C_N_O_ > ";
        text += RecnoToStr(lower, from);
        text += " AND R_E_C_N_O_ <= ";
        text += RecnoToStr(lower + kBlockRecnos, to);
        lower += kBlockRecnos;
        ok = stmt->ExecDirect(text, routine, 1);
    }
    stmt.reset();
    if (ok) return true;
    tString message("ExecInBlocks operation FAILED. Processed ");
    message += RecnoToStr(lower - kBlockRecnos, from);
    message += " of ";
    message += RecnoToStr(maxRecno, to);
    message += " record(s).";
    LogError(message, routine, nullptr);
    return false;
}

bool tDBConnection::KeepsBackup(const char* table, const char* backup, const char* routine) {
    const f64 live = GetTableCount(table, nullptr);
    const f64 kept = GetTableCount(backup, nullptr);
    if (live >= 0.0 && kept >= 0.0 && live >= kept) return false;
    char liveText[kRecnoTextSize];
    char keptText[kRecnoTextSize];
    tString message;
    message.sprintf(
        "Table [%s] Error - Backup table [%s] kept: it holds %s rows, the table %s. Restore or "
        "drop it before altering the table.\n",
        table, backup, RecnoToStr(kept, keptText), RecnoToStr(live, liveText));
    SetError(RC_FAILED, routine, message, nullptr);
    return true;
}

bool tDBConnection::PackTable(const char* table) {
    if (!IsSqlIdentifier(table)) return false;
    const f64 maxRecno = GetRecCount(table);
    if (maxRecno < 0.0) return false;
    tString sql("DELETE FROM ");
    sql += OrEmpty(GetOwner());
    sql += table;
    sql += " WHERE D_E_L_E_T_ = '*'";
    return ExecInBlocks(sql, "tDBConnection::PackTable", maxRecno, 1);
}

bool tDBConnection::DropTrigger(const char* trigger) {
    if (!IsSqlIdentifier(trigger)) return false;
    std::unique_ptr<tStatement> stmt(NewStatement());
    tString sql("DROP TRIGGER ");
    sql += trigger;
    return stmt->ExecDirect(sql, "tDBConnection::DropTrigger", 1);
}
