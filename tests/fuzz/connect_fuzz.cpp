// Fuzz target of the connect packet. The wire bytes arrive in pieces from the input; the receipt
// and the head read must match a plain model of the packet: what is received, what is refused,
// and that nothing past the announced length is ever asked of the source.
//
// Input: flags byte (bits 0-1 source piece size), then the wire bytes.
#include <cstdint>
#include <cstring>
#include <string>

#include "lib_common/commbuffer.h"
#include "server/process/acceptance.h"
#include "tests/fuzz/fuzzcheck.h"
#include "tests/support/bytesource.h"

namespace {

// Fails the run: the receipt and the model disagree.

const u8 kMagic[] = {0xAE, 'G', 'M', 'L', 0xAE, 0};
constexpr size_t kOrderAt = 10;
constexpr size_t kHeadSize = 12;

// The packet's length as its byte-order byte says the sender wrote it.
u32 AnnouncedLength(const u8* wire, bool swap) {
    u32 length = 0;
    std::memcpy(&length, wire, sizeof length);
    if (swap) SwapBytes(&length, sizeof length);
    return length;
}

void CheckRefused(const tCommBuffer& buffer) {
    FUZZ_CHECK(buffer.IsMalformed() && buffer.GetBytesLeft() == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const u32 pieceSizes[] = {1, 3, 7, 1u << 20};
    const u32 pieceSize = pieceSizes[data[0] & 3];
    const u8* wire = data + 1;
    const size_t wireSize = size - 1;

    tCommBuffer buffer;
    gmtest::ScriptedSource source(std::string(wire, wire + wireSize), pieceSize);
    const tConnectStatus status = ReceiveConnectPacket(source, buffer);
    FUZZ_CHECK(!source.firstPieceWrong);
    if (wireSize == 0) {
        FUZZ_CHECK(status == tConnectStatus::ReceiveFailed);
        CheckRefused(buffer);
        return 0;
    }
    if (wireSize < kHeadSize) {
        FUZZ_CHECK(status == tConnectStatus::Malformed && source.served == wireSize);
        CheckRefused(buffer);
        return 0;
    }
    const bool swap = (wire[kOrderAt] == kByteOrderLittle) != IsLittleEndian();
    const u32 announced = AnnouncedLength(wire, swap);
    if (announced < kConnectMinLength || announced > kConnectMaxLength) {
        FUZZ_CHECK(status == tConnectStatus::Malformed && source.served == kHeadSize);
        CheckRefused(buffer);
        return 0;
    }
    if (wireSize < announced) {
        FUZZ_CHECK(status == tConnectStatus::Malformed && source.served == wireSize);
        CheckRefused(buffer);
        return 0;
    }
    FUZZ_CHECK(status == tConnectStatus::Received && source.served == announced);
    FUZZ_CHECK(!buffer.IsMalformed() && buffer.IsSwapped() == swap);
    FUZZ_CHECK(buffer.GetFrameLength() == announced && buffer.GetBytesLeft() == announced - 4);

    tConnectHead head;
    const bool accepted = ReadConnectHead(buffer, head);
    FUZZ_CHECK(accepted == (std::memcmp(wire + 4, kMagic, sizeof kMagic) == 0));
    if (accepted) {
        FUZZ_CHECK(head.byteOrder == wire[kOrderAt] && head.kind == wire[kOrderAt + 1]);
        FUZZ_CHECK(buffer.GetBytesLeft() == announced - kHeadSize);
    }
    return 0;
}
