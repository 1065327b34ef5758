#include "wayland/fake_compositor.h"

#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>
#include <wayland-server.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <future>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>

#include <fmt/format.h>

// The interface tables of the protocols outside the core, from the generated client code (the
// tables are the same on both sides of a connection).
extern "C" {
extern const struct wl_interface zwlr_layer_shell_v1_interface;
extern const struct wl_interface zxdg_output_manager_v1_interface;
extern const struct wl_interface zwp_keyboard_shortcuts_inhibit_manager_v1_interface;
extern const struct wl_interface zwlr_virtual_pointer_manager_v1_interface;
extern const struct wl_interface zwlr_screencopy_manager_v1_interface;
}

namespace tarvik::fake {

namespace {

// Event opcodes, in the order of the protocol definitions.
constexpr std::uint32_t kSeatCapabilities = 0, kSeatName = 1;
constexpr std::uint32_t kOutputGeometry = 0, kOutputMode = 1, kOutputDone = 2, kOutputScale = 3,
                        kOutputName = 4;
constexpr std::uint32_t kXdgLogicalPosition = 0, kXdgLogicalSize = 1, kXdgDone = 2,
                        kXdgName = 3;
constexpr std::uint32_t kLayerConfigure = 0, kLayerClosed = 1;
constexpr std::uint32_t kBufferRelease = 0;
constexpr std::uint32_t kKeyboardKeymap = 0, kKeyboardEnter = 1, kKeyboardKey = 3,
                        kKeyboardModifiers = 4, kKeyboardRepeatInfo = 5,
                        kKeyboardLeave = 2;
constexpr std::uint32_t kFrameBuffer = 0, kFrameFlags = 1, kFrameReady = 2, kFrameFailed = 3,
                        kFrameBufferDone = 6;

struct Global {
  FakeCompositor::GlobalId id = 0;
  wl_global* global = nullptr;
  const wl_interface* interface = nullptr;
  std::optional<FakeSeat> seat;
  std::optional<FakeOutput> output;
  std::vector<wl_resource*> resources;
};

struct Buffer {
  int pool_fd = -1;
  std::int32_t offset = 0, width = 0, height = 0, stride = 0;
};

std::string object_text(wl_resource* resource) {
  if (!resource) return "null";
  return fmt::format("{}@{}", wl_resource_get_class(resource), wl_resource_get_id(resource));
}

}  // namespace

struct GlobalBinding {
  FakeCompositor::State* state;
  Global* global;
};

struct FakeCompositor::State {
  wl_display* display = nullptr;
  wl_event_loop* loop = nullptr;
  int client_fd = -1;
  std::thread thread;
  std::atomic<bool> running{false};

  mutable std::mutex mutex;  // guards requests and tasks
  std::vector<std::string> requests;
  std::vector<std::pair<std::function<void()>, std::promise<void>*>> tasks;

  std::map<GlobalId, std::unique_ptr<Global>> globals;
  std::vector<std::unique_ptr<GlobalBinding>> bindings;
  GlobalId next_global = 1;
  std::map<wl_resource*, int> pool_fds;
  std::map<std::uint32_t, Buffer> buffers;
  std::map<wl_resource*, wl_resource*> layer_of_surface;
  std::vector<wl_resource*> configured;
  std::map<wl_resource*, wl_resource*> pending_buffer;
  std::map<wl_resource*, wl_resource*> committed_buffer;
  std::map<wl_resource*, Global*> xdg_outputs;  // zxdg_output_v1 -> its output's global
  std::vector<wl_resource*> keyboards;
  std::vector<wl_resource*> frames;
  std::map<wl_resource*, std::uint32_t> copy_target;  // frame -> buffer id
  std::vector<wl_resource*> surfaces;
  bool release_buffers = false;
  bool configure_layers = true;
  std::uint32_t serial = 1;

  void record(std::string line) {
    std::lock_guard lock(mutex);
    requests.push_back(std::move(line));
  }

  Global* global_of(wl_resource* resource) {
    for (auto& [id, global] : globals) {
      if (std::find(global->resources.begin(), global->resources.end(), resource) !=
          global->resources.end()) {
        return global.get();
      }
    }
    return nullptr;
  }

