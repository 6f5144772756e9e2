// The monitor exports against the real pellmar program in console mode: each request as the
// monitor answers it, and password values that the program's ini file keeps enciphered while
// the configuration cache and the library give them back plain.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "client/gatemillapi.h"
#include "lib_common/configcache.h"
#include "tests/client/support/pellmarrun.h"
#include "tests/lib_common/support/inipassword.h"
#include "tests/support/tempdir.h"

namespace {

// pellmar serving in its own directory, and a monitor connection to it.
class ManagerAgainstPellmar : public ::testing::Test {
protected:
    void SetUp() override {
        port = pellmar.Port();
        ASSERT_NE(port, 0);
        gmtest::WriteFileText(
            dir.File("gatemill.ini"),
            "[General]\r\nPort=" + std::to_string(port) + "\r\nThreadMin=2\r\nThreadInc=2\r\n");
        gmtest::WriteFileText(dir.File("diag.txt"), "first line\nsecond line\n");
        ASSERT_TRUE(pellmar.Start(dir));
        program = &pellmar.Program();
        handle = GM_GetManager(port);
        ASSERT_EQ(GM_ConnectManager(handle, "127.0.0.1"), 0);
    }
    void TearDown() override {
        GM_DisconnectManager(handle);
        GM_ReleaseManager(handle);
        pellmar.Stop();
    }

    gmtest::TempDir dir;
    gmtest::PellmarRun pellmar;
    u16 port = 0;
    gmtest::ProgramRun* program = nullptr;  // pellmar's, once started
    GM_HANDLE handle = 0;
};

TEST_F(ManagerAgainstPellmar, EachExportGetsTheMonitorsAnswer) {
    auto text = std::make_unique<char[]>(GM_LOG_TEXT_SIZE);
    int32_t users = -1;
    EXPECT_EQ(GM_InfoManager(handle, text.get(), &users), 0);
    EXPECT_EQ(users, 0);
    EXPECT_STREQ(text.get(), "");

    // No connection has thread id 4242.
    EXPECT_EQ(GM_KillUser(handle, "4242"), 0);
    EXPECT_TRUE(program->WaitFor("[KILLUSER] Thread (4242) NOT FOUND OR TERMINATED.\n"));
    EXPECT_EQ(GM_StartTraceManager(handle, "4242"), -19);
    EXPECT_EQ(GM_GetTraceCount(handle, "4242"), -19);
    double elapsed = -1;
    EXPECT_EQ(GM_GetTrace(handle, "4242", text.get(), 100, &elapsed), -19);
    EXPECT_EQ(elapsed, -1);
    EXPECT_EQ(GM_StopTraceManager(handle, "4242", text.get()), 0);

    EXPECT_EQ(GM_ClearLog(handle), 0);
    EXPECT_EQ(GM_ErrorLog(handle, text.get()), 0);
    EXPECT_NE(std::string(text.get()).find("Log file cleared."), std::string::npos) << text.get();

    EXPECT_EQ(GM_GetLockInfo(handle, text.get(), 64), 0);
    EXPECT_STREQ(text.get(), "");

    uint8_t enabled = 9;
    EXPECT_EQ(GM_SetConnectionEnable(handle, 0), 0);
    EXPECT_EQ(GM_IsConnectionEnabled(handle, &enabled), 0);
    EXPECT_EQ(enabled, 0);
    EXPECT_EQ(GM_SetConnectionEnable(handle, 1), 0);
    EXPECT_EQ(GM_IsConnectionEnabled(handle, &enabled), 0);
    EXPECT_EQ(enabled, 1);

    EXPECT_EQ(GM_DiagLog(handle, text.get()), 0);
    EXPECT_EQ(std::string(text.get()).rfind("Server Type ..: WinNT\nBuild ........: 20110117\n", 0),
              0u)
        << text.get();
    EXPECT_EQ(GM_DiagFile(handle, "diag.txt", text.get()), 0);
    EXPECT_STREQ(text.get(), "\n[=== File diag.txt ===]\n\nfirst line\nsecond line\n");
    EXPECT_EQ(GM_DiagFile(handle, "diag.txt", text.get()), -24);  // the file is done
    EXPECT_EQ(GM_DiagFile(handle, "../gatemill.ini", text.get()), -19);

    double memory = 0, processor = -1;
    int32_t third = 9;
    EXPECT_EQ(GM_DiagMiscInfo(handle, &memory, &processor, &third), 0);
    EXPECT_GT(memory, 0);
    EXPECT_GE(processor, 0);
    EXPECT_EQ(third, 0);
    EXPECT_EQ(GM_ManagerIsConnected(handle), 1);
}

TEST_F(ManagerAgainstPellmar, IniIntegersAreWrittenReadAndDeleted) {
    uint32_t value = 0;
    EXPECT_EQ(GM_ReadIniInteger(handle, "General", "Port", 1, &value), 0);
    EXPECT_EQ(value, port);
    EXPECT_EQ(GM_WriteIniInteger(handle, "Shop", "Width", 42), 0);
    EXPECT_EQ(GM_ReadIniInteger(handle, "Shop", "Width", 7, &value), 0);
    EXPECT_EQ(value, 42u);
    EXPECT_EQ(GM_DelSection(handle, "Shop", "Width"), 0);
    EXPECT_EQ(GM_ReadIniInteger(handle, "Shop", "Width", 7, &value), 0);
    EXPECT_EQ(value, 7u);
    EXPECT_EQ(GM_WriteIniInteger(handle, "Shop", "Depth", 3), 0);
    EXPECT_EQ(GM_DelSection(handle, "Shop", ""), 0);
    EXPECT_EQ(gmtest::ReadFileText(dir.File("gatemill.ini")).find("[Shop]"), std::string::npos);
}

TEST_F(ManagerAgainstPellmar, PasswordsAreKeptEncipheredAndReadBackPlain) {
    EXPECT_EQ(GM_WriteIniString(handle, "POSTGRES/erp", "PASSWORD", "s3cret"), 0);
    EXPECT_EQ(GM_WriteIniString(handle, "POSTGRES/erp", "guestpassword", "gu3st"), 0);
    EXPECT_EQ(GM_WriteIniString(handle, "POSTGRES/erp", "password2", "plain2"), 0);
    const std::string ini = gmtest::ReadFileText(dir.File("gatemill.ini"));
    EXPECT_NE(ini.find("PASSWORD=" + gmtest::IniPassword("s3cret")), std::string::npos) << ini;
    EXPECT_NE(ini.find("guestpassword=" + gmtest::IniPassword("gu3st")), std::string::npos) << ini;
    EXPECT_NE(ini.find("password2=plain2"), std::string::npos) << ini;

    // The program's configuration cache reads the plain password from that file.
    tConfigCache cache(dir.File("gatemill.ini").c_str());
    tString password;
    cache.GetStringEx("POSTGRES", "erp", "password", "", password);
    EXPECT_STREQ(password.GetText(), "s3cret");

    char out[32];
    const struct {
        const char* key;
        const char* value;
    } cases[] = {{"password", "s3cret"},
                 {"GUESTPASSWORD", "gu3st"},
                 {"password2", "plain2"},
                 {"missing", "dflt"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        EXPECT_EQ(GM_ReadIniString(handle, "POSTGRES/erp", c.key, "dflt", out, sizeof out), 0);
        EXPECT_STREQ(out, c.value);
    }
}

}  // namespace
