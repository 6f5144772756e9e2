/* The main road of a gatemill application, step by step, printing what each step does: connect,
 * create a table, drop it, and disconnect. Build it with the project (it links libgatemillapi.so)
 * and run it against a running pellmar, for instance the one that ./run.sh starts:
 *
 *     gatemill_mainroad [host [port [environment]]]
 *
 * The defaults are 127.0.0.1, 7890 and POSTGRES/gatemill, the environment of ./run.sh. The exit
 * status is 0 when every step went as expected, 1 otherwise. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "gatemillapi.h"

/* The example's table. */
#define EXAMPLE_TABLE "GM_EXAMPLE"
static const char* const kTable = EXAMPLE_TABLE;

/* Prints the outcome of a step. A status other than the one expected also prints what the
 * server says about it, when it says anything, and ends the program. */
static void Step(GM_HANDLE db, const char* what, int status, int expected) {
    char error[512];
    int16_t code;
    if (status == expected) {
        printf("%-44s %d\n", what, status);
        return;
    }
    printf("%-44s %d, expected %d\n", what, status, expected);
    if (GM_IsConnected(db)) {
        memset(error, 0, sizeof error);
        code = GM_GetError(db, error, sizeof error - 1);
        if (code > 0) printf("    server error %d: %s\n", code, error);
    }
    GM_Release(db);
    exit(1);
}

int main(int argc, char** argv) {
    const char* host = argc > 1 ? argv[1] : "127.0.0.1";
    const int port = argc > 2 ? atoi(argv[2]) : 7890;
    const char* environment = argc > 3 ? argv[3] : "POSTGRES/gatemill";
    char text[256];
    GM_HANDLE db;
    GM_HANDLE fields;
    int16_t status;

    if (port < 1 || port > 65535) {
        fprintf(stderr, "usage: %s [host [port [environment]]]\n", argv[0]);
        return 2;
    }
    GM_GetApiBuild(0, text);
    printf("gatemillapi build %s; connecting to %s:%d as %s\n", text, host, port, environment);

    /* A connection object, then its connect: the library retries for up to ten seconds and
     * checks the server's build. */
    db = GM_GetGmlConn(0, (uint16_t)port);
    if (db == 0) {
        printf("no connection object could be made\n");
        return 1;
    }
    Step(db, "GM_Connect", GM_Connect(db, host, environment, "gatemill main road example"), 0);
    GM_GetServerType(db, text);
    printf("    server type %s", text);
    GM_GetBuild(db, text);
    printf(", build %s, session %d\n", text, (int)GM_GetSID(db));

    /* A table left by an earlier run goes first; -19 when there is none. */
    status = GM_DeleteFile(db, kTable);
    printf("%-44s %d\n", "GM_DeleteFile (a table of an earlier run)", status);

    /* The table's fields: name, type, size, width and decimals. A numeric field's width is its
     * length in the database, so N(12,2) is size 12, width 12, decimals 2. The descriptor is
     * freed by GM_CreateFile. */
    fields = GM_GetCreateStruct(4, 0, 0);
    GM_SetCreateField(fields, 0, "CODE", 'C', 8, 0, 0);
    GM_SetCreateField(fields, 1, "PRICE", 'N', 12, 12, 2);
    GM_SetCreateField(fields, 2, "BORN", 'D', 8, 0, 0);
    GM_SetCreateField(fields, 3, "ACTIVE", 'L', 1, 0, 0);
    Step(db, "GM_CreateFile " EXAMPLE_TABLE, GM_CreateFile(db, kTable, fields), 0);

    Step(db, "GM_DeleteFile " EXAMPLE_TABLE, GM_DeleteFile(db, kTable), 0);
    Step(db, "GM_DisConnect", GM_DisConnect(db), 0);
    GM_Release(db);
    printf("done\n");
    return 0;
}
