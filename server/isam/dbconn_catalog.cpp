// The catalogue operations of the connection base that need the catalogue tables: until a
// connection class supplies them they refuse, with the reason in the last error.
#include "lib_common/retcodes.h"
#include "server/isam/dbconn.h"

namespace {
constexpr const char* kNotAvailable = "Catalogue operation not available on this connection.";
}  // namespace

bool tDBConnection::InitialCheckUp(tString&) {
    SetError(RC_NOT_SUPPORTED, "tDBConnection::InitialCheckUp", kNotAvailable, nullptr);
    return false;
}

bool tDBConnection::AdjustFields(tTableDefinition&) {
    SetError(RC_NOT_SUPPORTED, "tDBConnection::AdjustFields", kNotAvailable, nullptr);
    return false;
}

i16 tDBConnection::UniqueKey(const char*, const char*) {
    SetError(RC_NOT_SUPPORTED, "tDBConnection::UniqueKey", kNotAvailable, nullptr);
    return RC_FAILED;
}
