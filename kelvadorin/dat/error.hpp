// The data library's failure values: IoError (the operating system layer),
// DecodeError (record decoders and the record writer) and DatError (every
// library operation). Failures are values; nothing here throws or exits.
#pragma once

#include <cstdint>
#include <expected>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include <fmt/format.h>

namespace kdr {

// An input/output failure with its own description, e.g.
// "No such file or directory (os error 2)" or "failed to fill whole buffer".
struct IoError {
  enum class Kind { Os, UnexpectedEof, WriteZero, Other };
  Kind kind = Kind::Other;
  int os_code = 0;  // errno for Kind::Os, else 0
  std::string message;

  static IoError from_errno(int err);
  static IoError unexpected_eof();  // "failed to fill whole buffer"
  static IoError write_zero();      // "failed to write whole buffer"
  static IoError other(std::string message);

  const std::string& description() const { return message; }
  friend bool operator==(const IoError&, const IoError&) = default;
};

// Failure of a record decoder or of the record writer: one cause plus
// "While parsing field '{field}' in {Type}" entries, innermost first.
struct DecodeError {
  enum class Kind { UnexpectedEnd, StreamError, InvalidValue, Assertion };
  Kind kind = Kind::UnexpectedEnd;
  std::string message;               // the cause's text
  std::optional<uint64_t> position;  // InvalidValue and Assertion only
  std::vector<std::string> context;

  static DecodeError unexpected_end();    // a fixed-width field ran out
  static DecodeError not_enough_bytes();  // a counted run of raw bytes ran out
  static DecodeError stream(const IoError& io);
  static DecodeError invalid_value(std::string message, uint64_t position);
  static DecodeError assertion(std::string message, uint64_t position);

  DecodeError& add_context(std::string_view field, std::string_view type);
  // The cause, its position when it has one, then one context entry per line.
  std::string description() const;
};

template <class T>
using DecodeResult = std::expected<T, DecodeError>;

class DatError {
 public:
  struct Io { IoError io; };
  struct BinRead { DecodeError cause; };
  struct NotFound { uint32_t file_id; };
  struct DuplicateId { uint32_t file_id; };
  struct DuplicateNamespacedId { std::string namespace_; uint32_t file_id; };
  struct InvalidMagic { std::string name; };
  struct UnsupportedVersion { uint32_t version; };
  struct InvalidNamespace { std::string reason; };
  struct Corruption { std::string description; };
  struct DecompressionFailed { uint32_t file_id; };
  struct PathError { std::filesystem::path path; IoError source; };
  struct Other { std::string message; };

  // Variant order is the order of the error kinds; index() is the kind number.
  using Value = std::variant<Io, BinRead, NotFound, DuplicateId, DuplicateNamespacedId,
                             InvalidMagic, UnsupportedVersion, InvalidNamespace, Corruption,
                             DecompressionFailed, PathError, Other>;

  template <class V>
    requires std::is_constructible_v<Value, V&&>
  DatError(V&& v) : value_(std::forward<V>(v)) {}  // NOLINT: variants convert implicitly
  // An input/output failure becomes Io; a decode or record-write failure BinRead.
  DatError(IoError io) : value_(Io{std::move(io)}) {}           // NOLINT
  DatError(DecodeError cause) : value_(BinRead{std::move(cause)}) {}  // NOLINT

  static DatError corruption(std::string description) { return Corruption{std::move(description)}; }
  static DatError invalid_namespace(std::string reason) { return InvalidNamespace{std::move(reason)}; }
  static DatError other(std::string message) { return Other{std::move(message)}; }

  const Value& value() const { return value_; }
  size_t kind_index() const { return value_.index(); }
  template <class V>
  bool is() const { return std::holds_alternative<V>(value_); }
  template <class V>
  const V* get_if() const { return std::get_if<V>(&value_); }

  // The display text; what tools print or embed in their own errors.
  std::string display() const;
  // Variant name and payload, for diagnostics only.
  std::string debug() const;

 private:
  Value value_;
};

template <class T>
using Result = std::expected<T, DatError>;
using Status = std::expected<void, DatError>;

// Eight upper-case hex digits, zero-padded: the form of every file id in messages.
std::string hex_id(uint32_t id);

}  // namespace kdr

// Propagation helpers (this libstdc++ has no monadic std::expected members).
// KDR_TRY(expr): return the error of expr, converted to the function's error type.
// KDR_ASSIGN_OR_RETURN(lhs, expr): as KDR_TRY, binding the value to lhs.
#define KDR_CONCAT_INNER(a, b) a##b
#define KDR_CONCAT(a, b) KDR_CONCAT_INNER(a, b)
#define KDR_TRY(expr)                                         \
  do {                                                        \
    auto&& kdr_try_result_ = (expr);                          \
    if (!kdr_try_result_)                                     \
      return std::unexpected(std::move(kdr_try_result_).error()); \
  } while (0)
#define KDR_ASSIGN_OR_RETURN_IMPL(tmp, lhs, expr)             \
  auto tmp = (expr);                                          \
  if (!tmp) return std::unexpected(std::move(tmp).error());   \
  lhs = std::move(*tmp)
#define KDR_ASSIGN_OR_RETURN(lhs, expr) \
  KDR_ASSIGN_OR_RETURN_IMPL(KDR_CONCAT(kdr_result_, __LINE__), lhs, expr)

template <>
struct fmt::formatter<kdr::DatError> : fmt::formatter<std::string_view> {
  auto format(const kdr::DatError& e, fmt::format_context& ctx) const {
    return fmt::formatter<std::string_view>::format(e.display(), ctx);
  }
};
template <>
struct fmt::formatter<kdr::DecodeError> : fmt::formatter<std::string_view> {
  auto format(const kdr::DecodeError& e, fmt::format_context& ctx) const {
    return fmt::formatter<std::string_view>::format(e.description(), ctx);
  }
};
