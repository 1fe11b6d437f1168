// A directory of a test's own, removed with all it holds when the test is done.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>

namespace quillfen::test {

struct TempDir {
    std::filesystem::path path;

    // `prefix` names the directory after its test, for whoever finds one left behind.
    explicit TempDir(const std::string& prefix) {
        std::string pattern =
            (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("cannot make a directory from " + pattern);
        path = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
};

} // namespace quillfen::test
