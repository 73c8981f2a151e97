#include "kelvadorin/dat/manifest.hpp"

#include "kelvadorin/dat/file_type/spell_table.hpp"
#include "kelvadorin/dat/file_type/table_ids.hpp"
#include "kelvadorin/dat/resource_namespace.hpp"

namespace kdr {

StripperManifest StripperManifest::logic_only() {
  static constexpr uint32_t kKinds[] = {0x01, 0x02, 0x0A, 0x0D, 0x0E, 0x13, 0x32, 0x33, 0x34, 0x20, 0xFE,
                                        0xFF, 0xFD, 0x0F, 0x11, 0x14, 0x15, 0x22, 0x25, 0x27, 0x39, 0x78};
  std::vector<ManifestRule> rules;
  for (uint32_t code : kKinds) rules.push_back({std::nullopt, std::nullopt, dat_file_type_from_code(code)});
  return StripperManifest(std::move(rules));
}

StripperManifest StripperManifest::micro() {
  std::vector<ManifestRule> rules;
  for (uint32_t id : {CharGen::FILE_ID, MICRO_TABLE_0E000007_ID, SkillTable::FILE_ID, SpellTable::FILE_ID,
                      XpTable::FILE_ID})
    rules.push_back({std::string(VUZ_PORTAL_NAMESPACE), id, std::nullopt});
  return StripperManifest(std::move(rules));
}

bool StripperManifest::should_keep_entry(std::string_view namespace_label, uint32_t file_id,
                                         DatFileType file_type) const {
  for (const auto& rule : rules) {
    if (rule.namespace_ && *rule.namespace_ != namespace_label) continue;
    if (rule.file_id && *rule.file_id != file_id) continue;
    if (rule.file_type && *rule.file_type != file_type) continue;
    return true;
  }
  return false;
}

}  // namespace kdr
