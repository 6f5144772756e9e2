// Informix connection and catalogue: the session's isolation, lock mode and number, the
// transaction words, the owner prefix, table, index and procedure existence, columns and indexes
// described from systables, syscolumns and sysindexes, the highest record number, query files
// and the check-up that installs MSCHARINDEX.
#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <utility>

#include "lib_base/printer.h"
#include "lib_common/configcache.h"
#include "lib_common/logwriter.h"
#include "lib_common/retcodes.h"
#include "lib_common/sqltext.h"
#include "server/drivers/cloudscape.h"
#include "server/drivers/informix.h"
#include "server/isam/dbprocess.h"
#include "server/isam/gatemill_query.h"
#include "server/tables/dbtable.h"

namespace {

constexpr const char* kConnectRoutine = "tInformixConnection::Connect";
constexpr const char* kIndexesRoutine = "tInformixConnection::DescribeIndexes";
constexpr i32 kIndexParts = 16;

// The procedure that filters use for containment: the first position, from nStart on, at which
// sExpr1 occurs in sExpr2; 0 when it does not or when either text is empty. The appended "#"
// keeps trailing blanks in the lengths.
constexpr const char* kCharIndexProcedure =
    "Create procedure MSCHARINDEX (sExpr1 varchar(255), sExpr2 varchar(255),nStart integer "
    "default 1 )\n "
    "Returning  Integer ;\n "
    "Define J integer;\n "
    "Define Len1 Integer;\n "
    "Define Len2 Integer;\n "
    "Define sExprA varchar(255);\n "
    "Define sExprB varchar(255);\n "
    "Let sExprA = sExpr1 || '#';\n "
    "Let sExprB = sExpr2 || '#';\n "
    "Let Len1 =  LENGTH(sExprA) -1;\n "
    "Let Len2 =  LENGTH(sExprB) -1;\n "
    "IF Len1 = 0 or Len2 = 0 then\n "
    "  Return 0;\n "
    "End If\n "
    "For J = nStart TO Len2\n "
    "  IF sExpr1 = Substr(sExpr2 , J, Len1) then\n "
    "     Exit For;\n "
    "  End if\n "
    "End For\n "
    "IF J > len2 then\n "
    "  Let j= 0;\n "
    "End If\n "
    "Return J;\n "
    "end procedure;\n ";

bool IsDataColumn(const tString& name) { return name != kRecnoColumn && name != kRecDelColumn; }

tString OwnerPrefixOf(const tString& user) {
    tString prefix;
    if (user.GetLength() > 0) {
        prefix = user;
        prefix += ".";
    }
    return prefix;
}

tString Uppered(const tString& text) {
    tString upper(text);
    upper.Upper();
    return upper;
}

}  // namespace

tInformixConnection::tInformixConnection(const char* dbType, const tString& alias,
                                         const tString& user, const tString& password)
    : tODBCConnection(dbType, alias, user, password),
      ownerPrefix(OwnerPrefixOf(user)),
      schemaPrefix(Uppered(ownerPrefix)) {}

tInformixConnection::tInformixConnection(const char* dbType, const tString& alias,
                                         const tString& user, const tString& password,
                                         tODBCLibrary& library)
    : tODBCConnection(dbType, alias, user, password, library),
      ownerPrefix(OwnerPrefixOf(user)),
      schemaPrefix(Uppered(ownerPrefix)) {}

std::unique_ptr<tODBCStatement> tInformixConnection::Statement() {
    return std::make_unique<tInformixStmt>(this);
}

tStatement* tInformixConnection::NewStatement() { return Statement().release(); }

bool tInformixConnection::Run(const char* sql, const char* routine) {
    return Statement()->ExecDirect(sql, routine, 1);
}

bool tInformixConnection::Probe(tString& sql, const char* routine) {
    std::unique_ptr<tODBCStatement> stmt = Statement();
    return stmt->ExecDirect(sql, routine, 0) && stmt->Fetch();
}

bool tInformixConnection::ReadBool(const char* key) {
    return DBProcess().GetConfig().GetBoolEx(GetDBType(), alias, key, 0);
}

const char* tInformixConnection::GetOwner() { return ownerPrefix.GetText(); }
const char* tInformixConnection::GetSchema() { return schemaPrefix.GetText(); }
bool tInformixConnection::IsMemoAsBlob() { return false; }
bool tInformixConnection::IsDuplicateKey(i32 native) { return native == -239 || native == -268; }

void tInformixConnection::GetSessionID(tString& text) {
    tString id;
    id.sprintf("(SID: %s) ", sessionID.GetText());
    text += id;
}

void tInformixConnection::ListTables(tString& sql) {
    sql =
        "SELECT tabname FNAMF1 FROM systables WHERE tabtype = 'T' and tabname not like '%fk' "
        "ORDER BY tabname";
}