  void forget(wl_resource* resource) {
    for (auto& [id, global] : globals) std::erase(global->resources, resource);
    if (auto it = pool_fds.find(resource); it != pool_fds.end()) {
      close(it->second);
      pool_fds.erase(it);
    }
    std::erase_if(layer_of_surface, [&](const auto& e) {
      return e.first == resource || e.second == resource;
    });
    std::erase(configured, resource);
    std::erase_if(pending_buffer,
                  [&](const auto& e) { return e.first == resource || e.second == resource; });
    std::erase_if(committed_buffer,
                  [&](const auto& e) { return e.first == resource || e.second == resource; });
    xdg_outputs.erase(resource);
    std::erase(keyboards, resource);
    std::erase(frames, resource);
    copy_target.erase(resource);
    std::erase(surfaces, resource);
  }

  void send_seat(wl_resource* resource, const FakeSeat& seat) {
    wl_resource_post_event(resource, kSeatCapabilities, seat.capabilities);
    if (seat.name && wl_resource_get_version(resource) >= 2) {
      wl_resource_post_event(resource, kSeatName, seat.name->c_str());
    }
  }

  void send_xdg(wl_resource* xdg, const FakeOutput& output) {
    if (output.logical_position) {
      wl_resource_post_event(xdg, kXdgLogicalPosition, output.logical_position->first,
                             output.logical_position->second);
    }
    if (output.logical_size) {
      wl_resource_post_event(xdg, kXdgLogicalSize, output.logical_size->first,
                             output.logical_size->second);
    }
    if (output.name && wl_resource_get_version(xdg) >= 2) {
      wl_resource_post_event(xdg, kXdgName, output.name->c_str());
    }
    if (wl_resource_get_version(xdg) < 3) wl_resource_post_event(xdg, kXdgDone);
  }

  void send_output(wl_resource* resource, const FakeOutput& output) {
    wl_resource_post_event(resource, kOutputGeometry, output.x, output.y, 300, 200, 0, "fake",
                           "output", 0);
    wl_resource_post_event(resource, kOutputMode, 3u, output.width, output.height,
                           output.refresh);
    int version = wl_resource_get_version(resource);
    if (version >= 2) wl_resource_post_event(resource, kOutputScale, output.scale);
    if (version >= 4 && output.name) {
      wl_resource_post_event(resource, kOutputName, output.name->c_str());
    }
    for (auto& [xdg, global] : xdg_outputs) {
      if (global->output && std::find(global->resources.begin(), global->resources.end(),
                                      resource) != global->resources.end()) {
        send_xdg(xdg, output);
      }
    }
    if (version >= 2) wl_resource_post_event(resource, kOutputDone);
  }

  void commit(wl_resource* surface) {
    if (auto pending = pending_buffer.find(surface); pending != pending_buffer.end()) {
      wl_resource* buffer = pending->second;
      pending_buffer.erase(pending);
      auto previous = committed_buffer.find(surface);
      if (release_buffers && previous != committed_buffer.end() && previous->second &&
          previous->second != buffer) {
        wl_resource_post_event(previous->second, kBufferRelease);
      }
      committed_buffer[surface] = buffer;
    }
    auto layer = layer_of_surface.find(surface);
    if (layer != layer_of_surface.end() && configure_layers &&
        std::find(configured.begin(), configured.end(), layer->second) == configured.end()) {
      configured.push_back(layer->second);
      wl_resource_post_event(layer->second, kLayerConfigure, serial++, 0u, 0u);
    }
  }

