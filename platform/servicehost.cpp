// The system's service host: sd_notify datagrams, syslog, systemd unit files and a signal thread
// (signalfd) that turns the stop and console signals into control events.
#include "platform/servicehost.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "platform/thread.h"
#include "platform/unique_fd.h"

namespace plat {
namespace {

// Characters of a unit name that systemd accepts; anything else (a '/' above all) is refused.
bool IsUnitName(const char* name) {
    if (!name || !*name) return false;
    for (const char* c = name; *c; ++c) {
        const bool ok = (*c >= 'A' && *c <= 'Z') || (*c >= 'a' && *c <= 'z') ||
                        (*c >= '0' && *c <= '9') || std::strchr("_.:-@", *c) != nullptr;
        if (!ok) return false;
    }
    return std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0;
}

// Appends text with systemd's specifier character doubled; false for control characters, and
// for quotes and backslashes when the text is quoted.
bool AppendUnitText(std::string& out, const char* text, bool quoted) {
    for (const char* c = text; *c; ++c) {
        const unsigned char u = static_cast<unsigned char>(*c);
        if (u < 0x20 || u == 0x7F) return false;
        if (quoted && (*c == '"' || *c == '\\')) return false;
        if (*c == '%') out += '%';
        out += *c;
    }
    return true;
}

bool WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// The texts of an error report on one line: leading and trailing white space dropped.
std::string Trimmed(const char* text) {
    std::string s(text ? text : "");
    const size_t first = s.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return std::string();
    const size_t last = s.find_last_not_of(" \t\r\n");
    return s.substr(first, last - first + 1);
}

// One handler call on a thread of its own.
struct tSignalCall {
    std::shared_ptr<const std::function<void(int)>> handler;
    int signal;
};

void RunSignalCall(void* raw) {
    std::unique_ptr<tSignalCall> call(static_cast<tSignalCall*>(raw));
    (*call->handler)(call->signal);
}

}  // namespace

// The signal thread: the watched signals are blocked in the thread that starts it (and so in
// every thread started after) and read from a signalfd; an eventfd wakes the thread to end.
class SystemServiceHost::Watcher {
public:
    explicit Watcher(std::function<void(int)> onSignal)
        : handler(std::make_shared<const std::function<void(int)>>(std::move(onSignal))) {}
    ~Watcher() {
        if (!started) return;
        const std::uint64_t one = 1;
        while (write(wakeFd.Get(), &one, sizeof one) < 0 && errno == EINTR) {
        }
        pthread_join(thread, nullptr);
    }
    Watcher(const Watcher&) = delete;
    Watcher& operator=(const Watcher&) = delete;

    // 0, or the error number.
    int Start(const int* signals, int count) {
        sigset_t set;
        sigemptyset(&set);
        for (int i = 0; i < count; ++i) sigaddset(&set, signals[i]);
        int rc = pthread_sigmask(SIG_BLOCK, &set, nullptr);
        if (rc != 0) return rc;
        signalFd.Reset(signalfd(-1, &set, SFD_CLOEXEC));
        if (!signalFd.IsValid()) return errno;
        wakeFd.Reset(eventfd(0, EFD_CLOEXEC));
        if (!wakeFd.IsValid()) return errno;
        rc = pthread_create(&thread, nullptr, &Watcher::Body, this);
        started = rc == 0;
        return rc;
    }

private:
    static void* Body(void* self) {
        static_cast<Watcher*>(self)->Loop();
        return nullptr;
    }

    void Loop() {
        pollfd fds[2] = {{signalFd.Get(), POLLIN, 0}, {wakeFd.Get(), POLLIN, 0}};
        for (;;) {
            if (poll(fds, 2, -1) < 0) {
                if (errno == EINTR) continue;
                return;
            }
            if (fds[1].revents) return;
            signalfd_siginfo info;
            const ssize_t n = read(signalFd.Get(), &info, sizeof info);
            if (n != static_cast<ssize_t>(sizeof info)) continue;
            auto call = std::make_unique<tSignalCall>(
                tSignalCall{handler, static_cast<int>(info.ssi_signo)});
            tSignalCall* raw = call.get();
            if (StartThread(&RunSignalCall, raw) == 0) {
                call.release();  // the new thread owns it now
            } else {
                (*handler)(raw->signal);  // no thread to spare: handled here
            }
        }
    }

