#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "lib_base/misc.h"

namespace {

// The type chosen first holds for the life of the process, so each fresh choice runs in a
// child process that starts from the unchosen state.
bool ChoiceGives(char type, const char* prefix, const char* iniName) {
    const std::string got = SelectAppType(type);
    return got == prefix && std::string(GetAppPrefix()) == prefix &&
           std::string(GetAppIniName()) == iniName && GetAppType() == type;
}

TEST(AppType, FirstChoiceSelectsNameAndPrefixAndThenStays) {
    EXPECT_EQ(GetAppType(), 0);
    EXPECT_STREQ(GetAppIniName(), "hvn7srv.ini");
    EXPECT_STREQ(GetAppPrefix(), "HVN7");
    EXPECT_EXIT(std::_Exit(ChoiceGives('6', "HVN6", "hvn6srv.ini") ? 0 : 1),
                ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(std::_Exit(ChoiceGives('8', "HVN8", "hvn8srv.ini") ? 0 : 1),
                ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(std::_Exit(ChoiceGives('9', "HVN9", "hvn9srv.ini") ? 0 : 1),
                ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(std::_Exit(ChoiceGives('\0', "HVN", "hvn") ? 0 : 1),  // name ends before digit
                ::testing::ExitedWithCode(0), "");

    EXPECT_STREQ(SelectAppType('7'), "HVN7");
    EXPECT_STREQ(SelectAppType('8'), "HVN7");
    EXPECT_EQ(GetAppType(), '7');
    EXPECT_STREQ(GetAppIniName(), "hvn7srv.ini");

    SetAppIniName("abcdefghijklmnopqrst");
    EXPECT_STREQ(GetAppIniName(), "abcdefghijklmno");
    EXPECT_STREQ(GetAppPrefix(), "HVN7");  // only a type choice changes the prefix
    SetAppIniName("mysrv.ini");
    EXPECT_STREQ(GetAppIniName(), "mysrv.ini");
    EXPECT_STREQ(SelectAppType('9'), "HVN7");
    EXPECT_STREQ(GetAppIniName(), "hvn7srv.ini");
}

}  // namespace
