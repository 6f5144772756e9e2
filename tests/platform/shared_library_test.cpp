// Shared libraries loaded at run time: symbols found and missing, the loader's error text, and
// release.
#include "platform/shared_library.h"

#include <gtest/gtest.h>

namespace {

TEST(SharedLibrary, FindsExportsOfALoadedLibraryAndNullForOthers) {
    plat::SharedLibrary lib;
    ASSERT_TRUE(lib.Open("libodbc.so.2")) << lib.GetError();
    EXPECT_TRUE(lib.IsOpen());
    EXPECT_TRUE(lib.GetError().empty());
    EXPECT_NE(lib.Find("SQLAllocEnv"), nullptr);
    EXPECT_EQ(lib.Find("SQLNoSuchEntryPoint"), nullptr);
}

TEST(SharedLibrary, MissingLibraryGivesTheLoadersTextAndHoldsNothing) {
    plat::SharedLibrary lib;
    EXPECT_FALSE(lib.Open("libgm_no_such_library.so.9"));
    EXPECT_FALSE(lib.IsOpen());
    EXPECT_NE(lib.GetError().find("libgm_no_such_library.so.9"), std::string::npos)
        << lib.GetError();
    EXPECT_EQ(lib.Find("SQLAllocEnv"), nullptr);
}

TEST(SharedLibrary, CloseReleasesAndAFailedOpenDropsTheLibraryHeldBefore) {
    plat::SharedLibrary lib;
    ASSERT_TRUE(lib.Open("libodbc.so.2"));
    lib.Close();
    EXPECT_FALSE(lib.IsOpen());
    EXPECT_EQ(lib.Find("SQLAllocEnv"), nullptr);
    lib.Close();  // a second close does nothing

    ASSERT_TRUE(lib.Open("libodbc.so.2"));
    EXPECT_FALSE(lib.Open("libgm_no_such_library.so.9"));
    EXPECT_FALSE(lib.IsOpen());
    EXPECT_FALSE(lib.GetError().empty());
    ASSERT_TRUE(lib.Open("libodbc.so.2"));
    EXPECT_TRUE(lib.GetError().empty());
}

}  // namespace
