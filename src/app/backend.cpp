#include "app/backend.h"

#include <fmt/format.h>

namespace tarvik {

std::string PointerError::message() const {
  if (kind == Kind::MissingOutput) return fmt::format("output {} disappeared", text);
  return text;
}

}  // namespace tarvik
