// A byte source for tests of the frame and connect-packet readers: it serves its bytes in pieces
// and records how it was asked for them.
#pragma once
#include <algorithm>
#include <cstring>
#include <string>

#include "lib_common/commbuffer.h"

namespace gmtest {

// Serves its bytes in pieces of at most pieceSize, then 0 for ever.
class ScriptedSource : public tByteSource {
public:
    ScriptedSource(std::string bytes, u32 pieceSize)
        : bytes(std::move(bytes)), pieceSize(pieceSize) {}
    i64 Receive(void* dst, u32 maxBytes, bool firstPiece) override {
        firstPieces += firstPiece ? 1 : 0;
        if (firstPiece != (served == 0)) firstPieceWrong = true;
        largestAsk = std::max(largestAsk, maxBytes);
        const size_t n = std::min<size_t>({maxBytes, pieceSize, bytes.size() - served});
        if (n > 0) std::memcpy(dst, bytes.data() + served, n);
        served += n;
        return static_cast<i64>(n);
    }

    std::string bytes;
    u32 pieceSize;
    size_t served = 0;
    int firstPieces = 0;  // asks marked as the first piece
    bool firstPieceWrong =
        false;  // an ask marked first after bytes were served, or not marked before
    u32 largestAsk = 0;
};

}  // namespace gmtest
