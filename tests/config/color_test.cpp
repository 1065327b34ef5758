#include <string>

#include <gtest/gtest.h>

#include "config/config.h"
#include "config_support.h"

namespace tarvik {
namespace {

struct ColorCase {
  std::string text;
  Color expected;
};

TEST(ParseColor, EveryDigitCountAndBothCases) {
  const ColorCase cases[] = {
      {"#fff", {255, 255, 255, 255}},
      {"#ABC", {170, 187, 204, 255}},
      {"#abc", {170, 187, 204, 255}},
      {"#0008", {0, 0, 0, 136}},
      {"#1234", {0x11, 0x22, 0x33, 0x44}},
      {"#22c55e", {0x22, 0xc5, 0x5e, 255}},
      {"#A0b1C2", {0xa0, 0xb1, 0xc2, 255}},
      {"#0f172a80", {0x0f, 0x17, 0x2a, 128}},
      {"#12345600", {0x12, 0x34, 0x56, 0}},
  };
  for (const auto& c : cases) {
    const auto color = parse_color(c.text);
    ASSERT_TRUE(color.has_value()) << c.text << ": " << color.error();
    EXPECT_EQ(*color, c.expected) << c.text;
  }
}

TEST(ParseColor, ErrorsInTheOrderTheyAreChecked) {
  const std::pair<std::string, std::string> cases[] = {
      {"", "color must start with #"},
      {"abc", "color must start with #"},
      {"fff#", "color must start with #"},
      {"#", "color must contain 3, 4, 6, or 8 hexadecimal digits"},
      {"#12", "color must contain 3, 4, 6, or 8 hexadecimal digits"},
      {"#12345", "color must contain 3, 4, 6, or 8 hexadecimal digits"},
      {"#1234567", "color must contain 3, 4, 6, or 8 hexadecimal digits"},
      {"#123456789", "color must contain 3, 4, 6, or 8 hexadecimal digits"},
      // The count comes first, even when the digits are bad too.
      {"#zz", "color must contain 3, 4, 6, or 8 hexadecimal digits"},
      {"#12g", "color contains a non-hexadecimal digit"},
      {"#ff ", "color contains a non-hexadecimal digit"},
      {"#-12", "color contains a non-hexadecimal digit"},
      {"#0x12", "color contains a non-hexadecimal digit"},
      // Bytes are counted: "é" is two, so "#é1" has three digits and fails on the first.
      {"#\xc3\xa9" "1", "color contains a non-hexadecimal digit"},
      {"#\xc3\xa9", "color must contain 3, 4, 6, or 8 hexadecimal digits"},
  };
  for (const auto& [text, message] : cases) {
    const auto color = parse_color(text);
    ASSERT_FALSE(color.has_value()) << text;
    EXPECT_EQ(color.error(), message) << text;
  }
}

TEST(Color, PacksRedIntoTheLowestByte) {
  const Color color{0x11, 0x22, 0x33, 0x44};
  EXPECT_EQ(color.packed(), 0x44332211u);
  EXPECT_EQ(Color::from_packed(0x44332211u), color);
}

TEST(ColorKeys, ReachTheConfigurationAndReportTheirErrorAtTheValue) {
  const auto loaded = config_testing::load_text("[ui]\nlens_border = \"#0008\"\n");
  ASSERT_TRUE(loaded.has_value()) << loaded.error().message();
  EXPECT_EQ(loaded->ui.lens_border, (Color{0, 0, 0, 136}));

  EXPECT_EQ(config_testing::parse_report("[ui]\ngrid_border = \"12g\"\n"),
            "TOML parse error at line 2, column 15\n"
            "  |\n"
            "2 | grid_border = \"12g\"\n"
            "  |               ^^^^^\n"
            "color must start with #");
  EXPECT_EQ(config_testing::parse_report("[ui]\ntarget_ring = 255\n"),
            "TOML parse error at line 2, column 15\n"
            "  |\n"
            "2 | target_ring = 255\n"
            "  |               ^^^\n"
            "invalid type: integer `255`, expected a color string");
}

}  // namespace
}  // namespace tarvik
