// The script files that the recording libraries read when a pellmar copy loads them: scripted
// results as text, and counting what their call logs hold.
#pragma once
#include <string>
#include <vector>

namespace gmtest {

// How often part stands in text.
inline size_t Count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// A scripted result: the pattern, the columns (name, the library's type, size) and the rows.
inline std::string ScriptLines(const std::string& pattern,
                               const std::vector<std::vector<std::string>>& columns,
                               const std::vector<std::vector<std::string>>& rows) {
    std::string text = "RESULT\t" + pattern + "\n";
    for (const auto& c : columns) text += "COLUMN\t" + c[0] + "\t" + c[1] + "\t" + c[2] + "\n";
    for (const auto& row : rows) {
        text += "ROW";
        for (const std::string& value : row) text += "\t" + value;
        text += "\n";
    }
    return text;
}

}  // namespace gmtest
