// The byte layout of a built record as the decoder should see it: where each
// field lies and which context entries a decode cut inside it reports. Lets a
// test check every cut-short prefix of a record against one description.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <fmt/format.h>

namespace kdr::testing {

using Context = std::vector<std::string>;

inline std::string entry(std::string_view field, std::string_view type) {
  return fmt::format("While parsing field '{}' in {}", field, type);
}

// `inner` entries followed by the `outer` ones: innermost first.
inline Context within(Context inner, const Context& outer) {
  inner.insert(inner.end(), outer.begin(), outer.end());
  return inner;
}

class FieldLayout {
 public:
  // A field of `width` bytes read whole; a cut inside it fails with `context`.
  FieldLayout& field(size_t width, Context context) {
    spans_.push_back({at_, width, false, std::move(context)});
    at_ += width;
    return *this;
  }
  // Bytes moved over without being read: missing ones are no failure.
  FieldLayout& skipped(size_t width) {
    spans_.push_back({at_, width, true, {}});
    at_ += width;
    return *this;
  }
  FieldLayout& vector3(const Context& outer) {
    for (const char* axis : {"x", "y", "z"}) field(4, within({entry(axis, "Vector3")}, outer));
    return *this;
  }
  FieldLayout& quaternion(const Context& outer) {
    for (const char* axis : {"w", "x", "y", "z"}) field(4, within({entry(axis, "Quaternion")}, outer));
    return *this;
  }
  FieldLayout& frame(const Context& outer) {
    vector3(within({entry("origin", "Frame")}, outer));
    return quaternion(within({entry("orientation", "Frame")}, outer));
  }
  FieldLayout& sphere(const Context& outer) {
    vector3(within({entry("center", "Sphere")}, outer));
    return field(4, within({entry("radius", "Sphere")}, outer));
  }

  size_t size() const { return at_; }

  // The context of decoding only the first `length` bytes: that of the first
  // read field that does not fit, or nullopt when every read field fits.
  std::optional<Context> failure_at(size_t length) const {
    for (const Span& s : spans_)
      if (!s.skipped && s.begin + s.width > length) return s.context;
    return std::nullopt;
  }

 private:
  struct Span {
    size_t begin;
    size_t width;
    bool skipped;
    Context context;
  };
  std::vector<Span> spans_;
  size_t at_ = 0;
};

}  // namespace kdr::testing
