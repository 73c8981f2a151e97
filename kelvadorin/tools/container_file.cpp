#include "kelvadorin/tools/container_file.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <set>

namespace kdr {

namespace {

// Where blocks may lie and how many the file can hold; every offset read from
// the file is checked against this before it is used.
struct BlockSpace {
  uint32_t block_size = 0;
  uint64_t limit = 0;  // blocks end at or before this byte

  uint64_t data_per_block() const { return block_size - 4u; }
  // Whole blocks that fit past the header: no chain, nor all directory nodes
  // together, can use more without blocks overlapping.
  uint64_t max_blocks() const { return (limit - CONTAINER_HEADER_END) / block_size; }
  uint64_t blocks_for(uint64_t bytes) const { return (bytes + data_per_block() - 1) / data_per_block(); }
  bool holds(uint32_t offset) const {
    return offset >= CONTAINER_HEADER_END && uint64_t{offset} + block_size <= limit;
  }
  std::string range_text() const {
    return fmt::format("blocks lie from {} to {}", CONTAINER_HEADER_END, limit - block_size);
  }
};

// The most a chain read takes in at once when its blocks follow each other.
constexpr uint64_t kReadWindowBytes = 256 * 1024;

struct ChainError {
  std::optional<IoError> io;  // set when the file itself failed to read
  std::string text;
};

// Fills `out` from the chain starting at `first`, appending the offset of
// every block used to `seen` so the caller can reject blocks used twice.
std::expected<void, ChainError> read_chain(const ByteSource& src, const BlockSpace& space, uint32_t first,
                                           std::span<std::byte> out, std::vector<uint32_t>& seen) {
  if (out.empty()) return {};
  uint64_t dpb = space.data_per_block();
  uint64_t blocks = space.blocks_for(out.size());
  if (blocks > space.max_blocks())
    return std::unexpected(ChainError{std::nullopt, fmt::format("{} bytes need {} blocks, more than the file's {}",
                                                                out.size(), blocks, space.max_blocks())});
  // Chains are mostly laid out block after block, so a read takes in the
  // following blocks too, in a window that doubles while the chain keeps
  // running on and drops back to one block where it jumps.
  const uint64_t max_window = std::max<uint64_t>(1, kReadWindowBytes / space.block_size);
  uint64_t window = 1;
  Bytes scratch;
  uint32_t at = first, previous = 0;
  size_t done = 0;
  while (done < out.size()) {
    if (at == 0)
      return std::unexpected(ChainError{std::nullopt, fmt::format("chain ends after {} of {} bytes at block offset {}",
                                                                  done, out.size(), previous)});
    if (!space.holds(at))
      return std::unexpected(ChainError{
          std::nullopt, fmt::format("block offset {} is outside the file ({})", at, space.range_text())});
    uint64_t left = out.size() - done;
    uint64_t count = std::min({window, space.blocks_for(left), (space.limit - at) / space.block_size});
    // Whole blocks, except that the last one is read only as far as the data goes.
    size_t len = static_cast<size_t>(std::min(count * space.block_size, left + 4 * count));
    scratch.resize(len);
    if (auto r = FileExtPolyfill::read_exact_at_compat(src, scratch, at); !r)
      return std::unexpected(ChainError{r.error(), fmt::format("block offset {}: {}", at, r.error().description())});
    uint64_t used = 0;
    for (; used < count && done < out.size(); ++used) {
      const std::byte* block = scratch.data() + used * space.block_size;
      size_t take = static_cast<size_t>(std::min<uint64_t>(dpb, out.size() - done));
      std::memcpy(out.data() + done, block + 4, take);
      done += take;
      seen.push_back(at);
      previous = at;
      at = load_le<uint32_t>(block);
      if (uint64_t{at} != uint64_t{previous} + space.block_size) {
        ++used;
        break;
      }
    }
    bool ran_on = used == count && uint64_t{at} == uint64_t{previous} + space.block_size;
    window = ran_on ? std::min(window * 2, max_window) : 1;
  }
  return {};
}

// The first offset listed twice in `offsets`, which is sorted on the way.
std::optional<uint32_t> first_repeat(std::vector<uint32_t>& offsets) {
  std::sort(offsets.begin(), offsets.end());
  auto it = std::adjacent_find(offsets.begin(), offsets.end());
  return it == offsets.end() ? std::nullopt : std::optional<uint32_t>(*it);
}

class DirectoryWalk {
 public:
  DirectoryWalk(const ByteSource& src, const BlockSpace& space, const std::filesystem::path& path)
      : src_(src), space_(space), path_(path) {}

  ToolResult<std::vector<ContainerEntry>> run(uint32_t root) {
    if (root != 0) KDR_TRY(walk(root, 1));
    if (auto repeat = first_repeat(blocks_seen_))
      return fail(fmt::format("directory nodes share the block at offset {}", *repeat));
    return std::move(entries_);
  }

