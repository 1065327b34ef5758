#include "ipc/json.h"

#include <charconv>
#include <cmath>
#include <limits>

#include <fmt/format.h>

#include "logging/logging.h"

namespace tarvik {

std::string JsonError::message() const {
  if (line == 0) return text;
  return fmt::format("{} at line {} column {}", text, line, column);
}

JsonError& JsonError::locate(std::string_view document) {
  if (offset == no_offset || line != 0) return *this;
  const std::size_t stop = offset < document.size() ? offset : document.size();
  line = 1;
  column = 0;
  for (std::size_t i = 0; i < stop; ++i) {
    const auto byte = static_cast<unsigned char>(document[i]);
    if (byte == '\n') {
      ++line;
      column = 0;
    } else if ((byte & 0xC0) != 0x80) {
      // Continuation bytes belong to the character already counted.
      ++column;
    }
  }
  return *this;
}

namespace json {

namespace {

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void append_utf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// How many bytes from `i` belong to one UTF-8 sequence: the whole sequence when well-formed
// (`*complete` true), else the ill-formed part that is replaced as a unit (at least 1).
std::size_t utf8_scan(std::string_view s, std::size_t i, bool* complete) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  *complete = false;
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;
  if (b0 < 0x80) {
    *complete = true;
    return 1;
  }
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    length = 2;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    length = 3;
    if (b0 == 0xE0) low = 0xA0;
    if (b0 == 0xED) high = 0x9F;  // no encoded surrogates
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    length = 4;
    if (b0 == 0xF0) low = 0x90;
    if (b0 == 0xF4) high = 0x8F;
  } else {
    return 1;
  }
  for (std::size_t k = 1; k < length; ++k) {
    if (i + k >= s.size()) return k;
    const auto b = static_cast<unsigned char>(s[i + k]);
    if (k == 1 ? (b < low || b > high) : (b < 0x80 || b > 0xBF)) return k;
  }
  *complete = true;
  return length;
}

// Length of the well-formed UTF-8 sequence starting at `i`, or 0.
std::size_t utf8_sequence(std::string_view s, std::size_t i) {
  bool complete = false;
  const std::size_t length = utf8_scan(s, i, &complete);
  return complete ? length : 0;
}

class Parser {
 public:
  explicit Parser(std::string_view text) : s_(text) {}

  std::size_t position() const { return i_; }

  void skip_space() {
    while (i_ < s_.size() && is_space(s_[i_])) ++i_;
  }

  std::expected<void, JsonError> value(Value& out, int depth) {
    skip_space();
    if (i_ >= s_.size()) return eof("EOF while parsing a value");
    out.begin = i_;
    const char c = s_[i_];
    std::expected<void, JsonError> result;
    switch (c) {
      case 'n':
        out.kind = Value::Kind::Null;
        result = ident("null");
        break;
      case 't':
        out.kind = Value::Kind::Bool;
        out.boolean = true;
        result = ident("true");
        break;
      case 'f':
        out.kind = Value::Kind::Bool;
        out.boolean = false;
        result = ident("false");
        break;
      case '"':
        out.kind = Value::Kind::String;
        result = string(out.string);
        break;
      case '[':
        result = array(out, depth);
        break;
      case '{':
        result = object(out, depth);
        break;
      default:
        if (c == '-' || is_digit(c)) {
          result = number(out);
        } else {
          return fail_here("expected value");
        }
    }
    if (result) out.end = i_;
    return result;
  }

 private:
  std::unexpected<JsonError> fail(JsonError::Kind kind, std::string text, std::size_t offset) {
    return std::unexpected(JsonError{kind, std::move(text), offset});
  }
  // At the character under the cursor, counting it as consumed.
  std::unexpected<JsonError> fail_here(std::string text) {
    return fail(JsonError::Kind::Syntax, std::move(text), i_ + 1);
  }
  std::unexpected<JsonError> eof(std::string text) {
    return fail(JsonError::Kind::Eof, std::move(text), s_.size());
  }

