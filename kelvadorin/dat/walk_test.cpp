#include "kelvadorin/dat/walk.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <map>
#include <new>
#include <numeric>
#include <optional>
#include <vector>

#include "kelvadorin/testing/byte_writer.hpp"
#include "kelvadorin/testing/setup_builder.hpp"
#include "kelvadorin/testing/surface_builder.hpp"

// Largest single request to operator new since the last reset: shows that a
// huge announced count is never allocated.
namespace {
std::atomic<size_t> largest_allocation{0};
}  // namespace

void* operator new(std::size_t n) {
  size_t seen = largest_allocation.load(std::memory_order_relaxed);
  while (n > seen && !largest_allocation.compare_exchange_weak(seen, n, std::memory_order_relaxed)) {
  }
  if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace kdr {
namespace {

using ::testing::ElementsAre;
using testing::build_gfx_obj;
using testing::build_gfx_obj_declaring;
using testing::bytes_of;
using testing::PackedCountForm;

std::vector<uint32_t> ids_from(uint32_t first, size_t n) {
  std::vector<uint32_t> ids(n);
  std::iota(ids.begin(), ids.end(), first);
  return ids;
}

TEST(ReadGfxObjSurfacesTest, ShortRecordsAndEmptyLists) {
  struct Case {
    const char* name;
    Bytes bytes;
    std::optional<std::vector<uint32_t>> want;
  };
  const Case cases[] = {
      {"nothing", {}, std::nullopt},
      {"8 bytes, no count", Bytes(8, std::byte{0}), std::nullopt},
      {"zero count", Bytes(9, std::byte{0}), std::vector<uint32_t>{}},
      {"two-byte form cut after its first byte", bytes_of({0, 0, 0, 0, 0, 0, 0, 0, 0x80}), std::nullopt},
      {"four-byte form cut after 3 bytes", bytes_of({0, 0, 0, 0, 0, 0, 0, 0, 0xC0, 0, 0}), std::nullopt},
      {"two-byte zero count", bytes_of({0, 0, 0, 0, 0, 0, 0, 0, 0x80, 0x00}), std::vector<uint32_t>{}},
      {"four-byte zero count", bytes_of({0, 0, 0, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0}), std::vector<uint32_t>{}},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    EXPECT_EQ(read_gfx_obj_surfaces(tc.bytes), tc.want);
  }
}

TEST(ReadGfxObjSurfacesTest, IdsFollowTheCountUnalignedAndAllMustBePresent) {
  Bytes bytes = bytes_of({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,  // skipped
                          0x02, 0x01, 0x00, 0x00, 0x08, 0x02, 0x00, 0x00, 0x08});
  EXPECT_THAT(read_gfx_obj_surfaces(bytes), ::testing::Optional(ElementsAre(0x08000001u, 0x08000002u)));
  EXPECT_EQ(read_gfx_obj_surfaces(ByteView(bytes).first(bytes.size() - 1)), std::nullopt);
  // Bytes after the announced ids are not read.
  bytes.push_back(std::byte{0x42});
  EXPECT_THAT(read_gfx_obj_surfaces(bytes), ::testing::Optional(ElementsAre(0x08000001u, 0x08000002u)));
}

TEST(ReadGfxObjSurfacesTest, FourByteFormPutsTheLowHalfLittleEndianAfterTheHighHalf) {
  // C0 01 02 03: high half 0x0001, low half 0x0302.
  Bytes bytes = bytes_of({0, 0, 0, 0, 0, 0, 0, 0, 0xC0, 0x01, 0x02, 0x03});
  const size_t n = 0x010302;
  Bytes ids(4 * n, std::byte{0});
  store_le<uint32_t>(ids.data(), 0x08000010);
  store_le<uint32_t>(ids.data() + 4 * (n - 1), 0x08FFFFFF);
  bytes.insert(bytes.end(), ids.begin(), ids.end());
  auto got = read_gfx_obj_surfaces(bytes);
  ASSERT_TRUE(got.has_value());
  ASSERT_EQ(got->size(), n);
  EXPECT_EQ(got->front(), 0x08000010u);
  EXPECT_EQ(got->back(), 0x08FFFFFFu);
  EXPECT_EQ(read_gfx_obj_surfaces(ByteView(bytes).first(bytes.size() - 1)), std::nullopt);
}

// Every form that can hold a count gives the same list; the shortest form
// uses 1, 2 or 4 count bytes.
TEST(ReadGfxObjSurfacesTest, EveryPackedFormOfACountReadsTheSameIds) {
  struct Case {
    size_t count;
    size_t shortest_count_bytes;
  };
  const Case cases[] = {{0, 1}, {1, 1}, {0x7F, 1}, {0x80, 2}, {258, 2}, {0x3FFF, 2}, {0x4000, 4}, {0x10000, 4}};
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.count);
    std::vector<uint32_t> ids = ids_from(0x08000000, tc.count);
    EXPECT_EQ(build_gfx_obj(ids).size(), 8 + tc.shortest_count_bytes + 4 * tc.count);
    std::vector<PackedCountForm> forms = {PackedCountForm::Shortest, PackedCountForm::FourBytes};
    if (tc.count < 0x80) forms.push_back(PackedCountForm::OneByte);
    if (tc.count < 0x4000) forms.push_back(PackedCountForm::TwoBytes);
    for (PackedCountForm form : forms) {
      Bytes bytes = build_gfx_obj(ids, form);
      EXPECT_EQ(read_gfx_obj_surfaces(bytes), ids) << "form " << static_cast<int>(form);
      if (tc.count > 0) {
        EXPECT_EQ(read_gfx_obj_surfaces(ByteView(bytes).first(bytes.size() - 1)), std::nullopt)
            << "form " << static_cast<int>(form);
      }
    }
  }
}

TEST(ReadGfxObjSurfacesTest, HugeCountsInShortInputsGiveAbsentWithoutAllocating) {
  struct Case {
    uint32_t count;
    PackedCountForm form;
  };
  const Case cases[] = {{0x3FFFFFFF, PackedCountForm::FourBytes},
                        {0x3FFF0000, PackedCountForm::FourBytes},
                        {0x3FFF, PackedCountForm::TwoBytes},
                        {0x7F, PackedCountForm::OneByte}};
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.count);
    Bytes bytes = build_gfx_obj_declaring(tc.count, ids_from(1, 16), tc.form);
    largest_allocation = 0;
    auto got = read_gfx_obj_surfaces(bytes);
    EXPECT_LT(largest_allocation.load(), 4096u);
    EXPECT_EQ(got, std::nullopt);
  }
}

