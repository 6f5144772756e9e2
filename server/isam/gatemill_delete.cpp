// The deletion mark of a table file's records: rows are never removed here, only marked with
// D_E_L_E_T_ = '*' and R_E_C_D_E_L_ = their own record number, or unmarked again; and the switch
// that hides marked rows from the key cursors.
#include "lib_common/retcodes.h"
#include "server/isam/dbconn.h"
#include "server/isam/gatemill.h"
#include "server/tables/dbtable.h"

namespace {

// What tells a deletion from a recall.
struct tMarkKind {
    i16 failure;
    const char* operation;  // in the warning of a change without the client's lock
    const char* setText;
    const char* recDelText;
    const char* routine;
    char mark;
};

// clang-format off
constexpr tMarkKind kDelete{RC_NO_DELETE, "OP_DELETE", " SET D_E_L_E_T_ = '*' ",
                            ",R_E_C_D_E_L_ = R_E_C_N_O_ ", "tISAMFile::DeleteR", '*'};
constexpr tMarkKind kRecall{RC_NO_UPDATE, "OP_RECALL", " SET D_E_L_E_T_ = ' ' ",
                            ",R_E_C_D_E_L_ = 0 ", "tISAMFile::RecallR", ' '};
// clang-format on

}  // namespace

i16 tISAMFile::DeleteR(f64 recno) { return MarkDeletion(recno, true); }

i16 tISAMFile::RecallR(f64 recno) { return MarkDeletion(recno, false); }

// The record (0: the current one) is positioned and read first, so that the mark lands in its
// own buffer; a record that cannot be positioned fails without SQL and without a lock.
i16 tISAMFile::MarkDeletion(f64 recno, bool deleting) {
    const tMarkKind& kind = deleting ? kDelete : kRecall;
    if (readOnly) return RefuseReadOnly(kind.failure, kind.routine);
    if (recno == 0.0) recno = GetRecno();
    if (!PositionForChange(recno)) return kind.failure;
    bool taken = false;
    if (!LockForChange(recno, kind.operation, taken)) return RC_LOCKED;
    sql = "UPDATE ";
    AppendOwnerTable();
    sql += kind.setText;
    if (mirror->GetRecDelField() >= 0) sql += kind.recDelText;
    sql += "WHERE R_E_C_N_O_ = ";
    char number[kRecnoTextSize];
    sql += RecnoToStr(recno, number);
    AddUpdateClause();
    i16 result = kind.failure;
    if (fetchStmt->ExecDirect(sql, kind.routine, 1)) {
        const i16 deletedNo = mirror->GetDeletedField();
        if (deletedNo >= 0 && mirror->GetField(deletedNo)->IsData()) {
            currentRecord[mirror->GetField(deletedNo)->GetOffset()] = kind.mark;
        }
        heldRecno = -1.0;  // the row is read again at the next synchronisation
        result = RC_OK;
    } else if (connection->IsUserError(fetchStmt->GetRetCode())) {
        result = RC_DUPLICATE_KEY;
    }
    fetchStmt->Close();
    UnlockAfterChange(recno, taken);
    return result;
}

// The window restarts around the current record: it may hold rows that are now hidden, or lack
// rows that are now shown.
i16 tISAMFile::SetDeletedFilter(u8 on) {
    seekOptimizer->Invalidate();
    deletedFilter = on != 0;
    cache->Reset(true);
    return RC_OK;
}

void tISAMFile::AddUpdateClause() {}