 private:
  ToolResult<void> walk(uint32_t offset, unsigned depth) {
    if (depth > CONTAINER_MAX_DEPTH)
      return fail(fmt::format("directory is deeper than {} levels at node offset {}", CONTAINER_MAX_DEPTH, offset));
    if (!visited_.insert(offset).second)
      return fail(fmt::format("directory node at offset {} is reached twice", offset));
    // All nodes together may use no more blocks than the file holds.
    blocks_used_ += space_.blocks_for(CONTAINER_NODE_SIZE);
    if (blocks_used_ > space_.max_blocks())
      return fail(fmt::format("directory nodes need more than the file's {} blocks at node offset {}",
                              space_.max_blocks(), offset));

    std::array<std::byte, CONTAINER_NODE_SIZE> node{};
    if (auto r = read_chain(src_, space_, offset, node, blocks_seen_); !r)
      return fail(fmt::format("directory node at offset {}: {}", offset, r.error().text));
    auto u32_at = [&](size_t pos) { return load_le<uint32_t>(node.data() + pos); };
    uint32_t count = u32_at(CONTAINER_NODE_CHILDREN * 4);
    if (count > CONTAINER_NODE_MAX_ENTRIES)
      return fail(fmt::format("directory node at offset {}: entry count {} exceeds {}", offset, count,
                              CONTAINER_NODE_MAX_ENTRIES));
    bool inner = u32_at(0) != 0;
    size_t children = inner ? count + 1 : 0;
    for (size_t i = 0; i < CONTAINER_NODE_CHILDREN; ++i) {
      uint32_t child = u32_at(i * 4);
      if (i < children && !space_.holds(child))
        return fail(fmt::format("directory node at offset {}: child {} offset {} is outside the file ({})", offset,
                                i, child, space_.range_text()));
      if (i >= children && child != 0)
        return fail(fmt::format("directory node at offset {}: child {} is {} where the node has {} children", offset,
                                i, child, children));
    }

    for (size_t i = 0; i <= count; ++i) {
      if (inner) KDR_TRY(walk(u32_at(i * 4), depth + 1));
      if (i == count) break;
      size_t at = CONTAINER_NODE_CHILDREN * 4 + 4 + i * CONTAINER_ENTRY_SIZE;
      ContainerEntry e{u32_at(at + 4), u32_at(at + 8), u32_at(at + 12)};
      KDR_TRY(accept(offset, e));
    }
    return {};
  }

  ToolResult<void> accept(uint32_t node, const ContainerEntry& e) {
    if (!entries_.empty() && e.file_id <= entries_.back().file_id)
      return fail(fmt::format("directory node at offset {}: file id 0x{} does not follow 0x{}", node,
                              hex_id(e.file_id), hex_id(entries_.back().file_id)));
    if (!space_.holds(e.offset))
      return fail(fmt::format("directory node at offset {}: record 0x{} starts at offset {}, outside the file ({})",
                              node, hex_id(e.file_id), e.offset, space_.range_text()));
    if (space_.blocks_for(e.size) > space_.max_blocks())
      return fail(fmt::format("directory node at offset {}: record 0x{} of {} bytes is larger than the file holds",
                              node, hex_id(e.file_id), e.size));
    // Nodes are bounded by the file's blocks and hold at most 61 entries each.
    entries_.push_back(e);
    return {};
  }

  std::unexpected<ToolError> fail(std::string message) const {
    return std::unexpected(ToolError(ToolError::DatOpen{path_, std::move(message)}));
  }

