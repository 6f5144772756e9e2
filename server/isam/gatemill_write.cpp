// Appending and rewriting records of a table file: the INSERT of the fields that hold a value
// under a record number that no other holder has, and the UPDATE of the fields that changed,
// with R_E_C_D_E_L_ kept in step with the deletion mark and field-level audit.
#include <cstring>

#include "lib_base/printer.h"
#include "lib_common/retcodes.h"
#include "server/isam/dbconn.h"
#include "server/isam/gatemill.h"
#include "server/isam/session.h"
#include "server/locks/lockengine.h"
#include "server/tables/dbtable.h"

namespace {

constexpr const char* kWriteRoutine = "tISAMFile::Write";
constexpr const char* kUpdateRoutine = "tISAMFile::Update";
// After this many clashes on the record-number key in one append, the engine's counter is
// taken to lag behind the table and is set again from it, once.
constexpr i32 kClashesBeforeResync = 10;
// An append that still clashes after this many record numbers gives up and reports the clash.
constexpr i32 kMaxRecnoTurns = 1000;

}  // namespace

// The memos the client wrote follow the row, into the record the file now stands on.
bool tISAMFile::WriteRecord(i32& nativeError) {
    if (!Write(nativeError)) return false;
    return blobList.Count() == 0 || BlobWriteSql(nativeError, GetRecno());
}

i16 tISAMFile::UpdateRecord(f64 recno) {
    // Positioning on another record empties the memo nodes: what the client wrote is kept aside
    // and goes with this update.
    std::vector<tPendingMemo> pending = PendingMemos();
    const i16 code = Update(recno);
    RestorePendingMemos(pending);
    if (code != RC_OK || pending.empty()) return code;
    i32 memoCode = 0;
    return BlobWriteSql(memoCode, GetRecno()) ? RC_OK : RC_FAILED;
}

i16 tISAMFile::RefuseReadOnly(i16 code, const char* routine) {
    connection->SetError(code, routine, "Invalid Update on READONLY Table.", this);
    return code;
}

i16 tISAMFile::RefuseValue(const tField& field, const char* routine) {
    tString message("Invalid value in field [");
    message += field.GetName();
    message += "].";
    connection->SetError(RC_FAILED, routine, message, this);
    return RC_FAILED;
}

bool tISAMFile::IsDeletedMark(const char* record) const {
    const i16 deletedNo = mirror->GetDeletedField();
    if (deletedNo < 0) return false;
    const tField* deleted = mirror->GetField(deletedNo);
    return deleted->IsData() && record[deleted->GetOffset()] == '*';
}

// A column of the table that the client's record gives a value: logical fields always (an
// empty one as false), other fields when not empty. Memo contents and the joined tables' fields
// are not written here.
bool tISAMFile::IsInsertColumn(i16 fieldNo) const {
    const tField* field = mirror->GetField(fieldNo);
    if (!field->IsOwnColumn() || field->GetType() == 'M') return false;
    return field->GetType() == 'L' || !field->IsEmpty(incomingRecord.data());
}

bool tISAMFile::Write(i32& nativeError) {
    if (readOnly) {
        connection->SetError(RC_APPEND_FAILED, kWriteRoutine, "Invalid Insert on READONLY Table",
                             this);
        return false;
    }
    bool anyColumn = false;
    bool withRecDel = false;
    if (!BuildInsert(anyColumn, withRecDel)) return false;
    f64 recno = 0.0;
    const bool inserted = mirror->IsAutoRecno()
                              ? InsertWithIdentity(anyColumn, withRecDel, recno, nativeError)
                              : InsertWithEngineRecno(anyColumn, withRecDel, recno, nativeError);
    if (!inserted) return false;
    StandOnInserted(recno);
    return true;
}

