// Finding and loading the Oracle client library: the paths built from the configuration and the
// registry, one load per process counted per logon object, and libraries that are missing or
// lack their required entry point.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/inifile.h"
#include "platform/registry.h"
#include "server/drivers/oci7.h"
#include "tests/server/support/recoci_control.h"
#include "tests/server/support/testprocess.h"
#include "tests/support/gmtest.h"
#include "tests/support/tempdir.h"

namespace {

class OCILibrary : public ::testing::Test {
protected:
    void SetUp() override { plat::SetRegistryFile(registryDir.File("registry.ini")); }
    void TearDown() override { plat::SetRegistryFile(""); }

    void SetRegistryHome(const char* key, const std::string& home) {
        plat::IniWriteString(plat::RegistryFile().c_str(), key, "ORACLE_HOME", home.c_str());
    }
    static std::string Path7() {
        std::string path;
        GetOCI7LibraryPath(path);
        return path;
    }
    static std::string Path8() {
        std::string path;
        GetOCI8LibraryPath(path);
        return path;
    }
    bool LogHas(const std::string& part) const {
        for (const std::string& entry : process.LogEntries()) {
            if (gmtest::Holds(entry, part)) return true;
        }
        return false;
    }

    gmtest::TestDBProcess process;
    gmtest::ConsoleCapture console;
    gmtest::TempDir registryDir;
};

TEST_F(OCILibrary, ConfiguredPathsWinAndClientLibraryIsForOCI8Only) {
    const struct {
        const char* clientLibrary;
        const char* home;
        const char* path7;
        const char* path8;
    } cases[] = {
        {"D:\\oci\\custom.dll", "C:\\ora", "C:\\ora\\bin\\oci.dll", "D:\\oci\\custom.dll"},
        {"", "C:\\ora", "C:\\ora\\bin\\oci.dll", "C:\\ora\\bin\\oci.dll"},
        {"", "C:\\ora\\", "C:\\ora\\bin\\oci.dll", "C:\\ora\\bin\\oci.dll"},
        {"D:\\oci\\custom.dll", "", "", "D:\\oci\\custom.dll"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.clientLibrary) + " | " + c.home);
        process.SetIni("Oracle", "ClientLibrary", c.clientLibrary);
        process.SetIni("Oracle", "ORACLE_HOME", c.home);
        EXPECT_EQ(Path7(), c.path7);
        EXPECT_EQ(Path8(), c.path8);
    }
}

TEST_F(OCILibrary, RegisteredHomeGivesTheLastVersionedClientAsBareName) {
    gmtest::OracleHome home;
    for (const char* name : {"ora73.dll", "oraNT8.dll", "ora9x.dll", "oracle.txt"}) {
        gmtest::WriteFileText(home.Path() + "/bin/" + name, "");
    }
    SetRegistryHome("SOFTWARE\\Oracle", home.Path());
    EXPECT_EQ(Path7(), "oraNT8.dll");
    EXPECT_EQ(Path8(), "");  // OCI 8 never searches the registered home's bin directory

    gmtest::OracleHome unversioned;
    gmtest::WriteFileText(unversioned.Path() + "/bin/ora9x.dll", "");
    gmtest::WriteFileText(unversioned.Path() + "/bin/ora0.dll", "");
    SetRegistryHome("SOFTWARE\\Oracle", unversioned.Path());
    EXPECT_EQ(Path7(), "");
}

TEST_F(OCILibrary, HomeWalkStopsAtTheFirstHomeWhoseClientExists) {
    gmtest::OracleHome empty, withClient, lower;
    withClient.Client("oci.dll");
    lower.Client("oci.dll");
    SetRegistryHome("SOFTWARE\\Oracle\\HOME9", empty.Path());
    SetRegistryHome("SOFTWARE\\Oracle\\HOME5", withClient.Path());
    SetRegistryHome("SOFTWARE\\Oracle\\HOME2", lower.Path());
    const std::string expected = withClient.Path() + "\\bin\\oci.dll";
    EXPECT_EQ(Path7(), expected);
    EXPECT_EQ(Path8(), expected);

    // None exists: the last one tried.
    plat::IniWriteString(plat::RegistryFile().c_str(), "SOFTWARE\\Oracle\\HOME5", "ORACLE_HOME",
                         nullptr);
    plat::IniWriteString(plat::RegistryFile().c_str(), "SOFTWARE\\Oracle\\HOME2", "ORACLE_HOME",
                         nullptr);
    SetRegistryHome("SOFTWARE\\Oracle\\HOME0", "/no/such/home");
    EXPECT_EQ(Path7(), "/no/such/home\\bin\\oci.dll");
}

