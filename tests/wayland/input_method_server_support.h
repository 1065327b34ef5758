// A fake compositor for the input-method grab tests, served from libwayland-server on a thread
// of its own: seats with or without names and keyboards, an optional input-method manager that
// may refuse the seat, and a keyboard grab through which a test sends keymaps, keys, modifiers
// and repeat information. It records the requests it receives, so a test can check what the
// grab sent and in which order.
//
// The environment of the test process points at it (XDG_RUNTIME_DIR, WAYLAND_DISPLAY) for as
// long as it exists, so the grab finds it the way the daemon finds its compositor.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarvik::testing {

class InputMethodCompositor {
 public:
  struct Seat {
    std::optional<std::string> name;  // none: the seat never sends wl_seat.name
    bool keyboard = true;
  };
  struct Options {
    std::vector<Seat> seats{Seat{"seat0", true}};
    bool input_method_manager = true;
    // Answers every get_input_method with unavailable, as when another input method holds it.
    bool seat_taken = false;
  };

  explicit InputMethodCompositor(Options options);
  ~InputMethodCompositor();
  InputMethodCompositor(const InputMethodCompositor&) = delete;
  InputMethodCompositor& operator=(const InputMethodCompositor&) = delete;

  // Requests received, in order: "get_input_method", "grab_keyboard", "grab.release",
  // "input_method.destroy", "manager.destroy".
  std::vector<std::string> requests();
  // Waits (bounded) until `request` has been received; false on timeout.
  bool wait_for_request(const std::string& request,
                        std::chrono::milliseconds timeout = std::chrono::seconds(5));

  // Events to the current keyboard grab (there must be one).
  void send_keymap(std::uint32_t format, const std::string& bytes, std::uint32_t size);
  void send_key(std::uint32_t key, std::uint32_t state);
  void send_modifiers(std::uint32_t depressed, std::uint32_t latched, std::uint32_t locked,
                      std::uint32_t group);
  void send_repeat_info(std::int32_t rate, std::int32_t delay);
  // Events to the current input method.
  void send_unavailable();
  // Changes a seat's keyboard capability and tells every client bound to it.
  void set_keyboard(std::size_t seat, bool keyboard);
  // Drops every client connection.
  void disconnect_clients();

  struct State;

 private:
  // Runs `work` on the server thread and waits for it.
  void run(std::function<void()> work);

  std::unique_ptr<State> state_;
};

}  // namespace tarvik::testing
