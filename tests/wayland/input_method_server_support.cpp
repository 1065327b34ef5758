// Only libwayland-server here: its protocol header and the client's must not meet in one file.
#include "input_method_server_support.h"

#include <sys/eventfd.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-server.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <future>
#include <mutex>
#include <stdexcept>
#include <thread>

extern "C" {
extern const struct wl_interface zwp_input_method_manager_v2_interface;
extern const struct wl_interface zwp_input_method_v2_interface;
extern const struct wl_interface zwp_input_method_keyboard_grab_v2_interface;
}

namespace tarvik::testing {

namespace {

// Event opcodes, in the order the protocol declares them.
constexpr std::uint32_t kUnavailable = 6;
constexpr std::uint32_t kGrabKeymap = 0;
constexpr std::uint32_t kGrabKey = 1;
constexpr std::uint32_t kGrabModifiers = 2;
constexpr std::uint32_t kGrabRepeatInfo = 3;

// Request tables, in the order the protocol declares the requests.
struct ManagerRequests {
  void (*get_input_method)(wl_client*, wl_resource*, wl_resource* seat, std::uint32_t id);
  void (*destroy)(wl_client*, wl_resource*);
};
struct InputMethodRequests {
  void (*commit_string)(wl_client*, wl_resource*, const char*);
  void (*set_preedit_string)(wl_client*, wl_resource*, const char*, std::int32_t, std::int32_t);
  void (*delete_surrounding_text)(wl_client*, wl_resource*, std::uint32_t, std::uint32_t);
  void (*commit)(wl_client*, wl_resource*, std::uint32_t);
  void (*get_input_popup_surface)(wl_client*, wl_resource*, std::uint32_t, wl_resource*);
  void (*grab_keyboard)(wl_client*, wl_resource*, std::uint32_t id);
  void (*destroy)(wl_client*, wl_resource*);
};
struct GrabRequests {
  void (*release)(wl_client*, wl_resource*);
};

}  // namespace

struct InputMethodCompositor::State {
  struct SeatState {
    State* owner = nullptr;
    Seat described;
    std::vector<wl_resource*> resources;
  };

  Options options;
  std::string runtime_dir;
  wl_display* display = nullptr;
  int wake_fd = -1;
  wl_event_source* wake_source = nullptr;
  std::thread thread;
  bool stopping = false;  // server thread only

  std::mutex mutex;
  std::condition_variable changed;
  std::deque<std::packaged_task<void()>> work;
  std::vector<std::string> requests;  // under mutex

  std::vector<std::unique_ptr<SeatState>> seats;
  wl_resource* input_method = nullptr;
  wl_resource* grab = nullptr;

