// Ini files: lookups read files as the Windows readers do; writes change only their lines,
// refuse texts that would break the file, and never lose the old file.
#include "platform/inifile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/tempdir.h"

namespace {

using gmtest::ReadFileText;
using gmtest::WriteFileText;

class IniFile : public ::testing::Test {
protected:
    gmtest::TempDir dir;
    const std::string ini = dir.File("gatemill.ini");

    std::string Read(const char* section, const char* key, const char* def = "dflt") {
        return plat::IniReadString(ini.c_str(), section, key, def);
    }
    bool Write(const char* section, const char* key, const char* value) {
        return plat::IniWriteString(ini.c_str(), section, key, value);
    }
    size_t DirEntries() const {
        size_t n = 0;
        for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
            (void)entry;
            ++n;
        }
        return n;
    }
};

TEST_F(IniFile, LookupsReadFilesAsWindowsDoes) {
    const std::string longValue(300, 'x');
    const struct {
        std::string file;
        const char* section;
        const char* key;
        std::string want;
    } cases[] = {
        {"[General]\r\nPort=7890\r\n", "general", "PORT", "7890"},
        {"[ General ]\n  Port  =  7890  \n", " GENERAL ", "port ", "7890"},
        {"[A]\nk=\"quoted value\"\n", "A", "k", "quoted value"},
        {"[A]\nk=  ' padded '  \n", "A", "k", " padded "},
        {"[A]\nk=\"mixed'\n", "A", "k", "\"mixed'"},
        {"[A]\nk=\"\n", "A", "k", "\""},
        {"[A]\nk=" + longValue + "\n", "A", "k", std::string(254, 'x')},
        {"[A]\nk=\"" + longValue + "\"\n", "A", "k", std::string(254, 'x')},
        {"[A]\nk=\n", "A", "k", ""},
        {"[A]\nk\n", "A", "k", "dflt"},
        {"[A]\nk=v\n", "A", "missing", "dflt"},
        {"[A]\nk=v\n", "Missing", "k", "dflt"},
        {"k=v\n[A]\n", "A", "k", "dflt"},
        {"[A]\nx=1\n[B]\nk=2\n", "A", "k", "dflt"},
        {"[A]\nk=1\n[B]\nk=2\n[a]\nk=3\nj=4\n", "a", "k", "1"},
        {"[A]\nk=1\n[B]\nk=2\n[a]\nk=3\nj=4\n", "A", "j", "dflt"},
        {"[A]\nk=1\nK=2\n", "A", "k", "1"},
        {"[A]\nk=a=b\n", "A", "k", "a=b"},
        {"[A]\r\nk=v\r\n[B]\nj=w\rl=z", "B", "l", "z"},
        {"[A] trailing text\nk=v", "A", "k", "v"},
        {"\xEF\xBB\xBF[A]\nk=v\n", "A", "k", "v"},
        {"[A]\npassword=\xE9\xF0\x81\xFF\n", "A", "PASSWORD", "\xE9\xF0\x81\xFF"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        WriteFileText(ini, c.file);
        EXPECT_EQ(Read(c.section, c.key), c.want);
    }
}

TEST_F(IniFile, DefaultComesBackWhenFileOrArgumentIsMissing) {
    EXPECT_EQ(Read("A", "k", "seven  "), "seven");  // the file is missing; trailing blanks go
    EXPECT_EQ(Read("A", "k", nullptr), "");
    WriteFileText(ini, "[A]\nk=v\n");
    EXPECT_EQ(Read(nullptr, "k"), "dflt");
    EXPECT_EQ(Read("A", nullptr), "dflt");
    EXPECT_EQ(Read("A", "none", std::string(300, 'd').c_str()), std::string(254, 'd'));
}

TEST_F(IniFile, IntegersAreSignAndLeadingDigits) {
    WriteFileText(ini,
                  "[N]\na=42\nb=-17\nc=+5\nd=12abc\ne=abc\nf=\ng= 7 \nh=\"-3\"\ni=-\n"
                  "j=0x1F\nk=2147483647\n");
    const struct {
        const char* key;
        int want;
    } cases[] = {{"a", 42}, {"b", -17}, {"c", 5}, {"d", 12}, {"e", 0},        {"f", 99},
                 {"g", 7},  {"h", -3},  {"i", 0}, {"j", 0},  {"missing", 99}, {"k", 2147483647}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        EXPECT_EQ(plat::IniReadInt(ini.c_str(), "n", c.key, 99), c.want);
    }
}

TEST_F(IniFile, SectionNamesComeInFileOrder) {
    EXPECT_TRUE(plat::IniReadSectionNames(ini.c_str()).empty());
    WriteFileText(ini, "k=v\r\n[General]\r\nPort=1\r\n[ mssql/ERP ]\r\n\r\n[general]\r\n");
    EXPECT_EQ(plat::IniReadSectionNames(ini.c_str()),
              (std::vector<std::string>{"General", "mssql/ERP", "general"}));
}

TEST_F(IniFile, WritesCreateFileAndSectionsAndRewriteOnlyTheirLine) {
    ASSERT_TRUE(Write("General", "Port", "7890"));
    EXPECT_EQ(ReadFileText(ini), "[General]\r\nPort=7890\r\n");
    ASSERT_TRUE(Write("general", "Host", "h"));
    ASSERT_TRUE(Write("Other", "K", "v"));
    ASSERT_TRUE(Write("GENERAL", " port ", "1"));
    EXPECT_EQ(ReadFileText(ini), "[General]\r\nPort=1\r\nHost=h\r\n[Other]\r\nK=v\r\n");

    WriteFileText(ini, "; note\n[General]\nPort = 1\n\n[Db]\nx=y");
    ::chmod(ini.c_str(), 0640);
    ASSERT_TRUE(Write("general", "Host", "h"));
    ASSERT_TRUE(Write("db", "z", "w"));
    ASSERT_TRUE(Write("New", "a", "b"));
    EXPECT_EQ(ReadFileText(ini),
              "; note\n[General]\nPort = 1\nHost=h\r\n\n[Db]\nx=y\r\nz=w\r\n[New]\r\na=b\r\n");
    struct stat st {};
    ASSERT_EQ(::stat(ini.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(DirEntries(), 1u);  // no temporary file stays behind
}

TEST_F(IniFile, ValuesStayEightBitClean) {
    std::string value;
    for (int c = 0x80; c <= 0xFF; ++c) value += static_cast<char>(c);
    ASSERT_TRUE(Write("A", "password", value.c_str()));
    EXPECT_EQ(Read("a", "PASSWORD"), value);
}

TEST_F(IniFile, DeletesRemoveKeysAndWholeSections) {
    WriteFileText(ini, "[A]\r\nk=1\r\nj=2\r\nk=3\r\n[B]\r\nk=4\r\n[a]\r\nm=5\r\n[C]\r\n");
    ASSERT_TRUE(Write("a", "K", nullptr));
    EXPECT_EQ(ReadFileText(ini), "[A]\r\nj=2\r\n[B]\r\nk=4\r\n[a]\r\nm=5\r\n[C]\r\n");
    ASSERT_TRUE(Write("A", nullptr, nullptr));
    EXPECT_EQ(ReadFileText(ini), "[B]\r\nk=4\r\n[C]\r\n");
    ASSERT_TRUE(Write("B", "absent", nullptr));
    ASSERT_TRUE(Write("absent", nullptr, nullptr));
    EXPECT_EQ(ReadFileText(ini), "[B]\r\nk=4\r\n[C]\r\n");

    const std::string missing = dir.File("none.ini");
    EXPECT_TRUE(plat::IniWriteString(missing.c_str(), "A", "k", nullptr));
    EXPECT_FALSE(std::filesystem::exists(missing));
}

TEST_F(IniFile, TextsThatWouldBreakTheFileAreRefused) {
    const std::string before = "[A]\r\nk=v\r\n";
    WriteFileText(ini, before);
    const struct {
        const char* section;
        const char* key;
        const char* value;
    } cases[] = {
        {"A\r", "k", "v"},   {"A", "k\n", "v"},         {"A", "k", "v\r\nX=1"}, {"A", "k", "v\n"},
        {"[A", "k", "v"},    {"A]", "k", "v"},          {"A", "k=x", "v"},      {"A", " [k]", "v"},
        {nullptr, "k", "v"}, {"A\n", nullptr, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << (c.section ? c.section : "(null)") << "|" << (c.key ? c.key : "(null)")
                     << "|" << (c.value ? c.value : "(null)"));
        EXPECT_FALSE(Write(c.section, c.key, c.value));
        EXPECT_EQ(ReadFileText(ini), before);
    }
}

// Writes through an unprivileged child when the test runs as root, whom permissions don't stop.
bool WriteWithoutPrivileges(const std::string& path) {
    if (::geteuid() != 0) return plat::IniWriteString(path.c_str(), "A", "k", "new");
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
        ::_exit(plat::IniWriteString(path.c_str(), "A", "k", "new") ? 1 : 0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_NE(WEXITSTATUS(status), 3) << "could not drop privileges";
    return WEXITSTATUS(status) != 0;
}

TEST_F(IniFile, FailedWriteLeavesOldFileWhole) {
    const std::string before = "[A]\r\nk=old\r\n[B]\r\nj=1\r\n";
    WriteFileText(ini, before);
    ::chmod(ini.c_str(), 0644);
    ASSERT_EQ(::chmod(dir.Path().c_str(), 0555), 0);
    EXPECT_FALSE(WriteWithoutPrivileges(ini));
    EXPECT_EQ(ReadFileText(ini), before);
    EXPECT_EQ(DirEntries(), 1u);
    EXPECT_FALSE(plat::IniReplaceFile(dir.File("sub/none.ini").c_str(), "x", 1));
}

TEST_F(IniFile, ReplaceFileSwapsTheWholeText) {
    WriteFileText(ini, "[A]\r\nk=old\r\n");
    const std::string text("[B]\r\nj=\x00\xFF\r\n", 12);
    ASSERT_TRUE(plat::IniReplaceFile(ini.c_str(), text.data(), text.size()));
    EXPECT_EQ(ReadFileText(ini), text);
    EXPECT_EQ(DirEntries(), 1u);
    const std::string windowsPath = dir.Path() + "\\gatemill.ini";  // '\\' is a separator
    EXPECT_EQ(plat::IniReadSectionNames(windowsPath.c_str()), std::vector<std::string>{"B"});
}

}  // namespace
