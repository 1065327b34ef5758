// Fixtures for the input-method grab tests: a real US keymap as the compositor would send it,
// descriptors holding given bytes, and a grab state that has already accepted the keymap.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "input_method/grab_state.h"

namespace tarvik::testing {

// The text of the evdev/pc105/us keymap, without a terminating zero byte.
std::string us_keymap_text();

// An anonymous file holding exactly `bytes`, its offset at the end (as after a write).
int memfd_with(std::string_view bytes);

// A grab state for `generation` that has taken the US keymap through grab_keymap.
GrabState state_with_us_keymap(std::uint64_t generation = 1);

// The modifier mask of one named modifier ("Shift", "Lock") in the state's keymap.
std::uint32_t modifier_mask(const GrabState& state, const char* name);

// True when `fd` no longer names an open descriptor.
bool descriptor_closed(int fd);

}  // namespace tarvik::testing
