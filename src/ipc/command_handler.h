// What the daemon's request handling calls: the application controller's command entry.
#pragma once

#include <expected>
#include <string>

#include "cli/command.h"

namespace tarvik {

class CommandHandler {
 public:
  virtual ~CommandHandler() = default;
  // Carries out one command: the success text, or the error's display text.
  virtual std::expected<std::string, std::string> handle_command(const Command& command) = 0;
  // Leaves whatever mode is active; called before a failure is answered.
  virtual void cancel() = 0;
};

}  // namespace tarvik
