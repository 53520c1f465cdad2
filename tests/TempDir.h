// A fresh temporary folder that is the current directory while the object lives.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace kordel::testing {

class TempDir {
  public:
    TempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "kordel-test-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data());
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(path_);
    }
    ~TempDir() {
        std::filesystem::current_path(previous_);
        std::error_code ec;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(path_, ec);
    }
    const std::filesystem::path& Path() const { return path_; }

  private:
    std::filesystem::path path_;
    std::filesystem::path previous_;
};

inline std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

}  // namespace kordel::testing
