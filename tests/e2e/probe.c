// The end-to-end tests' pointer probe: an xdg-shell toplevel (app_id "tarvik-probe", made
// fullscreen by the test compositor's rule) that draws a fixed pattern and reports every
// wl_pointer and wl_keyboard event it receives as one line on stdout, flushed at once:
//
//   ready 1280 720                 first frame committed at that size
//   configure 1280 720
//   pointer enter 640.00 360.00    surface-local coordinates
//   pointer leave
//   pointer motion 641.00 360.00
//   pointer button 272 pressed     evdev code, pressed or released
//   pointer axis 0 15.00           axis 0 vertical, 1 horizontal
//   pointer axis_discrete 0 1
//   pointer axis_source 0
//   pointer axis_stop 0
//   pointer frame
//   keyboard enter
//   keyboard leave
//   keyboard key 30 pressed
//
// With --intruder it is instead a small layer surface in the overlay layer that takes the
// keyboard exclusively and inhibits everyone else's input, as a screen locker does: another
// client taking the keyboard away from the daemon's overlay.
//
// The pattern: 40-pixel checkers, light squares tinted by position (red grows to the right,
// green downwards), dark squares near black; a magnified copy is easy to tell apart.
#define _GNU_SOURCE
#include <errno.h>
#include <poll.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include "wlr-input-inhibitor-unstable-v1-client-protocol.h"
#include "wlr-layer-shell-unstable-v1-client-protocol.h"
#include "xdg-shell-client-protocol.h"

struct probe {
  struct wl_display* display;
  struct wl_compositor* compositor;
  struct wl_shm* shm;
  struct wl_seat* seat;
  struct xdg_wm_base* wm_base;
  struct zwlr_layer_shell_v1* layer_shell;
  struct zwlr_layer_surface_v1* layer_surface;
  struct zwlr_input_inhibit_manager_v1* inhibit_manager;
  struct wl_surface* surface;
  struct xdg_surface* xdg_surface;
  struct xdg_toplevel* toplevel;
  struct wl_pointer* pointer;
  struct wl_keyboard* keyboard;
  struct wl_buffer* buffer;
  int32_t pending_width, pending_height;
  int32_t width, height;
  int ready_printed;
  int closed;
};

static void say(const char* format, ...) __attribute__((format(printf, 1, 2)));
static void say(const char* format, ...) {
  va_list args;
  va_start(args, format);
  vprintf(format, args);
  va_end(args);
  putchar('\n');
  fflush(stdout);
}

static void buffer_release(void* data, struct wl_buffer* buffer) {
  (void)data;
  wl_buffer_destroy(buffer);
}

static const struct wl_buffer_listener buffer_listener = {.release = buffer_release};

static void draw(struct probe* probe) {
  int32_t width = probe->width, height = probe->height;
  int32_t stride = width * 4;
  size_t size = (size_t)stride * (size_t)height;
  int fd = memfd_create("tarvik-probe", MFD_CLOEXEC);
  if (fd < 0 || ftruncate(fd, (off_t)size) != 0) {
    fprintf(stderr, "probe: cannot create buffer: %s\n", strerror(errno));
    exit(1);
  }
  uint32_t* pixels = mmap(NULL, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (pixels == MAP_FAILED) {
    fprintf(stderr, "probe: cannot map buffer: %s\n", strerror(errno));
    exit(1);
  }
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      uint32_t pixel;
      if (((x / 40) + (y / 40)) % 2 == 0) {
        uint32_t r = (uint32_t)(x * 255 / (width > 1 ? width - 1 : 1));
        uint32_t g = (uint32_t)(y * 255 / (height > 1 ? height - 1 : 1));
        pixel = 0xff000000u | (r << 16) | (g << 8) | 0xc0u;
      } else {
        pixel = 0xff101010u;
      }
      pixels[(size_t)y * (size_t)width + (size_t)x] = pixel;
    }
  }
  munmap(pixels, size);
  struct wl_shm_pool* pool = wl_shm_create_pool(probe->shm, fd, (int32_t)size);
  struct wl_buffer* buffer =
      wl_shm_pool_create_buffer(pool, 0, width, height, stride, WL_SHM_FORMAT_XRGB8888);
  wl_shm_pool_destroy(pool);
  close(fd);
  wl_buffer_add_listener(buffer, &buffer_listener, NULL);
  wl_surface_attach(probe->surface, buffer, 0, 0);
  wl_surface_damage_buffer(probe->surface, 0, 0, width, height);
  wl_surface_commit(probe->surface);
}

