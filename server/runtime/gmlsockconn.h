// The server's connection base: what the client connection, the monitor connection and another
// server's lock connection share beyond the accepted socket, namely the connection's frame buffer
// and the client's user and computer names.
#pragma once
#include <memory>

#include "lib_base/sockconn.h"
#include "lib_base/stringz.h"
#include "lib_common/commbuffer.h"

// One accepted connection of the server, served on the worker thread that accepted it (see
// AcceptConnection). Acceptance hands over the buffer that holds the connect packet; the
// connection then reads every request from it and writes every reply into it. Used by the
// serving thread only, except the thread queries that the worker forwards under its lock.
class tGMLSockConn : public tSockConn {
public:
    tGMLSockConn() = default;
    ~tGMLSockConn() override = default;

    // The connection's frame buffer (owned); null until acceptance hands one over.
    tCommBuffer* GetCommBuffer() { return commBuffer.get(); }
    void SetCommBuffer(std::unique_ptr<tCommBuffer> buffer) { commBuffer = std::move(buffer); }

    // "(unknow)" unless a connection that knows its client answers.
    tString GetClientComputer() override { return tString("(unknow)"); }
    tString GetClientUser() override { return tString("(unknow)"); }

    // The connection's own part of the report printed when an exception ends its body; the
    // client connection prints one, others print nothing.
    virtual void DoShowException() {}

    // The client's names, as its connect packet gave them; empty until set.
    void SetClientNames(const char* user, const char* computer);
    const tString& GetUserName() const { return userName; }
    const tString& GetComputerName() const { return computerName; }

private:
    std::unique_ptr<tCommBuffer> commBuffer;
    tString userName;
    tString computerName;
};
