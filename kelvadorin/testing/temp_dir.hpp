// A fresh folder under the system temporary directory, removed with its
// contents when the object goes away.
#pragma once

#include <filesystem>
#include <string_view>

namespace kdr::testing {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

}  // namespace kdr::testing
