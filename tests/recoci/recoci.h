// Control interface of the recording OCI library libgmrecoci.so: it exports the OCI 7 entry points
// with the signatures of server/drivers/oci_api.h, plays back scripted answers and records every
// call. Tests place it where the Oracle driver looks for its client library (a home's
// bin\oci.dll, or the path in GM_RECOCI_PATH) and assert on the calls our code made.
// The driver never binds these control functions; tests resolve them with dlsym or link the
// target. The library is linked -z nodelete: its script and log survive an unload.
// GM_RECOCI_NOOPINIT_PATH names a variant built without "opinit".
//
// Driven from outside (a pellmar process): when GM_RECOCI_SCRIPT names a file, its lines are
// added when the library starts, tab-separated ('#' begins a comment line):
//   RESULT <pattern>              COLUMN <name> <type> <size>    ROW <value>...  (\N is NULL)
//   FAIL <target> <code> <text>   PROCEDURE <name>               ARGUMENT <name> <type> <mode>
// When GM_RECOCI_LOG names a file, every call appends its line (as RecOciCalls gives it).
//
// Answers: a parse takes the first scripted result whose pattern matches ("*", a prefix ending
// in '*', or the exact text); a statement without one runs and returns no rows. Data areas get
// the 16-bit return code at byte 12. odescr past the last column gives 1007; ofetch gives 1405
// for a row with a null column and 1403 at the end; oerhms writes "ORA-%05d: " and the scripted
// text ("message %d not found" without one). An unknown procedure gives 4043 from odessp.
// A long raw column is fetched with at most 65535 in its 16-bit returned length.
#pragma once
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

void RecOciReset(void);  // forgets scripts, failures, procedures and the log
void RecOciAddResult(const char* sqlPattern);
void RecOciAddColumn(const char* name, int oracleType, int size);
void RecOciAddRow(void);
void RecOciAddValue(const char* text);  // null: NULL
void RecOciAddValueBytes(const void* bytes, size_t length);
// The next call of the entry point (or the next parse or execution whose SQL matches) fails with
// the Oracle code; oerhms gives the text for that code from then on.
void RecOciFailNext(const char* target, int code, const char* text);
void RecOciAddProcedure(const char* name);
void RecOciAddArgument(const char* name, int oracleType, int mode);  // mode 0 in, 1 out, 2 in/out
// Every call, one line each: "oparse(select 1 from dual)=0". Valid until the next call of it.
const char* RecOciCalls(void);
void RecOciClearLog(void);

#ifdef __cplusplus
}
#endif
