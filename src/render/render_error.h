// The renderer's error: what can stop a redraw or the loading of the text renderer.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tarvik {

struct RenderError {
  enum class Kind { InvalidFallback, Allocation };

  Kind kind = Kind::Allocation;
  std::string parser_message;  // InvalidFallback: why the embedded font did not parse
  std::uint32_t width = 0;     // Allocation: the canvas size that could not be created
  std::uint32_t height = 0;

  static RenderError invalid_fallback(std::string parser_message);
  static RenderError allocation(std::uint32_t width, std::uint32_t height);

  // The text the user sees.
  std::string message() const;
  // The variant's name ("InvalidFallback", "Allocation"), for debug output.
  std::string_view name() const;
  bool operator==(const RenderError&) const = default;
};

}  // namespace tarvik
