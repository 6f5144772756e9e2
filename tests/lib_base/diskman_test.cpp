// The disk manager's handle table, file operations and error codes, on real files in a
// private temporary directory.
#include "lib_base/diskman.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>

#include "tests/support/gmtest.h"
#include "tests/support/tempdir.h"

namespace {

using gmtest::AssertText;
using gmtest::ReadFileText;
using gmtest::WriteFileText;

class DiskMan : public ::testing::Test {
protected:
    gmtest::TempDir dir;
    tDiskManLocal dm;

    std::string File(const char* name) const { return dir.File(name); }
};

TEST_F(DiskMan, FirstFreeHandleIsReused) {
    const i32 a = dm.FileCreate(File("a").c_str());
    const i32 b = dm.FileCreate(File("b").c_str());
    ASSERT_EQ(a, 1);
    ASSERT_EQ(b, 2);
    tString name;
    EXPECT_STREQ(dm.HandleName(name, b), File("b").c_str());

    EXPECT_TRUE(dm.FileClose(a));
    EXPECT_EQ(dm.GetOSHandle(a), -1);
    EXPECT_STREQ(dm.HandleName(name, a), "");
    EXPECT_EQ(dm.FileOpen(File("b").c_str(), 0, nullptr), 1);
    EXPECT_EQ(dm.FileOpen(File("a").c_str(), 0, nullptr), 3);
}

TEST_F(DiskMan, ClosingTwiceChangesNothingTheSecondTime) {
    const i32 h = dm.FileCreate(File("a").c_str());
    ASSERT_GT(h, 0);
    EXPECT_TRUE(dm.FileClose(h));
    ASSERT_EQ(dm.FileOpen(File("missing").c_str(), 0, nullptr), -1);
    const i32 error = dm.GetLastError();
    EXPECT_TRUE(dm.FileClose(h));
    EXPECT_EQ(dm.GetLastError(), error);  // a free handle leaves the last error alone
    EXPECT_EQ(dm.FileWrite(h, "x", 1), -1);
    char byte;
    EXPECT_EQ(dm.FileRead(h, &byte, 1), -1);
}

TEST_F(DiskMan, HandleBeyondTheTableIsInvalid) {
    ASSERT_EQ(dm.FileCreate(File("a").c_str()), 1);
    ASSERT_EQ(dm.FileCreate(File("b").c_str()), 2);
    EXPECT_GE(dm.GetOSHandle(2), 0);
    for (const i32 h : {3, 0, -1}) {
        SCOPED_TRACE(h);
        EXPECT_EQ(AssertText([&] { dm.GetOSHandle(h); }), "invalid handle used");
        EXPECT_EQ(dm.FileSize(h), -1);
        EXPECT_TRUE(dm.FileClose(h));
    }
}

TEST_F(DiskMan, WritesSeeksAndSizesKeepThePosition) {
    const i32 h = dm.FileCreate(File("data.bin").c_str());
    ASSERT_GT(h, 0);
    EXPECT_EQ(dm.FileWriteText(h, "0123456789"), 10);
    EXPECT_EQ(dm.GetLastError(), 0);
    EXPECT_EQ(dm.FileSeek(h, 4, 0), 4);
    EXPECT_EQ(dm.FileTell(h), 4);
    EXPECT_EQ(dm.FileSize(h), 10);
    EXPECT_EQ(dm.FileTell(h), 4);
    EXPECT_EQ(dm.FileWrite(h, "ab", 2), 2);
    EXPECT_EQ(dm.FileSeek(h, -3, 2), 7);
    EXPECT_EQ(dm.FileSeek(h, -2, 1), 5);
    char buffer[8] = {};
    EXPECT_EQ(dm.FileRead(h, buffer, 3), 3);
    EXPECT_STREQ(buffer, "b67");
    EXPECT_EQ(dm.FileSeek(h, -100, 0), -1);
    EXPECT_EQ(dm.GetLastError(), 252);  // the parameter is incorrect
    EXPECT_EQ(dm.FileSeek(h, 0, 7), -1);
    EXPECT_TRUE(dm.FileClose(h));
    EXPECT_EQ(ReadFileText(File("data.bin")), "0123ab6789");
}

TEST_F(DiskMan, ReadOnlyOpenRefusesWrites) {
    WriteFileText(File("r"), "abc");
    const i32 h = dm.FileOpen(File("r").c_str(), 0x20, nullptr);
    ASSERT_GT(h, 0);
    EXPECT_EQ(dm.FileWrite(h, "x", 1), 0);
    EXPECT_EQ(dm.GetLastError(), 228);  // the descriptor is not open for writing
    tString text;
    EXPECT_EQ(dm.FileReadString(h, text, 100), 3);
    EXPECT_STREQ(text, "abc");
    EXPECT_EQ(dm.FileReadString(h, text, 100), 0);
    EXPECT_STREQ(text, "");
}

TEST_F(DiskMan, ReadStringBeyondWhatAStringHoldsIsRefusedBeforeReading) {
    WriteFileText(File("big"), std::string(100, 'x'));
    const i32 h = dm.FileOpen(File("big").c_str(), 0, nullptr);
    ASSERT_GT(h, 0);
    tString text("kept");
    for (i32 count : {static_cast<i32>(tString::kMaxCapacity), INT32_MAX}) {
        SCOPED_TRACE(count);
        EXPECT_EQ(AssertText([&] { dm.FileReadString(h, text, count); }), "String size overflow!");
        EXPECT_STREQ(text, "kept");
        EXPECT_EQ(dm.FileTell(h), 0);
    }
}

TEST_F(DiskMan, ReadLineGivesLinesWithoutTheirEnds) {
    WriteFileText(File("t.txt"), std::string("one\r\ntwo\nthr\0ee\r\n\r\nlast", 23));
    const i32 h = dm.FileOpen(File("t.txt").c_str(), 0, nullptr);
    ASSERT_GT(h, 0);
    const struct {
        i32 consumed;
        std::string line;
    } expected[] = {{5, "one"}, {4, "two"}, {8, "thr"}, {2, ""}, {4, "last"}, {0, ""}};
    for (const auto& e : expected) {
        SCOPED_TRACE(e.line);
        char buffer[64];
        std::memset(buffer, 'z', sizeof buffer);
        const i32 n = dm.FileReadLine(h, buffer, sizeof buffer);
        EXPECT_EQ(n, e.consumed);
        if (n > 0) {
            EXPECT_EQ(std::string(buffer), e.line);
        }
    }
    EXPECT_EQ(AssertText([&] {
                  char one[1];
                  dm.FileReadLine(h, one, 1);
              }),
              "FileReadLine : invalid buffer size");
}

TEST_F(DiskMan, ReadLineGivesALongLineInPieces) {
    WriteFileText(File("long.txt"), "abcdefghij\nk\n");
    const i32 h = dm.FileOpen(File("long.txt").c_str(), 0, nullptr);
    char buffer[5];
    EXPECT_EQ(dm.FileReadLine(h, buffer, sizeof buffer), 4);
    EXPECT_STREQ(buffer, "abcd");
    EXPECT_EQ(dm.FileReadLine(h, buffer, sizeof buffer), 4);
    EXPECT_EQ(dm.FileReadLine(h, buffer, sizeof buffer), 3);
    EXPECT_STREQ(buffer, "ij");
    EXPECT_EQ(dm.FileReadLine(h, buffer, sizeof buffer), 2);
    EXPECT_STREQ(buffer, "k");
}

TEST_F(DiskMan, RenameCopyDeleteAndExists) {
    WriteFileText(File("a"), "AAA");
    WriteFileText(File("b"), "B");
    EXPECT_TRUE(dm.FileExists(File("a").c_str()));
    EXPECT_TRUE(dm.FileExists(("  " + File("a") + " ").c_str()));  // trimmed
    EXPECT_TRUE(dm.FileExists(dir.Path().c_str()));
    EXPECT_FALSE(dm.FileExists(File("A").c_str()));  // letter case counts

    EXPECT_EQ(dm.FileRename(File("a").c_str(), File("b").c_str()), -1);
    EXPECT_EQ(dm.GetLastError(), 25);
    EXPECT_EQ(ReadFileText(File("b")), "B");
    EXPECT_EQ(dm.FileRenameEx(File("a").c_str(), File("MixedCase").c_str()), 0);
    EXPECT_EQ(dm.GetLastError(), 0);
    EXPECT_EQ(ReadFileText(File("MixedCase")), "AAA");
    EXPECT_FALSE(dm.FileExists(File("a").c_str()));

    EXPECT_TRUE(dm.FileCopy(File("MixedCase").c_str(), File("b").c_str()));
    EXPECT_EQ(ReadFileText(File("b")), "AAA");
    EXPECT_FALSE(dm.FileCopy(File("none").c_str(), File("b").c_str()));
    EXPECT_EQ(dm.GetLastError(), 161);

    EXPECT_EQ(dm.FileDelete(File("b").c_str()), 0);
    EXPECT_FALSE(dm.FileExists(File("b").c_str()));
    EXPECT_EQ(dm.FileDelete(File("b").c_str()), -1);
    EXPECT_EQ(dm.GetLastError(), 161);
}

TEST_F(DiskMan, BackslashesSeparateAndCaseIsKept) {
    ASSERT_EQ(dm.MakeDir((dir.Path() + "\\Sub").c_str()), 0);
    const i32 h = dm.FileCreate((dir.Path() + "\\Sub\\File.TXT").c_str());
    ASSERT_GT(h, 0);
    dm.FileWriteText(h, "x");
    dm.FileClose(h);
    EXPECT_EQ(ReadFileText(File("Sub/File.TXT")), "x");
}

// Runs f in a child without root's privileges (permissions do not stop root) and gives its
// exit status.
int ExitOfUnprivileged(const std::function<int()>& f) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(255);
        ::_exit(f());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(DiskMan, FailuresGiveTheirCodeAndText) {
    ASSERT_EQ(dm.MakeDir(File("full").c_str()), 0);
    WriteFileText(File("full/x"), "");
    const struct {
        const char* what;
        std::function<bool()> fails;
        i32 fe;
        const char* text;
    } cases[] = {
        {"missing file", [&] { return dm.FileOpen(File("none").c_str(), 0, nullptr) == -1; }, 161,
         "The system cannot find the file specified."},
        {"missing path", [&] { return dm.FileOpen(File("no/x").c_str(), 0, nullptr) == -1; }, 430,
         "Win : The system cannot find the specified path."},
        {"directory not empty", [&] { return dm.RemoveDir(File("full").c_str()) == -1; }, 118,
         "The directory is not empty."},
        {"directory as file", [&] { return dm.FileOpen(File("full").c_str(), 2, nullptr) == -1; },
         52,
         "Win: The specified path name is invalid.\nLinux: Pathname refers to a directory and "
         "the access requested involved writing."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_TRUE(c.fails());
        EXPECT_EQ(dm.GetLastError(), c.fe);
        EXPECT_STREQ(dm.GetErrorText(dm.GetLastError()), c.text);
    }

    WriteFileText(File("secret"), "s");
    const int fe = ExitOfUnprivileged([&] {
        tDiskManLocal other;
        return other.FileOpen(File("secret").c_str(), 0, nullptr) == -1 ? other.GetLastError() : 0;
    });
    EXPECT_EQ(fe, 13);
    EXPECT_STREQ(dm.GetErrorText(13), "Access is denied.");
}

TEST_F(DiskMan, MakeDirTellsAMissingPathFromOtherFailures) {
    EXPECT_EQ(dm.MakeDir(File("a").c_str()), 0);
    EXPECT_EQ(dm.MakeDir(File("a").c_str()), 5);
    EXPECT_EQ(dm.GetLastError(), 25);
    EXPECT_EQ(dm.MakeDir(File("x/y").c_str()), 3);
    EXPECT_EQ(dm.GetLastError(), 430);
}

TEST_F(DiskMan, ArchivesAreRefusedWithTheirOperationNamedAndNothingWritten) {
    const std::string archive = File("files.zip");
    EXPECT_EQ(AssertText([&] { dm.ZipServerFiles(File("*.*").c_str(), archive.c_str(), 0); }),
              "ZipServerFiles not supported on tDiskManLocalAbs");
    EXPECT_EQ(AssertText([&] { dm.UnzipServerFile(archive.c_str(), File("out").c_str(), 0); }),
              "UnzipServerFile not supported on tDiskManLocalAbs");
    EXPECT_FALSE(dm.FileExists(archive.c_str()));
    EXPECT_FALSE(dm.FileExists(File("out").c_str()));
}

TEST(DiskManErrors, TextsOfTheCodes) {
    tDiskManLocal dm;
    const char* unexpected =
        "C\xF3"
        "digo de erro inesperado";
    const struct {
        i32 fe;
        const char* text;
    } cases[] = {
        {-1, "Operation failed or undefined error"},
        {0, "Operation sucess"},
        {52,
         "Win: The specified path name is invalid.\nLinux: Pathname refers to a directory and "
         "the access requested involved writing."},
        {8,
         "Unix : O_NONBLOCK | O_WRONLY is set, the named file  is  a FIFO and no process has "
         "the file open for reading. Or, the file is a device special file and no "
         "corresponding device exists."},
        {590, "Win : No error."},
        {1, unexpected},    // a code without text
        {360, unexpected},  // reached from a host code, yet without text
        {-2, unexpected},
        {691, unexpected},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fe);
        EXPECT_STREQ(dm.GetErrorText(c.fe), c.text);
    }
    // The accented letter is the one Windows-1252 byte 0xF3.
    const std::string bytes = dm.GetErrorText(691);
    EXPECT_EQ(bytes.substr(0, 3),
              "C\xF3"
              "d");
    EXPECT_EQ(bytes.size(), 25u);
}

TEST(DiskManErrors, HostCodesMapOneToOne) {
    tDiskManLocal dm;
    gmtest::ConsoleCapture console;
    const struct {
        i32 host;
        i32 fe;
    } cases[] = {{0, 0},     {-1, -1},  {-8, 589},   {-2, 583},   {2, 161},
                 {3, 430},   {5, 13},   {145, 118},  {161, 52},   {183, 25},
                 {206, 163}, {18, 360}, {1006, 160}, {1456, 332}, {267, 121}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.host);
        EXPECT_EQ(dm.hostToFE(c.host, "x.cpp", 1), c.fe);
    }
    EXPECT_EQ(console.Get(), "");

    EXPECT_EQ(dm.hostToFE(80, "caller.cpp", 42), -1);  // "file exists" has no mapping
    EXPECT_EQ(console.Get(), "*** hostToFE() cod [80] em [caller.cpp:42] inesperado\n");
}

}  // namespace
