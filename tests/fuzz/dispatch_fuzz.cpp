// Fuzz target of a client connection's request loop and handlers: a tDBServer connected to a
// database through the recording ODBC driver (which answers every statement with no rows) serves
// the input's frames, received through a scripted socket in memory on the calling thread.
//
// Every frame must end in exactly one reply frame, or in the end of the connection: the server
// never asks for the next frame's bytes before it has answered the one it holds, never sends a
// reply no request asked for, and every frame it sends carries its own length. Any crash, leak
// or sanitizer report is a failure too; an assertion that ends the connection is not (the worker
// catches it the same way).
//
// Input: flags byte (bit 0 big-endian client, bit 1 PostgreSQL instead of SQL Server, bits 2-3
// receive piece size, bit 4 the operation log on), then frames, each a little-endian u16 payload
// length and the payload (the opcode first, in the client's byte order); the target puts the length
// prefix in front. The length 0xFFFF instead serves the rest of the input as raw bytes, length
// prefixes and all.
#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "lib_base/gmlassert.h"
#include "lib_base/printer.h"
#include "lib_base/sockets.h"
#include "lib_common/commbuffer.h"
#include "lib_common/configcache.h"
#include "lib_common/logwriter.h"
#include "platform/thread_id.h"
#include "server/dispatch/dbserver.h"
#include "server/isam/dbprocess.h"
#include "server/process/acceptance.h"
#include "server/process/dbservices.h"
#include "server/runtime/globals.h"
#include "server/tables/dbtable.h"
#include "tests/recodbc/recodbc.h"
#include "tests/support/bytesource.h"

namespace {

// Fails the run: the connection broke its rule of one reply per request. An abort, not an
// assertion: the target catches assertions as the end of the connection.
#define FUZZ_CHECK(cond)                                     \
    do {                                                     \
        if (!(cond)) {                                       \
            std::fprintf(stderr, "fuzz check: %s\n", #cond); \
            std::abort();                                    \
        }                                                    \
    } while (0)

constexpr u16 kRawRest = 0xFFFF;
constexpr const char* kTable = "SA1010";

// The client's side of the connection: serves the frames in pieces, never a byte past the frame
// being received, and checks what comes back.
class ScriptedSocket : public tSocket {
public:
    struct Frame {
        std::string bytes;
        bool whole;  // a frame of its own, whose length prefix the target wrote
    };

    ScriptedSocket(std::vector<Frame> frames, u32 pieceSize, bool bigEndian)
        : frames(std::move(frames)), pieceSize(pieceSize), bigEndian(bigEndian) {}

    i32 Recv(void* buffer, i32 length) override { return Serve(buffer, length); }
    i32 RecvTimeout(void* buffer, i32 length, i32, i32) override { return Serve(buffer, length); }
    i32 Send(const void* buffer, i32 length, i32) override {
        FUZZ_CHECK(length >= 4);
        const u8* bytes = static_cast<const u8*>(buffer);
        u32 announced = 0;
        for (int i = 0; i < 4; ++i) {
            const u32 byte = bytes[bigEndian ? i : 3 - i];
            announced = announced << 8 | byte;
        }
        FUZZ_CHECK(announced == static_cast<u32>(length));
        // The connect reply comes unasked; after raw bytes, frames are no longer told apart.
        FUZZ_CHECK(awaitingReply || sends == 0 || raw);
        awaitingReply = false;
        ++sends;
        return length;
    }
    bool WaitRead(i32, i32) override { return true; }  // input, or the client's close
    bool WaitWrite(i32, i32) override { return true; }
    bool IsConnected() override { return next < frames.size(); }
    bool SetOption(i32, i32, const void*, i32) override { return true; }
    bool GetOption(i32, i32, void*, i32*) override { return false; }
    void GetAddressText(tString& text) override { text = "127.0.0.1"; }
    u16 GetPort() override { return 7890; }
    i32 Shutdown(i32) override { return 0; }
    i32 Close() override { return 0; }
    i32 CloseSocket() override { return 0; }

private:
    i32 Serve(void* buffer, i32 length) {
        // A read before the reply would take bytes of a frame the client has not sent yet.
        FUZZ_CHECK(!awaitingReply);
        if (next >= frames.size() || length <= 0) return 0;
        const Frame& frame = frames[next];
        raw = raw || !frame.whole;
        const size_t n = std::min({static_cast<size_t>(length), static_cast<size_t>(pieceSize),
                                   frame.bytes.size() - offset});
        std::memcpy(buffer, frame.bytes.data() + offset, n);
        offset += n;
        if (offset == frame.bytes.size()) {
            awaitingReply = frame.whole;
            ++next;
            offset = 0;
        }
        return static_cast<i32>(n);
    }

    const std::vector<Frame> frames;
    const u32 pieceSize;
    const bool bigEndian;
    size_t next = 0;
    size_t offset = 0;
    bool awaitingReply = false;
    bool raw = false;
    u32 sends = 0;
};

std::string WireLong(u32 n, bool bigEndian) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) {
        const int shift = bigEndian ? 24 - 8 * i : 8 * i;
        bytes[static_cast<size_t>(i)] = static_cast<char>((n >> shift) & 0xFF);
    }
    return bytes;
}

