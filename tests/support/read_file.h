// Reads a test's data file whole.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace qk::test {

// The bytes of the file at `path`, or "" if it cannot be read.
inline std::string readFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

} // namespace qk::test
