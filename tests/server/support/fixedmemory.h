// Fixed memory figures for the server's memory report and process meters, installed while the
// object lives.
#pragma once
#include "platform/procinfo.h"
#include "server/runtime/diagnostics.h"

namespace gmtest {

constexpr u64 kMiB = 1048576;

class FixedMemory : public tMemorySource {
public:
    FixedMemory() { SetMemorySource(this); }
    ~FixedMemory() override { SetMemorySource(nullptr); }
    FixedMemory(const FixedMemory&) = delete;
    FixedMemory& operator=(const FixedMemory&) = delete;

    bool ReadSystem(plat::SystemMemory& out) override {
        out = system;
        return systemReadable;
    }
    bool ReadProcess(plat::ProcessMemory& out) override {
        out = process;
        return processReadable;
    }

    plat::SystemMemory system;
    plat::ProcessMemory process;
    bool systemReadable = true;
    bool processReadable = true;
};

}  // namespace gmtest
