#include "kelvadorin/dat/archive/reader.hpp"

#include <zstd.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace kdr {

namespace {

constexpr uint64_t kIterChunkRecords = 4096;

DatError corrupt(std::string description) { return DatError::corruption(std::move(description)); }

// Validates the namespace metadata block; see the open checks below.
Result<std::vector<KdrNamespaceIndexEntry>> read_namespace_spans(const ByteSource& source, uint64_t metadata_offset,
                                                                 uint32_t metadata_size, uint32_t entry_count) {
  std::vector<KdrNamespaceIndexEntry> spans;
  if (metadata_size == 0) return spans;
  Bytes block(metadata_size);
  KDR_TRY(FileExtPolyfill::read_exact_at_compat(source, block, metadata_offset));
  ByteCursor c(block);
  KDR_ASSIGN_OR_RETURN(uint32_t count, c.read<uint32_t>());
  uint64_t required = 4 + KDR_NAMESPACE_ENTRY_SIZE * uint64_t{count};
  if (required != metadata_size)
    return std::unexpected(corrupt(fmt::format(
        "KDR metadata size mismatch: header says {}, metadata contents require {}", metadata_size, required)));
  spans.reserve(count);
  uint32_t expected = 0;
  for (uint32_t i = 0; i < count; ++i) {
    KDR_ASSIGN_OR_RETURN(KdrNamespaceIndexEntry e, decode<KdrNamespaceIndexEntry>(c));
    KDR_TRY(ResourceNamespace::from_bytes(e.namespace_));
    if (!spans.empty() && std::memcmp(spans.back().namespace_.data(), e.namespace_.data(), 32) >= 0)
      return std::unexpected(corrupt("KDR namespace metadata is not strictly sorted"));
    if (e.start_index != expected)
      return std::unexpected(corrupt(fmt::format(
          "KDR namespace metadata is not contiguous: expected start {}, found {}", expected, e.start_index)));
    uint32_t end = 0;
    if (__builtin_add_overflow(e.start_index, e.entry_count, &end))
      return std::unexpected(corrupt("KDR namespace span overflow"));
    if (end > entry_count)
      return std::unexpected(
          corrupt(fmt::format("KDR namespace span exceeds total entry count ({} > {})", end, entry_count)));
    spans.push_back(e);
    expected = end;
  }
  if (expected != entry_count)
    return std::unexpected(corrupt(
        fmt::format("KDR namespace metadata covered {} entries but header declares {}", expected, entry_count)));
  return spans;
}

}  // namespace

Result<KdrReader> KdrReader::open(const std::filesystem::path& path) {
  auto source = open_file_for_reading(path);
  if (!source) return std::unexpected(DatError(DatError::PathError{path, source.error()}));
  return from_source(std::move(*source));
}

Result<KdrReader> KdrReader::from_source(std::unique_ptr<ByteSource> source) {
  std::array<std::byte, KDR_HEADER_SIZE> raw{};
  KDR_TRY(FileExtPolyfill::read_exact_at_compat(*source, raw, 0));
  ByteCursor c(raw);
  KDR_ASSIGN_OR_RETURN(KdrHeader h, decode<KdrHeader>(c));
  if (h.magic != KDR_MAGIC) return std::unexpected(DatError(DatError::InvalidMagic{"KDR"}));
  if (h.version != KDR_VERSION) return std::unexpected(DatError(DatError::UnsupportedVersion{h.version}));
  KDR_ASSIGN_OR_RETURN(uint64_t file_length, FileExtPolyfill::len_compat(*source));

  uint32_t index_size = 0;
  if (__builtin_mul_overflow(h.entry_count, static_cast<uint32_t>(KDR_ENTRY_SIZE), &index_size))
    return std::unexpected(corrupt("KDR index size overflow"));
  uint64_t index_end = 0;
  if (__builtin_add_overflow(h.index_offset, uint64_t{index_size}, &index_end))
    return std::unexpected(corrupt("KDR index range overflow"));
  if (index_end > file_length)
    return std::unexpected(
        corrupt(fmt::format("KDR index extends beyond file size ({} > {})", index_end, file_length)));
  if (h.metadata_size > h.index_offset) return std::unexpected(corrupt("KDR metadata offset underflow"));
  uint64_t metadata_offset = h.index_offset - h.metadata_size;
  if (metadata_offset < KDR_HEADER_SIZE)
    return std::unexpected(corrupt(fmt::format("KDR metadata offset {} is within header area", metadata_offset)));
  if (h.entry_count != 0 && h.metadata_size == 0)
    return std::unexpected(corrupt("KDR v2 archives with entries must include namespace metadata"));
  KDR_ASSIGN_OR_RETURN(auto spans, read_namespace_spans(*source, metadata_offset, h.metadata_size, h.entry_count));

  KdrReader reader;
  reader.header_ = h;
  reader.spans_ = std::move(spans);
  reader.file_length_ = file_length;
  reader.source_ = std::move(source);
  return reader;
}

