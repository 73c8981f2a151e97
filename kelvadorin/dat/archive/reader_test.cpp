#include "kelvadorin/dat/archive/reader.hpp"

#include <gtest/gtest.h>

#include <zstd.h>

#include "kelvadorin/testing/archive_builder.hpp"
#include "kelvadorin/testing/byte_writer.hpp"
#include "kelvadorin/testing/temp_dir.hpp"

namespace kdr {
namespace {

using testing::build_archive;
using testing::open_archive_bytes;
using testing::Resource;

std::string open_error(const Bytes& archive) {
  auto r = open_archive_bytes(archive);
  return r ? "opened" : r.error().display();
}

template <FixedWidth T>
Bytes patched(Bytes b, size_t at, T value) {
  store_le(b.data() + at, value);
  return b;
}

// A good archive with two namespaces: vuz/cell (1 entry) and vuz/portal (2).
Bytes two_namespaces() {
  return build_archive({{"vuz/portal", 0x01000001, 1, Bytes(64, std::byte{7})},
                        {"vuz/portal", 0x02000001, 2, to_bytes("raw")},
                        {"vuz/cell", 0xA9B4FFFE, 3, to_bytes("cell")}});
}

struct Layout {
  uint64_t index_offset;
  uint32_t metadata_size;
  uint64_t metadata_offset() const { return index_offset - metadata_size; }
};
Layout layout_of(const Bytes& a) { return {load_le<uint64_t>(a.data() + 12), load_le<uint32_t>(a.data() + 20)}; }

TEST(KdrReaderTest, OpenReportsEachCorruptionWithItsMessage) {
  const Bytes good = two_namespaces();
  const Layout l = layout_of(good);
  const size_t file_len = good.size();
  const size_t md = l.metadata_offset();
  Bytes empty = build_archive({});
  Bytes one = build_archive({{"kelvadorin/core", 0x4D4F544B, 0xFFFFFF01, to_bytes("x")}});

  Bytes bad_magic = good;
  bad_magic[0] = std::byte{'X'};
  Bytes unsorted = good;  // second span's namespace equal to the first's
  std::copy_n(good.begin() + static_cast<ptrdiff_t>(md + 4), 32, unsorted.begin() + static_cast<ptrdiff_t>(md + 44));
  Bytes bad_label = good;
  bad_label[md + 4] = std::byte{0xFF};

  struct Case {
    const char* what;
    Bytes archive;
    std::string error;
  } cases[] = {
      {"ten bytes", Bytes(10), "IO error: failed to fill whole buffer"},
      {"bad magic", bad_magic, "Invalid magic for format: KDR"},
      {"version 1", patched<uint32_t>(good, 4, 1), "Unsupported version: 1"},
      {"entry count overflow", patched<uint32_t>(empty, 8, 71'582'789), "Corruption detected: KDR index size overflow"},
      {"largest entry count passes the overflow check", patched<uint32_t>(empty, 8, 71'582'788),
       fmt::format("Corruption detected: KDR index extends beyond file size ({} > 28)", 28 + 71'582'788ull * 60)},
      {"index range overflow", patched<uint64_t>(one, 12, UINT64_MAX - 10), "Corruption detected: KDR index range overflow"},
      {"index one byte past the end", patched<uint64_t>(good, 12, l.index_offset + 1),
       fmt::format("Corruption detected: KDR index extends beyond file size ({} > {})", file_len + 1, file_len)},
      {"metadata larger than index offset", patched<uint32_t>(good, 20, static_cast<uint32_t>(l.index_offset + 1)),
       "Corruption detected: KDR metadata offset underflow"},
      {"metadata inside header", patched<uint32_t>(good, 20, static_cast<uint32_t>(l.index_offset - 10)),
       fmt::format("Corruption detected: KDR metadata offset 10 is within header area")},
      {"entries without metadata", patched<uint32_t>(good, 20, 0),
       "Corruption detected: KDR v2 archives with entries must include namespace metadata"},
      {"metadata size 2", patched<uint64_t>(patched<uint32_t>(empty, 20, 2), 12, 28),
       "Binary read error: failed to fill whole buffer"},
      {"metadata size 48 with one record",
       // The 4-byte payload in front of the metadata reads as a count of 1.
       patched<uint32_t>(build_archive({{"kelvadorin/core", 1, 0, testing::bytes_of({1, 0, 0, 0})}}), 20, 48),
       "Corruption detected: KDR metadata size mismatch: header says 48, metadata contents require 44"},
      {"invalid label", bad_label,
       "Invalid namespace: namespace bytes are not valid UTF-8: invalid utf-8 sequence of 1 bytes from index 0"},
      {"duplicate namespaces", unsorted, "Corruption detected: KDR namespace metadata is not strictly sorted"},
      {"first span starts at 1", patched<uint32_t>(good, md + 4 + 32, 1),
       "Corruption detected: KDR namespace metadata is not contiguous: expected start 0, found 1"},
      {"span overflow", patched<uint32_t>(patched<uint32_t>(good, md + 4 + 36, 1), md + 44 + 36, UINT32_MAX),
       "Corruption detected: KDR namespace span overflow"},
      {"span past the entry count", patched<uint32_t>(good, md + 44 + 36, 3),
       "Corruption detected: KDR namespace span exceeds total entry count (4 > 3)"},
      {"spans cover too few", patched<uint32_t>(good, md + 44 + 36, 1),
       "Corruption detected: KDR namespace metadata covered 2 entries but header declares 3"},
      {"no spans but entries",
       patched<uint32_t>(patched<uint32_t>(patched<uint64_t>(empty, 12, 28), 20, 4), 8, 0) /* still fine */, "opened"},
  };
  for (const auto& c : cases) EXPECT_EQ(open_error(c.archive), c.error) << c.what;
}

TEST(KdrReaderTest, AcceptsEmptyArchiveWithoutMetadataAndTrailingBytes) {
  Bytes no_metadata = testing::ByteWriter().text(std::string_view("KDR\0", 4)).u32(2).u32(0).u64(24).u32(0).take();
  EXPECT_EQ(open_error(no_metadata), "opened");
  Bytes trailing = two_namespaces();
  trailing.resize(trailing.size() + 100);
  auto r = open_archive_bytes(trailing);
  ASSERT_TRUE(r);
  EXPECT_EQ(*r->get_file_in_namespace("vuz/cell", 0xA9B4FFFE), to_bytes("cell"));
}

TEST(KdrReaderTest, MissingFileIsAPathError) {
  auto r = KdrReader::open("/nonexistent/archive.kdr");
  ASSERT_FALSE(r);
  EXPECT_TRUE(r.error().is<DatError::PathError>());
  EXPECT_TRUE(r.error().display().starts_with("Failed to open file at /nonexistent/archive.kdr: "));
}

TEST(KdrReaderTest, LookupsNeverCrossNamespaces) {
  auto r = open_archive_bytes(two_namespaces());
  ASSERT_TRUE(r);
  EXPECT_TRUE(r->find_entry_in_namespace("vuz/cell", 0x01000001).error().is<DatError::NotFound>());
  EXPECT_TRUE(r->find_entry_in_namespace("kelvadorin/core", 0x01000001).error().is<DatError::NotFound>());
  EXPECT_EQ(r->find_entry_in_namespace("", 1).error().display(), "Invalid namespace: namespace label cannot be empty");
  EXPECT_EQ(r->find_entry_in_namespace("vuz/portal", 0x02000001)->type_id, 2u);
  auto empty = open_archive_bytes(build_archive({}));
  EXPECT_EQ(empty->find_entry_in_namespace("vuz/portal", 5).error().display(), "File ID 00000005 not found in provider");
}

TEST(KdrReaderTest, BinarySearchFindsEveryIdInRunsOfEveryLength) {
  for (uint32_t run : {1u, 2u, 3u, 1000u}) {
    std::vector<Resource> res;
    // Ids 10, 20, 30, ... with a neighbour namespace on each side.
    res.push_back({"a/before", 15, 0, to_bytes("b")});
    res.push_back({"z/after", 15, 0, to_bytes("a")});
    for (uint32_t i = 1; i <= run; ++i) res.push_back({"m/run", i * 10, i, to_bytes(std::to_string(i))});
    auto r = open_archive_bytes(build_archive(res));
    ASSERT_TRUE(r);
    for (uint32_t i = 1; i <= run; ++i) {
      auto e = r->find_entry_in_namespace("m/run", i * 10);
      ASSERT_TRUE(e) << run << " " << i;
      EXPECT_EQ(e->type_id, i);
      EXPECT_TRUE(r->find_entry_in_namespace("m/run", i * 10 + 5).error().is<DatError::NotFound>()) << run << " " << i;
    }
    for (uint32_t absent : {0u, 5u, 15u, run * 10 + 1, UINT32_MAX})
      if (absent % 10 != 0 || absent == 0) {
        EXPECT_TRUE(r->find_entry_in_namespace("m/run", absent).error().is<DatError::NotFound>()) << run << " " << absent;
      }
  }
}

TEST(KdrReaderTest, ReadChecksRangesAndDecodedSizes) {
  const Bytes good = two_namespaces();
  auto base = open_archive_bytes(good);
  ASSERT_TRUE(base);
  auto compressed = *base->find_entry_in_namespace("vuz/portal", 0x01000001);
  ASSERT_TRUE(compressed.is_zstd());

  KdrEntry out_of_range = compressed;
  out_of_range.offset = good.size() - 2;
  KdrEntry overflow = compressed;
  overflow.offset = UINT64_MAX;
  KdrEntry garbage = compressed;
  Bytes zeroed = good;
  std::fill_n(zeroed.begin() + static_cast<ptrdiff_t>(compressed.offset), 4, std::byte{0});
  KdrEntry too_small = compressed;
  too_small.size = 63;
  KdrEntry too_large = compressed;
  too_large.size = 65;

  EXPECT_EQ(base->read_entry_data(out_of_range).error().display(),
            fmt::format("Corruption detected: Entry range out of bounds for 0x01000001: offset {} + comp_size {} > "
                        "file_len {}",
                        good.size() - 2, compressed.comp_size, good.size()));
  EXPECT_EQ(base->read_entry_data(overflow).error().display(),
            fmt::format("Corruption detected: Entry offset overflow for 0x01000001: offset {} + comp_size {}",
                        UINT64_MAX, compressed.comp_size));
  EXPECT_EQ(open_archive_bytes(zeroed)->read_entry_data(garbage).error().display(),
            "Failed to recover compressed file 01000001");
  // The frame states 64 bytes: a smaller capacity cannot hold it.
  EXPECT_EQ(base->read_entry_data(too_small).error().display(), "Failed to recover compressed file 01000001");
  EXPECT_EQ(base->read_entry_data(too_large).error().display(),
            "Corruption detected: Decompressed size mismatch for 0x01000001: expected 65, got 64");
}

TEST(KdrReaderTest, DecompressHonoursCapacityForFramesWithoutContentSize) {
  Bytes data(1000, std::byte{3});
  ZSTD_CCtx* cctx = ZSTD_createCCtx();
  ZSTD_CCtx_setParameter(cctx, ZSTD_c_contentSizeFlag, 0);
  Bytes frame(ZSTD_compressBound(data.size()));
  frame.resize(ZSTD_compress2(cctx, frame.data(), frame.size(), data.data(), data.size()));
  ZSTD_freeCCtx(cctx);
  EXPECT_EQ(KdrReader::decompress_zstd(frame, 1000), data);
  EXPECT_FALSE(KdrReader::decompress_zstd(frame, 999));
  EXPECT_FALSE(KdrReader::decompress_zstd(to_bytes("not a frame"), 100));
}

TEST(KdrReaderTest, IteratesEveryRecordInIndexOrderAcrossChunks) {
  std::vector<Resource> res;
  for (uint32_t i = 0; i < 9000; ++i) res.push_back({i % 2 ? "vuz/portal" : "vuz/cell", 9000 - i, 0, {}});
  auto r = open_archive_bytes(build_archive(res));
  ASSERT_TRUE(r);
  auto it = r->entries();
  uint32_t n = 0;
  std::string last_ns;
  uint32_t last_id = 0;
  while (true) {
    auto e = it.next();
    ASSERT_TRUE(e);
    if (!*e) break;
    std::string ns((*e)->namespace_label());
    if (ns == last_ns) {
      EXPECT_GT((*e)->file_id, last_id);
    }
    last_ns = ns;
    last_id = (*e)->file_id;
    ++n;
  }
  EXPECT_EQ(n, 9000u);
}

}  // namespace
}  // namespace kdr
