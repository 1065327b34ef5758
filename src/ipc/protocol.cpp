#include "ipc/protocol.h"

#include <array>
#include <type_traits>

#include <fmt/format.h>

#include "logging/utf8.h"

namespace tarvik {

namespace {

using json::Value;

constexpr std::array<std::string_view, 7> command_names = {
    "Daemon", "Reload", "Cancel", "Grid", "Mouse", "Click", "Scroll"};

// Strict writing refuses text that is not UTF-8; log lines show it lossily instead.
struct Encoder {
  json::Writer& writer;
  bool strict;

  std::expected<void, JsonError> text(std::string_view value, std::string_view refusal) {
    if (logging::is_valid_utf8(value)) {
      writer.string(value);
    } else if (strict) {
      return std::unexpected(JsonError{JsonError::Kind::Data, std::string(refusal)});
    } else {
      writer.string(logging::lossy_utf8(value));
    }
    return {};
  }
  std::expected<void, JsonError> optional_text(const std::optional<std::string>& value,
                                               std::string_view refusal) {
    if (!value) {
      writer.null();
      return {};
    }
    return text(*value, refusal);
  }

  std::expected<void, JsonError> command(const Command& command) {
    constexpr std::string_view bad_text = "text contains invalid UTF-8 characters";
    return std::visit(
        [&](const auto& variant) -> std::expected<void, JsonError> {
          using T = std::decay_t<decltype(variant)>;
          if constexpr (std::is_same_v<T, command::Daemon>) {
            writer.begin_object().key("Daemon").begin_object().key("config");
            if (auto r = optional_text(variant.options.config,
                                       "path contains invalid UTF-8 characters");
                !r) {
              return r;
            }
            writer.key("seat");
            if (auto r = optional_text(variant.options.seat, bad_text); !r) return r;
            writer.end_object().end_object();
          } else if constexpr (std::is_same_v<T, command::Reload>) {
            writer.string("Reload");
          } else if constexpr (std::is_same_v<T, command::Cancel>) {
            writer.string("Cancel");
          } else if constexpr (std::is_same_v<T, command::Mouse>) {
            writer.string("Mouse");
          } else if constexpr (std::is_same_v<T, command::Grid>) {
            const GridOptions& o = variant.options;
            writer.begin_object().key("Grid").begin_object().key("scope");
            if (o.scope) {
              writer.string(word(*o.scope));
            } else {
              writer.null();
            }
            writer.key("output");
            if (auto r = optional_text(o.output, bad_text); !r) return r;
            writer.key("action").string(word(o.action)).key("auto_descend");
            if (o.auto_descend) {
              writer.boolean(*o.auto_descend);
            } else {
              writer.null();
            }
            writer.key("max_depth");
            if (o.max_depth) {
              writer.unsigned_number(*o.max_depth);
            } else {
              writer.null();
            }
            writer.end_object().end_object();
          } else if constexpr (std::is_same_v<T, command::Click>) {
            writer.begin_object().key("Click").string(word(variant.button)).end_object();
          } else if constexpr (std::is_same_v<T, command::Scroll>) {
            writer.begin_object().key("Scroll").begin_object();
            writer.key("direction").string(word(variant.direction)).key("step");
            // A step that is not finite has no JSON number; it travels as absent.
            if (variant.step) {
              writer.float_number(*variant.step);
            } else {
              writer.null();
            }
            writer.end_object().end_object();
          }
          return {};
        },
        command);
  }
};

// ---- decoding ----

template <class Enum, std::size_t N>
std::expected<Enum, JsonError> read_enum(const Value& value,
                                         const std::array<std::string_view, N>& words,
                                         std::string_view expected) {
  auto index = json::read_word(value, words, expected);
  if (!index) return std::unexpected(std::move(index.error()));
  return static_cast<Enum>(*index);
}

std::expected<std::string, JsonError> read_owned_string(const Value& value) {
  auto text = json::read_string(value);
  if (!text) return std::unexpected(std::move(text.error()));
  return std::string(*text);
}

std::expected<DaemonOptions, JsonError> decode_daemon_options(const Value& value) {
  DaemonOptions options;
  auto walked = json::read_record(
      value, "struct DaemonOptions", {{"config", false}, {"seat", false}},
      [&](std::size_t field, const Value& v) -> std::expected<void, JsonError> {
        auto text = read_owned_string(v);
        if (!text) return std::unexpected(std::move(text.error()));
        (field == 0 ? options.config : options.seat) = std::move(*text);
        return {};
      });
  if (!walked) return std::unexpected(std::move(walked.error()));
  return options;
}

std::expected<GridOptions, JsonError> decode_grid_options(const Value& value) {
  GridOptions options;
  auto walked = json::read_record(
      value, "struct GridOptions",
      {{"scope", false},
       {"output", false},
       {"action", true},
       {"auto_descend", false},
       {"max_depth", false}},
      [&](std::size_t field, const Value& v) -> std::expected<void, JsonError> {
        switch (field) {
          case 0: {
            auto scope = read_enum<OutputScope>(v, kScopeWords, "enum OutputScope");
            if (!scope) return std::unexpected(std::move(scope.error()));
            options.scope = *scope;
            return {};
          }
          case 1: {
            auto output = read_owned_string(v);
            if (!output) return std::unexpected(std::move(output.error()));
            options.output = std::move(*output);
            return {};
          }
          case 2: {
            auto action = read_enum<GridAction>(v, kActionWords, "enum GridAction");
            if (!action) return std::unexpected(std::move(action.error()));
            options.action = *action;
            return {};
          }
          case 3: {
            auto flag = json::read_bool(v);
            if (!flag) return std::unexpected(std::move(flag.error()));
            options.auto_descend = *flag;
            return {};
          }
          default: {
            auto depth = json::read_unsigned(v, 255, "u8");
            if (!depth) return std::unexpected(std::move(depth.error()));
            options.max_depth = static_cast<std::uint8_t>(*depth);
            return {};
          }
        }
      });
  if (!walked) return std::unexpected(std::move(walked.error()));
  // The command line refuses this pair; a hand-written request must not slip past it and leave
  // the controller to guess which of the two was meant.
  if (options.scope && options.output) {
    return std::unexpected(
        json::data_error(value, "`scope` and `output` are mutually exclusive"));
  }
  return options;
}

std::expected<command::Scroll, JsonError> decode_scroll(const Value& value) {
  command::Scroll scroll;
  auto walked = json::read_record(
      value, "struct variant Command::Scroll", {{"direction", true}, {"step", false}},
      [&](std::size_t field, const Value& v) -> std::expected<void, JsonError> {
        if (field == 0) {
          auto direction = read_enum<ScrollDirection>(v, kDirectionWords, "enum ScrollDirection");
          if (!direction) return std::unexpected(std::move(direction.error()));
          scroll.direction = *direction;
        } else {
          auto step = json::read_f64(v);
          if (!step) return std::unexpected(std::move(step.error()));
          scroll.step = *step;
        }
        return {};
      });
  if (!walked) return std::unexpected(std::move(walked.error()));
  return scroll;
}

}  // namespace

std::expected<void, JsonError> write_command(json::Writer& writer, const Command& command) {
  return Encoder{writer, true}.command(command);
}

std::expected<std::string, JsonError> encode_request(const Request& request) {
  json::Writer writer;
  writer.begin_object().key("version").unsigned_number(request.version).key("command");
  if (auto r = write_command(writer, request.command); !r) return std::unexpected(r.error());
  writer.end_object();
  return writer.take();
}

std::string encode_response(const Response& response) {
  json::Writer writer;
  // The message is ours or the controller's; shown lossily rather than sent as invalid JSON.
  writer.begin_object().key("ok").boolean(response.ok).key("message");
  if (logging::is_valid_utf8(response.message)) {
    writer.string(response.message);
  } else {
    writer.string(logging::lossy_utf8(response.message));
  }
  writer.end_object();
  return writer.take();
}

std::string command_json(const Command& command) {
  json::Writer writer;
  (void)Encoder{writer, false}.command(command);
  return writer.take();
}

std::expected<Command, JsonError> decode_command(const Value& value) {
  auto variant = json::read_variant(value, command_names, "enum Command");
  if (!variant) return std::unexpected(std::move(variant.error()));
  const Value* payload = variant->payload;
  // The bare-string form is only for variants without payload.
  auto needs_payload = [&](std::string_view kind) {
    return std::unexpected(json::data_error(value, fmt::format("invalid type: unit variant, expected {}", kind)));
  };
  switch (variant->index) {
    case 0: {
      if (payload == nullptr) return needs_payload("newtype variant");
      auto options = decode_daemon_options(*payload);
      if (!options) return std::unexpected(std::move(options.error()));
      return command::Daemon{std::move(*options)};
    }
    case 3: {
      if (payload == nullptr) return needs_payload("newtype variant");
      auto options = decode_grid_options(*payload);
      if (!options) return std::unexpected(std::move(options.error()));
      return command::Grid{std::move(*options)};
    }
    case 5: {
      if (payload == nullptr) return needs_payload("newtype variant");
      auto button = read_enum<PointerButton>(*payload, kButtonWords, "enum PointerButton");
      if (!button) return std::unexpected(std::move(button.error()));
      return command::Click{*button};
    }
    case 6: {
      if (payload == nullptr) return needs_payload("struct variant");
      return decode_scroll(*payload);
    }
    default:
      if (payload != nullptr && !payload->is_null()) {
        return std::unexpected(json::invalid_type(*payload, "unit"));
      }
      if (variant->index == 1) return command::Reload{};
      if (variant->index == 2) return command::Cancel{};
      return command::Mouse{};
  }
}

std::expected<Request, JsonError> decode_request(const Value& value) {
  Request request;
  auto walked = json::read_record(
      value, "struct Request", {{"version", true}, {"command", true}},
      [&](std::size_t field, const Value& v) -> std::expected<void, JsonError> {
        if (field == 0) {
          auto version = json::read_unsigned(v, 65535, "u16");
          if (!version) return std::unexpected(std::move(version.error()));
          request.version = static_cast<std::uint16_t>(*version);
        } else {
          auto command = decode_command(v);
          if (!command) return std::unexpected(std::move(command.error()));
          request.command = std::move(*command);
        }
        return {};
      });
  if (!walked) return std::unexpected(std::move(walked.error()));
  return request;
}

std::expected<Response, JsonError> decode_response(const Value& value) {
  Response response;
  auto walked = json::read_record(
      value, "struct Response", {{"ok", true}, {"message", true}},
      [&](std::size_t field, const Value& v) -> std::expected<void, JsonError> {
        if (field == 0) {
          auto ok = json::read_bool(v);
          if (!ok) return std::unexpected(std::move(ok.error()));
          response.ok = *ok;
        } else {
          auto message = read_owned_string(v);
          if (!message) return std::unexpected(std::move(message.error()));
          response.message = std::move(*message);
        }
        return {};
      });
  if (!walked) return std::unexpected(std::move(walked.error()));
  return response;
}

std::expected<Request, JsonError> decode_request(std::string_view text) {
  return json::decode_text(text, [](const Value& v) { return decode_request(v); });
}

std::expected<Response, JsonError> decode_response(std::string_view text) {
  return json::decode_text(text, [](const Value& v) { return decode_response(v); });
}

}  // namespace tarvik
