// The filter language's lexer table image ("filter.dfa"), compiled into the server from the
// source that tools/lexgen writes from tools/filter.grammar at build time.
#pragma once
#include "lib_base/types.h"

extern const u8 kFilterDfaImage[];
extern const size_t kFilterDfaImageSize;
