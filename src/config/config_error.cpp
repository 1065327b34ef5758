#include <utility>

#include "config/config.h"
#include "logging/utf8.h"

namespace tarvik {

ConfigError ConfigError::read(std::string path, std::string source) {
  return {Kind::Read, std::move(path), std::move(source)};
}

ConfigError ConfigError::parse(std::string path, std::string source) {
  return {Kind::Parse, std::move(path), std::move(source)};
}

ConfigError ConfigError::validation(std::string message) {
  return {Kind::Validation, {}, std::move(message)};
}

ConfigError ConfigError::no_config_directory() { return {Kind::NoConfigDirectory, {}, {}}; }

std::string ConfigError::message() const {
  switch (kind) {
    case Kind::Read:
      return "cannot read config " + logging::lossy_utf8(path) + ": " + source;
    case Kind::Parse:
      return "invalid config " + logging::lossy_utf8(path) + ": " + source;
    case Kind::Validation:
      return "invalid config: " + source;
    case Kind::NoConfigDirectory:
      break;
  }
  return "HOME and XDG_CONFIG_HOME are both unset";
}

}  // namespace tarvik
