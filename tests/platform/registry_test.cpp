// Registry values in an ini file: key paths are sections, values keys; a deletion touches only
// its own value and never creates a key.
#include "platform/registry.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/procinfo.h"
#include "tests/support/tempdir.h"

namespace {

constexpr const char* kKey = "SOFTWARE\\ODBC\\ODBC.INI\\ERP";

class Registry : public ::testing::Test {
protected:
    void SetUp() override { plat::SetRegistryFile(ini); }
    void TearDown() override { plat::SetRegistryFile(""); }

    gmtest::TempDir dir;
    const std::string ini = dir.File("registry.ini");
};

TEST_F(Registry, DeleteRemovesOnlyThatValueOfAnExistingKey) {
    gmtest::WriteFileText(ini,
                          "[software\\odbc\\odbc.ini\\erp]\r\nAnsiNPW=Yes\r\nDriver=x.so\r\n"
                          "[Other]\r\nAnsiNPW=Keep\r\n");
    EXPECT_TRUE(plat::RegistryKeyExists(kKey));  // key paths match without regard to case
    EXPECT_EQ(plat::RegistryReadString(kKey, "AnsiNPW", "none"), "Yes");
    EXPECT_TRUE(plat::RegistryDeleteValue(kKey, "AnsiNPW"));
    EXPECT_EQ(plat::RegistryReadString(kKey, "AnsiNPW", "none"), "none");
    EXPECT_EQ(plat::RegistryReadString(kKey, "Driver", ""), "x.so");
    EXPECT_EQ(plat::RegistryReadString("Other", "AnsiNPW", ""), "Keep");
}

TEST_F(Registry, MissingKeyIsNeitherDeletedFromNorCreated) {
    gmtest::WriteFileText(ini, "[Other]\r\nAnsiNPW=Keep\r\n");
    EXPECT_FALSE(plat::RegistryKeyExists(kKey));
    EXPECT_FALSE(plat::RegistryDeleteValue(kKey, "AnsiNPW"));
    EXPECT_EQ(gmtest::ReadFileText(ini), "[Other]\r\nAnsiNPW=Keep\r\n");
}

TEST(RegistryFile, DefaultsToTheProgramsIni) {
    plat::SetRegistryFile("");
    EXPECT_EQ(plat::RegistryFile(), plat::ProgramDirectory() + "gatemill.ini");
}

}  // namespace