std::unique_ptr<tTableDefinitionShared> TableDefinition(const char* alias) {
    auto def = std::make_unique<tTableDefinitionShared>(kTable, alias);
    def->AddField("A1_COD", 'C', 6, 0, true, true);
    def->AddField("A1_VALOR", 'N', 12, 2, true, true);
    def->AddField("A1_DATA", 'D', 8, 0, true, true);
    def->AddField("A1_OK", 'L', 1, 0, true, true);
    def->AddField("R_E_C_N_O_", 'N', 15, 0, false, true);
    def->AddField("D_E_L_E_T_", 'C', 1, 0, true, true);
    auto index = std::make_unique<tIndexDefinition>("SA1010_COD", false);
    index->AddField(0);
    index->AddField(4);
    def->AddIndex(std::move(index));
    return def;
}

void DropConsole(const char*) {}

// The world's directory (ini and log), removed when the process exits.
std::string& ScratchDir() {
    static std::string dir;
    return dir;
}

// The process around the connections, made once: globals over a private ini that sends every
// database type to the recording driver, the database side's services, and a cached table for
// each alias.
class World {
public:
    World() {
        const char* shm = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string& dir = ScratchDir();
        dir = std::string(shm) + "/gm_dispatchfuzz_XXXXXX";
        if (!mkdtemp(dir.data())) std::abort();
        std::atexit([] { std::filesystem::remove_all(ScratchDir()); });
        logPath = dir + "/gatemill.log";
        const std::string iniPath = dir + "/gatemill.ini";
        std::ofstream(iniPath) << "[General]\nODBC30=1\n[MYSQL]\nClientLibrary=" GM_RECODBC_PATH
                                  "\n[POSTGRES]\nClientLibrary=" GM_RECODBC_PATH "\n";
        SetConsolePrinter(&DropConsole);
        SetLogPath(logPath.c_str());
        globals = std::make_unique<tGMLGlobals>(iniPath.c_str());
        globals->CreateLockServers();
        PublishGlobals(globals.get());
        InstallDBServices();
        for (const char* alias : {"FUZZMY", "FUZZPG"}) {
            DBProcess().GetTableCache().Add(TableDefinition(alias), alias);
        }
        // The same instance the ODBC loader binds: its call log is emptied after each input.
        void* lib = dlopen(GM_RECODBC_PATH, RTLD_NOW);
        if (!lib) std::abort();
        Resolve(lib, reset, "RecOdbcReset");
        Resolve(lib, addResult, "RecOdbcAddResult");
        Resolve(lib, addColumn, "RecOdbcAddColumn");
        Resolve(lib, addRow, "RecOdbcAddRow");
        Resolve(lib, addValue, "RecOdbcAddValue");
        ScriptCheckUp();
    }

    // The operation log, read by each connection as it starts: on, every handler builds the
    // texts it traces.
    void SetOperationLog(bool on) {
        if (on == operationLog) return;
        globals->GetConfig()->WriteString("General", "UseTraceLog", on ? "1" : "0");
        operationLog = on;
    }