  std::expected<void, JsonError> ident(std::string_view word) {
    for (const char expected : word) {
      if (i_ >= s_.size()) return eof("EOF while parsing a value");
      if (s_[i_] != expected) return fail_here("expected ident");
      ++i_;
    }
    return {};
  }

  std::expected<void, JsonError> digits_or_fail() {
    if (i_ >= s_.size()) return eof("EOF while parsing a value");
    if (!is_digit(s_[i_])) return fail_here("invalid number");
    while (i_ < s_.size() && is_digit(s_[i_])) ++i_;
    return {};
  }

  std::expected<void, JsonError> number(Value& out) {
    const std::size_t start = i_;
    const bool negative = s_[i_] == '-';
    if (negative) ++i_;
    const std::size_t int_start = i_;
    if (i_ >= s_.size()) return eof("EOF while parsing a value");
    if (s_[i_] == '0') {
      ++i_;
      if (i_ < s_.size() && is_digit(s_[i_])) return fail_here("invalid number");
    } else if (auto r = digits_or_fail(); !r) {
      return r;
    }
    const std::size_t int_end = i_;
    bool integral = true;
    if (i_ < s_.size() && s_[i_] == '.') {
      integral = false;
      ++i_;
      if (auto r = digits_or_fail(); !r) return r;
    }
    const std::size_t mantissa_end = i_;
    long exponent = 0;
    if (i_ < s_.size() && (s_[i_] == 'e' || s_[i_] == 'E')) {
      integral = false;
      ++i_;
      bool exponent_negative = false;
      if (i_ < s_.size() && (s_[i_] == '+' || s_[i_] == '-')) {
        exponent_negative = s_[i_] == '-';
        ++i_;
      }
      const std::size_t exponent_start = i_;
      if (auto r = digits_or_fail(); !r) return r;
      for (std::size_t k = exponent_start; k < i_ && exponent < 100000; ++k) {
        exponent = exponent * 10 + (s_[k] - '0');
      }
      if (exponent_negative) exponent = -exponent;
    }
    const std::string_view text = s_.substr(start, i_ - start);

    if (integral) {
      std::uint64_t magnitude = 0;
      const auto [ptr, ec] = std::from_chars(s_.data() + int_start, s_.data() + int_end, magnitude);
      (void)ptr;
      if (ec == std::errc{}) {
        if (!negative) {
          out.kind = Value::Kind::Unsigned;
          out.unsigned_number = magnitude;
          return {};
        }
        constexpr std::uint64_t limit = std::uint64_t{1} << 63;
        if (magnitude <= limit) {
          out.kind = Value::Kind::Signed;
          out.signed_number =
              magnitude == limit ? std::numeric_limits<std::int64_t>::min()
                                 : -static_cast<std::int64_t>(magnitude);
          return {};
        }
      }
      // Too large for a 64-bit integer: it becomes a float, as JSON readers commonly do.
    }

    double number = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), number);
    (void)ptr;
    if (ec == std::errc::result_out_of_range) {
      // Overflow is an error; underflow reads as zero. The decimal magnitude decides which.
      std::size_t first_nonzero = int_start;
      while (first_nonzero < mantissa_end &&
             (s_[first_nonzero] == '0' || s_[first_nonzero] == '.')) {
        ++first_nonzero;
      }
      long magnitude;
      if (first_nonzero < int_end) {
        magnitude = static_cast<long>(int_end - first_nonzero);
      } else {
        magnitude = -static_cast<long>(first_nonzero - (int_end + 1));
      }
      if (magnitude + exponent > 0) {
        return fail(JsonError::Kind::Syntax, "number out of range", i_);
      }
      number = negative ? -0.0 : 0.0;
    } else if (ec != std::errc{}) {
      return fail(JsonError::Kind::Syntax, "invalid number", i_);
    }
    out.kind = Value::Kind::Float;
    out.float_number = number;
    return {};
  }

  std::expected<char32_t, JsonError> hex4() {
    char32_t code = 0;
    for (int k = 0; k < 4; ++k) {
      if (i_ >= s_.size()) return eof("EOF while parsing a string");
      const int digit = hex_value(s_[i_]);
      if (digit < 0) return fail_here("invalid escape");
      code = code * 16 + static_cast<char32_t>(digit);
      ++i_;
    }
    return code;
  }

  std::expected<void, JsonError> string(std::string& out) {
    ++i_;  // opening quote
    while (true) {
      if (i_ >= s_.size()) return eof("EOF while parsing a string");
      const auto c = static_cast<unsigned char>(s_[i_]);
      if (c == '"') {
        ++i_;
        return {};
      }
      if (c < 0x20) {
        return fail_here("control character (\\u0000-\\u001F) found while parsing a string");
      }
      if (c == '\\') {
        ++i_;
        if (i_ >= s_.size()) return eof("EOF while parsing a string");
        const char e = s_[i_];
        switch (e) {
          case '"': out += '"'; break;
          case '\\': out += '\\'; break;
          case '/': out += '/'; break;
          case 'b': out += '\b'; break;
          case 'f': out += '\f'; break;
          case 'n': out += '\n'; break;
          case 'r': out += '\r'; break;
          case 't': out += '\t'; break;
          case 'u': {
            ++i_;
            auto code = hex4();
            if (!code) return std::unexpected(code.error());
            char32_t cp = *code;
            if (cp >= 0xDC00 && cp <= 0xDFFF) {
              return fail(JsonError::Kind::Syntax, "lone trailing surrogate in hex escape", i_);
            }
            if (cp >= 0xD800 && cp <= 0xDBFF) {
              if (i_ + 1 >= s_.size() || s_[i_] != '\\' || s_[i_ + 1] != 'u') {
                if (i_ >= s_.size()) return eof("EOF while parsing a string");
                return fail_here("lone leading surrogate in hex escape");
              }
              i_ += 2;
              auto low = hex4();
              if (!low) return std::unexpected(low.error());
              if (*low < 0xDC00 || *low > 0xDFFF) {
                return fail(JsonError::Kind::Syntax, "lone leading surrogate in hex escape", i_);
              }
              cp = 0x10000 + ((cp - 0xD800) << 10) + (*low - 0xDC00);
            }
            append_utf8(out, cp);
            continue;  // hex4 already moved past the digits
          }
          default:
            return fail_here("invalid escape");
        }
        ++i_;
        continue;
      }
      if (c < 0x80) {
        out += static_cast<char>(c);
        ++i_;
        continue;
      }
      const std::size_t length = utf8_sequence(s_, i_);
      if (length == 0) return fail_here("invalid unicode code point");
      out.append(s_.substr(i_, length));
      i_ += length;
    }
  }

  std::expected<void, JsonError> array(Value& out, int depth) {
    if (depth >= max_depth) return fail_here("recursion limit exceeded");
    out.kind = Value::Kind::Array;
    ++i_;
    skip_space();
    if (i_ >= s_.size()) return eof("EOF while parsing a list");
    if (s_[i_] == ']') {
      ++i_;
      return {};
    }
    while (true) {
      Value& item = out.items.emplace_back();
      if (auto r = value(item, depth + 1); !r) return r;
      skip_space();
      if (i_ >= s_.size()) return eof("EOF while parsing a list");
      if (s_[i_] == ']') {
        ++i_;
        return {};
      }
      if (s_[i_] != ',') return fail_here("expected `,` or `]`");
      ++i_;
      skip_space();
      if (i_ < s_.size() && s_[i_] == ']') return fail_here("trailing comma");
    }
  }

  std::expected<void, JsonError> object(Value& out, int depth) {
    if (depth >= max_depth) return fail_here("recursion limit exceeded");
    out.kind = Value::Kind::Object;
    ++i_;
    skip_space();
    if (i_ >= s_.size()) return eof("EOF while parsing an object");
    if (s_[i_] == '}') {
      ++i_;
      return {};
    }
    while (true) {
      if (s_[i_] != '"') return fail_here("key must be a string");
      Member& member = out.members.emplace_back();
      if (auto r = string(member.key); !r) return r;
      member.key_end = i_;
      skip_space();
      if (i_ >= s_.size()) return eof("EOF while parsing an object");
      if (s_[i_] != ':') return fail_here("expected `:`");
      ++i_;
      if (auto r = value(member.value, depth + 1); !r) return r;
      skip_space();
      if (i_ >= s_.size()) return eof("EOF while parsing an object");
      if (s_[i_] == '}') {
        ++i_;
        return {};
      }
      if (s_[i_] != ',') return fail_here("expected `,` or `}`");
      ++i_;
      skip_space();
      if (i_ >= s_.size()) return eof("EOF while parsing an object");
      if (s_[i_] == '}') return fail_here("trailing comma");
    }
  }

  std::string_view s_;
  std::size_t i_ = 0;
};

