#include "wayland/overlay.h"

#include <wayland-client.h>

#include "logging/log.h"
#include "wayland/layer_shell_protocol.h"

namespace tarvik {

namespace {
constexpr std::uint32_t kOverlayLayer = ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY;
constexpr std::uint32_t kAllEdges =
    ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP | ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM |
    ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT | ZWLR_LAYER_SURFACE_V1_ANCHOR_RIGHT;
}  // namespace

OverlaySurface::OverlaySurface(wl_compositor* compositor, zwlr_layer_shell_v1* shell,
                               wl_output* output, std::string name, std::int32_t width,
                               std::int32_t height, Events events)
    : name_(std::move(name)), width_(width), height_(height), events_(std::move(events)) {
  static const zwlr_layer_surface_v1_listener listener = {
      .configure = &OverlaySurface::on_configure,
      .closed = &OverlaySurface::on_closed,
  };
  TARVIK_LOG(Debug, "tarvik::wayland", "creating overlay output={}", name_);
  surface_ = wl_compositor_create_surface(compositor);
  layer_surface_ = zwlr_layer_shell_v1_get_layer_surface(shell, surface_, output, kOverlayLayer,
                                                         "tarvik");
  zwlr_layer_surface_v1_add_listener(layer_surface_, &listener, this);
  zwlr_layer_surface_v1_set_anchor(layer_surface_, kAllEdges);
  // Ignore panels' exclusive zones: the overlay covers the whole output.
  zwlr_layer_surface_v1_set_exclusive_zone(layer_surface_, -1);
  zwlr_layer_surface_v1_set_keyboard_interactivity(layer_surface_, 0);
  zwlr_layer_surface_v1_set_size(layer_surface_, static_cast<std::uint32_t>(width_),
                                 static_cast<std::uint32_t>(height_));
  // An empty input region lets every click fall through to the windows underneath.
  wl_region* region = wl_compositor_create_region(compositor);
  wl_surface_set_input_region(surface_, region);
  wl_region_destroy(region);
  wl_surface_commit(surface_);
}

OverlaySurface::~OverlaySurface() {
  zwlr_layer_surface_v1_destroy(layer_surface_);
  wl_surface_destroy(surface_);
}

void OverlaySurface::set_keyboard_and_size(std::uint32_t interactivity, std::int32_t width,
                                           std::int32_t height) {
  zwlr_layer_surface_v1_set_keyboard_interactivity(layer_surface_, interactivity);
  zwlr_layer_surface_v1_set_size(layer_surface_, static_cast<std::uint32_t>(width),
                                 static_cast<std::uint32_t>(height));
}

void OverlaySurface::commit() { wl_surface_commit(surface_); }

void OverlaySurface::on_configure(void* data, zwlr_layer_surface_v1* surface,
                                  std::uint32_t serial, std::uint32_t, std::uint32_t) {
  auto* self = static_cast<OverlaySurface*>(data);
  zwlr_layer_surface_v1_ack_configure(surface, serial);
  self->configured_ = true;
  TARVIK_LOG(Debug, "tarvik::wayland", "overlay configured output={}", self->name_);
  // A copy: the handler may destroy this overlay (and its handlers) while it runs.
  if (auto configured = self->events_.configured) configured(*self);
}

void OverlaySurface::on_closed(void* data, zwlr_layer_surface_v1*) {
  auto* self = static_cast<OverlaySurface*>(data);
  // A closed layer surface shows nothing again; it must not be drawn into while it remains.
  self->configured_ = false;
  if (auto closed = self->events_.closed) closed(*self);
}

}  // namespace tarvik
