// The Oracle connection's check-up block (settings, product versions, database and session
// properties, the version and character-set warnings) and its query files.
#include <memory>
#include <utility>

#include "lib_common/configcache.h"
#include "lib_common/logwriter.h"
#include "server/drivers/oracle.h"
#include "server/isam/dbprocess.h"
#include "server/isam/gatemill_query.h"
#include "server/tables/dbtable.h"

namespace {

constexpr const char* kCheckUpRoutine = "tOracleConnection::InitialCheckUp";
constexpr const char* kDashes = "-----------------------------------------------------------\n\n";

const char* Enabled(i32 hint) { return hint == 1 ? "ENABLED" : "DISABLED"; }

}  // namespace

bool tOracleConnection::AppendRows(const char* sql, i16 width, tString& report,
                                   const char* keepName, tString* kept) {
    std::unique_ptr<tOracleStmt> stmt = MakeStatement();
    if (!stmt->ExecDirect(sql, kCheckUpRoutine, 1)) return false;
    const i16 columns = stmt->GetColumnCount();
    tString values[3];
    while (stmt->Fetch()) {
        for (i16 c = 0; c < 3; ++c) {
            if (c < columns) {
                stmt->FieldAsString(values[c], c);
            } else {
                values[c] = "";
            }
        }
        tString line;
        if (width == 3) {
            line.sprintf("%40s %s %s\n", values[0].GetText(), values[1].GetText(),
                         values[2].GetText());
        } else {
            line.sprintf("%40s %s\n", values[0].GetText(), values[1].GetText());
        }
        report += line;
        if (keepName && kept && values[0] == keepName) *kept = values[1];
    }
    return true;
}

bool tOracleConnection::InitialCheckUp(tString& report) {
    tConfigCache& config = DBProcess().GetConfig();
    tString tableSpace;
    tString indexSpace;
    config.GetStringEx("ORACLE", alias, "TableSpace", "", tableSpace);
    config.GetStringEx("ORACLE", alias, "IndexSpace", "", indexSpace);
    tString clientVersion;
    MakeStatement()->GetCursor().GetClientVersion(clientVersion);

    report += "--------------- Initial Connection Check-Up ---------------";
    report += "\nDatabase......: ORACLE";
    report += "\nEnvironment...: ";
    report += alias;
    report += "\nMemo Type.....: ";
    report += memoType;
    report += "\nTableSpace....: ";
    report += tableSpace;
    report += "\nIndexSpace....: ";
    report += indexSpace;
    report += "\nUseHintFirst..: ";
    report += Enabled(UseHintFirst());
    report += "\nUseHintIndex..: ";
    report += Enabled(UseHintIndex());
    report += "\nClientVersion.: ";
    report += clientVersion;
    report += "\n\n";

    report += "Product Version Info --- --- --- --- --- --- --- --- --- ---\n";
    tString rows;
    if (AppendRows("select substr(PRODUCT,1,60),substr(VERSION,1,10),substr(STATUS,1,10) from "
                   "PRODUCT_COMPONENT_VERSION",
                   3, rows)) {
        report += rows;
    } else {
        report += "*** PRODUCT VERSION INFO NOT AVAILABLE ***\n";
    }

    tString charset;
    rows = "";
    if (AppendRows("select PROPERTY_NAME,substr(PROPERTY_VALUE,1,40) from DATABASE_PROPERTIES",
                   2, rows, "NLS_CHARACTERSET", &charset)) {
        report += "Database Properties --- --- --- --- --- --- --- --- --- ---\n";
        report += rows;
    } else {
        report += "Database Properties *** NOT AVAILABLE ***\n";
    }
    report += kDashes;

    rows = "";
    if (AppendRows("select PARAMETER,substr(VALUE,1,40) from NLS_SESSION_PARAMETERS", 2, rows)) {
        report += "Session Properties  --- --- --- --- --- --- --- --- --- ---\n";
        report += rows;
    } else {
        report += "Database Properties *** NOT AVAILABLE ***\n";
    }
    report += kDashes;

    if (GetVersion() < 9) {
        report += "**** WARNING : THIS DATABASE VERSION IS NO LONGER SUPPORTED ****\n\n";
    }
    if (charset != "WE8MSWIN1252" || charset.GetLength() == 0) {
        tString warning("**** WARNING : ACTUAL NLS_CHARACTERSET (");
        warning += charset;
        warning += ") MAY NOT SUPPORT FULL ASCII TABLE ****\n";
        warning += "**** CHANGE NLS_CHARACTERSET CONFIGURATION TO [WE8MSWIN1252] ****\n\n";
        WriteLog(warning, 0);
        report += warning;
    }
    return tDBConnection::InitialCheckUp(report);
}

tQueryFile* tOracleConnection::GetQueryFile(tCommBuffer& reply, u32 lockOwner, tString& query) {
    return NewQueryFile(reply, lockOwner, query, "tOracleConnection::GetQueryFile",
                        MakeStatement());
}

tQueryFile* tOracleConnection::PrepareStmt(tCommBuffer& reply, u32 lockOwner, const char* text) {
    if (!IsConnected()) return nullptr;
    std::unique_ptr<tOracleStmt> stmt = MakeStatement();
    tString trimmed(text);
    trimmed.Trim();
    if (!stmt->Prepare(trimmed, "tOracleConnection::PrepareStmt")) return nullptr;
    auto def = std::make_unique<tTableDefinitionExclusive>("", alias);
    return new tQueryFile(this, std::move(def), reply, lockOwner, std::move(stmt), trimmed);
}
