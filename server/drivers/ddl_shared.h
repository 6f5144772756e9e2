// DDL pieces that several dialects write alike: the storage class of a field letter, blank
// defaults, the finish of an index read
// from a catalogue, and the value a rebuilt column takes back from its <table>_BKP copy.
#pragma once
#include <memory>

#include "lib_base/stringz.h"
#include "lib_base/types.h"

class tIndexDefinition;
class tTableDefinition;

// How a field type letter is stored: its column type and default follow from this. Float
// holds B, F, N, P and Z whatever their length and decimals; Integer the record number R.
enum class tColumnClass { Text, Logical, Float, Integer, Memo, None };
tColumnClass ColumnClassOf(u8 letter);
// A dialect's column type names by storage class.
struct tTypeNames {
    const char* text;     // A, C, D and L: text + "(" + the length + ")"
    const char* number;   // B, F, N, P and Z
    const char* integer;  // R
    const char* memo;     // M
};
// The column type of a letter and length; nothing for a letter without a storage class.
void AppendTypeName(tString& sql, u8 letter, i32 length, const tTypeNames& names);
// count blanks, for a text column's default.
tString DefaultBlanks(u32 count);
// Adds the finished index to def, unless its key is empty or R_E_C_N_O_ alone; true for the
// record-number key.
bool CloseDescribedIndex(tTableDefinition& def, std::unique_ptr<tIndexDefinition> index);
// " = ( select <value> FROM <table>_BKP where <table>_BKP.R_E_C_N_O_ = <table>.R_E_C_N_O_)":
// the assignment's tail that takes a column's value back from the backup copy.
void AppendBackupValue(tString& sql, const char* table, const tString& value);
