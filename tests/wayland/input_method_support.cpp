#include "input_method_support.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#include <xkbcommon/xkbcommon.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <stdexcept>

namespace tarvik::testing {

std::string us_keymap_text() {
  std::unique_ptr<xkb_context, XkbContextUnref> context(xkb_context_new(XKB_CONTEXT_NO_FLAGS));
  if (!context) throw std::runtime_error("no xkb context");
  const xkb_rule_names names{.rules = "evdev", .model = "pc105", .layout = "us",
                             .variant = nullptr, .options = nullptr};
  std::unique_ptr<xkb_keymap, XkbKeymapUnref> keymap(
      xkb_keymap_new_from_names(context.get(), &names, XKB_KEYMAP_COMPILE_NO_FLAGS));
  if (!keymap) throw std::runtime_error("the US keymap does not compile (is xkb-data installed?)");
  char* text = xkb_keymap_get_as_string(keymap.get(), XKB_KEYMAP_FORMAT_TEXT_V1);
  std::string result(text);
  std::free(text);
  return result;
}

int memfd_with(std::string_view bytes) {
  const int fd = memfd_create("tarvik-test-keymap", MFD_CLOEXEC);
  if (fd < 0) throw std::runtime_error("memfd_create failed");
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) throw std::runtime_error("cannot fill the memfd");
    done += static_cast<std::size_t>(n);
  }
  return fd;
}

GrabState state_with_us_keymap(std::uint64_t generation) {
  GrabState state = make_grab_state(generation);
  std::string text = us_keymap_text();
  text.push_back('\0');
  grab_keymap(state, 1, memfd_with(text), static_cast<std::uint32_t>(text.size()));
  if (!state.keymap || state.error) throw std::runtime_error("the US keymap was refused");
  return state;
}

std::uint32_t modifier_mask(const GrabState& state, const char* name) {
  const xkb_mod_index_t index = xkb_keymap_mod_get_index(state.keymap.get(), name);
  if (index == XKB_MOD_INVALID) throw std::runtime_error("no such modifier");
  return 1u << index;
}

bool descriptor_closed(int fd) { return fcntl(fd, F_GETFD) == -1 && errno == EBADF; }

}  // namespace tarvik::testing
