// The bash, zsh and fish completions against the command line: each shell is asked for its
// candidates at a point of a command line, and the answer must be exactly the words the usage
// text allows there. The vocabulary is read from the usage text, so a new option or word that the
// completions miss fails here.

#include <algorithm>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli/texts.h"
#include "docs/docs_support.h"

namespace tarvik::docs {
namespace {

using Words = std::set<std::string>;

struct Vocabulary {
  Words commands;
  Words first_only;  // help and version, which count only as the first argument
  Words globals;
  std::map<std::string, Words> options;  // per command
  Words levels;
  Words scopes;
  Words actions;
  Words buttons;
  Words directions;
};

Words split(std::string_view text, std::string_view separators) {
  const auto found = pieces(text, separators);
  return {found.begin(), found.end()};
}

// The words of a usage line, brackets taken off: "[--step AMOUNT]" gives "--step" and "AMOUNT".
std::vector<std::string> usage_words(std::string_view text) { return pieces(text, " []"); }

// "-h", "--log-level": one or two dashes, then a letter, then letters and hyphens.
bool option_word(std::string_view word) {
  const auto dashes = word.find_first_not_of('-');
  if (dashes == 0 || dashes > 2 || dashes == std::string_view::npos) return false;
  const auto is_letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  if (!is_letter(word[dashes])) return false;
  return std::ranges::all_of(word.substr(dashes), [&](char c) { return is_letter(c) || c == '-'; });
}

Words options_in(std::string_view text) {
  Words found;
  for (const auto& word : usage_words(text)) {
    if (option_word(word)) found.insert(word);
  }
  return found;
}

// The first "left|middle|right" of `text`.
Words alternatives_in(std::string_view text) {
  for (const auto& word : usage_words(text)) {
    if (word.find('|') != std::string::npos && plain_word(word, "|")) return split(word, "|");
  }
  return {};
}

Vocabulary read_usage() {
  Vocabulary v;
  const std::string usage = usage_text("tarvik");
  const std::string command_prefix = "tarvik [GLOBAL OPTIONS] ";
  std::istringstream lines(usage);
  std::string section;
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with(command_prefix)) {
      // Leading command words, "reload | cancel" naming two; the rest is what they take.
      const auto words = usage_words(line.substr(command_prefix.size()));
      std::vector<std::string> commands;
      std::size_t i = 0;
      for (; i < words.size() && (words[i] == "|" || plain_word(words[i])); ++i) {
        if (words[i] != "|") commands.push_back(words[i]);
      }
      std::string rest;
      for (; i < words.size(); ++i) rest += words[i] + " ";
      for (const auto& command : commands) {
        v.commands.insert(command);
        v.options[command] = options_in(rest);
        if (command == "click") v.buttons = alternatives_in(rest);
        if (command == "scroll") v.directions = alternatives_in(rest);
      }
    } else if (line.starts_with("tarvik ")) {
      v.first_only.merge(options_in(line.substr(7)));
    } else if (!line.empty() && !line.starts_with(" ")) {
      section = line;
    } else if (section.starts_with("GLOBAL OPTIONS")) {
      v.globals.merge(options_in(line));
      if (line.find("--log-level") != std::string::npos) v.levels = alternatives_in(line);
    } else if (section.starts_with("GRID OPTIONS")) {
      // Only the option the line describes: "--output" in the text of "--scope" is not one.
      const auto words = usage_words(line);
      if (!words.empty()) v.options["grid"].merge(options_in(words.front()));
      if (line.find("--scope") != std::string::npos) v.scopes = alternatives_in(line);
    } else if (section.starts_with("ACTIONS")) {
      v.actions.merge(split(line, " ,"));
    }
  }
  return v;
}

const Vocabulary& vocabulary() {
  static const Vocabulary v = read_usage();
  return v;
}

Words plus(Words a, const Words& b) {
  a.insert(b.begin(), b.end());
  return a;
}

Words minus(Words a, const Words& b) {
  for (const auto& word : b) a.erase(word);
  return a;
}

struct Case {
  std::string line;  // the words before the cursor, the last one being completed
  Words expected;
};

std::vector<Case> cases() {
  const auto& v = vocabulary();
  const auto with_globals = [&](const std::string& command) { return plus(v.options.at(command), v.globals); };
  return {
      {"tarvik ", v.commands},
      {"tarvik -", plus(v.globals, v.first_only)},
      {"tarvik --log-level ", v.levels},
      {"tarvik --log-level debug ", v.commands},
      {"tarvik --log-file out.json gr", {"grid"}},
      {"tarvik daemon -", with_globals("daemon")},
      {"tarvik reload -", v.globals},
      {"tarvik cancel -", v.globals},
      {"tarvik mouse -", v.globals},
      {"tarvik grid -", with_globals("grid")},
      {"tarvik grid --scope ", v.scopes},
      {"tarvik grid --action ", v.actions},
      // Words that are also command names ("mouse", "scroll") must not be taken for one.
      {"tarvik grid --action mouse -", with_globals("grid")},
      {"tarvik grid --action scroll --scope ", v.scopes},
      // The two are mutually exclusive, so once one is given the other is not offered.
      {"tarvik grid --scope all -", minus(with_globals("grid"), {"--output"})},
      {"tarvik grid --output DP-1 -", minus(with_globals("grid"), {"--scope"})},
      {"tarvik grid --no-auto-descend -", minus(with_globals("grid"), {"--auto-descend"})},
      {"tarvik click ", v.buttons},
      {"tarvik click left -", v.globals},
      {"tarvik scroll ", v.directions},
      {"tarvik scroll up -", with_globals("scroll")},
      {"tarvik --log-level warn scroll ", v.directions},
      {"tarvik-dev click ", v.buttons},
  };
}

