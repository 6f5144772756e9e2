// Ini files: parses the text of an ini file into lines (section headers and key lines) for the
// readers, splices changed lines into that text for the writers, and replaces the file through a
// temporary file in the same directory renamed over it.
#include "platform/inifile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string_view>

#include "platform/unique_fd.h"

namespace plat {
namespace {

// Parsed file text:
//  (1) Lines cover the text after a leading UTF-8 byte-order mark without gaps, in order; a
//      line is [begin, end) and its line end [end, next).
//  (2) Names and values are views into the text, blanks trimmed.
enum class tLineKind { kBlank, kOther, kHeader, kEntry };

struct tLine {
    std::size_t begin;
    std::size_t end;
    std::size_t next;
    tLineKind kind;
    std::string_view name;   // section of a header, key of an entry
    std::string_view value;  // an entry's text after its first '='
};

constexpr const char* kLineEnd = "\r\n";

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
    }
    return true;
}

void ClassifyLine(tLine& line, std::string_view content) {
    const std::string_view text = Trim(content);
    if (text.empty()) {
        line.kind = tLineKind::kBlank;
        return;
    }
    if (text.front() == '[') {
        const std::size_t close = text.find(']');
        line.kind = tLineKind::kHeader;
        line.name = Trim(text.substr(1, close == std::string_view::npos ? close : close - 1));
        return;
    }
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos) {
        line.kind = tLineKind::kOther;
        return;
    }
    line.kind = tLineKind::kEntry;
    line.name = Trim(text.substr(0, equals));
    line.value = Trim(text.substr(equals + 1));
}

std::vector<tLine> SplitLines(const std::string& text) {
    std::vector<tLine> lines;
    std::size_t pos = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    while (pos < text.size()) {
        tLine line{pos, text.find_first_of("\r\n", pos), 0, tLineKind::kOther, {}, {}};
        if (line.end == std::string::npos) line.end = text.size();
        line.next = line.end;
        if (line.next < text.size() && text[line.next] == '\r') ++line.next;
        if (line.next < text.size() && text[line.next] == '\n') ++line.next;
        ClassifyLine(line, std::string_view(text).substr(pos, line.end - pos));
        lines.push_back(line);
        pos = line.next;
    }
    return lines;
}

// Line indexes of the first section of the name: its header, and one past its last line.
struct tSectionRange {
    std::size_t header;
    std::size_t end;
};

std::size_t SectionEnd(const std::vector<tLine>& lines, std::size_t header) {
    std::size_t i = header + 1;
    while (i < lines.size() && lines[i].kind != tLineKind::kHeader) ++i;
    return i;
}

bool FindSection(const std::vector<tLine>& lines, std::string_view section, tSectionRange& out) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].kind == tLineKind::kHeader && SameName(lines[i].name, section)) {
            out = {i, SectionEnd(lines, i)};
            return true;
        }
    }
    return false;
}

const tLine* FindEntry(const std::vector<tLine>& lines, const char* section, const char* key) {
    tSectionRange range;
    if (!FindSection(lines, Trim(section), range)) return nullptr;
    const std::string_view wanted = Trim(key);
    for (std::size_t i = range.header + 1; i < range.end; ++i) {
        if (lines[i].kind == tLineKind::kEntry && SameName(lines[i].name, wanted)) return &lines[i];
    }
    return nullptr;
}

std::string ValueOf(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    return std::string(value.substr(0, kIniValueMax));
}

std::string DefaultValue(const char* def) {
    std::string_view text(def ? def : "");
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return std::string(text.substr(0, kIniValueMax));
}

std::string HostPath(const char* path) {
    std::string host(path);
    for (char& c : host) {
        if (c == '\\') c = '/';
    }
    return host;
}

enum class tReadResult { kRead, kMissing, kFailed };

tReadResult ReadWholeFile(const std::string& path, std::string& out) {
    out.clear();
    UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.IsValid()) {
        return (errno == ENOENT || errno == ENOTDIR) ? tReadResult::kMissing : tReadResult::kFailed;
    }
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::read(file.Get(), chunk, sizeof chunk);
        if (n == 0) return tReadResult::kRead;
        if (n > 0) {
            out.append(chunk, static_cast<std::size_t>(n));
        } else if (errno != EINTR) {
            return tReadResult::kFailed;
        }
    }
}

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

std::mutex& WriteLock() {
    static std::mutex lock;
    return lock;
}

std::string DirectoryOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A new temporary file in the target's directory (a rename never crosses file systems), created
// with the target's permissions when it exists. -1 when none can be created.
int CreateTempFile(const std::string& path, std::string& tempPath) {
    static std::atomic<unsigned> counter{0};
    const std::string stem = DirectoryOf(path) + "/.gmini" + std::to_string(::getpid()) + "_";
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempPath = stem + std::to_string(counter++) + ".tmp";
        const int fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd != -1) {
            struct stat old;
            if (::stat(path.c_str(), &old) == 0) ::fchmod(fd, old.st_mode & 07777);
            return fd;
        }
        if (errno != EEXIST) return -1;
    }
    return -1;
}

// Called with WriteLock held. The data reaches the disk before the rename, so a crash leaves
// the old file or the new one, never a short one.
bool ReplaceLocked(const std::string& path, const char* data, std::size_t size) {
    std::string tempPath;
    UniqueFd temp(CreateTempFile(path, tempPath));
    if (!temp.IsValid()) return false;
    bool ok = WriteAll(temp.Get(), data, size) && ::fsync(temp.Get()) == 0;
    ok = temp.Close() == 0 && ok;
    if (ok) ok = ::rename(tempPath.c_str(), path.c_str()) == 0;
    if (!ok) {
        ::unlink(tempPath.c_str());
        return false;
    }
    UniqueFd dir(::open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.IsValid()) ::fsync(dir.Get());  // the rename is done; this only hastens it to disk
    return true;
}

