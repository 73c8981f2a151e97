#include <algorithm>
#include <cctype>
#include <fstream>
#include <system_error>

#include "kelvadorin/tools/dat_shard.hpp"
#include "kelvadorin/tools/record_input.hpp"

namespace kdr {

namespace {

class LooseFolder final : public RecordInput {
 public:
  LooseFolder(std::filesystem::path dir, std::vector<std::filesystem::path> files, std::vector<InputRecordInfo> infos,
              size_t skipped)
      : dir_(std::move(dir)), files_(std::move(files)), infos_(std::move(infos)), skipped_(skipped) {}

  const std::filesystem::path& path() const override { return dir_; }
  const std::vector<InputRecordInfo>& records() const override { return infos_; }
  size_t skipped_files() const override { return skipped_; }

  ToolResult<Bytes> read(size_t index) const override {
    const auto& file = files_.at(index);
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::unexpected(ToolError(ToolError::DatOpen{file, "cannot open record file"}));
    Bytes out(static_cast<size_t>(infos_[index].size));
    in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(out.size()));
    if (in.gcount() != static_cast<std::streamsize>(out.size()) || in.peek() != std::char_traits<char>::eof())
      return std::unexpected(ToolError(ToolError::DatRead{
          infos_[index].file_id, DatError::other(fmt::format("{} changed size while reading", file.string()))}));
    return out;
  }

 private:
  std::filesystem::path dir_;
  std::vector<std::filesystem::path> files_;
  std::vector<InputRecordInfo> infos_;
  size_t skipped_;
};

}  // namespace

std::optional<uint32_t> record_file_id(const std::filesystem::path& file) {
  std::string stem = file.stem().string();
  if (stem.size() != 8 || !std::all_of(stem.begin(), stem.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); }))
    return std::nullopt;
  auto id = parse_hex_u32(stem);
  return id ? std::optional<uint32_t>(*id) : std::nullopt;
}

ToolResult<std::unique_ptr<RecordInput>> open_loose_folder(const std::filesystem::path& dir) {
  struct Found {
    uint32_t id;
    std::filesystem::path path;
    uint64_t size;
  };
  std::vector<Found> found;
  size_t skipped = 0;
  std::error_code ec;
  std::filesystem::directory_iterator it(dir, ec);
  if (ec) return std::unexpected(ToolError(ToolError::DatOpen{dir, ec.message()}));
  for (; it != std::filesystem::directory_iterator(); it.increment(ec)) {
    if (ec) return std::unexpected(ToolError(ToolError::DatOpen{dir, ec.message()}));
    std::error_code type_ec;
    if (!it->is_regular_file(type_ec)) continue;
    auto id = record_file_id(it->path());
    if (!id) {
      ++skipped;
      continue;
    }
    uint64_t size = it->file_size(type_ec);
    if (type_ec) return std::unexpected(ToolError(ToolError::DatOpen{it->path(), type_ec.message()}));
    found.push_back({*id, it->path(), size});
  }
  // Directory order is arbitrary; sort so the same folder always gives the same archive.
  std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
    return a.id != b.id ? a.id < b.id : a.path.filename() < b.path.filename();
  });
  std::vector<std::filesystem::path> files;
  std::vector<InputRecordInfo> infos;
  files.reserve(found.size());
  infos.reserve(found.size());
  for (auto& f : found) {
    files.push_back(std::move(f.path));
    infos.push_back({f.id, f.size});
  }
  return std::make_unique<LooseFolder>(dir, std::move(files), std::move(infos), skipped);
}

}  // namespace kdr
