// A small compositor inside the test program, on its own thread, for testing WaylandDisplay
// against globals, seats and outputs that a real compositor cannot be made to show. Every
// request it receives is recorded as one line ending with the id of the object it went to
// ("wl_surface.attach wl_buffer@12 0 0 #7", "bind wl_seat 8 #5"); it answers
// only what the daemon waits for: seat and output descriptions, layer-surface configures, and
// (when asked) buffer releases. The client end of the connection is handed over through
// WAYLAND_SOCKET.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct wl_interface;

namespace tarvik::fake {

struct FakeSeat {
  std::optional<std::string> name;
  std::uint32_t capabilities = 3;  // pointer and keyboard
};

struct FakeOutput {
  std::optional<std::string> name;
  std::int32_t x = 0;
  std::int32_t y = 0;
  std::int32_t width = 1920;  // current mode
  std::int32_t height = 1080;
  std::int32_t refresh = 60000;
  std::int32_t scale = 1;
  // Sent through xdg-output when the client asks for it.
  std::optional<std::pair<std::int32_t, std::int32_t>> logical_position;
  std::optional<std::pair<std::int32_t, std::int32_t>> logical_size;
};

class FakeCompositor {
 public:
  using GlobalId = std::uint32_t;

  FakeCompositor();
  ~FakeCompositor();
  FakeCompositor(const FakeCompositor&) = delete;
  FakeCompositor& operator=(const FakeCompositor&) = delete;

  // Globals as a wlroots compositor offers them (before or after start()).
  GlobalId add_global(const wl_interface* interface, int version);
  GlobalId add_seat(FakeSeat seat, int version = 8);
  GlobalId add_output(FakeOutput output, int version = 4);
  // The usual set: compositor, shm, layer shell, xdg-output, inhibitor, virtual pointer v2,
  // screencopy v3. Pass interface names to leave out.
  void add_standard_globals(const std::vector<std::string>& except = {});

  // Starts serving and sets WAYLAND_SOCKET for the next connection.
  void start();

  // Runs `task` on the server thread and waits for it.
  void run(const std::function<void()>& task);

  // Changes, each sent to every bound client resource (call after start()).
  void set_seat_capabilities(GlobalId seat, std::uint32_t capabilities);
  void update_output(GlobalId output, FakeOutput description);
  void remove_global(GlobalId id);
  void close_layer_surfaces();
  void post_protocol_error(const std::string& interface, std::uint32_t code,
                           const std::string& message);
  // Releases every attached buffer at the next commit that attaches another one.
  void set_release_buffers(bool release);
  // The seat keyboard: a keymap (xkb text), focus on the first overlay surface, keys and the
  // repeat parameters, sent to the last keyboard the client asked for.
  void send_keymap(const std::string& keymap);
  void keyboard_enter_first_surface();
  void send_key(std::uint32_t code, bool pressed);
  void send_repeat_info(std::int32_t rate, std::int32_t delay);
  void send_modifiers(std::uint32_t depressed, std::uint32_t locked);
  void keyboard_leave_first_surface();

  struct FrameBuffer {
    std::uint32_t format, width, height, stride;
  };
  // The last screencopy frame: its buffer descriptions and buffer_done; then, once the client
  // asked for the copy, the copied bytes (written into the client's buffer), flags and ready;
  // or failed.
  void describe_frame(const std::vector<FrameBuffer>& buffers);
  bool frame_copy_requested() const;
  void finish_frame(const std::vector<std::uint8_t>& bytes, std::uint32_t flags);
  void fail_frame();
  void set_configure_layer_surfaces(bool configure);

  // Recorded requests, in arrival order; bind lines read "bind wl_seat 8".
  std::vector<std::string> requests() const;
  std::vector<std::string> requests_matching(const std::string& prefix) const;
  void clear_requests();
  // The bytes of a buffer created with wl_shm_pool.create_buffer, by its object id.
  std::vector<std::uint8_t> buffer_bytes(std::uint32_t buffer_id) const;

  struct State;

 private:
  GlobalId add_described(const wl_interface* interface, int version, std::optional<FakeSeat> seat,
                         std::optional<FakeOutput> output);
  std::unique_ptr<State> state_;
};

}  // namespace tarvik::fake