bool HasLineBreak(const char* text) { return text && std::strpbrk(text, "\r\n") != nullptr; }

bool IsRefused(const char* section, const char* key, const char* value) {
    if (HasLineBreak(section) || HasLineBreak(key) || HasLineBreak(value)) return true;
    if (std::strpbrk(section, "[]") != nullptr) return true;
    if (key && std::strchr(key, '=') != nullptr) return true;
    // Such a key line would read back as a section header.
    return key && Trim(key).substr(0, 1) == "[";
}

// The text with every section of the name removed, header and lines.
std::string WithoutSection(const std::string& text, const char* section) {
    const std::vector<tLine> lines = SplitLines(text);
    std::string out = text.substr(0, lines.empty() ? text.size() : lines.front().begin);
    for (std::size_t i = 0; i < lines.size();) {
        if (lines[i].kind == tLineKind::kHeader && SameName(lines[i].name, Trim(section))) {
            i = SectionEnd(lines, i);
            continue;
        }
        out.append(text, lines[i].begin, lines[i].next - lines[i].begin);
        ++i;
    }
    return out;
}

// The text without the key's lines in the first section of the name.
std::string WithoutKey(const std::string& text, const char* section, const char* key) {
    const std::vector<tLine> lines = SplitLines(text);
    tSectionRange range;
    if (!FindSection(lines, Trim(section), range)) return text;
    std::string out = text.substr(0, lines[range.header].next);
    for (std::size_t i = range.header + 1; i < lines.size(); ++i) {
        const bool drop = i < range.end && lines[i].kind == tLineKind::kEntry &&
                          SameName(lines[i].name, Trim(key));
        if (!drop) out.append(text, lines[i].begin, lines[i].next - lines[i].begin);
    }
    return out;
}

// The text with the key set: its line rewritten in place, or added after the section's last
// non-blank line, or the section added at the end of the file.
std::string WithValue(const std::string& text, const char* section, const char* key,
                      const char* value) {
    const std::vector<tLine> lines = SplitLines(text);
    const std::string entry = std::string(Trim(key)) + "=" + value;
    tSectionRange range;
    if (!FindSection(lines, Trim(section), range)) {
        std::string out = text;
        if (!out.empty() && out.back() != '\n' && out.back() != '\r') out += kLineEnd;
        return out + "[" + std::string(Trim(section)) + "]" + kLineEnd + entry + kLineEnd;
    }
    std::size_t last = range.header;
    for (std::size_t i = range.header + 1; i < range.end; ++i) {
        const tLine& line = lines[i];
        if (line.kind == tLineKind::kEntry && SameName(line.name, Trim(key))) {
            std::string out = text;
            return out.replace(line.begin, line.end - line.begin,
                               std::string(line.name) + "=" + value);
        }
        if (line.kind != tLineKind::kBlank) last = i;
    }
    std::string out = text;
    const tLine& after = lines[last];
    if (after.next == after.end) return out.insert(after.next, kLineEnd + entry);
    return out.insert(after.next, entry + kLineEnd);
}

}  // namespace

std::string IniReadString(const char* path, const char* section, const char* key, const char* def) {
    std::string text;
    if (!path || !section || !key || ReadWholeFile(HostPath(path), text) != tReadResult::kRead) {
        return DefaultValue(def);
    }
    const std::vector<tLine> lines = SplitLines(text);
    const tLine* entry = FindEntry(lines, section, key);
    return entry ? ValueOf(entry->value) : DefaultValue(def);
}

std::int32_t IniReadInt(const char* path, const char* section, const char* key, std::int32_t def) {
    const std::string value = IniReadString(path, section, key, "");
    if (value.empty()) return def;
    std::size_t i = 0;
    const bool negative = value[0] == '-';
    if (value[0] == '-' || value[0] == '+') ++i;
    std::uint32_t n = 0;
    for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) {
        n = n * 10u + static_cast<std::uint32_t>(value[i] - '0');
    }
    return static_cast<std::int32_t>(negative ? 0u - n : n);
}

std::vector<std::string> IniReadSectionNames(const char* path) {
    std::vector<std::string> names;
    std::string text;
    if (!path || ReadWholeFile(HostPath(path), text) != tReadResult::kRead) return names;
    for (const tLine& line : SplitLines(text)) {
        if (line.kind == tLineKind::kHeader) names.emplace_back(line.name);
    }
    return names;
}

bool IniWriteString(const char* path, const char* section, const char* key, const char* value) {
    if (!path || !*path || !section || IsRefused(section, key, value)) return false;
    const std::string host = HostPath(path);
    std::lock_guard<std::mutex> hold(WriteLock());
    std::string text;
    if (ReadWholeFile(host, text) == tReadResult::kFailed) return false;
    const std::string updated = !key     ? WithoutSection(text, section)
                                : !value ? WithoutKey(text, section, key)
                                         : WithValue(text, section, key, value);
    if (updated == text) return true;
    return ReplaceLocked(host, updated.data(), updated.size());
}

bool IniReplaceFile(const char* path, const char* data, std::size_t size) {
    if (!path || !*path) return false;
    const std::string host = HostPath(path);
    std::lock_guard<std::mutex> hold(WriteLock());
    return ReplaceLocked(host, data, size);
}

}  // namespace plat