  const ByteSource& src_;
  const BlockSpace& space_;
  const std::filesystem::path& path_;
  std::vector<ContainerEntry> entries_;
  std::vector<uint32_t> blocks_seen_;
  std::set<uint32_t> visited_;
  uint64_t blocks_used_ = 0;
};

std::expected<ContainerHeader, std::string> read_header(const ByteSource& src) {
  auto len = FileExtPolyfill::len_compat(src);
  if (!len) return std::unexpected(len.error().description());
  if (*len < CONTAINER_HEADER_END)
    return std::unexpected(fmt::format("file of {} bytes is too short for a container header", *len));
  std::array<std::byte, CONTAINER_HEADER_END - CONTAINER_HEADER_OFFSET> raw{};
  if (auto r = FileExtPolyfill::read_exact_at_compat(src, raw, CONTAINER_HEADER_OFFSET); !r)
    return std::unexpected(r.error().description());
  auto field = [&](size_t i) { return load_le<uint32_t>(raw.data() + i * 4); };
  ContainerHeader h{field(0), field(1), field(2), field(3), field(4), field(5), field(6), field(7), field(8)};
  if (h.file_type != CONTAINER_FILE_TYPE)
    return std::unexpected(fmt::format("file type 0x{:08X} at offset {} is not the container type 0x{:08X}",
                                       h.file_type, CONTAINER_HEADER_OFFSET, CONTAINER_FILE_TYPE));
  if (h.block_size < CONTAINER_MIN_BLOCK_SIZE)
    return std::unexpected(fmt::format("block size {} is below {}", h.block_size, CONTAINER_MIN_BLOCK_SIZE));
  if (h.file_size > *len)
    return std::unexpected(fmt::format("header file size {} exceeds the file's {} bytes", h.file_size, *len));
  if (uint64_t{h.file_size} < CONTAINER_HEADER_END + h.block_size)
    return std::unexpected(
        fmt::format("header file size {} leaves no room for a block of {} bytes", h.file_size, h.block_size));
  return h;
}

}  // namespace

ContainerFile::ContainerFile(std::unique_ptr<ByteSource> source, std::filesystem::path path, ContainerHeader header,
                             uint64_t limit, std::vector<ContainerEntry> entries)
    : source_(std::move(source)),
      path_(std::move(path)),
      header_(header),
      limit_(limit),
      entries_(std::move(entries)) {
  infos_.reserve(entries_.size());
  for (const auto& e : entries_) infos_.push_back({e.file_id, e.size});
}

ToolResult<std::unique_ptr<ContainerFile>> ContainerFile::open(const std::filesystem::path& path) {
  auto source = open_file_for_reading(path);
  if (!source) return std::unexpected(ToolError(ToolError::DatOpen{path, source.error().description()}));
  return open(std::move(*source), path);
}

ToolResult<std::unique_ptr<ContainerFile>> ContainerFile::open(std::unique_ptr<ByteSource> source,
                                                               std::filesystem::path path) {
  auto header = read_header(*source);
  if (!header) return std::unexpected(ToolError(ToolError::DatOpen{path, std::move(header).error()}));
  // Blocks stay inside the size the header claims, which the file covers.
  BlockSpace space{header->block_size, header->file_size};
  if (header->root_offset != 0 && !space.holds(header->root_offset))
    return std::unexpected(ToolError(ToolError::DatOpen{
        path, fmt::format("root directory node offset {} is outside the file ({})", header->root_offset,
                          space.range_text())}));
  KDR_ASSIGN_OR_RETURN(auto entries, DirectoryWalk(*source, space, path).run(header->root_offset));
  return std::unique_ptr<ContainerFile>(
      new ContainerFile(std::move(source), std::move(path), *header, space.limit, std::move(entries)));
}

ToolResult<Bytes> ContainerFile::read(size_t index) const {
  const ContainerEntry& e = entries_.at(index);
  BlockSpace space{header_.block_size, limit_};
  Bytes out(e.size);  // bounded by the file's capacity when the directory was read
  std::vector<uint32_t> seen;
  seen.reserve(static_cast<size_t>(space.blocks_for(e.size)));
  auto failure = [&](DatError error) { return std::unexpected(ToolError(ToolError::DatRead{e.file_id, std::move(error)})); };
  if (auto r = read_chain(*source_, space, e.offset, out, seen); !r) {
    if (r.error().io) {
      IoError io = *r.error().io;
      io.message = fmt::format("container {}: record at offset {}: {}", path_.string(), e.offset, r.error().text);
      return failure(DatError(std::move(io)));
    }
    return failure(DatError::corruption(
        fmt::format("container {}: record at offset {}: {}", path_.string(), e.offset, r.error().text)));
  }
  if (auto repeat = first_repeat(seen))
    return failure(DatError::corruption(fmt::format("container {}: record at offset {}: chain loops back to block offset {}",
                                                    path_.string(), e.offset, *repeat)));
  return out;
}

ToolResult<Bytes> ContainerFile::find(uint32_t id) const {
  auto it = std::lower_bound(entries_.begin(), entries_.end(), id,
                             [](const ContainerEntry& e, uint32_t v) { return e.file_id < v; });
  if (it == entries_.end() || it->file_id != id) {
    const DatError not_found = DatError::NotFound{id};
    return std::unexpected(ToolError(ToolError::DatRead{id, not_found}));
  }
  return read(static_cast<size_t>(it - entries_.begin()));
}

ToolResult<std::unique_ptr<RecordInput>> open_container_file(const std::filesystem::path& path) {
  KDR_ASSIGN_OR_RETURN(auto file, ContainerFile::open(path));
  return std::unique_ptr<RecordInput>(std::move(file));
}

bool looks_like_container(const std::filesystem::path& path) {
  auto source = open_file_for_reading(path);
  if (!source) return false;
  std::array<std::byte, 4> type{};
  if (!FileExtPolyfill::read_exact_at_compat(**source, type, CONTAINER_HEADER_OFFSET)) return false;
  return load_le<uint32_t>(type.data()) == CONTAINER_FILE_TYPE;
}

}  // namespace kdr
