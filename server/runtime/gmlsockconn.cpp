// The server's connection base: the client's names.
#include "server/runtime/gmlsockconn.h"

void tGMLSockConn::SetClientNames(const char* user, const char* computer) {
    userName = tString(user ? user : "");
    computerName = tString(computer ? computer : "");
}
