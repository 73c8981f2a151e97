// Keep rules of the reduced archives: an ordered list of rules, the first
// match keeps an entry, no match drops it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kdr {

// The record kind of an entry; each code equals the high byte of the file
// ids of that kind (and the cell kinds' codes are the converter's own).
enum class DatFileType : uint32_t {
  Model = 0x01,
  Setup = 0x02,
  Animation = 0x03,
  Palette = 0x04,
  SurfaceTexture = 0x05,
  Texture = 0x06,
  Surface = 0x08,
  MotionTable = 0x09,
  Audio = 0x0A,
  Environment = 0x0D,
  Table = 0x0E,
  PaletteSet = 0x0F,
  Clothing = 0x10,
  Kind11 = 0x11,
  Region = 0x13,
  Kind14 = 0x14,
  Kind15 = 0x15,
  SoundTable = 0x20,
  Kind22 = 0x22,
  Kind25 = 0x25,
  Kind27 = 0x27,
  ParticleEmitter = 0x32,
  PhysicsScript = 0x33,
  PhysicsScriptTable = 0x34,
  Kind39 = 0x39,
  Font = 0x40,
  Kind78 = 0x78,
  EnvCell = 0xFD,
  LandblockInfo = 0xFE,
  Landblock = 0xFF,
};

// The kind for a numeric code; codes without a named kind keep their number.
inline DatFileType dat_file_type_from_code(uint32_t code) { return static_cast<DatFileType>(code); }

struct ManifestRule {
  std::optional<std::string> namespace_;  // exact, case-sensitive
  std::optional<uint32_t> file_id;
  std::optional<DatFileType> file_type;
};

// The data table kept by the micro profile that has no named table type.
inline constexpr uint32_t MICRO_TABLE_0E000007_ID = 0x0E000007;

class StripperManifest {
 public:
  StripperManifest() = default;
  explicit StripperManifest(std::vector<ManifestRule> rules) : rules(std::move(rules)) {}

  // Keeps whole record kinds: models, setups, audio, tables, the world, ...
  static StripperManifest logic_only();
  // Keeps five data tables of the portal namespace and nothing else.
  static StripperManifest micro();

  bool should_keep_entry(std::string_view namespace_label, uint32_t file_id, DatFileType file_type) const;

  std::vector<ManifestRule> rules;
};

}  // namespace kdr
