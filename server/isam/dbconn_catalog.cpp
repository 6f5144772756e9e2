// The catalogue check-up of a connection: its modes, the server's own catalogue tables
// (GML_FIELD, GML_PARAM, GML_IDXSTATS, GML_VIRTUALIDX, GML_SP) created where missing, the
// clean-up of an overgrown GML_PARAM, and the start of the index-use trace.
#include <memory>
#include <utility>
#include <vector>

#include "lib_base/printer.h"
#include "lib_common/configcache.h"
#include "lib_common/logwriter.h"
#include "server/isam/dbconn.h"
#include "server/isam/dbprocess.h"
#include "server/tables/dbtable.h"

namespace {

constexpr const char* kRoutine = "tDBConnection::InitialCheckUp";
constexpr const char* kClosingLine =
    "-----------------------------------------------------------\n\n";
constexpr const char* kTraceWarning = "[WARNING] LOW Performance Alert : TRACEINDEX is active.\n";

// One column of a catalogue table. Character columns pass their length as decimals too.
struct tCatalogColumn {
    const char* name;
    u8 type;
    i16 length;
};

constexpr tCatalogColumn kFieldColumns[] = {{"FIELD_TABLE", 'C', 64},
                                            {"FIELD_NAME", 'C', 32},
                                            {"FIELD_TYPE", 'C', 2},
                                            {"FIELD_PREC", 'C', 4},
                                            {"FIELD_DEC", 'C', 4}};
constexpr tCatalogColumn kIdxStatsColumns[] = {{"IDX_ENV", 'C', 32},  {"IDX_TABLE", 'C', 32},
                                               {"IDX_NAME", 'C', 32}, {"IDX_KEY", 'C', 255},
                                               {"IDX_USE", 'N', 8},   {"R_E_C_N_O_", 'R', 4}};
constexpr tCatalogColumn kVirtualIdxColumns[] = {
    {"IDX_ENV", 'C', 32}, {"IDX_TABLE", 'C', 32}, {"IDX_NAME", 'C', 32}, {"IDX_KEY", 'C', 255}};
constexpr tCatalogColumn kSpColumns[] = {{"SP_NOME", 'C', 20},
                                         {"SP_VERSAO", 'C', 20},
                                         {"SP_DATA", 'C', 8},
                                         {"SP_HORA", 'C', 8},
                                         {"SP_ASSINAT", 'C', 3}};

template <size_t N>
tTableDefinitionExclusive CatalogTable(const char* table, const char* environment,
                                       const tCatalogColumn (&columns)[N]) {
    tTableDefinitionExclusive def(table, environment);
    for (const tCatalogColumn& c : columns) {
        def.AddField(c.name, c.type, c.length, c.type == 'C' ? c.length : 0, false, true);
    }
    return def;
}

const char* Enabled(bool on) { return on ? "ENABLED" : "DISABLED"; }

}  // namespace

bool tDBConnection::InitialCheckUp(tString& report) {
    report += "------------- Generic Connection Check-Up -----------------\n";
    ReportModes(report);
    if (readOnly) {
        BasePrintf("[INFO] READ ONLY CONNECTION on Environment [%s]\n", alias.GetText());
        report += "[INFO] Initial CheckUp - READ ONLY CONNECTION MODE.\n";
    }
    if (!isamAllowed) {
        BasePrintf("[INFO] ISAM OPERATIONS NOT SUPPORTED on Environment [%s]\n", alias.GetText());
        report += "[INFO] Initial CheckUp - ISAM OPERATIONS NOT SUPPORTED.\n";
        report += kClosingLine;
        return true;
    }
    isamAllowed = DBProcess().GetConfig().GetBoolEx(dbType, alias, "IsamConnection", 1);
    if (!isamAllowed) {
        BasePrintf("[WARNING] Initial CheckUp - ISAM Operations DISABLED - Environment [%s]\n",
                   alias.GetText());
        report += "[WARNING] Initial CheckUp - ISAM Operations DISABLED.\n";
        return true;
    }
    if (indexTrace) {
        report += kTraceWarning;
        WriteLog(kTraceWarning, 0);
    }
    if (DBProcess().GetThreadInfo()) {
        BasePrintf("[INFO] Initial CheckUp - Environment [%s]\n", alias.GetText());
    }
    if (readOnly) return true;

    AbortTran();
    const bool ok = CheckCatalogTables();
    BeginTran();
    if (!ok) {
        tString text("[WARNING] Initial CheckUp FAILED - Environment [");
        text += alias;
        text += "]\nEnvironment Information : \n";
        text += report;
        text += "\n";
        WriteLog(text, 0);
    }
    report += kClosingLine;
    return ok;
}

void tDBConnection::ReportModes(tString& report) {
    report += "Prepared Stmt Cache .......: ";
    report += Enabled(preparedStmt);
    report += "\nIndex Trace ...............: ";
    report += Enabled(indexTrace);
    report += "\nISAM Compatibility Mode ...: ";
    report += Enabled(isamAllowed);
    report += "\nConnection Access Mode ....: ";
    report += readOnly ? "READONLY" : "READWRITE (DEFAULT)";
    report += "\n";
}

