#include <gtest/gtest.h>

#include <string>

#include "lib_base/critsec.h"
#include "lib_base/rwlock.h"
#include "tests/support/gmtest.h"

namespace {

std::string CapturedStdout(const std::function<void()>& f) {
    testing::internal::CaptureStdout();
    f();
    return testing::internal::GetCapturedStdout();
}

TEST(CriticalSection, NestingWarnsOnceAndExtraLeaveIsReported) {
    tCriticalSection section;
    EXPECT_EQ(CapturedStdout([&] {
                  section.Enter();
                  section.Enter();
              }),
              "WARNING: EnterCryticalSection already in use....\n");
    EXPECT_EQ(CapturedStdout([&] {
                  section.Leave();
                  section.Leave();
              }),
              "");
    EXPECT_EQ(CapturedStdout([&] { section.Leave(); }),
              "WARNING: CRITICAL SECTION EXIT UNDERFLOW\n");
    EXPECT_TRUE(section.TryEnter());  // free: it enters and holds
    EXPECT_TRUE(section.IsHeldByMe());
    section.Leave();
}

TEST(CriticalSection, DestroyingAHeldSectionIsReported) {
    gmtest::ConsoleCapture console;
    {
        tCriticalSection section;
        section.Enter();
    }
    EXPECT_EQ(console.Get(), "[ERROR] *** DESTROY CRYTICALSECTION STILL IN USE ***");
}

TEST(RWLock, NestingAndUnderflowNameTheLock) {
    tRWLock lock("cache");
    const std::string nested = CapturedStdout([&] {
        tWriting outer(&lock, __FILE__, __LINE__);
        tReading inner(&lock, __FILE__, __LINE__);
    });
    EXPECT_EQ(nested,
              "WARNING: EnterCryticalSection already in use....\n"
              "[ERROR] ReadLock [cache] already Locked (2)\n");
    EXPECT_EQ(CapturedStdout([&] {
                  tReading outer(&lock, __FILE__, __LINE__);
                  tWriting inner(&lock, __FILE__, __LINE__);
              }),
              "WARNING: EnterCryticalSection already in use....\n"
              "[ERROR] WriteLock [cache] already Locked (2)\n");
    EXPECT_EQ(CapturedStdout([&] { lock.Unlock(); }),
              "[ERROR] UnLock [cache] UNDERFLOW (-1)\n"
              "WARNING: CRITICAL SECTION EXIT UNDERFLOW\n");
    EXPECT_EQ(gmtest::AssertText([] { tReading r(nullptr, __FILE__, __LINE__); }), "(no text)");
    EXPECT_EQ(gmtest::AssertText([] { tWriting w(nullptr, __FILE__, __LINE__); }), "(no text)");
    EXPECT_EQ(gmtest::AssertText([] { tWaiting w(nullptr, __FILE__, __LINE__); }), "(no text)");
}

TEST(RWLock, DestroyingAHeldLockPrintsItsNameAndLevel) {
    gmtest::ConsoleCapture console;
    {
        tRWLock lock("table defs");
        lock.WriteLock();
    }
    EXPECT_NE(console.Get().find("[ERROR] tRWLock [table defs] destructor with ACTIVE LOCK (1)\n"),
              std::string::npos);
}

}  // namespace
