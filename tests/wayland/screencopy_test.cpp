#include "wayland/screencopy.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace tarvik {
namespace {

using Bytes = std::vector<std::uint8_t>;

// One 2 x 1 frame in every accepted format: memory bytes and the RGBA image expected.
TEST(ConvertCapture, MapsEachAcceptedFormatToRgba) {
  struct Case {
    const char* name;
    std::uint32_t format;
    Bytes memory;
    Bytes image;
  };
  const std::vector<Case> cases = {
      {"argb8888", shm_format::argb8888, {1, 2, 3, 4, 5, 6, 7, 8}, {3, 2, 1, 4, 7, 6, 5, 8}},
      {"xrgb8888", shm_format::xrgb8888, {1, 2, 3, 4, 5, 6, 7, 8}, {3, 2, 1, 255, 7, 6, 5, 255}},
      {"abgr8888", shm_format::abgr8888, {1, 2, 3, 4, 5, 6, 7, 8}, {1, 2, 3, 4, 5, 6, 7, 8}},
      {"xbgr8888", shm_format::xbgr8888, {1, 2, 3, 4, 5, 6, 7, 8}, {1, 2, 3, 255, 5, 6, 7, 255}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto image = convert_capture(c.memory, c.format, 2, 1, 8, false);
    ASSERT_TRUE(image) << image.error();
    EXPECT_EQ(*image, c.image);
  }
}

TEST(ConvertCapture, RefusesOtherFormats) {
  Bytes memory(16);
  EXPECT_FALSE(capture_format_accepted(0x34325241));  // RA24
  EXPECT_FALSE(convert_capture(memory, 0x34325241, 2, 2, 8, false));
}

// Rows padded to a 12-byte stride; only the first width pixels of each row are read.
TEST(ConvertCapture, ReadsEachRowAtItsStrideAndHonoursYInvert) {
  Bytes memory = {10, 11, 12, 13, 99, 99, 99, 99, 99, 99, 99, 99,
                  20, 21, 22, 23, 98, 98, 98, 98, 98, 98, 98, 98};
  auto upright = convert_capture(memory, shm_format::abgr8888, 1, 2, 12, false);
  ASSERT_TRUE(upright);
  EXPECT_EQ(*upright, (Bytes{10, 11, 12, 13, 20, 21, 22, 23}));
  auto inverted = convert_capture(memory, shm_format::abgr8888, 1, 2, 12, true);
  ASSERT_TRUE(inverted);
  EXPECT_EQ(*inverted, (Bytes{20, 21, 22, 23, 10, 11, 12, 13}));
}

TEST(ConvertCapture, RefusesDescriptionsThatDoNotFitTheMemory) {
  Bytes memory(32);
  EXPECT_FALSE(convert_capture(memory, shm_format::argb8888, 4, 2, 12, false)) << "stride";
  EXPECT_FALSE(convert_capture(memory, shm_format::argb8888, 4, 3, 16, false)) << "rows";
  EXPECT_FALSE(convert_capture(memory, shm_format::argb8888, 2, 0x40000001u, 8, false));
  EXPECT_TRUE(convert_capture(memory, shm_format::argb8888, 4, 2, 16, false));
}

}  // namespace
}  // namespace tarvik
