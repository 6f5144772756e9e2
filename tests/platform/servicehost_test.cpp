// The system's service host: status datagrams to the socket NOTIFY_SOCKET names (a path or an
// abstract name), unit files written and deleted in a directory of the test's, refused names and
// texts, and the signals turned into control events (each in a forked child).
#include "platform/servicehost.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "tests/support/tempdir.h"

namespace {

using plat::ServiceState;
using plat::ServiceStatus;

ServiceStatus Status(ServiceState state, std::uint32_t exitCode, std::uint32_t hint) {
    ServiceStatus s;
    s.state = state;
    s.exitCode = exitCode;
    s.waitHintMs = hint;
    return s;
}

TEST(NotifyText, EachStateHasItsDatagram) {
    const struct {
        ServiceStatus status;
        const char* text;
    } cases[] = {
        {Status(ServiceState::kStartPending, 0, 3000),
         "STATUS=Starting\nEXTEND_TIMEOUT_USEC=3000000"},
        {Status(ServiceState::kStartPending, 0, 0), "STATUS=Starting"},
        {Status(ServiceState::kRunning, 0, 0), "READY=1\nSTATUS=Running"},
        {Status(ServiceState::kStopPending, 0, 0), "STOPPING=1\nSTATUS=Stopping"},
        {Status(ServiceState::kStopped, 0, 0), "STATUS=Stopped"},
        {Status(ServiceState::kStopped, 1359, 0), "STATUS=Stopped\nERRNO=1359"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(plat::NotifyText(c.status), c.text);
    }
}

// A datagram socket standing for the service manager's, named by NOTIFY_SOCKET while it lives.
class NotifyListener {
public:
    explicit NotifyListener(const std::string& name) {
        fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, name.data(), name.size());
        if (name[0] == '@') address.sun_path[0] = '\0';
        const socklen_t size =
            static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size());
        bound = bind(fd, reinterpret_cast<const sockaddr*>(&address), size) == 0;
        setenv("NOTIFY_SOCKET", name.c_str(), 1);
    }
    ~NotifyListener() {
        unsetenv("NOTIFY_SOCKET");
        close(fd);
    }
    std::string Next() {
        char buffer[512];
        const ssize_t n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string("(none)");
    }
    bool bound = false;

private:
    int fd = -1;
};

TEST(ServiceHostNotify, ReportsGoToThePathOrAbstractNameOfNotifySocket) {
    gmtest::TempDir dir;
    const std::string names[] = {dir.File("notify"), "@gmtest-notify-" + std::to_string(getpid())};
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        NotifyListener manager(name);
        ASSERT_TRUE(manager.bound);
        plat::SystemServiceHost host(dir.Path());
        EXPECT_TRUE(host.ReportStatus(Status(ServiceState::kRunning, 0, 0)));
        EXPECT_TRUE(host.ReportStatus(Status(ServiceState::kStopped, 1359, 0)));
        EXPECT_EQ(manager.Next(), "READY=1\nSTATUS=Running");
        EXPECT_EQ(manager.Next(), "STATUS=Stopped\nERRNO=1359");
    }
}

TEST(ServiceHostNotify, WithoutNotifySocketNothingIsSentAndReportsSucceed) {
    unsetenv("NOTIFY_SOCKET");
    plat::SystemServiceHost host;
    EXPECT_TRUE(host.ReportStatus(Status(ServiceState::kRunning, 0, 0)));
    EXPECT_EQ(host.LastError(), 0);
}

TEST(ServiceHostNotify, UnreachableOrOverlongSocketFailsWithItsError) {
    gmtest::TempDir dir;
    const struct {
        std::string name;
        int error;
    } cases[] = {{dir.File("nobody"), ENOENT}, {"/" + std::string(200, 'x'), EINVAL}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        setenv("NOTIFY_SOCKET", c.name.c_str(), 1);
        plat::SystemServiceHost host(dir.Path());
        EXPECT_FALSE(host.ReportStatus(Status(ServiceState::kRunning, 0, 0)));
        EXPECT_EQ(host.LastError(), c.error);
    }
    unsetenv("NOTIFY_SOCKET");
}

