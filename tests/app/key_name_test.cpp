#include "app/key_name.h"

#include <gtest/gtest.h>

#include <xkbcommon/xkbcommon-keysyms.h>

namespace tarvik {
namespace {

struct KeyNameCase {
  const char* what;
  std::string produced;
  std::uint32_t keysym;
  std::string expected;
};

class KeyNameTest : public ::testing::TestWithParam<KeyNameCase> {};

TEST_P(KeyNameTest, NamesTheKey) {
  const KeyNameCase& c = GetParam();
  EXPECT_EQ(key_name(c.produced, c.keysym), c.expected) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, KeyNameTest,
    ::testing::Values(
        KeyNameCase{"plain letter", "a", XKB_KEY_a, "a"},
        KeyNameCase{"shifted letter", "A", XKB_KEY_A, "A"},
        KeyNameCase{"two-byte character", "\xc3\xa9", XKB_KEY_eacute, "\xc3\xa9"},
        KeyNameCase{"four-byte character", "\xf0\x9f\x98\x80", 0x0101F600, "\xf0\x9f\x98\x80"},
        KeyNameCase{"digit", "1", XKB_KEY_1, "1"},
        KeyNameCase{"space is white space", " ", XKB_KEY_space, "space"},
        KeyNameCase{"return produces a carriage return", "\r", XKB_KEY_Return, "Return"},
        KeyNameCase{"escape produces a control character", "\x1b", XKB_KEY_Escape, "Escape"},
        KeyNameCase{"backspace", "\x08", XKB_KEY_BackSpace, "BackSpace"},
        KeyNameCase{"tab", "\t", XKB_KEY_Tab, "Tab"},
        KeyNameCase{"delete is a control character", "\x7f", XKB_KEY_Delete, "Delete"},
        KeyNameCase{"C1 control character", "\xc2\x85", XKB_KEY_a, "a"},
        KeyNameCase{"no-break space", "\xc2\xa0", XKB_KEY_nobreakspace, "nobreakspace"},
        KeyNameCase{"ideographic space", "\xe3\x80\x80", XKB_KEY_a, "a"},
        KeyNameCase{"narrow no-break space", "\xe2\x80\xaf", XKB_KEY_b, "b"},
        KeyNameCase{"compose result of two characters", "ab", XKB_KEY_Multi_key, "Multi_key"},
        KeyNameCase{"no text", "", XKB_KEY_F1, "F1"},
        KeyNameCase{"no text, shift", "", XKB_KEY_Shift_L, "Shift_L"},
        KeyNameCase{"malformed text", "\xc3", XKB_KEY_a, "a"},
        KeyNameCase{"overlong encoding", "\xc0\xaf", XKB_KEY_slash, "slash"},
        KeyNameCase{"surrogate encoding", "\xed\xa0\x80", XKB_KEY_a, "a"},
        KeyNameCase{"unnamed keysym", "", 0x00001234, ""},
        KeyNameCase{"unnamed Unicode keysym", "", 0x0110FFFD, ""},
        KeyNameCase{"no keysym", "", XKB_KEY_NoSymbol, ""},
        KeyNameCase{"keysym past the valid range", "", 0x20000000, ""}));

}  // namespace
}  // namespace tarvik
