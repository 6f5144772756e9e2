// The tests' hold on the recording OCI library: its control functions, resolved from the same
// file that the Oracle driver loads, and an Oracle home whose bin\oci.dll is that library.
#pragma once
#include <filesystem>
#include <string>

#include "platform/inifile.h"
#include "platform/registry.h"
#include "platform/shared_library.h"
#include "tests/recoci/recoci.h"
#include "tests/support/tempdir.h"

namespace gmtest {

class RecOciControl {
public:
    RecOciControl() {
        library.Open(GM_RECOCI_PATH);
        Reset = Bind<decltype(&RecOciReset)>("RecOciReset");
        AddResult = Bind<decltype(&RecOciAddResult)>("RecOciAddResult");
        AddColumn = Bind<decltype(&RecOciAddColumn)>("RecOciAddColumn");
        AddRow = Bind<decltype(&RecOciAddRow)>("RecOciAddRow");
        AddValue = Bind<decltype(&RecOciAddValue)>("RecOciAddValue");
        AddValueBytes = Bind<decltype(&RecOciAddValueBytes)>("RecOciAddValueBytes");
        FailNext = Bind<decltype(&RecOciFailNext)>("RecOciFailNext");
        AnswerNext = Bind<decltype(&RecOciAnswerNext)>("RecOciAnswerNext");
        AddProcedure = Bind<decltype(&RecOciAddProcedure)>("RecOciAddProcedure");
        AddArgument = Bind<decltype(&RecOciAddArgument)>("RecOciAddArgument");
        CallsFn = Bind<decltype(&RecOciCalls)>("RecOciCalls");
        ClearLog = Bind<decltype(&RecOciClearLog)>("RecOciClearLog");
        OpenHandles = Bind<decltype(&RecOciOpenHandles)>("RecOciOpenHandles");
        Reset();
    }
    std::string Calls() const { return CallsFn(); }

    decltype(&RecOciReset) Reset;
    decltype(&RecOciAddResult) AddResult;
    decltype(&RecOciAddColumn) AddColumn;
    decltype(&RecOciAddRow) AddRow;
    decltype(&RecOciAddValue) AddValue;
    decltype(&RecOciAddValueBytes) AddValueBytes;
    decltype(&RecOciFailNext) FailNext;
    decltype(&RecOciAnswerNext) AnswerNext;
    decltype(&RecOciAddProcedure) AddProcedure;
    decltype(&RecOciAddArgument) AddArgument;
    decltype(&RecOciClearLog) ClearLog;
    decltype(&RecOciOpenHandles) OpenHandles;

private:
    template <class F>
    F Bind(const char* name) {
        return reinterpret_cast<F>(library.Find(name));
    }
    plat::SharedLibrary library;
    decltype(&RecOciCalls) CallsFn;
};

// A directory standing for an Oracle home: Client() puts a library at bin/<name>.
class OracleHome {
public:
    OracleHome() { std::filesystem::create_directories(dir.Path() + "/bin"); }
    const std::string& Path() const { return dir.Path(); }
    // Links bin/<name> to the library file (the same instance the tests control).
    void Client(const char* name, const char* library = GM_RECOCI_PATH) const {
        std::filesystem::create_symlink(library, dir.Path() + "/bin/" + name);
    }

private:
    TempDir dir;
};

}  // namespace gmtest
