// Files and folders for tests: whole-file reads and writes, a self-removing temporary folder.
#pragma once

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace quorin::test {

// The file's bytes, or nullopt when it cannot be read.
inline std::optional<std::string> readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void writeFile(const std::filesystem::path& path, std::string_view bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// The names in `folder`, sorted.
inline std::vector<std::string> listFolder(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// A fresh folder under the system's temporary folder, removed with everything in it.
struct TempFolder {
  std::filesystem::path path = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "quorin_test.XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    return std::filesystem::path(pattern);
  }();
  TempFolder() = default;
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  std::string operator/(std::string_view name) const { return (path / name).string(); }
  // Writes `bytes` to the file `name` in the folder and returns its path.
  std::string write(std::string_view name, std::string_view bytes) const {
    writeFile(path / name, bytes);
    return *this / name;
  }
};

}  // namespace quorin::test
