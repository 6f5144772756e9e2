// Binding of the ODBC client library: loading it by name, resolving the entry points in their
// fixed order, refusing a library without the two required ones, and choosing the ODBC mode.
#include "server/drivers/odbc_entry.h"

#include <strings.h>

#include <cstddef>
#include <cstring>

#include "lib_base/printer.h"
#include "lib_common/configcache.h"
#include "lib_common/logwriter.h"
#include "server/isam/dbprocess.h"

namespace {

struct tEntryName {
    const char* name;
    size_t offset;  // of the pointer in tODBCEntryPoints
};

#define GM_ODBC_ENTRY(fn) \
    { #fn, offsetof(tODBCEntryPoints, fn) }

// Looked up in this order; SQLGetInfo twice, into the same pointer.
const tEntryName kLookups[] = {
    GM_ODBC_ENTRY(SQLError),          GM_ODBC_ENTRY(SQLFreeConnect),
    GM_ODBC_ENTRY(SQLConnect),        GM_ODBC_ENTRY(SQLDriverConnect),
    GM_ODBC_ENTRY(SQLDisconnect),     GM_ODBC_ENTRY(SQLSetConnectOption),
    GM_ODBC_ENTRY(SQLAllocEnv),       GM_ODBC_ENTRY(SQLAllocConnect),
    GM_ODBC_ENTRY(SQLTransact),       GM_ODBC_ENTRY(SQLFreeEnv),
    GM_ODBC_ENTRY(SQLGetFunctions),   GM_ODBC_ENTRY(SQLAllocStmt),
    GM_ODBC_ENTRY(SQLSetStmtOption),  GM_ODBC_ENTRY(SQLFreeStmt),
    GM_ODBC_ENTRY(SQLParamData),      GM_ODBC_ENTRY(SQLPrepare),
    GM_ODBC_ENTRY(SQLExecute),        GM_ODBC_ENTRY(SQLExecDirect),
    GM_ODBC_ENTRY(SQLNumResultCols),  GM_ODBC_ENTRY(SQLMoreResults),
    GM_ODBC_ENTRY(SQLDescribeCol),    GM_ODBC_ENTRY(SQLProcedureColumns),
    GM_ODBC_ENTRY(SQLFetch),          GM_ODBC_ENTRY(SQLExtendedFetch),
    GM_ODBC_ENTRY(SQLGetData),        GM_ODBC_ENTRY(SQLPutData),
    GM_ODBC_ENTRY(SQLBindCol),        GM_ODBC_ENTRY(SQLBindParameter),
    GM_ODBC_ENTRY(SQLTables),         GM_ODBC_ENTRY(SQLDrivers),
    GM_ODBC_ENTRY(SQLGetInfo),        GM_ODBC_ENTRY(SQLGetDiagRec),
    GM_ODBC_ENTRY(SQLGetDiagField),   GM_ODBC_ENTRY(SQLAllocHandle),
    GM_ODBC_ENTRY(SQLSetConnectAttr), GM_ODBC_ENTRY(SQLGetConnectAttr),
    GM_ODBC_ENTRY(SQLEndTran),        GM_ODBC_ENTRY(SQLFreeHandle),
    GM_ODBC_ENTRY(SQLSetEnvAttr),     GM_ODBC_ENTRY(SQLSetStmtAttr),
    GM_ODBC_ENTRY(SQLGetStmtAttr),    GM_ODBC_ENTRY(SQLFetchScroll),
    GM_ODBC_ENTRY(SQLRowCount),       GM_ODBC_ENTRY(SQLGetInfo),
    GM_ODBC_ENTRY(SQLSetCursorName),
};

#undef GM_ODBC_ENTRY

// The file that the dynamic loader opens for a configured library name.
const char* LibraryFile(const tString& name) {
    if (strcasecmp(name.GetText(), tODBCLibrary::kDefaultLibrary) == 0) {
        return tODBCLibrary::kDriverManagerFile;
    }
    return name.GetText();
}

}  // namespace

bool tODBCLibrary::Load(const char* dbType, const tString& alias) {
    tWaiting hold(&loaderLock, __FILE__, __LINE__);
    if (!loaded.load(std::memory_order_relaxed)) Bind(dbType, alias);
    return loaded.load(std::memory_order_relaxed);
}

bool tODBCLibrary::HoldsLibrary() {
    tWaiting hold(&loaderLock, __FILE__, __LINE__);
    return library.IsOpen();
}

void tODBCLibrary::Unload() {
    tWaiting hold(&loaderLock, __FILE__, __LINE__);
    loaded.store(false, std::memory_order_release);
    useODBC3 = false;
    library.Close();
    installer.Close();
    entries = tODBCEntryPoints{};
}

// Runs under the loader lock while not loaded.
void tODBCLibrary::Bind(const char* dbType, const tString& alias) {
    DBProcess().GetConfig().GetString(dbType, "ClientLibrary", "", libraryName);
    if (libraryName.GetLength() == 0) libraryName = kDefaultLibrary;

    if (!library.IsOpen() && !library.Open(LibraryFile(libraryName))) {
        tString text;
        text.sprintf("Connection [%s/%s] could not load database client library [%s]", dbType,
                     alias.GetText(), libraryName.GetText());
        WriteLog(text, 0);
        WriteLog(library.GetError().c_str(), 0);  // the loader's reason
        return;
    }
    for (const tEntryName& entry : kLookups) {
        void* address = library.Find(entry.name);
        std::memcpy(reinterpret_cast<char*>(&entries) + entry.offset, &address, sizeof address);
    }
    if (!HasRequiredEntries(dbType, alias)) {
        library.Close();
        entries = tODBCEntryPoints{};
        return;
    }
    // SQLite ODBC 0.9998 opens the installer library itself for every connect and closes it on
    // disconnect, and each close drops the installer's parsed ini files without freeing them.
    // Held here, the library stays loaded and keeps one copy. A missing one changes nothing.
    if (std::strcmp(LibraryFile(libraryName), kDriverManagerFile) == 0) {
        installer.Open(kInstallerFile);
    }
    useODBC3 = ChooseODBC3();
    loaded.store(true, std::memory_order_release);
    BasePrintf("[INFO] Connection [%s/%s] using client library [%s] (%s)\n", dbType,
               alias.GetText(), libraryName.GetText(), useODBC3 ? "ODBC30" : "ODBC10");
}

bool tODBCLibrary::HasRequiredEntries(const char* dbType, const tString& alias) {
    const char* missing = !entries.SQLAllocEnv  ? "_SQLAllocEnv"
                          : !entries.SQLConnect ? "_SQLConnect"
                                                : nullptr;
    if (!missing) return true;
    tString text;
    text.sprintf(
        "[ERROR] %s NOT FOUND - Invalid client library [%s] (ODBC) used in [%s/%s] "
        "connection.",
        missing, libraryName.GetText(), dbType, alias.GetText());
    WriteLog(text, 0);
    return false;
}

bool tODBCLibrary::ChooseODBC3() {
    if (!DBProcess().GetConfig().GetBool("General", "ODBC30", 0)) return false;
    const bool complete = entries.SQLGetDiagRec && entries.SQLAllocHandle &&
                          entries.SQLSetConnectAttr && entries.SQLGetConnectAttr &&
                          entries.SQLEndTran && entries.SQLFreeHandle && entries.SQLSetEnvAttr &&
                          entries.SQLSetStmtAttr;
    if (!complete) BasePrintf("[INFO] ODBC 3.0 functions not supported. Using ODBC 1.0\n");
    return complete;
}

tODBCLibrary& ODBCLibrary() {
    // Never destroyed: connections on other threads may still call through the table at exit.
    static tODBCLibrary* const process = new tODBCLibrary;
    return *process;
}

const tODBCEntryPoints& ODBCEntryPoints() { return ODBCLibrary().Entries(); }

bool LoadODBCLibrary(const char* dbType, const tString& alias) {
    return ODBCLibrary().Load(dbType, alias);
}