std::string join_words(std::span<const std::string_view> words) {
  std::string out;
  if (words.size() == 2) return fmt::format("`{}` or `{}`", words[0], words[1]);
  if (words.size() > 2) out = "one of ";
  for (std::size_t k = 0; k < words.size(); ++k) {
    if (k > 0) out += ", ";
    out += fmt::format("`{}`", words[k]);
  }
  return out;
}

// Scalars are reported just after themselves; containers at their opening bracket, not yet
// consumed, which is where a streaming reader notices the mismatch.
std::size_t type_error_offset(const Value& value) {
  if (value.kind == Value::Kind::Array || value.kind == Value::Kind::Object) return value.begin;
  return value.end;
}

}  // namespace

const Value* Value::find(std::string_view key) const {
  for (const Member& member : members) {
    if (member.key == key) return &member.value;
  }
  return nullptr;
}

std::expected<Value, JsonError> parse_prefix(std::string_view text, std::size_t* consumed) {
  Parser parser(text);
  Value value;
  if (auto r = parser.value(value, 0); !r) {
    return std::unexpected(std::move(r.error().locate(text)));
  }
  if (consumed != nullptr) *consumed = parser.position();
  return value;
}

std::expected<void, JsonError> expect_end(std::string_view text, std::size_t consumed) {
  while (consumed < text.size() && is_space(text[consumed])) ++consumed;
  if (consumed == text.size()) return {};
  // Reported at the offending character itself.
  JsonError error{JsonError::Kind::Syntax, "trailing characters", consumed + 1};
  return std::unexpected(std::move(error.locate(text)));
}

