#include "kelvadorin/tools/container_file.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>

#include "kelvadorin/dat/archive/reader.hpp"
#include "kelvadorin/testing/container_writer.hpp"
#include "kelvadorin/testing/run_command.hpp"
#include "kelvadorin/testing/temp_dir.hpp"
#include "kelvadorin/tools/dat2kdr.hpp"

namespace kdr {
namespace {

using testing::ContainerLayout;
using testing::ContainerRecord;

// Bytes that differ at every position, so a misplaced block shows.
Bytes pattern(size_t n, uint32_t seed) {
  Bytes out(n);
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<std::byte>((i * 131 + seed * 7 + (i >> 8)) & 0xFF);
  return out;
}

std::vector<ContainerRecord> numbered(size_t count, uint32_t base, size_t size) {
  std::vector<ContainerRecord> out;
  for (size_t i = 0; i < count; ++i)
    out.push_back({base + static_cast<uint32_t>(i) * 3, pattern(size + i % 7, static_cast<uint32_t>(i))});
  return out;
}

ToolResult<std::unique_ptr<ContainerFile>> open_bytes(Bytes bytes) {
  return ContainerFile::open(std::make_unique<MemorySource>(std::move(bytes)), "mem.dat");
}

void write_bytes(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

uint32_t get32(const Bytes& b, uint64_t at) { return load_le<uint32_t>(b.data() + at); }
void put32(Bytes& b, uint64_t at, uint32_t v) { store_le<uint32_t>(b.data() + at, v); }

// Offsets inside a node stored in a single block at `node`.
uint64_t child_at(uint32_t node, size_t i) { return node + 4 + 4 * i; }
uint64_t count_at(uint32_t node) { return node + 4 + 4 * CONTAINER_NODE_CHILDREN; }
uint64_t entry_at(uint32_t node, size_t i) { return count_at(node) + 4 + CONTAINER_ENTRY_SIZE * i; }

TEST(ContainerFileTest, RoundTripsThroughTheWriter) {
  struct Case {
    const char* name;
    ContainerLayout layout;
    std::vector<ContainerRecord> records;
  } cases[] = {
      {"one leaf", {}, {{0x02000001, pattern(10, 1)}, {0x01000005, pattern(3000, 2)}, {0x0E00000E, pattern(1, 3)}}},
      {"empty directory", {}, {}},
      {"inner nodes at full fill", {.block_size = 256}, numbered(200, 0x01000000, 40)},
      {"three levels with a small fill", {.block_size = 64, .node_entries = 2, .backward_chains = true},
       numbered(40, 0x02000010, 5)},
      {"record sizes around one block",
       {.block_size = 64},
       {{1, {}}, {2, pattern(60, 2)}, {3, pattern(61, 3)}, {4, pattern(59, 4)}, {5, pattern(120, 5)}}},
      {"many blocks forwards", {.block_size = 64}, {{0x0300DEAD, pattern(100000, 9)}, {0x0300DEAE, {}}}},
      {"many blocks backwards",
       {.block_size = 8, .backward_chains = true},
       {{0x0300DEAD, pattern(5000, 9)}, {0x0300DEAE, pattern(4, 1)}}},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto file = open_bytes(testing::build_container(c.records, c.layout));
    ASSERT_TRUE(file) << file.error().display();
    std::sort(c.records.begin(), c.records.end(),
              [](const ContainerRecord& a, const ContainerRecord& b) { return a.first < b.first; });
    const auto& infos = (*file)->records();
    ASSERT_EQ(infos.size(), c.records.size());
    for (size_t i = 0; i < infos.size(); ++i) {
      EXPECT_EQ(infos[i].file_id, c.records[i].first);
      EXPECT_EQ(infos[i].size, c.records[i].second.size());
      EXPECT_EQ((*file)->entries()[i].kind(), c.records[i].first >> 24);
      auto bytes = (*file)->read(i);
      ASSERT_TRUE(bytes) << bytes.error().display();
      EXPECT_EQ(*bytes, c.records[i].second) << hex_id(infos[i].file_id);
      auto found = (*file)->find(c.records[i].first);
      ASSERT_TRUE(found);
      EXPECT_EQ(*found, c.records[i].second);
    }
    auto missing = (*file)->find(0xFFFFFFF0);
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().display(), "cannot read record 0xFFFFFFF0: File ID FFFFFFF0 not found in provider");
  }
}

TEST(ContainerFileTest, FollowsAChainThatLeavesItsRunAndComesBack) {
  const uint32_t bs = 64;
  const Bytes data = pattern(1000, 5);  // 17 blocks, laid out one after another
  for (uint32_t moved : {1u, 2u, 9u, 16u}) {
    SCOPED_TRACE(moved);
    Bytes bytes = testing::build_container({{0x0A000001, data}}, {.block_size = bs});
    uint32_t first = 0x180;  // the first multiple of 64 past the header
    uint32_t from = first + moved * bs;
    auto to = static_cast<uint32_t>(bytes.size());
    // Move one block to the end of the file and leave garbage where it was.
    bytes.insert(bytes.end(), bytes.begin() + from, bytes.begin() + from + bs);
    put32(bytes, from - bs, to);
    std::fill(bytes.begin() + from, bytes.begin() + from + bs, std::byte{0xEE});
    put32(bytes, CONTAINER_HEADER_OFFSET + 8, static_cast<uint32_t>(bytes.size()));
    auto file = open_bytes(std::move(bytes));
    ASSERT_TRUE(file) << file.error().display();
    ASSERT_EQ((*file)->entries()[0].offset, first);
    auto read = (*file)->read(0);
    ASSERT_TRUE(read) << read.error().display();
    EXPECT_EQ(*read, data);
  }
}

TEST(ContainerFileTest, WriterIsDeterministicAndBuildsInnerNodesPastOneNode) {
  auto records = numbered(62, 0x01000000, 3);
  Bytes a = testing::build_container(records);
  EXPECT_EQ(a, testing::build_container(records));
  uint32_t root = get32(a, CONTAINER_HEADER_OFFSET + 32);
  EXPECT_NE(get32(a, child_at(root, 0)), 0u) << "62 records need more than one node";
  Bytes leaf = testing::build_container(numbered(61, 0x01000000, 3));
  EXPECT_EQ(get32(leaf, child_at(get32(leaf, CONTAINER_HEADER_OFFSET + 32), 0)), 0u);
}

TEST(ContainerFileTest, OpenRecordInputKnowsContainersByTheirHeader) {
  testing::TempDir dir;
  Bytes container = testing::build_container({{0x02000001, pattern(70, 1)}});
  write_bytes(dir / "portal.txt", container);
  Bytes not_container = container;
  put32(not_container, CONTAINER_HEADER_OFFSET, 0x5443);
  write_bytes(dir / "other.dat", not_container);
  write_bytes(dir / "short.dat", Bytes(CONTAINER_HEADER_OFFSET + 2));

  EXPECT_TRUE(looks_like_container(dir / "portal.txt"));
  EXPECT_FALSE(looks_like_container(dir / "other.dat"));
  EXPECT_FALSE(looks_like_container(dir / "short.dat"));
  EXPECT_FALSE(looks_like_container(dir.path()));
  EXPECT_FALSE(looks_like_container(dir / "absent.dat"));

  auto input = open_record_input(dir / "portal.txt");
  ASSERT_TRUE(input) << input.error().display();
  EXPECT_EQ((*input)->path(), dir / "portal.txt");
  ASSERT_EQ((*input)->records().size(), 1u);
  EXPECT_EQ(*(*input)->read(0), pattern(70, 1));

  auto other = open_record_input(dir / "other.dat");
  ASSERT_FALSE(other);
  EXPECT_EQ(other.error().display(), "cannot open game data file " + (dir / "other.dat").string() +
                                         ": neither a loose record folder nor a container file");
}

TEST(ContainerFileTest, ConvertsToTheSameArchiveAsALooseFolder) {
  testing::TempDir dir;
  std::vector<ContainerRecord> records = {
      {0x0001FFFF, pattern(192, 1)}, {0x0001FFFE, pattern(5000, 2)}, {0x00010100, pattern(0, 3)},
      {0x0002FFFE, pattern(60, 4)},  {0x00010101, pattern(61, 5)}};
  testing::write_container(dir / "client_cell_1.dat", records, {.block_size = 64, .node_entries = 2});
  std::filesystem::create_directories(dir / "client_cell_1");
  for (const auto& [id, data] : records)
    write_bytes(dir / "client_cell_1" / (hex_id(id) + ".bin"), data);

  auto convert = [&](const std::filesystem::path& input, const std::filesystem::path& out) {
    ConvertOptions options;
    options.inputs = {{input, std::nullopt}};
    auto summary = convert_to_archive(options, out);
    EXPECT_TRUE(summary) << summary.error().display();
  };
  convert(dir / "client_cell_1.dat", dir / "from_container.kdr");
  convert(dir / "client_cell_1", dir / "from_folder.kdr");
  std::string from_container = testing::read_file(dir / "from_container.kdr");
  EXPECT_FALSE(from_container.empty());
  EXPECT_EQ(from_container, testing::read_file(dir / "from_folder.kdr"));

  auto reader = KdrReader::open(dir / "from_container.kdr");
  ASSERT_TRUE(reader);
  auto entry = reader->find_entry_in_namespace("vuz/cell", 0x0001FFFE);
  ASSERT_TRUE(entry);
  EXPECT_EQ(entry->type_id, 0xFEu);
}

// What opening and then reading every record reports first, or "ok".
std::string first_failure(Bytes bytes) {
  auto file = open_bytes(std::move(bytes));
  if (!file) return file.error().is<ToolError::DatOpen>() ? file.error().display() : "wrong kind";
  for (size_t i = 0; i < (*file)->records().size(); ++i)
    if (auto r = (*file)->read(i); !r) return r.error().is<ToolError::DatRead>() ? r.error().display() : "wrong kind";
  return "ok";
}

const std::string kOpen = "cannot open game data file mem.dat: ";

// A record of three blocks, a one-block record and an empty one, in one leaf.
// With 2048-byte blocks every node is one block, so its fields sit at fixed places.
struct Base {
  Bytes bytes = testing::build_container(
      {{0x01000001, pattern(5000, 1)}, {0x01000002, pattern(10, 2)}, {0x01000003, {}}}, {.block_size = 2048});
  uint32_t root = get32(bytes, CONTAINER_HEADER_OFFSET + 32);
  uint32_t big = get32(bytes, entry_at(root, 0) + 8);  // first block of 0x01000001
  uint32_t size = static_cast<uint32_t>(bytes.size());
};

TEST(ContainerFileTest, RejectsCorruptContainersWithTheOffsetInvolved) {
  struct Case {
    const char* name;
    // Damages the container and returns the failure it must give.
    std::function<std::string(Base&)> damage;
  } cases[] = {
      {"intact", [](Base&) { return std::string("ok"); }},
      {"bad file type",
       [](Base& b) {
         put32(b.bytes, CONTAINER_HEADER_OFFSET, 0x5441);
         return kOpen + "file type 0x00005441 at offset 320 is not the container type 0x00005442";
       }},
      {"file shorter than the header",
       [](Base& b) {
         b.bytes.resize(CONTAINER_HEADER_END - 1);
         return kOpen + "file of 355 bytes is too short for a container header";
       }},
      {"block size below 8",
       [](Base& b) {
         put32(b.bytes, CONTAINER_HEADER_OFFSET + 4, 7);
         return kOpen + "block size 7 is below 8";
       }},
      {"header file size larger than the file",
       [](Base& b) {
         put32(b.bytes, CONTAINER_HEADER_OFFSET + 8, b.size + 1);
         return kOpen + fmt::format("header file size {} exceeds the file's {} bytes", b.size + 1, b.size);
       }},
      {"truncated file",
       [](Base& b) {
         b.bytes.resize(b.size - 1);
         return kOpen + fmt::format("header file size {} exceeds the file's {} bytes", b.size, b.size - 1);
       }},
      {"root offset past the last whole block",
       [](Base& b) {
         put32(b.bytes, CONTAINER_HEADER_OFFSET + 32, b.size - 2047);
         return kOpen + fmt::format("root directory node offset {} is outside the file (blocks lie from 356 to {})",
                                    b.size - 2047, b.size - 2048);
       }},
      {"root offset inside the header",
       [](Base& b) {
         put32(b.bytes, CONTAINER_HEADER_OFFSET + 32, 355);
         return kOpen + fmt::format("root directory node offset 355 is outside the file (blocks lie from 356 to {})",
                                    b.size - 2048);
       }},
      {"record offset outside the file",
       [](Base& b) {
         put32(b.bytes, entry_at(b.root, 1) + 8, 0xFFFFFF00);
         return kOpen + fmt::format(
                            "directory node at offset {}: record 0x01000002 starts at offset 4294967040, outside "
                            "the file (blocks lie from 356 to {})",
                            b.root, b.size - 2048);
       }},
      {"next block outside the file",
       [](Base& b) {
         put32(b.bytes, b.big, b.size);
         return fmt::format(
             "cannot read record 0x01000001: Corruption detected: container mem.dat: record at offset {}: block "
             "offset {} is outside the file (blocks lie from 356 to {})",
             b.big, b.size, b.size - 2048);
       }},
      {"chain loop",
       [](Base& b) {
         put32(b.bytes, get32(b.bytes, b.big), b.big);  // the second block leads back to the first
         return fmt::format(
             "cannot read record 0x01000001: Corruption detected: container mem.dat: record at offset {}: chain "
             "loops back to block offset {}",
             b.big, b.big);
       }},
      {"short chain",
       [](Base& b) {
         put32(b.bytes, get32(b.bytes, b.big), 0);
         return fmt::format(
             "cannot read record 0x01000001: Corruption detected: container mem.dat: record at offset {}: chain "
             "ends after 4088 of 5000 bytes at block offset {}",
             b.big, b.big + 2048);
       }},
      {"record larger than the file holds",
       [](Base& b) {
         put32(b.bytes, entry_at(b.root, 2) + 12, b.size);
         return kOpen + fmt::format(
                            "directory node at offset {}: record 0x01000003 of {} bytes is larger than the file holds",
                            b.root, b.size);
       }},
      {"entry count of 62",
       [](Base& b) {
         put32(b.bytes, count_at(b.root), 62);
         return kOpen + fmt::format("directory node at offset {}: entry count 62 exceeds 61", b.root);
       }},
      {"ids out of order",
       [](Base& b) {
         put32(b.bytes, entry_at(b.root, 2) + 4, 0x01000002);
         return kOpen + fmt::format("directory node at offset {}: file id 0x01000002 does not follow 0x01000002",
                                    b.root);
       }},
      {"leaf with a stray child",
       [](Base& b) {
         put32(b.bytes, child_at(b.root, 5), b.big);
         return kOpen + fmt::format("directory node at offset {}: child 5 is {} where the node has 0 children",
                                    b.root, b.big);
       }},
      {"node chain running short",
       [](Base& b) {
         put32(b.bytes, CONTAINER_HEADER_OFFSET + 4, 1024);  // a node now needs two blocks of the same file
         put32(b.bytes, CONTAINER_HEADER_OFFSET + 32, b.root + 1024);
         return kOpen + fmt::format(
                            "directory node at offset {}: chain ends after 1020 of 1716 bytes at block offset {}",
                            b.root + 1024, b.root + 1024);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Base base;
    std::string expect = c.damage(base);
    EXPECT_EQ(first_failure(std::move(base.bytes)), expect);
  }
}

// Five records under a root with two children of two entries each, every node one block.
struct Inner {
  Bytes bytes = testing::build_container(numbered(5, 0x02000000, 8), {.block_size = 2048, .node_entries = 2});
  uint32_t root = get32(bytes, CONTAINER_HEADER_OFFSET + 32);
};

TEST(ContainerFileTest, RejectsBrokenInnerNodes) {
  struct Case {
    const char* name;
    std::function<std::string(Inner&)> damage;
  } cases[] = {
      {"intact",
       [](Inner& t) {
         EXPECT_EQ(get32(t.bytes, count_at(t.root)), 1u);
         return std::string("ok");
       }},
      {"missing child",
       [](Inner& t) {
         put32(t.bytes, child_at(t.root, 1), 0);
         return kOpen + fmt::format(
                            "directory node at offset {}: child 1 offset 0 is outside the file (blocks lie from 356 "
                            "to {})",
                            t.root, t.bytes.size() - 2048);
       }},
      {"child past the entry count",
       [](Inner& t) {
         put32(t.bytes, child_at(t.root, 2), get32(t.bytes, child_at(t.root, 0)));
         return kOpen + fmt::format("directory node at offset {}: child 2 is {} where the node has 2 children", t.root,
                                    get32(t.bytes, child_at(t.root, 0)));
       }},
      {"node reached twice",
       [](Inner& t) {
         uint32_t first = get32(t.bytes, child_at(t.root, 0));
         put32(t.bytes, child_at(t.root, 1), first);
         return kOpen + fmt::format("directory node at offset {} is reached twice", first);
       }},
      {"node that is its own child",
       [](Inner& t) {
         put32(t.bytes, child_at(t.root, 1), t.root);
         return kOpen + fmt::format("directory node at offset {} is reached twice", t.root);
       }},
      {"separator out of order",
       [](Inner& t) {
         put32(t.bytes, entry_at(t.root, 0) + 4, 0x02000100);
         return kOpen + fmt::format("directory node at offset {}: file id 0x02000009 does not follow 0x02000100",
                                    get32(t.bytes, child_at(t.root, 1)));
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Inner t;
    std::string expect = c.damage(t);
    EXPECT_EQ(first_failure(std::move(t.bytes)), expect);
  }
}

// A container whose directory is `levels` nodes deep: inner nodes of no
// entries and one child each, above a leaf holding one record.
Bytes deep_directory(size_t levels) {
  const uint32_t bs = 2048;
  Bytes bytes = testing::build_container({{0x01000001, pattern(4, 1)}}, {.block_size = bs});
  uint32_t child = get32(bytes, CONTAINER_HEADER_OFFSET + 32);
  for (size_t i = 1; i < levels; ++i) {
    auto at = static_cast<uint32_t>(bytes.size());
    bytes.resize(bytes.size() + bs);
    put32(bytes, child_at(at, 0), child);
    child = at;
  }
  put32(bytes, CONTAINER_HEADER_OFFSET + 8, static_cast<uint32_t>(bytes.size()));
  put32(bytes, CONTAINER_HEADER_OFFSET + 32, child);
  return bytes;
}

TEST(ContainerFileTest, BoundsTheDirectoryDepth) {
  EXPECT_EQ(first_failure(deep_directory(CONTAINER_MAX_DEPTH)), "ok");
  Bytes too_deep = deep_directory(CONTAINER_MAX_DEPTH + 1);
  // The walk gives up at the leaf, the 33rd node down.
  EXPECT_EQ(first_failure(too_deep),
            kOpen + fmt::format("directory is deeper than 32 levels at node offset {}", 2048 * 2));
}

}  // namespace
}  // namespace kdr
