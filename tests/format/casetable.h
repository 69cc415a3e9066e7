#pragma once

// Case tables kept as text in a test's data folder, for cases that are only data: one case a
// line, its fields split by tabs, with C's escapes (\n \t \r \0 \\ \xHH) for bytes a text file
// can't show. Blank lines and lines that start with '#' are left out.

#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "support/errorprint.h"

namespace varko {

/// An error code as the tables name it.
inline std::string nameOf(ErrorCode code) {
    std::ostringstream name;
    PrintTo(code, &name);
    return name.str();
}

namespace testing {

inline std::string unescape(std::string_view s) {
    static constexpr std::string_view letters = "ntr0", bytes{"\n\t\r\0", 4};
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out += s[i];
        } else if (s[++i] == 'x') {
            out += char(std::stoi(std::string(s.substr(i + 1, 2)), nullptr, 16));
            i += 2;
        } else {
            const auto at = letters.find(s[i]);
            out += at == std::string_view::npos ? s[i] : bytes[at];
        }
    }
    return out;
}

/// The bytes that `hex` spells, two digits a byte.
template <class Byte = std::byte>
std::vector<Byte> fromHex(std::string_view hex) {
    std::vector<Byte> out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(Byte(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    return out;
}

/// The whole of a file in the test's data folder.
inline std::string dataFile(const std::string& name) {
    std::ifstream in(VARKO_TEST_DATA "/" + name, std::ios::binary);
    EXPECT_TRUE(in) << "no " << name;
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

/// Each case's fields, as many as its line has.
inline std::vector<std::vector<std::string>> caseRows(const std::string& name) {
    std::istringstream in(dataFile(name));
    std::vector<std::vector<std::string>> rows;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        auto& row = rows.emplace_back();
        for (std::size_t at = 0, tab = 0; tab != std::string::npos; at = tab + 1) {
            tab = line.find('\t', at);
            row.push_back(unescape(std::string_view(line).substr(at, tab - at)));
        }
    }
    return rows;
}

/// Each case's fields, of which there must be N.
template <std::size_t N>
std::vector<std::array<std::string, N>> caseTable(const std::string& name) {
    std::vector<std::array<std::string, N>> rows;
    for (auto row : caseRows(name)) {
        EXPECT_EQ(row.size(), N) << name << ": " << ::testing::PrintToString(row);
        row.resize(N);
        std::move(row.begin(), row.end(), rows.emplace_back().begin());
    }
    return rows;
}

/// Expected outcomes by case name: each line's first field, then the rest.
inline std::map<std::string, std::vector<std::string>> outcomes(const std::string& name) {
    std::map<std::string, std::vector<std::string>> byName;
    for (auto& row : caseRows(name)) byName[row[0]].assign(row.begin() + 1, row.end());
    return byName;
}

}  // namespace testing
}  // namespace varko