std::expected<Value, JsonError> parse(std::string_view text) {
  std::size_t consumed = 0;
  auto value = parse_prefix(text, &consumed);
  if (!value) return value;
  if (auto end = expect_end(text, consumed); !end) return std::unexpected(std::move(end.error()));
  return value;
}

std::string unexpected_text(const Value& value) {
  switch (value.kind) {
    case Value::Kind::Null: return "null";
    case Value::Kind::Bool: return fmt::format("boolean `{}`", value.boolean);
    case Value::Kind::Unsigned: return fmt::format("integer `{}`", value.unsigned_number);
    case Value::Kind::Signed: return fmt::format("integer `{}`", value.signed_number);
    case Value::Kind::Float: {
      std::string number;
      append_float(number, value.float_number);
      return fmt::format("floating point `{}`", number);
    }
    case Value::Kind::String: return "string " + quoted_debug(value.string);
    case Value::Kind::Array: return "sequence";
    case Value::Kind::Object: return "map";
  }
  return "value";
}

JsonError invalid_type(const Value& value, std::string_view expected) {
  return JsonError{JsonError::Kind::Data,
                   fmt::format("invalid type: {}, expected {}", unexpected_text(value), expected),
                   type_error_offset(value)};
}

JsonError invalid_value(const Value& value, std::string_view expected) {
  return JsonError{JsonError::Kind::Data,
                   fmt::format("invalid value: {}, expected {}", unexpected_text(value), expected),
                   type_error_offset(value)};
}

