// The daemon's configuration: every table and key of config.toml with its default value, and the
// loader that finds, reads, decodes and checks the file. Field names are the file's keys.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "cli/command.h"

namespace tarvik {

enum class UnmatchedStyle { Keep, Dim, Hide };

enum class MotionCurve { Linear, EaseIn, EaseOut, EaseInOut };

enum class ScrollTarget { Pointer, FocusedWindow };

// Straight (not premultiplied) 8-bit RGBA.
struct Color {
  std::uint8_t r = 0;
  std::uint8_t g = 0;
  std::uint8_t b = 0;
  std::uint8_t a = 255;

  // Red in the lowest byte, alpha in the highest.
  constexpr std::uint32_t packed() const {
    return std::uint32_t{r} | std::uint32_t{g} << 8 | std::uint32_t{b} << 16 |
           std::uint32_t{a} << 24;
  }
  static constexpr Color from_packed(std::uint32_t v) {
    return Color{static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                 static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
  }
  bool operator==(const Color&) const = default;
};

// "#rgb", "#rgba", "#rrggbb" or "#rrggbbaa"; on failure, the text shown to the user.
std::expected<Color, std::string> parse_color(std::string_view text);

namespace config {

struct GeneralConfig {
  OutputScope scope = OutputScope::Focused;
  bool preserve_focus = false;
  // Deprecated; absent and true both mean shortcut inhibition is required.
  std::optional<bool> require_shortcut_inhibit;
  bool operator==(const GeneralConfig&) const = default;
};

struct Grid {
  std::uint32_t root_min_tile_width = 96;
  std::uint32_t root_min_tile_height = 54;
  std::uint32_t min_tile_width = 16;
  std::uint32_t min_tile_height = 16;
  double refinement_zoom = 1.0;
  std::uint8_t max_label_length = 3;
  std::uint8_t max_depth = 4;
  std::uint64_t max_cells = 4096;
  bool auto_descend = false;
  bool exit_on_scroll = false;
  UnmatchedStyle unmatched = UnmatchedStyle::Dim;
  float unmatched_opacity = 0.18f;
  bool operator==(const Grid&) const = default;
};

struct Motion {
  double initial_speed = 60.0;
  double acceleration = 1400.0;
  double max_speed = 1800.0;
  std::uint16_t tick_hz = 120;
  MotionCurve curve = MotionCurve::EaseInOut;
  bool operator==(const Motion&) const = default;
};

struct Scroll {
  double vertical_step = 15.0;
  double horizontal_step = 15.0;
  ScrollTarget target = ScrollTarget::Pointer;
  bool operator==(const Scroll&) const = default;
};

// Each value is one key name.
struct GridBindings {
  std::string left_click = "s";
  std::string middle_click = "d";
  std::string right_click = "f";
  std::string double_click = "c";
  std::string scroll_up = "u";
  std::string scroll_down = "e";
  std::string scroll_left = "y";
  std::string scroll_right = "o";
  std::string enter_mouse = "g";
  std::string move_only = "space";
  std::string descend = "Return";
  std::string back = "BackSpace";
  std::string cancel = "Escape";
  bool operator==(const GridBindings&) const = default;
};

struct MouseBindings {
  std::string left = "h";
  std::string down = "j";
  std::string up = "k";
  std::string right = "l";
  std::string left_button = "s";
  std::string middle_button = "d";
  std::string right_button = "f";
  std::string double_click = "c";
  std::string button_lock = "v";
  std::string scroll_up = "u";
  std::string scroll_down = "e";
  std::string scroll_left = "y";
  std::string scroll_right = "o";
  std::string cancel = "Escape";
  bool operator==(const MouseBindings&) const = default;
};

struct Bindings {
  GridBindings grid;
  MouseBindings mouse;
  bool operator==(const Bindings&) const = default;
};

struct Ui {
  // Absent selects the built-in font choice.
  std::optional<std::string> font_path;
  float font_size = 14.0f;
  Color overlay_background{0x02, 0x06, 0x17, 0x59};
  float lens_scrim_opacity = 0.72f;
  Color lens_border{0xf5, 0x9e, 0x0b, 0xff};
  float lens_border_width = 3.0f;
  std::uint16_t lens_animation_ms = 120;
  float lens_cell_opacity = 0.4f;
  Color cell_background{0x1e, 0x29, 0x3b, 0x26};
  Color grid_border{0xcb, 0xd5, 0xe1, 0x99};
  float grid_border_width = 1.0f;
  Color label_background{0x0f, 0x17, 0x2a, 0x80};
  Color label_foreground{0xf8, 0xfa, 0xfc, 0xff};
  Color matched_background{0xf5, 0x9e, 0x0b, 0xcc};
  Color matched_foreground{0x1c, 0x19, 0x17, 0xff};
  Color selected_background{0x22, 0xc5, 0x5e, 0x38};
  Color selected_border{0x86, 0xef, 0xac, 0xff};
  float selected_border_width = 2.0f;
  Color badge_background{0x0f, 0x17, 0x2a, 0xd9};
  Color badge_foreground{0xf8, 0xfa, 0xfc, 0xff};
  Color badge_border{0xf5, 0x9e, 0x0b, 0xff};
  float badge_border_width = 1.0f;
  Color target_ring{0xf5, 0x9e, 0x0b, 0xff};
  float target_ring_width = 2.5f;
  float target_ring_radius = 16.0f;
  bool show_badge = true;
  bool show_target_ring = true;
  bool show_action_hints = true;
  bool operator==(const Ui&) const = default;
};

}  // namespace config

// A plain value: the controller keeps a copy and replaces it whole on reload.
struct Config {
  config::GeneralConfig general;
  config::Grid grid;
  config::Motion motion;
  config::Scroll scroll;
  config::Bindings bindings;
  config::Ui ui;
  bool operator==(const Config&) const = default;
};

struct ConfigError {
  enum class Kind { Read, Parse, Validation, NoConfigDirectory };

  Kind kind = Kind::NoConfigDirectory;
  // The file concerned (Read, Parse), as given; message() shows it lossily as UTF-8.
  std::string path;
  // The cause's own text: the system error (Read), the TOML reader's report (Parse), or the
  // broken rule (Validation).
  std::string source;

  static ConfigError read(std::string path, std::string source);
  static ConfigError parse(std::string path, std::string source);
  static ConfigError validation(std::string message);
  static ConfigError no_config_directory();

  std::string message() const;
  bool operator==(const ConfigError&) const = default;
};

// The first broken rule's message, if any.
std::expected<void, std::string> validate(const Config& config);

// The file to read: `path` unchanged when given, else the default location from the environment.
std::expected<std::string, ConfigError> config_path(const std::optional<std::string>& path);

// `path` is the daemon's --config; without it the default location is resolved on each call.
std::expected<Config, ConfigError> load_config(const std::optional<std::string>& path);

}  // namespace tarvik
