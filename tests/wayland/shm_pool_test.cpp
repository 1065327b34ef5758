#include "wayland/shm_pool.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <wayland-client.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "wayland/fake_compositor.h"
#include "wayland/globals.h"

namespace tarvik {
namespace {

using ::testing::IsEmpty;
using ::testing::UnorderedElementsAreArray;

TEST(SlotAllocator, GivesDisjointSlotsUntilFull) {
  SlotAllocator slots(100);
  EXPECT_EQ(slots.allocate(40), 0u);
  EXPECT_EQ(slots.allocate(40), 40u);
  EXPECT_EQ(slots.allocate(40), std::nullopt);
  EXPECT_EQ(slots.allocate(20), 80u);
  EXPECT_EQ(slots.allocate(1), std::nullopt);
  EXPECT_EQ(slots.allocate(0), std::nullopt);
  EXPECT_EQ(slots.used_bytes(), 100u);
}

// The slot of a buffer the compositor still holds is never handed out again.
TEST(SlotAllocator, ReusesOnlyReleasedSlots) {
  SlotAllocator slots(100);
  auto held = slots.allocate(50);
  auto released = slots.allocate(50);
  slots.release(*released);
  auto next = slots.allocate(50);
  ASSERT_TRUE(next);
  EXPECT_EQ(*next, *released);
  EXPECT_NE(*next, *held);
  EXPECT_EQ(slots.allocate(1), std::nullopt);
}

TEST(SlotAllocator, MergesFreedNeighboursInAnyOrder) {
  SlotAllocator slots(90);
  auto a = slots.allocate(30);
  auto b = slots.allocate(30);
  auto c = slots.allocate(30);
  slots.release(*c);
  slots.release(*a);
  EXPECT_EQ(slots.allocate(60), std::nullopt) << "a and c are not adjacent";
  slots.release(*b);
  EXPECT_EQ(slots.allocate(90), 0u);
  EXPECT_EQ(slots.slot_count(), 1u);
}

TEST(SlotAllocator, IgnoresUnknownOffsets) {
  SlotAllocator slots(10);
  auto a = slots.allocate(10);
  slots.release(3);
  slots.release(*a + 100);
  EXPECT_EQ(slots.used_bytes(), 10u);
  slots.release(*a);
  slots.release(*a);
  EXPECT_EQ(slots.used_bytes(), 0u);
}

TEST(SlotAllocator, GrowingExtendsTheFreeTail) {
  SlotAllocator slots(10);
  auto a = slots.allocate(6);
  slots.grow(20);
  EXPECT_EQ(slots.length(), 20u);
  EXPECT_EQ(slots.allocate(14), 6u) << "the old free tail and the new bytes form one range";
  slots.grow(5);
  EXPECT_EQ(slots.length(), 20u) << "never shrinks";
  slots.release(*a);
  EXPECT_EQ(slots.allocate(6), 0u);

  SlotAllocator full(4);
  (void)full.allocate(4);
  full.grow(8);
  EXPECT_EQ(full.allocate(4), 4u);
}

// Pools on a bare connection to the fake compositor, which records every wl_buffer.destroy:
// a buffer is cleaned up exactly when its destroy request reaches the compositor.
class ShmPoolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    compositor.add_standard_globals();
    compositor.start();
    display = wl_display_connect(nullptr);
    ASSERT_NE(display, nullptr);
    registry = wl_display_get_registry(display);
    globals.emplace(registry);
    ASSERT_GE(wl_display_roundtrip(display), 0);
    auto bound_shm = globals->bind(&wl_shm_interface, 1, 1);
    auto bound_compositor = globals->bind(&wl_compositor_interface, 1, 4);
    ASSERT_TRUE(bound_shm && bound_compositor);
    shm = static_cast<wl_shm*>(*bound_shm);
    wl_compositor_ = static_cast<wl_compositor*>(*bound_compositor);
    surface = wl_compositor_create_surface(wl_compositor_);
  }

  void TearDown() override {
    if (surface) wl_surface_destroy(surface);
    if (wl_compositor_) wl_compositor_destroy(wl_compositor_);
    if (shm) wl_shm_destroy(shm);
    globals.reset();
    if (registry) wl_registry_destroy(registry);
    if (display) wl_display_disconnect(display);
  }

  ShmPool pool(std::size_t length) {
    auto created = ShmPool::create(shm, length);
    EXPECT_TRUE(created) << created.error();
    return std::move(*created);
  }

  ShmBuffer buffer(ShmPool& from, std::int32_t width = 4, std::int32_t height = 2) {
    auto created = from.create_buffer(width, height, width * 4, ShmPool::kArgb8888);
    EXPECT_TRUE(created) << created.error();
    return std::move(*created);
  }

  // The buffer is shown: attached and committed, so the compositor holds it until it answers
  // a later commit with a release.
  void show(ShmBuffer& shown) {
    ASSERT_TRUE(shown.attach(surface));
    wl_surface_commit(surface);
  }