static void xdg_surface_configure(void* data, struct xdg_surface* xdg_surface, uint32_t serial) {
  struct probe* probe = data;
  xdg_surface_ack_configure(xdg_surface, serial);
  int32_t width = probe->pending_width > 0 ? probe->pending_width : 640;
  int32_t height = probe->pending_height > 0 ? probe->pending_height : 480;
  say("configure %d %d", width, height);
  if (width != probe->width || height != probe->height || !probe->ready_printed) {
    probe->width = width;
    probe->height = height;
    draw(probe);
  } else {
    wl_surface_commit(probe->surface);
  }
  if (!probe->ready_printed) {
    probe->ready_printed = 1;
    say("ready %d %d", width, height);
  }
}

static const struct xdg_surface_listener xdg_surface_listener = {
    .configure = xdg_surface_configure};

static void toplevel_configure(void* data, struct xdg_toplevel* toplevel, int32_t width,
                               int32_t height, struct wl_array* states) {
  (void)toplevel;
  (void)states;
  struct probe* probe = data;
  probe->pending_width = width;
  probe->pending_height = height;
}

static void toplevel_close(void* data, struct xdg_toplevel* toplevel) {
  (void)toplevel;
  ((struct probe*)data)->closed = 1;
}

static void toplevel_configure_bounds(void* data, struct xdg_toplevel* toplevel, int32_t width,
                                      int32_t height) {
  (void)data;
  (void)toplevel;
  (void)width;
  (void)height;
}

static void toplevel_wm_capabilities(void* data, struct xdg_toplevel* toplevel,
                                     struct wl_array* capabilities) {
  (void)data;
  (void)toplevel;
  (void)capabilities;
}

static const struct xdg_toplevel_listener toplevel_listener = {
    .configure = toplevel_configure,
    .close = toplevel_close,
    .configure_bounds = toplevel_configure_bounds,
    .wm_capabilities = toplevel_wm_capabilities,
};

static void wm_base_ping(void* data, struct xdg_wm_base* wm_base, uint32_t serial) {
  (void)data;
  xdg_wm_base_pong(wm_base, serial);
}

static const struct xdg_wm_base_listener wm_base_listener = {.ping = wm_base_ping};

static void pointer_enter(void* data, struct wl_pointer* pointer, uint32_t serial,
                          struct wl_surface* surface, wl_fixed_t x, wl_fixed_t y) {
  (void)data;
  (void)pointer;
  (void)serial;
  (void)surface;
  say("pointer enter %.2f %.2f", wl_fixed_to_double(x), wl_fixed_to_double(y));
}

static void pointer_leave(void* data, struct wl_pointer* pointer, uint32_t serial,
                          struct wl_surface* surface) {
  (void)data;
  (void)pointer;
  (void)serial;
  (void)surface;
  say("pointer leave");
}

static void pointer_motion(void* data, struct wl_pointer* pointer, uint32_t time, wl_fixed_t x,
                           wl_fixed_t y) {
  (void)data;
  (void)pointer;
  (void)time;
  say("pointer motion %.2f %.2f", wl_fixed_to_double(x), wl_fixed_to_double(y));
}

static void pointer_button(void* data, struct wl_pointer* pointer, uint32_t serial,
                           uint32_t time, uint32_t button, uint32_t state) {
  (void)data;
  (void)pointer;
  (void)serial;
  (void)time;
  say("pointer button %u %s", button,
      state == WL_POINTER_BUTTON_STATE_PRESSED ? "pressed" : "released");
}

static void pointer_axis(void* data, struct wl_pointer* pointer, uint32_t time, uint32_t axis,
                         wl_fixed_t value) {
  (void)data;
  (void)pointer;
  (void)time;
  say("pointer axis %u %.2f", axis, wl_fixed_to_double(value));
}

static void pointer_frame(void* data, struct wl_pointer* pointer) {
  (void)data;
  (void)pointer;
  say("pointer frame");
}

static void pointer_axis_source(void* data, struct wl_pointer* pointer, uint32_t source) {
  (void)data;
  (void)pointer;
  say("pointer axis_source %u", source);
}

static void pointer_axis_stop(void* data, struct wl_pointer* pointer, uint32_t time,
                              uint32_t axis) {
  (void)data;
  (void)pointer;
  (void)time;
  say("pointer axis_stop %u", axis);
}

static void pointer_axis_discrete(void* data, struct wl_pointer* pointer, uint32_t axis,
                                  int32_t discrete) {
  (void)data;
  (void)pointer;
  say("pointer axis_discrete %u %d", axis, discrete);
}

static const struct wl_pointer_listener pointer_listener = {
    .enter = pointer_enter,
    .leave = pointer_leave,
    .motion = pointer_motion,
    .button = pointer_button,
    .axis = pointer_axis,
    .frame = pointer_frame,
    .axis_source = pointer_axis_source,
    .axis_stop = pointer_axis_stop,
    .axis_discrete = pointer_axis_discrete,
};

