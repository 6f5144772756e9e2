// The disk manager's roots, names, directories, listings, times and free space.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>
#include <string>

#include "lib_base/diskman.h"
#include "tests/support/tempdir.h"

namespace {

using gmtest::WriteFileText;

// The disk manager's spelling of a host path.
std::string Backslashed(std::string path) {
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

class DiskManPaths : public ::testing::Test {
protected:
    gmtest::TempDir dir;
    tDiskManLocal dm;

    std::set<std::string> Names(const char* pattern, const char* letters) {
        tDMFileList list;
        const i32 n = dm.Directory(pattern, letters, list);
        EXPECT_EQ(n, list.Count());
        std::set<std::string> names;
        for (i32 i = 0; i < list.Count(); ++i) names.insert(list[i]->name.GetText());
        return names;
    }
};

TEST_F(DiskManPaths, FirstRootNeverClimbsAboveTheSecond) {
    ASSERT_EQ(::mkdir(dir.File("sub").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(dir.File("sub/deeper").c_str(), 0755), 0);
    ASSERT_TRUE(dm.SetRootPath2((dir.Path() + "/").c_str()));
    EXPECT_STREQ(dm.GetRootPath2(), Backslashed(dir.Path()).c_str());
    EXPECT_STREQ(dm.GetRootPath(), "\\");

    const struct {
        const char* path;
        i32 result;
        const char* root;
    } steps[] = {
        {"sub", 0, "\\sub"},
        {"deeper", 0, "\\sub\\deeper"},
        {"..", 0, "\\sub"},
        {"missing", -1, "\\sub"},  // the old root stays
        {"..", 0, "\\"},
        {"..", 0, "\\"},
        {"/sub/deeper", 0, "\\sub\\deeper"},
        {"..\\..\\..\\..", 0, "\\"},
        {"sub/./deeper/../../..", 0, "\\"},
        {"\\..\\sub", 0, "\\sub"},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.path);
        EXPECT_EQ(dm.SetRootPath(s.path), s.result);
        EXPECT_STREQ(dm.GetRootPath(), s.root);
    }
    EXPECT_EQ(dm.GetLastError(), 0);
    EXPECT_EQ(dm.SetRootPath("nothing"), -1);
    EXPECT_EQ(dm.GetLastError(), 161);

    // A second root that is no directory is refused and changes nothing.
    EXPECT_FALSE(dm.SetRootPath2(dir.File("none").c_str()));
    EXPECT_STREQ(dm.GetRootPath(), "\\sub");
}

TEST_F(DiskManPaths, NamesArePlacedUnderTheRoots) {
    ASSERT_EQ(::mkdir(dir.File("sub").c_str(), 0755), 0);
    ASSERT_TRUE(dm.SetRootPath2(dir.Path().c_str()));
    ASSERT_EQ(dm.SetRootPath("sub"), 0);
    const std::string base = Backslashed(dir.Path());
    const struct {
        const char* name;
        std::string out;
    } cases[] = {
        {"report.txt", base + "\\sub\\report.txt"},
        {" a/b.txt ", base + "\\sub\\a\\b.txt"},
        {"\\top.txt", base + "\\sub\\top.txt"},
        {"C:\\client\\x", "C:\\client\\x"},
        {"COM2", "COM2"},
        {"servercom2", "servercom2"},
        {"servercom5", base + "\\sub\\servercom5"},
        {"\\\\host\\share\\f", "\\\\host\\share\\f"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        tString out;
        EXPECT_TRUE(dm.ServerPath(c.name, out));
        EXPECT_STREQ(out, c.out.c_str());
    }
    // A name already under the roots keeps its place.
    const std::string inside = base + "\\sub\\x.txt";
    tString out;
    dm.ServerPath(inside.c_str(), out);
    EXPECT_STREQ(out, inside.c_str());

    dm.MakeFullPath(out, "/f.txt");
    EXPECT_STREQ(out, "\\sub\\f.txt");
    dm.MakeFullPath(out, "f.txt");
    EXPECT_STREQ(out, "f.txt");
}

TEST(DiskManPathText, NormalizeAndClientPaths) {
    tDiskManLocal dm;
    const struct {
        const char* in;
        const char* out;
    } normal[] = {
        {"a/\\/b", "ab"}, {"/x/\\/y\\z/w", "\\xy\\z\\w"}, {"/\\//\\/", ""}, {"plain", "plain"}};
    for (const auto& c : normal) {
        SCOPED_TRACE(c.in);
        tString text(c.in);
        EXPECT_TRUE(dm.NormalizePath(text));
        EXPECT_STREQ(text, c.out);
    }
    const struct {
        const char* name;
        bool client;
    } client[] = {{"c:\\data", true}, {"Z:x", true},   {"com1", true},        {"LPT4", true},
                  {"COM5", false},    {"LPT0", false}, {"SERVERCOM2", false}, {"serverlpt1", false},
                  {"data\\x", false}, {"", false},     {nullptr, false}};
    for (const auto& c : client) {
        SCOPED_TRACE(c.name ? c.name : "(null)");
        EXPECT_EQ(dm.IsClientPath(c.name), c.client);
    }
}

TEST_F(DiskManPaths, ListingChoosesKindsByLetters) {
    WriteFileText(dir.File("a.txt"), "12345");
    WriteFileText(dir.File("b.log"), "");
    WriteFileText(dir.File("noext"), "");
    WriteFileText(dir.File(".hid"), "");
    ASSERT_EQ(::mkdir(dir.File("sub").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(dir.File(".hiddendir").c_str(), 0755), 0);
    const std::string all = dir.Path() + "\\*.*";

    using Set = std::set<std::string>;
    EXPECT_EQ(Names(all.c_str(), ""), (Set{"a.txt", "b.log", "noext"}));
    EXPECT_EQ(Names(all.c_str(), nullptr), (Set{"a.txt", "b.log", "noext"}));
    EXPECT_EQ(Names(all.c_str(), "d"), (Set{"a.txt", "b.log", "noext", "sub", ".", ".."}));
    EXPECT_EQ(Names(all.c_str(), "H"), (Set{"a.txt", "b.log", "noext", ".hid"}));
    EXPECT_EQ(Names(all.c_str(), "DH"),
              (Set{"a.txt", "b.log", "noext", ".hid", "sub", ".", "..", ".hiddendir"}));
    EXPECT_EQ(Names((dir.Path() + "/*.TXT").c_str(), ""), (Set{"a.txt"}));
    EXPECT_EQ(Names((dir.Path() + "/?.log").c_str(), ""), (Set{"b.log"}));
    EXPECT_EQ(Names((dir.Path() + "/*.none").c_str(), "D"), Set{});
    EXPECT_EQ(dm.GetLastError(), 161);

    tDMFileList list;
    ASSERT_EQ(dm.Directory((dir.Path() + "/a.txt").c_str(), "", list), 1);
    EXPECT_EQ(list[0]->size, 5u);
    tString letters;
    AttributesToText(*list[0], letters);
    EXPECT_STREQ(letters, "N");

    tDMFileList volume;
    EXPECT_EQ(dm.Directory(all.c_str(), "DV", volume), 1);
    AttributesToText(*volume[0], letters);
    EXPECT_STREQ(letters, "OV");
    EXPECT_STREQ(volume[0]->name, "");
}

TEST_F(DiskManPaths, SearchesEndAndFreeTheirSlot) {
    WriteFileText(dir.File("one"), "");
    tDMFileInfo info;
    const i32 search = dm.FindFirst((dir.Path() + "/o*").c_str(), info);
    ASSERT_EQ(search, 1);
    EXPECT_STREQ(info.name, "one");
    EXPECT_FALSE(dm.FindNext(search, info));
    EXPECT_TRUE(dm.FindClose(search));
    EXPECT_FALSE(dm.FindClose(search));
    EXPECT_FALSE(dm.FindNext(search, info));
    EXPECT_EQ(dm.FindFirst((dir.Path() + "/o*").c_str(), info), 1);
    EXPECT_EQ(dm.FindFirst(dir.File("none/*").c_str(), info), 0);
    EXPECT_EQ(dm.GetLastError(), 430);
}

TEST_F(DiskManPaths, RemoveTreeTakesDotFilesButNotWhatLinksLeadTo) {
    gmtest::TempDir outside;
    WriteFileText(outside.File("keep"), "k");
    ASSERT_EQ(::mkdir(dir.File("t").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(dir.File("t/d").c_str(), 0755), 0);
    WriteFileText(dir.File("t/d/.profile"), "");
    WriteFileText(dir.File("t/f"), "");
    ASSERT_EQ(::symlink(outside.Path().c_str(), dir.File("t/d/link").c_str()), 0);

    EXPECT_TRUE(dm.RemoveTree(dir.File("t").c_str()));
    EXPECT_FALSE(dm.DirExists(dir.File("t").c_str()));
    EXPECT_EQ(gmtest::ReadFileText(outside.File("keep")), "k");
    EXPECT_FALSE(dm.RemoveTree(dir.File("t").c_str()));
    WriteFileText(dir.File("file"), "");
    EXPECT_FALSE(dm.RemoveTree(dir.File("file").c_str()));
}

TEST_F(DiskManPaths, TimesAreSetAndRead) {
    WriteFileText(dir.File("f"), "x");
    const i64 when = 1000000000;
    EXPECT_TRUE(dm.FileSetTime(dir.File("f").c_str(), when));
    i64 time = 0;
    EXPECT_TRUE(dm.FileGetTime(-1, time, dir.File("f").c_str()));
    EXPECT_EQ(time, when);
    const i32 h = dm.FileOpen(dir.File("f").c_str(), 0, nullptr);
    time = 0;
    EXPECT_TRUE(dm.FileGetTime(h, time, nullptr));
    EXPECT_EQ(time, when);
    EXPECT_TRUE(dm.FileGetTime(h + 1, time, nullptr));  // a free handle: nothing to read

    EXPECT_FALSE(dm.FileGetTime(h, time, dir.File("none").c_str()));
    EXPECT_FALSE(dm.FileSetTime(dir.File("none").c_str(), when));
    EXPECT_EQ(dm.GetLastError(), 161);
    EXPECT_FALSE(dm.FileSetTime(nullptr, when));
}

TEST_F(DiskManPaths, FreeSpaceTempNamesAndDevices) {
    EXPECT_GT(dm.GetDiskFree(dir.Path().c_str()), 0.0);
    EXPECT_GT(dm.GetDriveFree(0), 0.0);   // the current root: the whole tree
    EXPECT_EQ(dm.GetDriveFree(3), -1.0);  // no drive letters here
    EXPECT_EQ(dm.GetDiskFree(dir.File("none/x").c_str()), -1.0);

    tString path;
    const i32 length = dm.GetTempPath(path);
    EXPECT_EQ(length, path.GetLength());
    EXPECT_EQ(path.At(path.GetLength() - 1), '\\');
    tString name;
    EXPECT_NE(dm.GetTempFileName(dir.Path().c_str(), "log", name), 0u);
    EXPECT_EQ(std::string(name.GetText()).rfind(Backslashed(dir.File("log")), 0), 0u);
    EXPECT_TRUE(dm.FileExists(name));
    EXPECT_EQ(dm.GetTempFileName(dir.File("none").c_str(), "log", name), 0u);
    EXPECT_EQ(dm.GetLastError(), 430);

    // A serial line opened with device parameters; a plain file cannot take them.
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const i32 line = dm.FileOpen(::ptsname(master), 2, nullptr);
    EXPECT_GT(line, 0);
    EXPECT_TRUE(dm.FileClose(line));
    EXPECT_GT(dm.FileOpen(::ptsname(master), 2, "4800,0,8,0,200"), 0);
    EXPECT_EQ(dm.FileOpen(::ptsname(master), 2, "1234,0,8,0"), -1);
    EXPECT_EQ(dm.GetLastError(), 252);
    ::close(master);
    WriteFileText(dir.File("plain"), "");
    EXPECT_EQ(dm.FileOpen(dir.File("plain").c_str(), 2, ""), -1);
    EXPECT_EQ(dm.GetLastError(), 222);
}

TEST_F(DiskManPaths, ServerPortNamesOpenDevicesNotFiles) {
    if (::access("/dev/ttyS1", F_OK) == 0 || ::access("/dev/lp2", F_OK) == 0) {
        GTEST_SKIP() << "this machine has the ports";
    }
    // Files of the same names in the current directory are not what the names open.
    tString before;
    ASSERT_TRUE(dm.GetCurDir(before));
    ASSERT_TRUE(dm.ChDir(dir.Path().c_str()));
    WriteFileText(dir.File("SERVERCOM2"), "");
    WriteFileText(dir.File("serverlpt3"), "");
    WriteFileText(dir.File("servercom5"), "");
    EXPECT_EQ(dm.FileOpen("SERVERCOM2", 2, "9600,0,8,0"), -1);
    EXPECT_EQ(dm.GetLastError(), 161);
    EXPECT_EQ(dm.FileOpen("serverlpt3", 2, nullptr), -1);
    EXPECT_EQ(dm.GetLastError(), 161);
    EXPECT_GT(dm.FileOpen("servercom5", 2, nullptr), 0);  // no port: an ordinary name
    EXPECT_TRUE(dm.ChDir(before));
}

TEST_F(DiskManPaths, CurrentDirectoryFollowsChDir) {
    tString before;
    ASSERT_TRUE(dm.GetCurDir(before));
    ASSERT_TRUE(dm.ChDir(dir.Path().c_str()));
    tString now;
    EXPECT_TRUE(dm.GetCurDir(now));
    EXPECT_STREQ(now, Backslashed(dir.Path()).c_str());
    EXPECT_STREQ(dm.GetRootPath(), now);
    EXPECT_TRUE(dm.ResetCurDir());
    EXPECT_FALSE(dm.ChDir(dir.File("none").c_str()));
    EXPECT_EQ(dm.GetLastError(), 161);
    EXPECT_TRUE(dm.ChDir(before));
}

}  // namespace
