// The monitor's operations on the server's files: the log, the diagnostic files of the program
// directory sent in pieces, the ini file whole (passwords shown plain, stored enciphered) or
// value by value through the configuration cache, and the diagnostic reports.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "lib_common/cipher.h"
#include "lib_common/commbuffer.h"
#include "lib_common/configcache.h"
#include "lib_common/logwriter.h"
#include "lib_common/retcodes.h"
#include "platform/inifile.h"
#include "platform/procinfo.h"
#include "server/process/monitor.h"
#include "server/process/pellmar.h"
#include "server/runtime/appsummary.h"
#include "server/runtime/consolelog.h"
#include "server/runtime/diagnostics.h"
#include "server/runtime/globals.h"

namespace {

constexpr i32 kMaxFileName = 255;
// The largest ini text handled whole: its normal form (one line end more at most) still fits a
// string.
constexpr i64 kMaxIniBytes = tString::kMaxCapacity - 2;

tConfigCache& Config() { return *Globals()->GetConfig(); }

i16 CodeOf(bool ok) { return ok ? RC_OK : RC_FAILED; }

// A diagnostic file is named by itself: no directory part and no way out of the program's
// directory.
bool IsDiagFileName(const tString& name) {
    const char* text = name.GetText();
    return name.GetLength() > 0 && name.GetLength() <= kMaxFileName && !std::strchr(text, '/') &&
           !std::strchr(text, '\\') && !std::strstr(text, "..");
}

// Reads up to count bytes from the file's position and appends them to out, up to the first NUL
// (a text holds none). The bytes read: 0 at the end, -1 when the first read failed.
i64 AppendFileBytes(tDiskManAbs& disk, i32 handle, i64 count, tString& out) {
    std::unique_ptr<char[]> bytes(new char[static_cast<size_t>(count)]);
    i64 total = 0;
    while (total < count) {
        const i32 n = disk.FileRead(handle, bytes.get() + total, static_cast<i32>(count - total));
        if (n < 0 && total == 0) return -1;
        if (n <= 0) break;
        total += n;
    }
    if (total > 0) out.Append(bytes.get(), static_cast<i32>(total));
    return total;
}

// The file's first bytes, at most maxBytes, appended to out; with whole, a longer file gives
// nothing. The bytes read, or -1 when the file is missing, cannot be opened or read.
i64 ReadFileStart(tDiskManAbs& disk, const char* path, i64 maxBytes, bool whole, tString& out) {
    if (!disk.FileExists(path)) return -1;
    const i32 handle = disk.FileOpen(path, 0, nullptr);
    if (handle < 0) return -1;
    const i64 size = disk.FileSize(handle);
    i64 got = -1;
    if (size >= 0 && (!whole || size <= maxBytes)) {
        got = size == 0 ? 0 : AppendFileBytes(disk, handle, std::min(size, maxBytes), out);
    }
    disk.FileClose(handle);
    return got;
}

// ---- the ini file in normal form ----------------------------------------------------------------

enum class tCipherWay { Decipher, Encipher };

std::string_view TrimBlanks(std::string_view text) {
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

bool EqualsNoCase(std::string_view a, const char* b) {
    const std::string_view other(b);
    if (a.size() != other.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(other[i]))) {
            return false;
        }
    }
    return true;
}

bool IsPasswordKey(std::string_view key) {
    return EqualsNoCase(key, "password") || EqualsNoCase(key, "guestpassword");
}

// Appends one line and its LF; a password value deciphered or enciphered. False when the value
// turns into a text with CR or LF, which would break the file's lines.
bool AppendIniLine(std::string_view line, tCipherWay way, const tCryptor& cipher, tString& out) {
    const size_t equals = line.find('=');
    const std::string_view key = TrimBlanks(line.substr(0, equals));
    if (equals == std::string_view::npos || !IsPasswordKey(key)) {
        out.Append(line.data(), static_cast<i32>(line.size()));
        out += "\n";
        return true;
    }
    std::string value(TrimBlanks(line.substr(equals + 1)));
    if (way == tCipherWay::Decipher) {
        cipher.Decrypt(value.data(), static_cast<u32>(value.size()));
    } else {
        cipher.Encrypt(value.data(), static_cast<u32>(value.size()));
    }
    if (value.find_first_of("\r\n") != std::string::npos) return false;
    out.Append(key.data(), static_cast<i32>(key.size()));
    out += "=";
    out.Append(value.data(), static_cast<i32>(value.size()));
    out += "\n";
    return true;
}

