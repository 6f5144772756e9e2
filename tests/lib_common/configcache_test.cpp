// The configuration cache: values read once until a flush, one entry per kind, section and key
// in any case, writes seen at once, and the lookup chains with their password deciphering.
#include "lib_common/configcache.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/inifile.h"
#include "tests/lib_common/support/inipassword.h"
#include "tests/support/tempdir.h"

namespace {

class ConfigCache : public ::testing::Test {
protected:
    gmtest::TempDir dir;
    const std::string ini = dir.File("gatemill.ini");

    // Changes the file behind the cache's back.
    void SetInFile(const char* section, const char* key, const char* value) {
        ASSERT_TRUE(plat::IniWriteString(ini.c_str(), section, key, value));
    }
    std::string String(tConfigCache& cache, const char* section, const char* key,
                       const char* def = "dflt") {
        tString out;
        cache.GetString(section, key, def, out);
        return out.GetText();
    }
};

TEST_F(ConfigCache, ValueIsReadOnceUntilFlush) {
    SetInFile("General", "Port", "7890");
    tConfigCache cache(ini.c_str());
    EXPECT_EQ(cache.GetInt("General", "Port", 1), 7890);
    EXPECT_EQ(cache.GetInt("General", "Absent", 5), 5);
    SetInFile("General", "Port", "7891");
    SetInFile("General", "Absent", "6");

    EXPECT_EQ(cache.GetInt("GENERAL", "PORT", 1), 7890);  // the same entry, any case
    EXPECT_EQ(cache.GetInt("general", "absent", 7), 5);   // the first default stays cached
    EXPECT_EQ(String(cache, "General", "Port"), "7891");  // a string read is its own entry
    cache.Flush();
    EXPECT_EQ(cache.GetInt("General", "Port", 1), 7891);
    EXPECT_EQ(cache.GetInt("General", "Absent", 7), 6);
}

TEST_F(ConfigCache, KindsReadTheirOwnWay) {
    SetInFile("General", "Flag", "2");
    SetInFile("General", "Name", "  \"gate mill\"  ");
    tConfigCache cache(ini.c_str());
    EXPECT_EQ(cache.GetBool("General", "Flag", 0), 1);
    EXPECT_EQ(cache.GetBool("General", "Missing", 7), 1);
    EXPECT_EQ(cache.GetBool("General", "Missing2", 0), 0);
    EXPECT_EQ(String(cache, "General", "Name"), "gate mill");
    EXPECT_EQ(String(cache, "General", "Missing"), "dflt");
    EXPECT_EQ(String(cache, "General", "Missing"), "dflt");  // found in the table this time
}

TEST_F(ConfigCache, WritesAndDeletesAreSeenAtOnce) {
    tConfigCache cache(ini.c_str());
    EXPECT_EQ(String(cache, "General", "Port"), "dflt");
    ASSERT_TRUE(cache.WriteString("General", "Port", "7890"));
    EXPECT_EQ(String(cache, "General", "Port"), "7890");
    ASSERT_TRUE(cache.WriteInt("general", "port", -12));
    EXPECT_EQ(cache.GetInt("General", "Port", 0), -12);
    ASSERT_TRUE(cache.DeleteKey("General", "Port"));
    EXPECT_EQ(cache.GetInt("General", "Port", 3), 3);
    ASSERT_TRUE(cache.WriteString("Other", "K", "v"));
    EXPECT_EQ(String(cache, "Other", "K"), "v");
    ASSERT_TRUE(cache.DeleteSection("OTHER"));
    EXPECT_EQ(String(cache, "Other", "K"), "dflt");

    EXPECT_EQ(cache.GetInt("General", "Refused", 4), 4);
    EXPECT_FALSE(cache.WriteString("General", "Refused", "1\r\n[x]"));
    EXPECT_EQ(cache.GetInt("General", "Refused", 4), 4);
    EXPECT_STREQ(cache.GetIniFile()->GetFileName(), ini.c_str());
}

TEST_F(ConfigCache, StringChainFallsBackToTypeThenGeneral) {
    SetInFile("General", "Key1", "general1");
    SetInFile("General", "Key3", "general3");
    SetInFile("MSSQL", "Key1", "type1");
    SetInFile("MSSQL", "Key2", "type2");
    SetInFile("MSSQL/ERP", "Key1", "joined1");
    SetInFile("MSSQL/ERP", "Key2", "");
    tConfigCache cache(ini.c_str());
    const struct {
        const char* type;
        const char* environment;
        const char* key;
        const char* want;
        bool found;
    } cases[] = {
        {"MSSQL", "ERP", "Key1", "joined1", true},    {"mssql", "erp", "KEY1", "joined1", true},
        {"MSSQL", "ERP", "Key2", "type2", true},      {"MSSQL", "ERP", "Key3", "general3", false},
        {"MSSQL", "ERP", "Key4", "dflt", false},      {"MSSQL", "OTHER", "Key1", "type1", true},
        {"ORACLE", "ERP", "Key1", "general1", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.type << "/" << c.environment << " " << c.key);
        tString out("stale");
        EXPECT_EQ(cache.GetStringEx(c.type, c.environment, c.key, "dflt", out), c.found);
        EXPECT_STREQ(out.GetText(), c.want);
    }
}

TEST_F(ConfigCache, OnlyPasswordIsDeciphered) {
    const std::string stored = gmtest::IniPassword("s3cr\xE9t");
    SetInFile("MSSQL/ERP", "password", stored.c_str());
    SetInFile("General", "guestpassword", stored.c_str());
    tConfigCache cache(ini.c_str());
    for (int round = 0; round < 2; ++round) {  // the cache keeps the enciphered text
        tString out;
        EXPECT_TRUE(cache.GetStringEx("MSSQL", "ERP", "PASSWORD", "", out));
        EXPECT_STREQ(out.GetText(), "s3cr\xE9t");
        EXPECT_FALSE(cache.GetStringEx("MSSQL", "ERP", "guestpassword", "", out));
        EXPECT_EQ(std::string(out.GetText()), stored);
    }
    tString out;
    cache.GetStringEx("MSSQL", "ERP", "password2", "", out);
    EXPECT_STREQ(out.GetText(), "");
}

TEST_F(ConfigCache, BoolChainTreats99AsAbsentAndOnlyOneAsTrue) {
    const struct {
        const char* section;
        const char* key;
        const char* value;
    } file[] = {
        {"DB/A", "B1", "1"},    {"DB/A", "B2", "2"},    {"DB", "B2", "1"},   {"DB/A", "B3", "99"},
        {"DB", "B3", "1"},      {"DB/A", "B4", "-1"},   {"DB", "B4", "1"},   {"DB/A", "B5", "100"},
        {"DB", "B5", "0"},      {"General", "B5", "1"}, {"DB", "B6", "1"},   {"DB", "B7", "99"},
        {"General", "B7", "1"}, {"General", "B8", "2"}, {"DB/A", "B11", ""}, {"DB", "B11", "1"},
    };
    for (const auto& f : file) SetInFile(f.section, f.key, f.value);
    tConfigCache cache(ini.c_str());
    const struct {
        const char* key;
        u8 def;
        bool want;
    } cases[] = {
        {"B1", 0, true},  {"B2", 1, false},  {"B3", 0, true},  {"B4", 1, false},
        {"B5", 1, false}, {"B6", 0, true},   {"B7", 0, true},  {"B8", 1, false},
        {"B9", 1, true},  {"B10", 0, false}, {"B11", 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        EXPECT_EQ(cache.GetBoolEx("db", "a", c.key, c.def), c.want);
    }
}

}  // namespace
