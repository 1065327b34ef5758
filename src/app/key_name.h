// Key names: what a key is called in the bindings and in every KeyEvent.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tarvik {

// `produced` is the text the key produced under the current keyboard state (empty when none);
// `keysym` is its xkb keysym. A single visible character names the key ("a", "A", "é");
// anything else (control characters, white space, several characters) falls back to the
// keysym's standard name without "XK_" ("Return", "space", "BackSpace"), or to the empty name
// for a keysym that has none.
std::string key_name(std::string_view produced, std::uint32_t keysym);

}  // namespace tarvik