    void AfterInput() {
        reset();
        ScriptCheckUp();
        if (++inputs % 256 == 0) std::ofstream(logPath, std::ios::trunc);
    }

private:
    template <class F>
    static void Resolve(void* lib, F& f, const char* name) {
        f = reinterpret_cast<F>(dlsym(lib, name));
        if (!f) std::abort();
    }
    // The row the PostgreSQL check-up reads back from its test table, so that the first
    // connection of the alias passes it.
    void ScriptCheckUp() {
        addResult("select MAX(CPOC) as CPOMAX from gmltemp");
        addColumn("CPOMAX", SQL_CHAR, 10, 0, SQL_NULLABLE);
        addRow();
        addValue("0000000001");
    }

    std::string logPath;
    std::unique_ptr<tGMLGlobals> globals;
    decltype(&RecOdbcReset) reset = nullptr;
    decltype(&RecOdbcAddResult) addResult = nullptr;
    decltype(&RecOdbcAddColumn) addColumn = nullptr;
    decltype(&RecOdbcAddRow) addRow = nullptr;
    decltype(&RecOdbcAddValue) addValue = nullptr;
    u64 inputs = 0;
    bool operationLog = false;
};

World& TheWorld() {
    static World* world = new World;  // lives to the end of the process, as a server's does
    return *world;
}

std::vector<ScriptedSocket::Frame> SplitFrames(const uint8_t* data, size_t size, bool bigEndian) {
    std::vector<ScriptedSocket::Frame> frames;
    size_t pos = 0;
    while (pos + 2 <= size) {
        const u16 length = static_cast<u16>(data[pos] | data[pos + 1] << 8);
        pos += 2;
        const char* at = reinterpret_cast<const char*>(data) + pos;
        if (length == kRawRest) {
            frames.push_back({std::string(at, size - pos), false});
            break;
        }
        const size_t n = std::min<size_t>(length, size - pos);
        frames.push_back({WireLong(static_cast<u32>(n + 4), bigEndian) + std::string(at, n), true});
        pos += n;
    }
    return frames;
}

// The buffer acceptance hands over: the connect packet received, its head read.
std::unique_ptr<tCommBuffer> ConnectBuffer(bool postgres, bool bigEndian) {
    const char* environment = postgres ? "POSTGRES/FUZZPG" : "MYSQL/FUZZMY";
    std::string body = std::string("\xAEGML\xAE", 5) + '\0' + (bigEndian ? '0' : '1') + '0';
    for (const char* text : {environment, "ERP", "ana", "PC01"}) body += std::string(text) + '\0';
    gmtest::ScriptedSource source(WireLong(static_cast<u32>(body.size() + 4), bigEndian) + body,
                                  1u << 20);
    auto buffer = std::make_unique<tCommBuffer>();
    tConnectHead head;
    FUZZ_CHECK(ReceiveConnectPacket(source, *buffer) == tConnectStatus::Received &&
               ReadConnectHead(*buffer, head));
    return buffer;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 1u << 16) return 0;
    World& world = TheWorld();
    const bool bigEndian = (data[0] & 1) != 0;
    const bool postgres = (data[0] & 2) != 0;
    const u32 pieceSizes[] = {1, 3, 7, 1u << 20};
    const u32 pieceSize = pieceSizes[(data[0] >> 2) & 3];
    world.SetOperationLog((data[0] & 16) != 0);

    auto server = std::make_unique<tDBServer>();
    server->AdoptThread(plat::CurrentThreadId());
    server->Attach(std::make_unique<ScriptedSocket>(SplitFrames(data + 1, size - 1, bigEndian),
                                                    pieceSize, bigEndian),
                   nullptr);
    server->SetCommBuffer(ConnectBuffer(postgres, bigEndian));
    server->SetPacing({1, 1});
    try {
        server->Execute();
    } catch (tAssertException* e) {
        delete e;  // thrown by pointer: the catcher deletes it; the connection ends
    }
    server->Done();
    server.reset();
    world.AfterInput();
    return 0;
}
