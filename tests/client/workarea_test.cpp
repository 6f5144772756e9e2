// Work areas: the record layout by the type-size rule, local field access through the exports,
// the changed-structure block, and the table-creation descriptor.
#include "client/workarea.h"

#include <gtest/gtest.h>

#include <cstring>

#include "client/gatemillapi.h"
#include "lib_common/commbuffer.h"
#include "tests/client/support/clienttest.h"
#include "tests/client/support/wirebytes.h"

using gmtest::Reply;
using gmtest::tTableSession;
using gmtest::tWire;

namespace {

// Puts a received reply with this payload into the buffer.
void Receive(tCommBuffer& buffer, const tWire& payload) {
    const std::string frame = payload.Frame();
    buffer.Prepare(frame.size());
    std::memcpy(buffer.GetReceivePtr(0), frame.data(), frame.size());
    buffer.SetReceived(static_cast<u32>(frame.size()));
}

tWire& Field(tWire& w, const char* name, char type, i16 length, i16 decimals = 0) {
    return w.Text(name).Byte(static_cast<u8>(type)).Short(length).Short(decimals);
}

// C(10), N(12,2), L, D, M(10), C(5) in a record the server says is 40 bytes long.
tWire MixedStructure() {
    tWire w;
    w.Long(40).Short(6);
    Field(w, "NAME", 'C', 10);
    Field(w, "PRICE", 'N', 12, 2);
    Field(w, "ACTIVE", 'L', 1);
    Field(w, "BORN", 'D', 8);
    Field(w, "NOTES", 'M', 10);
    Field(w, "D_E_L_E_T_", 'C', 5);
    return w;
}

}  // namespace

TEST(WorkArea, FieldsAreLaidOutByTheirTypeSizes) {
    tCommBuffer buffer;
    tClientWorkArea area(buffer, true);
    Receive(buffer, MixedStructure());
    ASSERT_TRUE(area.ReadStructure());
    EXPECT_EQ(area.GetRecordSize(), 40);  // the server's, not the sum of the fields
    const u32 offsets[] = {0, 10, 18, 19, 27, 27};
    ASSERT_EQ(area.GetFieldCount(), 6);
    for (i32 i = 0; i < 6; ++i) EXPECT_EQ(area.GetField(i)->offset, offsets[i]) << i;
    EXPECT_EQ(area.GetField(6), nullptr);
    EXPECT_EQ(area.GetField(-1), nullptr);
    EXPECT_EQ(area.FindField("d_e_l_e_t_"), area.GetField(5));
    EXPECT_EQ(area.FindField("NOTE"), nullptr);
}

TEST(WorkArea, TextWritesCopyUpToTheFieldLength) {
    tCommBuffer buffer;
    tClientWorkArea area(buffer, true);
    Receive(buffer, MixedStructure());
    ASSERT_TRUE(area.ReadStructure());
    const tClientField& last = *area.GetField(5);
    std::memset(area.GetFieldAddress(last), 'x', 5);
    EXPECT_EQ(area.WriteField(last, "AB"), 2);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(area.GetFieldAddress(last)), 5), "ABxxx");
    EXPECT_EQ(area.WriteField(last, "123456789012"), 5);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(area.GetFieldAddress(last)), 5), "12345");
    const f64 price = 12.5;
    EXPECT_EQ(area.WriteField(*area.GetField(1), &price), 8);
    EXPECT_EQ(area.WriteField(*area.GetField(2), "T"), 1);
    EXPECT_EQ(area.WriteField(*area.GetField(4), "memo"), 0);
    EXPECT_EQ(area.WriteField(*area.GetField(0), nullptr), 0);
    f64 stored = 0;
    std::memcpy(&stored, area.GetRecord() + 10, 8);
    EXPECT_EQ(stored, 12.5);
    EXPECT_EQ(area.GetRecord()[18], 'T');
}

TEST(WorkArea, ChangedStructureMovesLaterFieldsAndGrowsTheRecord) {
    tCommBuffer buffer;
    tClientWorkArea area(buffer, false);
    Receive(buffer, MixedStructure());
    ASSERT_TRUE(area.ReadStructure());
    // Field 0 grows from 10 to 20 bytes: the record becomes 50 bytes.
    tWire reply;
    reply.Short(1).Long(50).Short(1).Short(0).Long(20).Double(4).Raw(std::string(50, 'r')).Zeros(7);
    Receive(buffer, reply);
    ASSERT_TRUE(area.ReadRecord());
    EXPECT_EQ(area.GetRecordSize(), 50);
    const u32 offsets[] = {0, 20, 28, 29, 37, 37};
    for (i32 i = 0; i < 6; ++i) EXPECT_EQ(area.GetField(i)->offset, offsets[i]) << i;
    EXPECT_EQ(area.recno, 4);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(area.GetRecord()), 50), std::string(50, 'r'));
}

