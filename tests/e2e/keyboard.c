// The end-to-end tests' keyboard: one virtual keyboard (zwp_virtual_keyboard_v1, US layout)
// that stays plugged in for the whole test, so focus does not move each time a key is typed.
// Commands arrive as lines on stdin; each is answered with "ok" once the compositor has
// processed it (a roundtrip), or with "error <text>":
//
//   tap a           press and release the key producing that keysym name
//   down Right      press and hold
//   up Right        release
//   code 30 down    by evdev key code (down, up or tap)
//
// "ready" is printed once the keyboard exists. Closing stdin unplugs the keyboard and exits.
// With --pointer it also plugs in an idle virtual pointer, so the seat has a pointer (and its
// clients a wl_pointer) without the daemon's own.
#define _GNU_SOURCE
#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include "virtual-keyboard-unstable-v1-client-protocol.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

static struct wl_seat* seat;
static struct zwp_virtual_keyboard_manager_v1* manager;
static struct zwlr_virtual_pointer_manager_v1* pointer_manager;
static struct xkb_keymap* keymap;

static void registry_global(void* data, struct wl_registry* registry, uint32_t name,
                            const char* interface, uint32_t version) {
  (void)data;
  (void)version;
  if (strcmp(interface, wl_seat_interface.name) == 0 && !seat) {
    seat = wl_registry_bind(registry, name, &wl_seat_interface, 1);
  } else if (strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0) {
    manager = wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1);
  } else if (strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0) {
    pointer_manager =
        wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1);
  }
}

static void registry_global_remove(void* data, struct wl_registry* registry, uint32_t name) {
  (void)data;
  (void)registry;
  (void)name;
}

static const struct wl_registry_listener registry_listener = {
    .global = registry_global,
    .global_remove = registry_global_remove,
};

static uint32_t now_ms(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (uint32_t)(ts.tv_sec * 1000 + ts.tv_nsec / 1000000);
}

// The evdev code of the first key whose first level in the first layout yields the keysym.
static int code_for_keysym(xkb_keysym_t wanted, uint32_t* code) {
  xkb_keycode_t min = xkb_keymap_min_keycode(keymap), max = xkb_keymap_max_keycode(keymap);
  for (xkb_keycode_t keycode = min; keycode <= max; ++keycode) {
    const xkb_keysym_t* syms;
    int n = xkb_keymap_key_get_syms_by_level(keymap, keycode, 0, 0, &syms);
    for (int i = 0; i < n; ++i) {
      if (syms[i] == wanted) {
        *code = keycode - 8;
        return 1;
      }
    }
  }
  return 0;
}

static int send_keymap(struct zwp_virtual_keyboard_v1* keyboard) {
  struct xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
  struct xkb_rule_names names = {.rules = "evdev", .model = "pc105", .layout = "us"};
  keymap = xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
  if (!keymap) return 0;
  char* text = xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1);
  size_t size = strlen(text) + 1;
  int fd = memfd_create("tarvik-e2e-keymap", MFD_CLOEXEC);
  if (fd < 0 || write(fd, text, size) != (ssize_t)size) return 0;
  free(text);
  zwp_virtual_keyboard_v1_keymap(keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd, (uint32_t)size);
  close(fd);
  xkb_context_unref(context);
  return 1;
}

int main(int argc, char** argv) {
  int with_pointer = argc > 1 && strcmp(argv[1], "--pointer") == 0;
  struct wl_display* display = wl_display_connect(NULL);
  if (!display) {
    fprintf(stderr, "keyboard: cannot connect to the compositor\n");
    return 1;
  }
  struct wl_registry* registry = wl_display_get_registry(display);
  wl_registry_add_listener(registry, &registry_listener, NULL);
  wl_display_roundtrip(display);
  if (!seat || !manager) {
    fprintf(stderr, "keyboard: the compositor lacks a seat or virtual keyboards\n");
    return 1;
  }
  struct zwp_virtual_keyboard_v1* keyboard =
      zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(manager, seat);
  if (!send_keymap(keyboard)) {
    fprintf(stderr, "keyboard: cannot build the keymap\n");
    return 1;
  }
  struct zwlr_virtual_pointer_v1* pointer = NULL;
  if (with_pointer) {
    if (!pointer_manager) {
      fprintf(stderr, "keyboard: the compositor lacks virtual pointers\n");
      return 1;
    }
    pointer = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(pointer_manager, seat);
  }
  if (wl_display_roundtrip(display) < 0) return 1;
  printf("ready\n");
  fflush(stdout);

  char line[256];
  while (fgets(line, sizeof line, stdin)) {
    char verb[32] = {0}, arg[64] = {0}, extra[32] = {0};
    int fields = sscanf(line, "%31s %63s %31s", verb, arg, extra);
    if (fields < 1) continue;
    uint32_t code = 0;
    const char* action = verb;
    if (strcmp(verb, "code") == 0 && fields == 3) {
      code = (uint32_t)strtoul(arg, NULL, 10);
      action = extra;
    } else if (fields == 2) {
      xkb_keysym_t sym = xkb_keysym_from_name(arg, XKB_KEYSYM_NO_FLAGS);
      if (sym == XKB_KEY_NoSymbol || !code_for_keysym(sym, &code)) {
        printf("error unknown key %s\n", arg);
        fflush(stdout);
        continue;
      }
    } else {
      printf("error bad command\n");
      fflush(stdout);
      continue;
    }
    int press = strcmp(action, "down") == 0 || strcmp(action, "tap") == 0;
    int release = strcmp(action, "up") == 0 || strcmp(action, "tap") == 0;
    if (!press && !release) {
      printf("error unknown action %s\n", action);
      fflush(stdout);
      continue;
    }
    if (press) zwp_virtual_keyboard_v1_key(keyboard, now_ms(), code, WL_KEYBOARD_KEY_STATE_PRESSED);
    if (release) {
      zwp_virtual_keyboard_v1_key(keyboard, now_ms(), code, WL_KEYBOARD_KEY_STATE_RELEASED);
    }
    if (wl_display_roundtrip(display) < 0) {
      fprintf(stderr, "keyboard: connection lost: %s\n", strerror(errno));
      return 1;
    }
    printf("ok\n");
    fflush(stdout);
  }
  zwp_virtual_keyboard_v1_destroy(keyboard);
  if (pointer) zwlr_virtual_pointer_v1_destroy(pointer);
  wl_display_roundtrip(display);
  // Every proxy goes before the connection, so a sanitizer build reports no leak.
  if (pointer_manager) zwlr_virtual_pointer_manager_v1_destroy(pointer_manager);
  zwp_virtual_keyboard_manager_v1_destroy(manager);
  wl_seat_destroy(seat);
  wl_registry_destroy(registry);
  xkb_keymap_unref(keymap);
  wl_display_disconnect(display);
  return 0;
}
