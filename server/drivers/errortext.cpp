// The context of a database error's text, shared by the ODBC and Oracle connections.
#include "server/drivers/errortext.h"

#include "lib_base/stringz.h"
#include "server/isam/dbconn.h"
#include "server/isam/gatemill.h"

void AppendErrorContext(tDBConnection& conn, tStatement* stmt, const char* routine, const char* sql,
                        tString& text) {
    if (routine) {
        text += " ( From ";
        text += routine;
        text += " )\n";
    }
    conn.AddServerInfo(text);
    if (sql) text += sql;
    if (stmt && stmt->GetOwnerFile()) stmt->GetOwnerFile()->DumpInfo(text);
}
