// The recording OCI library driven from outside a test program, as a pellmar process drives it:
// the script file named by GM_RECOCI_SCRIPT is played back and every call lands in the log file
// named by GM_RECOCI_LOG. Each test loads its own copy of the library file, so that the copy
// starts afresh and reads the environment of that moment.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "platform/shared_library.h"
#include "server/drivers/oci_api.h"
#include "tests/recoci/recoci.h"
#include "tests/support/gmtest.h"
#include "tests/support/tempdir.h"

namespace {

class RecordingCopy {
public:
    // Loads a fresh copy of the library with the script text (none when empty) and a log file.
    explicit RecordingCopy(const std::string& script) {
        const std::string copy = dir.File("libgmrecoci_copy.so");
        std::filesystem::copy_file(GM_RECOCI_PATH, copy);
        if (!script.empty()) gmtest::WriteFileText(ScriptPath(), script);
        setenv("GM_RECOCI_SCRIPT", script.empty() ? "" : ScriptPath().c_str(), 1);
        setenv("GM_RECOCI_LOG", LogPath().c_str(), 1);
        if (script.empty()) unsetenv("GM_RECOCI_SCRIPT");
        opened = library.Open(copy.c_str());
        unsetenv("GM_RECOCI_SCRIPT");
        unsetenv("GM_RECOCI_LOG");
    }
    bool IsOpen() const { return opened; }
    template <class F>
    F Entry(const char* name) const {
        return reinterpret_cast<F>(library.Find(name));
    }
    std::string LogFile() const { return gmtest::ReadFileText(LogPath()); }
    std::string Calls() const { return Entry<decltype(&RecOciCalls)>("RecOciCalls")(); }

private:
    std::string ScriptPath() const { return dir.File("script.txt"); }
    std::string LogPath() const { return dir.File("calls.log"); }

