// A memo of a table file read as the client reads it: its length first, then that many bytes.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "lib_common/commbuffer.h"
#include "server/isam/gatemill.h"
#include "tests/server/support/wirebytes.h"

namespace gmtest {

// The bytes of the memo of recno, read from the database (the file's memos are forgotten
// first); the replies go through reply.
inline std::string ReadMemo(tISAMFile& file, tCommBuffer& reply, i16 memoId, i32 recno) {
    file.ResetBlobs();
    reply.Reset();
    file.BlobRead(memoId, recno, 0);
    const std::string head = Payload(reply);
    EXPECT_EQ(head.size(), sizeof(i32));
    i32 length = 0;
    std::memcpy(&length, head.data(), std::min(sizeof length, head.size()));
    reply.Reset();
    file.BlobRead(memoId, recno, length);
    const std::string all = Payload(reply);
    EXPECT_EQ(all.substr(0, sizeof(i32)), std::string(sizeof(i32), '\0'));
    return all.size() > sizeof(i32) ? all.substr(sizeof(i32)) : std::string();
}

}  // namespace gmtest