// Portal records by id; remembers every fetch so tests can see what the walk read.
class RecordingSource : public ResourceSource {
 public:
  std::map<uint32_t, Bytes> records;
  mutable std::vector<uint32_t> fetched;

  Result<Bytes> get_file_by_key(const ResourceKey& key) const override {
    EXPECT_EQ(key.namespace_, VUZ_PORTAL_NAMESPACE);
    fetched.push_back(key.file_id);
    auto it = records.find(key.file_id);
    if (it == records.end()) return std::unexpected(DatError::NotFound{key.file_id});
    return it->second;
  }

  void setup(uint32_t id, std::vector<uint32_t> parts) {
    SetupModel s;
    s.id = id;
    s.parts = std::move(parts);
    records[id] = testing::build_setup(s);
  }
  void gfx(uint32_t id, std::vector<uint32_t> surfaces) { records[id] = build_gfx_obj(surfaces); }
  void surface(uint32_t id, const Surface& s) { records[id] = testing::build_surface(s); }
  void surface_texture(uint32_t id, std::vector<uint32_t> textures) {
    records[id] = testing::build_surface_texture(SurfaceTexture{id, 0, 0, std::move(textures)});
  }
  void texture(uint32_t id, uint32_t format, uint32_t palette = 0) {
    records[id] = testing::build_texture(testing::make_texture(id, format, bytes_of({1, 2, 3, 4}), palette));
  }
};

VisitedSet portal_keys(std::initializer_list<uint32_t> ids) {
  VisitedSet out;
  for (uint32_t id : ids) out.emplace(std::string(VUZ_PORTAL_NAMESPACE), id);
  return out;
}

VisitedSet walk(const RecordingSource& source, uint32_t root, VisitedSet visited = {}, unsigned depth = 0) {
  walk_model(source, root, visited, depth);
  return visited;
}

constexpr uint32_t kFormatPlain = 20;
constexpr uint32_t kFormatPaletted = Texture::FORMAT_PALETTED_41;