    gmtest::TempDir dir;
    plat::SharedLibrary library;
    bool opened = false;
};

const char kScript[] =
    "# rows of a query, a failing delete, a procedure and an OCI 8 answer\n"
    "RESULT\tselect A, B from T\n"
    "COLUMN\tA\t1\t10\n"
    "COLUMN\tB\t2\t22\n"
    "ROW\tx1\t5\n"
    "ROW\t\\N\t6\n"
    "FAIL\tdelete*\t2292\tintegrity constraint violated - child record found\n"
    "PROCEDURE\tP\n"
    "ARGUMENT\tX\t2\t1\n"
    "ANSWER\tOCILogon\t1\t28002\tthe password will expire within 7 days\n";

TEST(RecordingOCIFiles, ScriptFileIsPlayedBackAndEveryCallLandsInTheLogFile) {
    RecordingCopy rec(kScript);
    ASSERT_TRUE(rec.IsOpen());
    alignas(8) unsigned char lda[kOCI7AreaSize] = {}, cda[kOCI7AreaSize] = {};
    ASSERT_EQ(rec.Entry<tOopen>("oopen")(cda, lda, nullptr, -1, -1, nullptr, -1), 0);
    ASSERT_EQ(rec.Entry<tOparse>("oparse")(cda, "select A, B from T", -1, 0, 2), 0);
    char a[11] = {};
    int16_t indicator = 0;
    ASSERT_EQ(rec.Entry<tOdefin>("odefin")(cda, 1, a, sizeof a, 1, 0, &indicator, nullptr, 0, 0,
                                           nullptr, nullptr),
              0);
    auto fetch = rec.Entry<tOfetch>("ofetch");
    ASSERT_EQ(rec.Entry<tOexec>("oexec")(cda), 0);
    EXPECT_EQ(fetch(cda), 0);
    EXPECT_STREQ(a, "x1");
    EXPECT_EQ(fetch(cda), 1405);
    EXPECT_EQ(indicator, -1);
    EXPECT_EQ(fetch(cda), 1403);

    // A statement the script does not name runs and returns no rows.
    ASSERT_EQ(rec.Entry<tOparse>("oparse")(cda, "select 1 from dual", -1, 0, 2), 0);
    ASSERT_EQ(rec.Entry<tOexec>("oexec")(cda), 0);
    EXPECT_EQ(fetch(cda), 1403);
    EXPECT_EQ(rec.Entry<tOparse>("oparse")(cda, "delete from T", -1, 0, 2), 2292);
    char text[100];
    rec.Entry<tOerhms>("oerhms")(lda, 2292, text, sizeof text);
    EXPECT_STREQ(text, "ORA-02292: integrity constraint violated - child record found");

    void* env = nullptr;
    void* err = nullptr;
    void* svc = nullptr;
    ASSERT_EQ(rec.Entry<tOCIEnvCreate>("OCIEnvCreate")(&env, 1, nullptr, nullptr, nullptr, nullptr,
                                                       0, nullptr),
              0);
    ASSERT_EQ(rec.Entry<tOCIHandleAlloc>("OCIHandleAlloc")(env, &err, 2, 0, nullptr), 0);
    EXPECT_EQ(rec.Entry<tOCILogon>("OCILogon")(env, err, &svc, "U", 1, "PW", 2, "DB", 2), 1);
    int32_t code = 0;
    ASSERT_EQ(rec.Entry<tOCIErrorGet>("OCIErrorGet")(err, 1, nullptr, &code, text, sizeof text, 2),
              0);
    EXPECT_EQ(code, 28002);
    void* describe = nullptr;
    ASSERT_EQ(rec.Entry<tOCIHandleAlloc>("OCIHandleAlloc")(env, &describe, 7, 0, nullptr), 0);
    char procedure[] = "P";
    EXPECT_EQ(
        rec.Entry<tOCIDescribeAny>("OCIDescribeAny")(svc, err, procedure, 1, 1, 0, 3, describe), 0);

    const std::string expected =
        "oopen()=0\noparse(select A, B from T,0,2)=0\nodefin(1,11,1,0)=0\n"
        "oexec(select A, B from T)=0\nofetch()=0\nofetch()=1405\nofetch()=1403\n"
        "oparse(select 1 from dual,0,2)=0\noexec(select 1 from dual)=0\nofetch()=1403\n"
        "oparse(delete from T,0,2)=2292\noerhms(2292)=0\n"
        "OCIEnvCreate(1)=0\nOCIHandleAlloc(2)=0\nOCILogon(U,DB)=1\nOCIErrorGet(1)=0\n"
        "OCIHandleAlloc(7)=0\nOCIDescribeAny(P,1,0,3)=0\n";
    EXPECT_EQ(rec.LogFile(), expected);
    EXPECT_EQ(rec.Calls(), expected);
}

TEST(RecordingOCIFiles, WithoutAScriptEveryStatementRunsEmpty) {
    RecordingCopy rec("");
    ASSERT_TRUE(rec.IsOpen());
    alignas(8) unsigned char lda[kOCI7AreaSize] = {}, cda[kOCI7AreaSize] = {};
    ASSERT_EQ(rec.Entry<tOopen>("oopen")(cda, lda, nullptr, -1, -1, nullptr, -1), 0);
    ASSERT_EQ(rec.Entry<tOparse>("oparse")(cda, "select A, B from T", -1, 0, 2), 0);
    ASSERT_EQ(rec.Entry<tOexec>("oexec")(cda), 0);
    EXPECT_EQ(rec.Entry<tOfetch>("ofetch")(cda), 1403);
    EXPECT_EQ(rec.LogFile(), rec.Calls());
}

TEST(RecordingOCIFilesDeathTest, UnreadableScriptLineStopsTheProcess) {
    for (const char* line : {"ROW\tx\n", "RESULT\tselect A from T\nROW\tx\ty\n", "COLUMNS\tA\n"}) {
        SCOPED_TRACE(line);
        EXPECT_DEATH(RecordingCopy rec(std::string("# bad\n") + line), "cannot read the line");
    }
}

}  // namespace
