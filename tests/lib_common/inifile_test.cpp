// tIniFile: the default section, the boolean reading, the section list and the file name.
#include "lib_common/inifile.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/tempdir.h"

namespace {

TEST(IniFileObject, NullSectionMeansTheDefaultSection) {
    gmtest::TempDir dir;
    const std::string path = dir.File("gatemill.ini");
    tIniFile ini(path.c_str(), "General");
    ASSERT_TRUE(ini.WriteInt(nullptr, "Port", 7890));
    ASSERT_TRUE(ini.WriteBool("Db", "On", 5));
    ASSERT_TRUE(ini.WriteBool("Db", "Off", 0));
    ASSERT_TRUE(ini.WriteString("Db", "Two", "2"));
    EXPECT_EQ(gmtest::ReadFileText(path),
              "[General]\r\nPort=7890\r\n[Db]\r\nOn=1\r\nOff=0\r\nTwo=2\r\n");

    EXPECT_EQ(ini.ReadInt("general", "port", 0), 7890);
    EXPECT_EQ(ini.ReadBool("Db", "Two", 0), 1);
    EXPECT_EQ(ini.ReadBool("Db", "Off", 1), 0);
    EXPECT_EQ(ini.ReadBool("Db", "Missing", 3), 1);
    tString text("stale");
    ini.ReadString(nullptr, "Missing", "dflt", text);
    EXPECT_STREQ(text.GetText(), "dflt");

    tList<tString> names;
    ini.ReadSectionNames(names);
    tIterator<tString> it(&names);
    ASSERT_EQ(names.Count(), 2);
    EXPECT_STREQ(it.Next()->GetText(), "General");
    EXPECT_STREQ(it.Next()->GetText(), "Db");

    ini.SetFile(nullptr, "Db");  // a null file name keeps the file
    EXPECT_STREQ(ini.GetFileName(), path.c_str());
    EXPECT_EQ(ini.ReadInt(nullptr, "Two", 0), 2);
    ASSERT_TRUE(ini.DeleteKey("General", "Port"));
    EXPECT_FALSE(ini.DeleteKey("Db", nullptr));  // never the whole section by mistake
    ASSERT_TRUE(ini.DeleteSection("Db"));
    EXPECT_EQ(gmtest::ReadFileText(path), "[General]\r\n");
}

TEST(IniFileObject, EmptyFileNameReadsDefaultsAndRefusesWrites) {
    tIniFile ini("", "General");
    EXPECT_EQ(ini.ReadInt(nullptr, "Port", 42), 42);
    EXPECT_FALSE(ini.WriteString(nullptr, "Port", "1"));
}

}  // namespace
