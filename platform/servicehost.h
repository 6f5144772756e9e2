// The program's link to the system's service manager and to its own control signals: status
// reports (the sd_notify datagram), error reports (syslog), install and removal (systemd unit
// files), and the signals that stop the service or interrupt the console. Tests put a recorder
// in its place.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace plat {

// Service states, numbered as the service managers of other systems number them.
enum class ServiceState : std::uint32_t {
    kStopped = 1,
    kStartPending = 2,
    kStopPending = 3,
    kRunning = 4,
};

struct ServiceStatus {
    ServiceState state = ServiceState::kStopped;
    bool acceptsStop = false;
    std::uint32_t exitCode = 0;    // meaningful with kStopped
    std::uint32_t checkpoint = 0;  // counts up through a pending state
    std::uint32_t waitHintMs = 0;  // how long the next step of a pending state may take
};

// Requests of the service manager. Here only kStop comes from the system (SIGTERM).
enum class ServiceControl { kStop, kInterrogate };

// Events of a program run at a terminal: SIGINT (Ctrl-C), SIGQUIT (standing for Ctrl-Break),
// SIGTERM, and SIGHUP (the terminal closed).
enum class ConsoleEvent { kInterrupt, kBreak, kTerminate, kClose };

class ServiceHost {
public:
    using ServiceHandler = std::function<void(ServiceControl)>;
    using ConsoleHandler = std::function<void(ConsoleEvent)>;

    virtual ~ServiceHost() = default;

    // Runs serviceMain as the service of that name; true when it ran and has returned, false
    // (LastError set) when the program cannot run as a service.
    virtual bool Dispatch(const char* name, const std::function<void()>& serviceMain) = 0;
    // From now on each request of the service manager calls handler, on a thread of its own.
    // Called before the program starts other threads. False (LastError set) when refused.
    virtual bool RegisterServiceHandler(const char* name, ServiceHandler handler) = 0;
    // The same for the console's events; each event runs handler on a thread of its own, so
    // that a handler waiting for input does not hold the next event back.
    virtual bool RegisterConsoleHandler(ConsoleHandler handler) = 0;
    virtual bool ReportStatus(const ServiceStatus& status) = 0;  // false: LastError set
    // One error event of source holding both texts.
    virtual void ReportError(const char* source, const char* first, const char* second) = 0;

    // The service manager. Each false answer sets LastError.
    virtual bool OpenManager() = 0;
    virtual bool CreateService(const char* name, const char* displayName,
                               const char* programPath) = 0;
    virtual bool OpenService(const char* name) = 0;
    virtual bool SendStop(const char* name) = 0;  // true when the running service accepted it
    virtual bool QueryState(const char* name, ServiceState& state) = 0;
    virtual bool DeleteService(const char* name) = 0;

    // The error number of the last failed call (errno numbering); 0 before any.
    virtual int LastError() = 0;
};

constexpr const char* kSystemUnitDirectory = "/etc/systemd/system";

// The system's host: services are systemd units whose files live in unitDirectory; a service
// reports through the datagram socket that NOTIFY_SOCKET names (nothing is sent when it is not
// set); errors go to syslog; SIGTERM is the stop request. The manager cannot stop a running
// unit (systemctl does that): SendStop is never accepted and removal only deletes the file.
class SystemServiceHost : public ServiceHost {
public:
    explicit SystemServiceHost(std::string unitDirectory = kSystemUnitDirectory);
    ~SystemServiceHost() override;  // stops watching signals

    bool Dispatch(const char* name, const std::function<void()>& serviceMain) override;
    bool RegisterServiceHandler(const char* name, ServiceHandler handler) override;
    bool RegisterConsoleHandler(ConsoleHandler handler) override;
    bool ReportStatus(const ServiceStatus& status) override;
    void ReportError(const char* source, const char* first, const char* second) override;

    bool OpenManager() override;
    bool CreateService(const char* name, const char* displayName, const char* programPath) override;
    bool OpenService(const char* name) override;
    bool SendStop(const char* name) override;
    bool QueryState(const char* name, ServiceState& state) override;
    bool DeleteService(const char* name) override;
    int LastError() override { return lastError; }

    std::string UnitPath(const char* name) const;  // unitDirectory + "/" + name + ".service"

private:
    class Watcher;
    bool Fail(int err);
    bool Watch(const int* signals, int count, std::function<void(int signal)> onSignal);

    const std::string unitDirectory;
    std::unique_ptr<Watcher> watcher;
    int lastError = 0;
};

// The text of the sd_notify datagram that reports status.
std::string NotifyText(const ServiceStatus& status);
// The unit file of a service; false (with EINVAL) when a text cannot be written into one.
bool UnitFileText(const char* displayName, const char* programPath, std::string& out);
// The system's message for an error number.
std::string ErrorMessage(int err);

}  // namespace plat
