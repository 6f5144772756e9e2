// plat::SharedLibrary: the sole owner of one shared library loaded at run time, with its symbol
// look-up and the loader's error text. Client libraries (the ODBC driver manager) come through it.
#pragma once
#include <string>

namespace plat {

// One thread uses an object at a time; the dynamic loader itself may be called from any thread.
class SharedLibrary {
public:
    SharedLibrary() = default;
    ~SharedLibrary() { Close(); }
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;

    // Loads the library by file name (searched as the dynamic loader searches) with every symbol
    // bound at once, after releasing any library held before. False, with the loader's text in
    // GetError, when it cannot be loaded.
    bool Open(const char* fileName);
    // The address of the exported symbol, or null when the library has no such export (or
    // none is held).
    void* Find(const char* symbol) const;
    // Releases the library; nothing when none is held.
    void Close();
    bool IsOpen() const { return handle != nullptr; }
    // The loader's text of the last failed Open; empty after a successful one.
    const std::string& GetError() const { return error; }

private:
    void* handle = nullptr;
    std::string error;
};

}  // namespace plat
