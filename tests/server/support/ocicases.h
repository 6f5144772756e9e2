// What the tests of both OCI layers share: long values read back through their header, and the
// stored procedure P with its inputs, its outputs and the cases where inputs or a call fail.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "lib_base/list.h"
#include "server/drivers/oci.h"
#include "server/tables/dbtable.h"
#include "tests/server/support/recoci_control.h"

namespace gmtest {

// A value stored with the long-value header claiming the length given, then length bytes.
inline std::string LongValue(u32 length, u32 claimed) {
    std::string bytes(6, '\0');
    const u16 mark = kLongValueMark;
    std::memcpy(&bytes[0], &mark, 2);
    std::memcpy(&bytes[2], &claimed, 4);
    for (u32 i = 0; i < length; ++i) bytes += static_cast<char>('a' + i % 26);
    return bytes;
}

// GetBlob over a column of the type: a short value, 65535 bytes without the mark, 100,000 bytes
// through the header, and a header claiming more than the buffer (which fails, copying nothing
// beyond the buffer: ASan watches it).
inline void ExpectLongValuesRead(RecOciControl& rec, tOCIStmt& stmt, int columnType) {
    const std::string plain(65535, 'p');
    const std::string long100k = LongValue(100000, 100000);
    const struct {
        const char* label;
        std::string stored;
        bool ok;
        i32 length;
        std::string value;
    } cases[] = {
        {"short", "0123456789", true, 10, "0123456789"},
        {"65535 without mark", plain, true, 65535, plain},
        {"100000 with header", long100k, true, 100000, long100k.substr(6)},
        {"header claims more than the buffer", LongValue(70000, kBlobBufferSize), false, 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        rec.AddResult("select IMG from T where R_E_C_N_O_ = 1");
        rec.AddColumn("IMG", columnType, 0);
        rec.AddRow();
        rec.AddValueBytes(c.stored.data(), c.stored.size());
        std::vector<char> buffer(kBlobBufferSize);  // exactly: ASan sees any copy beyond it
        i32 length = kBlobBufferSize;
        EXPECT_EQ(stmt.GetBlob("select IMG from T where R_E_C_N_O_ = 1", buffer.data(), length),
                  c.ok);
        EXPECT_EQ(length, c.length);
        if (c.ok) {
            EXPECT_EQ(std::string(buffer.data(), static_cast<size_t>(length)), c.value);
        }
    }
}

// P(A NUMBER in, B VARCHAR2 in, C NUMBER out, D in/out of the text type given).
inline void ScriptProcedureP(RecOciControl& rec, int textType) {
    rec.AddProcedure("P");
    rec.AddArgument("A", 2, 0);
    rec.AddArgument("B", 1, 0);
    rec.AddArgument("C", 2, 1);
    rec.AddArgument("D", textType, 2);
}

// Inputs for P: 2 gives N(7) and C("xy"), 1 only N(7), -1 C("xy") before N(7).
inline void ProcedureInputs(int shape, tArray<tDATAField>& inputs) {
    auto* number = new tNumericField("A", 'N', 15, 2);
    const f64 seven = 7;
    number->SetData(&seven, sizeof seven);
    auto* text = new tCharField("B", 'C', 5, 0);
    text->SetData("xy", 2);
    if (shape < 0) inputs.Add(text);
    inputs.Add(number);
    if (shape == 2) inputs.Add(text);
    if (shape == 1) delete text;
}

// The outputs P gives: C as N(15,2), D as C(255,0).
inline void ExpectProcedureOutputs(tArray<tDATAField>& outputs) {
    ASSERT_EQ(outputs.Count(), 2);
    EXPECT_STREQ(outputs[0]->GetName(), "C");
    EXPECT_EQ(outputs[0]->GetType(), 'N');
    EXPECT_EQ(outputs[0]->GetLen(), 15);
    EXPECT_EQ(outputs[0]->GetDecimals(), 2);
    EXPECT_STREQ(outputs[1]->GetName(), "D");
    EXPECT_EQ(outputs[1]->GetType(), 'C');
    EXPECT_EQ(outputs[1]->GetLen(), 255);
    EXPECT_EQ(outputs[1]->GetDecimals(), 0);
}

struct tProcedureCase {
    const char* label;
    int inputs;            // the shape of ProcedureInputs
    const char* failCall;  // an entry point that fails, or none
    bool scripted;         // P is scripted (else unknown)
    i16 code;
    const char* message;
};

// The failing cases, with the layer's entry points that describe, bind and execute.
inline std::vector<tProcedureCase> ProcedureFailures(const char* describe, const char* bind,
                                                     const char* execute) {
    return {
        {"too few inputs", 1, nullptr, true, kSPExecBadArguments,
         "Insufficient number of parameters (1)."},
        {"wrong letter", -1, nullptr, true, kSPExecBadArguments, "Invalid parameter type (C - N)"},
        {"failing call", 2, execute, true, kSPExecCallFailed, ""},
        {"failing bind", 2, bind, true, kSPExecCallFailed, ""},
        {"failing describe", 2, describe, true, kSPExecCallFailed, ""},
        {"unknown procedure", 2, nullptr, false, kSPExecCallFailed, ""},
    };
}

}  // namespace gmtest
