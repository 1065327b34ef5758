// tarvik(5) and config.example.toml against the schema the decoder enforces. The schema is read
// from the decoder itself: a key it does not know is refused with the list of keys the table
// accepts, and a key that holds a table accepts an empty table.

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <toml++/toml.h>

#include "config/config.h"
#include "config/decode.h"
#include "docs/docs_support.h"

namespace tarvik::docs {
namespace {

const std::string kProbeKey = "tarvik_probe_key";

// "grid" + "max_cells" -> "grid.max_cells"; the top level has the empty name.
std::string join_key(const std::string& table, const std::string& key) {
  return table.empty() ? key : table + "." + key;
}

std::string table_header(const std::string& table) {
  return table.empty() ? std::string{} : "[" + table + "]\n";
}

// The keys `table` accepts, in the order the decoder lists them.
std::vector<std::string> accepted_keys(const std::string& table) {
  const auto decoded = config::decode_config(table_header(table) + kProbeKey + " = 0\n");
  if (decoded) {
    ADD_FAILURE() << "table [" << table << "] accepted the unknown key " << kProbeKey;
    return {};
  }
  const std::string& report = decoded.error();
  const std::string refusal = "unknown field `" + kProbeKey + "`, expected ";
  const auto at = report.find(refusal);
  if (at == std::string::npos) {
    ADD_FAILURE() << "unexpected refusal of an unknown key in [" << table << "]:\n" << report;
    return {};
  }
  // "`a`, `b`, `c`": every other piece between backquotes is a key.
  std::vector<std::string> keys;
  const std::string list = report.substr(at + refusal.size());
  for (auto open = list.find('`'); open != std::string::npos; open = list.find('`', open)) {
    const auto close = list.find('`', open + 1);
    if (close == std::string::npos) break;
    keys.push_back(list.substr(open + 1, close - open - 1));
    open = close + 1;
  }
  return keys;
}

bool holds_table(const std::string& path) { return config::decode_config("[" + path + "]\n").has_value(); }

void collect_schema(const std::string& table, std::set<std::string>& keys, int depth = 0) {
  ASSERT_LT(depth, 8) << "tables nest implausibly deep at " << table;
  for (const auto& key : accepted_keys(table)) {
    const std::string path = join_key(table, key);
    if (holds_table(path)) {
      collect_schema(path, keys, depth + 1);
    } else {
      keys.insert(path);
    }
  }
}

// Every key the decoder accepts, as dotted paths ("bindings.grid.left_click").
const std::set<std::string>& schema_keys() {
  static const std::set<std::string> keys = [] {
    std::set<std::string> collected;
    collect_schema("", collected);
    return collected;
  }();
  return keys;
}

std::string describe(const std::set<std::string>& keys) {
  std::string text;
  for (const auto& key : keys) text += "  " + key + "\n";
  return text.empty() ? "  (none)\n" : text;
}

// Keys in `documented` and not in the schema, and the other way round.
void expect_same_keys(const std::set<std::string>& documented, const std::string& where) {
  std::set<std::string> unknown;
  std::set<std::string> missing;
  std::ranges::set_difference(documented, schema_keys(), std::inserter(unknown, unknown.end()));
  std::ranges::set_difference(schema_keys(), documented, std::inserter(missing, missing.end()));
  EXPECT_TRUE(unknown.empty()) << where << " names keys the configuration does not have:\n"
                               << describe(unknown);
  EXPECT_TRUE(missing.empty()) << where << " leaves out these keys:\n" << describe(missing);
}

// ---- tarvik(5) ----

struct ManualKey {
  std::string table;
  std::string key;
  std::optional<std::string> default_text;  // the TOML text after " = ", absent for "(not set)"
  int line = 0;
};

// Key entries are lines "*key* = default" or "*key* (not set)" inside a "## [table]" section; any
// other heading ends the section.
std::vector<ManualKey> manual_keys() {
  const std::string text = read_text(source_dir() / "doc/tarvik.5.scd");
  std::vector<ManualKey> keys;
  std::optional<std::string> table;
  std::istringstream lines(text);
  int number = 0;
  for (std::string line; std::getline(lines, line);) {
    ++number;
    if (line.starts_with("## [") && line.ends_with("]") && plain_word(line.substr(4, line.size() - 5), "_.")) {
      table = line.substr(4, line.size() - 5);
      continue;
    }
    if (line.starts_with("#")) {
      table.reset();
      continue;
    }
    const auto close = line.find('*', 1);
    if (!table || !line.starts_with("*") || close == std::string::npos) continue;
    const std::string name = line.substr(1, close - 1);
    const std::string rest = line.substr(close + 1);
    if (!plain_word(name, "_")) continue;
    if (rest.starts_with(" = ") && rest.size() > 3) {
      keys.push_back({*table, name, rest.substr(3), number});
    } else if (rest == " (not set)") {
      keys.push_back({*table, name, std::nullopt, number});
    }
  }
  return keys;
}

TEST(ManualPage, NamesExactlyTheKeysOfTheConfiguration) {
  ASSERT_FALSE(schema_keys().empty());
  std::set<std::string> documented;
  for (const auto& key : manual_keys()) {
    const auto path = join_key(key.table, key.key);
    EXPECT_TRUE(documented.insert(path).second)
        << "tarvik.5.scd line " << key.line << " documents " << path << " a second time";
  }
  expect_same_keys(documented, "tarvik.5.scd");
}

// Each "*key* = value" line, written into a file of its own, must decode to the defaults: the
// value shown is the value a missing key takes.
TEST(ManualPage, ShowsEachKeyAtItsDefault) {
  int checked = 0;
  for (const auto& key : manual_keys()) {
    if (!key.default_text) continue;
    const std::string file = table_header(key.table) + key.key + " = " + *key.default_text + "\n";
    SCOPED_TRACE("tarvik.5.scd line " + std::to_string(key.line) + ": " +
                 join_key(key.table, key.key) + " = " + *key.default_text);
    const auto decoded = config::decode_config(file);
    ASSERT_TRUE(decoded.has_value()) << decoded.error();
    EXPECT_EQ(*decoded, Config{}) << "the value shown is not the default";
    ++checked;
  }
  EXPECT_GT(checked, 0);
}

// A key shown as "(not set)" is optional: giving it a value must change the decoded result, which
// a value equal to the default would not.
TEST(ManualPage, KeysShownNotSetAreTheOptionalOnes) {
  for (const auto& key : manual_keys()) {
    if (key.default_text) continue;
    SCOPED_TRACE("tarvik.5.scd line " + std::to_string(key.line) + ": " +
                 join_key(key.table, key.key));
    // One of these is the key's type; whichever decodes must differ from the defaults.
    bool decoded_any = false;
    for (const std::string value : {"true", "\"/nonexistent/font.ttf\"", "1"}) {
      const auto decoded = config::decode_config(table_header(key.table) + key.key + " = " + value);
      if (!decoded) continue;
      decoded_any = true;
      EXPECT_NE(*decoded, Config{}) << "setting it to " << value << " changed nothing";
    }
    EXPECT_TRUE(decoded_any) << "no value of a plain type decodes for this key";
  }
}

// ---- config.example.toml ----

void collect_active(const toml::table& table, const std::string& prefix, std::set<std::string>& keys) {
  for (auto&& [key, value] : table) {
    const std::string path = join_key(prefix, std::string(key.str()));
    if (const auto* inner = value.as_table()) {
      collect_active(*inner, path, keys);
    } else {
      keys.insert(path);
    }
  }
}

struct CommentedKey {
  std::string table;
  std::string assignment;  // "key = value", as written after the "#"
  std::string key;
  int line = 0;
};

// Assignments left in comments ("# font_path = ..."), with the table they stand in.
std::vector<CommentedKey> commented_keys(const std::string& text) {
  std::vector<CommentedKey> keys;
  std::string table;
  std::istringstream lines(text);
  int number = 0;
  for (std::string line; std::getline(lines, line);) {
    ++number;
    while (line.ends_with(' ')) line.pop_back();
    if (line.starts_with("[") && line.ends_with("]") && plain_word(line.substr(1, line.size() - 2), "_.")) {
      table = line.substr(1, line.size() - 2);
      continue;
    }
    if (!line.starts_with("#")) continue;
    // "# key = value": a name, an equals sign and something after it.
    const auto start = line.find_first_not_of("# ");
    if (start == std::string::npos) continue;
    const std::string assignment = line.substr(start);
    const auto equals = assignment.find('=');
    if (equals == std::string::npos || equals + 1 >= assignment.size()) continue;
    std::string name = assignment.substr(0, equals);
    while (name.ends_with(' ')) name.pop_back();
    if (!plain_word(name, "_")) continue;
    keys.push_back({table, assignment, name, number});
  }
  return keys;
}

TEST(ExampleConfiguration, NamesExactlyTheKeysOfTheConfiguration) {
  const auto path = source_dir() / "config.example.toml";
  const std::string text = read_text(path);
  toml::table root;
  try {
    root = toml::parse(text, path.string());
  } catch (const toml::parse_error& error) {
    FAIL() << "config.example.toml is not TOML: " << error.description();
  }
  std::set<std::string> active;
  collect_active(root, "", active);

  std::set<std::string> named = active;
  for (const auto& key : commented_keys(text)) {
    const auto path_name = join_key(key.table, key.key);
    EXPECT_FALSE(active.contains(path_name))
        << "config.example.toml line " << key.line << " comments out " << path_name
        << ", which the file also sets";
    EXPECT_TRUE(named.insert(path_name).second)
        << "config.example.toml line " << key.line << " names " << path_name << " again";
  }
  expect_same_keys(named, "config.example.toml");
}

// A commented-out key is there to be uncommented: alone in its table it must decode.
TEST(ExampleConfiguration, CommentedKeysDecodeWhenUncommented) {
  const std::string text = read_text(source_dir() / "config.example.toml");
  for (const auto& key : commented_keys(text)) {
    SCOPED_TRACE("config.example.toml line " + std::to_string(key.line) + ": " + key.assignment);
    const auto decoded = config::decode_config(table_header(key.table) + key.assignment + "\n");
    EXPECT_TRUE(decoded.has_value()) << decoded.error();
  }
}

}  // namespace
}  // namespace tarvik::docs
