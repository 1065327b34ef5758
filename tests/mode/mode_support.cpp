#include "mode_support.h"

#include <gtest/gtest.h>

#include <fmt/format.h>

#include "cli/words.h"

namespace tarvik {

namespace {

struct EffectPrinter {
  std::ostream& os;
  void operator()(const effect::Redraw&) const { os << "Redraw"; }
  void operator()(const effect::MoveTo& e) const {
    os << fmt::format("MoveTo({}, {}, {})", e.output, e.x, e.y);
  }
  void operator()(const effect::Click& e) const { os << "Click(" << word(e.button) << ")"; }
  void operator()(const effect::DoubleClick& e) const {
    os << "DoubleClick(" << word(e.button) << ")";
  }
  void operator()(const effect::SetButton& e) const {
    os << "SetButton(" << word(e.button) << (e.release ? ", release)" : ", press)");
  }
  void operator()(const effect::Scroll& e) const {
    os << "Scroll(" << word(e.direction) << ")";
  }
  void operator()(const effect::EnterMouse&) const { os << "EnterMouse"; }
  void operator()(const effect::EnterScroll&) const { os << "EnterScroll"; }
  void operator()(const effect::Exit&) const { os << "Exit"; }
};

}  // namespace

void PrintTo(const Effect& effect, std::ostream* os) { std::visit(EffectPrinter{*os}, effect); }

void PrintTo(const GridLayoutError& error, std::ostream* os) {
  *os << error.name() << " \"" << error.message() << "\"";
}

void PrintTo(const GridCell& cell, std::ostream* os) {
  *os << fmt::format("{} {} ({}, {}, {} x {})", cell.output, cell.label, cell.x, cell.y,
                     cell.width, cell.height);
}

void PrintTo(const Rect& rect, std::ostream* os) {
  *os << fmt::format("({}, {}, {} x {})", rect.x, rect.y, rect.width, rect.height);
}

void PrintTo(const LensView& view, std::ostream* os) {
  *os << view.output << " source ";
  PrintTo(view.source, os);
  *os << " lens ";
  PrintTo(view.lens, os);
}

namespace testing_support {

GridSession start_session(const std::vector<GridRegion>& regions,
                          const std::function<void(Config&)>& tweak, const GridOptions& options,
                          bool screen_capture) {
  Config config;
  if (tweak) tweak(config);
  auto session = start_grid_session(regions, config, options, screen_capture);
  if (!session) {
    ADD_FAILURE() << "root layout failed: " << session.error().message();
    // An empty root keeps the session usable, so the test fails instead of aborting.
    GridSession empty;
    empty.levels.emplace_back();
    empty.views.emplace_back();
    return empty;
  }
  return std::move(*session);
}

std::size_t cell_index(const GridSession& session, std::string_view label) {
  const auto& cells = current_level(session).cells;
  for (std::size_t i = 0; i < cells.size(); ++i) {
    if (cells[i].label == label) return i;
  }
  ADD_FAILURE() << "no cell labelled " << label;
  return 0;
}

}  // namespace testing_support
}  // namespace tarvik
