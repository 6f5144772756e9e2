// The column structures of a table alteration as the client sends them, and the column-by-column
// plan of the change that the database connection carries out.
#pragma once
#include "lib_base/list.h"
#include "server/isam/dbconn.h"

// Structure text: columns separated by the byte 0x01; in a column, four attributes separated by
// the byte 0x02: name, type letter (the attribute's first character), length and decimals in
// decimal digits. Empty columns are skipped; an empty text has no columns.
constexpr char kColumnSeparator = '\x01';
constexpr char kAttributeSeparator = '\x02';

// Fills columns (emptied first) with one column per column of text, the name trimmed; an M
// column gets the length 11 when memoAsBlob. False, with columns empty, when a column is not
// well-formed: not four attributes, a name that is no identifier or that comes twice (compared
// without regard to case), no type letter, or a length or decimals other than digits of 0 to
// 32767 (blanks around them and an empty attribute, 0, are allowed).
bool ParseStructureText(const char* text, bool memoAsBlob, tAutoArray<tActionField>& columns);

// The actions that turn the old columns into the new ones, appended to actions: for each old
// column, in order, its action (flags for a changed type, length or decimals, none when equal;
// dropped when the new structure lacks its name, compared byte for byte), then each new column
// that the old structure lacks, flagged as added. An M column's length change is no change.
void PlanAlterActions(const tArray<tActionField>& oldColumns,
                      const tArray<tActionField>& newColumns, tAutoArray<tActionField>& actions);
