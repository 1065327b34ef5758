// The daemon's request decoder and handling, fed what a client might write on the socket.
// Beyond not crashing: a request that decodes must encode and decode back to itself, and
// handle_request must answer every UTF-8 text (the socket refuses the rest before decoding)
// with one response that survives its own encoding unchanged.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <variant>

#include "ipc/command_handler.h"
#include "ipc/protocol.h"
#include "ipc/request_handler.h"

namespace {

// Strict UTF-8 (no overlong forms, surrogates or code points above U+10FFFF), written out here
// so the check does not lean on the code under test.
bool valid_utf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto byte = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    unsigned min = 0;
    unsigned code = 0;
    if (byte < 0x80) {
      ++i;
      continue;
    } else if ((byte & 0xE0) == 0xC0) {
      length = 2, min = 0x80, code = byte & 0x1F;
    } else if ((byte & 0xF0) == 0xE0) {
      length = 3, min = 0x800, code = byte & 0x0F;
    } else if ((byte & 0xF8) == 0xF0) {
      length = 4, min = 0x10000, code = byte & 0x07;
    } else {
      return false;
    }
    if (i + length > text.size()) return false;
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = code << 6 | (next & 0x3F);
    }
    if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    i += length;
  }
  return true;
}

// A step that is not finite travels as null, which decodes as absent.
tarvik::Request normalised(tarvik::Request request) {
  if (auto* scroll = std::get_if<tarvik::command::Scroll>(&request.command)) {
    if (scroll->step && !std::isfinite(*scroll->step)) scroll->step.reset();
  }
  return request;
}

// Answers every second command with a failure, so both answer paths run.
class Handler final : public tarvik::CommandHandler {
 public:
  std::expected<std::string, std::string> handle_command(const tarvik::Command& command) override {
    if (++calls_ % 2 == 0) return std::unexpected("refused " + tarvik::command_json(command));
    return tarvik::command_json(command);
  }
  void cancel() override {}

 private:
  unsigned calls_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  if (auto request = tarvik::decode_request(text)) {
    const auto expected = normalised(*request);
    auto encoded = tarvik::encode_request(*request);
    // Decoded text is UTF-8, so its strings always encode.
    if (!encoded) std::abort();
    auto again = tarvik::decode_request(*encoded);
    if (!again || normalised(*again) != expected) std::abort();
  } else {
    // Every refusal names its place, except a failure of the transport, which text never is.
    if (request.error().kind == tarvik::JsonError::Kind::Io) std::abort();
    (void)request.error().message();
  }

  if (!valid_utf8(text)) return 0;
  static Handler handler;
  const tarvik::Response answer = tarvik::handle_request(text, handler);
  auto read_back = tarvik::decode_response(tarvik::encode_response(answer));
  if (!read_back || *read_back != answer) std::abort();
  return 0;
}
