#include "kelvadorin/dat/archive/writer.hpp"

#include <spdlog/sinks/stdout_sinks.h>
#include <spdlog/spdlog.h>
#include <zstd.h>

#include <algorithm>

namespace kdr {

namespace {

constexpr int kZstdLevel = 3;
constexpr size_t kBlockBuffer = 8192;
constexpr size_t kPayloadBuffer = 64 * 1024;
constexpr std::string_view kLogTarget = "kelvadorin_dat::archive";

std::shared_ptr<spdlog::logger> archive_logger() {
  if (auto existing = spdlog::get(std::string(kLogTarget))) return existing;
  auto logger = std::make_shared<spdlog::logger>(std::string(kLogTarget),
                                                 std::make_shared<spdlog::sinks::stderr_sink_mt>());
  spdlog::register_logger(logger);
  return logger;
}

DatError record_write_error(const IoError& io) { return DecodeError::stream(io); }

}  // namespace

// One reusable compression context and output buffer for all payloads.
struct KdrStreamWriter::Compressor {
  ZSTD_CCtx* cctx = ZSTD_createCCtx();
  std::unique_ptr<std::byte[]> out;  // grown, never cleared: no per-payload memset
  size_t capacity = 0;
  ~Compressor() { ZSTD_freeCCtx(cctx); }

