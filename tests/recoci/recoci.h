// Control interface of the recording OCI library libgmrecoci.so: it exports the OCI 7 and OCI 8
// entry points with the signatures of server/drivers/oci_api.h, plays back scripted answers and
// records every call. Tests place it where the Oracle driver looks for its client library (a
// home's bin\oci.dll, or the path in GM_RECOCI_PATH) and assert on the calls our code made.
// The driver never binds these control functions; tests resolve them with dlsym or link the
// target. The library is linked -z nodelete: its script and log survive an unload. Variants lack
// one entry point each: GM_RECOCI_NOOPINIT_PATH "opinit", GM_RECOCI_NOENVCREATE_PATH
// "OCIEnvCreate", GM_RECOCI_NOCLIENTVERSION_PATH "OCIClientVersion".
//
// Driven from outside (a pellmar process): when GM_RECOCI_SCRIPT names a file, its lines are
// added when the library starts, tab-separated ('#' begins a comment line; a line it cannot read
// stops the process):
//   RESULT <pattern>              COLUMN <name> <type> <size>    ROW <value>...  (\N is NULL)
//   FAIL <target> <code> <text>   ANSWER <target> <answer> <code> <text>
//   PROCEDURE <name>              ARGUMENT <name> <type> <mode>
// When GM_RECOCI_LOG names a file, every call appends its line (as RecOciCalls gives it).
//
// Answers: a parse or prepare takes the first scripted result whose pattern matches ("*", a
// prefix ending in '*', or the exact text); a statement without one runs and returns no rows. An
// OCI 8 statement executed again takes the next result that matches, and without one plays its
// result again.
// OCI 7: data areas get the 16-bit return code at byte 12. odescr past the last column gives
// 1007; ofetch gives 1405 for a row with a null column and 1403 at the end; oerhms writes
// "ORA-%05d: " and the scripted text ("message %d not found" without one). An unknown procedure
// gives 4043 from odessp. A long raw column is fetched with at most 65535 in its 16-bit length.
// OCI 8: handles are checked (-2 for an unknown one); a failing call answers -1 and leaves
// "ORA-%05d: ..." records on its error handle, read by OCIErrorGet from record 1. The statement
// type (attribute 24) follows the SQL's first word; the select list can be described once the
// statement ran; a statement other than a select needs an iteration count of at least 1. A fetch
// gives 100 at the end, -1 with 1405 for a null without an indicator and -1 with 1406 for a value
// its define cannot hold (a define without a buffer holds nothing). OCILogoff frees the service
// context. OCIClientVersion gives 12.1.0.2, port update 3.
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
// the Oracle code; oerhms and the error records give the text for that code from then on.
void RecOciFailNext(const char* target, int code, const char* text);
// As RecOciFailNext for the OCI 8 calls, answering answer instead of -1; an answer of 0 or more
// lets the call do its work (code 0: no error record).
void RecOciAnswerNext(const char* target, int answer, int code, const char* text);
void RecOciAddProcedure(const char* name);
void RecOciAddArgument(const char* name, int oracleType, int mode);  // mode 0 in, 1 out, 2 in/out
// Every call, one line each: "oparse(select 1 from dual)=0". Valid until the next call of it.
const char* RecOciCalls(void);
void RecOciClearLog(void);
// The OCI 8 handles and descriptors given to the caller and not yet freed (the binds of a
// statement and the descriptors of a described procedure go with their handle).
int RecOciOpenHandles(void);

#ifdef __cplusplus
}
#endif