TEST(WalkModelTest, GraphicsObjectFollowsSurfacesToTheLastTextureAndNamesPalettes) {
  RecordingSource src;
  src.gfx(0x01000001, {0x08000001, 0x08000002, 0x08000003, 0x08000004});
  src.surface(0x08000001, testing::coloured_surface(0xFF00FF));         // no texture refs
  src.surface(0x08000002, testing::textured_surface(0x05000001, 0));    // palette 0: none
  src.surface(0x08000003, testing::textured_surface(0x05000002, 0x04000009));
  // 0x08000004 is missing: still marked, nothing below it.
  src.surface_texture(0x05000001, {0x06000001, 0x06000002, 0x06000003});
  src.surface_texture(0x05000002, {0x06000010});
  src.texture(0x06000001, kFormatPaletted, 0x04000001);  // not last: never looked at
  src.texture(0x06000003, kFormatPaletted, 0);            // a stored 0 is a key
  src.texture(0x06000010, kFormatPlain);

  EXPECT_EQ(walk(src, 0x01000001),
            portal_keys({0x01000001, 0x08000001, 0x08000002, 0x08000003, 0x08000004, 0x05000001, 0x06000003, 0,
                         0x05000002, 0x06000010, 0x04000009}));
  // Palettes are named, never fetched; earlier textures of a list are never fetched.
  EXPECT_THAT(src.fetched, ElementsAre(0x01000001, 0x08000001, 0x08000002, 0x05000001, 0x06000003, 0x08000003,
                                       0x05000002, 0x06000010, 0x08000004));
}

TEST(WalkModelTest, BranchesEndAtMissingOrUndecodableRecords) {
  struct Case {
    const char* name;
    std::function<void(RecordingSource&)> fill;
    VisitedSet want;
    uint32_t root = 0x01000001;
  };
  const uint32_t gfx = 0x01000001, surf = 0x08000001, st = 0x05000001, tex = 0x06000001;
  const Case cases[] = {
      {"missing root", [](RecordingSource&) {}, portal_keys({gfx})},
      {"gfx object of 8 bytes", [&](RecordingSource& s) { s.records[gfx] = Bytes(8, std::byte{0}); },
       portal_keys({gfx})},
      {"gfx object announcing more ids than it holds",
       [&](RecordingSource& s) { s.records[gfx] = testing::build_gfx_obj_declaring(3, {surf}); }, portal_keys({gfx})},
      {"undecodable surface",
       [&](RecordingSource& s) {
         s.gfx(gfx, {surf});
         s.records[surf] = bytes_of({2, 0, 0, 0, 1});
       },
       portal_keys({gfx, surf})},
      {"missing surface texture",
       [&](RecordingSource& s) {
         s.gfx(gfx, {surf});
         s.surface(surf, testing::textured_surface(st, 0));
       },
       portal_keys({gfx, surf, st})},
      {"surface texture without textures",
       [&](RecordingSource& s) {
         s.gfx(gfx, {surf});
         s.surface(surf, testing::textured_surface(st, 0));
         s.surface_texture(st, {});
       },
       portal_keys({gfx, surf, st})},
      {"undecodable texture keeps its key, names no palette",
       [&](RecordingSource& s) {
         s.gfx(gfx, {surf});
         s.surface(surf, testing::textured_surface(st, 0));
         s.surface_texture(st, {tex});
         s.records[tex] = bytes_of({1, 0, 0, 0});
       },
       portal_keys({gfx, surf, st, tex})},
      {"undecodable setup",
       [&](RecordingSource& s) { s.records[0x02000001] = bytes_of({1, 0, 0, 2, 0, 0, 0, 0, 5, 0, 0, 0}); },
       portal_keys({0x02000001}), 0x02000001},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    RecordingSource src;
    tc.fill(src);
    EXPECT_EQ(walk(src, tc.root), tc.want);
  }
}

TEST(WalkModelTest, OtherRecordKindsAreMarkedAndFetchedOnly) {
  RecordingSource src;
  // Bytes that would read as a surface list if the kind were not checked.
  for (uint32_t id : {0x0A000001u, 0x03000001u, 0x00000001u, 0xFF000001u}) {
    SCOPED_TRACE(id);
    src.records[id] = build_gfx_obj({0x08000001});
    src.surface(0x08000001, testing::coloured_surface(1));
    src.fetched.clear();
    EXPECT_EQ(walk(src, id), portal_keys({id}));
    EXPECT_THAT(src.fetched, ElementsAre(id));
  }
}

TEST(WalkModelTest, KeysAlreadyVisitedAreNeitherFetchedNorFollowed) {
  RecordingSource src;
  src.setup(0x02000001, {0x01000001});
  src.gfx(0x01000001, {0x08000001});
  src.surface(0x08000001, testing::coloured_surface(1));

  VisitedSet before = portal_keys({0x02000001});
  EXPECT_EQ(walk(src, 0x02000001, before), before);
  EXPECT_TRUE(src.fetched.empty());

  // A part already in the set stops that branch only.
  EXPECT_EQ(walk(src, 0x02000001, portal_keys({0x01000001})), portal_keys({0x02000001, 0x01000001}));
  EXPECT_THAT(src.fetched, ElementsAre(0x02000001));
}