static void keyboard_keymap(void* data, struct wl_keyboard* keyboard, uint32_t format, int32_t fd,
                            uint32_t size) {
  (void)data;
  (void)keyboard;
  (void)format;
  (void)size;
  close(fd);
}

static void keyboard_enter(void* data, struct wl_keyboard* keyboard, uint32_t serial,
                           struct wl_surface* surface, struct wl_array* keys) {
  (void)data;
  (void)keyboard;
  (void)serial;
  (void)surface;
  (void)keys;
  say("keyboard enter");
}

static void keyboard_leave(void* data, struct wl_keyboard* keyboard, uint32_t serial,
                           struct wl_surface* surface) {
  (void)data;
  (void)keyboard;
  (void)serial;
  (void)surface;
  say("keyboard leave");
}

static void keyboard_key(void* data, struct wl_keyboard* keyboard, uint32_t serial, uint32_t time,
                         uint32_t key, uint32_t state) {
  (void)data;
  (void)keyboard;
  (void)serial;
  (void)time;
  say("keyboard key %u %s", key,
      state == WL_KEYBOARD_KEY_STATE_PRESSED ? "pressed" : "released");
}

static void keyboard_modifiers(void* data, struct wl_keyboard* keyboard, uint32_t serial,
                               uint32_t depressed, uint32_t latched, uint32_t locked,
                               uint32_t group) {
  (void)data;
  (void)keyboard;
  (void)serial;
  (void)depressed;
  (void)latched;
  (void)locked;
  (void)group;
}

static void keyboard_repeat_info(void* data, struct wl_keyboard* keyboard, int32_t rate,
                                 int32_t delay) {
  (void)data;
  (void)keyboard;
  (void)rate;
  (void)delay;
}

static const struct wl_keyboard_listener keyboard_listener = {
    .keymap = keyboard_keymap,
    .enter = keyboard_enter,
    .leave = keyboard_leave,
    .key = keyboard_key,
    .modifiers = keyboard_modifiers,
    .repeat_info = keyboard_repeat_info,
};

// Devices come and go in the test desktop (virtual keyboards and pointers), so the seat's
// capabilities are followed for the probe's whole life.
static void seat_capabilities(void* data, struct wl_seat* seat, uint32_t capabilities) {
  struct probe* probe = data;
  int has_pointer = (capabilities & WL_SEAT_CAPABILITY_POINTER) != 0;
  int has_keyboard = (capabilities & WL_SEAT_CAPABILITY_KEYBOARD) != 0;
  if (has_pointer && !probe->pointer) {
    probe->pointer = wl_seat_get_pointer(seat);
    wl_pointer_add_listener(probe->pointer, &pointer_listener, probe);
    say("seat pointer added");
  } else if (!has_pointer && probe->pointer) {
    wl_pointer_release(probe->pointer);
    probe->pointer = NULL;
    say("seat pointer removed");
  }
  if (has_keyboard && !probe->keyboard) {
    probe->keyboard = wl_seat_get_keyboard(seat);
    wl_keyboard_add_listener(probe->keyboard, &keyboard_listener, probe);
    say("seat keyboard added");
  } else if (!has_keyboard && probe->keyboard) {
    wl_keyboard_release(probe->keyboard);
    probe->keyboard = NULL;
    say("seat keyboard removed");
  }
}

static void seat_name(void* data, struct wl_seat* seat, const char* name) {
  (void)data;
  (void)seat;
  (void)name;
}

static const struct wl_seat_listener seat_listener = {
    .capabilities = seat_capabilities,
    .name = seat_name,
};

static void registry_global(void* data, struct wl_registry* registry, uint32_t name,
                            const char* interface, uint32_t version) {
  struct probe* probe = data;
  if (strcmp(interface, wl_compositor_interface.name) == 0) {
    probe->compositor = wl_registry_bind(registry, name, &wl_compositor_interface, 4);
  } else if (strcmp(interface, wl_shm_interface.name) == 0) {
    probe->shm = wl_registry_bind(registry, name, &wl_shm_interface, 1);
  } else if (strcmp(interface, wl_seat_interface.name) == 0 && !probe->seat) {
    // Version 7 at most: the discrete axis event is what the tests check.
    probe->seat = wl_registry_bind(registry, name, &wl_seat_interface, version < 7 ? version : 7);
    wl_seat_add_listener(probe->seat, &seat_listener, probe);
  } else if (strcmp(interface, zwlr_input_inhibit_manager_v1_interface.name) == 0) {
    probe->inhibit_manager =
        wl_registry_bind(registry, name, &zwlr_input_inhibit_manager_v1_interface, 1);
  } else if (strcmp(interface, zwlr_layer_shell_v1_interface.name) == 0) {
    probe->layer_shell = wl_registry_bind(registry, name, &zwlr_layer_shell_v1_interface, 1);
  } else if (strcmp(interface, xdg_wm_base_interface.name) == 0) {
    probe->wm_base =
        wl_registry_bind(registry, name, &xdg_wm_base_interface, version < 4 ? version : 4);
    xdg_wm_base_add_listener(probe->wm_base, &wm_base_listener, probe);
  }
}

