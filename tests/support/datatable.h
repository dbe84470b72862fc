// Tables of test cases kept as text files: a row a line, fields separated by tabs; blank lines
// and lines starting with '#' are skipped. Bytes a text file cannot show are escaped: \n \r \t
// \\ and \xHH (Shift-JIS, control bytes).
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

namespace vorn::test {

inline std::string unescape(std::string_view field)
{
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        const char c = i + 1 < field.size() && field[i] == '\\' ? field[++i] : 0;
        if (c == 'x' && i + 2 < field.size()) {
            out += char(std::stoi(std::string(field.substr(i + 1, 2)), nullptr, 16));
            i += 2;
        } else {
            out += c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c ? c : field[i];
        }
    }
    return out;
}

using Row = std::vector<std::string>;

// The rows of a table under the source tree, e.g. "tests/cli/data/commands.tsv".
inline std::vector<Row> readTable(const std::string &name)
{
    std::ifstream in(std::filesystem::path(VORN_SOURCE_DIR) / name, std::ios::binary);
    std::vector<Row> rows;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        Row row;
        for (size_t start = 0, tab = 0; tab != std::string::npos; start = tab + 1) {
            tab = line.find('\t', start);
            row.push_back(unescape(std::string_view(line).substr(start, tab - start)));
        }
        rows.push_back(std::move(row));
    }
    EXPECT_FALSE(rows.empty()) << name;
    return rows;
}

} // namespace vorn::test