TEST(WalkModelTest, SharedSurfaceTextureIsFollowedOnceButEachSurfaceNamesItsPalette) {
  RecordingSource src;
  src.gfx(0x01000001, {0x08000001, 0x08000002});
  src.surface(0x08000001, testing::textured_surface(0x05000001, 0));
  src.surface(0x08000002, testing::textured_surface(0x05000001, 0x04000002));
  src.surface_texture(0x05000001, {0x06000001});
  src.texture(0x06000001, kFormatPlain);
  EXPECT_EQ(walk(src, 0x01000001), portal_keys({0x01000001, 0x08000001, 0x08000002, 0x05000001, 0x06000001, 0x04000002}));
  EXPECT_EQ(std::ranges::count(src.fetched, 0x05000001u), 1);
}

TEST(WalkModelTest, SelfReferencingSetupDoesNotLoop) {
  RecordingSource src;
  src.setup(0x02000001, {0x02000001, 0x01000001, 0x02000001});
  src.gfx(0x01000001, {});
  EXPECT_EQ(walk(src, 0x02000001), portal_keys({0x02000001, 0x01000001}));
  EXPECT_THAT(src.fetched, ElementsAre(0x02000001, 0x01000001));
}

// A chain of setups S0 -> S1 -> ... -> S5 -> G.
RecordingSource setup_chain() {
  RecordingSource src;
  for (uint32_t i = 0; i < 5; ++i) src.setup(0x02000000 + i, {0x02000001 + i});
  src.setup(0x02000005, {0x01000001});
  src.gfx(0x01000001, {});
  return src;
}

TEST(WalkModelTest, DepthLimitStopsBelowTheFourthPartLevel) {
  RecordingSource src = setup_chain();
  // S4 is reached at depth 4, decoded, and its part is called at depth 5.
  VisitedSet got = walk(src, 0x02000000);
  EXPECT_EQ(got, portal_keys({0x02000000, 0x02000001, 0x02000002, 0x02000003, 0x02000004}));
  EXPECT_EQ(src.fetched.back(), 0x02000004u);

  src.fetched.clear();
  EXPECT_TRUE(walk(src, 0x02000000, {}, 5).empty());
  EXPECT_TRUE(src.fetched.empty());

  // Starting lower reaches further: from S1 the last walked is S5 at depth 4.
  EXPECT_TRUE(walk(src, 0x02000001).contains({std::string(VUZ_PORTAL_NAMESPACE), 0x02000005}));
  EXPECT_FALSE(walk(src, 0x02000001).contains({std::string(VUZ_PORTAL_NAMESPACE), 0x01000001}));
}

TEST(WalkModelTest, MarkingIsFinalSoASetupFirstMetAtDepthFourKeepsItsPartsUnwalked) {
  RecordingSource src = setup_chain();
  VisitedSet visited;
  walk_model(src, 0x02000000, visited, 0);
  walk_model(src, 0x02000004, visited, 0);
  EXPECT_FALSE(visited.contains({std::string(VUZ_PORTAL_NAMESPACE), 0x02000005}));
}

TEST(WalkModelTest, WalkIsDepthFirstInPartOrder) {
  // Root parts: the chain first (reaching X at depth 4), then X directly at
  // depth 1. Depth first, X is met at depth 4 and its part stays unwalked.
  RecordingSource src;
  src.setup(0x02000100, {0x02000001, 0x0200000A});
  src.setup(0x02000001, {0x02000002});
  src.setup(0x02000002, {0x02000003});
  src.setup(0x02000003, {0x0200000A});
  src.setup(0x0200000A, {0x01000001});
  src.gfx(0x01000001, {});
  VisitedSet got = walk(src, 0x02000100);
  EXPECT_FALSE(got.contains({std::string(VUZ_PORTAL_NAMESPACE), 0x01000001}));

  // With the parts the other way round, X is met at depth 1 and followed.
  src.setup(0x02000100, {0x0200000A, 0x02000001});
  EXPECT_TRUE(walk(src, 0x02000100).contains({std::string(VUZ_PORTAL_NAMESPACE), 0x01000001}));
}

}  // namespace
}  // namespace kdr
