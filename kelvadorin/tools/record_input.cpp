#include "kelvadorin/tools/record_input.hpp"

#include "kelvadorin/tools/container_file.hpp"

namespace kdr {

ToolResult<std::unique_ptr<RecordInput>> open_record_input(const std::filesystem::path& path) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) return open_loose_folder(path);
  if (!std::filesystem::exists(path, ec))
    return std::unexpected(ToolError(ToolError::DatOpen{path, "no such file or folder"}));
  // Containers are known by their header; their names vary between installs.
  if (looks_like_container(path)) return open_container_file(path);
  return std::unexpected(ToolError(ToolError::DatOpen{path, "neither a loose record folder nor a container file"}));
}

}  // namespace kdr
