// Screen capture with wlr-screencopy: the accepted shared-memory formats and the conversion of
// a copied frame into the plain RGBA image the lens uses.
#pragma once

#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <vector>

namespace tarvik {

namespace shm_format {
inline constexpr std::uint32_t argb8888 = 0;
inline constexpr std::uint32_t xrgb8888 = 1;
inline constexpr std::uint32_t abgr8888 = 0x34324241;  // "AB24"
inline constexpr std::uint32_t xbgr8888 = 0x34324258;  // "XB24"
}  // namespace shm_format

bool capture_format_accepted(std::uint32_t format);

// Converts a copied frame (`stride` bytes per row, `height` rows, y-inverted when the flag is
// set) into width * 4 * height bytes of red, green, blue, alpha, rows top to bottom. Fails when
// the description does not fit the bytes or the format is not accepted.
std::expected<std::vector<std::uint8_t>, std::string> convert_capture(
    std::span<const std::uint8_t> source, std::uint32_t format, std::uint32_t width,
    std::uint32_t height, std::uint32_t stride, bool y_invert);

}  // namespace tarvik
