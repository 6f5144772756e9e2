// Session requests of a client connection that touch no table: the build number, which every
// client library asks for right after it connects.
#include "lib_common/build.h"
#include "lib_common/commbuffer.h"
#include "server/dispatch/dbserver.h"

void tDBServer::Build() {
    tCommBuffer& out = *GetCommBuffer();
    out.Reset();
    out.PutString(kBuildNumber);
}
