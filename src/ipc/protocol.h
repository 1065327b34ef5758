// The request and response records of the daemon protocol and the JSON form of Command.
//
// A request travels as one line of compact JSON, {"version":1,"command":...}; the answer as
// {"ok":true,"message":"..."} followed by a line feed, after which the daemon closes. Command is
// a tagged union keyed by variant name: "Reload" for a variant without payload,
// {"Grid":{...}} for one with payload. Decoders accept the object form with keys in any order
// and the array form of each record (see json.h), with the record descriptions
// "struct Request", "struct Response", "struct GridOptions", "struct DaemonOptions" and
// "struct variant Command::Scroll".
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

#include "cli/command.h"
#include "cli/words.h"
#include "ipc/json.h"

namespace tarvik {

inline constexpr std::uint16_t protocol_version = 1;

struct Request {
  std::uint16_t version = protocol_version;
  Command command;
  bool operator==(const Request&) const = default;
};

struct Response {
  bool ok = false;
  std::string message;
  bool operator==(const Response&) const = default;
};

// Fails only for text that cannot travel: a `config` path that is not UTF-8 gives
// "path contains invalid UTF-8 characters", any other such text
// "text contains invalid UTF-8 characters".
std::expected<void, JsonError> write_command(json::Writer& writer, const Command& command);
// The compact text of a request, without the line feed.
std::expected<std::string, JsonError> encode_request(const Request& request);
std::string encode_response(const Response& response);

// The compact JSON of a command as log lines show it (invalid UTF-8 shown as U+FFFD).
std::string command_json(const Command& command);

std::expected<Command, JsonError> decode_command(const json::Value& value);
std::expected<Request, JsonError> decode_request(const json::Value& value);
std::expected<Response, JsonError> decode_response(const json::Value& value);
// A whole text: one record with only JSON whitespace around it; errors are located.
std::expected<Request, JsonError> decode_request(std::string_view text);
std::expected<Response, JsonError> decode_response(std::string_view text);

}  // namespace tarvik
