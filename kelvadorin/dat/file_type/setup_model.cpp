#include "kelvadorin/dat/file_type/setup_model.hpp"

#include <algorithm>
#include <array>
#include <span>

#include <fmt/format.h>

namespace kdr {

namespace {

// Payload bytes by hook type, padding excluded; -1 marks the variable type 5.
constexpr std::array<int, AnimationHook::MAX_HOOK_TYPE + 1> kHookPayload = {
    0,   // 0
    4,   // 1
    4,   // 2
    28,  // 3
    0,   // 4
    -1,  // 5
    4,   // 6
    16,  // 7
    12,  // 8
    16,  // 9
    12,  // 10
    16,  // 11
    8,   // 12
    40,  // 13
    4,   // 14
    4,   // 15
    4,   // 16
    0,   // 17
    4,   // 18
    8,   // 19
    12,  // 20
    16,  // 21
    12,  // 22
    8,   // 23
    12,  // 24
    4,   // 25
    40,  // 26
};

// `count` (key, V) pairs; each inserted as soon as it is read.
template <class V>
DecodeResult<void> read_keyed(ByteCursor& c, std::unordered_map<uint32_t, V>& out) {
  KDR_ASSIGN_OR_RETURN(uint32_t count, c.read<uint32_t>());
  return read_map<uint32_t, V>(c, count, out);
}

template <class T>
DecodeResult<void> read_counted_list(ByteCursor& c, std::vector<T>& out) {
  KDR_ASSIGN_OR_RETURN(uint32_t count, c.read<uint32_t>());
  return read_list(c, count, out);
}

std::optional<uint32_t> nonzero(uint32_t v) { return v == 0 ? std::nullopt : std::optional<uint32_t>(v); }

}  // namespace

std::optional<uint32_t> AnimationHook::fixed_payload_size(uint32_t hook_type) {
  if (hook_type > MAX_HOOK_TYPE || kHookPayload[hook_type] < 0) return std::nullopt;
  return static_cast<uint32_t>(kHookPayload[hook_type]);
}

DecodeResult<AnimationHook> AnimationHook::read(ByteCursor& c) {
  AnimationHook h;
  KDR_ASSIGN_OR_RETURN(h.hook_type, c.read<uint32_t>());
  KDR_ASSIGN_OR_RETURN(h.hook_word, c.read<uint32_t>());
  if (h.hook_type > MAX_HOOK_TYPE)
    return std::unexpected(DecodeError::invalid_value(
        fmt::format("Unsupported AnimationHook type: 0x{}", hex_id(h.hook_type)), c.position()));

  // The variable type's length is known only after its 16-bit value.
  std::array<std::byte, 3> head{};
  uint64_t body = 0;
  if (auto fixed = fixed_payload_size(h.hook_type)) {
    body = *fixed;
  } else {
    KDR_TRY(c.read_into(head));
    body = load_le<int16_t>(head.data() + 1) < 0 ? 5 : 3;
  }
  // The hook, counted from its first header byte, ends on a multiple of 4.
  const uint64_t padding = (4 - (8 + body) % 4) % 4;

  h.payload.resize(static_cast<size_t>(body + padding));
  std::span<std::byte> rest(h.payload);
  if (h.hook_type == VARIABLE_HOOK_TYPE) {
    std::copy(head.begin(), head.end(), h.payload.begin());
    rest = rest.subspan(head.size());
  }
  KDR_TRY(c.read_into(rest));
  return h;
}

DecodeResult<PlacementType> PlacementType::read(ByteCursor& c, uint32_t num_parts) {
  PlacementType p;
  KDR_TRY(read_list(c, num_parts, p.frames));
  KDR_TRY(read_counted_list(c, p.hooks));
  return p;
}

DecodeResult<SetupModel> SetupModel::unpack(ByteCursor& c) {
  SetupModel s;
  KDR_ASSIGN_OR_RETURN(s.id, c.read<uint32_t>());
  KDR_ASSIGN_OR_RETURN(s.flags, c.read<uint32_t>());
  KDR_ASSIGN_OR_RETURN(const uint32_t num_parts, c.read<uint32_t>());
  KDR_TRY(read_list(c, num_parts, s.parts));
  if ((s.flags & HAS_PART_VALUES) && num_parts > 0) KDR_TRY(read_list(c, num_parts, s.part_values));
  if ((s.flags & HAS_PART_VECTORS) && num_parts > 0) KDR_TRY(read_list(c, num_parts, s.part_vectors));
  KDR_TRY(read_keyed(c, s.locations_a));
  KDR_TRY(read_keyed(c, s.locations_b));

  KDR_ASSIGN_OR_RETURN(const int32_t num_placements, c.read<int32_t>());
  if (num_placements < 0)
    return std::unexpected(DecodeError::invalid_value(
        fmt::format("SetupModel 0x{} declared negative placement count {}", hex_id(s.id), num_placements),
        c.position()));
  // Sized from the count only as far as the remaining bytes could hold entries.
  const uint64_t min_placement = 4 + 28 * static_cast<uint64_t>(num_parts) + 4;
  s.placements.reserve(static_cast<size_t>(
      std::min<uint64_t>(static_cast<uint64_t>(num_placements), c.remaining() / min_placement)));
  for (int32_t i = 0; i < num_placements; ++i) {
    KDR_ASSIGN_OR_RETURN(const uint32_t key, c.read<uint32_t>());
    KDR_ASSIGN_OR_RETURN(PlacementType placement, PlacementType::read(c, num_parts));
    s.placements.insert_or_assign(key, std::move(placement));
  }

  KDR_TRY(read_counted_list(c, s.cyl_spheres));
  KDR_TRY(read_counted_list(c, s.spheres));
  KDR_ASSIGN_OR_RETURN(s.value_a, c.read<uint32_t>());
  KDR_ASSIGN_OR_RETURN(s.value_b, c.read<uint32_t>());
  KDR_ASSIGN_OR_RETURN(s.value_c, c.read<uint32_t>());
  KDR_ASSIGN_OR_RETURN(s.value_d, c.read<uint32_t>());
  KDR_ASSIGN_OR_RETURN(s.sphere_a, decode<Sphere>(c));
  KDR_ASSIGN_OR_RETURN(s.sphere_b, decode<Sphere>(c));
  KDR_TRY(read_keyed(c, s.lights));

  std::optional<uint32_t>* trailing[] = {&s.ref_id_1, &s.ref_id_2, &s.default_motion_table, &s.ref_id_4,
                                         &s.ref_id_5};
  for (std::optional<uint32_t>* id : trailing) {
    KDR_ASSIGN_OR_RETURN(const uint32_t raw, c.read<uint32_t>());
    *id = nonzero(raw);
  }
  return s;
}

}  // namespace kdr
