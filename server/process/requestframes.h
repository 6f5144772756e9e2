// The request frames of a served connection (a monitor, another server's lock connection): each
// is received whole from the connection's socket, whose receive time-out is the connection's wait
// for its next request, and each reply is sent whole.
#pragma once
#include "lib_common/commbuffer.h"

class tGMLSockConn;

// Receives one whole request frame into the connection's frame buffer: Idle when none began
// within the wait. The peer leaving inside a frame, or between requests when goneIsFailure, is
// logged as a premature disconnection; a length out of bounds as a wrong length.
tReceiveStatus ReceiveRequestFrame(tGMLSockConn& conn, u32 chunk, u32 minLength,
                                   bool goneIsFailure);
// Sends the frame buffer's frame (never empty) in one piece; a short send is logged and false.
bool SendReplyFrame(tGMLSockConn& conn, const char* who);
