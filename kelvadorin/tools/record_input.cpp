#include "kelvadorin/tools/record_input.hpp"

namespace kdr {

ToolResult<std::unique_ptr<RecordInput>> open_record_input(const std::filesystem::path& path) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) return open_loose_folder(path);
  if (!std::filesystem::exists(path, ec))
    return std::unexpected(ToolError(ToolError::DatOpen{path, "no such file or folder"}));
  return std::unexpected(ToolError(ToolError::DatOpen{path, "not a loose record folder"}));
}

}  // namespace kdr
