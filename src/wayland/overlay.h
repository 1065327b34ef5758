// One overlay: a transparent, click-through layer surface in the overlay layer covering one
// output. Created once per output layout, parked (1 x 1, no keyboard) between modes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

struct wl_compositor;
struct wl_output;
struct wl_surface;
struct zwlr_layer_shell_v1;
struct zwlr_layer_surface_v1;

namespace tarvik {

class OverlaySurface {
 public:
  struct Events {
    std::function<void(OverlaySurface&)> configured;
    std::function<void(OverlaySurface&)> closed;
  };

  // Creates and commits the surface (no buffer: the compositor answers with configure).
  OverlaySurface(wl_compositor* compositor, zwlr_layer_shell_v1* shell, wl_output* output,
                 std::string name, std::int32_t width, std::int32_t height, Events events);
  ~OverlaySurface();
  OverlaySurface(const OverlaySurface&) = delete;
  OverlaySurface& operator=(const OverlaySurface&) = delete;

  const std::string& name() const { return name_; }
  std::int32_t width() const { return width_; }
  std::int32_t height() const { return height_; }
  bool configured() const { return configured_; }
  wl_surface* surface() const { return surface_; }
  zwlr_layer_surface_v1* layer_surface() const { return layer_surface_; }

  // 0 none, 1 exclusive; then the size, both applied by the next commit.
  void set_keyboard_and_size(std::uint32_t interactivity, std::int32_t width,
                             std::int32_t height);
  void commit();

 private:
  static void on_configure(void* data, zwlr_layer_surface_v1* surface, std::uint32_t serial,
                           std::uint32_t width, std::uint32_t height);
  static void on_closed(void* data, zwlr_layer_surface_v1* surface);

  std::string name_;
  std::int32_t width_;
  std::int32_t height_;
  bool configured_ = false;
  wl_surface* surface_ = nullptr;
  zwlr_layer_surface_v1* layer_surface_ = nullptr;
  Events events_;
};

}  // namespace tarvik
