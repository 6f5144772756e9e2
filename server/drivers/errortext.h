// The context that the drivers add to the text of a database error: the routine, the session's
// state, the statement text and the description of the statement's owner file.
#pragma once

class tDBConnection;
class tStatement;
class tString;

// Appends " ( From <routine> )\n" (routine not null), the session's state of conn, the sql (not
// null) and the description of stmt's owner file (stmt not null) to text.
void AppendErrorContext(tDBConnection& conn, tStatement* stmt, const char* routine, const char* sql,
                        tString& text);
