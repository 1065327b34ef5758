// The words of the command model's enumerations: the command line's values and the daemon
// protocol's JSON strings. Each table is in the declaration order of its enumeration.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

#include "cli/command.h"

namespace tarvik {

inline constexpr std::array<std::string_view, 2> kScopeWords{"focused", "all"};
inline constexpr std::array<std::string_view, 12> kActionWords{
    "choose",      "move",   "mouse",     "left",        "middle",      "right",
    "double-click", "scroll", "scroll-up", "scroll-down", "scroll-left", "scroll-right"};
inline constexpr std::array<std::string_view, 3> kButtonWords{"left", "middle", "right"};
inline constexpr std::array<std::string_view, 4> kDirectionWords{"up", "down", "left", "right"};
inline constexpr std::array<std::string_view, 5> kLevelWords{"error", "warn", "info", "debug",
                                                             "trace"};

constexpr std::string_view word(OutputScope scope) {
  return kScopeWords[static_cast<std::size_t>(scope)];
}
constexpr std::string_view word(GridAction action) {
  return kActionWords[static_cast<std::size_t>(action)];
}
constexpr std::string_view word(PointerButton button) {
  return kButtonWords[static_cast<std::size_t>(button)];
}
constexpr std::string_view word(ScrollDirection direction) {
  return kDirectionWords[static_cast<std::size_t>(direction)];
}
constexpr std::string_view word(LogLevel level) {
  return kLevelWords[static_cast<std::size_t>(level)];
}

// A new enumerator must get its word here too: the last member of each enumeration has to
// land on the last word.
static_assert(word(OutputScope::All) == kScopeWords.back());
static_assert(word(GridAction::ScrollRight) == kActionWords.back());
static_assert(word(PointerButton::Right) == kButtonWords.back());
static_assert(word(ScrollDirection::Right) == kDirectionWords.back());
static_assert(word(LogLevel::Trace) == kLevelWords.back());

// The member spelled exactly `text` (case-sensitive), if any.
template <typename Enum, std::size_t N>
constexpr std::optional<Enum> from_word(const std::array<std::string_view, N>& words,
                                        std::string_view text) {
  for (std::size_t i = 0; i < N; ++i) {
    if (words[i] == text) return static_cast<Enum>(i);
  }
  return std::nullopt;
}

}  // namespace tarvik
