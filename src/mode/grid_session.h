// The grid session: the state of grid mode from an accepted grid request until the mode ends.
// A stack of levels (the root over the chosen outputs, then one per refinement inside the cell
// selected above), the lens view of each level, and the typed prefix and selection of the
// current level. Cells keep their true output coordinates whatever the magnification, so the
// point finally acted upon is exact.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "cli/command.h"
#include "config/config.h"
#include "mode/effect.h"
#include "mode/grid_layout.h"
#include "mode/grid_region.h"
#include "mode/rect.h"

namespace tarvik {

// Where a level is drawn magnified: `source` (the parent cell, true coordinates) is shown
// enlarged at `lens` on the same output.
struct LensView {
  std::string output;
  Rect source;
  Rect lens;
  bool operator==(const LensView&) const = default;
};

// Invariant kept by every function below: `levels` is never empty and `views` has one entry
// per level, the root's always absent. `selected`, when present, indexes the current level.
struct GridSession {
  std::optional<std::size_t> selected;
  std::vector<GridLevel> levels;
  std::vector<std::optional<LensView>> views;
  std::string typed;

  // Copied from the configuration and the request when the session starts; a reload does not
  // change a running session.
  std::uint64_t max_cells = 0;
  std::uint32_t min_tile_width = 0;
  std::uint32_t min_tile_height = 0;
  std::uint8_t max_label_length = 0;
  double refinement_zoom = 1.0;
  std::uint32_t root_min_tile_width = 0;
  std::uint32_t root_min_tile_height = 0;
  bool auto_descend = false;
  bool exit_on_scroll = false;
  GridAction action = GridAction::Choose;
  std::uint8_t max_depth = 0;
};

struct TileSize {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  bool operator==(const TileSize&) const = default;
};

// A child level and where it is shown; no view when it is drawn unmagnified.
struct ChildLevel {
  GridLevel level;
  std::optional<LensView> view;
};

// A point in an output's logical coordinates.
struct GridPoint {
  std::string output;
  std::uint32_t x = 0;
  std::uint32_t y = 0;
  bool operator==(const GridPoint&) const = default;
};

// Lays out the root level over `regions` (one per chosen output). Without screen capture the
// session runs unmagnified, and a configured zoom above 1 is reported with a warning.
std::expected<GridSession, GridLayoutError> start_grid_session(std::span<const GridRegion> regions,
                                                               const Config& config,
                                                               const GridOptions& options,
                                                               bool screen_capture_available);

const GridLevel& current_level(const GridSession& session);
const std::optional<LensView>& current_view(const GridSession& session);
// The selected cell of the current level, or null.
const GridCell* selected_cell(const GridSession& session);

// Where `rect` appears when drawn through `view`; unchanged without a view. Saturating.
Rect map_through_view(const std::optional<LensView>& view, const Rect& rect);
// A cell of the current level as it is displayed (mapped through the current view).
Rect displayed_rect(const GridSession& session, const GridCell& cell);

// The minimum tile size of the level a descent would push now.
TileSize level_min_tile_size(const GridSession& session);

// The level a descent into `cell` would push: none when the cell cannot be refined (too small,
// or fewer than 2 child cells); an error for any other layout failure.
std::expected<std::optional<ChildLevel>, GridLayoutError> build_child_level(
    const GridSession& session, const GridCell& cell);

// Pushes a child level inside the selected cell; false (and nothing changed) when there is no
// valid selection, the depth limit is reached or the cell cannot be refined.
bool descend(GridSession& session);
// Whether descend would succeed now; changes nothing.
bool can_descend(const GridSession& session);

// Drops the current level and its view; false (nothing changed) at the root. Clears the
// typed prefix and the selection.
bool leave_level(GridSession& session);

// After a failed lens capture: no magnification for the rest of the session.
void drop_magnification(GridSession& session);

// The centre of a cell, unmagnified.
GridPoint target_point(const GridCell& cell);

// The effects of carrying out `action` at the selected cell; none without a valid selection.
// `action` is never Choose.
Effects finish_with_action(const GridSession& session, GridAction action);

}  // namespace tarvik
