// The file layer: errno values become the Windows codes the disk manager expects, renames never
// replace, copies never destroy their source, listings and serial lines work on real files.
#include "platform/files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <set>
#include <string>

#include "tests/support/tempdir.h"

namespace {

using gmtest::ReadFileText;
using gmtest::WriteFileText;

TEST(Files, ErrnoBecomesTheWindowsCode) {
    gmtest::TempDir dir;
    const struct {
        int err;
        std::string path;
        int win;
    } cases[] = {
        {ENOENT, dir.File("missing.txt"), 2},
        {ENOENT, dir.File("nodir/missing.txt"), 3},
        {ENOENT, "relative-without-directory", 2},
        {EACCES, "", 5},
        {EPERM, "", 5},
        {EBADF, "", 6},
        {ENOMEM, "", 8},
        {EROFS, "", 19},
        {EINVAL, "", 87},
        {ENOSPC, "", 112},
        {ENOTEMPTY, "", 145},
        {EEXIST, "", 183},
        {ENAMETOOLONG, "", 206},
        {EMFILE, "", 4},
        {EISDIR, "", 161},
        {ENOTDIR, "", 267},
        {ESTALE, "", 1006},
        {ECHILD, "", plat::kUnmappedErrnoBase + ECHILD},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.err);
        EXPECT_EQ(plat::WindowsErrorOf(c.err, c.path), c.win);
    }
}

TEST(Files, FailedCallsLeaveTheirCode) {
    gmtest::TempDir dir;
    EXPECT_FALSE(plat::OpenFile(dir.File("none").c_str(), false, false).IsValid());
    EXPECT_EQ(plat::LastFileError(), 2);
    EXPECT_FALSE(plat::OpenFile((dir.Path() + "\\no\\none").c_str(), true, true).IsValid());
    EXPECT_EQ(plat::LastFileError(), 3);  // backslashes separate as slashes do
    // A directory is no file, for reading as for writing.
    EXPECT_FALSE(plat::OpenFile(dir.Path().c_str(), false, false).IsValid());
    EXPECT_EQ(plat::LastFileError(), 161);
    EXPECT_FALSE(plat::OpenFile(dir.Path().c_str(), true, false).IsValid());
    EXPECT_EQ(plat::LastFileError(), 161);
}

TEST(Files, OpeningAPipeWithoutWriterDoesNotWait) {
    gmtest::TempDir dir;
    ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0600), 0);
    plat::UniqueFd fifo = plat::OpenFile(dir.File("fifo").c_str(), false, false);
    ASSERT_TRUE(fifo.IsValid());
    char byte;
    EXPECT_EQ(plat::ReadFile(fifo.Get(), &byte, 1), 0);  // no writer: the end, at once
}

TEST(Files, RenameNeverReplacesTheTarget) {
    gmtest::TempDir dir;
    WriteFileText(dir.File("a"), "A");
    WriteFileText(dir.File("b"), "B");
    EXPECT_FALSE(plat::RenameNoReplace(dir.File("a").c_str(), dir.File("b").c_str()));
    EXPECT_EQ(plat::LastFileError(), 183);
    EXPECT_EQ(ReadFileText(dir.File("a")), "A");
    EXPECT_EQ(ReadFileText(dir.File("b")), "B");

    EXPECT_FALSE(plat::RenameNoReplace(dir.File("a").c_str(), dir.File("no/c").c_str()));
    EXPECT_EQ(plat::LastFileError(), 3);
    EXPECT_FALSE(plat::RenameNoReplace(dir.File("none").c_str(), dir.File("c").c_str()));
    EXPECT_EQ(plat::LastFileError(), 2);

    EXPECT_TRUE(plat::RenameNoReplace(dir.File("a").c_str(), dir.File("c").c_str()));
    EXPECT_EQ(ReadFileText(dir.File("c")), "A");
}

TEST(Files, CopyReplacesTargetButNeverDestroysItsSource) {
    gmtest::TempDir dir;
    const std::string big(100000, 'x');
    WriteFileText(dir.File("src"), big);
    WriteFileText(dir.File("dst"), std::string(200000, 'y'));
    ASSERT_TRUE(plat::CopyFile(dir.File("src").c_str(), dir.File("dst").c_str()));
    EXPECT_EQ(ReadFileText(dir.File("dst")), big);

    ASSERT_EQ(::symlink(dir.File("src").c_str(), dir.File("alias").c_str()), 0);
    EXPECT_FALSE(plat::CopyFile(dir.File("src").c_str(), dir.File("alias").c_str()));
    EXPECT_EQ(plat::LastFileError(), 32);
    EXPECT_EQ(ReadFileText(dir.File("src")), big);
}

