// The Oracle client library of each OCI generation: where it is looked for (configuration,
// registry, the home's bin directory), loading it once per process, binding its entry points by
// name and counting the logon objects that hold it.
//
// Per generation, under its lock:
//  (1) loaded implies a module is held and the required entry point was bound.
//  (2) refCount counts the successful loads not yet unloaded; it is 0 whenever not loaded.
//  (3) The entry table changes only while refCount is 0, so holders read it without the lock.
#include <strings.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "lib_base/critsec.h"
#include "lib_base/misc.h"
#include "lib_base/printer.h"
#include "lib_common/configcache.h"
#include "lib_common/logwriter.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/shared_library.h"
#include "server/drivers/oci.h"
#include "server/isam/dbprocess.h"

namespace {

struct tEntryName {
    const char* name;
    size_t offset;  // of the pointer in the entry table
};

#define GM_OCI7_ENTRY(fn) \
    { #fn, offsetof(OCI7EntryPoints, fn) }
#define GM_OCI8_ENTRY(fn) \
    { #fn, offsetof(OCI8EntryPoints, fn) }

const tEntryName kOCI7Names[] = {
    GM_OCI7_ENTRY(opinit), GM_OCI7_ENTRY(olog),   GM_OCI7_ENTRY(ologof), GM_OCI7_ENTRY(oopen),
    GM_OCI7_ENTRY(oparse), GM_OCI7_ENTRY(odescr), GM_OCI7_ENTRY(odefin), GM_OCI7_ENTRY(obndrn),
    GM_OCI7_ENTRY(odessp), GM_OCI7_ENTRY(oexec),  GM_OCI7_ENTRY(ofetch), GM_OCI7_ENTRY(oclose),
    GM_OCI7_ENTRY(ocof),   GM_OCI7_ENTRY(ocom),   GM_OCI7_ENTRY(ocon),   GM_OCI7_ENTRY(orol),
    GM_OCI7_ENTRY(oerhms),
};

const tEntryName kOCI8Names[] = {
    GM_OCI8_ENTRY(OCIEnvCreate),     GM_OCI8_ENTRY(OCIInitialize),
    GM_OCI8_ENTRY(OCIEnvInit),       GM_OCI8_ENTRY(OCILogon),
    GM_OCI8_ENTRY(OCILogoff),        GM_OCI8_ENTRY(OCIHandleAlloc),
    GM_OCI8_ENTRY(OCIHandleFree),    GM_OCI8_ENTRY(OCIStmtPrepare),
    GM_OCI8_ENTRY(OCIDefineByPos),   GM_OCI8_ENTRY(OCIBindByPos),
    GM_OCI8_ENTRY(OCIStmtExecute),   GM_OCI8_ENTRY(OCIStmtFetch),
    GM_OCI8_ENTRY(OCITransStart),    GM_OCI8_ENTRY(OCITransDetach),
    GM_OCI8_ENTRY(OCITransCommit),   GM_OCI8_ENTRY(OCITransRollback),
    GM_OCI8_ENTRY(OCIErrorGet),      GM_OCI8_ENTRY(OCIParamGet),
    GM_OCI8_ENTRY(OCIAttrGet),       GM_OCI8_ENTRY(OCIAttrSet),
    GM_OCI8_ENTRY(OCIDescribeAny),   GM_OCI8_ENTRY(OCIDescriptorFree),
    GM_OCI8_ENTRY(OCIClientVersion),
};

#undef GM_OCI7_ENTRY
#undef GM_OCI8_ENTRY

static_assert(sizeof kOCI7Names / sizeof kOCI7Names[0] == 17, "17 OCI 7 entry points");
static_assert(sizeof kOCI8Names / sizeof kOCI8Names[0] == 23, "23 OCI 8 entry points");

// One generation's process-wide state; everything but the table is guarded by lock.
struct tGeneration {
    const char* label;  // "OCI7", "OCI8"
    const tEntryName* names;
    size_t nameCount;
    void* table;  // the generation's entry table
    size_t tableSize;
    void (*path)(std::string&);
    tCriticalSection lock;
    plat::SharedLibrary module;
    bool loaded = false;
    i32 refCount = 0;
};

OCI7EntryPoints oci7Table{};
OCI8EntryPoints oci8Table{};

tGeneration& Generation7() {
    // Never destroyed: logon objects on other threads may unload while the process ends.
    static tGeneration* const state = new tGeneration{
        "OCI7", kOCI7Names, 17, &oci7Table, sizeof oci7Table, &GetOCI7LibraryPath, {}, {}};
    return *state;
}

tGeneration& Generation8() {
    static tGeneration* const state = new tGeneration{
        "OCI8", kOCI8Names, 23, &oci8Table, sizeof oci8Table, &GetOCI8LibraryPath, {}, {}};
    return *state;
}

std::string JoinHome(const std::string& home, const char* tail) {
    std::string path = home;
    if (path.empty() || path.back() != '\\') path += '\\';
    return path + tail;
}

bool PathExists(const std::string& path) {
    plat::FileFacts facts;
    return plat::StatPath(plat::HostPath(path.c_str()).c_str(), facts);
}

// Whether a name found by "ora*.dll" is a version 1 to 8 client: after "ora" and an optional
// "NT", the version digit.
bool IsVersionedClientName(const std::string& name) {
    size_t pos = 3;
    if (name.compare(pos, 2, "NT") == 0) pos += 2;
    return pos < name.size() && name[pos] >= '1' && name[pos] <= '8';
}

// The bare file name of the last versioned client in the home's bin directory, in the order the
// directory search lists them (by name, letter case aside); empty when there is none.
std::string FindVersionedClient(const std::string& home) {
    plat::DirReader reader;
    std::vector<std::string> found;
    if (reader.Open(plat::HostPath(JoinHome(home, "bin").c_str()).c_str())) {
        std::string name;
        plat::FileFacts facts;
        while (reader.Next(name, facts)) {
            if (WildcardMatch(name.c_str(), "ora*.dll")) found.push_back(name);
        }
    }
    std::sort(found.begin(), found.end(), [](const std::string& a, const std::string& b) {
        return strcasecmp(a.c_str(), b.c_str()) < 0;
    });
    std::string last;
    for (const std::string& name : found) {
        if (IsVersionedClientName(name)) last = name;
    }
    return last;
}

// HOME9 down to HOME0: the first home whose client exists; else the last one tried.
void WalkRegisteredHomes(std::string& out) {
    for (int n = 9; n >= 0; --n) {
        tString home;
        const std::string key = "SOFTWARE\\Oracle\\HOME" + std::to_string(n);
        if (!GetRegistryString(key.c_str(), "ORACLE_HOME", home)) continue;
        out = JoinHome(home.GetText(), "bin\\oci.dll");
        if (PathExists(out)) return;
    }
}

std::string ConfiguredText(const char* key) {
    tString value;
    DBProcess().GetConfig().GetString("Oracle", key, "", value);
    return value.GetText();
}

void BindEntries(tGeneration& gen) {
    for (size_t i = 0; i < gen.nameCount; ++i) {
        void* address = gen.module.Find(gen.names[i].name);
        std::memcpy(static_cast<char*>(gen.table) + gen.names[i].offset, &address, sizeof address);
    }
}

// Runs under the generation's lock while not loaded.
void LoadModule(tGeneration& gen) {
    std::string path;
    gen.path(path);
    if (!gen.module.IsOpen()) {
        // An empty path would give the program itself to the loader.
        if (path.empty() || !gen.module.Open(plat::HostPath(path.c_str()).c_str())) {
            tString text;
            text.sprintf("Connection [ORACLE] could not load database (%s) client library [%s]",
                         gen.label, path.c_str());
            WriteLog(text, 0);
            return;
        }
    }
    BindEntries(gen);
    // The first entry of each table is the one required.
    void* required = nullptr;
    std::memcpy(&required, gen.table, sizeof required);
    if (required) {
        gen.loaded = true;
        BasePrintf("[INFO] Connection [ORACLE] using (%s) client library [%s]\n", gen.label,
                   path.c_str());
        return;
    }
    tString text;
    text.sprintf("[ERROR] Invalid client library [%s] (%s) used in [ORACLE] connection.",
                 path.c_str(), gen.label);
    WriteLog(text, 0);
    gen.module.Close();
    std::memset(gen.table, 0, gen.tableSize);
}

bool Load(tGeneration& gen) {
    tWaiting hold(&gen.lock, __FILE__, __LINE__);
    if (!gen.loaded) LoadModule(gen);
    if (gen.loaded) ++gen.refCount;
    return gen.loaded;
}

void Unload(tGeneration& gen) {
    tWaiting hold(&gen.lock, __FILE__, __LINE__);
    if (!gen.loaded) return;
    --gen.refCount;
    if (gen.refCount >= 1 || !gen.module.IsOpen()) return;
    gen.module.Close();
    gen.loaded = false;
    gen.refCount = 0;
    std::memset(gen.table, 0, gen.tableSize);
}

tOCILibraryState State(tGeneration& gen) {
    tWaiting hold(&gen.lock, __FILE__, __LINE__);
    return {gen.loaded, gen.refCount, gen.module.IsOpen()};
}

}  // namespace

bool GetRegistryString(const char* key, const char* valueName, tString& out) {
    std::string value;
    if (!plat::RegistryReadValue(key, valueName, value)) return false;
    out = value.c_str();
    return true;
}

void GetOCI7LibraryPath(std::string& out) {
    out.clear();
    const std::string home = ConfiguredText("ORACLE_HOME");
    if (!home.empty()) {
        out = JoinHome(home, "bin\\oci.dll");
        return;
    }
    tString registryHome;
    if (GetRegistryString("SOFTWARE\\Oracle", "ORACLE_HOME", registryHome)) {
        out = FindVersionedClient(registryHome.GetText());
    }
    if (out.empty()) WalkRegisteredHomes(out);
}

void GetOCI8LibraryPath(std::string& out) {
    out = ConfiguredText("ClientLibrary");
    if (!out.empty()) return;
    const std::string home = ConfiguredText("ORACLE_HOME");
    if (!home.empty()) {
        out = JoinHome(home, "bin\\oci.dll");
        return;
    }
    WalkRegisteredHomes(out);
}

bool LoadOCI7Library() { return Load(Generation7()); }
void UnloadOCI7Library() { Unload(Generation7()); }
bool LoadOCI8Library() { return Load(Generation8()); }
void UnloadOCI8Library() { Unload(Generation8()); }

const OCI7EntryPoints& OCI7Entries() { return oci7Table; }
const OCI8EntryPoints& OCI8Entries() { return oci8Table; }

tOCILibraryState OCI7LibraryState() { return State(Generation7()); }
tOCILibraryState OCI8LibraryState() { return State(Generation8()); }
