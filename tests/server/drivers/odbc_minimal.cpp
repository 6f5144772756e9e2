// Client libraries for the ODBC loader's refusals and fallbacks: built with the two entry points
// that the loader requires and none of the ODBC 3 set, or (GM_NO_ALLOCENV) with SQLConnect only.
// The loader only looks them up; neither function is ever called.
#include <sql.h>

extern "C" {

#ifndef GM_NO_ALLOCENV
__attribute__((visibility("default"))) SQLRETURN SQLAllocEnv(SQLHENV* env) {
    *env = SQL_NULL_HENV;
    return SQL_ERROR;
}
#endif

__attribute__((visibility("default"))) SQLRETURN SQLConnect(SQLHDBC, SQLCHAR*, SQLSMALLINT,
                                                            SQLCHAR*, SQLSMALLINT, SQLCHAR*,
                                                            SQLSMALLINT) {
    return SQL_ERROR;
}

}  // extern "C"