JsonError data_error(const Value& value, std::string text) {
  return JsonError{JsonError::Kind::Data, std::move(text), value.end};
}

std::expected<std::uint64_t, JsonError> read_unsigned(const Value& value, std::uint64_t max,
                                                      std::string_view expected) {
  switch (value.kind) {
    case Value::Kind::Unsigned:
      if (value.unsigned_number <= max) return value.unsigned_number;
      return std::unexpected(invalid_value(value, expected));
    case Value::Kind::Signed:
      return std::unexpected(invalid_value(value, expected));
    default:
      return std::unexpected(invalid_type(value, expected));
  }
}

std::expected<double, JsonError> read_f64(const Value& value) {
  switch (value.kind) {
    case Value::Kind::Unsigned: return static_cast<double>(value.unsigned_number);
    case Value::Kind::Signed: return static_cast<double>(value.signed_number);
    case Value::Kind::Float: return value.float_number;
    default: return std::unexpected(invalid_type(value, "f64"));
  }
}

std::expected<bool, JsonError> read_bool(const Value& value) {
  if (value.kind != Value::Kind::Bool) return std::unexpected(invalid_type(value, "a boolean"));
  return value.boolean;
}

std::expected<std::string_view, JsonError> read_string(const Value& value) {
  if (value.kind != Value::Kind::String) return std::unexpected(invalid_type(value, "a string"));
  return std::string_view(value.string);
}

std::string unknown_variant_text(std::string_view word,
                                 std::span<const std::string_view> accepted) {
  if (accepted.empty()) return fmt::format("unknown variant `{}`, there are no variants", word);
  return fmt::format("unknown variant `{}`, expected {}", word, join_words(accepted));
}

std::expected<VariantRef, JsonError> read_variant(const Value& value,
                                                  std::span<const std::string_view> names,
                                                  std::string_view expected) {
  auto lookup = [&](std::string_view word, std::size_t offset)
      -> std::expected<std::size_t, JsonError> {
    for (std::size_t k = 0; k < names.size(); ++k) {
      if (names[k] == word) return k;
    }
    return std::unexpected(
        JsonError{JsonError::Kind::Data, unknown_variant_text(word, names), offset});
  };
  if (value.kind == Value::Kind::String) {
    auto index = lookup(value.string, value.end);
    if (!index) return std::unexpected(std::move(index.error()));
    return VariantRef{*index, nullptr};
  }
  if (value.kind == Value::Kind::Object) {
    if (value.members.empty()) return std::unexpected(invalid_type(value, expected));
    if (value.members.size() > 1) {
      // The tag's payload was read; a reader expecting the closing brace meets the comma.
      return std::unexpected(JsonError{JsonError::Kind::Data,
                                       "expected a map with a single key (the variant name)",
                                       value.members[0].value.end});
    }
    const Member& member = value.members[0];
    auto index = lookup(member.key, member.key_end);
    if (!index) return std::unexpected(std::move(index.error()));
    return VariantRef{*index, &member.value};
  }
  return std::unexpected(invalid_type(value, expected));
}

std::expected<std::size_t, JsonError> read_word(const Value& value,
                                                std::span<const std::string_view> words,
                                                std::string_view expected) {
  auto variant = read_variant(value, words, expected);
  if (!variant) return std::unexpected(std::move(variant.error()));
  if (variant->payload != nullptr && !variant->payload->is_null()) {
    return std::unexpected(invalid_type(*variant->payload, "unit"));
  }
  return variant->index;
}

