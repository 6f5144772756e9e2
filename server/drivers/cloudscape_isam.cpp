// The CloudScape statement's long values and the CloudScape table file: literals with a
// character function for the single quote, containment as LOCATE and substrings as SUBSTRING.
#include <memory>
#include <utility>

#include "server/drivers/cloudscape.h"
#include "server/filter/filterelement.h"

tCloudScapeStmt::tCloudScapeStmt(tODBCConnection* connection)
    : tCloudScapeStmt(connection, "tCloudScapeStmt::ExecParam", "tCloudScapeStmt::GetData") {}

tCloudScapeStmt::tCloudScapeStmt(tODBCConnection* connection, const char* execRoutine,
                                 const char* readRoutine)
    : tODBCStatement(connection), execRoutine(execRoutine), readRoutine(readRoutine) {}

bool tCloudScapeStmt::ExecParam(const char* sql, const void* data, i32 length, i16) {
    return ExecCharParam(sql, data, length, execRoutine);
}

bool tCloudScapeStmt::GetData(u16 column, void* buffer, i32& length) {
    return ReadBytes(column, buffer, length, readRoutine, SQL_C_CHAR);
}

tGenericFile* tCloudScapeConnection::NewISAMFile(tCommBuffer& reply,
                                                 const std::shared_ptr<tTableDefinitionShared>& def,
                                                 u32 lockOwner) {
    return new tCloudScapeISAMFile(this, def, reply, lockOwner);
}

tCloudScapeISAMFile::tCloudScapeISAMFile(tDBConnection* connection,
                                         std::shared_ptr<tTableDefinitionShared> def,
                                         tCommBuffer& reply, u32 lockOwner)
    : tCloudScapeISAMFile(connection, std::move(def), reply, lockOwner, " CHAR(") {}

tCloudScapeISAMFile::tCloudScapeISAMFile(tDBConnection* connection,
                                         std::shared_ptr<tTableDefinitionShared> def,
                                         tCommBuffer& reply, u32 lockOwner,
                                         const char* charFunction)
    : tISAMFile(connection, std::move(def), reply, lockOwner), charFunction(charFunction) {
    connection->SetRowCount(40);
}

bool tCloudScapeISAMFile::NeedsCharFunc(char c) { return c == '\''; }

void tCloudScapeISAMFile::RecnoParamMarker() { sql += " = ?"; }

bool tCloudScapeISAMFile::CharFunc(tString& out, u8 c, bool afterFunction, bool first, bool last) {
    if (!first && !afterFunction) out += " ||";
    out += charFunction;
    out += UIntToStr(c);
    out += last ? ")" : ") || ";
    return true;
}

bool tCloudScapeISAMFile::ContainsExpr(tString& out, tFilterElement& left, tFilterElement& right) {
    // LOCATE takes the text searched for first.
    tString text("LOCATE(");
    if (!right.AppendSQL(text)) return false;
    text += ",";
    if (!left.AppendSQL(text)) return false;
    text += ")>0 ";
    out += text;
    return true;
}

bool tCloudScapeISAMFile::SubstrFunc(tString& out, tFilterElement& text, tFilterElement& start,
                                     tFilterElement* length) {
    return AppendSubstring(out, " SUBSTRING(", text, start, length);
}