  void record(std::string request) {
    std::lock_guard lock(mutex);
    requests.push_back(std::move(request));
    changed.notify_all();
  }
};

namespace {

using State = InputMethodCompositor::State;

void ignore_string(wl_client*, wl_resource*, const char*) {}
void ignore_preedit(wl_client*, wl_resource*, const char*, std::int32_t, std::int32_t) {}
void ignore_delete(wl_client*, wl_resource*, std::uint32_t, std::uint32_t) {}
void ignore_commit(wl_client*, wl_resource*, std::uint32_t) {}
void ignore_popup(wl_client*, wl_resource*, std::uint32_t, wl_resource*) {}

void grab_release(wl_client*, wl_resource* resource) {
  static_cast<State*>(wl_resource_get_user_data(resource))->record("grab.release");
  wl_resource_destroy(resource);
}

const GrabRequests grab_requests = {.release = &grab_release};

void grab_gone(wl_resource* resource) {
  auto* state = static_cast<State*>(wl_resource_get_user_data(resource));
  if (state->grab == resource) state->grab = nullptr;
}

void grab_keyboard(wl_client* client, wl_resource* resource, std::uint32_t id) {
  auto* state = static_cast<State*>(wl_resource_get_user_data(resource));
  wl_resource* grab = wl_resource_create(client, &zwp_input_method_keyboard_grab_v2_interface, 1, id);
  wl_resource_set_implementation(grab, &grab_requests, state, &grab_gone);
  state->grab = grab;
  state->record("grab_keyboard");
}

void input_method_destroy(wl_client*, wl_resource* resource) {
  static_cast<State*>(wl_resource_get_user_data(resource))->record("input_method.destroy");
  wl_resource_destroy(resource);
}

const InputMethodRequests input_method_requests = {
    .commit_string = &ignore_string,
    .set_preedit_string = &ignore_preedit,
    .delete_surrounding_text = &ignore_delete,
    .commit = &ignore_commit,
    .get_input_popup_surface = &ignore_popup,
    .grab_keyboard = &grab_keyboard,
    .destroy = &input_method_destroy,
};

void input_method_gone(wl_resource* resource) {
  auto* state = static_cast<State*>(wl_resource_get_user_data(resource));
  if (state->input_method == resource) state->input_method = nullptr;
}

void get_input_method(wl_client* client, wl_resource* resource, wl_resource*, std::uint32_t id) {
  auto* state = static_cast<State*>(wl_resource_get_user_data(resource));
  wl_resource* input_method = wl_resource_create(client, &zwp_input_method_v2_interface, 1, id);
  wl_resource_set_implementation(input_method, &input_method_requests, state, &input_method_gone);
  state->record("get_input_method");
  if (state->options.seat_taken) {
    wl_resource_post_event(input_method, kUnavailable);
    return;
  }
  state->input_method = input_method;
}

void manager_destroy(wl_client*, wl_resource* resource) {
  static_cast<State*>(wl_resource_get_user_data(resource))->record("manager.destroy");
  wl_resource_destroy(resource);
}

const ManagerRequests manager_requests = {
    .get_input_method = &get_input_method,
    .destroy = &manager_destroy,
};

void bind_manager(wl_client* client, void* data, std::uint32_t version, std::uint32_t id) {
  wl_resource* resource =
      wl_resource_create(client, &zwp_input_method_manager_v2_interface, static_cast<int>(version), id);
  wl_resource_set_implementation(resource, &manager_requests, data, nullptr);
}

void seat_get_device(wl_client*, wl_resource*, std::uint32_t) {}
void seat_release(wl_client*, wl_resource* resource) { wl_resource_destroy(resource); }

const struct wl_seat_interface seat_requests = {
    .get_pointer = &seat_get_device,
    .get_keyboard = &seat_get_device,
    .get_touch = &seat_get_device,
    .release = &seat_release,
};

std::uint32_t capabilities(const InputMethodCompositor::Seat& seat) {
  return seat.keyboard ? WL_SEAT_CAPABILITY_KEYBOARD : 0;
}

void seat_gone(wl_resource* resource) {
  auto* seat = static_cast<State::SeatState*>(wl_resource_get_user_data(resource));
  std::erase(seat->resources, resource);
}

void bind_seat(wl_client* client, void* data, std::uint32_t version, std::uint32_t id) {
  auto* seat = static_cast<State::SeatState*>(data);
  wl_resource* resource = wl_resource_create(client, &wl_seat_interface, static_cast<int>(version), id);
  wl_resource_set_implementation(resource, &seat_requests, seat, &seat_gone);
  seat->resources.push_back(resource);
  wl_seat_send_capabilities(resource, capabilities(seat->described));
  if (seat->described.name && version >= WL_SEAT_NAME_SINCE_VERSION) {
    wl_seat_send_name(resource, seat->described.name->c_str());
  }
}

int on_wake(int fd, std::uint32_t, void* data) {
  auto* state = static_cast<State*>(data);
  std::uint64_t count = 0;
  (void)!read(fd, &count, sizeof count);
  for (;;) {
    std::packaged_task<void()> task;
    {
      std::lock_guard lock(state->mutex);
      if (state->work.empty()) break;
      task = std::move(state->work.front());
      state->work.pop_front();
    }
    task();
  }
  return 0;
}

}  // namespace

InputMethodCompositor::InputMethodCompositor(Options options) : state_(std::make_unique<State>()) {
  State& state = *state_;
  state.options = std::move(options);
  char dir[] = "/tmp/tarvik-im-test.XXXXXX";
  if (!mkdtemp(dir)) throw std::runtime_error("mkdtemp failed");
  state.runtime_dir = dir;
  ::setenv("XDG_RUNTIME_DIR", dir, 1);
  ::unsetenv("WAYLAND_SOCKET");

  state.display = wl_display_create();
  const char* socket = wl_display_add_socket_auto(state.display);
  if (!socket) throw std::runtime_error("cannot add a Wayland socket");
  ::setenv("WAYLAND_DISPLAY", socket, 1);

  for (const Seat& described : state.options.seats) {
    auto seat = std::make_unique<State::SeatState>();
    seat->owner = &state;
    seat->described = described;
    wl_global_create(state.display, &wl_seat_interface, 7, seat.get(), &bind_seat);
    state.seats.push_back(std::move(seat));
  }
  if (state.options.input_method_manager) {
    wl_global_create(state.display, &zwp_input_method_manager_v2_interface, 1, &state, &bind_manager);
  }

  state.wake_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  state.wake_source = wl_event_loop_add_fd(wl_display_get_event_loop(state.display),
                                           state.wake_fd, WL_EVENT_READABLE, &on_wake, &state);
  state.thread = std::thread([&state] {
    wl_event_loop* loop = wl_display_get_event_loop(state.display);
    while (!state.stopping) {
      wl_display_flush_clients(state.display);
      wl_event_loop_dispatch(loop, -1);
    }
  });
}

InputMethodCompositor::~InputMethodCompositor() {
  run([this] { state_->stopping = true; });
  state_->thread.join();
  wl_event_source_remove(state_->wake_source);
  wl_display_destroy_clients(state_->display);
  wl_display_destroy(state_->display);
  close(state_->wake_fd);
  std::filesystem::remove_all(state_->runtime_dir);
  ::unsetenv("WAYLAND_DISPLAY");
  ::unsetenv("XDG_RUNTIME_DIR");
}

void InputMethodCompositor::run(std::function<void()> work) {
  std::packaged_task<void()> task(std::move(work));
  std::future<void> done = task.get_future();
  {
    std::lock_guard lock(state_->mutex);
    state_->work.push_back(std::move(task));
  }
  const std::uint64_t one = 1;
  (void)!write(state_->wake_fd, &one, sizeof one);
  done.get();
}

std::vector<std::string> InputMethodCompositor::requests() {
  std::lock_guard lock(state_->mutex);
  return state_->requests;
}

bool InputMethodCompositor::wait_for_request(const std::string& request,
                                      std::chrono::milliseconds timeout) {
  std::unique_lock lock(state_->mutex);
  return state_->changed.wait_for(lock, timeout, [&] {
    return std::find(state_->requests.begin(), state_->requests.end(), request) !=
           state_->requests.end();
  });
}

void InputMethodCompositor::send_keymap(std::uint32_t format, const std::string& bytes,
                                 std::uint32_t size) {
  run([&] {
    const int fd = memfd_create("tarvik-fake-keymap", MFD_CLOEXEC);
    if (fd < 0 || write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
      throw std::runtime_error("cannot fill the keymap memfd");
    }
    // The event carries a duplicate; the compositor keeps nothing.
    wl_resource_post_event(state_->grab, kGrabKeymap, format, fd, size);
    close(fd);
  });
}

void InputMethodCompositor::send_key(std::uint32_t key, std::uint32_t state) {
  run([&] {
    wl_resource_post_event(state_->grab, kGrabKey, wl_display_next_serial(state_->display), 0u,
                           key, state);
  });
}

void InputMethodCompositor::send_modifiers(std::uint32_t depressed, std::uint32_t latched,
                                    std::uint32_t locked, std::uint32_t group) {
  run([&] {
    wl_resource_post_event(state_->grab, kGrabModifiers, wl_display_next_serial(state_->display),
                           depressed, latched, locked, group);
  });
}

void InputMethodCompositor::send_repeat_info(std::int32_t rate, std::int32_t delay) {
  run([&] { wl_resource_post_event(state_->grab, kGrabRepeatInfo, rate, delay); });
}

void InputMethodCompositor::send_unavailable() {
  run([&] { wl_resource_post_event(state_->input_method, kUnavailable); });
}

void InputMethodCompositor::set_keyboard(std::size_t seat, bool keyboard) {
  run([&] {
    State::SeatState& target = *state_->seats.at(seat);
    target.described.keyboard = keyboard;
    for (wl_resource* resource : target.resources) {
      wl_seat_send_capabilities(resource, capabilities(target.described));
    }
  });
}

void InputMethodCompositor::disconnect_clients() {
  run([&] { wl_display_destroy_clients(state_->display); });
}

}  // namespace tarvik::testing