  void react(wl_resource* resource, const std::string& name, wl_resource* created,
             const wl_argument* args) {
    std::string iface = wl_resource_get_class(resource);
    if (iface == "zwlr_screencopy_manager_v1" && name == "capture_output") {
      frames.push_back(created);
    } else if (iface == "zwlr_screencopy_frame_v1" && name == "copy") {
      copy_target[resource] = wl_resource_get_id(reinterpret_cast<wl_resource*>(args[0].o));
    } else if (iface == "wl_seat" && name == "get_keyboard") {
      keyboards.push_back(created);
    } else if (iface == "wl_compositor" && name == "create_surface") {
      surfaces.push_back(created);
    } else if (iface == "wl_shm" && name == "create_pool") {
      pool_fds[created] = args[1].h;
    } else if (iface == "wl_shm_pool" && name == "create_buffer") {
      buffers[wl_resource_get_id(created)] =
          Buffer{dup(pool_fds[resource]), args[1].i, args[2].i, args[3].i, args[4].i};
    } else if (iface == "wl_surface" && name == "attach") {
      pending_buffer[resource] = reinterpret_cast<wl_resource*>(args[0].o);
    } else if (iface == "wl_surface" && name == "commit") {
      commit(resource);
    } else if (iface == "zwlr_layer_shell_v1" && name == "get_layer_surface") {
      layer_of_surface[reinterpret_cast<wl_resource*>(args[1].o)] = created;
    } else if (iface == "zxdg_output_manager_v1" && name == "get_xdg_output") {
      auto* output = reinterpret_cast<wl_resource*>(args[1].o);
      if (Global* global = global_of(output); global && global->output) {
        xdg_outputs[created] = global;
        send_xdg(created, *global->output);
        if (wl_resource_get_version(created) >= 3) wl_resource_post_event(output, kOutputDone);
      }
    }
  }
};

namespace {

void resource_destroyed(wl_resource* resource) {
  auto* state = static_cast<FakeCompositor::State*>(wl_resource_get_user_data(resource));
  state->forget(resource);
}

int dispatch(const void* implementation, void* target, std::uint32_t, const wl_message* message,
             wl_argument* args);

wl_resource* make_resource(FakeCompositor::State* state, wl_client* client,
                           const wl_interface* interface, int version, std::uint32_t id) {
  wl_resource* resource = wl_resource_create(client, interface, version, id);
  wl_resource_set_dispatcher(resource, &dispatch, state, state, &resource_destroyed);
  return resource;
}

int dispatch(const void* implementation, void* target, std::uint32_t, const wl_message* message,
             wl_argument* args) {
  auto* state = const_cast<FakeCompositor::State*>(
      static_cast<const FakeCompositor::State*>(implementation));
  auto* resource = static_cast<wl_resource*>(target);
  std::string line = fmt::format("{}.{}", wl_resource_get_class(resource), message->name);
  wl_resource* created = nullptr;
  int i = 0;
  for (const char* p = message->signature; *p; ++p) {
    if (std::isdigit(static_cast<unsigned char>(*p)) || *p == '?') continue;
    switch (*p) {
      case 'i':
        line += fmt::format(" {}", args[i].i);
        break;
      case 'u':
        line += fmt::format(" {}", args[i].u);
        break;
      case 'f':
        line += fmt::format(" {:.2f}", wl_fixed_to_double(args[i].f));
        break;
      case 's':
        line += fmt::format(" {}", args[i].s ? args[i].s : "null");
        break;
      case 'o':
        line += " " + object_text(reinterpret_cast<wl_resource*>(args[i].o));
        break;
      case 'n':
        created = make_resource(state, wl_resource_get_client(resource), message->types[i],
                                wl_resource_get_version(resource), args[i].n);
        line += " " + object_text(created);
        break;
      case 'a':
        line += " array";
        break;
      case 'h':
        line += " fd";
        break;
    }
    ++i;
  }
  state->record(line + fmt::format(" #{}", wl_resource_get_id(resource)));
  std::string name = message->name;
  state->react(resource, name, created, args);
  if (std::string(wl_resource_get_class(resource)) == "wl_shm" && name == "create_pool") {
    // the pool keeps the descriptor
  } else {
    // Descriptors of other requests (keymaps are the compositor's, never the client's) close.
    int n = 0;
    for (const char* p = message->signature; *p; ++p) {
      if (std::isdigit(static_cast<unsigned char>(*p)) || *p == '?') continue;
      if (*p == 'h') close(args[n].h);
      ++n;
    }
  }
  if (name == "destroy" || name == "release") wl_resource_destroy(resource);
  return 0;
}


void bind_binding(wl_client* client, void* data, std::uint32_t version, std::uint32_t id) {
  auto* binding = static_cast<GlobalBinding*>(data);
  Global* global = binding->global;
  FakeCompositor::State* state = binding->state;
  wl_resource* resource =
      make_resource(state, client, global->interface, static_cast<int>(version), id);
  global->resources.push_back(resource);
  state->record(fmt::format("bind {} {} #{}", global->interface->name, version,
                            wl_resource_get_id(resource)));
  if (global->seat) state->send_seat(resource, *global->seat);
  if (global->output) state->send_output(resource, *global->output);
}

}  // namespace

FakeCompositor::FakeCompositor() : state_(std::make_unique<State>()) {
  state_->display = wl_display_create();
  state_->loop = wl_display_get_event_loop(state_->display);
}

FakeCompositor::~FakeCompositor() {
  if (state_->running) {
    state_->running = false;
    state_->thread.join();
  }
  wl_display_destroy_clients(state_->display);
  for (auto& [id, buffer] : state_->buffers) close(buffer.pool_fd);
  wl_display_destroy(state_->display);
  if (state_->client_fd >= 0) close(state_->client_fd);
}

FakeCompositor::GlobalId FakeCompositor::add_global(const wl_interface* interface, int version) {
  return add_described(interface, version, std::nullopt, std::nullopt);
}

FakeCompositor::GlobalId FakeCompositor::add_described(const wl_interface* interface,
                                                       int version, std::optional<FakeSeat> seat,
                                                       std::optional<FakeOutput> output) {
  GlobalId id = 0;
  auto create = [&] {
    auto global = std::make_unique<Global>();
    global->id = state_->next_global++;
    global->interface = interface;
    global->seat = std::move(seat);
    global->output = std::move(output);
    auto& binding = state_->bindings.emplace_back(
        std::make_unique<GlobalBinding>(GlobalBinding{state_.get(), global.get()}));
    global->global =
        wl_global_create(state_->display, interface, version, binding.get(), &bind_binding);
    id = global->id;
    state_->globals[id] = std::move(global);
  };
  // Once serving, the server's objects belong to its thread.
  if (state_->running) {
    run(create);
  } else {
    create();
  }
  return id;
}

FakeCompositor::GlobalId FakeCompositor::add_seat(FakeSeat seat, int version) {
  return add_described(&wl_seat_interface, version, std::move(seat), std::nullopt);
}

FakeCompositor::GlobalId FakeCompositor::add_output(FakeOutput output, int version) {
  return add_described(&wl_output_interface, version, std::nullopt, std::move(output));
}
void FakeCompositor::add_standard_globals(const std::vector<std::string>& except) {
  const std::vector<std::pair<const wl_interface*, int>> standard = {
      {&wl_compositor_interface, 5},
      {&wl_shm_interface, 1},
      {&zwlr_layer_shell_v1_interface, 4},
      {&zxdg_output_manager_v1_interface, 3},
      {&zwp_keyboard_shortcuts_inhibit_manager_v1_interface, 1},
      {&zwlr_virtual_pointer_manager_v1_interface, 2},
      {&zwlr_screencopy_manager_v1_interface, 3},
  };
  for (const auto& [interface, version] : standard) {
    if (std::find(except.begin(), except.end(), interface->name) == except.end()) {
      add_global(interface, version);
    }
  }
}

void FakeCompositor::start() {
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
    throw std::runtime_error("socketpair failed");
  }
  wl_client_create(state_->display, fds[0]);
  state_->client_fd = fds[1];
  ::setenv("WAYLAND_SOCKET", std::to_string(fds[1]).c_str(), 1);
  state_->running = true;
  state_->thread = std::thread([state = state_.get()] {
    while (state->running) {
      wl_event_loop_dispatch(state->loop, 2);
      std::vector<std::pair<std::function<void()>, std::promise<void>*>> tasks;
      {
        std::lock_guard lock(state->mutex);
        tasks.swap(state->tasks);
      }
      for (auto& [task, done] : tasks) {
        task();
        done->set_value();
      }
      wl_display_flush_clients(state->display);
    }
  });
}