// "INSERT INTO <owner><table>" and, when a field holds a value, "(<fields>[,R_E_C_D_E_L_]
// [,R_E_C_N_O_]) VALUES ( <values>", the record numbers left to the caller. R_E_C_D_E_L_ goes
// with D_E_L_E_T_ when the table has it. False, with the error set, for a value that has no SQL
// form.
bool tISAMFile::BuildInsert(bool& anyColumn, bool& withRecDel) {
    sql = "INSERT INTO ";
    AppendOwnerTable();
    const i16 deletedNo = mirror->GetDeletedField();
    for (i16 i = 0; i < mirror->GetFieldCount(); ++i) {
        if (!IsInsertColumn(i)) continue;
        sql += anyColumn ? "," : "(";
        sql += mirror->GetField(i)->GetName();
        anyColumn = true;
        if (i == deletedNo) withRecDel = mirror->GetRecDelField() >= 0;
    }
    if (!anyColumn) return true;
    if (withRecDel) sql += ",R_E_C_D_E_L_";
    sql += mirror->IsAutoRecno() ? ") " : ",R_E_C_N_O_) ";
    sql += "VALUES ( ";
    bool first = true;
    for (i16 i = 0; i < mirror->GetFieldCount(); ++i) {
        if (!IsInsertColumn(i)) continue;
        if (!first) sql += ",";
        first = false;
        const tField& field = *mirror->GetField(i);
        if (field.GetType() == 'L' && field.IsEmpty(incomingRecord.data())) {
            sql += "'F'";
        } else if (!ValueToSql(i, sql, incomingRecord.data(), true, true, true)) {
            RefuseValue(field, kWriteRoutine);
            return false;
        }
    }
    return true;
}

// Record numbers from the record-lock engine. Any failure but a clash ends the append with the
// statement in the error text.
bool tISAMFile::InsertWithEngineRecno(bool anyColumn, bool withRecDel, f64& recno,
                                      i32& nativeError) {
    sql += anyColumn ? "," : "(R_E_C_N_O_) VALUES ( ";
    const i32 tail = sql.GetLength();
    const bool deleted = IsDeletedMark(incomingRecord.data());
    char number[kRecnoTextSize];
    const auto insert = [&](f64 next) {
        sql.Delete(tail);
        // A live record's R_E_C_D_E_L_ is 0; a deleted one's is its own number, which keeps it
        // out of the way of the live rows under a unique key that ends in R_E_C_D_E_L_.
        if (withRecDel) {
            sql += deleted ? RecnoToStr(next, number) : "0";
            sql += ",";
        }
        sql += RecnoToStr(next, number);
        sql += ")";
        if (!fetchStmt->ExecDirect(sql, kWriteRoutine, 0)) return false;
        fetchStmt->Close();
        return true;
    };
    const tInsertOutcome outcome =
        InsertUnderEngineRecno(insert, kWriteRoutine, recno, nativeError);
    if (outcome == tInsertOutcome::Failed) {
        connection->AppendErrorText("( SQL Statement : ");
        connection->AppendErrorText(sql);
        connection->AppendErrorText(" )");
        connection->LogLastError(kWriteRoutine, this);
    }
    return outcome == tInsertOutcome::Inserted;
}

// A clash on the record-number key means another server or a lagging counter gave the number
// out already: the next one is tried.
tISAMFile::tInsertOutcome tISAMFile::InsertUnderEngineRecno(const std::function<bool(f64)>& insert,
                                                            const char* routine, f64& recno,
                                                            i32& nativeError) {
    tRecordLockEngine& engine = LockEngine();
    for (i32 turn = 1;; ++turn) {
        const f64 next = engine.NextRecno(lockOwner, LockBucket(), mirror->GetFullName(), 0);
        if (next < 0.0) {
            RefuseRecno(next, nativeError, routine);
            return tInsertOutcome::Refused;
        }
        if (insert(next)) {
            recno = next;
            return tInsertOutcome::Inserted;
        }
        const i32 failure = fetchStmt->GetRetCode();
        const bool clash =
            connection->IsDuplicateKey(failure) && connection->IsRecnoKeyError(*mirror);
        if (!clash || turn == kMaxRecnoTurns) {
            nativeError = failure;
            return tInsertOutcome::Failed;
        }
        if (turn == kClashesBeforeResync) ResyncRecnoCounter();
    }
}

