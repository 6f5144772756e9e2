// The Oracle statement's typed parameters: a client's values bound by position to a prepared
// statement, by their type letters, then run. OCI 8 binds every letter directly on the statement
// handle; the OCI 7 layer binds numbers and texts through its positional binds only.
//
// Bound values:
//  (1) Every value is checked and laid out before the first bind, so a refused value leaves
//      nothing bound.
//  (2) Binds point into boundValues, scratch, or the result row of an open query file; the first
//      two live until Close or the next values.
#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>

#include "lib_common/retcodes.h"
#include "server/drivers/datetext.h"
#include "server/drivers/oci8.h"
#include "server/drivers/oci8_calls.h"
#include "server/drivers/oracle.h"
#include "server/isam/gatemill_query.h"
#include "server/isam/session.h"
#include "server/tables/dbtable.h"

namespace {

constexpr const char* kBindRoutine = "tOracleStmt::BindParam";
constexpr i32 kOracleDateSize = 7;
constexpr u16 kTypeInteger = 3;
constexpr u16 kTypeDate = 12;

// Oracle's internal date: century and year of century + 100, month, day, then hour, minute and
// second + 1.
void PutOracleDate(const tDateParts& p, char* out) {
    const u8 bytes[kOracleDateSize] = {
        static_cast<u8>(p.year / 100 + 100), static_cast<u8>(p.year % 100 + 100),
        static_cast<u8>(p.month),            static_cast<u8>(p.day),
        static_cast<u8>(p.hour + 1),         static_cast<u8>(p.minute + 1),
        static_cast<u8>(p.second + 1)};
    std::memcpy(out, bytes, sizeof bytes);
}

// Dates start as 1900-01-01 00:00:00; the text sets the parts it gives.
tDateParts FirstOracleDate() {
    tDateParts parts;
    parts.year = 1900;
    parts.month = 1;
    parts.day = 1;
    return parts;
}

i32 DeclaredLength(const tDATAField& value) { return value.GetLen() > 0 ? value.GetLen() : 0; }

}  // namespace

struct tOracleStmt::tBinding {
    void* value = nullptr;
    i32 size = 0;
    u16 type = 0;
};

char* tOracleStmt::Scratch(size_t size) {
    scratch.push_back(std::make_unique<char[]>(size));  // zeroed
    return scratch.back().get();
}

bool tOracleStmt::RefuseValue(u32 position, const char* reason, const char* text) {
    tString message;
    message.sprintf("%s in parameter %u [%s].", reason, position, text);
    oracle.SetError(RC_FAILED, kBindRoutine, message, nullptr);
    lastFailure = RC_FAILED;
    return false;
}

bool tOracleStmt::FailBind() {
    lastFailure = oracle.HandleError(this, kBindRoutine, nullptr, 0, 1);
    Close();
    return false;
}

// 'R': the text of the last result column of an open query file of the same session, as that
// file's last fetch left it.
bool tOracleStmt::FileColumnBinding(tDATAField& value, tBinding& b) {
    i32 id = 0;
    std::memcpy(&id, value.GetData(), sizeof id);
    tDBSession* session = oracle.GetDBServer();
    tGenericFile* file = session && id >= 1 && id <= 32767
                             ? session->FindOpenFile(static_cast<i16>(id))
                             : nullptr;
    auto* query = dynamic_cast<tQueryFile*>(file);
    const tStatement* stmt = query ? &query->GetStatement() : nullptr;
    const i16 count = stmt ? stmt->GetColumnCount() : 0;
    const tColumnDesc* last = count > 0 ? &stmt->GetColumns()[count - 1] : nullptr;
    if (!last || last->type != 'C' || !last->value.text) {
        oracle.SetError(-290, "#ROTINA", "#AQUI", nullptr);
        lastFailure = -290;
        Close();
        return false;
    }
    b = {last->value.text, last->bufferLength, oci8::kTypeString};
    return true;
}

