#include "render_support.h"

#include <filesystem>
#include <stdexcept>

namespace tarvik::testing {

Pixel pixel_at(std::span<const std::uint8_t> bytes, std::uint32_t width, std::uint32_t x,
               std::uint32_t y) {
  const std::size_t offset = (std::size_t{y} * width + x) * 4;
  if (offset + 4 > bytes.size()) throw std::out_of_range("pixel outside the frame");
  return Pixel{bytes[offset + 2], bytes[offset + 1], bytes[offset], bytes[offset + 3]};
}

Pixel pixel_at(const Canvas& canvas, std::uint32_t x, std::uint32_t y) {
  return pixel_at(canvas.pixels(), canvas.width(), x, y);
}

Pixel premultiplied(Color color) {
  const std::uint32_t v = premultiplied_pixel(color);
  return Pixel{static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 8),
               static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 24)};
}

TextRenderer embedded_text() {
  auto loaded = load_text_renderer(std::nullopt);
  if (!loaded) throw std::runtime_error(loaded.error().message());
  return std::move(loaded->renderer);
}

GridSession session_over(const std::string& output, std::uint32_t width, std::uint32_t height,
                         const Config& config, bool capture) {
  const GridRegion region{output, 0, 0, width, height};
  auto session = start_grid_session(std::span(&region, 1), config, GridOptions{}, capture);
  if (!session) throw std::runtime_error(session.error().message());
  return std::move(*session);
}

std::vector<OutputRecord> one_output(const std::string& name, std::int32_t width,
                                     std::int32_t height) {
  return {OutputRecord{name, 0, 0, width, height}};
}

std::vector<Overlay> configured(const std::vector<OutputRecord>& outputs) {
  std::vector<Overlay> overlays;
  for (const OutputRecord& output : outputs) {
    overlays.push_back(Overlay{output.name, true, static_cast<std::uint32_t>(output.width),
                               static_cast<std::uint32_t>(output.height)});
  }
  return overlays;
}

Config plain_config() {
  Config config;
  config::Ui& ui = config.ui;
  const Color clear{0, 0, 0, 0};
  ui.overlay_background = clear;
  ui.cell_background = clear;
  ui.label_background = clear;
  ui.grid_border = clear;
  ui.selected_background = clear;
  ui.selected_border = clear;
  ui.label_foreground = Color{0, 255, 0, 255};
  ui.matched_background = Color{255, 0, 0, 255};
  ui.matched_foreground = Color{0, 0, 255, 255};
  ui.show_action_hints = false;
  return config;
}

bool write_png_detail(Canvas& canvas, std::uint32_t x, std::uint32_t y, std::uint32_t width,
                      std::uint32_t height, int zoom, Color backdrop, const std::string& path) {
  auto detail = Canvas::create(width * zoom, height * zoom);
  if (!detail) return false;
  fill_canvas(*detail, backdrop);
  std::span<const std::uint8_t> bytes = canvas.pixels();
  fill_image(*detail, ImageView{bytes, canvas.width(), canvas.height()}, zoom, zoom,
             -static_cast<double>(x) * zoom, -static_cast<double>(y) * zoom);
  return detail->write_png(path);
}

std::string snapshot_path(const std::string& name) {
  const std::filesystem::path dir = std::filesystem::path(TARVIK_BINARY_DIR) / "render-snapshots";
  std::filesystem::create_directories(dir);
  return (dir / name).string();
}

}  // namespace tarvik::testing