// The text in normal form: lines end at CR, LF or CR LF; each loses its surrounding blanks;
// empty lines and comments (';') are dropped; every line ends in one LF. False when a password
// cannot be carried (see AppendIniLine).
bool NormaliseIni(const tString& text, tCipherWay way, tString& out) {
    const tCryptor cipher(kIniPasswordKeyLength, kIniPasswordKey);
    const std::string_view all(text.GetText(), static_cast<size_t>(text.GetLength()));
    for (size_t pos = 0; pos < all.size();) {
        size_t end = all.find_first_of("\r\n", pos);
        if (end == std::string_view::npos) end = all.size();
        const std::string_view line = TrimBlanks(all.substr(pos, end - pos));
        pos = end + 1;
        if (line.empty() || line[0] == ';') continue;
        if (!AppendIniLine(line, way, cipher, out)) return false;
    }
    return true;
}

}  // namespace

// ---- the log ------------------------------------------------------------------------------------

void tMonitor::ReadLog() {
    replyText.Clear();
    const i64 got = ReadFileStart(disk, GetLogPath(), kLogReadMax, false, replyText);
    tCommBuffer& out = *GetCommBuffer();
    if (got <= 0) {
        out.PutReturnCode(RC_FAILED);
        return;
    }
    out.PutReturnCode(RC_OK);
    out.PutTString(replyText);
}

void tMonitor::ClearLog() {
    GetCommBuffer()->PutReturnCode(CodeOf(WriteLog("Log file cleared.\n", 1)));
}

// ---- diagnostics --------------------------------------------------------------------------------

void tMonitor::GetDiagInfo() {
    ConsolePrintf("Run DBMonitor Thread (%u) - GetDiagInfo Start \n", GetThreadId());
    replyText.Clear();
    replyText += "Server Type ..: ";
    replyText += GetOSTypeName();
    replyText += "\nBuild ........: ";
    replyText += kBuildNumber;
    replyText += "\n\n";
    GMLCheckOS(replyText);
    CheckMemoryStatus(replyText);
    ApplicationSummary(replyText, false, false);
    Globals()->GetEnvironmentReports(replyText);
    DiagnosticReport(replyText);
    tCommBuffer& out = *GetCommBuffer();
    out.PutReturnCode(RC_OK);
    out.PutTString(replyText);
    ConsolePrintf("Run DBMonitor Thread (%u) - GetDiagInfo End \n", GetThreadId());
}

// A file of the program's directory in pieces: the request that names it answers the first
// piece, each later request the next one whatever it names, and the request after the last
// piece closes the file with -24.
void tMonitor::GetDiagLog() {
    tCommBuffer& io = *GetCommBuffer();
    tString name;
    io.GetString(name);
    if (io.IsMalformed()) return;
    ConsolePrintf("Run DBMonitor Thread (%u) - GetDiagLog File [%s] \n", GetThreadId(),
                  name.GetText());
    replyText.Clear();
    i16 code = RC_OK;
    if (transferHandle < 0) {
        StartTransfer(name, code);
    } else if (transferLeft > 0) {
        ReadTransferPiece(code);
    } else {
        EndTransfer();
        code = RC_NOT_OPEN;
    }
    io.PutReturnCode(code);
    io.PutTString(replyText);
}

void tMonitor::StartTransfer(const tString& name, i16& code) {
    replyText += "\n[=== File ";
    replyText.Append(name, kMaxFileName);  // a longer name is refused below
    replyText += " ===]\n\n";
    const tString path = (plat::ProgramDirectory() + name.GetText()).c_str();
    if (!IsDiagFileName(name) || !disk.FileExists(path)) {
        replyText += "File NOT FOUND.\n";
        code = RC_FAILED;
        return;
    }
    const i32 handle = disk.FileOpen(path, 0, nullptr);
    if (handle < 0) {
        replyText += "Open File Error - ";
        replyText += disk.GetErrorText(disk.GetLastError());
        replyText += "\n";
        code = RC_FAILED;
        return;
    }
    transferHandle = handle;
    transferLeft = std::max<i64>(disk.FileSize(handle), 0);
    ReadTransferPiece(code);
}

void tMonitor::ReadTransferPiece(i16& code) {
    const i64 piece = std::min(transferLeft, kTransferPiece);
    transferLeft -= piece;
    if (piece > 0 && AppendFileBytes(disk, transferHandle, piece, replyText) > 0) return;
    replyText += "Unable to READ file.\n";
    code = RC_FAILED;
    EndTransfer();
}