bool tOracleStmt::MakeBinding(tDATAField& value, u32 position, tBinding& b) {
    const u8 letter = value.GetType();
    const char letterText[2] = {static_cast<char>(letter), '\0'};
    const i32 declared = DeclaredLength(value);
    const bool layer8 = oracle.UsesOCI8();
    if (!layer8 && letter != 'N' && std::strchr("EIDTR", letter)) {
        return RefuseValue(position, "Parameter type not supported by the OCI 7 layer",
                           letterText);
    }
    switch (letter) {
        case 'N':
            b = {value.GetData(), 8, oci8::kTypeFloat};
            return true;
        case 'E':
            b = {value.GetData(), 4, kTypeInteger};
            return true;
        case 'I':
            b = {value.GetData(), static_cast<i32>(value.GetValueSize()), oci8::kTypeRaw};
            return true;
        case 'D':
        case 'T': {
            tDateParts parts = FirstOracleDate();
            const bool read =
                letter == 'D' ? ReadDateText(value, parts) : ReadDateTimeText(value, 6, parts);
            if (!read || !IsValidDateParts(parts)) {
                return RefuseValue(position, letter == 'D' ? "Invalid date" : "Invalid date-time",
                                   ValueText(value).text);
            }
            char* date = Scratch(kOracleDateSize);
            PutOracleDate(parts, date);
            b = {date, kOracleDateSize, kTypeDate};
            return true;
        }
        case 'R':
            return FileColumnBinding(value, b);
        default:
            break;
    }
    // Texts are copied, never read past the value's own bytes: 'A' zero-terminated in length + 1
    // bytes, 'X' an empty text, any other letter the fixed characters of the declared length.
    const bool terminated = letter == 'A' || letter == 'X';
    const i32 size = terminated ? declared + 1 : declared;
    char* text = Scratch(static_cast<size_t>(size) + 1);
    if (letter != 'X') {
        const tValueText v = ValueText(value);
        const size_t n = std::min(v.length, static_cast<size_t>(declared));
        if (n > 0) std::memcpy(text, v.text, n);
    }
    b = {text, size, terminated ? oci8::kTypeString : oci8::kTypeFixedCharacter};
    return true;
}

bool tOracleStmt::BindValues(tAutoArray<tDATAField>& values) {
    scratch.clear();
    std::vector<tBinding> bindings(static_cast<size_t>(values.Count()));
    for (i32 i = 0; i < values.Count(); ++i) {
        if (!MakeBinding(*values.Get(i), static_cast<u32>(i + 1), bindings[i])) return false;
    }
    for (i32 i = 0; i < values.Count(); ++i) {
        const tBinding& b = bindings[i];
        if (oracle.UsesOCI8()) {
            void* bind = nullptr;  // the library's, freed with the statement handle
            auto& stmt8 = static_cast<tOCI8Stmt&>(*cursor);
            lastOCICode = oci8::Oci().OCIBindByPos(
                stmt8.GetStmtHandle(), &bind, oci->GetErrorHandle(), static_cast<u32>(i + 1),
                b.value, b.size, b.type, nullptr, nullptr, nullptr, 0, nullptr, 0);
            if (lastOCICode == -1 || lastOCICode == -2) return FailBind();
        } else {
            const bool bound =
                b.type == oci8::kTypeFloat
                    ? cursor->BindDoubleParamAt(static_cast<f64*>(b.value), i)
                    : cursor->BindStringParamAt(static_cast<char*>(b.value), b.size, i);
            if (!bound) {
                lastOCICode = cursor->GetRC();
                return FailBind();
            }
        }
    }
    return true;
}

bool tOracleStmt::BindParam(std::unique_ptr<tAutoArray<tDATAField>> values) {
    if (!StartPreparedRun(kBindRoutine)) return false;
    if (values && values != boundValues) {
        boundValues = std::move(values);
        if (!BindValues(*boundValues)) return false;
    } else if (!boundValues) {
        oracle.SetError(RC_FAILED, kBindRoutine, "No parameter values to bind.", nullptr);
        lastFailure = RC_FAILED;
        return false;
    }
    bool result = false;
    if (!cursor->Execute()) {
        Fail(kBindRoutine, nullptr, 1);
        Close();
    } else if (bindColumns) {
        // A query's result columns are bound by its first run.
        result = BindResult(1);
        if (result) bindColumns = 0;
    } else {
        result = true;
    }
    OpLog(kBindRoutine, "#EXEC_PREPARED_STMT#");
    return result;
}
