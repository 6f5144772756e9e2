// A service host under test: it records every status report and error event, keeps the control
// handlers for the test to call, runs the service main on the calling thread unless told to
// refuse, and plays a scripted service manager.
#pragma once
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/event.h"
#include "platform/servicehost.h"

namespace gmtest {

class ServiceRecorder : public plat::ServiceHost {
public:
    // Set before the entry runs.
    int dispatchError = 0;  // non-zero: Dispatch refuses with this error
    bool stopAccepted = false;
    std::vector<plat::ServiceState> queryStates;       // answers of QueryState, in order
    int reportError = 0;                               // non-zero: every status report fails
    std::vector<plat::ConsoleEvent> eventsOnRegister;  // sent as soon as a console handler comes
    size_t stopAfterReport = 0;  // non-zero: STOP is sent on the reporting thread after that many

    plat::ManualResetEvent running;  // set by a report of the running state

    bool Dispatch(const char* name, const std::function<void()>& serviceMain) override {
        Record("Dispatch " + std::string(name));
        if (dispatchError != 0) return Fail(dispatchError);
        serviceMain();
        return true;
    }
    bool RegisterServiceHandler(const char* name, ServiceHandler handler) override {
        std::lock_guard<std::mutex> hold(lock);
        serviceHandler = std::move(handler);
        calls.push_back("RegisterServiceHandler " + std::string(name));
        return true;
    }
    bool RegisterConsoleHandler(ConsoleHandler handler) override {
        Record("RegisterConsoleHandler");
        for (plat::ConsoleEvent event : eventsOnRegister) handler(event);
        return true;
    }
    bool ReportStatus(const plat::ServiceStatus& status) override {
        size_t count = 0;
        {
            std::lock_guard<std::mutex> hold(lock);
            reports.push_back(status);
            count = reports.size();
        }
        if (status.state == plat::ServiceState::kRunning) running.Set();
        if (count == stopAfterReport) Control(plat::ServiceControl::kStop);
        return reportError == 0 || Fail(reportError);
    }
    void ReportError(const char* source, const char* first, const char* second) override {
        std::lock_guard<std::mutex> hold(lock);
        errors.push_back(std::string(source) + "|" + first + "|" + second);
    }
    bool OpenManager() override { return Record("OpenManager"); }
    bool CreateService(const char* name, const char*, const char*) override {
        return Record("CreateService " + std::string(name));
    }
    bool OpenService(const char* name) override {
        return Record("OpenService " + std::string(name));
    }
    bool SendStop(const char* name) override {
        Record("SendStop " + std::string(name));
        return stopAccepted;
    }
    bool QueryState(const char*, plat::ServiceState& state) override {
        std::lock_guard<std::mutex> hold(lock);
        if (queries >= queryStates.size()) return false;
        state = queryStates[queries++];
        return true;
    }
    bool DeleteService(const char* name) override {
        return Record("DeleteService " + std::string(name));
    }
    int LastError() override {
        std::lock_guard<std::mutex> hold(lock);
        return lastError;
    }

    // Read after the entry has returned, or under the recorder's own lock.
    std::vector<plat::ServiceStatus> Reports() {
        std::lock_guard<std::mutex> hold(lock);
        return reports;
    }
    std::vector<std::string> Errors() {
        std::lock_guard<std::mutex> hold(lock);
        return errors;
    }
    std::vector<std::string> Calls() {
        std::lock_guard<std::mutex> hold(lock);
        return calls;
    }
    // The handler the entry registered, as a service manager calls it.
    void Control(plat::ServiceControl control) {
        ServiceHandler handler;
        {
            std::lock_guard<std::mutex> hold(lock);
            handler = serviceHandler;
        }
        if (handler) handler(control);
    }

private:
    bool Record(const std::string& call) {
        std::lock_guard<std::mutex> hold(lock);
        calls.push_back(call);
        return true;
    }
    bool Fail(int error) {
        std::lock_guard<std::mutex> hold(lock);
        lastError = error;
        return false;
    }

    std::mutex lock;
    // Guarded by lock.
    ServiceHandler serviceHandler;
    std::vector<plat::ServiceStatus> reports;
    std::vector<std::string> errors;
    std::vector<std::string> calls;
    size_t queries = 0;
    int lastError = 0;
};

}  // namespace gmtest
