// An audit client for tests: its handles keep what a client connection asks of them (connects,
// records, users, custom columns, releases) and answer as the test scripts them.
#pragma once
#include <mutex>
#include <string>
#include <vector>

#include "server/dispatch/auditclient.h"

namespace gmtest {

// Shared by the test and every handle made while a RecordingAuditMaker lives.
struct AuditRecorder {
    std::mutex lock;
    // How the handles answer.
    i16 connectResult = 0;
    i16 writeResult = 0;
    // What they were asked, guarded by lock.
    std::vector<u16> ports;             // of each handle made
    std::vector<std::string> connects;  // "host|caller"
    std::vector<std::string> records;   // "action|table|recno|detail1|detail2|auditId|extra"
    std::vector<std::string> users;     // of AuditUser
    std::vector<std::string> customs;   // "column|value" of WriteCustom
    int released = 0;                   // handles destroyed

    std::vector<std::string> Records() {
        std::lock_guard<std::mutex> hold(lock);
        return records;
    }
    std::vector<std::string> Connects() {
        std::lock_guard<std::mutex> hold(lock);
        return connects;
    }
};

class RecordingAudit : public tAuditClient {
public:
    explicit RecordingAudit(AuditRecorder& recorder) : recorder(recorder) {}
    ~RecordingAudit() override {
        std::lock_guard<std::mutex> hold(recorder.lock);
        ++recorder.released;
    }
    i16 Connect(const char* host, const char* caller) override {
        std::lock_guard<std::mutex> hold(recorder.lock);
        recorder.connects.push_back(std::string(host) + "|" + caller);
        return recorder.connectResult;
    }
    i16 Write(const char* action, const char* table, f64 recno, const char* detail1,
              const char* detail2, const char* auditId, const char* extra) override {
        std::lock_guard<std::mutex> hold(recorder.lock);
        recorder.records.push_back(std::string(action) + "|" + table + "|" +
                                   std::to_string(static_cast<long long>(recno)) + "|" + detail1 +
                                   "|" + detail2 + "|" + auditId + "|" +
                                   (extra ? extra : "(none)"));
        return recorder.writeResult;
    }
    i16 AuditUser(const char* user) override {
        std::lock_guard<std::mutex> hold(recorder.lock);
        recorder.users.push_back(user);
        return recorder.writeResult;
    }
    i16 WriteCustom(const char* column, const char* value) override {
        std::lock_guard<std::mutex> hold(recorder.lock);
        recorder.customs.push_back(std::string(column) + "|" + value);
        return recorder.writeResult;
    }

private:
    AuditRecorder& recorder;
};

// Makes every new audit handle a RecordingAudit over recorder while it lives.
class RecordingAuditMaker {
public:
    explicit RecordingAuditMaker(AuditRecorder& recorder) {
        SetAuditClientMaker([&recorder](u16 port) {
            {
                std::lock_guard<std::mutex> hold(recorder.lock);
                recorder.ports.push_back(port);
            }
            return std::make_unique<RecordingAudit>(recorder);
        });
    }
    ~RecordingAuditMaker() { SetAuditClientMaker(nullptr); }
    RecordingAuditMaker(const RecordingAuditMaker&) = delete;
    RecordingAuditMaker& operator=(const RecordingAuditMaker&) = delete;
};

}  // namespace gmtest