TEST_F(OCILibrary, NoHomeAnywhereFailsWithTheCouldNotLoadLine) {
    EXPECT_EQ(Path7(), "");
    tOCI7 oci;
    EXPECT_FALSE(oci.IsLibraryLoaded());
    EXPECT_TRUE(LogHas("Connection [ORACLE] could not load database (OCI7) client library []"));
    EXPECT_FALSE(OCI7LibraryState().holdsModule);
    EXPECT_FALSE(LoadOCI8Library());
    EXPECT_TRUE(LogHas("Connection [ORACLE] could not load database (OCI8) client library []"));
}

TEST_F(OCILibrary, ObjectsShareOneLoadAndTheLastOneFreesIt) {
    gmtest::RecOciControl rec;
    gmtest::OracleHome home, other;
    home.Client("oci.dll");
    other.Client("oci.dll");
    process.SetIni("Oracle", "ORACLE_HOME", home.Path().c_str());
    const std::string line = "[INFO] Connection [ORACLE] using (OCI7) client library [" +
                             home.Path() + "\\bin\\oci.dll]";

    auto first = std::make_unique<tOCI7>();
    auto second = std::make_unique<tOCI7>();
    EXPECT_TRUE(first->IsLibraryLoaded() && second->IsLibraryLoaded());
    EXPECT_EQ(OCI7LibraryState().refCount, 2);
    const std::string text = console.Get();
    EXPECT_EQ(text.find(line), text.rfind(line));  // printed once
    EXPECT_TRUE(gmtest::Holds(text, line));
    EXPECT_EQ(rec.Calls(), "opinit(1)=0\nopinit(1)=0\n");

    first.reset();
    EXPECT_TRUE(OCI7LibraryState().loaded);
    EXPECT_EQ(OCI7LibraryState().refCount, 1);
    second.reset();
    EXPECT_FALSE(OCI7LibraryState().loaded);
    EXPECT_FALSE(OCI7LibraryState().holdsModule);
    EXPECT_EQ(OCI7LibraryState().refCount, 0);

    // Loading again reads the configuration again.
    process.SetIni("Oracle", "ORACLE_HOME", other.Path().c_str());
    tOCI7 third;
    EXPECT_TRUE(third.IsLibraryLoaded());
    EXPECT_TRUE(gmtest::Holds(console.Get(), other.Path() + "\\bin\\oci.dll]"));
}

TEST_F(OCILibrary, LibraryWithoutOpinitIsRefusedAndReleased) {
    gmtest::OracleHome home;
    home.Client("oci.dll", GM_RECOCI_NOOPINIT_PATH);
    process.SetIni("Oracle", "ORACLE_HOME", home.Path().c_str());
    tOCI7 oci;
    EXPECT_FALSE(oci.IsLibraryLoaded());
    EXPECT_TRUE(LogHas("[ERROR] Invalid client library [" + home.Path() +
                       "\\bin\\oci.dll] (OCI7) used in [ORACLE] connection."));
    EXPECT_FALSE(OCI7LibraryState().holdsModule);
    EXPECT_EQ(OCI7Entries().olog, nullptr);

    EXPECT_FALSE(oci.Logon("PROD", "scott", "tiger"));
    EXPECT_TRUE(LogHas("Oracle OCI not loaded!"));
    std::unique_ptr<tOCIStmt> stmt(oci.NewStmt());
    EXPECT_FALSE(stmt->Open());
}

TEST_F(OCILibrary, ObjectWhoseLoadFailedNeverUnloadsAnothers) {
    gmtest::RecOciControl rec;
    auto failed = std::make_unique<tOCI7>();  // no home configured yet
    ASSERT_FALSE(failed->IsLibraryLoaded());

    gmtest::OracleHome home;
    home.Client("oci.dll");
    process.SetIni("Oracle", "ORACLE_HOME", home.Path().c_str());
    tOCI7 loaded;
    ASSERT_TRUE(loaded.IsLibraryLoaded());
    failed.reset();
    EXPECT_TRUE(OCI7LibraryState().loaded);
    EXPECT_EQ(OCI7LibraryState().refCount, 1);
    EXPECT_NE(OCI7Entries().olog, nullptr);
}

}  // namespace
