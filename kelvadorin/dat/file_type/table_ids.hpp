// File ids of the portal data tables that the tools address by name. The
// spell table's id lives on SpellTable itself (spell_table.hpp).
#pragma once

#include <cstdint>

namespace kdr {

struct CharGen {
  static constexpr uint32_t FILE_ID = 0x0E000002;
};

struct SkillTable {
  static constexpr uint32_t FILE_ID = 0x0E000004;
};

struct XpTable {
  static constexpr uint32_t FILE_ID = 0x0E000018;
};

}  // namespace kdr
