// Typed parameter values read from a request: the statement encoding of a prepared statement's
// bind and the stored-procedure call's own. Every count and length is checked against the request
// before anything is allocated, and nothing is handed on from a request that was refused.
#pragma once
#include "lib_base/list.h"
#include "lib_base/stringz.h"
#include "lib_base/types.h"

class tCommBuffer;
class tDATAField;

// Decodes count parameters of the statement encoding from in and appends one value per known
// type byte to params (dates as date-times when mssql). RC_OK; RC_FAILED with params emptied for
// a negative count, a negative byte count or a text longer than a field holds. A value that runs
// past the request marks in malformed and empties params.
i16 DecodeParamList(tCommBuffer& in, i16 count, bool mssql, tAutoArray<tDATAField>& params);

// The procedure call's encoding: "A" and "D" texts, "F" doubles, "L" bytes; any other letter
// carries nothing. Each value is also appended to callText as the call's trace shows it,
// separated by ",". Failures as DecodeParamList.
i16 DecodeProcParams(tCommBuffer& in, i16 count, tAutoArray<tDATAField>& params, tString& callText);