std::vector<std::string> words_of(const std::string& line) {
  std::vector<std::string> words;
  std::istringstream in(line);
  for (std::string word; in >> word;) words.push_back(word);
  if (line.ends_with(' ')) words.emplace_back();  // completing a new, empty word
  return words;
}

Words lines_of(const std::string& text) {
  Words words;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    // fish follows a candidate with a tab and its description.
    line = line.substr(0, line.find('\t'));
    if (!line.empty()) words.insert(line);
  }
  return words;
}

struct Shell {
  std::string name;
  // For each line, the candidates the shell offers at its end.
  std::vector<Words> (*complete)(const std::vector<std::string>& lines);
};

Words finished_words(const Finished& finished, const std::string& shell) {
  EXPECT_FALSE(finished.timed_out) << shell << " did not finish";
  EXPECT_EQ(finished.exit_status, 0) << shell << " failed:\n" << finished.err;
  EXPECT_EQ(finished.err, "") << shell << " complained";
  return lines_of(finished.out);
}

std::vector<Words> complete_bash(const std::vector<std::string>& lines) {
  std::vector<Words> offered;
  for (const auto& line : lines) {
    std::vector<std::string> argv{
        "bash", "--norc", "--noprofile", "-c",
        R"(source "$1" && shift && COMP_WORDS=("$@") && COMP_CWORD=$(($# - 1)) && _tarvik &&
           printf '%s\n' "${COMPREPLY[@]}")",
        "bash", (source_dir() / "completions/tarvik.bash").string()};
    for (auto& word : words_of(line)) argv.push_back(word);
    offered.push_back(finished_words(run(argv), "bash"));
  }
  return offered;
}

// One interactive zsh serves every line: starting its completion system is the slow part.
std::vector<Words> complete_zsh(const std::vector<std::string>& lines) {
  ScratchDir scratch;
  std::vector<std::string> argv{"zsh", "-f", (source_dir() / "tests/docs/zsh_complete.zsh").string(),
                                (source_dir() / "completions").string(), scratch.path().string()};
  argv.insert(argv.end(), lines.begin(), lines.end());
  finished_words(run(argv, std::chrono::seconds(90)), "zsh");
  std::vector<Words> offered;
  for (std::size_t n = 1; n <= lines.size(); ++n) {
    const auto out = scratch.path() / std::to_string(n);
    offered.push_back(std::filesystem::exists(out) ? lines_of(read_text(out)) : Words{});
  }
  return offered;
}

std::vector<Words> complete_fish(const std::vector<std::string>& lines) {
  std::vector<Words> offered;
  for (const auto& line : lines) {
    offered.push_back(finished_words(
        run({"fish", "--no-config", "-c", "source $argv[1]; and complete -C $argv[2]",
             (source_dir() / "completions/tarvik.fish").string(), line}),
        "fish"));
  }
  return offered;
}

class Completion : public ::testing::TestWithParam<Shell> {};

TEST_P(Completion, OffersExactlyTheWordsTheCommandLineAllows) {
  if (!have_program(GetParam().name)) GTEST_SKIP() << GetParam().name << " is not installed";
  const auto& v = vocabulary();
  // A usage text this parser no longer understands must not pass as an empty vocabulary.
  for (const Words* words : {&v.commands, &v.globals, &v.first_only, &v.levels, &v.scopes,
                             &v.actions, &v.buttons, &v.directions}) {
    ASSERT_FALSE(words->empty()) << "the usage text no longer reads as expected:\n"
                                 << usage_text("tarvik");
  }
  const auto all = cases();
  std::vector<std::string> lines;
  for (const auto& c : all) lines.push_back(c.line);
  const auto offered = GetParam().complete(lines);
  ASSERT_EQ(offered.size(), all.size());
  for (std::size_t i = 0; i < all.size(); ++i) {
    EXPECT_EQ(offered[i], all[i].expected) << GetParam().name << ": \"" << all[i].line << "\"";
  }
}

INSTANTIATE_TEST_SUITE_P(Shells, Completion,
                         ::testing::Values(Shell{"bash", complete_bash}, Shell{"zsh", complete_zsh},
                                           Shell{"fish", complete_fish}),
                         [](const auto& info) { return info.param.name; });

// zsh finds a completion function by the name on its first line, and both program names need it.
TEST(Completion, ZshFunctionServesBothProgramNames) {
  const std::string text = read_text(source_dir() / "completions/_tarvik");
  const std::string first_line = text.substr(0, text.find('\n'));
  EXPECT_EQ(split(first_line, " "), (Words{"#compdef", "tarvik", "tarvik-dev"}));
}

}  // namespace
}  // namespace tarvik::docs
