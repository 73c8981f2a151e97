#include "kelvadorin/tools/error.hpp"

namespace kdr {

namespace {
template <class... F>
struct Overloaded : F... {
  using F::operator()...;
};
}  // namespace

std::string ToolError::display() const {
  return std::visit(
      Overloaded{
          [](const DatOpen& e) { return fmt::format("cannot open game data file {}: {}", e.path.string(), e.message); },
          [](const DatRead& e) {
            return fmt::format("cannot read record 0x{}: {}", hex_id(e.id), e.source.display());
          },
          [](const KdrWrite& e) { return fmt::format("cannot write archive {}: {}", e.path.string(), e.message); },
          [](const Io& e) { return fmt::format("I/O error: {}", e.io.description()); },
          [](const ProgressStyle& e) { return fmt::format("progress display: {}", e.message); },
          [](const Validation& e) { return e.message; },
          [](const AssetDerivation& e) { return e.message; },
      },
      value_);
}

}  // namespace kdr
