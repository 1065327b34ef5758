// Readable failure output for the grid model's values, and a session builder for the tests.
#pragma once

#include <functional>
#include <ostream>
#include <vector>

#include "config/config.h"
#include "mode/effect.h"
#include "mode/grid_layout.h"
#include "mode/grid_session.h"

namespace tarvik {

void PrintTo(const Effect& effect, std::ostream* os);
void PrintTo(const GridLayoutError& error, std::ostream* os);
void PrintTo(const GridCell& cell, std::ostream* os);
void PrintTo(const Rect& rect, std::ostream* os);
void PrintTo(const LensView& view, std::ostream* os);

namespace testing_support {

// A started session over `regions`; `tweak` edits the configuration first. Fails the test (and
// returns a session with an empty root) when the root layout fails.
GridSession start_session(const std::vector<GridRegion>& regions,
                          const std::function<void(Config&)>& tweak = {},
                          const GridOptions& options = {}, bool screen_capture = true);

// The index of the cell with `label` on the current level; fails the test when there is none.
std::size_t cell_index(const GridSession& session, std::string_view label);

}  // namespace testing_support
}  // namespace tarvik
