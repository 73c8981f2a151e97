// Replaces the global operator new to record the largest single allocation
// made while a probe is alive, so tests can show that counts from the data
// never size storage. Include from exactly one file of a test program.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <new>

namespace kdr::testing {

struct AllocationProbeState {
  bool active = false;
  size_t largest = 0;
};

inline AllocationProbeState& allocation_probe_state() {
  static AllocationProbeState state;
  return state;
}

class AllocationProbe {
 public:
  AllocationProbe() { allocation_probe_state() = {true, 0}; }
  ~AllocationProbe() { allocation_probe_state().active = false; }
  AllocationProbe(const AllocationProbe&) = delete;
  AllocationProbe& operator=(const AllocationProbe&) = delete;
  size_t largest() const { return allocation_probe_state().largest; }
};

}  // namespace kdr::testing

void* operator new(std::size_t size) {
  auto& state = kdr::testing::allocation_probe_state();
  if (state.active && size > state.largest) state.largest = size;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
