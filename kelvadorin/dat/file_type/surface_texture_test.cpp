#include "kelvadorin/dat/file_type/surface_texture.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "kelvadorin/testing/byte_writer.hpp"
#include "kelvadorin/testing/surface_builder.hpp"

// Largest single request to operator new since the last reset: shows that a
// huge declared count never sizes storage.
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
using ::testing::ElementsAreArray;
using testing::build_surface_texture;
using testing::build_surface_texture_declaring;
using testing::ByteWriter;

const char* const kTextures = "While parsing field 'textures' in SurfaceTexture";

SurfaceTexture sample(std::vector<uint32_t> textures) {
  return SurfaceTexture{0x05000123, 0x80000001, 0xAB, std::move(textures)};
}

TEST(SurfaceTextureTest, CountSitsUnalignedAfterTheSingleByte) {
  Bytes bytes = ByteWriter()
                    .u32(0x05000123)
                    .u32(0x7FC00001)  // a NaN pattern, kept as bits
                    .u8(0x01)
                    .i32(2)
                    .u32(0x06000010)
                    .u32(0x06000011)
                    .take();
  ASSERT_EQ(bytes.size(), 21u);
  auto st = SurfaceTexture::unpack(bytes);
  ASSERT_TRUE(st.has_value()) << st.error().description();
  EXPECT_EQ(st->id, 0x05000123u);
  EXPECT_EQ(st->unknown_int, 0x7FC00001u);
  EXPECT_EQ(st->unknown_byte, 0x01);
  EXPECT_THAT(st->textures, ElementsAre(0x06000010u, 0x06000011u));
}

TEST(SurfaceTextureTest, DecodesAnyTextureCountAndIgnoresTrailingBytes) {
  const std::vector<uint32_t> lists[] = {{}, {0x06000001}, {0x06000001, 0x06000002, 0x06000003}};
  for (const auto& textures : lists) {
    SCOPED_TRACE(::testing::Message() << textures.size() << " textures");
    SurfaceTexture want = sample(textures);
    Bytes bytes = build_surface_texture(want);
    ASSERT_EQ(bytes.size(), 13 + 4 * textures.size());
    auto exact = SurfaceTexture::unpack(bytes);
    ASSERT_TRUE(exact.has_value()) << exact.error().description();
    EXPECT_EQ(*exact, want);

    bytes.insert(bytes.end(), {std::byte{1}, std::byte{2}, std::byte{3}});
    auto longer = SurfaceTexture::unpack(bytes);
    ASSERT_TRUE(longer.has_value());
    EXPECT_EQ(*longer, want);
  }
}

// A missing count and a missing id both belong to `textures`.
TEST(SurfaceTextureTest, EveryCutShortPrefixNamesTheMissingField) {
  struct Span {
    size_t begin;
    const char* entry;
  };
  const Span layout[] = {{0, "While parsing field 'id' in SurfaceTexture"},
                         {4, "While parsing field 'unknown_int' in SurfaceTexture"},
                         {8, "While parsing field 'unknown_byte' in SurfaceTexture"},
                         {9, kTextures}};
  Bytes bytes = build_surface_texture(sample({0x06000001, 0x06000002}));
  for (size_t len = 0; len < bytes.size(); ++len) {
    SCOPED_TRACE(::testing::Message() << "cut to " << len << " bytes");
    const char* entry = layout[0].entry;
    for (const Span& s : layout)
      if (s.begin <= len) entry = s.entry;
    auto r = SurfaceTexture::unpack(ByteView(bytes).first(len));
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().kind, DecodeError::Kind::UnexpectedEnd);
    EXPECT_EQ(r.error().message, "failed to fill whole buffer");
    EXPECT_THAT(r.error().context, ElementsAre(entry));
  }
}

TEST(SurfaceTextureTest, NegativeCountIsRejectedInsideTextures) {
  struct Case {
    int32_t count;
    std::vector<uint32_t> ids_after;
    const char* message;
  };
  const Case cases[] = {
      {-1, {}, "texture count -1 is negative"},
      {-2, {1, 2, 3}, "texture count -2 is negative"},
      {INT32_MIN, {}, "texture count -2147483648 is negative"},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.count);
    auto r = SurfaceTexture::unpack(build_surface_texture_declaring(sample(tc.ids_after), tc.count));
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().kind, DecodeError::Kind::InvalidValue);
    EXPECT_EQ(r.error().message, tc.message);
    EXPECT_EQ(r.error().position, 13u);
    EXPECT_THAT(r.error().context, ElementsAreArray({kTextures}));
  }
}

TEST(SurfaceTextureTest, HugeCountInShortInputFailsAtTheFirstMissingId) {
  const int32_t counts[] = {INT32_MAX, 0x40000000, 4};
  for (int32_t count : counts) {
    SCOPED_TRACE(count);
    Bytes bytes = build_surface_texture_declaring(sample({7, 8, 9}), count);
    largest_allocation = 0;
    auto r = SurfaceTexture::unpack(bytes);
    EXPECT_LT(largest_allocation.load(), 4096u);
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().kind, DecodeError::Kind::UnexpectedEnd);
    EXPECT_EQ(r.error().message, "failed to fill whole buffer");
    EXPECT_THAT(r.error().context, ElementsAreArray({kTextures}));
  }
}

}  // namespace
}  // namespace kdr
