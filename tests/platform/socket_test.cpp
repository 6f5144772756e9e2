#include "platform/socket.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

TEST(SocketErrorFromErrno, GivesWindowsSocketsCodesAndPassesOthersThrough) {
    const struct {
        int errnoValue;
        int code;
    } cases[] = {
        {EWOULDBLOCK, 10035}, {EINPROGRESS, 10036}, {ENOTSOCK, 10038},  {EBADF, 10038},
        {ECONNRESET, 10054},  {EPIPE, 10054},       {ETIMEDOUT, 10060}, {ECONNREFUSED, 10061},
        {EADDRINUSE, 10048},  {EMFILE, 10024},      {EIO, EIO},         {0, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.errnoValue);
        EXPECT_EQ(plat::SocketErrorFromErrno(c.errnoValue), c.code);
    }
}

TEST(UniqueFd, ClosesWhatItOwnsAndKeepsWhatItReleased) {
    int fd = ::dup(1);
    ASSERT_NE(fd, -1);
    {
        plat::UniqueFd owner(fd);
        EXPECT_TRUE(owner.IsValid());
        plat::UniqueFd moved(std::move(owner));
        EXPECT_FALSE(owner.IsValid());
        EXPECT_EQ(moved.Get(), fd);
    }
    EXPECT_EQ(::fcntl(fd, F_GETFD), -1) << "the descriptor outlived its owner";

    int kept = ::dup(1);
    ASSERT_NE(kept, -1);
    {
        plat::UniqueFd owner(kept);
        EXPECT_EQ(owner.Release(), kept);
    }
    EXPECT_NE(::fcntl(kept, F_GETFD), -1) << "a released descriptor was closed";
    ::close(kept);
}

TEST(UniqueFd, DescriptorZeroIsValidAndMinusOneIsNone) {
    plat::UniqueFd zero(0);
    EXPECT_TRUE(zero.IsValid());
    EXPECT_EQ(zero.Release(), 0);  // standard input is not ours to close
    EXPECT_FALSE(plat::UniqueFd().IsValid());
    EXPECT_EQ(plat::UniqueFd().Close(), 0);
}

TEST(IPv4Text, ParsesTheFormsOfInetAddrAndFormatsDotted) {
    const struct {
        const char* text;
        bool ok;
        const char* dotted;
    } cases[] = {{"127.0.0.1", true, "127.0.0.1"},
                 {"10.1", true, "10.0.0.1"},  // a.b: b fills the last three bytes
                 {"255.255.255.255", true, "255.255.255.255"},
                 {"localhost", false, ""},
                 {"1.2.3.256", false, ""},
                 {"", false, ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::uint32_t addr = 0;
        ASSERT_EQ(plat::ParseIPv4(c.text, &addr), c.ok);
        if (!c.ok) continue;
        char text[16];
        plat::FormatIPv4(addr, text, sizeof text);
        EXPECT_STREQ(text, c.dotted);
    }
}

TEST(ResolveIPv4, FindsLoopbackAndReportsUnknownHosts) {
    std::uint32_t addr = 0;
    ASSERT_EQ(plat::ResolveIPv4("localhost", &addr), 0);
    EXPECT_EQ(plat::NetToHost32(addr) >> 24, 127u);
    // The .invalid top-level name never resolves.
    EXPECT_EQ(plat::ResolveIPv4("no-such-host.invalid", &addr), -plat::kSockHostNotFound);
}

TEST(SocketTimeoutOption, TakesAndGivesMillisecondsAsOnWindows) {
    int fd = plat::OpenSocket(plat::kAfInet, plat::kSockStream);
    ASSERT_GE(fd, 0);
    plat::UniqueFd owner(fd);
    std::uint32_t ms = 1500;
    ASSERT_EQ(plat::SetOption(fd, plat::kSolSocket, plat::kSoRcvTimeo, &ms, sizeof ms), 0);
    std::uint32_t back = 0;
    std::uint32_t length = sizeof back;
    ASSERT_EQ(plat::GetOption(fd, plat::kSolSocket, plat::kSoRcvTimeo, &back, &length), 0);
    EXPECT_EQ(back, 1500u);
    EXPECT_EQ(length, sizeof back);
}

}  // namespace
