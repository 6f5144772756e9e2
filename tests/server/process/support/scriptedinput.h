// Console input under test: text typed ahead of a prompt (which a flush throws away) and answers
// that arrive only once a read waits for them, as a person answers a prompt.
#pragma once
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>

#include "platform/event.h"
#include "server/process/win32start.h"

namespace gmtest {

class ScriptedInput : public tConsoleInput {
public:
    void TypeAhead(const std::string& text) {
        std::lock_guard<std::mutex> hold(lock);
        typed += text;
    }
    void Answer(const std::string& line) {
        std::lock_guard<std::mutex> hold(lock);
        answers.push_back(line);
        changed.notify_all();
    }
    int Reads() {
        std::lock_guard<std::mutex> hold(lock);
        return reads;
    }

    void Flush() override {
        std::lock_guard<std::mutex> hold(lock);
        typed.clear();
    }
    // Takes the first line typed ahead, else waits (at most 20 s) for the next answer.
    size_t ReadLine(char* buffer, size_t size) override {
        std::unique_lock<std::mutex> hold(lock);
        ++reads;
        reading.Set();
        if (typed.empty()) {
            changed.wait_for(hold, std::chrono::seconds(20), [this] { return !answers.empty(); });
            if (answers.empty()) return 0;
            typed = answers.front();
            answers.pop_front();
        }
        const size_t end = typed.find('\n');
        const size_t line = end == std::string::npos ? typed.size() : end + 1;
        const size_t count = std::min(line, size - 1);
        std::memcpy(buffer, typed.data(), count);
        buffer[count] = '\0';
        typed.erase(0, count);
        return count;
    }

    plat::ManualResetEvent reading;  // set when a read has begun

private:
    std::mutex lock;
    std::condition_variable changed;
    // Guarded by lock.
    std::string typed;
    std::deque<std::string> answers;
    int reads = 0;
};

}  // namespace gmtest