void FakeCompositor::run(const std::function<void()>& task) {
  std::promise<void> done;
  auto future = done.get_future();
  {
    std::lock_guard lock(state_->mutex);
    state_->tasks.emplace_back(task, &done);
  }
  future.wait();
}

void FakeCompositor::set_seat_capabilities(GlobalId seat, std::uint32_t capabilities) {
  run([&] {
    Global& global = *state_->globals.at(seat);
    global.seat->capabilities = capabilities;
    for (wl_resource* resource : global.resources) {
      wl_resource_post_event(resource, kSeatCapabilities, capabilities);
    }
  });
}

void FakeCompositor::update_output(GlobalId output, FakeOutput description) {
  run([&] {
    Global& global = *state_->globals.at(output);
    global.output = description;
    for (wl_resource* resource : global.resources) state_->send_output(resource, description);
  });
}

void FakeCompositor::remove_global(GlobalId id) {
  run([&] { wl_global_remove(state_->globals.at(id)->global); });
}

void FakeCompositor::close_layer_surfaces() {
  run([&] {
    for (auto& [surface, layer] : state_->layer_of_surface) {
      wl_resource_post_event(layer, kLayerClosed);
    }
  });
}

void FakeCompositor::post_protocol_error(const std::string& interface, std::uint32_t code,
                                         const std::string& message) {
  run([&] {
    for (auto& [id, global] : state_->globals) {
      if (global->interface->name == interface && !global->resources.empty()) {
        wl_resource_post_error(global->resources.front(), code, "%s", message.c_str());
        return;
      }
    }
  });
}

void FakeCompositor::set_release_buffers(bool release) {
  run([&] { state_->release_buffers = release; });
}

