// JSON for the daemon protocol and the Sway replies: a reader that keeps byte offsets so every
// error names its line and column, decoding helpers that give records their error texts, and a
// compact writer.
//
// Reading:
//   auto request = json::decode_text(text, [](const json::Value& v) { return decode_request(v); });
// decode_text parses one value, runs the decoder on it, then refuses anything but whitespace after
// it ("trailing characters"); the error it returns has its line and column filled in.
// `parse` alone gives the tree (Value) for callers that look at it freely; errors made from a
// Value carry a byte offset until `JsonError::locate` resolves it against the document.
//
// Positions: line 1-based; column = characters consumed on that line when the error was
// detected. So EOF on an empty text is column 0, an unexpected character is reported at its own
// 1-based column, a missing field just after the record's closing brace, a duplicate field just
// after the repeated key, a bad word or number just after it.
//
// Records (read_record): an object with keys in any order (unknown keys skipped with any value,
// a key given twice refused, a required key absent refused, null counting as absent for optional
// fields), or an array of all field values in declaration order. Variants (read_variant): a bare
// string for a variant without payload, or an object with exactly one key, the variant name.
//
// Writing: Writer puts commas and colons itself, keys in the order given; strings escaped as
// \" \\ \b \t \n \f \r, other characters below 0x20 as \u00xx (lowercase), the rest raw UTF-8;
// floats as the shortest text that reads back exactly, with ".0" added to integral values
// (3.0, 0.5, 1e+300); non-finite floats as null.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <functional>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarvik {

struct JsonError {
  enum class Kind {
    Syntax,  // the text is not JSON
    Eof,     // the text ended inside a value
    Data,    // JSON, but not what the record allows (type, missing field, unknown variant ...)
    Io,      // the underlying read or write failed; carries no position
  };
  static constexpr std::size_t no_offset = static_cast<std::size_t>(-1);

  JsonError() = default;
  JsonError(Kind kind, std::string text, std::size_t offset = no_offset)
      : kind(kind), text(std::move(text)), offset(offset) {}

  Kind kind = Kind::Data;
  std::string text;                 // without the position
  std::size_t offset = no_offset;   // bytes of the document consumed when detected
  std::size_t line = 0;             // 0 until located
  std::size_t column = 0;

  // `text`, then " at line L column C" once located.
  std::string message() const;
  // Turns `offset` into line and column within `document`.
  JsonError& locate(std::string_view document);

  static JsonError io(std::string system_error_text) {
    return JsonError{Kind::Io, std::move(system_error_text)};
  }
  bool operator==(const JsonError&) const = default;
};

namespace json {

struct Member;

// One parsed value with the byte range it spans in the document: [begin, end).
struct Value {
  enum class Kind : std::uint8_t { Null, Bool, Unsigned, Signed, Float, String, Array, Object };
  Kind kind = Kind::Null;
  bool boolean = false;
  std::uint64_t unsigned_number = 0;  // Unsigned: a non-negative integer that fits 64 bits
  std::int64_t signed_number = 0;     // Signed: a negative integer that fits 64 bits
  double float_number = 0;            // Float: any other number
  std::string string;
  std::vector<Value> items;
  std::vector<Member> members;  // in document order, duplicates kept
  std::size_t begin = 0;
  std::size_t end = 0;

