// The lines of a text, for the tests that look at help texts line by line.
#pragma once

#include <sstream>
#include <string>
#include <vector>

inline std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}
