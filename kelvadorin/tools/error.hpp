// The tool operations' error: a tagged union whose variants carry their texts.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <variant>

#include "kelvadorin/dat/error.hpp"

namespace kdr {

class ToolError {
 public:
  struct DatOpen { std::filesystem::path path; std::string message; };
  struct DatRead { uint32_t id; DatError source; };
  struct KdrWrite { std::filesystem::path path; std::string message; };
  struct Io { IoError io; };
  struct ProgressStyle { std::string message; };
  struct Validation { std::string message; };
  struct AssetDerivation { std::string message; };
  using Value = std::variant<DatOpen, DatRead, KdrWrite, Io, ProgressStyle, Validation, AssetDerivation>;

  template <class V>
    requires std::is_constructible_v<Value, V&&>
  ToolError(V&& v) : value_(std::forward<V>(v)) {}  // NOLINT: variants convert implicitly
  ToolError(IoError io) : value_(Io{std::move(io)}) {}  // NOLINT

  static ToolError validation(std::string m) { return Validation{std::move(m)}; }
  static ToolError asset_derivation(std::string m) { return AssetDerivation{std::move(m)}; }

  const Value& value() const { return value_; }
  template <class V>
  bool is() const { return std::holds_alternative<V>(value_); }
  template <class V>
  const V* get_if() const { return std::get_if<V>(&value_); }

  // The text a user sees after "kdr: error: ".
  std::string display() const;

 private:
  Value value_;
};

template <class T>
using ToolResult = std::expected<T, ToolError>;

}  // namespace kdr

template <>
struct fmt::formatter<kdr::ToolError> : fmt::formatter<std::string_view> {
  auto format(const kdr::ToolError& e, fmt::format_context& ctx) const {
    return fmt::formatter<std::string_view>::format(e.display(), ctx);
  }
};
