// The PostgreSQL statement: long values written as text parameters and read in character form,
// with the octet escapes of memo texts decoded.
#pragma once
#include "lib_base/types.h"
#include "server/drivers/odbc.h"

// An ODBC statement of a PostgreSQL connection. Made by the connection and owned by whoever
// asked for it; used by the connection's thread only.
class tPostgresStmt : public tODBCStatement {
public:
    explicit tPostgresStmt(tODBCConnection* connection);  // not owned

    // Runs sql with data as its one parameter, sent as text; kind is not used. A PostgreSQL text
    // holds no NUL byte: trailing ones are left out, and a value with one inside is refused
    // before anything runs. False when refused, when the statement failed or matched no row.
    bool ExecParam(const char* sql, const void* data, i32 length, i16 kind) override;
    // Reads the column in character form: at most length - 1 bytes and a terminator, length
    // becoming the bytes read + 1 (0 for NULL or empty). A value that ends in the escape of 0
    // or 254 ("\000", "\376") is decoded in place: a backslash and three octal digits stand
    // for one byte, 255 for a backslash, 254 for a single quote, and 0 ends the value.
    bool GetData(u16 column, void* buffer, i32& length) override;
};

// Decodes the octet escapes of a value of n bytes in place (see GetData); returns the decoded
// length. A value whose last four bytes are no "\000" or "\376" is left as it is.
size_t DecodePostgresOctets(char* bytes, size_t n);
