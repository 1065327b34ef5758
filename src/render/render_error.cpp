#include "render/render_error.h"

#include <fmt/format.h>

namespace tarvik {

RenderError RenderError::invalid_fallback(std::string parser_message) {
  return RenderError{Kind::InvalidFallback, std::move(parser_message), 0, 0};
}

RenderError RenderError::allocation(std::uint32_t width, std::uint32_t height) {
  return RenderError{Kind::Allocation, {}, width, height};
}

std::string RenderError::message() const {
  switch (kind) {
    case Kind::InvalidFallback:
      return fmt::format("embedded fallback font is invalid: {}", parser_message);
    case Kind::Allocation:
      return fmt::format("cannot allocate a {}x{} render buffer", width, height);
  }
  return {};
}

std::string_view RenderError::name() const {
  switch (kind) {
    case Kind::InvalidFallback:
      return "InvalidFallback";
    case Kind::Allocation:
      return "Allocation";
  }
  return {};
}

}  // namespace tarvik
