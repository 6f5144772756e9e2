// Structure texts of a table alteration as a client sends them, made from columns given as
// "name", "type", "length", "decimals" (any number of attributes, to make bad texts too).
#pragma once
#include <string>
#include <vector>

namespace gmtest {

inline std::string Structure(const std::vector<std::vector<std::string>>& columns) {
    std::string text;
    for (const auto& column : columns) {
        if (!text.empty()) text += '\x01';
        for (size_t i = 0; i < column.size(); ++i) {
            if (i > 0) text += '\x02';
            text += column[i];
        }
    }
    return text;
}

}  // namespace gmtest