TEST(ServiceHostUnits, CreateWritesTheUnitOnceAndDeleteRemovesIt) {
    gmtest::TempDir dir;
    plat::SystemServiceHost host(dir.Path());
    ASSERT_TRUE(host.OpenManager());
    ASSERT_TRUE(host.CreateService("GATEMILL", "Gateway 100%", "/opt/gate mill/pellmar"));
    EXPECT_EQ(gmtest::ReadFileText(host.UnitPath("GATEMILL")),
              "[Unit]\nDescription=Gateway 100%%\nAfter=network.target\n\n[Service]\n"
              "Type=notify\nExecStart=\"/opt/gate mill/pellmar\"\n\n[Install]\n"
              "WantedBy=multi-user.target\n");
    EXPECT_TRUE(host.OpenService("GATEMILL"));
    EXPECT_FALSE(host.CreateService("GATEMILL", "Other", "/bin/other"));
    EXPECT_EQ(host.LastError(), EEXIST);
    ServiceState state;
    EXPECT_FALSE(host.SendStop("GATEMILL"));  // systemctl stops units, not this manager
    EXPECT_FALSE(host.QueryState("GATEMILL", state));
    EXPECT_TRUE(host.DeleteService("GATEMILL"));
    EXPECT_FALSE(host.OpenService("GATEMILL"));
    EXPECT_EQ(host.LastError(), ENOENT);
    EXPECT_FALSE(host.DeleteService("GATEMILL"));
    EXPECT_EQ(host.LastError(), ENOENT);
}

TEST(ServiceHostUnits, NamesAndTextsThatCannotBeUnitsAreRefused) {
    gmtest::TempDir dir;
    plat::SystemServiceHost host(dir.Path());
    const struct {
        const char* name;
        const char* display;
        const char* path;
    } cases[] = {
        {"../escape", "Gateway", "/bin/pellmar"}, {"", "Gateway", "/bin/pellmar"},
        {"a/b", "Gateway", "/bin/pellmar"},       {"..", "Gateway", "/bin/pellmar"},
        {"GM", "Two\nlines", "/bin/pellmar"},     {"GM", "Gateway", "/bin/\"quoted\""},
        {"GM", "Gateway", "/bin/back\\slash"},    {"GM", "Gateway", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + c.display + " " + c.path);
        EXPECT_FALSE(host.CreateService(c.name, c.display, c.path));
        EXPECT_EQ(host.LastError(), EINVAL);
    }
    EXPECT_FALSE(host.DeleteService("../escape"));
    EXPECT_EQ(host.LastError(), EINVAL);
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

TEST(ServiceHostUnits, ManagerWithoutItsDirectoryCannotBeOpened) {
    gmtest::TempDir dir;
    plat::SystemServiceHost host(dir.File("missing"));
    EXPECT_FALSE(host.OpenManager());
    EXPECT_EQ(host.LastError(), ENOENT);
}

// Runs body in a forked child, which exits with body's result.
int RunChild(const std::function<int()>& body) {
    const pid_t pid = fork();
    if (pid == 0) _exit(body());
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status)
                             : 100 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

// The events a handler received, for the child to wait on.
struct EventLog {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<int> events;
    void Add(int event) {
        std::lock_guard<std::mutex> hold(lock);
        events.push_back(event);
        changed.notify_all();
    }
    // The event after the first seen ones; -1 when none came within 10 s.
    int Next(size_t seen) {
        std::unique_lock<std::mutex> hold(lock);
        const bool came =
            changed.wait_for(hold, std::chrono::seconds(10), [&] { return events.size() > seen; });
        return came ? events[seen] : -1;
    }
};

TEST(ServiceHostSignals, ConsoleSignalsBecomeInterruptBreakTerminateAndClose) {
    const int result = RunChild([] {
        plat::SystemServiceHost host;
        EventLog log;
        if (!host.RegisterConsoleHandler(
                [&log](plat::ConsoleEvent event) { log.Add(static_cast<int>(event)); })) {
            return 1;
        }
        const int signals[] = {SIGINT, SIGQUIT, SIGTERM, SIGHUP};
        const plat::ConsoleEvent wanted[] = {
            plat::ConsoleEvent::kInterrupt, plat::ConsoleEvent::kBreak,
            plat::ConsoleEvent::kTerminate, plat::ConsoleEvent::kClose};
        for (size_t i = 0; i < 4; ++i) {
            kill(getpid(), signals[i]);
            if (log.Next(i) != static_cast<int>(wanted[i])) return 10 + static_cast<int>(i);
        }
        return 0;
    });
    EXPECT_EQ(result, 0);
}

TEST(ServiceHostSignals, TerminateIsTheServiceStopRequest) {
    const int result = RunChild([] {
        plat::SystemServiceHost host;
        EventLog log;
        if (!host.RegisterServiceHandler(
                "GATEMILL", [&log](plat::ServiceControl c) { log.Add(static_cast<int>(c)); })) {
            return 1;
        }
        kill(getpid(), SIGTERM);
        return log.Next(0) == static_cast<int>(plat::ServiceControl::kStop) ? 0 : 2;
    });
    EXPECT_EQ(result, 0);
}

}  // namespace
