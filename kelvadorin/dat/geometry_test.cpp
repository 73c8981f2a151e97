#include "kelvadorin/dat/geometry.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>

#include "kelvadorin/dat/graphics.hpp"

namespace kdr {
namespace {

using ::testing::ElementsAreArray;

Bytes hex(std::initializer_list<int> v) {
  Bytes out;
  for (int b : v) out.push_back(static_cast<std::byte>(b));
  return out;
}

TEST(Vector3Test, DecodesAndEncodesTheSameTwelveBytes) {
  Bytes bytes = hex({0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x00, 0x40, 0x00, 0x00, 0x40, 0x40});
  ByteCursor c(bytes);
  auto v = decode<Vector3>(c);
  ASSERT_TRUE(v.has_value());
  EXPECT_EQ(*v, (Vector3{1.0f, 2.0f, 3.0f}));
  EXPECT_EQ(c.position(), 12u);
  MemorySink sink;
  ASSERT_TRUE(write_vector3(sink, *v).has_value());
  EXPECT_EQ(sink.bytes(), bytes);
}

TEST(Vector3Test, NanComponentRoundTripsBitExactly) {
  Bytes bytes = hex({0x01, 0x00, 0xC0, 0x7F, 0, 0, 0, 0, 0, 0, 0, 0});
  ByteCursor c(bytes);
  auto v = decode<Vector3>(c);
  ASSERT_TRUE(v.has_value());
  EXPECT_TRUE(std::isnan(v->x));
  MemorySink sink;
  ASSERT_TRUE(write_vector3(sink, *v).has_value());
  EXPECT_EQ(sink.bytes(), bytes);
}

TEST(QuaternionTest, ScalarPartComesFirst) {
  Bytes bytes = hex({0x00, 0x00, 0x80, 0x3F, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  ByteCursor c(bytes);
  auto q = decode<Quaternion>(c);
  ASSERT_TRUE(q.has_value());
  EXPECT_EQ(*q, (Quaternion{1.0f, 0.0f, 0.0f, 0.0f}));
}

TEST(FrameTest, ConsumesExactlyTwentyEightBytes) {
  Bytes bytes(40, std::byte{0});
  ByteCursor c(bytes);
  ASSERT_TRUE(decode<graphics::Frame>(c).has_value());
  EXPECT_EQ(c.position(), 28u);
}

template <class T>
std::vector<std::string> context_of_cut(size_t length) {
  Bytes bytes(length, std::byte{0});
  ByteCursor c(bytes);
  auto r = decode<T>(c);
  if (r.has_value()) return {"decoded"};
  EXPECT_EQ(r.error().message, "failed to fill whole buffer");
  return r.error().context;
}

TEST(GeometryTest, CutShortFormsNameEveryEnclosingField) {
  EXPECT_THAT(context_of_cut<Vector3>(11), ElementsAreArray({"While parsing field 'z' in Vector3"}));
  EXPECT_THAT(context_of_cut<graphics::Frame>(27),
              ElementsAreArray({"While parsing field 'z' in Quaternion", "While parsing field 'orientation' in Frame"}));
  EXPECT_THAT(context_of_cut<graphics::Frame>(10),
              ElementsAreArray({"While parsing field 'z' in Vector3", "While parsing field 'origin' in Frame"}));
  EXPECT_THAT(context_of_cut<Sphere>(12), ElementsAreArray({"While parsing field 'radius' in Sphere"}));
  EXPECT_THAT(context_of_cut<Sphere>(4),
              ElementsAreArray({"While parsing field 'y' in Vector3", "While parsing field 'center' in Sphere"}));
}

}  // namespace
}  // namespace kdr
