// Loading of shared libraries through the dynamic loader.
#include "platform/shared_library.h"

#include <dlfcn.h>

namespace plat {

bool SharedLibrary::Open(const char* fileName) {
    Close();
    handle = ::dlopen(fileName, RTLD_NOW | RTLD_LOCAL);
    if (handle) {
        error.clear();
        return true;
    }
    const char* text = ::dlerror();
    error = text ? text : "dlopen failed";
    return false;
}

void* SharedLibrary::Find(const char* symbol) const {
    if (!handle) return nullptr;
    return ::dlsym(handle, symbol);
}

void SharedLibrary::Close() {
    if (!handle) return;
    ::dlclose(handle);
    handle = nullptr;
}

}  // namespace plat