TEST(Files, ListingGivesEveryEntryWithItsKind) {
    gmtest::TempDir dir;
    WriteFileText(dir.File("plain.txt"), "12345");
    WriteFileText(dir.File(".hidden"), "");
    WriteFileText(dir.File("locked"), "");
    ::chmod(dir.File("locked").c_str(), 0444);
    ASSERT_EQ(::mkdir(dir.File("sub").c_str(), 0755), 0);
    ASSERT_EQ(::symlink("sub", dir.File("link").c_str()), 0);
    ASSERT_EQ(::symlink("nowhere", dir.File("dangling").c_str()), 0);

    plat::DirReader reader;
    ASSERT_TRUE(reader.Open(dir.Path().c_str()));
    std::set<std::string> seen;
    std::string name;
    plat::FileFacts facts;
    while (reader.Next(name, facts)) {
        seen.insert(name);
        SCOPED_TRACE(name);
        const std::uint32_t expected = name == "plain.txt" ? plat::kAttrNormal
                                       : name == ".hidden" ? plat::kAttrHidden
                                       : name == "locked"  ? plat::kAttrReadOnly
                                       : name == "link" ? plat::kAttrDirectory | plat::kAttrReparse
                                       : name == "dangling" ? plat::kAttrReparse
                                                            : plat::kAttrDirectory;
        EXPECT_EQ(facts.attributes, expected);
        if (name == "plain.txt") {
            EXPECT_EQ(facts.size, 5u);
        }
    }
    EXPECT_EQ(seen, (std::set<std::string>{".", "..", "plain.txt", ".hidden", "locked", "sub",
                                           "link", "dangling"}));
    plat::DirReader missing;
    EXPECT_FALSE(missing.Open(dir.File("none").c_str()));
    EXPECT_EQ(plat::LastFileError(), 3);
}

TEST(Files, TempFilesAreNewAndDistinct) {
    gmtest::TempDir dir;
    std::string first;
    std::string second;
    const unsigned a = plat::CreateTempFile(dir.Path().c_str(), "gmlog", first);
    const unsigned b = plat::CreateTempFile(dir.Path().c_str(), "gmlog", second);
    ASSERT_NE(a, 0u);
    ASSERT_NE(b, 0u);
    EXPECT_NE(first, second);
    EXPECT_EQ(first.rfind(dir.File("gml"), 0), 0u);
    EXPECT_EQ(first.size(), dir.File("gml").size() + 8);  // four hex digits and ".TMP"
    EXPECT_EQ(::access(first.c_str(), F_OK), 0);
    EXPECT_EQ(plat::CreateTempFile(dir.File("none").c_str(), "x", first), 0u);
    EXPECT_EQ(plat::LastFileError(), 3);
}

TEST(Files, SerialSettingsReachTheLine) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    plat::UniqueFd line = plat::OpenFile(::ptsname(master), true, false);
    ASSERT_TRUE(line.IsValid());

    // A pseudo-terminal keeps eight data bits without parity whatever it is told, so the frame
    // is left at its default here.
    plat::SerialSettings s;
    s.baud = 19200;
    s.stopBits = 2;
    s.readTimeoutMs = 450;
    ASSERT_TRUE(plat::SetSerial(line.Get(), s));
    struct termios tio;
    ASSERT_EQ(::tcgetattr(line.Get(), &tio), 0);
    EXPECT_EQ(::cfgetospeed(&tio), static_cast<speed_t>(B19200));
    EXPECT_NE(tio.c_cflag & CSTOPB, 0u);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO), 0u);  // raw bytes
    EXPECT_EQ(tio.c_cc[VMIN], 0);
    EXPECT_EQ(tio.c_cc[VTIME], 5);  // 450 ms rounded up to tenths of a second

    s.baud = 12345;
    EXPECT_FALSE(plat::SetSerial(line.Get(), s));
    EXPECT_EQ(plat::LastFileError(), 87);
    ::close(master);
}

TEST(Files, SerialSettingsRefuseAPlainFile) {
    gmtest::TempDir dir;
    plat::UniqueFd file = plat::OpenFile(dir.File("f").c_str(), true, true);
    ASSERT_TRUE(file.IsValid());
    EXPECT_FALSE(plat::SetSerial(file.Get(), plat::SerialSettings()));
    EXPECT_EQ(plat::LastFileError(), 1);
}

}  // namespace
