// The dispatch table: the handler of every opcode that a client connection serves. An opcode
// without a handler is answered with its own request, unchanged, after a console warning.
#include <array>

#include "lib_common/opcodes.h"
#include "server/dispatch/dbserver.h"
#include "server/runtime/consolelog.h"

namespace {

using tHandler = void (tDBServer::*)();

struct tRoute {
    i16 opcode;
    tHandler handler;
};

// One row per served opcode, in opcode order.
constexpr tRoute kRoutes[] = {
    {OP_STRCMTCTL, &tDBServer::StrCmtCtl},
    {OP_ENDCMTCTL, &tDBServer::EndCmtCtl},
    {OP_COMMIT, &tDBServer::Commit},
    {OP_ROLLBACK, &tDBServer::Rollback},
    {OP_CREATEFILE, &tDBServer::CreateFile},
    {OP_DELETEFILE, &tDBServer::DeleteFile},
    {OP_CANOPEN, &tDBServer::CanOpen},
    {OP_OPEN, &tDBServer::OpenFile},
    {OP_QUERY, &tDBServer::OpenQuery},
    {OP_CREATEINDEX, &tDBServer::CreateIndex},
    {OP_CLOSE, &tDBServer::CloseFile},
    {OP_SETKEY, &tDBServer::SetKey},
    {OP_LOCK, &tDBServer::Lock},
    {OP_UNLOCK, &tDBServer::Unlock},
    {OP_WRITE, &tDBServer::Write},
    {OP_UPDATE, &tDBServer::Update},
    {OP_DELETE, &tDBServer::Delete},
    {OP_RECALL, &tDBServer::Recall},
    {OP_PACK, &tDBServer::Pack},
    {OP_CLEAR, &tDBServer::Clear},
    {OP_SEEK, &tDBServer::Seek},
    {OP_GO, &tDBServer::GoTo},
    {OP_SKIP, &tDBServer::Skip},
    {OP_FIRST, &tDBServer::First},
    {OP_LAST, &tDBServer::Last},
    {OP_FILTER, &tDBServer::SetFilter},
    {OP_SETFIELDMAP, &tDBServer::SrvMap},
    {OP_BLOBREAD, &tDBServer::BlobRead},
    {OP_BLOBWRITE, &tDBServer::BlobWrite},
    {OP_REFRESHFILE, &tDBServer::RefreshFile},
    {OP_SPEXIST, &tDBServer::SPExist},
    {OP_SETDUMMY, &tDBServer::SetDummy},
    {OP_GETERROR, &tDBServer::GetError},
    {OP_SETDELEON, &tDBServer::SetDeleOn},
    {OP_SQLEXEC, &tDBServer::SQLExec},
    {OP_SPEXEC, &tDBServer::SPExec},
    {OP_ALTERFILE, &tDBServer::AlterFile},
    {OP_SETPARAM, &tDBServer::SetParam},
    {OP_UNIQUE, &tDBServer::UniqueKey},
    {OP_JUSTCLOSE, &tDBServer::JustClose},
    {OP_GETSID, &tDBServer::GetSID},
    {OP_FILTEREX, &tDBServer::SetFilterEx},
    {OP_SQLPREPARE, &tDBServer::SqlPrepare},
    {OP_SQLBIND, &tDBServer::SqlBind},
    {OP_SQLFREE, &tDBServer::SqlFree},
    {OP_GETDBSID, &tDBServer::GetDBSID},
    {OP_INTERNALF, &tDBServer::InternalCall},
    {OP_BUILD, &tDBServer::Build},
};

using tTable = std::array<tHandler, 256>;

constexpr tTable MakeTable() {
    tTable table{};
    for (const tRoute& route : kRoutes) table[static_cast<size_t>(route.opcode)] = route.handler;
    return table;
}

constexpr tTable kTable = MakeTable();

tHandler HandlerOf(i16 opcode) {
    return opcode >= 0 && opcode < static_cast<i16>(kTable.size()) ? kTable[opcode] : nullptr;
}

}  // namespace

bool tDBServer::Serves(i16 opcode) { return HandlerOf(opcode) != nullptr; }

void tDBServer::Dispatch() {
    const i16 opcode = GetCurrentOpcode();
    if (const tHandler handler = HandlerOf(opcode)) {
        (this->*handler)();
        return;
    }
    // The reply buffer still holds the request: it goes back as it came.
    ConsolePrintf("[WARNING] (tDbServer) Operation (%X) IGNORED - Thread (%u)\n",
                  static_cast<u32>(static_cast<u16>(opcode)), GetThreadId());
}
