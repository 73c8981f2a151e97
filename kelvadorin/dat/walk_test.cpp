#include "kelvadorin/dat/walk.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <numeric>
#include <optional>
#include <vector>

#include "kelvadorin/testing/byte_writer.hpp"
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

}  // namespace
}  // namespace kdr