  // The frame for `data`, or the encoder's error description.
  std::expected<ByteView, std::string> encode(ByteView data) {
    if (!cctx) return std::unexpected(std::string("cannot allocate compression context"));
    size_t bound = ZSTD_compressBound(data.size());
    if (bound > capacity) {
      out = std::make_unique_for_overwrite<std::byte[]>(bound);
      capacity = bound;
    }
    size_t n = ZSTD_compressCCtx(cctx, out.get(), capacity, data.data(), data.size(), kZstdLevel);
    if (ZSTD_isError(n)) return std::unexpected(std::string(ZSTD_getErrorName(n)));
    return ByteView(out.get(), n);
  }
};

KdrStreamWriter::KdrStreamWriter(std::unique_ptr<ByteSink> sink)
    : file_(std::move(sink)),
      payloads_(std::make_unique<BufferedSink>(*file_, kPayloadBuffer)),
      zstd_(std::make_unique<Compressor>()) {}
KdrStreamWriter::KdrStreamWriter(KdrStreamWriter&&) noexcept = default;
KdrStreamWriter& KdrStreamWriter::operator=(KdrStreamWriter&&) noexcept = default;
KdrStreamWriter::~KdrStreamWriter() {
  // Released unfinished: only close; the placeholder header makes readers refuse it.
  if (file_) {
    (void)payloads_->flush();
    (void)file_->close();
  }
}

Result<KdrStreamWriter> KdrStreamWriter::create(const std::filesystem::path& path) {
  auto sink = create_file_for_writing(path);
  if (!sink) return std::unexpected(DatError(sink.error()));
  return create(std::move(*sink));
}

Result<KdrStreamWriter> KdrStreamWriter::create(std::unique_ptr<ByteSink> sink) {
  KdrHeader placeholder;  // magic, version 2, every count and offset 0
  if (auto w = sink->write_all(encode_header(placeholder)); !w) {
    (void)sink->close();
    return std::unexpected(record_write_error(w.error()));
  }
  auto position = sink->position();
  if (!position) {
    (void)sink->close();
    return std::unexpected(DatError(position.error()));
  }
  KdrStreamWriter writer(std::move(sink));
  writer.position_ = *position;
  return writer;
}

Status KdrStreamWriter::add(std::string_view namespace_label, uint32_t file_id, uint32_t type_id, Bytes data) {
  return write_entry(namespace_label, file_id, type_id, std::move(data), 0);
}

Status KdrStreamWriter::write_entry(std::string_view namespace_label, uint32_t file_id, uint32_t type_id,
                                    Bytes data, uint8_t marker) {
  KDR_ASSIGN_OR_RETURN(ResourceNamespace ns, ResourceNamespace::create(namespace_label));
  // Lengths are uint32 on disk and the index may hold at most KDR_MAX_ENTRIES
  // records; refuse rather than store truncated numbers.
  if (data.size() > UINT32_MAX)
    return std::unexpected(DatError::other(
        fmt::format("resource {}:0x{} is {} bytes; an archive entry must be smaller than 4 GiB", namespace_label,
                    hex_id(file_id), data.size())));
  if (entries_.size() >= KDR_MAX_ENTRIES)
    return std::unexpected(DatError::other(fmt::format(
        "cannot add {}:0x{}: an archive holds at most {} entries", namespace_label, hex_id(file_id), KDR_MAX_ENTRIES)));
  if (marker > 0x3F)
    return std::unexpected(DatError::other(fmt::format("entry marker {} does not fit in 6 bits", marker)));
  if (!seen_.insert(Key{ns, file_id}).second)
    return std::unexpected(DatError(DatError::DuplicateNamespacedId{std::string(namespace_label), file_id}));

  uint8_t flags = static_cast<uint8_t>(marker << 2);
  ByteView payload = data;
  if (compress) {
    auto frame = zstd_->encode(data);
    if (!frame) {
      archive_logger()->warn("Compression failed for {}:0x{}: {}", namespace_label, hex_id(file_id), frame.error());
    } else if (frame->size() < data.size()) {
      payload = *frame;
      flags |= FLAG_ZSTD;
    }
  }

  const uint64_t offset = position_;
  if (auto w = payloads_->write_all(payload); !w) {
    // Whatever part reached the file stays there unreferenced; later
    // payloads go after it.
    (void)payloads_->flush();
    if (auto at = file_->position()) position_ = *at;
    return std::unexpected(DatError(w.error()));
  }
  position_ += payload.size();

  KdrEntry e;
  e.namespace_ = ns.bytes();
  e.file_id = file_id;
  e.type_id = type_id;
  e.offset = offset;
  e.size = static_cast<uint32_t>(data.size());
  e.comp_size = static_cast<uint32_t>(payload.size());
  e.flags = flags;
  entries_.push_back(e);
  return {};
}

Status KdrStreamWriter::finish() && {
  // Whatever happens below, the writer is gone afterwards.
  std::unique_ptr<BufferedSink> payloads = std::move(payloads_);
  std::unique_ptr<ByteSink> file = std::move(file_);
  std::vector<KdrEntry> entries = std::move(entries_);
  seen_.clear();
  zstd_.reset();

  auto result = [&]() -> Status {
    std::stable_sort(entries.begin(), entries.end(), [](const KdrEntry& a, const KdrEntry& b) {
      int c = std::memcmp(a.namespace_.data(), b.namespace_.data(), a.namespace_.size());
      return c != 0 ? c < 0 : a.file_id < b.file_id;
    });

    std::vector<KdrNamespaceIndexEntry> spans;
    for (size_t i = 0; i < entries.size(); ++i) {
      if (spans.empty() || spans.back().namespace_ != entries[i].namespace_)
        spans.push_back({entries[i].namespace_, static_cast<uint32_t>(i), 0});
      ++spans.back().entry_count;
    }

    KDR_TRY(payloads->flush());
    KDR_ASSIGN_OR_RETURN(uint64_t metadata_offset, file->position());
    {
      BufferedSink out(*file, kBlockBuffer);
      std::byte count[4];
      store_le(count, static_cast<uint32_t>(spans.size()));
      if (auto w = out.write_all(count); !w) return std::unexpected(record_write_error(w.error()));
      for (const auto& s : spans)
        if (auto w = out.write_all(encode_namespace_entry(s)); !w) return std::unexpected(record_write_error(w.error()));
      KDR_TRY(out.flush());
    }
    KDR_ASSIGN_OR_RETURN(uint64_t index_offset, file->position());
    {
      BufferedSink out(*file, kBlockBuffer);
      for (const auto& e : entries)
        if (auto w = out.write_all(encode_entry(e)); !w) return std::unexpected(record_write_error(w.error()));
      KDR_TRY(out.flush());
    }

    KdrHeader header;
    header.entry_count = static_cast<uint32_t>(entries.size());
    header.index_offset = index_offset;
    header.metadata_size = static_cast<uint32_t>(index_offset - metadata_offset);
    KDR_TRY(file->seek(0));
    if (auto w = file->write_all(encode_header(header)); !w) return std::unexpected(record_write_error(w.error()));
    KDR_TRY(file->close());
    return {};
  }();
  if (!result) (void)file->close();
  return result;
}

}  // namespace kdr