TEST(WorkArea, InconsistentChangedStructureChangesNothing) {
    const struct {
        const char* name;
        tWire block;
    } cases[] = {
        {"field index beyond the fields", tWire().Short(1).Long(60).Short(1).Short(6).Long(20)},
        {"negative field index", tWire().Short(1).Long(60).Short(1).Short(-1).Long(20)},
        {"negative length", tWire().Short(1).Long(60).Short(1).Short(0).Long(-5)},
        {"fields past the new size", tWire().Short(1).Long(30).Short(1).Short(0).Long(20)},
        {"negative size", tWire().Short(1).Long(-1).Short(0)},
        {"more pairs than bytes", tWire().Short(1).Long(60).Short(500).Short(0).Long(20)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        tCommBuffer buffer;
        tClientWorkArea area(buffer, false);
        Receive(buffer, MixedStructure());
        ASSERT_TRUE(area.ReadStructure());
        tWire reply = c.block;
        Receive(buffer, reply.Double(4).Raw(std::string(60, 'r')).Zeros(7));
        EXPECT_FALSE(area.ReadRecord());
        EXPECT_EQ(area.GetRecordSize(), 40);
        EXPECT_EQ(area.GetField(1)->offset, 10u);
        EXPECT_EQ(area.GetField(0)->length, 10u);
    }
}

TEST(WorkArea, LengthsTravelAsSixteenBitsWithoutSign) {
    tCommBuffer buffer;
    tClientWorkArea area(buffer, true);
    tWire w;
    w.Long(40000).Short(1);
    Field(w, "BIG", 'C', static_cast<i16>(40000));
    Receive(buffer, w);
    ASSERT_TRUE(area.ReadStructure());
    EXPECT_EQ(area.GetField(0)->length, 40000u);
    Receive(buffer, tWire().Long(39999).Short(1).Raw(w.Payload().substr(6)));
    EXPECT_FALSE(area.ReadStructure());  // the field would pass the record's end
}

// ---- the local exports
// ----------------------------------------------------------------------------

namespace {

constexpr uint16_t kWa = 4;

std::string OpenOrders() {
    tWire w;
    w.Short(0).Short(kWa).Long(16).Short(4);
    Field(w, "CODE", 'C', 6);
    Field(w, "VALUE", 'N', 15, 2);
    Field(w, "ACTIVE", 'L', 1);
    Field(w, "A_NAME_LONGER_THAN_THE_THIRTY_BYTES_OF_ROOM", 'C', 1);
    return w.Byte(1).Byte(1).Byte(0).Long(0).Text("IDX1,IDX2").Text("CODE;VALUE+CODE").Payload();
}

}  // namespace

TEST(WorkAreaExports, FieldDescriptionsAreBoundedAndNumericIsReportedAsDouble) {
    tTableSession session({Reply(OpenOrders())});
    ASSERT_EQ(GM_Open(session.handle, "ORDERS", 0, 0), kWa);
    EXPECT_EQ(GM_GetColCount(session.handle, kWa), 4);
    const struct {
        int16_t index;
        int16_t result;
        const char* name;
        uint8_t type;
        uint32_t length;
        uint16_t declared;
        uint16_t decimals;
    } cases[] = {
        {0, 0, "CODE", 'C', 6, 6, 0},
        {1, 0, "VALUE", 'F', 8, 15, 2},
        {2, 0, "ACTIVE", 'L', 1, 1, 0},
        {3, 0, "A_NAME_LONGER_THAN_THE_THIRTY", 'C', 1, 1, 0},
        {4, RC_NO_SUCH_FIELD, "", 0, 0, 0, 0},
        {-1, RC_NO_SUCH_FIELD, "", 0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.index);
        char name[40];
        std::memset(name, 0, sizeof name);
        uint8_t type = 0;
        uint32_t length = 0;
        uint16_t shortLength = 0;
        uint16_t declared = 0;
        uint16_t decimals = 0;
        EXPECT_EQ(GM_GetFieldDesc(session.handle, kWa, c.index, name, &type, &length, &declared,
                                  &decimals),
                  c.result);
        EXPECT_STREQ(name, c.name);
        EXPECT_EQ(type, c.type);
        EXPECT_EQ(length, c.length);
        EXPECT_EQ(declared, c.declared);
        EXPECT_EQ(decimals, c.decimals);
        EXPECT_EQ(GM_GetGeneralFldDesc(session.handle, kWa, c.index, nullptr, nullptr, &shortLength,
                                       nullptr, nullptr),
                  c.result);
        EXPECT_EQ(shortLength, c.length);
    }
    EXPECT_EQ(GM_GetFieldDesc(session.handle, 9, 0, nullptr, nullptr, nullptr, nullptr, nullptr),
              RC_NOT_OPEN);
    EXPECT_EQ(GM_GetFieldDesc(0, kWa, 0, nullptr, nullptr, nullptr, nullptr, nullptr), 0);
}

TEST(WorkAreaExports, IndexListsAreReadLocally) {
    tTableSession session({Reply(OpenOrders())});
    ASSERT_EQ(GM_Open(session.handle, "ORDERS", 0, 0), kWa);
    char text[64];
    EXPECT_EQ(GM_GetKeyNames(session.handle, kWa, text), 2);
    EXPECT_STREQ(text, "IDX1,IDX2");
    const struct {
        int16_t n;
        int16_t result;
        const char* key;
    } cases[] = {{2, 0, "CODE"},        {3, 0, "VALUE+CODE"},   {4, RC_BAD_INDEX, ""},
                 {1, RC_BAD_INDEX, ""}, {-5, RC_BAD_INDEX, ""}, {32767, RC_BAD_INDEX, ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.n);
        std::strcpy(text, "junk");
        EXPECT_EQ(GM_GetKeys(session.handle, kWa, text, c.n), c.result);
        EXPECT_STREQ(text, c.key);
    }
}

TEST(WorkAreaExports, FieldAccessByNameAndNumberStaysInTheRecord) {
    tTableSession session({Reply(OpenOrders())});
    ASSERT_EQ(GM_Open(session.handle, "ORDERS", 0, 0), kWa);
    char* record = GM_GetInternalRec(session.handle, kWa);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(GM_GetInternalFld(session.handle, kWa, "value"), record + 6);
    EXPECT_EQ(GM_GetInternalFldN(session.handle, kWa, 3), record + 14);
    EXPECT_EQ(GM_GetInternalFldN(session.handle, kWa, 0), nullptr);
    EXPECT_EQ(GM_GetInternalFldN(session.handle, kWa, 5), nullptr);
    EXPECT_EQ(GM_GetInternalFld(session.handle, kWa, "MISSING"), nullptr);
    EXPECT_EQ(GM_GetInternalFld(session.handle, kWa, nullptr), nullptr);
    EXPECT_NE(GM_GetIsNull(session.handle, kWa, 4), nullptr);
    EXPECT_EQ(GM_GetIsNull(session.handle, kWa, 5), nullptr);
    EXPECT_EQ(GM_SetInternalFld(session.handle, kWa, "code", "ABCDEFGHI"), 6);
    EXPECT_EQ(GM_SetInternalFld(session.handle, kWa, "MISSING", "A"), 0);
    EXPECT_EQ(GM_SetInternalFldN(session.handle, kWa, 9, "A"), 0);
    EXPECT_EQ(std::string(record, 6), "ABCDEF");
    EXPECT_EQ(GM_InitRecord(session.handle, kWa, 0), 0);
    EXPECT_EQ(std::string(record, 16), std::string(16, '\0'));
    EXPECT_EQ(GM_Bof(session.handle, kWa), 1);
    EXPECT_EQ(GM_RecNo(session.handle, kWa), 1);  // at end of an empty table: count + 1
    EXPECT_EQ(GM_GetInternalRec(session.handle, 9), nullptr);
    EXPECT_EQ(GM_Bof(session.handle, 9), RC_NOT_OPEN);
    EXPECT_EQ(GM_InitRecord(0, kWa, 0), 0);
    GM_DisConnect(session.handle);
    EXPECT_EQ(GM_GetInternalRec(session.handle, kWa), nullptr);
    EXPECT_EQ(GM_Bof(session.handle, kWa), RC_NOT_CONNECTED);
    EXPECT_EQ(GM_GetColCount(session.handle, kWa), RC_NOT_CONNECTED);
}

TEST(CreateDescriptor, SlotsAreBoundedAndSentInTheServersOrder) {
    EXPECT_EQ(GM_GetCreateStruct(-1, 0, 0), 0u);
    tTableSession session({Reply(tWire().Short(0).Payload())});
    const GM_HANDLE fields = GM_GetCreateStruct(3, 1, 2);
    ASSERT_NE(fields, 0u);
    EXPECT_EQ(GM_SetCreateField(fields, 3, "X", 'C', 1, 0, 0), nullptr);
    EXPECT_EQ(GM_SetCreateField(fields, -1, "X", 'C', 1, 0, 0), nullptr);
    EXPECT_NE(GM_SetCreateField(fields, 0, "A_NAME_OF_TWENTY_FOUR_XX", 'C', 30, 0, 0), nullptr);
    EXPECT_NE(GM_SetCreateField(fields, 2, "PRICE", 'N', 15, 15, 2), nullptr);
    EXPECT_EQ(GM_CreateFile(session.handle, "ITEMS", fields), 0);
    const auto requests = session.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0], tWire()
                               .Short(5)
                               .Text("ITEMS")
                               .Short(3)
                               .Text("A_NAME_OF_TWENTY_")
                               .Byte('C')
                               .Short(30)
                               .Short(0)
                               .Short(0)
                               .Text("")
                               .Byte(0)
                               .Short(0)
                               .Short(0)
                               .Short(0)
                               .Text("PRICE")
                               .Byte('N')
                               .Short(15)
                               .Short(15)
                               .Short(2)
                               .Frame());
}
