// Shared helpers of the renderer tests: the embedded-font text renderer, pixel reads, sessions
// over simple outputs, and where snapshots go.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "app/backend.h"
#include "config/config.h"
#include "mode/grid_session.h"
#include "render/canvas.h"
#include "render/text_renderer.h"

namespace tarvik::testing {

// A premultiplied pixel as its channels.
struct Pixel {
  std::uint8_t r = 0, g = 0, b = 0, a = 0;
  bool operator==(const Pixel&) const = default;
};

// Reads a pixel of B, G, R, A bytes with rows of width * 4.
Pixel pixel_at(std::span<const std::uint8_t> bytes, std::uint32_t width, std::uint32_t x,
               std::uint32_t y);
Pixel pixel_at(const Canvas& canvas, std::uint32_t x, std::uint32_t y);

// The premultiplied pixel of an opaque or translucent colour.
Pixel premultiplied(Color color);

TextRenderer embedded_text();

// A session over one output at the origin with the given root tile size and capacity.
GridSession session_over(const std::string& output, std::uint32_t width, std::uint32_t height,
                         const Config& config, bool capture = false);

std::vector<OutputRecord> one_output(const std::string& name, std::int32_t width,
                                     std::int32_t height);
std::vector<Overlay> configured(const std::vector<OutputRecord>& outputs);

// A configuration whose colours are far apart and fully transparent where a test does not
// look, so pixel checks see one thing at a time.
Config plain_config();

// A piece of the canvas over an opaque backdrop, enlarged `zoom` times by nearest neighbour,
// written as PNG; for looking at anti-aliasing and glyph placement up close.
bool write_png_detail(Canvas& canvas, std::uint32_t x, std::uint32_t y, std::uint32_t width,
                      std::uint32_t height, int zoom, Color backdrop, const std::string& path);

// Where snapshot images of a test go (created on demand) in the build folder.
std::string snapshot_path(const std::string& name);

}  // namespace tarvik::testing
