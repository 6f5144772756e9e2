// Fuzz target of the typed parameter decoders: arbitrary OP_SQLBIND and OP_SPEXEC payloads.
// Input: a flags byte (bit 0 the procedure call's encoding, bit 1 the MSSQL date class), then
// the payload: an i16 count in host order and the values. A decode that succeeds consumed no
// more than arrived; one that fails keeps no element. Crashes and sanitizer reports fail too.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "lib_common/commbuffer.h"
#include "lib_common/retcodes.h"
#include "server/dispatch/paramdecode.h"
#include "server/tables/dbtable.h"

namespace {

#define FUZZ_CHECK(cond)                                     \
    do {                                                     \
        if (!(cond)) {                                       \
            std::fprintf(stderr, "fuzz check: %s\n", #cond); \
            std::abort();                                    \
        }                                                    \
    } while (0)

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 1u << 16) return 0;
    const u8 flags = data[0];
    const u32 length = static_cast<u32>(size - 1 + 4);
    tCommBuffer in;
    in.Prepare(length);
    std::memcpy(in.GetReceivePtr(0), &length, 4);
    if (size > 1) std::memcpy(in.GetReceivePtr(4), data + 1, size - 1);
    FUZZ_CHECK(in.SetReceived(length) == size - 1);
    i16 count = 0;
    in.GetShort(count);
    tAutoArray<tDATAField> params;
    tString callText("-- CALL P (");
    const i16 code = (flags & 1) ? DecodeProcParams(in, count, params, callText)
                                 : DecodeParamList(in, count, (flags & 2) != 0, params);
    FUZZ_CHECK(in.GetBytesLeft() <= size - 1);
    if (code != RC_OK || in.IsMalformed()) {
        FUZZ_CHECK(params.Count() == 0);
        return 0;
    }
    FUZZ_CHECK(params.Count() <= count);
    for (i32 i = 0; i < params.Count(); ++i) {
        tDATAField* field = params.Get(i);
        // Every value can be read whole: its size is what the request carried.
        volatile u8 sink = 0;
        const u8* bytes = static_cast<const u8*>(field->GetData());
        for (u32 k = 0; k < field->GetValueSize(); ++k) sink = sink ^ bytes[k];
        (void)sink;
    }
    return 0;
}
