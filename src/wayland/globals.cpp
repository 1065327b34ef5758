#include "wayland/globals.h"

#include <wayland-client.h>

#include <algorithm>
#include <cstdlib>
#include <string_view>

namespace tarvik {

std::expected<std::uint32_t, std::string> choose_version(const std::vector<GlobalEntry>& globals,
                                                         const std::string& interface,
                                                         std::uint32_t min, std::uint32_t max,
                                                         std::uint32_t known) {
  auto it = std::find_if(globals.begin(), globals.end(),
                         [&](const GlobalEntry& e) { return e.interface == interface; });
  if (it == globals.end()) return std::unexpected(std::string(kGlobalNotFound));
  if (it->version < min) return std::unexpected(std::string(kGlobalVersionUnsupported));
  return std::min({it->version, max, known});
}

std::vector<std::string> hidden_globals_from_environment() {
  std::vector<std::string> names;
  const char* value = std::getenv("TARVIK_TEST_HIDE_GLOBALS");
  if (!value) return names;
  std::string_view rest(value);
  while (!rest.empty()) {
    auto comma = rest.find(',');
    std::string_view name = rest.substr(0, comma);
    if (!name.empty()) names.emplace_back(name);
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  return names;
}

GlobalList::GlobalList(wl_registry* registry, std::vector<std::string> hidden)
    : registry_(registry), hidden_(std::move(hidden)) {
  static const wl_registry_listener listener = {
      .global = &GlobalList::on_global,
      .global_remove = &GlobalList::on_global_remove,
  };
  wl_registry_add_listener(registry_, &listener, this);
}

void GlobalList::on_global(void* data, wl_registry*, std::uint32_t name, const char* interface,
                           std::uint32_t version) {
  auto* self = static_cast<GlobalList*>(data);
  if (std::find(self->hidden_.begin(), self->hidden_.end(), interface) != self->hidden_.end()) {
    return;
  }
  self->entries_.push_back(GlobalEntry{name, interface, version});
  if (self->observer_.added) self->observer_.added(self->entries_.back());
}

void GlobalList::on_global_remove(void* data, wl_registry*, std::uint32_t name) {
  auto* self = static_cast<GlobalList*>(data);
  auto it = std::find_if(self->entries_.begin(), self->entries_.end(),
                         [&](const GlobalEntry& e) { return e.name == name; });
  if (it == self->entries_.end()) return;
  GlobalEntry gone = *it;
  self->entries_.erase(it);
  if (self->observer_.removed) self->observer_.removed(gone);
}

std::expected<void*, std::string> GlobalList::bind(const wl_interface* interface,
                                                   std::uint32_t min, std::uint32_t max) const {
  auto version = choose_version(entries_, interface->name, min, max,
                                static_cast<std::uint32_t>(interface->version));
  if (!version) return std::unexpected(version.error());
  auto it = std::find_if(entries_.begin(), entries_.end(),
                         [&](const GlobalEntry& e) { return e.interface == interface->name; });
  return wl_registry_bind(registry_, it->name, interface, *version);
}

void* GlobalList::bind_entry(const GlobalEntry& entry, const wl_interface* interface,
                             std::uint32_t max) const {
  std::uint32_t version =
      std::min({entry.version, max, static_cast<std::uint32_t>(interface->version)});
  return wl_registry_bind(registry_, entry.name, interface, version);
}

}  // namespace tarvik
