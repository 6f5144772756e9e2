// Appending and rewriting records of an Oracle table file with bind variables: the values go to
// the database from the record buffer by position (":1", ":2", ...), never as literals, and only
// the fields that hold a value (insert) or changed (update) are sent.
#include <cstring>

#include "lib_common/retcodes.h"
#include "server/drivers/oracle_isam.h"
#include "server/tables/dbtable.h"

namespace {

constexpr const char* kWriteRoutine = "tOracleISAMFile::Write";
constexpr const char* kUpdateRoutine = "tOracleISAMFile::Update";
constexpr u16 kNumberBytes = 8;

}  // namespace

// A traced session reads its statements with their values; the OCI 7 layer prepares no record
// fetches and writes literals too.
bool tOracleISAMFile::BindsValues() {
    return !connection->IsTraced() && oracle.GetOCI().GetVersion() >= 8;
}

void tOracleISAMFile::AddBind(u8 type, void* value, u16 length) {
    binds.Add(new tBindParam(type, value, length));
}

// A text or date ends at its first zero byte, as in a literal: the rest of the field is sent as
// blanks, never as zero bytes stored in the column.
void tOracleISAMFile::BindField(i16 fieldNo) {
    const tField& field = *mirror->GetField(fieldNo);
    char* value = incomingRecord.data() + field.GetOffset();
    const size_t size = field.GetDataSize();
    if (field.GetType() == 'C' || field.GetType() == 'D') {
        char* end = static_cast<char*>(std::memchr(value, '\0', size));
        if (end) std::memset(end, ' ', size - static_cast<size_t>(end - value));
    }
    if (field.GetType() != 'N') {
        AddBind(field.GetType(), value, static_cast<u16>(size));
        return;
    }
    f64 number = 0.0;
    std::memcpy(&number, value, sizeof number);
    number = RoundDouble(number, field.GetDecimals());
    std::memcpy(value, &number, sizeof number);
    AddBind('N', value, kNumberBytes);
}

void tOracleISAMFile::AppendMarker() {
    sql += ":";
    sql += IntToString(binds.Count());
}

bool tOracleISAMFile::Write(i32& nativeError) {
    if (!BindsValues()) return tISAMFile::Write(nativeError);
    if (readOnly) {
        connection->SetError(RC_APPEND_FAILED, kWriteRoutine, "Invalid Insert on READONLY Table",
                             this);
        return false;
    }
    BuildBoundInsert();
    const auto insert = [this](f64 next) {
        boundRecno = next;
        if (!fetchStmt->ExecSpecial(sql, binds, kWriteRoutine, 0)) return false;
        fetchStmt->Close();
        return true;
    };
    f64 recno = 0.0;
    const tInsertOutcome outcome =
        InsertUnderEngineRecno(insert, kWriteRoutine, recno, nativeError);
    if (outcome == tInsertOutcome::Failed) connection->LogLastError(kWriteRoutine, this);
    if (outcome != tInsertOutcome::Inserted) return false;
    StandOnInserted(recno);
    return true;
}

// "INSERT INTO <table>(<fields>[,R_E_C_D_E_L_],R_E_C_N_O_) VALUES ( :1,...)" with the record
// number bound from boundRecno. A blank deletion mark is left to the column's default, and
// R_E_C_D_E_L_ goes only with a record written as deleted: its own number keeps it out of the
// way of the live rows under a unique key that ends in R_E_C_D_E_L_.
void tOracleISAMFile::BuildBoundInsert() {
    binds.Clear();
    sql = "INSERT INTO ";
    AppendOwnerTable();
    sql += "(";
    const i16 deletedNo = mirror->GetDeletedField();
    const bool deleted = IsDeletedMark(incomingRecord.data());
    for (i16 i = 0; i < mirror->GetFieldCount(); ++i) {
        const tField& field = *mirror->GetField(i);
        if (!field.IsOwnColumn() || field.GetType() == 'M') continue;
        if (field.IsEmpty(incomingRecord.data()) || (i == deletedNo && !deleted)) continue;
        sql += field.GetName();
        sql += ",";
        BindField(i);
    }
    if (deleted && mirror->GetRecDelField() >= 0) {
        sql += "R_E_C_D_E_L_,";
        AddBind('N', &boundRecno, kNumberBytes);
    }
    sql += "R_E_C_N_O_) VALUES ( ";
    AddBind('N', &boundRecno, kNumberBytes);
    for (i32 i = 1; i <= binds.Count(); ++i) {
        if (i > 1) sql += ",";
        sql += ":";
        sql += IntToString(i);
    }
    sql += ")";
}

i16 tOracleISAMFile::Update(f64 recno) {
    if (!BindsValues()) return tISAMFile::Update(recno);
    return UpdateWith(recno, kUpdateRoutine, [this](f64 at) { return RewriteBound(at); });
}

// "UPDATE <table> SET <field> = :1,... WHERE R_E_C_N_O_ = :n" over the changed fields; none
// changed: no statement and 0.
i16 tOracleISAMFile::RewriteBound(f64 recno) {
    binds.Clear();
    sql = "UPDATE ";
    AppendOwnerTable();
    sql += " SET ";
    tFieldChanges changes;
    const i16 refused = AppendChangedFields(recno, changes, [this](i16 fieldNo) {
        BindField(fieldNo);
        AppendMarker();
        return RC_OK;
    });
    if (refused != RC_OK || !changes.any) return refused;
    boundRecno = recno;
    if (changes.deletedMark && mirror->GetRecDelField() >= 0) {
        sql += ",R_E_C_D_E_L_ = ";
        AddBind('N', IsDeletedMark(incomingRecord.data()) ? &boundRecno : &boundZero, kNumberBytes);
        AppendMarker();
    }
    sql += " WHERE R_E_C_N_O_ = ";
    AddBind('N', &boundRecno, kNumberBytes);
    AppendMarker();
    heldRecno = -1.0;
    return EndRewrite(fetchStmt->ExecSpecial(sql, binds, kUpdateRoutine, 1), recno,
                      changes.keyField);
}
