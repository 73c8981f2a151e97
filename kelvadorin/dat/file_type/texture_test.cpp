#include "kelvadorin/dat/file_type/texture.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

#include "kelvadorin/testing/byte_writer.hpp"
#include "kelvadorin/testing/surface_builder.hpp"

// Largest single request to operator new since the last reset: shows that a
// huge declared length never sizes storage.
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
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using testing::build_texture;
using testing::ByteWriter;
using testing::bytes_of;
using testing::make_texture;

const char* const kSourceData = "While parsing field 'source_data' in Texture";
const char* const kPalette = "While parsing field 'default_palette_id' in Texture";

const DecodeError& cause_of(const DatError& e) {
  const auto* bin = e.get_if<DatError::BinRead>();
  EXPECT_NE(bin, nullptr) << e.debug();
  static const DecodeError none;
  return bin ? bin->cause : none;
}

TEST(TextureTest, DecodesAHandWrittenPalettedRecord) {
  Bytes bytes = ByteWriter()
                    .u32(0x06000042)
                    .u32(0xCAFEF00D)
                    .u32(16)
                    .u32(8)
                    .u32(101)
                    .i32(3)
                    .u8(0xAA)
                    .u8(0xBB)
                    .u8(0xCC)
                    .u32(0x04001234)
                    .take();
  auto t = Texture::unpack(bytes);
  ASSERT_TRUE(t.has_value()) << t.error().display();
  EXPECT_EQ(t->id, 0x06000042u);
  EXPECT_EQ(t->_unknown, 0xCAFEF00Du);
  EXPECT_EQ(t->width, 16u);
  EXPECT_EQ(t->height, 8u);
  EXPECT_EQ(t->format_raw, 101u);
  EXPECT_EQ(t->length, 3);
  EXPECT_EQ(t->source_data, bytes_of({0xAA, 0xBB, 0xCC}));
  EXPECT_EQ(t->default_palette_id, 0x04001234u);
}

// Only formats 41 and 101 carry a palette id, whatever its value; the others
// end after their data even when more bytes follow.
TEST(TextureTest, PaletteIdIsPresentExactlyForThePalettedFormats) {
  struct Case {
    uint32_t format;
    size_t data_size;
    uint32_t palette;
    size_t size;
  };
  const Case cases[] = {
      {20, 0, 0, 24}, {41, 0, 0x04000001, 28}, {41, 0, 0, 28}, {101, 5, 0x04000002, 33},
      {21, 5, 0, 29}, {40, 1, 0, 25},          {0x29 + 0x100, 0, 0, 24},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(::testing::Message() << "format " << tc.format << ", " << tc.data_size << " data bytes");
    Texture want = make_texture(0x06000001, tc.format, Bytes(tc.data_size, std::byte{0x5A}), tc.palette);
    Bytes bytes = build_texture(want);
    ASSERT_EQ(bytes.size(), tc.size);
    auto exact = Texture::unpack(bytes);
    ASSERT_TRUE(exact.has_value()) << exact.error().display();
    EXPECT_EQ(*exact, want);
    EXPECT_EQ(exact->default_palette_id.has_value(), Texture::has_default_palette(tc.format));

    Bytes longer = bytes;
    longer.insert(longer.end(), 4, std::byte{0x77});
    auto with_trailer = Texture::unpack(longer);
    ASSERT_TRUE(with_trailer.has_value());
    EXPECT_EQ(*with_trailer, want);
  }
}

// Fixed-width fields fail with "failed to fill whole buffer"; the counted
// data run with "not enough bytes in reader".
TEST(TextureTest, EveryCutShortPrefixNamesTheMissingField) {
  struct Span {
    size_t begin;
    const char* entry;
    const char* message;
  };
  const char* const fill = "failed to fill whole buffer";
  const Span layout[] = {
      {0, "While parsing field 'id' in Texture", fill},
      {4, "While parsing field '_unknown' in Texture", fill},
      {8, "While parsing field 'width' in Texture", fill},
      {12, "While parsing field 'height' in Texture", fill},
      {16, "While parsing field 'format_raw' in Texture", fill},
      {20, "While parsing field 'length' in Texture", fill},
      {24, kSourceData, "not enough bytes in reader"},
      {28, kPalette, fill},
  };
  Bytes bytes = build_texture(make_texture(0x06000001, 41, bytes_of({1, 2, 3, 4}), 0x04000009));
  ASSERT_EQ(bytes.size(), 32u);
  for (size_t len = 0; len < bytes.size(); ++len) {
    SCOPED_TRACE(::testing::Message() << "cut to " << len << " bytes");
    const Span* owner = &layout[0];
    for (const Span& s : layout)
      if (s.begin <= len) owner = &s;
    auto r = Texture::unpack(ByteView(bytes).first(len));
    ASSERT_FALSE(r.has_value());
    const DecodeError& e = cause_of(r.error());
    EXPECT_EQ(e.kind, DecodeError::Kind::UnexpectedEnd);
    EXPECT_EQ(e.message, owner->message);
    EXPECT_THAT(e.context, ElementsAre(owner->entry));
  }
}

TEST(TextureTest, NegativeLengthFailsItsRangeCheckAtPosition24) {
  struct Case {
    int32_t length;
    size_t bytes_after;
    const char* shown;
  };
  const Case cases[] = {{-1, 0, "-1"}, {-1, 64, "-1"}, {INT32_MIN, 8, "-2147483648"}};
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.length);
    Texture t = make_texture(0x06000001, 41, Bytes(tc.bytes_after, std::byte{0}));
    t.length = tc.length;
    auto r = Texture::unpack(build_texture(t));
    ASSERT_FALSE(r.has_value());
    const DecodeError& e = cause_of(r.error());
    EXPECT_EQ(e.kind, DecodeError::Kind::Assertion);
    EXPECT_EQ(e.position, 24u);
    EXPECT_THAT(e.context, IsEmpty());
    EXPECT_THAT(e.message, HasSubstr(std::string("count ") + tc.shown + " "));
    EXPECT_THAT(e.message, HasSubstr("out of range"));
    EXPECT_THAT(r.error().display(), ::testing::StartsWith("Binary read error: "));
  }
}

TEST(TextureTest, LengthBeyondTheDataFailsWithoutReservingIt) {
  const int32_t lengths[] = {INT32_MAX, 0x10000000, 5};
  for (int32_t length : lengths) {
    SCOPED_TRACE(length);
    Texture t = make_texture(0x06000001, 20, bytes_of({1, 2, 3, 4}));
    t.length = length;
    Bytes bytes = build_texture(t);
    largest_allocation = 0;
    auto r = Texture::unpack(bytes);
    EXPECT_LT(largest_allocation.load(), 4096u);
    ASSERT_FALSE(r.has_value());
    const DecodeError& e = cause_of(r.error());
    EXPECT_EQ(e.kind, DecodeError::Kind::UnexpectedEnd);
    EXPECT_EQ(e.message, "not enough bytes in reader");
    EXPECT_THAT(e.context, ElementsAre(kSourceData));
  }
}

}  // namespace
}  // namespace kdr
