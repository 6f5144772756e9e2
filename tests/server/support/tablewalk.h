// Reading a table file as its client does: the record that each move sends, and every record
// from the top forwards and from the bottom backwards.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "lib_common/commbuffer.h"
#include "server/isam/gatemill.h"
#include "tests/server/support/wirebytes.h"

namespace gmtest {

// What the file puts for the client: the record number and the record's bytes.
struct SentRecord {
    int recno;
    std::string record;
};

inline SentRecord Send(tISAMFile& file, tCommBuffer& reply) {
    reply.Reset();
    file.SendRecord();
    const std::string bytes = Payload(reply);
    f64 recno = 0;
    std::memcpy(&recno, bytes.data(), sizeof recno);
    return {static_cast<int>(recno), bytes.substr(sizeof recno)};
}

// The record numbers from the top forwards and from the bottom backwards, as sent; check sees
// every record sent.
inline void WalkBothWays(tISAMFile& file, tCommBuffer& reply,
                         const std::function<void(const SentRecord&)>& check,
                         std::vector<int>& forward, std::vector<int>& backward) {
    const auto read = [&](std::vector<int>& into) {
        const SentRecord sent = Send(file, reply);
        check(sent);
        into.push_back(sent.recno);
    };
    ASSERT_TRUE(file.GoTop());
    do {
        read(forward);
    } while (file.Skip(1));
    ASSERT_TRUE(file.GoBottom());
    do {
        read(backward);
    } while (file.Skip(-1));
}

inline std::vector<int> Reversed(std::vector<int> v) { return {v.rbegin(), v.rend()}; }

}  // namespace gmtest
