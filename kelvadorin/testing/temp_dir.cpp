#include "kelvadorin/testing/temp_dir.hpp"

#include <cstdlib>
#include <string>
#include <system_error>

namespace kdr::testing {

TempDir::TempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "kdr-test-XXXXXX").string();
  if (char* made = ::mkdtemp(tmpl.data())) path_ = made;
}

TempDir::~TempDir() {
  std::error_code ec;
  if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}

}  // namespace kdr::testing
