// The program's embedded table images, looked up by name: they stand where a Windows build keeps
// resources, and the runtime's resource loaders read them from here.
#pragma once
#include "lib_base/types.h"

struct SSResource {
    const char* name;
    const u8* data;  // static, lives as long as the program
    size_t size;
};

// The embedded image with this name ("filter.dfa", "filter.llr"), or null.
const SSResource* ssFindResource(const char* name);