// The engine's counter moves up to the table's highest record number; it never moves down, as
// other appends may have taken numbers above it meanwhile.
void tISAMFile::ResyncRecnoCounter() {
    const f64 highest = connection->GetRecCount(GetTableName());
    tRecordLockEngine& engine = LockEngine();
    if (highest > engine.RecCount(LockBucket(), mirror->GetFullName())) {
        engine.SetRecCount(LockBucket(), mirror->GetFullName(), highest);
    }
}

bool tISAMFile::RefuseRecno(f64 refusal, i32& nativeError, const char* routine) {
    nativeError = static_cast<i32>(refusal);
    connection->SetError(nativeError, routine, "GetNextRecno FAILED.", this);
    return false;
}

// Record numbers from the table's identity column; the engine's counter follows it. A deleted
// record's R_E_C_D_E_L_ takes a number of the engine's, as its own is not known yet.
bool tISAMFile::InsertWithIdentity(bool anyColumn, bool withRecDel, f64& recno, i32& nativeError) {
    tRecordLockEngine& engine = LockEngine();
    if (!anyColumn) {
        sql += " DEFAULT VALUES";
    } else if (withRecDel && IsDeletedMark(incomingRecord.data())) {
        const f64 next = engine.NextRecno(lockOwner, LockBucket(), mirror->GetFullName(), 0);
        if (next < 0.0) return RefuseRecno(next, nativeError, kWriteRoutine);
        char number[kRecnoTextSize];
        sql += ",'";
        sql += RecnoToStr(next, number);
        sql += "')";
    } else {
        sql += withRecDel ? ",0)" : ")";
    }
    if (!fetchStmt->ExecDirect(sql, kWriteRoutine, 1)) {
        nativeError = fetchStmt->GetRetCode();
        return false;
    }
    fetchStmt->Close();
    recno = connection->GetInsertedRecno();
    if (recno < 0.0) {
        connection->SetError(RC_FAILED, kWriteRoutine, "dbConn()->GetInsertedRecno() FAILED.",
                             this);
        nativeError = RC_FAILED;
        return false;
    }
    engine.SetRecCount(LockBucket(), mirror->GetFullName(), recno);
    return true;
}

// The file stands on the new record and holds its lock. Its row is read again at the next
// synchronisation, so that the database's defaults reach the client.
void tISAMFile::StandOnInserted(f64 recno) {
    bof = eof = false;
    currentRecord = incomingRecord;
    cache->Reset(true);
    cache->SetCurrentRecno(recno);
    heldRecno = -1.0;
    bufferRecno = recno;
    if (exclusive) return;
    lockedList.Add(recno);
    if (!LockEngine().RLock(lockOwner, LockBucket(), mirror->GetFullName(), recno, 0)) {
        lockedList.Remove(recno);
        BasePrintf("[WARNING] OP_INSERT Lock Failed in Table [%s] Recno [%.0f]\n",
                   mirror->GetFullName(), recno);
    }
}

// The current-record buffer may hold another record than the one the window stands on (a skip
// that read ahead and then went back): the change must compare with the record's own bytes.
bool tISAMFile::PositionForChange(f64 recno) {
    if (recno > 0.0 && recno == GetRecno()) return bufferRecno == recno || SyncCurrent(false);
    return GoTo(recno, false) && SyncCurrent(false);
}

i16 tISAMFile::Update(f64 recno) {
    return UpdateWith(recno, kUpdateRoutine, [this](f64 at) { return RewriteChangedFields(at); });
}

i16 tISAMFile::UpdateWith(f64 recno, const char* routine, const std::function<i16(f64)>& rewrite) {
    if (readOnly) return RefuseReadOnly(RC_NO_UPDATE, routine);
    if (recno == 0.0) {
        recno = GetRecno();
        BasePrintf("[WARNING] OP_UPDATE on Record ZERO. Using Current Record %.0f\n", recno);
    }
    if (recno != GetRecno()) {
        BasePrintf("[WARNING] OP_UPDATE on (%.0f) non-current Record (%.0f)\n", recno, GetRecno());
    }
    if (!PositionForChange(recno)) {
        char number[kRecnoTextSize];
        tString message("Update failed to retrieve / GO Record ");
        message += RecnoToStr(recno, number);
        connection->SetError(RC_NO_UPDATE, routine, message, this);
        return RC_NO_UPDATE;
    }
    bool taken = false;
    if (!LockForChange(recno, "OP_UPDATE", taken)) return RC_LOCKED;
    const i16 result = rewrite(recno);
    UnlockAfterChange(recno, taken);
    return result;
}

