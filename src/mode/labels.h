// Labels and matching: the typed prefix narrows the cells of the current level, a complete
// label selects one, and the back key undoes a letter, a selection or a level.
#pragma once

#include <string_view>

#include "config/config.h"
#include "mode/effect.h"
#include "mode/grid_session.h"

namespace tarvik {

// Whether `typed` is a prefix of `label`; an empty prefix matches every label.
bool label_matches(std::string_view label, std::string_view typed);

// A letter typed while no cell is selected. A letter that continues no label is dropped
// without a redraw.
Effects type_label_letter(GridSession& session, std::string_view letter);

// The back key: unselect (dropping the last letter), else drop the last letter, else leave the
// level; nothing at the root with nothing typed.
Effects go_back(GridSession& session);

// One key press in grid mode, named as the key handling names keys. While a fresh lens capture
// is pending only the cancel binding and "q" act (both leave the mode).
Effects handle_grid_key(GridSession& session, std::string_view key_name,
                        const config::GridBindings& bindings, bool capture_pending);

}  // namespace tarvik
