// Long expected texts live in tests/data/, one file per case, so that a
// reviewer reads them as the program prints them.
#pragma once

#include <fstream>
#include <sstream>
#include <string>

namespace test {

inline std::string expected_text(const std::string& name) {
    std::ifstream in(std::string(NODRIX_SOURCE_DIR) + "/tests/data/" + name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace test

namespace test {

// One case of a data file that holds several: the text between the line
// "=== name ===" and the next such line (or the end of the file).
inline std::string expected_section(const std::string& file, const std::string& name) {
    std::string all = expected_text(file);
    std::string mark = "=== " + name + " ===\n";
    size_t at = all.find(mark);
    if (at == std::string::npos) return "<no section " + name + ">";
    at += mark.size();
    size_t stop = all.find("\n=== ", at - 1);
    return all.substr(at, stop == std::string::npos ? std::string::npos : stop + 1 - at);
}

}  // namespace test
