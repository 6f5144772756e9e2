/* The main road of a gatemill application, step by step, printing what each step does and the
 * status it got: connect; create a table with C, N, D and L fields and an index; open it and
 * append records; walk them in index order; go to a record number; seek; update, delete and
 * recall; meet a second connection's lock; roll a transaction back and commit one; query the
 * table; drop it and disconnect.
 *
 * Build it with the project (it links libgatemillapi.so) and run it against a running pellmar,
 * for instance the one that ./run.sh starts:
 *
 *     gatemill_mainroad [host [port [environment]]]
 *
 * The defaults are 127.0.0.1, 7890 and POSTGRES/gatemill, the environment of ./run.sh. The exit
 * status is 0 when every step went as expected, 1 otherwise. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "gatemillapi.h"

#define EXAMPLE_TABLE "GM_EXAMPLE"
#define RECORDS 100

static const char* const kTable = EXAMPLE_TABLE;

/* The connections of the example, released at the end or when a step fails. */
static GM_HANDLE db;
static GM_HANDLE other;

static void Finish(int code) {
    GM_DisConnect(other);
    GM_Release(other);
    GM_DisConnect(db);
    GM_Release(db);
    exit(code);
}

/* Prints the outcome of a step on a connection. A status other than the one expected also
 * prints what the server says about it, when it says anything, and ends the program. */
static void Step(GM_HANDLE conn, const char* what, int status, int expected) {
    char error[512];
    int16_t code;
    if (status == expected) {
        printf("%-46s %d\n", what, status);
        return;
    }
    printf("%-46s %d, expected %d\n", what, status, expected);
    if (GM_IsConnected(conn)) {
        memset(error, 0, sizeof error);
        code = GM_GetError(conn, error, sizeof error - 1);
        if (code > 0) printf("    server error %d: %s\n", code, error);
    }
    Finish(1);
}

/* Stops the program when a value read back is not the one expected. */
static void Expect(int holds, const char* what) {
    if (holds) return;
    printf("unexpected: %s\n", what);
    Finish(1);
}

/* The values of record number n (from 1): a code, a price, a date and a flag. The codes run
 * backwards, so that the index order is the reverse of the record order. */
static void CodeOf(int n, char* code) { sprintf(code, "ITEM%04d", RECORDS + 1 - n); }
static double PriceOf(int n) { return n * 2.5; }

/* Fills the record buffer of the work area with the values of record n. Text fields take their
 * characters, numeric fields a double, dates their eight characters YYYYMMDD, logical fields one
 * byte. */
static void PutRecord(GM_HANDLE conn, uint16_t wa, int n) {
    char code[16];
    char born[16];
    const double price = PriceOf(n);
    const char active = n % 2 ? 'T' : 'F';
    CodeOf(n, code);
    sprintf(born, "2024%02d%02d", 1 + n % 12, 1 + n % 28);
    GM_InitRecord(conn, wa, 0);
    GM_SetInternalFld(conn, wa, "CODE", code);
    GM_SetInternalFld(conn, wa, "PRICE", &price);
    GM_SetInternalFld(conn, wa, "BORN", born);
    GM_SetInternalFld(conn, wa, "ACTIVE", &active);
}

/* Prints the current record of the work area. */
static void ShowRecord(GM_HANDLE conn, uint16_t wa) {
    const char* code = GM_GetInternalFld(conn, wa, "CODE");
    const char* price = GM_GetInternalFld(conn, wa, "PRICE");
    const char* born = GM_GetInternalFld(conn, wa, "BORN");
    const char* active = GM_GetInternalFld(conn, wa, "ACTIVE");
    double value;
    memcpy(&value, price, sizeof value);
    printf("    record %d: CODE %.8s PRICE %.2f BORN %.8s ACTIVE %c\n", (int)GM_RecNo(conn, wa),
           code, value, born, *active);
}

static double Price(GM_HANDLE conn, uint16_t wa) {
    double value;
    memcpy(&value, GM_GetInternalFld(conn, wa, "PRICE"), sizeof value);
    return value;
}