Result<KdrEntry> KdrReader::read_index_record(uint64_t index) const {
  std::array<std::byte, KDR_ENTRY_SIZE> raw{};
  KDR_TRY(FileExtPolyfill::read_exact_at_compat(*source_, raw, header_.index_offset + KDR_ENTRY_SIZE * index));
  ByteCursor c(raw);
  KDR_ASSIGN_OR_RETURN(KdrEntry e, decode<KdrEntry>(c));
  return e;
}

Result<KdrEntry> KdrReader::find_entry_in_namespace(std::string_view namespace_label, uint32_t file_id) const {
  KDR_ASSIGN_OR_RETURN(ResourceNamespace ns, ResourceNamespace::create(namespace_label));
  auto it = std::lower_bound(spans_.begin(), spans_.end(), ns.bytes(),
                             [](const KdrNamespaceIndexEntry& s, const ResourceNamespace::Array& want) {
                               return std::memcmp(s.namespace_.data(), want.data(), want.size()) < 0;
                             });
  const DatError not_found = DatError::NotFound{file_id};
  if (it == spans_.end() || it->namespace_ != ns.bytes() || it->entry_count == 0) return std::unexpected(not_found);
  uint32_t lo = it->start_index;
  uint32_t hi = 0;
  if (__builtin_add_overflow(it->start_index, it->entry_count - 1, &hi)) return std::unexpected(not_found);
  while (true) {
    uint32_t mid = lo + (hi - lo) / 2;
    KDR_ASSIGN_OR_RETURN(KdrEntry e, read_index_record(mid));
    if (e.file_id == file_id) return e;
    if (e.file_id < file_id) {
      lo = mid + 1;
    } else {
      if (mid == lo) return std::unexpected(not_found);
      hi = mid - 1;
    }
    if (hi < lo) return std::unexpected(not_found);
  }
}

Result<Bytes> KdrReader::get_file_in_namespace(std::string_view namespace_label, uint32_t file_id) const {
  KDR_ASSIGN_OR_RETURN(KdrEntry e, find_entry_in_namespace(namespace_label, file_id));
  return read_entry_data(e);
}

Result<Bytes> KdrReader::read_entry_data(const KdrEntry& e) const {
  uint64_t end = 0;
  if (__builtin_add_overflow(e.offset, uint64_t{e.comp_size}, &end))
    return std::unexpected(corrupt(fmt::format("Entry offset overflow for 0x{}: offset {} + comp_size {}",
                                               hex_id(e.file_id), e.offset, e.comp_size)));
  if (end > file_length_)
    return std::unexpected(corrupt(fmt::format("Entry range out of bounds for 0x{}: offset {} + comp_size {} > file_len {}",
                                               hex_id(e.file_id), e.offset, e.comp_size, file_length_)));
  Bytes payload(e.comp_size);
  KDR_TRY(FileExtPolyfill::read_exact_at_compat(*source_, payload, e.offset));
  if (!e.is_zstd()) return payload;
  auto decoded = decompress_zstd(payload, e.size);
  if (!decoded) return std::unexpected(DatError(DatError::DecompressionFailed{e.file_id}));
  if (decoded->size() != e.size)
    return std::unexpected(corrupt(fmt::format("Decompressed size mismatch for 0x{}: expected {}, got {}",
                                               hex_id(e.file_id), e.size, decoded->size())));
  return std::move(*decoded);
}

