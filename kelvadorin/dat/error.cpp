#include "kelvadorin/dat/error.hpp"

#include <cstring>

namespace kdr {

IoError IoError::from_errno(int err) {
  return IoError{Kind::Os, err, fmt::format("{} (os error {})", std::strerror(err), err)};
}
IoError IoError::unexpected_eof() { return IoError{Kind::UnexpectedEof, 0, "failed to fill whole buffer"}; }
IoError IoError::write_zero() { return IoError{Kind::WriteZero, 0, "failed to write whole buffer"}; }
IoError IoError::other(std::string message) { return IoError{Kind::Other, 0, std::move(message)}; }

DecodeError DecodeError::unexpected_end() {
  return DecodeError{Kind::UnexpectedEnd, "failed to fill whole buffer", std::nullopt, {}};
}
DecodeError DecodeError::not_enough_bytes() {
  return DecodeError{Kind::UnexpectedEnd, "not enough bytes in reader", std::nullopt, {}};
}
DecodeError DecodeError::stream(const IoError& io) {
  return DecodeError{Kind::StreamError, io.description(), std::nullopt, {}};
}
DecodeError DecodeError::invalid_value(std::string message, uint64_t position) {
  return DecodeError{Kind::InvalidValue, std::move(message), position, {}};
}
DecodeError DecodeError::assertion(std::string message, uint64_t position) {
  return DecodeError{Kind::Assertion, std::move(message), position, {}};
}

DecodeError& DecodeError::add_context(std::string_view field, std::string_view type) {
  context.push_back(fmt::format("While parsing field '{}' in {}", field, type));
  return *this;
}

std::string DecodeError::description() const {
  std::string out = message;
  if (position) out += fmt::format(" at position {}", *position);
  for (const auto& entry : context) {
    out += "\n    ";
    out += entry;
  }
  return out;
}

std::string hex_id(uint32_t id) { return fmt::format("{:08X}", id); }

namespace {

// A path as text, with bytes that are not valid UTF-8 replaced by U+FFFD.
std::string path_text(const std::filesystem::path& path) {
  const std::string& raw = path.native();
  std::string out;
  size_t i = 0;
  while (i < raw.size()) {
    unsigned char c = static_cast<unsigned char>(raw[i]);
    size_t len = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    bool ok = len > 0 && i + len <= raw.size();
    for (size_t k = 1; ok && k < len; ++k)
      ok = (static_cast<unsigned char>(raw[i + k]) & 0xC0) == 0x80;
    if (ok && len > 1) {
      uint32_t cp = c & (0x7F >> len);
      for (size_t k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(raw[i + k]) & 0x3F);
      static constexpr uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
      ok = cp >= kMin[len] && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
    }
    if (ok) {
      out.append(raw, i, len);
      i += len;
    } else {
      out += "\xEF\xBF\xBD";
      ++i;
    }
  }
  return out;
}

template <class... F>
struct Overloaded : F... {
  using F::operator()...;
};

}  // namespace

std::string DatError::display() const {
  return std::visit(
      Overloaded{
          [](const Io& e) { return fmt::format("IO error: {}", e.io.description()); },
          [](const BinRead& e) { return fmt::format("Binary read error: {}", e.cause.description()); },
          [](const NotFound& e) { return fmt::format("File ID {} not found in provider", hex_id(e.file_id)); },
          [](const DuplicateId& e) { return fmt::format("Duplicate File ID {} detected", hex_id(e.file_id)); },
          [](const DuplicateNamespacedId& e) {
            return fmt::format("Duplicate namespaced file {}:{} detected", e.namespace_, hex_id(e.file_id));
          },
          [](const InvalidMagic& e) { return fmt::format("Invalid magic for format: {}", e.name); },
          [](const UnsupportedVersion& e) { return fmt::format("Unsupported version: {}", e.version); },
          [](const InvalidNamespace& e) { return fmt::format("Invalid namespace: {}", e.reason); },
          [](const Corruption& e) { return fmt::format("Corruption detected: {}", e.description); },
          [](const DecompressionFailed& e) {
            return fmt::format("Failed to recover compressed file {}", hex_id(e.file_id));
          },
          [](const PathError& e) {
            return fmt::format("Failed to open file at {}: {}", path_text(e.path), e.source.description());
          },
          [](const Other& e) { return fmt::format("Other error: {}", e.message); },
      },
      value_);
}

std::string DatError::debug() const {
  return std::visit(
      Overloaded{
          [](const Io& e) { return fmt::format("Io({:?})", e.io.description()); },
          [](const BinRead& e) { return fmt::format("BinRead({:?})", e.cause.description()); },
          [](const NotFound& e) { return fmt::format("NotFound(0x{})", hex_id(e.file_id)); },
          [](const DuplicateId& e) { return fmt::format("DuplicateId(0x{})", hex_id(e.file_id)); },
          [](const DuplicateNamespacedId& e) {
            return fmt::format("DuplicateNamespacedId {{ namespace: {:?}, file_id: 0x{} }}", e.namespace_,
                               hex_id(e.file_id));
          },
          [](const InvalidMagic& e) { return fmt::format("InvalidMagic({:?})", e.name); },
          [](const UnsupportedVersion& e) { return fmt::format("UnsupportedVersion({})", e.version); },
          [](const InvalidNamespace& e) { return fmt::format("InvalidNamespace({:?})", e.reason); },
          [](const Corruption& e) { return fmt::format("Corruption({:?})", e.description); },
          [](const DecompressionFailed& e) { return fmt::format("DecompressionFailed(0x{})", hex_id(e.file_id)); },
          [](const PathError& e) {
            return fmt::format("PathError {{ path: {:?}, source: {:?} }}", path_text(e.path), e.source.description());
          },
          [](const Other& e) { return fmt::format("Other({:?})", e.message); },
      },
      value_);
}

}  // namespace kdr
