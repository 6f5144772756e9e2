// The column texts of the Oracle DDL, shared by CREATE TABLE and the alterations: the column
// type of a field letter and the default that a new column gets.
#pragma once
#include "lib_base/stringz.h"
#include "lib_base/types.h"

// "CHAR(<length>)" for A, C, D and L; "NUMBER" for B, F, N, P, R and Z; for M "CLOB" when the
// length is 11 (long text), else memoType; nothing for any other letter.
void AppendOracleType(tString& sql, u8 letter, i32 length, const tString& memoType);

// The default of a column written by CREATE TABLE or altered in place: blanks of the length
// for A, C and D, 0.0 for numbers, 'F' for L; nothing for a memo or another letter.
void AppendOracleDefault(tString& sql, u8 letter, i32 length);

// name, type, default and " NOT NULL ", as CREATE TABLE and ADD write a column; a memo column
// gets neither default nor NOT NULL.
void AppendOracleColumn(tString& sql, const char* name, u8 letter, i32 length,
                        const tString& memoType);

// As many blanks as count.
tString OracleBlanks(i32 count);
