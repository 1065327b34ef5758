// Shared-memory buffer pools. A pool is one memory file shared with the compositor and cut
// into slots, one per buffer. A slot returns to the pool only when both the daemon has let go
// of its buffer and the compositor has released it, so memory the compositor may still read is
// never written again. Dropping the pool itself means the connection is going away: no release
// will come any more, so the buffers still waiting for one are destroyed with it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

struct wl_shm;
struct wl_shm_pool;
struct wl_buffer;
struct wl_surface;

namespace tarvik {

// First-fit allocation of byte ranges within a growable length; freed neighbours merge.
class SlotAllocator {
 public:
  explicit SlotAllocator(std::size_t length);

  // The offset of a new slot of `size` bytes (size > 0), or none when no free range fits.
  std::optional<std::size_t> allocate(std::size_t size);
  // Frees the slot starting at `offset`; unknown offsets are ignored.
  void release(std::size_t offset);
  // Extends the managed length (never shrinks).
  void grow(std::size_t length);

  std::size_t length() const { return length_; }
  std::size_t used_bytes() const;
  std::size_t slot_count() const { return used_.size(); }

 private:
  std::size_t length_;
  std::map<std::size_t, std::size_t> free_;  // offset -> length
  std::map<std::size_t, std::size_t> used_;
};

inline constexpr const char* kBufferAlreadyActive = "Buffer was already active";
inline constexpr const char* kBufferTooLarge = "Requested buffer size is too large for slot";

struct PoolMemory;
class ShmPool;
struct BufferState;

// One buffer of a pool. Dropping the handle gives the slot back once the compositor no longer
// holds the buffer (at once when the pool is already gone).
class ShmBuffer {
 public:
  ShmBuffer() = default;
  ShmBuffer(ShmBuffer&& other) noexcept;
  ShmBuffer& operator=(ShmBuffer&& other) noexcept;
  ~ShmBuffer();

  // The buffer's bytes; valid until the pool grows or the handle is dropped.
  std::span<std::uint8_t> bytes();
  wl_buffer* buffer() const;
  // Attaches to the surface at (0, 0); fails with kBufferAlreadyActive while the compositor
  // still holds this buffer from an earlier attach.
  std::expected<void, std::string> attach(wl_surface* surface);
  bool active() const;
  // For buffers the compositor writes into without attaching them (screencopy): held from
  // the copy request until the frame is finished or destroyed, which is when no release
  // event will come.
  void mark_active();
  void mark_released();
  // Whether the buffer was cut from `pool` (and not from a pool it has since replaced).
  bool belongs_to(const ShmPool& pool) const;

 private:
  friend class ShmPool;
  explicit ShmBuffer(BufferState* state) : state_(state) {}
  BufferState* state_ = nullptr;
};

class ShmPool {
 public:
  friend class ShmBuffer;
  // Format code 0 of wl_shm: 32-bit little-endian ARGB with premultiplied alpha.
  static constexpr std::uint32_t kArgb8888 = 0;

  // A pool of `length` bytes (at least 1). Errors are system error texts.
  static std::expected<ShmPool, std::string> create(wl_shm* shm, std::size_t length);

  ShmPool(ShmPool&&) noexcept;
  // The replaced pool goes away as if dropped (see ~ShmPool).
  ShmPool& operator=(ShmPool&&) noexcept;
  // Destroys every buffer of this pool and of the memory it renewed away from that the daemon
  // no longer holds, whether or not the compositor released it; handles still held are
  // destroyed as soon as they are dropped. Only for teardown of the connection: while it
  // lives, renew() is the way to give memory back.
  ~ShmPool();

  // Continues on fresh memory of `length` bytes (at least 1) so that a large mapping can be
  // given back. Buffers of the old memory stay valid; the old memory is unmapped when the last
  // of them is dropped and released, or when this pool is dropped. On failure the pool keeps
  // its memory.
  std::expected<void, std::string> renew(std::size_t length);

  std::size_t length() const;
  // Grows the pool to at least `length` bytes.
  std::expected<void, std::string> ensure_length(std::size_t length);
  // A buffer in a free slot, growing the pool when no free slot is large enough.
  std::expected<ShmBuffer, std::string> create_buffer(std::int32_t width, std::int32_t height,
                                                     std::int32_t stride, std::uint32_t format);
  // Slots not yet given back (held by a handle or by the compositor).
  std::size_t slots_in_use() const;

 private:
  ShmPool(wl_shm* shm, std::shared_ptr<PoolMemory> memory)
      : shm_(shm), memory_(std::move(memory)) {}
  void close();

  wl_shm* shm_ = nullptr;
  std::shared_ptr<PoolMemory> memory_;
  // Memories renewed away from that still had buffers: kept alive by those buffers alone.
  std::vector<std::weak_ptr<PoolMemory>> retired_;
};

}  // namespace tarvik