// One UPDATE of the fields whose bytes differ between the incoming and the current record; none
// changed: no statement and 0.
i16 tISAMFile::RewriteChangedFields(f64 recno) {
    sql = "UPDATE ";
    AppendOwnerTable();
    sql += " SET ";
    tFieldChanges changes;
    const i16 refused = AppendChangedFields(recno, changes, [this](i16 fieldNo) {
        if (ValueToSql(fieldNo, sql, incomingRecord.data(), true, true, true)) return RC_OK;
        return RefuseValue(*mirror->GetField(fieldNo), kUpdateRoutine);
    });
    if (refused != RC_OK) return refused;
    if (!changes.any) return RC_OK;
    char number[kRecnoTextSize];
    RecnoToStr(recno, number);
    if (changes.deletedMark && mirror->GetRecDelField() >= 0) {
        sql += ",R_E_C_D_E_L_ = ";
        sql += IsDeletedMark(incomingRecord.data()) ? number : "0";
    }
    sql += " WHERE R_E_C_N_O_ = ";
    sql += number;
    AddUpdateClause();
    heldRecno = -1.0;
    return EndRewrite(fetchStmt->ExecDirect(sql, kUpdateRoutine, 1), recno, changes.keyField);
}

// The record written is the current one; a changed key moves it in the order, so the window is
// rebuilt around it and the record read again.
i16 tISAMFile::EndRewrite(bool written, f64 recno, bool keyField) {
    i16 result = RC_OK;
    if (written) {
        currentRecord = incomingRecord;
        bufferRecno = recno;
        if (keyField) {
            cache->Reset(true);
            srvDirty = true;
        }
    } else {
        result = connection->IsUserError(fetchStmt->GetRetCode()) ? RC_DUPLICATE_KEY : RC_NO_UPDATE;
    }
    fetchStmt->Close();
    return result;
}

// A field's value, and the audit of the field while field-level audit is on, follow its name.
i16 tISAMFile::AppendChangedFields(f64 recno, tFieldChanges& changes,
                                   const std::function<i16(i16 fieldNo)>& value) {
    const i16 deletedNo = mirror->GetDeletedField();
    for (i16 i = 0; i < mirror->GetFieldCount(); ++i) {
        const tField& field = *mirror->GetField(i);
        if (!field.IsOwnColumn() || field.GetType() == 'M') continue;
        const u32 at = field.GetOffset();
        if (std::memcmp(incomingRecord.data() + at, currentRecord.data() + at,
                        static_cast<size_t>(field.GetDataSize())) == 0) {
            continue;
        }
        if (changes.any) sql += ",";
        changes.any = true;
        changes.deletedMark = changes.deletedMark || i == deletedNo;
        changes.keyField = changes.keyField || IsKeyField(i);
        sql += field.GetName();
        sql += " = ";
        const i16 code = value(i);
        if (code != RC_OK) return code;
        if (i != deletedNo && !AuditField(i, recno)) return RC_NO_UPDATE;
    }
    return RC_OK;
}

// The field's old and new values as plain text to the audit server, while field-level audit is
// on; false when the audit server refused them.
bool tISAMFile::AuditField(i16 fieldNo, f64 recno) {
    if (!auditHandle || !mirror->IsAuditable()) return true;
    tString before;
    tString after;
    ValueToSql(fieldNo, before, currentRecord.data(), false, false, false);
    ValueToSql(fieldNo, after, incomingRecord.data(), false, false, false);
    return dbServer->WriteAudit("U", GetTableName(), recno, mirror->GetField(fieldNo)->GetName(),
                                before, after) == 0;
}