  bool is_null() const { return kind == Kind::Null; }
  // The first member with this key, or nullptr (also for non-objects).
  const Value* find(std::string_view key) const;
};

struct Member {
  std::string key;
  std::size_t key_end = 0;  // just after the key's closing quote
  Value value;
};

// Nesting deeper than this is refused ("recursion limit exceeded") rather than risking the stack.
inline constexpr int max_depth = 128;

// One value with only whitespace around it; the error is located.
std::expected<Value, JsonError> parse(std::string_view text);

// One value at the start of `text` (after whitespace); `*consumed` gets the offset just after it.
// The error is located.
std::expected<Value, JsonError> parse_prefix(std::string_view text, std::size_t* consumed);

// Succeeds when only JSON whitespace follows offset `consumed`; else "trailing characters"
// (located).
std::expected<void, JsonError> expect_end(std::string_view text, std::size_t consumed);

// Parses, decodes, then checks that only whitespace follows. Every error is located.
template <class Decode>
auto decode_text(std::string_view text, Decode&& decode)
    -> decltype(decode(std::declval<const Value&>())) {
  std::size_t consumed = 0;
  auto value = parse_prefix(text, &consumed);
  if (!value) return std::unexpected(std::move(value.error()));
  auto result = decode(*value);
  if (!result) {
    result.error().locate(text);
    return result;
  }
  if (auto end = expect_end(text, consumed); !end) return std::unexpected(std::move(end.error()));
  return result;
}

// ---- decoding helpers: each error carries the offset its position is reported at ----

// "invalid type: <what the value is>, expected <expected>"
JsonError invalid_type(const Value& value, std::string_view expected);
// "invalid value: <what the value is>, expected <expected>" (right type, out of range)
JsonError invalid_value(const Value& value, std::string_view expected);
// A free-form data error reported just after `value`.
JsonError data_error(const Value& value, std::string text);

// How serde-style messages show a value: "integer `5`", "string \"x\"", "map", "null", ...
std::string unexpected_text(const Value& value);

// An integer between 0 and `max`; `expected` names the type ("u16").
std::expected<std::uint64_t, JsonError> read_unsigned(const Value& value, std::uint64_t max,
                                                      std::string_view expected);
// Any JSON number.
std::expected<double, JsonError> read_f64(const Value& value);
std::expected<bool, JsonError> read_bool(const Value& value);
// The text of a string value (a view into `value`).
std::expected<std::string_view, JsonError> read_string(const Value& value);

// "unknown variant `x`, expected one of `a`, `b`, `c`" / "`a` or `b`" / "`a`".
std::string unknown_variant_text(std::string_view word, std::span<const std::string_view> accepted);

// A string that must be one of `words`: its index. Other types fail with `expected` ("enum X").
std::expected<std::size_t, JsonError> read_word(const Value& value,
                                                std::span<const std::string_view> words,
                                                std::string_view expected);

struct VariantRef {
  std::size_t index = 0;
  const Value* payload = nullptr;  // into the examined value; nullptr for the bare-string form
};
// A tagged union: the bare string "Name" or the object {"Name": payload}.
std::expected<VariantRef, JsonError> read_variant(const Value& value,
                                                  std::span<const std::string_view> names,
                                                  std::string_view expected);

struct Field {
  std::string_view name;
  bool required = true;  // optional fields that are absent or null are not visited
};
using FieldVisitor = std::function<std::expected<void, JsonError>(std::size_t field, const Value&)>;

// Walks a record named `record` ("struct Request"): visits each present field with its index in
// `fields`, in document order for an object and field order for an array, and stops at the first
// error (a visitor's, a duplicate, a missing required field, a wrong length, a wrong type).
std::expected<void, JsonError> read_record(const Value& value, std::string_view record,
                                           std::span<const Field> fields,
                                           const FieldVisitor& visit);
inline std::expected<void, JsonError> read_record(const Value& value, std::string_view record,
                                                  std::initializer_list<Field> fields,
                                                  const FieldVisitor& visit) {
  return read_record(value, record, std::span<const Field>(fields.begin(), fields.size()), visit);
}

// ---- writing ----

// Appends `text` as a JSON string literal, quotes included.
void append_string(std::string& out, std::string_view text);
// Appends the shortest text that reads back to `number` ("3.0", "0.5", "1e+300"); null if not finite.
void append_float(std::string& out, double number);

class Writer {
 public:
  Writer& begin_object();
  Writer& end_object();
  Writer& begin_array();
  Writer& end_array();
  Writer& key(std::string_view name);
  Writer& string(std::string_view text);
  Writer& boolean(bool value);
  Writer& null();
  Writer& unsigned_number(std::uint64_t value);
  Writer& signed_number(std::int64_t value);
  Writer& float_number(double value);

  const std::string& text() const { return out_; }
  std::string take() { return std::move(out_); }

 private:
  void separate();

  std::string out_;
  std::vector<bool> first_in_container_;
  bool after_key_ = false;
};

}  // namespace json

// Text in double quotes with backslash escapes, the form debug log lines use for a message:
// \" \\ \t \r \n \0, other control characters as \u{x}.
std::string quoted_debug(std::string_view text);

}  // namespace tarvik