bool tInformixConnection::Connect() {
    if (!tODBCConnection::Connect()) return false;
    {
        std::unique_ptr<tODBCStatement> stmt = Statement();
        stmt->ExecDirect("SET ISOLATION TO DIRTY READ", kConnectRoutine, 1);
        stmt->ExecDirect("SET LOCK MODE TO WAIT", kConnectRoutine, 1);
    }
    {
        std::unique_ptr<tODBCStatement> stmt = Statement();
        if (stmt->ExecDirect(
                "select dbinfo('sessionid') as param_session from systables where tabid = 1",
                "tInformixConnection::Connect()", 1) &&
            stmt->Fetch()) {
            sessionID.sprintf("%.0f", stmt->FieldAsDouble(0));
            return true;
        }
    }  // the statement is freed before the session ends
    tString line;
    line.sprintf("[ERROR] INFORMIX - %s - Unable to get SESSIONID value.\n", alias.GetText());
    WriteLog(line, 0);
    tODBCConnection::Disconnect();
    return false;
}

// The statement's failure stays in the log and the last error; the client learns it by -13.
i16 tInformixConnection::Commit() {
    if (!commitControl) return 0;
    return Run("COMMIT WORK", "tInformixConnection::Commit") ? 0 : RC_NOT_SUPPORTED;
}

i16 tInformixConnection::Rollback() {
    tDBConnection::Rollback();  // the audit sequence advances whatever the database answers
    if (!commitControl) return 0;
    return Run("ROLLBACK WORK", "tInformixConnection::Rollback") ? 0 : RC_NOT_SUPPORTED;
}

bool tInformixConnection::CanOpen(const char* table, const char* index) {
    tString owner(ownerPrefix);
    if (owner.GetLength() > 0) owner.Delete(owner.GetLength() - 1);  // without the "."
    tString sql;
    if (index && *index) {
        sql = "SELECT idxname FROM sysindexes WHERE idxname = ";
        AppendQuoted(sql, index);
    } else {
        sql = "SELECT tabname FROM systables WHERE tabname = ";
        AppendQuoted(sql, table);
    }
    sql += " and owner = ";
    AppendQuoted(sql, owner);
    sql.Lower();
    return Probe(sql, "tInformixConnection::CanOpen");
}

bool tInformixConnection::SPExist(const char* name) {
    tString sql("SELECT procname FROM sysprocedures WHERE UPPER(procname) = ");
    AppendQuoted(sql, name);
    sql.Upper();
    return Probe(sql, "tInformixConnection::SPExist");
}

f64 tInformixConnection::GetRecCount(const char* table) {
    if (!IsSqlIdentifier(table)) return -1.0;
    tString sql("SELECT MAX(R_E_C_N_O_) FROM ");
    sql += ownerPrefix;
    sql += table;
    std::unique_ptr<tODBCStatement> stmt = Statement();
    if (stmt->ExecDirect(sql, "tInformixConnection::GetRecCount", 1) && stmt->Fetch()) {
        return stmt->FieldAsDouble(0);
    }
    return -1.0;
}

bool tInformixConnection::ClearTable(const char* table) {
    if (!IsSqlIdentifier(table)) return false;
    tString sql("DELETE FROM ");
    sql += ownerPrefix;
    sql += table;
    return Run(sql, "tInformixConnection::ClearTable");
}

bool tInformixConnection::CreateGMLParam() {
    const char* routine = "tInformixConnection::CreateGMLParam";
    return Run("create table GML_PARAM(PARAM_NAME VarChar(50) not null,PARAM_SESSION Smallint not "
               "null, PARAM_VALUE VarChar(50) not null)",
               routine) &&
           Run("create index GML_PARAM1 on GML_PARAM( PARAM_SESSION, PARAM_NAME )", routine);
}

tQueryFile* tInformixConnection::GetQueryFile(tCommBuffer& reply, u32 lockOwner, tString& query) {
    return NewQueryFile(reply, lockOwner, query, "tInformixConnection::GetQueryFile", Statement());
}

tQueryFile* tInformixConnection::PrepareStmt(tCommBuffer& reply, u32 lockOwner, const char* text) {
    if (!IsConnected()) return nullptr;
    std::unique_ptr<tODBCStatement> stmt = Statement();
    if (!stmt->Prepare(text, "tInformixConnection::PrepareStmt")) return nullptr;
    auto def = std::make_unique<tTableDefinitionExclusive>("", GetAlias());
    return new tQueryFile(this, std::move(def), reply, lockOwner, std::move(stmt), text);
}