/* Puts a key into CODE, for a seek. */
static void PutKey(GM_HANDLE conn, uint16_t wa, const char* code) {
    GM_InitRecord(conn, wa, 0);
    GM_SetInternalFld(conn, wa, "CODE", code);
}

int main(int argc, char** argv) {
    const char* host = argc > 1 ? argv[1] : "127.0.0.1";
    const int port = argc > 2 ? atoi(argv[2]) : 7890;
    const char* environment = argc > 3 ? argv[3] : "POSTGRES/gatemill";
    char text[512];
    char code[16];
    GM_HANDLE fields;
    int16_t status;
    int16_t wa;
    int16_t seen;
    int16_t query;
    int rows;
    int n;

    if (port < 1 || port > 65535) {
        fprintf(stderr, "usage: %s [host [port [environment]]]\n", argv[0]);
        return 2;
    }
    GM_GetApiBuild(0, text);
    printf("gatemillapi build %s; connecting to %s:%d as %s\n", text, host, port, environment);

    /* Connection objects, then their connects: the library retries for up to ten seconds and
     * checks the server's build. */
    db = GM_GetGmlConn(0, (uint16_t)port);
    other = GM_GetGmlConn(0, (uint16_t)port);
    if (db == 0 || other == 0) {
        printf("no connection object could be made\n");
        Finish(1);
    }
    Step(db, "GM_Connect", GM_Connect(db, host, environment, "gatemill main road example"), 0);
    GM_GetServerType(db, text);
    printf("    server type %s", text);
    GM_GetBuild(db, text);
    printf(", build %s, session %d\n", text, (int)GM_GetSID(db));
    Step(other, "GM_Connect (a second connection)",
         GM_Connect(other, host, environment, "gatemill main road example"), 0);

    /* A table left by an earlier run goes first; -19 when there is none. */
    status = GM_DeleteFile(db, kTable);
    printf("%-46s %d\n", "GM_DeleteFile (a table of an earlier run)", status);

    /* The table's fields: name, type, size, width and decimals. A numeric field's width is its
     * length in the database, so N(12,2) is size 12, width 12, decimals 2. The descriptor is
     * freed by GM_CreateFile. */
    fields = GM_GetCreateStruct(4, 0, 0);
    GM_SetCreateField(fields, 0, "CODE", 'C', 8, 0, 0);
    GM_SetCreateField(fields, 1, "PRICE", 'N', 12, 12, 2);
    GM_SetCreateField(fields, 2, "BORN", 'D', 8, 0, 0);
    GM_SetCreateField(fields, 3, "ACTIVE", 'L', 1, 0, 0);
    Step(db, "GM_CreateFile " EXAMPLE_TABLE, GM_CreateFile(db, kTable, fields), 0);

    /* Open it: the result is the work area's number. Then an index on CODE. */
    wa = GM_Open(db, kTable, 0, 0);
    Step(db, "GM_Open " EXAMPLE_TABLE " (work area)", wa > 0 ? 0 : wa, 0);
    printf("    work area %d with %d fields\n", wa, (int)GM_GetColCount(db, (uint16_t)wa));
    Step(db, "GM_CreateIndex EXAMPLE1 on CODE",
         GM_CreateIndex(db, (uint16_t)wa, "EXAMPLE1", "CODE"), 0);

    /* Append: fill the record buffer, write it. Each new record stays locked for this
     * connection until it unlocks the table. */
    for (n = 1; n <= RECORDS; ++n) {
        PutRecord(db, (uint16_t)wa, n);
        status = GM_Write(db, (uint16_t)wa, 0);
        if (status != 0) Step(db, "GM_Write", status, 0);
    }
    sprintf(text, "GM_Write x %d", RECORDS);
    printf("%-46s %d\n", text, 0);
    printf("    %d records\n", (int)GM_GetTotalRecs(db, (uint16_t)wa));
    Step(db, "GM_FUnLock (the appends' locks)", GM_FUnLock(db, (uint16_t)wa), 0);

    /* Walk in index order: the codes run backwards, so record RECORDS comes first. */
    Step(db, "GM_SetKeyC EXAMPLE1", GM_SetKeyC(db, (uint16_t)wa, "EXAMPLE1"), 0);
    Step(db, "GM_First", GM_First(db, (uint16_t)wa, 0, 0), 0);
    ShowRecord(db, (uint16_t)wa);
    for (n = RECORDS; n >= 1; --n) {
        Expect(GM_RecNo(db, (uint16_t)wa) == n, "the record number in index order");
        status = GM_Skip(db, (uint16_t)wa, 0, 1, 0);
        if (n > 1 && status != 0) Step(db, "GM_Skip", status, 0);
    }
    printf("%-46s %d\n", "GM_Skip past the last record", status);
    Expect(status == -25 && GM_Eof(db, (uint16_t)wa) == 1, "the end of the table");
    printf("    end of file after %d records in index order\n", RECORDS);

    /* Go to a record number. */
    Step(db, "GM_ChainR 50", GM_ChainR(db, (uint16_t)wa, 0, 50, 0), 0);
    ShowRecord(db, (uint16_t)wa);

    /* Seek: the key goes into the record buffer. */
    CodeOf(42, code);
    PutKey(db, (uint16_t)wa, code);
    Step(db, "GM_Seek ITEM0059 (record 42)", GM_Seek(db, (uint16_t)wa, 0, 1, 0, 0, 8, 0), 0);
    ShowRecord(db, (uint16_t)wa);
    PutKey(db, (uint16_t)wa, "NOSUCHCO");
    Step(db, "GM_Seek NOSUCHCO (not found)", GM_Seek(db, (uint16_t)wa, 0, 1, 0, 0, 8, 0), -25);

    /* Update record 10 and read it back. */
    Step(db, "GM_ChainR 10", GM_ChainR(db, (uint16_t)wa, 0, 10, 0), 0);
    {
        const double price = 999.5;
        GM_SetInternalFld(db, (uint16_t)wa, "PRICE", &price);
    }
    Step(db, "GM_UpdateR 10 (PRICE 999.50)", GM_UpdateR(db, (uint16_t)wa, 0, 10), 0);
    Step(db, "GM_ChainR 10", GM_ChainR(db, (uint16_t)wa, 0, 10, 0), 0);
    ShowRecord(db, (uint16_t)wa);
    Expect(Price(db, (uint16_t)wa) == 999.5, "the price written");

    /* Delete it; with deleted records hidden a seek misses it; recall it. */
    Step(db, "GM_DeleteR 10", GM_DeleteR(db, (uint16_t)wa, 10), 0);
    printf("    D_E_L_E_T_ is '%c'\n", *GM_GetInternalFld(db, (uint16_t)wa, "D_E_L_E_T_"));
    Step(db, "GM_SetDeleted (hide)", GM_SetDeleted(db, (uint16_t)wa, 1), 0);
    CodeOf(10, code);
    PutKey(db, (uint16_t)wa, code);
    Step(db, "GM_Seek ITEM0091 (deleted, hidden)", GM_Seek(db, (uint16_t)wa, 0, 1, 0, 0, 8, 0),
         -25);
    Step(db, "GM_RecallR 10", GM_RecallR(db, (uint16_t)wa, 10, 0), 0);
    PutKey(db, (uint16_t)wa, code);
    Step(db, "GM_Seek ITEM0091 (recalled)", GM_Seek(db, (uint16_t)wa, 0, 1, 0, 0, 8, 0), 0);
    Step(db, "GM_SetDeleted (show)", GM_SetDeleted(db, (uint16_t)wa, 0), 0);

    /* A record lock refuses the second connection until it is released. */
    seen = GM_Open(other, kTable, 0, 0);
    Step(other, "GM_Open " EXAMPLE_TABLE " (second connection)", seen > 0 ? 0 : seen, 0);
    Step(db, "GM_Lock 20", GM_Lock(db, (uint16_t)wa, 20), 0);
    Step(other, "GM_Lock 20 (second connection: locked)", GM_Lock(other, (uint16_t)seen, 20), -31);
    Step(db, "GM_UnLock 20", GM_UnLock(db, (uint16_t)wa, 20), 0);
    Step(other, "GM_Lock 20 (second connection)", GM_Lock(other, (uint16_t)seen, 20), 0);
    Step(other, "GM_UnLock 20 (second connection)", GM_UnLock(other, (uint16_t)seen, 20), 0);

    /* A transaction rolled back, then one committed, seen from the second connection. */
    Step(db, "GM_StrCmtCtl", GM_StrCmtCtl(db), 0);
    Step(db, "GM_ChainR 30", GM_ChainR(db, (uint16_t)wa, 0, 30, 0), 0);
    {
        const double price = 1.0;
        GM_SetInternalFld(db, (uint16_t)wa, "PRICE", &price);
    }
    Step(db, "GM_UpdateR 30 (PRICE 1.00)", GM_UpdateR(db, (uint16_t)wa, 0, 30), 0);
    Step(db, "GM_Rollbk", GM_Rollbk(db), 0);
    Step(db, "GM_EndCmtCtl", GM_EndCmtCtl(db), 0);
    Step(other, "GM_ChainR 30 (second connection)", GM_ChainR(other, (uint16_t)seen, 0, 30, 0), 0);
    ShowRecord(other, (uint16_t)seen);
    Expect(Price(other, (uint16_t)seen) == PriceOf(30), "the price rolled back");
    Step(db, "GM_StrCmtCtl", GM_StrCmtCtl(db), 0);
    Step(db, "GM_ChainR 30", GM_ChainR(db, (uint16_t)wa, 0, 30, 0), 0);
    {
        const double price = 2.0;
        GM_SetInternalFld(db, (uint16_t)wa, "PRICE", &price);
    }
    Step(db, "GM_UpdateR 30 (PRICE 2.00)", GM_UpdateR(db, (uint16_t)wa, 0, 30), 0);
    Step(db, "GM_Commit", GM_Commit(db, 0), 0);
    Step(db, "GM_EndCmtCtl", GM_EndCmtCtl(db), 0);
    Step(other, "GM_ChainR 30 (second connection)", GM_ChainR(other, (uint16_t)seen, 0, 30, 0), 0);
    ShowRecord(other, (uint16_t)seen);
    Expect(Price(other, (uint16_t)seen) == 2.0, "the price committed");

    /* A query over the table: a read-only work area of its own, walked like a table. The rows
     * with PRICE above 200 are records 81 to 100, and record 10 updated to 999.50. */
    query =
        GM_Query(db, "SELECT CODE, PRICE FROM " EXAMPLE_TABLE " WHERE PRICE > 200 ORDER BY CODE");
    Step(db, "GM_Query PRICE > 200 (work area)", query > 0 ? 0 : query, 0);
    rows = 0;
    for (status = GM_First(db, (uint16_t)query, 0, 0); status == 0;
         status = GM_Skip(db, (uint16_t)query, 0, 1, 0)) {
        if (++rows == 1) {
            printf("    first row: CODE %.8s PRICE %.2f\n",
                   GM_GetInternalFld(db, (uint16_t)query, "CODE"), Price(db, (uint16_t)query));
        }
    }
    printf("    %d rows\n", rows);
    Expect(rows == 21, "the rows of the query");
    Step(db, "GM_Close (the query)", GM_Close(db, (uint16_t)query), 0);

    /* Close, drop, disconnect. */
    Step(other, "GM_Close (second connection)", GM_Close(other, (uint16_t)seen), 0);
    Step(db, "GM_Close", GM_Close(db, (uint16_t)wa), 0);
    Step(db, "GM_DeleteFile " EXAMPLE_TABLE, GM_DeleteFile(db, kTable), 0);
    Step(other, "GM_DisConnect (second connection)", GM_DisConnect(other), 0);
    Step(db, "GM_DisConnect", GM_DisConnect(db), 0);
    GM_Release(other);
    GM_Release(db);
    printf("done\n");
    return 0;
}
