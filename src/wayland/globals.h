// The registry's list of advertised globals, and binding one of them within a version range
// with the failure texts the daemon reports.
#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <string>
#include <vector>

struct wl_registry;
struct wl_interface;

namespace tarvik {

// Interfaces the end-to-end tests hide from the daemon to stand in for compositors that lack
// them: a comma-separated list in TARVIK_TEST_HIDE_GLOBALS (unset in normal use).
std::vector<std::string> hidden_globals_from_environment();

struct GlobalEntry {
  std::uint32_t name = 0;
  std::string interface;
  std::uint32_t version = 0;
  bool operator==(const GlobalEntry&) const = default;
};

// Texts of a failed bind.
inline constexpr const char* kGlobalNotFound = "the requested global was not found in the registry";
inline constexpr const char* kGlobalVersionUnsupported =
    "the requested version of the global is not supported";

// The version to bind an advertised global at: the advertised version capped at `max` (and at
// what the generated protocol code knows, so no event arrives that it cannot decode); an error
// text when nothing suitable is advertised. The first advertisement of the interface counts.
std::expected<std::uint32_t, std::string> choose_version(const std::vector<GlobalEntry>& globals,
                                                         const std::string& interface,
                                                         std::uint32_t min, std::uint32_t max,
                                                         std::uint32_t known);

class GlobalList {
 public:
  struct Observer {
    std::function<void(const GlobalEntry&)> added;    // announced after the initial roundtrip
    std::function<void(const GlobalEntry&)> removed;  // entry as it was advertised
  };

  // Listens on `registry` (not owned). Until observe() is called, announcements are only
  // recorded. Interfaces named in `hidden` are treated as never advertised.
  explicit GlobalList(wl_registry* registry, std::vector<std::string> hidden = {});
  GlobalList(const GlobalList&) = delete;
  GlobalList& operator=(const GlobalList&) = delete;

  void observe(Observer observer) { observer_ = std::move(observer); }
  const std::vector<GlobalEntry>& entries() const { return entries_; }
  wl_registry* registry() const { return registry_; }

  // Binds the first advertised global of that interface; the new proxy or the failure text.
  std::expected<void*, std::string> bind(const wl_interface* interface, std::uint32_t min,
                                         std::uint32_t max) const;
  // Binds one specific advertisement (for seats and outputs, which may be many).
  void* bind_entry(const GlobalEntry& entry, const wl_interface* interface,
                   std::uint32_t max) const;

 private:
  static void on_global(void* data, wl_registry* registry, std::uint32_t name,
                        const char* interface, std::uint32_t version);
  static void on_global_remove(void* data, wl_registry* registry, std::uint32_t name);

  wl_registry* registry_;
  std::vector<std::string> hidden_;
  std::vector<GlobalEntry> entries_;
  Observer observer_;
};

}  // namespace tarvik
