#include "kelvadorin/dat/resource_namespace.hpp"

#include <gtest/gtest.h>

namespace kdr {
namespace {

std::string reason_of(const Result<ResourceNamespace>& r) {
  if (r) return "ok";
  auto* e = r.error().get_if<DatError::InvalidNamespace>();
  return e ? e->reason : "wrong kind: " + r.error().debug();
}

ResourceNamespace::Array array_of(std::string_view bytes) {
  ResourceNamespace::Array a{};
  for (size_t i = 0; i < bytes.size() && i < a.size(); ++i) a[i] = static_cast<std::byte>(bytes[i]);
  return a;
}

TEST(ResourceNamespaceTest, CreateValidatesLabels) {
  std::string two_byte_16, two_byte_17;
  for (int i = 0; i < 16; ++i) two_byte_16 += "\xC3\xA9";
  two_byte_17 = two_byte_16 + "\xC3\xA9";
  std::string thirty_three(33, 'a');
  struct Case {
    std::string label;
    std::string reason;
  } cases[] = {
      {"", "namespace label cannot be empty"},
      {std::string(32, 'a'), "ok"},
      {thirty_three, "namespace label '" + thirty_three + "' exceeds 32 bytes"},
      {two_byte_16, "ok"},
      {two_byte_17, "namespace label '" + two_byte_17 + "' exceeds 32 bytes"},
      {std::string("ab\0cd", 5), std::string("namespace label 'ab\0cd' contains a NUL byte", 43)},
      {"vuz/portal", "ok"},
  };
  for (const auto& c : cases) EXPECT_EQ(reason_of(ResourceNamespace::create(c.label)), c.reason) << c.label;
  EXPECT_EQ(ResourceNamespace::create("").error().display(), "Invalid namespace: namespace label cannot be empty");
}

TEST(ResourceNamespaceTest, ThirtyTwoByteLabelFillsTheArray) {
  auto ns = ResourceNamespace::create(std::string(32, 'q'));
  ASSERT_TRUE(ns);
  for (std::byte b : ns->bytes()) EXPECT_EQ(b, std::byte{'q'});
  EXPECT_EQ(ns->label().size(), 32u);
}

TEST(ResourceNamespaceTest, FromBytesValidatesStoredArrays) {
  ResourceNamespace::Array zero_then_data{};
  zero_then_data[5] = std::byte{'x'};
  struct Case {
    ResourceNamespace::Array bytes;
    std::string reason;
  } cases[] = {
      {array_of(""), "namespace label cannot be empty"},
      {zero_then_data, "namespace bytes must be zero-padded without embedded trailing data"},
      {array_of(std::string("abc\0x", 5)), "namespace bytes must be zero-padded without embedded trailing data"},
      {array_of(std::string(32, 'Z')), "ok"},
      {array_of("\xFF" "abc"), "namespace bytes are not valid UTF-8: invalid utf-8 sequence of 1 bytes from index 0"},
      {array_of("ab\xC3"), "namespace bytes are not valid UTF-8: incomplete utf-8 byte sequence from index 2"},
      {array_of("a\xE2\x82z"), "namespace bytes are not valid UTF-8: invalid utf-8 sequence of 2 bytes from index 1"},
  };
  for (const auto& c : cases) EXPECT_EQ(reason_of(ResourceNamespace::from_bytes(c.bytes)), c.reason);
}

TEST(ResourceNamespaceTest, FromBytesAcceptsWhatCreateBuilds) {
  for (std::string_view label : {"a", "vuz/cell", "kelvadorin/core", "\xE2\x82\xAC/x"}) {
    auto ns = ResourceNamespace::create(label);
    ASSERT_TRUE(ns);
    auto back = ResourceNamespace::from_bytes(ns->bytes());
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, *ns);
    EXPECT_EQ(back->label(), label);
  }
}

TEST(ResourceNamespaceTest, OrdersByteWise) {
  auto ns = [](std::string_view s) { return *ResourceNamespace::create(s); };
  // 'k' (0x6B) sorts before 'v' (0x76).
  EXPECT_LT(ns("kelvadorin/core"), ns("vuz/cell"));
  EXPECT_LT(ns("vuz/cell"), ns("vuz/portal"));
  EXPECT_LT(ns("abc"), ns("abcd"));
  EXPECT_EQ(ns("abc"), ns("abc"));
}

TEST(DatErrorTest, DisplayTexts) {
  struct Case {
    DatError error;
    std::string text;
  } cases[] = {
      {DatError::NotFound{0x4D4F544B}, "File ID 4D4F544B not found in provider"},
      {DatError::NotFound{1}, "File ID 00000001 not found in provider"},
      {DatError::DuplicateId{0x0300DEAD}, "Duplicate File ID 0300DEAD detected"},
      {DatError::DuplicateNamespacedId{"vuz/portal", 0x01000001}, "Duplicate namespaced file vuz/portal:01000001 detected"},
      {DatError::InvalidMagic{"KDR"}, "Invalid magic for format: KDR"},
      {DatError::UnsupportedVersion{3}, "Unsupported version: 3"},
      {DatError::Corruption{"KDR index size overflow"}, "Corruption detected: KDR index size overflow"},
      {DatError::DecompressionFailed{0x0A000001}, "Failed to recover compressed file 0A000001"},
      {DatError::Other{"x"}, "Other error: x"},
      {IoError::unexpected_eof(), "IO error: failed to fill whole buffer"},
      {DecodeError::stream(IoError::write_zero()), "Binary read error: failed to write whole buffer"},
      {DatError::PathError{"/no/such\xFF", IoError::from_errno(2)},
       "Failed to open file at /no/such\xEF\xBF\xBD: No such file or directory (os error 2)"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.error.display(), c.text);
}

TEST(DecodeErrorTest, DescriptionListsCauseThenContextInnermostFirst) {
  DecodeError e = DecodeError::unexpected_end();
  e.add_context("z", "Vector3").add_context("origin", "Frame");
  EXPECT_EQ(e.description(),
            "failed to fill whole buffer\n    While parsing field 'z' in Vector3\n    While parsing field 'origin' in Frame");
  EXPECT_EQ(DecodeError::invalid_value("bad", 12).description(), "bad at position 12");
}

}  // namespace
}  // namespace kdr
