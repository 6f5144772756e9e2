// Decoders of typed parameter values. A text's field is sized from the text actually received,
// never from a length the client states; an image's byte count is compared with what is left of
// the request before its buffer is made.
#include "server/dispatch/paramdecode.h"

#include <cstring>
#include <memory>

#include "lib_common/commbuffer.h"
#include "lib_common/retcodes.h"
#include "server/isam/dbconn.h"
#include "server/tables/dbtable.h"

namespace {

constexpr i32 kMaxTextLength = 65535;  // a value field's length is 16 bits wide
constexpr i16 kShortDateLength = 24;   // dates and date-times shorter than 25 take this length
constexpr i16 kDoubleLength = 15;

enum class tStep { Next, Refused, Malformed };

// A text value: Malformed when it lacks its NUL among the bytes left, Refused when it is longer
// than a field holds.
tStep ReadText(tCommBuffer& in, tString& text) {
    in.GetString(text);
    if (in.IsMalformed()) return tStep::Malformed;
    return text.GetLength() > kMaxTextLength ? tStep::Refused : tStep::Next;
}

i16 FieldLength(i32 n) { return static_cast<i16>(static_cast<u16>(n)); }

i16 DateLength(i32 n) { return n < kShortDateLength + 1 ? kShortDateLength : FieldLength(n); }

template <class T>
std::unique_ptr<tDATAField> TextField(u8 type, i16 length, const tString& text) {
    auto field = std::make_unique<T>("", type, length, 0);
    field->SetData(text.GetText(), static_cast<size_t>(text.GetLength()));
    return field;
}

std::unique_ptr<tDATAField> ByteField(u8 type, u8 byte) {
    auto field = std::make_unique<tCharField>("", type, 1, 0);
    field->SetData(&byte, 1);  // the buffer's extra byte is the NUL
    return field;
}

std::unique_ptr<tDATAField> DoubleField(f64 value) {
    auto field = std::make_unique<tNumericField>("", 'N', kDoubleLength, 0);
    field->SetData(&value, sizeof value);
    return field;
}

// One value of the statement encoding; field stays null for a type byte without a value.
tStep DecodeOne(tCommBuffer& in, u8 type, bool mssql, std::unique_ptr<tDATAField>& field) {
    tString text;
    tStep step = tStep::Next;
    switch (type) {
        case 'A':
        case 'B':
            if ((step = ReadText(in, text)) != tStep::Next) return step;
            field = TextField<tCharField>(type, FieldLength(text.GetLength()), text);
            return step;
        case 'D':
            if ((step = ReadText(in, text)) != tStep::Next) return step;
            field = mssql ? TextField<tDateTimeField>('D', DateLength(text.GetLength()), text)
                          : TextField<tDateField>('D', DateLength(text.GetLength()), text);
            return step;
        case 'T': {
            if ((step = ReadText(in, text)) != tStep::Next) return step;
            i32 first = 0;
            i32 last = 0;
            in.GetLong(first);
            in.GetLong(last);
            if (in.IsMalformed()) return tStep::Malformed;
            field = TextField<tDateTimeField>('T', DateLength(text.GetLength()), text);
            field->SetFirstUnit(first);
            field->SetLastUnit(last);
            return step;
        }
        case 'E':
        case 'R': {
            i32 value = 0;
            in.GetLong(value);
            if (in.IsMalformed()) return tStep::Malformed;
            field = std::make_unique<tNumericField>("", type, 4, 0);
            field->SetData(&value, sizeof value);  // the other four bytes stay zero
            return step;
        }
        case 'F': {
            f64 value = 0.0;
            in.GetDouble(value);
            if (in.IsMalformed()) return tStep::Malformed;
            field = DoubleField(value);
            return step;
        }
        case 'I': {
            i32 n = 0;
            in.GetLong(n);
            if (in.IsMalformed()) return tStep::Malformed;
            if (n < 0) return tStep::Refused;
            if (static_cast<u32>(n) > in.GetBytesLeft()) {
                in.GetBytes(static_cast<void*>(nullptr), n);  // marks the frame, reads nothing
                return tStep::Malformed;
            }
            field = std::make_unique<tImageField>("", 'I', static_cast<u32>(n), 0);
            in.GetBytes(field->GetData(), n);
            return step;
        }
        case 'L':
        case 'X': {
            u8 byte = 0;
            in.GetByte(byte);
            if (in.IsMalformed()) return tStep::Malformed;
            field = ByteField(type == 'L' ? 'C' : 'X', byte);
            return step;
        }
        default:
            return step;  // the type byte alone
    }
}

// One value of the procedure encoding, appended to callText too.
tStep DecodeProcOne(tCommBuffer& in, u8 letter, std::unique_ptr<tDATAField>& field,
                    tString& callText) {
    switch (letter) {
        case 'A':
        case 'D': {
            tString text;
            const tStep step = ReadText(in, text);
            if (step != tStep::Next) return step;
            field = TextField<tCharField>('C', FieldLength(text.GetLength()), text);
            callText += "'";
            callText += text;
            callText += "'";
            return step;
        }
        case 'F': {
            f64 value = 0.0;
            in.GetDouble(value);
            if (in.IsMalformed()) return tStep::Malformed;
            field = DoubleField(value);
            char number[kRecnoTextSize];
            callText += RecnoToStr(value, number);
            return tStep::Next;
        }
        case 'L': {
            u8 byte = 0;
            in.GetByte(byte);
            if (in.IsMalformed()) return tStep::Malformed;
            field = ByteField('C', byte);
            const char quoted[] = {'\'', static_cast<char>(byte), '\'', '\0'};
            callText += byte ? quoted : "''";
            return tStep::Next;
        }
        default:
            return tStep::Next;
    }
}

// Decodes count values, each a letter byte and what decodeOne reads for it. Every value takes
// at least its letter byte, so a count larger than what is left cannot be in the request.
template <class DecodeOneFn>
i16 DecodeEach(tCommBuffer& in, i16 count, tAutoArray<tDATAField>& params, DecodeOneFn decodeOne) {
    if (count < 0) return RC_FAILED;
    if (static_cast<u32>(count) > in.GetBytesLeft()) {
        in.GetBytes(static_cast<void*>(nullptr), count);  // marks the frame, reads nothing
        return RC_FAILED;
    }
    params.SetCapacity(count);
    for (i16 i = 0; i < count; ++i) {
        u8 letter = 0;
        in.GetByte(letter);
        std::unique_ptr<tDATAField> field;
        const tStep step = in.IsMalformed() ? tStep::Malformed : decodeOne(letter, field);
        if (step != tStep::Next) {
            params.Clear();
            return RC_FAILED;  // a malformed request is ended by the request loop instead
        }
        if (field) params.Add(field.release());
    }
    return RC_OK;
}

}  // namespace

i16 DecodeParamList(tCommBuffer& in, i16 count, bool mssql, tAutoArray<tDATAField>& params) {
    return DecodeEach(in, count, params, [&](u8 type, std::unique_ptr<tDATAField>& field) {
        return DecodeOne(in, type, mssql, field);
    });
}

i16 DecodeProcParams(tCommBuffer& in, i16 count, tAutoArray<tDATAField>& params,
                     tString& callText) {
    return DecodeEach(in, count, params, [&](u8 letter, std::unique_ptr<tDATAField>& field) {
        const bool valued = letter == 'A' || letter == 'D' || letter == 'F' || letter == 'L';
        if (valued && params.Count() > 0) callText += ",";
        return DecodeProcOne(in, letter, field, callText);
    });
}
