// The filter language's parse table image ("filter.llr"), compiled into the server from the
// source that tools/yaccgen writes from tools/filter.grammar at build time.
#pragma once
#include "lib_base/types.h"

extern const u8 kFilterLlrImage[];
extern const size_t kFilterLlrImageSize;