static void layer_configure(void* data, struct zwlr_layer_surface_v1* surface, uint32_t serial,
                            uint32_t width, uint32_t height) {
  struct probe* probe = data;
  zwlr_layer_surface_v1_ack_configure(surface, serial);
  probe->width = (int32_t)width;
  probe->height = (int32_t)height;
  say("configure %u %u", width, height);
  draw(probe);
  if (!probe->ready_printed) {
    probe->ready_printed = 1;
    say("ready %u %u", width, height);
  }
}

static void layer_closed(void* data, struct zwlr_layer_surface_v1* surface) {
  (void)surface;
  ((struct probe*)data)->closed = 1;
}

static const struct zwlr_layer_surface_v1_listener layer_listener = {
    .configure = layer_configure,
    .closed = layer_closed,
};

static void registry_global_remove(void* data, struct wl_registry* registry, uint32_t name) {
  (void)data;
  (void)registry;
  (void)name;
}

static const struct wl_registry_listener registry_listener = {
    .global = registry_global,
    .global_remove = registry_global_remove,
};

static void start_intruder(struct probe* probe) {
  if (!probe->layer_shell || !probe->inhibit_manager) {
    fprintf(stderr, "probe: the compositor lacks the layer shell or input inhibition\n");
    exit(1);
  }
  probe->layer_surface = zwlr_layer_shell_v1_get_layer_surface(
      probe->layer_shell, probe->surface, NULL, ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY, "intruder");
  zwlr_layer_surface_v1_add_listener(probe->layer_surface, &layer_listener, probe);
  zwlr_layer_surface_v1_set_size(probe->layer_surface, 200, 100);
  zwlr_layer_surface_v1_set_anchor(probe->layer_surface, ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP |
                                                             ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT);
  zwlr_layer_surface_v1_set_keyboard_interactivity(probe->layer_surface, 1);
  zwlr_input_inhibit_manager_v1_get_inhibitor(probe->inhibit_manager);
  wl_surface_commit(probe->surface);
}

static void start_toplevel(struct probe* probe) {
  probe->xdg_surface = xdg_wm_base_get_xdg_surface(probe->wm_base, probe->surface);
  xdg_surface_add_listener(probe->xdg_surface, &xdg_surface_listener, probe);
  probe->toplevel = xdg_surface_get_toplevel(probe->xdg_surface);
  xdg_toplevel_add_listener(probe->toplevel, &toplevel_listener, probe);
  xdg_toplevel_set_app_id(probe->toplevel, "tarvik-probe");
  xdg_toplevel_set_title(probe->toplevel, "tarvik probe");
  wl_surface_commit(probe->surface);
}

int main(int argc, char** argv) {
  struct probe probe = {0};
  probe.display = wl_display_connect(NULL);
  if (!probe.display) {
    fprintf(stderr, "probe: cannot connect to the compositor\n");
    return 1;
  }
  struct wl_registry* registry = wl_display_get_registry(probe.display);
  wl_registry_add_listener(registry, &registry_listener, &probe);
  wl_display_roundtrip(probe.display);
  if (!probe.compositor || !probe.shm || !probe.wm_base || !probe.seat) {
    fprintf(stderr, "probe: the compositor lacks a required global\n");
    return 1;
  }
  probe.surface = wl_compositor_create_surface(probe.compositor);
  if (argc > 1 && strcmp(argv[1], "--intruder") == 0) {
    start_intruder(&probe);
  } else {
    start_toplevel(&probe);
  }

  // Ends when the compositor goes away or stdin closes (the test let go of the probe).
  while (!probe.closed) {
    if (wl_display_dispatch_pending(probe.display) < 0) break;
    if (wl_display_flush(probe.display) < 0 && errno != EAGAIN) break;
    struct pollfd fds[2] = {
        {.fd = wl_display_get_fd(probe.display), .events = POLLIN},
        {.fd = STDIN_FILENO, .events = POLLIN},
    };
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[1].revents & (POLLIN | POLLHUP)) {
      char scratch[256];
      if (read(STDIN_FILENO, scratch, sizeof scratch) <= 0) break;
    }
    if (fds[0].revents & (POLLERR | POLLHUP)) break;
    if (fds[0].revents & POLLIN) {
      if (wl_display_dispatch(probe.display) < 0) break;
    }
  }
  say("exit");
  wl_display_disconnect(probe.display);
  return 0;
}
