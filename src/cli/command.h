// The command model: what a client asks of the daemon, and how the daemon is started.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

namespace tarvik {

enum class OutputScope { Focused, All };

enum class GridAction {
  Choose,
  Move,
  Mouse,
  Left,
  Middle,
  Right,
  DoubleClick,
  Scroll,
  ScrollUp,
  ScrollDown,
  ScrollLeft,
  ScrollRight,
};

enum class PointerButton { Left, Middle, Right };

enum class ScrollDirection { Up, Down, Left, Right };

enum class LogLevel { Error, Warn, Info, Debug, Trace };

struct DaemonOptions {
  std::optional<std::string> config;
  std::optional<std::string> seat;
  bool operator==(const DaemonOptions&) const = default;
};

// Invariant: `scope` and `output` are never both present.
struct GridOptions {
  std::optional<OutputScope> scope;
  std::optional<std::string> output;
  GridAction action = GridAction::Choose;
  std::optional<bool> auto_descend;
  std::optional<std::uint8_t> max_depth;
  bool operator==(const GridOptions&) const = default;
};

namespace command {
struct Daemon {
  DaemonOptions options;
  bool operator==(const Daemon&) const = default;
};
struct Reload {
  bool operator==(const Reload&) const = default;
};
struct Cancel {
  bool operator==(const Cancel&) const = default;
};
struct Grid {
  GridOptions options;
  bool operator==(const Grid&) const = default;
};
struct Mouse {
  bool operator==(const Mouse&) const = default;
};
struct Click {
  PointerButton button = PointerButton::Left;
  bool operator==(const Click&) const = default;
};
struct Scroll {
  ScrollDirection direction = ScrollDirection::Up;
  std::optional<double> step;
  bool operator==(const Scroll&) const = default;
};
}  // namespace command

// Variants in this order; the order is part of the wire format's array form.
using Command = std::variant<command::Daemon, command::Reload, command::Cancel, command::Grid,
                             command::Mouse, command::Click, command::Scroll>;

}  // namespace tarvik