    const std::shared_ptr<const std::function<void(int)>> handler;
    UniqueFd signalFd;
    UniqueFd wakeFd;
    pthread_t thread{};
    bool started = false;
};

SystemServiceHost::SystemServiceHost(std::string unitDirectory)
    : unitDirectory(std::move(unitDirectory)) {}

SystemServiceHost::~SystemServiceHost() = default;

bool SystemServiceHost::Fail(int err) {
    lastError = err;
    return false;
}

bool SystemServiceHost::Watch(const int* signals, int count, std::function<void(int)> onSignal) {
    watcher.reset();
    auto next = std::make_unique<Watcher>(std::move(onSignal));
    const int rc = next->Start(signals, count);
    if (rc != 0) return Fail(rc);
    watcher = std::move(next);
    return true;
}

bool SystemServiceHost::Dispatch(const char*, const std::function<void()>& serviceMain) {
    // A simple service of the service manager runs in the foreground: the service is this run.
    serviceMain();
    return true;
}

bool SystemServiceHost::RegisterServiceHandler(const char*, ServiceHandler handler) {
    static const int kSignals[] = {SIGTERM};
    return Watch(kSignals, 1, [handler](int) { handler(ServiceControl::kStop); });
}

bool SystemServiceHost::RegisterConsoleHandler(ConsoleHandler handler) {
    static const int kSignals[] = {SIGINT, SIGQUIT, SIGTERM, SIGHUP};
    return Watch(kSignals, 4, [handler](int signal) {
        handler(signal == SIGINT    ? ConsoleEvent::kInterrupt
                : signal == SIGQUIT ? ConsoleEvent::kBreak
                : signal == SIGHUP  ? ConsoleEvent::kClose
                                    : ConsoleEvent::kTerminate);
    });
}

bool SystemServiceHost::ReportStatus(const ServiceStatus& status) {
    const char* target = std::getenv("NOTIFY_SOCKET");
    if (!target || !*target) return true;  // not run by a service manager that listens
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const size_t length = std::strlen(target);
    if (length >= sizeof address.sun_path) return Fail(EINVAL);
    std::memcpy(address.sun_path, target, length);
    if (target[0] == '@') address.sun_path[0] = '\0';  // an abstract socket name
    UniqueFd fd(socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!fd.IsValid()) return Fail(errno);
    const std::string text = NotifyText(status);
    const socklen_t size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length);
    if (sendto(fd.Get(), text.data(), text.size(), MSG_NOSIGNAL,
               reinterpret_cast<const sockaddr*>(&address), size) < 0) {
        return Fail(errno);
    }
    return true;
}

void SystemServiceHost::ReportError(const char* source, const char* first, const char* second) {
    const std::string ident = source ? source : "";  // openlog keeps the pointer until closelog
    openlog(ident.c_str(), LOG_PID, LOG_DAEMON);
    syslog(LOG_ERR, "%s: %s", Trimmed(first).c_str(), Trimmed(second).c_str());
    closelog();
}

bool SystemServiceHost::OpenManager() {
    if (access(unitDirectory.c_str(), W_OK | X_OK) != 0) return Fail(errno);
    return true;
}

bool SystemServiceHost::CreateService(const char* name, const char* displayName,
                                      const char* programPath) {
    std::string text;
    if (!IsUnitName(name) || !UnitFileText(displayName, programPath, text)) return Fail(EINVAL);
    const std::string path = UnitPath(name);
    UniqueFd fd(open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    if (!fd.IsValid()) return Fail(errno);
    if (!WriteAll(fd.Get(), text)) {
        const int err = errno ? errno : EIO;
        unlink(path.c_str());
        return Fail(err);
    }
    const int err = fd.Close();
    if (err != 0) {
        unlink(path.c_str());
        return Fail(err);
    }
    return true;
}

bool SystemServiceHost::OpenService(const char* name) {
    if (!IsUnitName(name)) return Fail(EINVAL);
    if (access(UnitPath(name).c_str(), F_OK) != 0) return Fail(errno);
    return true;
}

bool SystemServiceHost::SendStop(const char*) { return Fail(EOPNOTSUPP); }

bool SystemServiceHost::QueryState(const char*, ServiceState&) { return Fail(EOPNOTSUPP); }

bool SystemServiceHost::DeleteService(const char* name) {
    if (!IsUnitName(name)) return Fail(EINVAL);
    if (unlink(UnitPath(name).c_str()) != 0) return Fail(errno);
    return true;
}

std::string SystemServiceHost::UnitPath(const char* name) const {
    return unitDirectory + "/" + (name ? name : "") + ".service";
}

std::string NotifyText(const ServiceStatus& status) {
    std::string text;
    switch (status.state) {
        case ServiceState::kStartPending:
            text = "STATUS=Starting";
            break;
        case ServiceState::kRunning:
            text = "READY=1\nSTATUS=Running";
            break;
        case ServiceState::kStopPending:
            text = "STOPPING=1\nSTATUS=Stopping";
            break;
        case ServiceState::kStopped:
            text = "STATUS=Stopped";
            if (status.exitCode != 0) text += "\nERRNO=" + std::to_string(status.exitCode);
            break;
    }
    const bool pending =
        status.state == ServiceState::kStartPending || status.state == ServiceState::kStopPending;
    if (pending && status.waitHintMs > 0) {
        text += "\nEXTEND_TIMEOUT_USEC=" + std::to_string(status.waitHintMs * 1000ULL);
    }
    return text;
}

bool UnitFileText(const char* displayName, const char* programPath, std::string& out) {
    if (!displayName || !programPath || !*programPath) return false;
    out = "[Unit]\nDescription=";
    if (!AppendUnitText(out, displayName, false)) return false;
    out += "\nAfter=network.target\n\n[Service]\nType=notify\nExecStart=\"";
    if (!AppendUnitText(out, programPath, true)) return false;
    out += "\"\n\n[Install]\nWantedBy=multi-user.target\n";
    return true;
}

std::string ErrorMessage(int err) {
    char buffer[256];
    return strerror_r(err, buffer, sizeof buffer);
}

}  // namespace plat