std::optional<Bytes> KdrReader::decompress_zstd(ByteView payload, size_t capacity) {
  // A frame that states its content size gets a buffer of exactly that size
  // (failing at once when it exceeds `capacity`). One that does not is decoded
  // in steps into a buffer that grows with the real output, so a corrupt
  // `size` alone never sizes an allocation.
  unsigned long long stated = ZSTD_getFrameContentSize(payload.data(), payload.size());
  if (stated == ZSTD_CONTENTSIZE_ERROR) return std::nullopt;
  try {
    if (stated != ZSTD_CONTENTSIZE_UNKNOWN) {
      if (stated > capacity) return std::nullopt;
      // One context per thread, reused: creating one per payload costs more
      // than decoding a small record. The reader stays usable from several threads.
      thread_local std::unique_ptr<ZSTD_DCtx, size_t (*)(ZSTD_DCtx*)> dctx(ZSTD_createDCtx(), ZSTD_freeDCtx);
      if (!dctx) return std::nullopt;
      Bytes out(static_cast<size_t>(stated));
      size_t n = ZSTD_decompressDCtx(dctx.get(), out.data(), out.size(), payload.data(), payload.size());
      if (ZSTD_isError(n)) return std::nullopt;
      out.resize(n);
      return out;
    }
    std::unique_ptr<ZSTD_DCtx, size_t (*)(ZSTD_DCtx*)> dctx(ZSTD_createDCtx(), ZSTD_freeDCtx);
    if (!dctx) return std::nullopt;
    Bytes out(std::min<size_t>(capacity, std::max<size_t>(payload.size() * 4, 1 << 16)));
    ZSTD_inBuffer in{payload.data(), payload.size(), 0};
    ZSTD_outBuffer dst{out.data(), out.size(), 0};
    while (true) {
      size_t rc = ZSTD_decompressStream(dctx.get(), &dst, &in);
      if (ZSTD_isError(rc)) return std::nullopt;
      if (rc == 0 && in.pos == in.size) break;  // frame complete, input used up
      if (dst.pos < dst.size) {
        if (in.pos == in.size) return std::nullopt;  // truncated frame
        continue;
      }
      if (out.size() >= capacity) {
        // Full at `capacity`: acceptable only if the frame ends without more output.
        std::byte probe[1];
        ZSTD_outBuffer extra{probe, 1, 0};
        size_t end = ZSTD_decompressStream(dctx.get(), &extra, &in);
        if (ZSTD_isError(end) || extra.pos != 0 || end != 0 || in.pos != in.size) return std::nullopt;
        break;
      }
      out.resize(std::min<size_t>(capacity, out.size() * 2));
      dst = ZSTD_outBuffer{out.data(), out.size(), dst.pos};
    }
    out.resize(dst.pos);
    return out;
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
}

Result<std::optional<KdrEntry>> KdrReader::EntryIterator::next() {
  if (next_ >= end_) return std::optional<KdrEntry>{};
  if (next_ < chunk_first_ || next_ >= chunk_first_ + chunk_count_) {
    chunk_first_ = next_;
    chunk_count_ = std::min(kIterChunkRecords, end_ - next_);
    chunk_.resize(static_cast<size_t>(chunk_count_ * KDR_ENTRY_SIZE));
    auto r = FileExtPolyfill::read_exact_at_compat(*reader_->source_, chunk_,
                                                   reader_->header_.index_offset + KDR_ENTRY_SIZE * chunk_first_);
    if (!r) {
      chunk_count_ = 0;
      return std::unexpected(DatError(r.error()));
    }
  }
  ByteCursor c(chunk_, (next_ - chunk_first_) * KDR_ENTRY_SIZE);
  auto e = decode<KdrEntry>(c);
  if (!e) return std::unexpected(DatError(e.error()));
  ++next_;
  return std::optional<KdrEntry>(*e);
}

}  // namespace kdr
