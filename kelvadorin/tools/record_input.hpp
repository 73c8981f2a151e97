// An input of a conversion: the records of one loose folder or game data
// file, listed in ascending file id and read one at a time on demand.
#pragma once

#include <filesystem>
#include <memory>
#include <vector>

#include "kelvadorin/dat/coding.hpp"
#include "kelvadorin/tools/error.hpp"

namespace kdr {

struct InputRecordInfo {
  uint32_t file_id = 0;
  uint64_t size = 0;
};

class RecordInput {
 public:
  virtual ~RecordInput() = default;
  virtual const std::filesystem::path& path() const = 0;
  // Ascending file id; records sharing an id keep a stable order.
  virtual const std::vector<InputRecordInfo>& records() const = 0;
  // The bytes of records()[index].
  virtual ToolResult<Bytes> read(size_t index) const = 0;
  // Files of a folder that are not records (their names are not ids).
  virtual size_t skipped_files() const { return 0; }
};

// Opens a loose record folder: every regular file directly inside whose name
// without its extension is exactly eight hexadecimal digits is one record.
ToolResult<std::unique_ptr<RecordInput>> open_loose_folder(const std::filesystem::path& dir);

// Opens whatever `path` is: a loose folder, or a game data file.
ToolResult<std::unique_ptr<RecordInput>> open_record_input(const std::filesystem::path& path);

// The file id named by a loose record file, or nullopt for other names.
std::optional<uint32_t> record_file_id(const std::filesystem::path& file);

}  // namespace kdr