std::expected<void, JsonError> read_record(const Value& value, std::string_view record,
                                           std::span<const Field> fields,
                                           const FieldVisitor& visit) {
  if (value.kind == Value::Kind::Array) {
    for (std::size_t k = 0; k < fields.size(); ++k) {
      if (k >= value.items.size()) {
        return std::unexpected(JsonError{
            JsonError::Kind::Data,
            fmt::format("invalid length {}, expected {} with {} elements", value.items.size(),
                        record, fields.size()),
            value.end});
      }
      const Value& item = value.items[k];
      if (!fields[k].required && item.is_null()) continue;
      if (auto r = visit(k, item); !r) return r;
    }
    if (value.items.size() > fields.size()) {
      return std::unexpected(JsonError{JsonError::Kind::Syntax, "trailing characters",
                                       value.items[fields.size()].begin + 1});
    }
    return {};
  }
  if (value.kind != Value::Kind::Object) return std::unexpected(invalid_type(value, record));

  // Records here have a handful of fields; a bit mask keeps the walk allocation-free.
  std::uint64_t seen = 0;
  for (const Member& member : value.members) {
    std::size_t k = 0;
    while (k < fields.size() && fields[k].name != member.key) ++k;
    if (k == fields.size() || k >= 64) continue;
    const std::uint64_t bit = std::uint64_t{1} << k;
    if (seen & bit) {
      return std::unexpected(JsonError{JsonError::Kind::Data,
                                       fmt::format("duplicate field `{}`", member.key),
                                       member.key_end});
    }
    seen |= bit;
    if (!fields[k].required && member.value.is_null()) continue;
    if (auto r = visit(k, member.value); !r) return r;
  }
  for (std::size_t k = 0; k < fields.size() && k < 64; ++k) {
    if (fields[k].required && !(seen & (std::uint64_t{1} << k))) {
      return std::unexpected(JsonError{JsonError::Kind::Data,
                                       fmt::format("missing field `{}`", fields[k].name),
                                       value.end});
    }
  }
  return {};
}

void append_string(std::string& out, std::string_view text) {
  logging::append_json_string(out, text);
}

void append_float(std::string& out, double number) {
  if (!std::isfinite(number)) {
    out += "null";
    return;
  }
  // {fmt} gives the shortest text that reads back to the same double.
  const std::size_t start = out.size();
  fmt::format_to(std::back_inserter(out), "{}", number);
  if (out.find_first_of(".en", start) == std::string::npos) out += ".0";
}

void Writer::separate() {
  if (after_key_) {
    after_key_ = false;
    return;
  }
  if (!first_in_container_.empty()) {
    if (!first_in_container_.back()) out_ += ',';
    first_in_container_.back() = false;
  }
}

Writer& Writer::begin_object() {
  separate();
  out_ += '{';
  first_in_container_.push_back(true);
  return *this;
}

Writer& Writer::end_object() {
  out_ += '}';
  first_in_container_.pop_back();
  return *this;
}

Writer& Writer::begin_array() {
  separate();
  out_ += '[';
  first_in_container_.push_back(true);
  return *this;
}

Writer& Writer::end_array() {
  out_ += ']';
  first_in_container_.pop_back();
  return *this;
}

Writer& Writer::key(std::string_view name) {
  separate();
  append_string(out_, name);
  out_ += ':';
  after_key_ = true;
  return *this;
}

Writer& Writer::string(std::string_view text) {
  separate();
  append_string(out_, text);
  return *this;
}

Writer& Writer::boolean(bool value) {
  separate();
  out_ += value ? "true" : "false";
  return *this;
}

Writer& Writer::null() {
  separate();
  out_ += "null";
  return *this;
}

Writer& Writer::unsigned_number(std::uint64_t value) {
  separate();
  fmt::format_to(std::back_inserter(out_), "{}", value);
  return *this;
}

Writer& Writer::signed_number(std::int64_t value) {
  separate();
  fmt::format_to(std::back_inserter(out_), "{}", value);
  return *this;
}

Writer& Writer::float_number(double value) {
  separate();
  append_float(out_, value);
  return *this;
}

}  // namespace json

std::string quoted_debug(std::string_view text) {
  std::string out = "\"";
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      case '\0': out += "\\0"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          fmt::format_to(std::back_inserter(out), "\\u{{{:x}}}", c);
        } else {
          out += ch;
        }
    }
  }
  out += '"';
  return out;
}

}  // namespace tarvik
