#include "mode/grid_session.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "logging/log.h"
#include "logging/panic.h"

namespace tarvik {

namespace {

constexpr std::uint64_t kMaxU32 = std::numeric_limits<std::uint32_t>::max();

std::uint32_t saturate(std::uint64_t value) {
  return static_cast<std::uint32_t>(std::min(value, kMaxU32));
}

// Breaking the level stack is a bug in the caller, not a condition to recover from.
void require_root(const GridSession& session) {
  TARVIK_ASSERT(!session.levels.empty() && session.views.size() == session.levels.size(),
                "a grid session always has a root level");
}

// Everything a descent needs except the cells themselves.
struct ChildPlan {
  GridRegion region;
  TileSize min_tile;
  std::optional<LensView> view;
};

// The logical size of `output`, as covered by the root level's cells.
std::optional<TileSize> output_extent(const GridSession& session, const std::string& output) {
  std::optional<TileSize> extent;
  for (const GridCell& cell : session.levels.front().cells) {
    if (cell.output != output) continue;
    if (!extent) extent = TileSize{0, 0};
    extent->width = std::max(extent->width, saturate(std::uint64_t{cell.x} + cell.width));
    extent->height = std::max(extent->height, saturate(std::uint64_t{cell.y} + cell.height));
  }
  return extent;
}

// Lens size along one axis: the displayed size times the zoom, rounded half away from zero,
// within 1 .. extent. A zero extent (only possible without a minimum tile size) still gets one
// pixel so that later divisions by the lens size stay defined.
std::uint32_t lens_length(std::uint32_t displayed, double zoom, std::uint32_t extent) {
  double scaled = std::round(static_cast<double>(displayed) * zoom);
  double upper = std::max<double>(extent, 1.0);
  return static_cast<std::uint32_t>(std::clamp(scaled, 1.0, upper));
}

// Centred on the displayed cell's centre, then pushed back inside the output: first off the far
// edge, then off the near one (the lens is never larger than the output, save for the one-pixel
// lens of an empty output, which stays at 0).
std::uint32_t lens_position(std::uint32_t displayed_pos, std::uint32_t displayed_len,
                            std::uint32_t lens_len, std::uint32_t extent) {
  std::int64_t pos = std::int64_t{displayed_pos} + displayed_len / 2 - lens_len / 2;
  pos = std::min(pos, std::int64_t{extent} - lens_len);
  return static_cast<std::uint32_t>(std::max<std::int64_t>(pos, 0));
}

// The level minimum is meant for the enlarged drawing; in true coordinates it shrinks by the
// magnification: max(1, ceil(minimum * cell / lens)).
std::uint32_t child_min(std::uint32_t level_min, std::uint32_t cell_len, std::uint32_t lens_len) {
  std::uint64_t product = std::uint64_t{level_min} * cell_len;  // below 2^64 for 32-bit factors
  std::uint64_t divisor = std::max<std::uint64_t>(lens_len, 1);
  std::uint64_t quotient = product / divisor + (product % divisor != 0 ? 1 : 0);
  return saturate(std::max<std::uint64_t>(quotient, 1));
}

ChildPlan plan_child(const GridSession& session, const GridCell& cell) {
  const TileSize level_min = level_min_tile_size(session);
  ChildPlan plan{GridRegion{cell.output, cell.x, cell.y, cell.width, cell.height}, level_min,
                 std::nullopt};
  // Written as a negation so that a zoom that is not a number also means no lens.
  if (!(session.refinement_zoom > 1.0)) return plan;
  const std::optional<TileSize> extent = output_extent(session, cell.output);
  if (!extent) return plan;

  const Rect shown = displayed_rect(session, cell);
  const double zoom = std::min({session.refinement_zoom,
                                static_cast<double>(extent->width) / std::max(shown.width, 1u),
                                static_cast<double>(extent->height) / std::max(shown.height, 1u)});
  Rect lens;
  lens.width = lens_length(shown.width, zoom, extent->width);
  lens.height = lens_length(shown.height, zoom, extent->height);
  lens.x = lens_position(shown.x, shown.width, lens.width, extent->width);
  lens.y = lens_position(shown.y, shown.height, lens.height, extent->height);

  plan.min_tile = TileSize{child_min(level_min.width, cell.width, lens.width),
                           child_min(level_min.height, cell.height, lens.height)};
  plan.view = LensView{cell.output, cell.rect(), lens};
  return plan;
}

}  // namespace

std::expected<GridSession, GridLayoutError> start_grid_session(std::span<const GridRegion> regions,
                                                               const Config& config,
                                                               const GridOptions& options,
                                                               bool screen_capture_available) {
  const config::Grid& grid = config.grid;
  double zoom = grid.refinement_zoom;
  if (!screen_capture_available) {
    if (zoom > 1.0) {
      TARVIK_LOG(Warn, "tarvik::app",
                 "screen capture unavailable; continuing without magnification");
    }
    zoom = 1.0;
  }

  auto root = layout_grid(regions, grid.max_cells, grid.max_label_length,
                          grid.root_min_tile_width, grid.root_min_tile_height);
  if (!root) return std::unexpected(root.error());

  GridSession session;
  session.levels.push_back(std::move(*root));
  session.views.push_back(std::nullopt);
  session.max_cells = grid.max_cells;
  session.min_tile_width = grid.min_tile_width;
  session.min_tile_height = grid.min_tile_height;
  session.max_label_length = grid.max_label_length;
  session.refinement_zoom = zoom;
  session.root_min_tile_width = grid.root_min_tile_width;
  session.root_min_tile_height = grid.root_min_tile_height;
  session.auto_descend = options.auto_descend.value_or(grid.auto_descend);
  session.exit_on_scroll = grid.exit_on_scroll;
  session.action = options.action;
  session.max_depth = options.max_depth.value_or(grid.max_depth);
  return session;
}

const GridLevel& current_level(const GridSession& session) {
  require_root(session);
  return session.levels.back();
}

const std::optional<LensView>& current_view(const GridSession& session) {
  require_root(session);
  return session.views.back();
}

const GridCell* selected_cell(const GridSession& session) {
  const GridLevel& level = current_level(session);
  if (!session.selected || *session.selected >= level.cells.size()) return nullptr;
  return &level.cells[*session.selected];
}

Rect map_through_view(const std::optional<LensView>& view, const Rect& rect) {
  if (!view) return rect;
  // One axis: the segment [pos, pos + len) of the source, projected onto the lens.
  auto axis = [](std::uint32_t pos, std::uint32_t len, std::uint32_t source_pos,
                 std::uint32_t source_len, std::uint32_t lens_pos, std::uint32_t lens_len) {
    auto project = [&](std::uint64_t p) -> std::uint64_t {
      std::uint64_t offset = p > source_pos ? p - source_pos : 0;
      std::uint64_t scaled = offset * lens_len / std::max(source_len, 1u);
      return saturate(lens_pos + std::uint64_t{saturate(scaled)});
    };
    std::uint64_t start = project(pos);
    std::uint64_t end = project(saturate(std::uint64_t{pos} + len));
    return std::pair<std::uint32_t, std::uint32_t>(
        static_cast<std::uint32_t>(start),
        static_cast<std::uint32_t>(end > start ? end - start : 0));
  };
  const Rect& s = view->source;
  const Rect& l = view->lens;
  auto [x, width] = axis(rect.x, rect.width, s.x, s.width, l.x, l.width);
  auto [y, height] = axis(rect.y, rect.height, s.y, s.height, l.y, l.height);
  return Rect{x, y, width, height};
}

Rect displayed_rect(const GridSession& session, const GridCell& cell) {
  return map_through_view(current_view(session), cell.rect());
}

TileSize level_min_tile_size(const GridSession& session) {
  const std::uint64_t depth = session.levels.size();
  const std::uint64_t divisor = depth >= 32 ? kMaxU32 : std::uint64_t{1} << depth;
  return TileSize{
      std::max(static_cast<std::uint32_t>(session.root_min_tile_width / divisor),
               session.min_tile_width),
      std::max(static_cast<std::uint32_t>(session.root_min_tile_height / divisor),
               session.min_tile_height)};
}

std::expected<std::optional<ChildLevel>, GridLayoutError> build_child_level(
    const GridSession& session, const GridCell& cell) {
  ChildPlan plan = plan_child(session, cell);
  auto level = layout_grid(std::span(&plan.region, 1), session.max_cells,
                           session.max_label_length, plan.min_tile.width, plan.min_tile.height);
  if (!level) {
    if (level.error().kind == GridLayoutError::Kind::RegionTooSmall) return std::nullopt;
    return std::unexpected(level.error());
  }
  // A single child cell would refine nothing.
  if (level->cells.size() < 2) return std::nullopt;
  return ChildLevel{std::move(*level), std::move(plan.view)};
}

namespace {

// The checks descend makes before building anything.
const GridCell* descent_cell(const GridSession& session) {
  const GridCell* cell = selected_cell(session);
  if (cell == nullptr || session.levels.size() >= session.max_depth) return nullptr;
  return cell;
}

}  // namespace

bool descend(GridSession& session) {
  const GridCell* selected = descent_cell(session);
  if (selected == nullptr) return false;
  // A copy: pushing the child level may move the cell's storage.
  const GridCell cell = *selected;
  auto child = build_child_level(session, cell);
  if (!child || !*child) return false;
  session.levels.push_back(std::move((*child)->level));
  session.views.push_back(std::move((*child)->view));
  session.typed.clear();
  session.selected.reset();
  return true;
}

bool can_descend(const GridSession& session) {
  const GridCell* cell = descent_cell(session);
  if (cell == nullptr) return false;
  // Counting gives the same verdict as building the child level, without building its cells.
  ChildPlan plan = plan_child(session, *cell);
  auto cells = count_grid_cells(std::span(&plan.region, 1), session.max_cells,
                                session.max_label_length, plan.min_tile.width,
                                plan.min_tile.height);
  // Any layout error, like a single child cell, means there is nothing to descend into.
  return cells.has_value() && *cells >= 2;
}

bool leave_level(GridSession& session) {
  require_root(session);
  if (session.levels.size() < 2) return false;
  session.levels.pop_back();
  session.views.pop_back();
  session.typed.clear();
  session.selected.reset();
  return true;
}

void drop_magnification(GridSession& session) {
  session.refinement_zoom = 1.0;
  for (std::optional<LensView>& view : session.views) view.reset();
}

GridPoint target_point(const GridCell& cell) {
  return GridPoint{cell.output, saturate(std::uint64_t{cell.x} + cell.width / 2),
                   saturate(std::uint64_t{cell.y} + cell.height / 2)};
}

Effects finish_with_action(const GridSession& session, GridAction action) {
  const GridCell* cell = selected_cell(session);
  // Choose means "wait for an action key"; it has nothing to carry out.
  if (cell == nullptr || action == GridAction::Choose) return {};
  GridPoint target = target_point(*cell);
  Effects effects;
  effects.reserve(3);
  // In-place construction: moving a temporary Effect trips a false uninitialised-use warning.
  auto add = [&effects]<typename E>(E&& e) {
    effects.emplace_back(std::in_place_type<std::remove_cvref_t<E>>, std::forward<E>(e));
  };
  add(effect::MoveTo{std::move(target.output), target.x, target.y});
  auto scroll = [&](ScrollDirection direction) {
    add(effect::Scroll{direction});
    if (session.exit_on_scroll) add(effect::Exit{});
  };
  switch (action) {
    case GridAction::Choose:
      break;
    case GridAction::Move:
      add(effect::Exit{});
      break;
    case GridAction::Mouse:
      add(effect::EnterMouse{});
      break;
    case GridAction::Left:
    case GridAction::Middle:
    case GridAction::Right: {
      const PointerButton button = action == GridAction::Left     ? PointerButton::Left
                                   : action == GridAction::Middle ? PointerButton::Middle
                                                                  : PointerButton::Right;
      add(effect::Click{button});
      add(effect::Exit{});
      break;
    }
    case GridAction::DoubleClick:
      add(effect::DoubleClick{PointerButton::Left});
      add(effect::Exit{});
      break;
    case GridAction::Scroll:
      add(effect::EnterScroll{});
      break;
    case GridAction::ScrollUp:
      scroll(ScrollDirection::Up);
      break;
    case GridAction::ScrollDown:
      scroll(ScrollDirection::Down);
      break;
    case GridAction::ScrollLeft:
      scroll(ScrollDirection::Left);
      break;
    case GridAction::ScrollRight:
      scroll(ScrollDirection::Right);
      break;
  }
  return effects;
}

}  // namespace tarvik