bool tInformixConnection::DescribeTable(tTableDefinition& def) {
    const char* routine = "tInformixConnection::DescribeTable";
    tString lowerName(def.GetName());
    lowerName.Lower();
    tString sql("SELECT ncols from systables where tabtype = 'T' and tabname = ");
    AppendQuoted(sql, lowerName);
    std::unique_ptr<tODBCStatement> count = Statement();
    if (!count->ExecDirect(sql, routine, 1) || !count->Fetch() || count->FieldAsDouble(0) == 0.0) {
        return false;
    }
    sql =
        "SELECT colname,collength as Length,coltype-trunc(coltype/256)*256 as Type, colno from "
        "systables a, syscolumns b WHERE a.tabname = ";
    AppendQuoted(sql, def.GetName());
    sql += " and a.tabid = b.tabid ORDER BY colno ASC";
    sql.Lower();
    std::unique_ptr<tODBCStatement> stmt = Statement();
    if (!stmt->ExecDirect(sql, routine, 1)) return false;
    tString name;
    while (stmt->Fetch()) {
        stmt->FieldAsString(name, 0);
        name.Upper();
        name.Trim();
        const i16 length = static_cast<i16>(stmt->FieldAsDouble(1));
        const i32 type = static_cast<i32>(stmt->FieldAsDouble(2));
        const bool isData = IsDataColumn(name);
        switch (type) {
            case 13:  // VARCHAR
                def.AddField(name, 'C', length, 0, isData, true);
                break;
            case 12:  // TEXT
                def.AddField(name, 'M', 10, 0, isData, true);
                break;
            case 2:  // INTEGER
            case 3:  // FLOAT
                def.AddField(name, 'N', 15, 6, isData, true);
                break;
            default:
                BasePrintf(
                    "[WARNING] (tInformixConnection::DescribeTable) Table [%s] unsupported field "
                    "[%s] type [%d].\n",
                    def.GetName(), name.GetText(), type);
                def.AddField(name, 'X', 0, 0, false, true);
                break;
        }
    }
    return true;
}

bool tInformixConnection::DescribeIndexes(tTableDefinition& def) {
    tString lowerName(def.GetName());
    lowerName.Lower();
    tString sql("SELECT nindexes from systables where tabtype = 'T' and tabname = ");
    AppendQuoted(sql, lowerName);
    std::unique_ptr<tODBCStatement> first = Statement();
    const bool described =
        first->ExecDirect(sql, "tInformixConnection::Indexes", 1) && first->Fetch();
    bool recnoKeySeen = false;
    if (described && first->FieldAsDouble(0) != 0.0) {
        sql = "SELECT B.idxname, B.owner, B.tabid, ";
        for (i32 part = 1; part <= kIndexParts; ++part) {
            tString column;
            column.sprintf("B.part%i%s", part, part < kIndexParts ? ", " : " ");
            sql += column;
        }
        sql += "from informix.systables A, informix.sysindexes B WHERE A.tabname = ";
        AppendQuoted(sql, def.GetName());
        sql += " and B.tabid=A.tabid";
        sql.Lower();
        std::unique_ptr<tODBCStatement> stmt = Statement();
        if (stmt->ExecDirect(sql, kIndexesRoutine, 1)) {
            while (stmt->Fetch()) AddDescribedIndex(def, *stmt, recnoKeySeen);
        }
    }
    if (!recnoKeySeen) {
        GetRecnoIndex(def.GetName(), sql);
        first->ExecDirect(sql, kIndexesRoutine, 1);  // the outcome is not looked at
    }
    return described;
}

// One row of sysindexes: the name, then the column numbers of part1..part16 up to the first 0.
void tInformixConnection::AddDescribedIndex(tTableDefinition& def, tStatement& stmt,
                                            bool& recnoKeySeen) {
    tString name;
    stmt.FieldAsString(name, 0);
    name.Upper();
    name.Trim();
    auto index = std::make_unique<tIndexDefinition>(name, false);
    const i16 deleted = FindFieldNo(def, kDeletedColumn);
    for (i16 c = 3; c < 3 + kIndexParts; ++c) {
        const f64 part = stmt.FieldAsDouble(c);
        if (part == 0.0) break;
        // A descending column is stored as the negative of its number.
        const f64 column = part < 0.0 ? -part : part;
        if (column > def.GetFieldCount()) {
            BasePrintf(
                "[WARNING] (tInformixConnection::DescribeIndexes) Table [%s] index [%s] skipped: "
                "column [%.0f] names no field.\n",
                def.GetName(), name.GetText(), column);
            return;
        }
        const i16 fieldNo = static_cast<i16>(column - 1);
        if (fieldNo != deleted) index->AddField(fieldNo);
    }
    if (CloseDescribedIndex(def, std::move(index))) recnoKeySeen = true;
}

bool tInformixConnection::InitialCheckUp(tString& report) {
    tString line;
    line.sprintf("GMALTER using ForceAlterTable [%i] CleanAddFields [%i]\n",
                 ReadBool("ForceAlterTable") ? 1 : 0, ReadBool("CleanAddFields") ? 1 : 0);
    report += "--------------- Initial Connection Check-Up ---------------\n";
    report += "Database......: INFORMIX\n";
    report += "Environment...: ";
    report += alias;
    report += "\n";
    report += line;
    report += "GMALTER Multi-Thread EXCLUSIVE using Critical Section.\n";
    report += "-----------------------------------------------------------\n\n";
    if (!tODBCConnection::InitialCheckUp(report)) return false;
    if (SPExist("MSCHARINDEX")) return true;
    return Run(kCharIndexProcedure, kConnectRoutine);
}
