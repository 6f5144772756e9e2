// Helpers shared by the test programs: catching our assertions, capturing console output and
// looking for a part of a text.
#pragma once
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "lib_base/gmlassert.h"
#include "lib_base/printer.h"

namespace gmtest {

inline bool Holds(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Runs f and gives the text of the tAssertException it raised, "(no text)" for an assertion
// without one, or "(no assertion)" when f returned normally.
inline std::string AssertText(const std::function<void()>& f) {
    try {
        f();
    } catch (tAssertException* e) {
        std::unique_ptr<tAssertException> owned(e);
        return owned->GetExtra() ? owned->GetExtra() : "(no text)";
    }
    return "(no assertion)";
}

// Collects everything printed through the console printer while it lives.
class ConsoleCapture {
public:
    ConsoleCapture() {
        Text().clear();
        SetConsolePrinter(&ConsoleCapture::Collect);
    }
    ~ConsoleCapture() { SetConsolePrinter(nullptr); }
    std::string Get() const {
        std::lock_guard<std::mutex> hold(Lock());
        return Text();
    }

private:
    static std::string& Text() {
        static std::string text;
        return text;
    }
    static std::mutex& Lock() {
        static std::mutex lock;
        return lock;
    }
    static void Collect(const char* text) {
        std::lock_guard<std::mutex> hold(Lock());
        Text() += text;
    }
};

}  // namespace gmtest