// Creates the catalogue tables that are missing, in a fixed order; the first failure stops.
bool tDBConnection::CheckCatalogTables() {
    bool ok = true;
    if (!CanOpen("GML_FIELD", nullptr)) {
        ok = CreateCatalogTable(
            CatalogTable("GML_FIELD", alias, kFieldColumns),
            "CREATE UNIQUE INDEX GML_FIELDI ON GML_FIELD(FIELD_TABLE,FIELD_NAME)");
    }
    if (ok) ok = CheckParamTable();
    if (ok && !CanOpen("GML_IDXSTATS", nullptr)) {
        ok = CreateCatalogTable(
            CatalogTable("GML_IDXSTATS", alias, kIdxStatsColumns),
            "CREATE INDEX GML_IDXSTATSI ON GML_IDXSTATS(IDX_ENV,IDX_USE,IDX_TABLE,IDX_NAME)");
    }
    if (ok && !CanOpen("GML_VIRTUALIDX", nullptr)) {
        ok = CreateCatalogTable(
            CatalogTable("GML_VIRTUALIDX", alias, kVirtualIdxColumns),
            "CREATE UNIQUE INDEX GML_VIRTUALIDXI ON GML_VIRTUALIDX(IDX_ENV,IDX_TABLE,IDX_NAME)");
    }
    if (ok && !CanOpen("GML_SP", nullptr)) {
        ok = CreateCatalogTable(CatalogTable("GML_SP", alias, kSpColumns), nullptr);
    }
    if (ok && indexTrace) {
        if (!IndexTraceDefinition()) {
            ok = false;
            WriteLog("[ERROR] (TRACEINDEX) Create Index Trace Definition Failed.", 0);
        }
        if (DBProcess().IsIndexTraceChanged()) ResetIndexUse();
    }
    return ok;
}

bool tDBConnection::CreateCatalogTable(const tTableDefinition& def, const char* indexSql) {
    std::unique_ptr<tStatement> stmt(NewStatement());
    tString sql;
    CreateTable(def, sql);
    bool ok = stmt->ExecDirect(sql, kRoutine, 1);
    if (ok && indexSql) ok = stmt->ExecDirect(indexSql, kRoutine, 1);
    return ok;
}

bool tDBConnection::CheckParamTable() {
    if (!CanOpen("GML_PARAM", nullptr) && !CreateGMLParam()) return false;
    if (!CanOpen("GML_PARAM", nullptr)) return true;
    if (GetTableCount("GML_PARAM", nullptr) <= 999.0) return true;
    return CleanParamTable();
}

// Re-creates GML_PARAM with only its FKINUSE rows, which hold across sessions. The table is
// dropped only once every such row has been read: otherwise it stays as it is.
bool tDBConnection::CleanParamTable() {
    WriteLog("[WARNING] GML_PARAM over 1000 rows. Running clean routine.\n", 0);
    const char* kFilter = "PARAM_NAME LIKE 'FKINUSE%'";
    tString table(OrEmpty(GetOwner()));
    table += "GML_PARAM";
    std::unique_ptr<tStatement> stmt(NewStatement());
    tString sql("SELECT PARAM_NAME,PARAM_SESSION,PARAM_VALUE FROM ");
    sql += table;
    sql += " WHERE ";
    sql += kFilter;
    std::vector<std::pair<tString, tString>> kept;
    bool read = stmt->ExecDirect(sql, kRoutine, 1);
    while (read && stmt->Fetch()) {
        kept.emplace_back(OrEmpty(stmt->FieldAsPChar(0)), OrEmpty(stmt->FieldAsPChar(2)));
    }
    // A fetch that failed ends the loop like the last row: the count tells them apart.
    read = read && GetTableCount("GML_PARAM", kFilter) == static_cast<f64>(kept.size());
    if (!read) {
        WriteLog("[ERROR] GML_PARAM clean routine stopped: its FKINUSE rows could not be read.\n",
                 0);
        return false;
    }
    sql = "DROP TABLE ";
    sql += table;
    if (!stmt->ExecDirect(sql, kRoutine, 1) || !CreateGMLParam()) return false;
    if (kept.empty()) return true;
    WriteLog("[INFO] Restore GML_PARAM information.\n", 0);
    const bool textSession = dbType == "DB2";
    for (const auto& row : kept) {
        sql = "INSERT INTO ";
        sql += table;
        sql += "(PARAM_NAME,PARAM_SESSION,PARAM_VALUE) VALUES(";
        AppendLiteral(sql, row.first);
        sql += textSession ? ",'1'," : ",1,";
        AppendLiteral(sql, row.second);
        sql += ")";
        if (!stmt->ExecDirect(sql, kRoutine, 1)) return false;
    }
    return true;
}

// The trace was switched on while the server ran: the counts start again from 0.
void tDBConnection::ResetIndexUse() {
    std::unique_ptr<tStatement> stmt(NewStatement());
    stmt->ExecDirect("UPDATE GML_IDXSTATS SET IDX_USE=0", kRoutine, 1);
}