void FakeCompositor::send_keymap(const std::string& keymap) {
  run([&] {
    int fd = memfd_create("fake-keymap", MFD_CLOEXEC);
    if (write(fd, keymap.c_str(), keymap.size() + 1) !=
        static_cast<ssize_t>(keymap.size() + 1)) {
      throw std::runtime_error("cannot write the keymap");
    }
    wl_resource_post_event(state_->keyboards.back(), kKeyboardKeymap, 1u, fd,
                           static_cast<std::uint32_t>(keymap.size() + 1));
    close(fd);
  });
}

void FakeCompositor::keyboard_enter_first_surface() {
  run([&] {
    wl_array keys;
    wl_array_init(&keys);
    wl_resource_post_event(state_->keyboards.back(), kKeyboardEnter, state_->serial++,
                           state_->surfaces.front(), &keys);
    wl_array_release(&keys);
  });
}

void FakeCompositor::send_key(std::uint32_t code, bool pressed) {
  run([&] {
    wl_resource_post_event(state_->keyboards.back(), kKeyboardKey, state_->serial++, 0u, code,
                           pressed ? 1u : 0u);
  });
}

void FakeCompositor::send_modifiers(std::uint32_t depressed, std::uint32_t locked) {
  run([&] {
    wl_resource_post_event(state_->keyboards.back(), kKeyboardModifiers, state_->serial++,
                           depressed, 0u, locked, 0u);
  });
}

void FakeCompositor::keyboard_leave_first_surface() {
  run([&] {
    wl_resource_post_event(state_->keyboards.back(), kKeyboardLeave, state_->serial++,
                           state_->surfaces.front());
  });
}

void FakeCompositor::describe_frame(const std::vector<FrameBuffer>& buffers) {
  run([&] {
    wl_resource* frame = state_->frames.back();
    for (const FrameBuffer& b : buffers) {
      wl_resource_post_event(frame, kFrameBuffer, b.format, b.width, b.height, b.stride);
    }
    wl_resource_post_event(frame, kFrameBufferDone);
  });
}

bool FakeCompositor::frame_copy_requested() const {
  bool requested = false;
  const_cast<FakeCompositor*>(this)->run([&] {
    requested = !state_->frames.empty() && state_->copy_target.count(state_->frames.back());
  });
  return requested;
}

void FakeCompositor::finish_frame(const std::vector<std::uint8_t>& bytes, std::uint32_t flags) {
  run([&] {
    wl_resource* frame = state_->frames.back();
    const Buffer& b = state_->buffers.at(state_->copy_target.at(frame));
    if (pwrite(b.pool_fd, bytes.data(), bytes.size(), b.offset) !=
        static_cast<ssize_t>(bytes.size())) {
      throw std::runtime_error("cannot write the frame");
    }
    wl_resource_post_event(frame, kFrameFlags, flags);
    wl_resource_post_event(frame, kFrameReady, 0u, 0u, 0u);
  });
}

void FakeCompositor::fail_frame() {
  run([&] { wl_resource_post_event(state_->frames.back(), kFrameFailed); });
}

void FakeCompositor::send_repeat_info(std::int32_t rate, std::int32_t delay) {
  run([&] { wl_resource_post_event(state_->keyboards.back(), kKeyboardRepeatInfo, rate, delay); });
}

void FakeCompositor::set_configure_layer_surfaces(bool configure) {
  if (!state_->running) {
    state_->configure_layers = configure;
    return;
  }
  run([&] { state_->configure_layers = configure; });
}

std::vector<std::string> FakeCompositor::requests() const {
  std::lock_guard lock(state_->mutex);
  return state_->requests;
}

std::vector<std::string> FakeCompositor::requests_matching(const std::string& prefix) const {
  std::vector<std::string> matching;
  for (const auto& line : requests()) {
    if (line.rfind(prefix, 0) == 0) matching.push_back(line);
  }
  return matching;
}

void FakeCompositor::clear_requests() {
  std::lock_guard lock(state_->mutex);
  state_->requests.clear();
}

std::vector<std::uint8_t> FakeCompositor::buffer_bytes(std::uint32_t buffer_id) const {
  std::vector<std::uint8_t> bytes;
  const_cast<FakeCompositor*>(this)->run([&] {
    auto it = state_->buffers.find(buffer_id);
    if (it == state_->buffers.end()) return;
    const Buffer& b = it->second;
    bytes.resize(static_cast<std::size_t>(b.stride) * static_cast<std::size_t>(b.height));
    ssize_t got = pread(b.pool_fd, bytes.data(), bytes.size(), b.offset);
    bytes.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  });
  return bytes;
}

}  // namespace tarvik::fake
