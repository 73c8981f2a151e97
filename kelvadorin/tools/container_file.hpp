// The game's own portal and cell container files, read as a record input.
//
// A container is a run of fixed-size blocks: each block starts with the
// offset of the next block of its chain (0 ends it) and carries block size - 4
// data bytes. The directory is a B-tree of fixed-size nodes stored in such
// chains; its in-order walk lists the records in ascending file id. Opening
// validates the header and walks the directory once, keeping only where each
// record starts and how long it is; record bytes are read on demand with
// positioned reads, so a container is never loaded whole.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

#include "kelvadorin/dat/utils.hpp"
#include "kelvadorin/tools/record_input.hpp"

namespace kdr {

inline constexpr uint64_t CONTAINER_HEADER_OFFSET = 0x140;
// The header fields read here end 36 bytes in; no block may start before that.
inline constexpr uint64_t CONTAINER_HEADER_END = CONTAINER_HEADER_OFFSET + 36;
inline constexpr uint32_t CONTAINER_FILE_TYPE = 0x00005442;
inline constexpr uint32_t CONTAINER_MIN_BLOCK_SIZE = 8;
inline constexpr size_t CONTAINER_NODE_CHILDREN = 62;
inline constexpr size_t CONTAINER_NODE_MAX_ENTRIES = 61;
inline constexpr size_t CONTAINER_ENTRY_SIZE = 24;
inline constexpr size_t CONTAINER_NODE_SIZE =
    CONTAINER_NODE_CHILDREN * 4 + 4 + CONTAINER_NODE_MAX_ENTRIES * CONTAINER_ENTRY_SIZE;  // 1716
inline constexpr unsigned CONTAINER_MAX_DEPTH = 32;

struct ContainerHeader {
  uint32_t file_type = 0;
  uint32_t block_size = 0;
  uint32_t file_size = 0;
  uint32_t data_set = 0;
  uint32_t data_subset = 0;
  uint32_t free_head = 0;
  uint32_t free_tail = 0;
  uint32_t free_count = 0;
  uint32_t root_offset = 0;  // 0: an empty directory
};

// One record as the directory lists it.
struct ContainerEntry {
  uint32_t file_id = 0;
  uint32_t offset = 0;  // of the record's first block
  uint32_t size = 0;
  // The record kind is the file id's high byte.
  uint32_t kind() const { return file_id >> 24; }
};

class ContainerFile final : public RecordInput {
 public:
  static ToolResult<std::unique_ptr<ContainerFile>> open(const std::filesystem::path& path);
  // Over any byte source; `path` only names the container in messages.
  static ToolResult<std::unique_ptr<ContainerFile>> open(std::unique_ptr<ByteSource> source,
                                                         std::filesystem::path path);

  const std::filesystem::path& path() const override { return path_; }
  const std::vector<InputRecordInfo>& records() const override { return infos_; }
  ToolResult<Bytes> read(size_t index) const override;

  const ContainerHeader& header() const { return header_; }
  // Ascending file id, parallel to records().
  const std::vector<ContainerEntry>& entries() const { return entries_; }
  // The bytes of record `id`; DatRead with NotFound when the directory lacks it.
  ToolResult<Bytes> find(uint32_t id) const;

 private:
  ContainerFile(std::unique_ptr<ByteSource> source, std::filesystem::path path, ContainerHeader header,
                uint64_t limit, std::vector<ContainerEntry> entries);

  std::unique_ptr<ByteSource> source_;
  std::filesystem::path path_;
  ContainerHeader header_;
  uint64_t limit_;  // bytes of the file that blocks may occupy
  std::vector<ContainerEntry> entries_;
  std::vector<InputRecordInfo> infos_;
};

ToolResult<std::unique_ptr<RecordInput>> open_container_file(const std::filesystem::path& path);

// True when `path` is a readable file whose header names the container file
// type; the extension is never looked at.
bool looks_like_container(const std::filesystem::path& path);

}  // namespace kdr
