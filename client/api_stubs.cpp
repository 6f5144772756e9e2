// Exports kept for the programs written against the interface that do nothing here: no request,
// a fixed result.
#include "client/gatemillapi.h"
#include "lib_common/retcodes.h"

int16_t GM_SyncFiles(GM_HANDLE, int32_t) { return 0; }
int16_t GM_BufferizeServer(GM_HANDLE, int32_t, int32_t) { return 0; }
int16_t GM_SetAutoScan(GM_HANDLE, int32_t) { return 0; }
int16_t GM_SetFields(GM_HANDLE, int32_t, int32_t, int32_t) { return 0; }
int16_t GM_Call(GM_HANDLE, int32_t, int32_t, int32_t) { return RC_FAILED; }
int16_t GM_QCall(GM_HANDLE, int32_t) { return RC_FAILED; }
void GM_InitCache(int32_t) {}
void GM_Shutdown(void) {}
