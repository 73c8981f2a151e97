#include "kelvadorin/dat/file_type/surface.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kelvadorin/testing/byte_writer.hpp"
#include "kelvadorin/testing/surface_builder.hpp"

namespace kdr {
namespace {

using ::testing::ElementsAreArray;
using testing::build_surface;
using testing::ByteWriter;

const char* const kType = "While parsing field 'surface_type' in Surface";
const char* const kRefs = "While parsing field 'texture_refs' in Surface";
const char* const kColor = "While parsing field 'color_value' in Surface";
const char* const kTrans = "While parsing field 'translucency' in Surface";
const char* const kLum = "While parsing field 'luminosity' in Surface";
const char* const kDiffuse = "While parsing field 'diffuse' in Surface";
const char* const kOrigTex = "While parsing field 'orig_texture_id' in TextureRefs";
const char* const kOrigPal = "While parsing field 'orig_palette_id' in TextureRefs";

TEST(SurfaceTest, DecodesAHandWrittenTexturedRecord) {
  Bytes bytes = ByteWriter()
                    .u32(0x00000106)  // bits beyond 0x2 and 0x4 are kept
                    .u32(0x05000010)
                    .u32(0x04000020)
                    .u32(0x3F000000)
                    .u32(0x00000001)
                    .u32(0xFFFFFFFF)
                    .take();
  auto s = Surface::unpack(bytes);
  ASSERT_TRUE(s.has_value()) << s.error().description();
  EXPECT_EQ(s->surface_type, 0x106u);
  ASSERT_TRUE(s->texture_refs.has_value());
  EXPECT_EQ(s->texture_refs->orig_texture_id, 0x05000010u);
  EXPECT_EQ(s->texture_refs->orig_palette_id, 0x04000020u);
  EXPECT_FALSE(s->color_value.has_value());
  EXPECT_EQ(s->translucency, 0x3F000000u);
  EXPECT_EQ(s->luminosity, 1u);
  EXPECT_EQ(s->diffuse, 0xFFFFFFFFu);
}

// The textured bits alone pick the form: 24 bytes with texture refs, 20 with
// a colour. Each form decodes from exactly its size, ignores what follows,
// and needs its last byte.
TEST(SurfaceTest, TypeBitsChooseBetweenTextureRefsAndColour) {
  struct Case {
    uint32_t surface_type;
    bool textured;
    size_t size;
  };
  const Case cases[] = {
      {0x0, false, 20},        {0x1, false, 20}, {0x2, true, 24},        {0x4, true, 24},
      {0x6, true, 24},         {0x8, false, 20}, {0xFFFFFFF9, false, 20}, {0x80000004, true, 24},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(::testing::Message() << "surface_type " << std::hex << tc.surface_type);
    Surface want;
    want.surface_type = tc.surface_type;
    if (tc.textured)
      want.texture_refs = TextureRefs{0x05000001, 0x04000002};
    else
      want.color_value = 0xFF8040C0;
    want.translucency = 0x11111111;
    want.luminosity = 0x22222222;
    want.diffuse = 0x33333333;

    Bytes bytes = build_surface(want);
    ASSERT_EQ(bytes.size(), tc.size);
    auto exact = Surface::unpack(bytes);
    ASSERT_TRUE(exact.has_value()) << exact.error().description();
    EXPECT_EQ(*exact, want);

    Bytes longer = bytes;
    longer.insert(longer.end(), 7, std::byte{0xEE});
    auto with_trailer = Surface::unpack(longer);
    ASSERT_TRUE(with_trailer.has_value());
    EXPECT_EQ(*with_trailer, want);

    auto cut = Surface::unpack(ByteView(bytes).first(tc.size - 1));
    ASSERT_FALSE(cut.has_value());
    EXPECT_THAT(cut.error().context, ElementsAreArray({kDiffuse}));
  }
}

// Every prefix of each form fails in the field that owns the first missing
// byte, with that field's entries innermost first.
TEST(SurfaceTest, EveryCutShortPrefixNamesTheMissingField) {
  struct Span {
    size_t begin;
    std::vector<std::string> context;
  };
  struct Case {
    const char* name;
    Surface surface;
    std::vector<Span> layout;
  };
  const Case cases[] = {
      {"coloured",
       testing::coloured_surface(0x00FF00FF),
       {{0, {kType}}, {4, {kColor}}, {8, {kTrans}}, {12, {kLum}}, {16, {kDiffuse}}}},
      {"textured",
       testing::textured_surface(0x05000001, 0),
       {{0, {kType}},
        {4, {kOrigTex, kRefs}},
        {8, {kOrigPal, kRefs}},
        {12, {kTrans}},
        {16, {kLum}},
        {20, {kDiffuse}}}},
  };
  for (const Case& tc : cases) {
    Bytes bytes = build_surface(tc.surface);
    for (size_t len = 0; len < bytes.size(); ++len) {
      SCOPED_TRACE(::testing::Message() << tc.name << " cut to " << len << " bytes");
      const Span* owner = &tc.layout.front();
      for (const Span& s : tc.layout)
        if (s.begin <= len) owner = &s;
      auto r = Surface::unpack(ByteView(bytes).first(len));
      ASSERT_FALSE(r.has_value());
      EXPECT_EQ(r.error().kind, DecodeError::Kind::UnexpectedEnd);
      EXPECT_EQ(r.error().message, "failed to fill whole buffer");
      EXPECT_THAT(r.error().context, ElementsAreArray(owner->context));
    }
  }
}

}  // namespace
}  // namespace kdr
