#include "ipc/json.h"

#include <bit>
#include <cmath>
#include <limits>
#include <random>

#include <gtest/gtest.h>

#include "logging/utf8.h"

namespace tarvik::json {
namespace {

struct ErrorCase {
  std::string text;
  std::string message;
};

// Syntax errors and their positions: column counts the characters consumed on the line, so an
// offending character is named at its own 1-based column and EOF after the last character.
TEST(JsonParse, SyntaxErrorsNameTheirPosition) {
  const std::vector<ErrorCase> cases = {
      {"", "EOF while parsing a value at line 1 column 0"},
      {"   ", "EOF while parsing a value at line 1 column 3"},
      {"{\"a\":1} x", "trailing characters at line 1 column 9"},
      {"[1,2", "EOF while parsing a list at line 1 column 4"},
      {"{\"a\":1", "EOF while parsing an object at line 1 column 6"},
      {"\"abc", "EOF while parsing a string at line 1 column 4"},
      {"{\"a\" 1}", "expected `:` at line 1 column 6"},
      {"[1 2]", "expected `,` or `]` at line 1 column 4"},
      {"{\"a\":1 \"b\":2}", "expected `,` or `}` at line 1 column 8"},
      {"{1:2}", "key must be a string at line 1 column 2"},
      {"[1,]", "trailing comma at line 1 column 4"},
      {"{\"a\":1,}", "trailing comma at line 1 column 8"},
      {"01", "invalid number at line 1 column 2"},
      {"-", "EOF while parsing a value at line 1 column 1"},
      {"-x", "invalid number at line 1 column 2"},
      {"1.e5", "invalid number at line 1 column 3"},
      {"tru", "EOF while parsing a value at line 1 column 3"},
      {"trux", "expected ident at line 1 column 4"},
      {"@", "expected value at line 1 column 1"},
      {"\"a\\x\"", "invalid escape at line 1 column 4"},
      {"\"\\u12g4\"", "invalid escape at line 1 column 6"},
      {"\"a\x01\"", "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 3"},
      {"\"\\ud800\"", "lone leading surrogate in hex escape at line 1 column 8"},
      {"\"\xff\"", "invalid unicode code point at line 1 column 2"},
      {"1e400", "number out of range at line 1 column 5"},
      {"\n\n  x", "expected value at line 3 column 3"},
      {"[1,\n2,\n", "EOF while parsing a value at line 3 column 0"},
      // Characters, not bytes: the two-byte letter counts once.
      {"\"\xc3\xa9\" x", "trailing characters at line 1 column 5"},
  };
  for (const auto& c : cases) {
    auto value = parse(c.text);
    ASSERT_FALSE(value.has_value()) << c.text;
    EXPECT_EQ(value.error().message(), c.message) << c.text;
  }
}

TEST(JsonParse, RefusesNestingBeyondTheLimitWithoutExhaustingTheStack) {
  const std::string deep(100000, '[');
  auto value = parse(deep);
  ASSERT_FALSE(value.has_value());
  EXPECT_EQ(value.error().message(), "recursion limit exceeded at line 1 column 129");

  std::string allowed = std::string(max_depth, '[') + std::string(max_depth, ']');
  EXPECT_TRUE(parse(allowed).has_value());
}

TEST(JsonParse, NumbersKeepTheirKind) {
  struct NumberCase {
    std::string text;
    Value::Kind kind;
    double as_double;
  };
  const std::vector<NumberCase> cases = {
      {"0", Value::Kind::Unsigned, 0},
      {"18446744073709551615", Value::Kind::Unsigned, 18446744073709551615.0},
      {"18446744073709551616", Value::Kind::Float, 18446744073709551616.0},
      {"-1", Value::Kind::Signed, -1},
      {"-9223372036854775808", Value::Kind::Signed, -9223372036854775808.0},
      {"-9223372036854775809", Value::Kind::Float, -9223372036854775809.0},
      {"1.5", Value::Kind::Float, 1.5},
      {"-2.5E-3", Value::Kind::Float, -0.0025},
      {"1e2", Value::Kind::Float, 100},
      {"1e-400", Value::Kind::Float, 0},
  };
  for (const auto& c : cases) {
    auto value = parse(c.text);
    ASSERT_TRUE(value.has_value()) << c.text << ": " << value.error().message();
    EXPECT_EQ(value->kind, c.kind) << c.text;
    auto number = read_f64(*value);
    ASSERT_TRUE(number.has_value());
    EXPECT_EQ(*number, c.as_double) << c.text;
  }
  EXPECT_EQ(parse("18446744073709551615")->unsigned_number, 18446744073709551615u);
  EXPECT_EQ(parse("-9223372036854775808")->signed_number, std::numeric_limits<std::int64_t>::min());
}

TEST(JsonParse, StringEscapesDecode) {
  auto value = parse(R"("q\" b\\ s\/ \b\f\n\r\t \u00e9 \ud83d\ude00 \u0000")");
  ASSERT_TRUE(value.has_value()) << value.error().message();
  EXPECT_EQ(value->string,
            std::string("q\" b\\ s/ \b\f\n\r\t \xc3\xa9 \xf0\x9f\x98\x80 ") + std::string(1, '\0'));
}

TEST(JsonParse, ValuesRecordTheirSpanAndMembersTheirOrder) {
  const std::string text = R"( {"b": [1, {"c": null}], "a": "x", "b": true} )";
  auto value = parse(text);
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(text.substr(value->begin, value->end - value->begin),
            R"({"b": [1, {"c": null}], "a": "x", "b": true})");
  ASSERT_EQ(value->members.size(), 3u);
  EXPECT_EQ(value->members[0].key, "b");
  EXPECT_EQ(value->members[2].key, "b");
  const Value& array = value->members[0].value;
  EXPECT_EQ(text.substr(array.begin, array.end - array.begin), R"([1, {"c": null}])");
  // find gives the first occurrence; duplicates are a record decoder's business.
  EXPECT_EQ(value->find("b"), &value->members[0].value);
  EXPECT_EQ(value->find("z"), nullptr);
}

// ---- record decoding ----

struct Pair {
  std::uint64_t count = 0;
  std::optional<std::string> name;
  bool operator==(const Pair&) const = default;
};

std::expected<Pair, JsonError> decode_pair(const Value& value) {
  Pair pair;
  auto walked = read_record(value, "struct Pair", {{"count", true}, {"name", false}},
                            [&](std::size_t field, const Value& v) -> std::expected<void, JsonError> {
                              if (field == 0) {
                                auto count = read_unsigned(v, 255, "u8");
                                if (!count) return std::unexpected(count.error());
                                pair.count = *count;
                              } else {
                                auto name = read_string(v);
                                if (!name) return std::unexpected(name.error());
                                pair.name = std::string(*name);
                              }
                              return {};
                            });
  if (!walked) return std::unexpected(walked.error());
  return pair;
}

std::expected<Pair, JsonError> decode_pair_text(std::string_view text) {
  return decode_text(text, decode_pair);
}

TEST(JsonRecord, AcceptsObjectAndArrayForms) {
  struct Case {
    std::string text;
    Pair expected;
  };
  const std::vector<Case> cases = {
      {R"({"count":3,"name":"x"})", {3, "x"}},
      {R"({"name":"x","count":3})", {3, "x"}},
      {R"({"count":3})", {3, std::nullopt}},
      {R"({"count":3,"name":null})", {3, std::nullopt}},
      {R"({"extra":{"deep":[1,{"z":null}]},"count":3,"more":"ignored"})", {3, std::nullopt}},
      {R"([3,"x"])", {3, "x"}},
      {R"([3,null])", {3, std::nullopt}},
      {" \n\t{\"count\":3}\r\n ", {3, std::nullopt}},
  };
  for (const auto& c : cases) {
    auto pair = decode_pair_text(c.text);
    ASSERT_TRUE(pair.has_value()) << c.text << ": " << pair.error().message();
    EXPECT_EQ(*pair, c.expected) << c.text;
  }
}

TEST(JsonRecord, ErrorsHaveTheirFormsAndPositions) {
  const std::vector<ErrorCase> cases = {
      // Reported just after the closing brace of the record that lacks the field.
      {R"({"name":"x"})", "missing field `count` at line 1 column 12"},
      {R"({"count":null})", "invalid type: null, expected u8 at line 1 column 13"},
      // Just after the repeated key.
      {R"({"count":1,"count":2})", "duplicate field `count` at line 1 column 18"},
      {R"({"name":null,"count":1,"name":"y"})", "duplicate field `name` at line 1 column 29"},
      // Just after the closing bracket of a short array; a long one stops at its extra element.
      {R"([3])", "invalid length 1, expected struct Pair with 2 elements at line 1 column 3"},
      {R"([])", "invalid length 0, expected struct Pair with 2 elements at line 1 column 2"},
      {R"([3,null,4])", "trailing characters at line 1 column 9"},
      {R"({"count":256})", "invalid value: integer `256`, expected u8 at line 1 column 12"},
      {R"({"count":-1})", "invalid value: integer `-1`, expected u8 at line 1 column 11"},
      {R"({"count":1.5})", "invalid type: floating point `1.5`, expected u8 at line 1 column 12"},
      {R"({"count":"7"})", "invalid type: string \"7\", expected u8 at line 1 column 12"},
      {R"({"count":true})", "invalid type: boolean `true`, expected u8 at line 1 column 13"},
      {R"({"count":1,"name":5})", "invalid type: integer `5`, expected a string at line 1 column 19"},
      // Containers are reported at their opening bracket.
      {R"({"count":[1]})", "invalid type: sequence, expected u8 at line 1 column 9"},
      {R"("pair")", "invalid type: string \"pair\", expected struct Pair at line 1 column 6"},
      {R"(7)", "invalid type: integer `7`, expected struct Pair at line 1 column 1"},
      // The first problem in document order wins.
      {R"({"count":"x","count":1})", "invalid type: string \"x\", expected u8 at line 1 column 12"},
      // Decoding comes before the check for what follows the value.
      {R"({"name":"x"} junk)", "missing field `count` at line 1 column 12"},
      {R"({"count":1} junk)", "trailing characters at line 1 column 13"},
      {"{\n  \"name\": \"x\"\n}", "missing field `count` at line 3 column 1"},
  };
  for (const auto& c : cases) {
    auto pair = decode_pair_text(c.text);
    ASSERT_FALSE(pair.has_value()) << c.text;
    EXPECT_EQ(pair.error().message(), c.message) << c.text;
  }
}

TEST(JsonRecord, UnknownVariantListsTheAcceptedWords) {
  constexpr std::array<std::string_view, 1> one = {"a"};
  constexpr std::array<std::string_view, 2> two = {"focused", "all"};
  constexpr std::array<std::string_view, 3> three = {"left", "middle", "right"};
  EXPECT_EQ(unknown_variant_text("x", one), "unknown variant `x`, expected `a`");
  EXPECT_EQ(unknown_variant_text("x", two), "unknown variant `x`, expected `focused` or `all`");
  EXPECT_EQ(unknown_variant_text("x", three),
            "unknown variant `x`, expected one of `left`, `middle`, `right`");

  auto word = decode_text("\"Left\"", [&](const Value& v) { return read_word(v, three, "enum B"); });
  ASSERT_FALSE(word.has_value());
  EXPECT_EQ(word.error().message(),
            "unknown variant `Left`, expected one of `left`, `middle`, `right` at line 1 column 6");
  auto tag = decode_text(R"({"Top":1})", [&](const Value& v) { return read_variant(v, three, "enum B"); });
  ASSERT_FALSE(tag.has_value());
  EXPECT_EQ(tag.error().message(),
            "unknown variant `Top`, expected one of `left`, `middle`, `right` at line 1 column 6");
  // The payload points into the tree, so the tree is kept here.
  auto tree = parse(R"({"middle":[1]})");
  ASSERT_TRUE(tree.has_value());
  auto found = read_variant(*tree, three, "enum B");
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(found->index, 1u);
  ASSERT_NE(found->payload, nullptr);
  EXPECT_EQ(found->payload->kind, Value::Kind::Array);
}

TEST(JsonError, IoErrorsCarryNoPosition) {
  JsonError error = JsonError::io("Broken pipe (os error 32)");
  error.locate("anything");
  EXPECT_EQ(error.message(), "Broken pipe (os error 32)");
}

// ---- writing ----

TEST(JsonWrite, EscapesStrings) {
  struct Case {
    std::string text;
    std::string json;
  };
  const std::vector<Case> cases = {
      {"plain", R"("plain")"},
      {"say \"hi\"", R"("say \"hi\"")"},
      {"back\\slash", R"("back\\slash")"},
      {"\b\t\n\f\r", R"("\b\t\n\f\r")"},
      {std::string("\0\x01\x0b\x1f", 4), R"("\u0000\u0001\u000b\u001f")"},
      {"\x7f / \xc3\xa9 \xf0\x9f\x98\x80", "\"\x7f / \xc3\xa9 \xf0\x9f\x98\x80\""},
  };
  for (const auto& c : cases) {
    std::string out;
    append_string(out, c.text);
    EXPECT_EQ(out, c.json);
    auto back = parse(out);
    ASSERT_TRUE(back.has_value()) << out;
    EXPECT_EQ(back->string, c.text);
  }
  // Every byte below 0x80 survives the round trip.
  std::string all;
  for (int c = 0; c < 0x80; ++c) all += static_cast<char>(c);
  std::string out;
  append_string(out, all);
  EXPECT_EQ(parse(out)->string, all);
}

TEST(JsonWrite, FloatsAreShortestAndReadBack) {
  struct Case {
    double number;
    std::string text;
  };
  const std::vector<Case> cases = {
      {3.0, "3.0"},
      {0.5, "0.5"},
      {-0.0, "-0.0"},
      {0.1, "0.1"},
      {123456789.0, "123456789.0"},
      {1e300, "1e+300"},
      {5e-324, "5e-324"},
      {std::numeric_limits<double>::quiet_NaN(), "null"},
      {std::numeric_limits<double>::infinity(), "null"},
      {-std::numeric_limits<double>::infinity(), "null"},
  };
  for (const auto& c : cases) {
    std::string out;
    append_float(out, c.number);
    EXPECT_EQ(out, c.text);
  }

  // Any finite double comes back bit for bit.
  std::mt19937_64 bits(12345);
  int checked = 0;
  while (checked < 20000) {
    const double number = std::bit_cast<double>(bits());
    if (!std::isfinite(number)) continue;
    ++checked;
    std::string out;
    append_float(out, number);
    auto back = parse(out);
    ASSERT_TRUE(back.has_value()) << out;
    auto read = read_f64(*back);
    ASSERT_TRUE(read.has_value());
    ASSERT_EQ(std::bit_cast<std::uint64_t>(*read), std::bit_cast<std::uint64_t>(number)) << out;
  }
}

TEST(JsonWrite, WriterSeparatesNestedValues) {
  Writer writer;
  writer.begin_object()
      .key("a")
      .begin_array()
      .unsigned_number(1)
      .signed_number(-2)
      .begin_object()
      .end_object()
      .begin_array()
      .end_array()
      .null()
      .end_array()
      .key("b")
      .boolean(false)
      .key("c")
      .begin_object()
      .key("d")
      .float_number(2)
      .key("e")
      .string("x")
      .end_object()
      .end_object();
  EXPECT_EQ(writer.text(), R"({"a":[1,-2,{},[],null],"b":false,"c":{"d":2.0,"e":"x"}})");
}

TEST(TextForms, QuotedDebugAndLossyUtf8) {
  EXPECT_EQ(quoted_debug("a\"b\\c\nd\te\r\x01\x7f\xc3\xa9"),
            "\"a\\\"b\\\\c\\nd\\te\\r\\u{1}\\u{7f}\xc3\xa9\"");
  const std::string replacement = "\xef\xbf\xbd";
  EXPECT_EQ(logging::lossy_utf8("ok \xc3\xa9"), "ok \xc3\xa9");
  EXPECT_EQ(logging::lossy_utf8("a\xff" "b"), "a" + replacement + "b");
  // A truncated sequence is one replacement, not one per byte.
  EXPECT_EQ(logging::lossy_utf8("a\xe2\x82"), "a" + replacement);
  EXPECT_EQ(logging::lossy_utf8("\xed\xa0\x80"), replacement + replacement + replacement);
  EXPECT_TRUE(logging::is_valid_utf8("\xf0\x9f\x98\x80"));
  EXPECT_FALSE(logging::is_valid_utf8("\xc0\xaf"));
}

}  // namespace
}  // namespace tarvik::json
