// The grab's keymap checks, fed through real descriptors the way the compositor hands them
// over. Every memfd here has its file offset at the end, so an accepted keymap also shows that
// the bytes were read from offset 0 and not from the descriptor's position.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cerrno>
#include <functional>
#include <string>

#include "input_method/grab_state.h"
#include "input_method_support.h"
#include "logging/system_error.h"

namespace tarvik {
namespace {

using testing::descriptor_closed;
using testing::memfd_with;
using testing::us_keymap_text;

std::string terminated_keymap() { return us_keymap_text() + '\0'; }

struct Delivery {
  int fd;
  std::uint32_t size;
};

struct RefusedCase {
  const char* what;
  std::uint32_t format;
  std::function<Delivery()> make;
  std::string expected;
};

void PrintTo(const RefusedCase& c, std::ostream* os) { *os << c.what; }

class RefusedKeymap : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(RefusedKeymap, QueuesItsTextClosesTheDescriptorAndInstallsNothing) {
  const RefusedCase& c = GetParam();
  GrabState state = make_grab_state(7);
  const Delivery delivery = c.make();
  grab_keymap(state, c.format, delivery.fd, delivery.size);
  EXPECT_EQ(state.error, c.expected) << c.what;
  EXPECT_EQ(state.keymap, nullptr) << c.what;
  EXPECT_EQ(state.state, nullptr) << c.what;
  EXPECT_TRUE(descriptor_closed(delivery.fd)) << c.what;
}

Delivery whole(const std::string& bytes) {
  return {memfd_with(bytes), static_cast<std::uint32_t>(bytes.size())};
}

INSTANTIATE_TEST_SUITE_P(
    Checks, RefusedKeymap,
    ::testing::Values(
        RefusedCase{"format 0 (no keymap)", 0, [] { return whole(terminated_keymap()); },
                    kGrabKeymapFormat},
        RefusedCase{"unknown format 2", 2, [] { return whole(terminated_keymap()); },
                    kGrabKeymapFormat},
        RefusedCase{"size 0", 1, [] { return Delivery{memfd_with(terminated_keymap()), 0}; },
                    kGrabKeymapSize},
        // Without the size limit this would read and end early instead.
        RefusedCase{"size 16 MiB + 1", 1,
                    [] { return Delivery{memfd_with(terminated_keymap()), kGrabKeymapMaxBytes + 1}; },
                    kGrabKeymapSize},
        RefusedCase{"largest size value", 1,
                    [] { return Delivery{memfd_with(terminated_keymap()), 0xFFFFFFFFu}; },
                    kGrabKeymapSize},
        RefusedCase{"file shorter than the announced size", 1,
                    [] {
                      const std::string text = terminated_keymap();
                      return Delivery{memfd_with(text), static_cast<std::uint32_t>(text.size() + 1)};
                    },
                    kGrabKeymapEarlyEnd},
        RefusedCase{"empty file", 1, [] { return Delivery{memfd_with(""), 64}; },
                    kGrabKeymapEarlyEnd},
        RefusedCase{"read error", 1,
                    [] { return Delivery{open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC), 64}; },
                    os_error_text(EISDIR)},
        RefusedCase{"no zero byte", 1, [] { return whole(us_keymap_text()); },
                    kGrabKeymapUnterminated},
        RefusedCase{"zero byte outside the announced size", 1,
                    [] {
                      const std::string text = terminated_keymap();
                      return Delivery{memfd_with(text), static_cast<std::uint32_t>(text.size() - 1)};
                    },
                    kGrabKeymapUnterminated},
        RefusedCase{"text that is no keymap", 1,
                    [] { return whole(std::string("xkb_keymap { nonsense };\0", 25)); },
                    kGrabKeymapCompile},
        RefusedCase{"empty text before the zero byte", 1,
                    [] { return whole(std::string(1, '\0')); }, kGrabKeymapCompile}),
    [](const ::testing::TestParamInfo<RefusedCase>& info) {
      std::string name;
      for (const char* p = info.param.what; *p; ++p) {
        name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
      }
      return name;
    });

struct AcceptedCase {
  const char* what;
  std::function<Delivery()> make;
};

void PrintTo(const AcceptedCase& c, std::ostream* os) { *os << c.what; }

class AcceptedKeymap : public ::testing::TestWithParam<AcceptedCase> {};

TEST_P(AcceptedKeymap, InstallsKeymapAndState) {
  const AcceptedCase& c = GetParam();
  GrabState state = make_grab_state(7);
  const Delivery delivery = c.make();
  grab_keymap(state, 1, delivery.fd, delivery.size);
  EXPECT_EQ(state.error, std::nullopt) << c.what;
  EXPECT_NE(state.keymap, nullptr) << c.what;
  EXPECT_NE(state.state, nullptr) << c.what;
  EXPECT_TRUE(descriptor_closed(delivery.fd)) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Checks, AcceptedKeymap,
    ::testing::Values(
        AcceptedCase{"exactly the terminated text", [] { return whole(terminated_keymap()); }},
        AcceptedCase{"bytes after the zero byte are ignored",
                     [] { return whole(terminated_keymap() + "trailing garbage"); }},
        AcceptedCase{"the announced size ends before the file does",
                     [] {
                       const std::string text = terminated_keymap();
                       return Delivery{memfd_with(text + "more bytes"),
                                       static_cast<std::uint32_t>(text.size())};
                     }},
        AcceptedCase{"exactly 16 MiB",
                     [] {
                       std::string text = terminated_keymap();
                       text.resize(kGrabKeymapMaxBytes, '\0');
                       return whole(text);
                     }}));

TEST(GrabKeymap, RefusedKeymapKeepsThePreviousOneAndTheFirstErrorStays) {
  GrabState state = testing::state_with_us_keymap();
  const xkb_keymap* before = state.keymap.get();

  grab_keymap(state, 1, memfd_with(us_keymap_text()), 1000);
  grab_keymap(state, 0, memfd_with(terminated_keymap()), 10);

  EXPECT_EQ(state.keymap.get(), before);
  EXPECT_EQ(state.error, kGrabKeymapUnterminated);
}

TEST(GrabKeymap, NewKeymapReplacesTheOldOneAndStopsTheRepeat) {
  GrabState state = testing::state_with_us_keymap();
  grab_key(state, 30, 1);  // a, which repeats
  ASSERT_TRUE(state.repeating_held);
  const std::uint64_t generation = state.repeat_generation;
  const xkb_keymap* before = state.keymap.get();

  const std::string text = terminated_keymap();
  grab_keymap(state, 1, memfd_with(text), static_cast<std::uint32_t>(text.size()));

  EXPECT_EQ(state.error, std::nullopt);
  EXPECT_NE(state.keymap.get(), before);
  EXPECT_FALSE(repeat_event(state, generation).has_value());
}

TEST(ReadKeymapBytes, ReadsFromOffsetZeroWhateverTheDescriptorPosition) {
  const int fd = memfd_with("0123456789");
  ASSERT_EQ(lseek(fd, 4, SEEK_SET), 4);
  EXPECT_EQ(read_keymap_bytes(fd, 6), "012345");
  // A positioned read leaves the offset alone.
  EXPECT_EQ(lseek(fd, 0, SEEK_CUR), 4);
  close(fd);
}

}  // namespace
}  // namespace tarvik
