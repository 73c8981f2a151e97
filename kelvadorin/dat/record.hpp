// The record layer. A record declared field by field decodes its fields in
// order through Record; the first failing field stops the record and gets the
// entry "While parsing field '{field}' in {Type}". Nested records decode
// through the same call, so entries accumulate innermost first:
//
//   Vector3 v;
//   Record r(cursor, "Vector3");
//   r.field("x", v.x).field("y", v.y).field("z", v.z);
//   return r.done(v);
//
// Values decode through Codec<T>::read(ByteCursor&); record types specialise
// Codec next to their definition. Counts from the data are never trusted:
// storage is reserved only as far as the remaining bytes could fill it.
#pragma once

#include <array>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "kelvadorin/dat/byte_cursor.hpp"

namespace kdr {

template <class T>
struct Codec;

template <FixedWidth T>
struct Codec<T> {
  static constexpr uint64_t kMinSize = sizeof(T);
  static DecodeResult<T> read(ByteCursor& c) { return c.read<T>(); }
};

template <size_t N>
struct Codec<std::array<std::byte, N>> {
  static constexpr uint64_t kMinSize = N;
  static DecodeResult<std::array<std::byte, N>> read(ByteCursor& c) {
    std::array<std::byte, N> out{};
    KDR_TRY(c.read_into(out));
    return out;
  }
};

template <class T>
DecodeResult<T> decode(ByteCursor& c) {
  return Codec<T>::read(c);
}

// Smallest number of bytes one T can occupy; bounds reservations from counts.
template <class T>
constexpr uint64_t min_encoded_size() {
  if constexpr (requires { Codec<T>::kMinSize; })
    return Codec<T>::kMinSize > 0 ? Codec<T>::kMinSize : 1;
  else
    return 1;
}

// Reserves room for `count` elements, but never for more than the cursor's
// remaining bytes could hold at `min_size` bytes each.
template <class T>
void reserve_bounded(std::vector<T>& out, uint64_t count, const ByteCursor& c, uint64_t min_size) {
  uint64_t fit = c.remaining() / (min_size ? min_size : 1);
  out.reserve(static_cast<size_t>(std::min(count, fit)));
}

// `count` values of T, decoded one after another.
template <class T>
DecodeResult<void> read_list(ByteCursor& c, uint64_t count, std::vector<T>& out) {
  out.clear();
  reserve_bounded(out, count, c, min_encoded_size<T>());
  for (uint64_t i = 0; i < count; ++i) {
    KDR_ASSIGN_OR_RETURN(T v, Codec<T>::read(c));
    out.push_back(std::move(v));
  }
  return {};
}

// `count` pairs (K, V) into a map; a repeated key replaces the earlier value.
template <class K, class V, class Map>
DecodeResult<void> read_map(ByteCursor& c, uint64_t count, Map& out) {
  for (uint64_t i = 0; i < count; ++i) {
    KDR_ASSIGN_OR_RETURN(K key, Codec<K>::read(c));
    KDR_ASSIGN_OR_RETURN(V value, Codec<V>::read(c));
    out.insert_or_assign(std::move(key), std::move(value));
  }
  return {};
}

class Record {
 public:
  Record(ByteCursor& cursor, std::string_view type) : c_(cursor), type_(type) {}
  Record(const Record&) = delete;
  Record& operator=(const Record&) = delete;

  ByteCursor& cursor() { return c_; }
  bool ok() const { return !error_.has_value(); }

  // One field of type T, decoded by Codec<T>.
  template <class T>
  Record& field(std::string_view name, T& out) {
    if (error_) return *this;
    auto r = Codec<T>::read(c_);
    if (r)
      out = std::move(*r);
    else
      fail_field(name, std::move(r).error());
    return *this;
  }

  // A field present only when `present` holds; otherwise left absent.
  template <class T>
  Record& optional_field(std::string_view name, bool present, std::optional<T>& out) {
    if (!present || error_) return *this;
    T value{};
    field(name, value);
    if (ok()) out = std::move(value);
    return *this;
  }

  // A field decoded by custom code: fn(ByteCursor&) -> DecodeResult<void>.
  template <class Fn>
  Record& field_with(std::string_view name, Fn&& fn) {
    if (error_) return *this;
    DecodeResult<void> r = std::forward<Fn>(fn)(c_);
    if (!r) fail_field(name, std::move(r).error());
    return *this;
  }

  // A list field of `count` elements of T.
  template <class T>
  Record& list(std::string_view name, uint64_t count, std::vector<T>& out) {
    return field_with(name, [&](ByteCursor& c) { return read_list(c, count, out); });
  }

  // A counted run of raw bytes ("not enough bytes in reader" when short).
  Record& bytes(std::string_view name, uint64_t count, Bytes& out) {
    return field_with(name, [&](ByteCursor& c) -> DecodeResult<void> {
      KDR_ASSIGN_OR_RETURN(out, c.read_bytes(count));
      return {};
    });
  }

  // Ends the record with a failure that belongs to no field (a value check
  // between fields); no context entry is added.
  Record& fail(DecodeError e) {
    if (!error_) error_ = std::move(e);
    return *this;
  }

  template <class T>
  DecodeResult<std::decay_t<T>> done(T&& value) {
    if (error_) return std::unexpected(std::move(*error_));
    return std::forward<T>(value);
  }
  DecodeResult<void> status() {
    if (error_) return std::unexpected(std::move(*error_));
    return {};
  }

 private:
  void fail_field(std::string_view name, DecodeError e) {
    e.add_context(name, type_);
    error_ = std::move(e);
  }

  ByteCursor& c_;
  std::string_view type_;
  std::optional<DecodeError> error_;
};

}  // namespace kdr