void tMonitor::EndTransfer() {
    if (transferHandle >= 0) disk.FileClose(transferHandle);
    transferHandle = -1;
    transferLeft = 0;
}

void tMonitor::DiagMiscInfo() {
    tGMLGlobals& globals = *Globals();
    const bool addressSpace = Config().GetBool("General", "MonitorVMAMemory", 0) != 0;
    const f64 memory = addressSpace ? globals.GetVirtualMemory() : globals.GetProcessMemory();
    const f64 processor = globals.GetCpuUsage();
    tCommBuffer& out = *GetCommBuffer();
    out.PutReturnCode(RC_OK);
    out.PutDouble(memory);
    out.PutDouble(processor);
    out.PutLong(0);
}

// ---- the ini file whole -------------------------------------------------------------------------

void tMonitor::GetIniFile() {
    tCommBuffer& out = *GetCommBuffer();
    tString text;
    const char* path = Config().GetIniFile()->GetFileName();
    replyText.Clear();
    if (ReadFileStart(disk, path, kMaxIniBytes, true, text) <= 0 ||
        !NormaliseIni(text, tCipherWay::Decipher, replyText)) {
        out.PutReturnCode(RC_FAILED);
        return;
    }
    out.PutReturnCode(RC_OK);
    out.PutTString(replyText);
}

void tMonitor::SetIniFile() {
    tCommBuffer& io = *GetCommBuffer();
    tString text;
    io.GetString(text);
    if (io.IsMalformed()) return;
    ConsolePrintf("[FULL INI FILE]\n%s\n", text.GetText());
    replyText.Clear();
    const char* path = Config().GetIniFile()->GetFileName();
    const bool ok =
        text.GetLength() <= kMaxIniBytes && NormaliseIni(text, tCipherWay::Encipher, replyText) &&
        replyText.GetLength() > 0 && *path &&
        plat::IniReplaceFile(path, replyText.GetText(), static_cast<size_t>(replyText.GetLength()));
    if (ok) WriteLog("Configuration file updated.", 0);
    io.PutReturnCode(CodeOf(ok));
}

// ---- ini values through the configuration cache -------------------------------------------------

void tMonitor::ReadIniString() {
    tCommBuffer& io = *GetCommBuffer();
    tString section, key;
    io.GetString(section);
    io.GetString(key);
    if (io.IsMalformed()) return;
    replyText.Clear();
    Config().GetString(section, key, "", replyText);
    io.PutReturnCode(RC_OK);
    io.PutTString(replyText);
}

void tMonitor::WriteIniString() {
    tCommBuffer& io = *GetCommBuffer();
    tString section, key, value;
    io.GetString(section);
    io.GetString(key);
    io.GetString(value);
    if (io.IsMalformed()) return;
    io.PutReturnCode(CodeOf(Config().WriteString(section, key, value)));
}

void tMonitor::ReadIniInteger() {
    tCommBuffer& io = *GetCommBuffer();
    tString section, key;
    io.GetString(section);
    io.GetString(key);
    if (io.IsMalformed()) return;
    const i32 value = Config().GetInt(section, key, 0);
    io.PutReturnCode(RC_OK);
    io.PutLong(value);
}

void tMonitor::WriteIniInteger() {
    tCommBuffer& io = *GetCommBuffer();
    tString section, key;
    i32 value = 0;
    io.GetString(section);
    io.GetString(key);
    io.GetLong(value);
    if (io.IsMalformed()) return;
    const bool written = Config().WriteInt(section, key, value);
    if (section == "General" && key == "TraceIndex") {
        if (value != 0) Globals()->IndexTraceChanged(true);
        tString line;
        line.sprintf("[INFO] TraceIndex [%s]\n", value != 0 ? "ENABLED" : "DISABLED");
        ConsolePrintf("%s", line.GetText());
        WriteLog(line, 0);
    }
    io.PutReturnCode(CodeOf(written));
}

void tMonitor::DelSection() {
    tCommBuffer& io = *GetCommBuffer();
    tString section, key;
    io.GetString(section);
    io.GetString(key);
    if (io.IsMalformed()) return;
    const bool deleted =
        key.GetLength() > 0 ? Config().DeleteKey(section, key) : Config().DeleteSection(section);
    io.PutReturnCode(CodeOf(deleted));
}
