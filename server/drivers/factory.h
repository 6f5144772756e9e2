// The driver factory: the one place that turns a database type into the connection object of its
// driver. Only factory.cpp includes driver headers; everyone else sees tDBConnection.
#pragma once
#include <functional>
#include <memory>

#include "lib_base/stringz.h"
#include "lib_base/types.h"

class tDBConnection;

// What a client's environment asks for: the upper-cased database type, the alias, and the user
// and password that the configuration gives the alias. useSysTables is read for ORACLE only.
struct tDBConnectionRequest {
    const char* dbType;
    const tString& alias;
    const tString& user;
    const tString& password;
    bool useSysTables;
};

enum class tDBTypeAnswer {
    Made,     // the connection object, not yet connected
    Unknown,  // no database of that type exists for the gateway
};

// The connection object of the request's type into out (owned by the caller), or the reason why
// there is none. Any thread; makes no contact with the database.
tDBTypeAnswer NewDBConnection(const tDBConnectionRequest& request,
                              std::unique_ptr<tDBConnection>& out);

// Replaces the factory (tests make their own connections); an empty function restores the
// drivers'. Set while no connection is being made.
using tDBConnectionFactory =
    std::function<tDBTypeAnswer(const tDBConnectionRequest&, std::unique_ptr<tDBConnection>&)>;
void SetDBConnectionFactory(tDBConnectionFactory factory);
