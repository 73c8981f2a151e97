#include "kelvadorin/dat/archive/writer.hpp"

#include <gtest/gtest.h>

#include <random>

#include "kelvadorin/dat/archive/reader.hpp"
#include "kelvadorin/testing/archive_builder.hpp"
#include "kelvadorin/testing/byte_writer.hpp"
#include "kelvadorin/testing/fault_sink.hpp"
#include "kelvadorin/testing/temp_dir.hpp"

namespace kdr {
namespace {

using testing::build_archive;
using testing::open_archive_bytes;
using testing::Resource;

std::vector<KdrEntry> index_of(const Bytes& archive) {
  auto reader = open_archive_bytes(archive);
  EXPECT_TRUE(reader) << reader.error().display();
  std::vector<KdrEntry> out;
  auto it = reader->entries();
  while (auto e = it.next()) {
    if (!*e) break;
    out.push_back(**e);
  }
  return out;
}

Bytes random_bytes(size_t n) {
  std::mt19937 rng(7);
  Bytes out(n);
  for (auto& b : out) b = static_cast<std::byte>(rng());
  return out;
}

TEST(KdrStreamWriterTest, FinishRightAfterCreateIsTheEmptyArchive) {
  Bytes archive = build_archive({});
  EXPECT_EQ(archive, testing::ByteWriter()
                         .text(std::string_view("KDR\0", 4))
                         .u32(2)
                         .u32(0)
                         .u64(28)
                         .u32(4)
                         .u32(0)
                         .take());
  auto reader = open_archive_bytes(archive);
  ASSERT_TRUE(reader);
  EXPECT_TRUE(reader->namespaces().empty());
}

TEST(KdrStreamWriterTest, SortsIndexAndBuildsOneSpanPerNamespace) {
  Bytes archive = build_archive({{"vuz/portal", 0x0A000001, 1, to_bytes("a")},
                                 {"vuz/cell", 0x09000001, 2, to_bytes("b")},
                                 {"vuz/portal", 0x01000001, 3, to_bytes("c")}});
  auto reader = open_archive_bytes(archive);
  ASSERT_TRUE(reader);
  ASSERT_EQ(reader->namespaces().size(), 2u);
  EXPECT_EQ(reader->namespaces()[0].namespace_label(), "vuz/cell");
  EXPECT_EQ(reader->namespaces()[0].start_index, 0u);
  EXPECT_EQ(reader->namespaces()[0].entry_count, 1u);
  EXPECT_EQ(reader->namespaces()[1].namespace_label(), "vuz/portal");
  EXPECT_EQ(reader->namespaces()[1].start_index, 1u);
  EXPECT_EQ(reader->namespaces()[1].entry_count, 2u);
  EXPECT_EQ(reader->header().metadata_size, 4u + 2 * 40);
  auto index = index_of(archive);
  ASSERT_EQ(index.size(), 3u);
  EXPECT_EQ(index[0].file_id, 0x09000001u);
  EXPECT_EQ(index[1].file_id, 0x01000001u);
  EXPECT_EQ(index[2].file_id, 0x0A000001u);
  // Payloads stay in the order they were added.
  EXPECT_EQ(index[2].offset, 24u);
  EXPECT_LT(index[0].offset, index[1].offset);
}

TEST(KdrStreamWriterTest, CompressesOnlyWhenStrictlyShorter) {
  struct Case {
    const char* what;
    Bytes data;
    bool compress;
    bool zstd;
  } cases[] = {
      {"empty", {}, true, false},
      {"zeros", Bytes(4096), true, true},
      {"random", random_bytes(16), true, false},
      {"zeros, compression off", Bytes(4096), false, false},
  };
  for (const auto& c : cases) {
    Bytes archive = build_archive({{"kelvadorin/core", 0x4D4F544B, 0xFFFFFF01, c.data}}, c.compress);
    auto index = index_of(archive);
    ASSERT_EQ(index.size(), 1u) << c.what;
    EXPECT_EQ(index[0].is_zstd(), c.zstd) << c.what;
    EXPECT_EQ(index[0].size, c.data.size()) << c.what;
    if (c.zstd)
      EXPECT_LT(index[0].comp_size, index[0].size) << c.what;
    else
      EXPECT_EQ(index[0].comp_size, index[0].size) << c.what;
    EXPECT_EQ(index[0].flags & ~FLAG_ZSTD, 0) << c.what;
    auto reader = open_archive_bytes(archive);
    EXPECT_EQ(*reader->get_file_in_namespace("kelvadorin/core", 0x4D4F544B), c.data) << c.what;
  }
}

TEST(KdrStreamWriterTest, RefusesDuplicatesAndBadNamespacesBeforeWriting) {
  Bytes out;
  auto w = KdrStreamWriter::create(std::make_unique<testing::ScriptedSink>(out));
  ASSERT_TRUE(w);
  ASSERT_TRUE(w->add("vuz/portal", 0x01000001, 0, to_bytes("first")));
  size_t size_after_first = out.size();
  auto dup = w->add("vuz/portal", 0x01000001, 0, to_bytes("second"));
  ASSERT_FALSE(dup);
  EXPECT_EQ(dup.error().display(), "Duplicate namespaced file vuz/portal:01000001 detected");
  const std::string too_long(33, 'n');
  for (std::string_view bad : {std::string_view(""), std::string_view(too_long)}) {
    auto r = w->add(bad, 1, 0, to_bytes("x"));
    ASSERT_FALSE(r);
    EXPECT_TRUE(r.error().is<DatError::InvalidNamespace>());
  }
  EXPECT_EQ(out.size(), size_after_first);
  ASSERT_TRUE(w->add("vuz/cell", 0x01000001, 0, to_bytes("same id, other namespace")));
  ASSERT_TRUE(std::move(*w).finish());
  auto reader = open_archive_bytes(out);
  EXPECT_EQ(*reader->get_file_in_namespace("vuz/portal", 0x01000001), to_bytes("first"));
}

TEST(KdrStreamWriterTest, MarkerLandsInFlagBitsTwoToSeven) {
  Bytes out;
  auto w = KdrStreamWriter::create(std::make_unique<testing::ScriptedSink>(out));
  ASSERT_TRUE(w->write_entry("vuz/portal", 1, 0, Bytes(4096), 5));
  EXPECT_FALSE(w->write_entry("vuz/portal", 2, 0, Bytes(1), 64));
  ASSERT_TRUE(std::move(*w).finish());
  auto index = index_of(out);
  ASSERT_EQ(index.size(), 1u);
  EXPECT_EQ(index[0].flags, (5 << 2) | FLAG_ZSTD);
}

TEST(KdrStreamWriterTest, UnfinishedArchiveIsRefusedByTheReader) {
  Bytes out;
  {
    auto w = KdrStreamWriter::create(std::make_unique<testing::ScriptedSink>(out));
    ASSERT_TRUE(w->add("vuz/portal", 1, 0, to_bytes("payload")));
  }
  auto reader = open_archive_bytes(out);
  ASSERT_FALSE(reader);
  EXPECT_EQ(reader.error().display(), "Corruption detected: KDR metadata offset 0 is within header area");
}

testing::SinkFaults accept(uint64_t n) {
  testing::SinkFaults f;
  f.accept_bytes = n;
  return f;
}
testing::SinkFaults bad_position() {
  testing::SinkFaults f;
  f.fail_position = true;
  return f;
}
testing::SinkFaults bad_seek() {
  testing::SinkFaults f;
  f.fail_seek = true;
  return f;
}

TEST(KdrStreamWriterTest, SinkFailuresBecomeTheirErrorKinds) {
  struct Case {
    const char* what;
    testing::SinkFaults faults;
    bool fail_in_create;
    bool fail_in_add;
    size_t kind;  // DatError variant index
    size_t payload = 5;
  } cases[] = {
      {"header write", accept(10), true, false, 1},
      {"position query", bad_position(), true, false, 0},
      // Small payloads are written in blocks: the failure shows when the block goes out.
      {"buffered payload write", accept(26), false, false, 0},
      {"large payload write", accept(1000), false, true, 0, 200000},
      {"metadata flush", accept(24 + 5), false, false, 0},
      {"final header seek", bad_seek(), false, false, 0},
  };
  for (const auto& c : cases) {
    Bytes out;
    auto w = KdrStreamWriter::create(std::make_unique<testing::ScriptedSink>(out, c.faults));
    if (c.fail_in_create) {
      ASSERT_FALSE(w) << c.what;
      EXPECT_EQ(w.error().kind_index(), c.kind) << c.what;
      continue;
    }
    ASSERT_TRUE(w) << c.what;
    w->compress = false;
    auto added = w->add("vuz/portal", 1, 0, Bytes(c.payload, std::byte{'h'}));
    if (c.fail_in_add) {
      ASSERT_FALSE(added) << c.what;
      EXPECT_EQ(added.error().kind_index(), c.kind) << c.what;
      // The key stays taken even though its payload never landed.
      EXPECT_TRUE(w->add("vuz/portal", 1, 0, to_bytes("again")).error().is<DatError::DuplicateNamespacedId>());
      continue;
    }
    ASSERT_TRUE(added) << c.what;
    auto done = std::move(*w).finish();
    ASSERT_FALSE(done) << c.what;
    EXPECT_EQ(done.error().kind_index(), c.kind) << c.what;
  }
}

TEST(KdrStreamWriterTest, FullDeviceFailsInsteadOfClaimingSuccess) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
  auto w = KdrStreamWriter::create("/dev/full");
  ASSERT_FALSE(w);
  EXPECT_EQ(w.error().display(), "Binary read error: No space left on device (os error 28)");
}

TEST(KdrStreamWriterTest, FileOnDiskRoundTrips) {
  testing::TempDir dir;
  auto w = KdrStreamWriter::create(dir / "a.kdr");
  ASSERT_TRUE(w);
  ASSERT_TRUE(w->add("kelvadorin/core", 0x4D4F544B, 0xFFFFFF01, to_bytes("asset")));
  ASSERT_TRUE(std::move(*w).finish());
  auto reader = KdrReader::open(dir / "a.kdr");
  ASSERT_TRUE(reader);
  auto e = reader->find_entry_in_namespace("kelvadorin/core", 0x4D4F544B);
  ASSERT_TRUE(e);
  EXPECT_EQ(e->type_id, 0xFFFFFF01u);
  EXPECT_EQ(*reader->read_entry_data(*e), to_bytes("asset"));
}

}  // namespace
}  // namespace kdr