  static std::string id_of(const ShmBuffer& b) {
    return "#" + std::to_string(wl_proxy_get_id(reinterpret_cast<wl_proxy*>(b.buffer())));
  }

  // The ids of the buffers destroyed so far: the first roundtrip delivers pending releases, the
  // second makes sure the destroy requests they caused have been recorded.
  std::vector<std::string> destroyed() {
    EXPECT_GE(wl_display_roundtrip(display), 0);
    EXPECT_GE(wl_display_roundtrip(display), 0);
    std::vector<std::string> ids;
    for (const std::string& line : compositor.requests_matching("wl_buffer.destroy")) {
      ids.push_back(line.substr(line.rfind('#')));
    }
    return ids;
  }

  fake::FakeCompositor compositor;
  wl_display* display = nullptr;
  wl_registry* registry = nullptr;
  std::optional<GlobalList> globals;
  wl_shm* shm = nullptr;
  wl_compositor* wl_compositor_ = nullptr;
  wl_surface* surface = nullptr;
};

// Buffers the compositor still holds are kept while the connection lives, however the daemon
// lets go of them; dropping the pool (the connection is going away) destroys them all,
// including those of memory it renewed away from.
TEST_F(ShmPoolTest, HeldBuffersWaitForTheirReleaseAndGoWithThePool) {
  std::vector<std::string> expected;
  {
    ShmPool overlays = pool(64);
    ShmBuffer shown = buffer(overlays);
    show(shown);
    expected.push_back(id_of(shown));
    ShmBuffer copied = buffer(overlays);  // a screencopy target, never attached
    copied.mark_active();
    expected.push_back(id_of(copied));
    {
      ShmBuffer idle = buffer(overlays);  // never given to the compositor
      expected.push_back(id_of(idle));
    }
    ASSERT_THAT(destroyed(), UnorderedElementsAreArray({expected.back()}));
    shown = ShmBuffer();
    copied = ShmBuffer();
    EXPECT_EQ(overlays.slots_in_use(), 2u);

    ASSERT_TRUE(overlays.renew(16));
    EXPECT_EQ(overlays.length(), 16u);
    EXPECT_EQ(overlays.slots_in_use(), 0u) << "the fresh memory has no buffers";
    ShmBuffer after = buffer(overlays, 1, 1);
    show(after);
    expected.push_back(id_of(after));
    after = ShmBuffer();
    EXPECT_EQ(destroyed().size(), 1u) << "nothing the compositor holds is destroyed";
  }
  EXPECT_THAT(destroyed(), UnorderedElementsAreArray(expected));
}

// A released buffer of renewed-away memory goes at once: the old mapping does not wait for
// the pool's end.
TEST_F(ShmPoolTest, ReleasedBuffersOfRenewedMemoryGoAtOnce) {
  compositor.set_release_buffers(true);
  ShmPool overlays = pool(64);
  ShmBuffer old = buffer(overlays);
  const std::string old_id = id_of(old);
  show(old);
  old = ShmBuffer();
  ASSERT_TRUE(overlays.renew(4));
  EXPECT_THAT(destroyed(), IsEmpty());

  ShmBuffer parked = buffer(overlays, 1, 1);
  show(parked);  // the compositor releases the old buffer on this commit
  EXPECT_THAT(destroyed(), UnorderedElementsAreArray({old_id}));
}

// A handle that outlives its pool keeps its bytes usable and destroys its buffer when dropped,
// even while the compositor still holds it: no release will be awaited any more.
TEST_F(ShmPoolTest, AHandleOutlivingItsPoolDestroysItsBufferWhenDropped) {
  std::optional<ShmPool> captures(pool(64));
  ShmBuffer held = buffer(*captures);
  held.mark_active();
  const std::string id = id_of(held);
  captures.reset();
  std::fill(held.bytes().begin(), held.bytes().end(), std::uint8_t{0x5a});
  EXPECT_THAT(destroyed(), IsEmpty());
  held = ShmBuffer();
  EXPECT_THAT(destroyed(), UnorderedElementsAreArray({id}));
}

// Assigning over a pool ends the replaced one like dropping it.
TEST_F(ShmPoolTest, AssigningOverAPoolEndsTheReplacedOne) {
  ShmPool overlays = pool(64);
  ShmBuffer shown = buffer(overlays);
  const std::string id = id_of(shown);
  show(shown);
  shown = ShmBuffer();
  ShmBuffer kept_buffer;
  {
    ShmPool replacement = pool(8);
    kept_buffer = buffer(replacement, 1, 1);
    overlays = std::move(replacement);
  }
  EXPECT_THAT(destroyed(), UnorderedElementsAreArray({id}));
  EXPECT_TRUE(kept_buffer.belongs_to(overlays));
  EXPECT_EQ(overlays.slots_in_use(), 1u);
}

}  // namespace
}  // namespace tarvik
