#include "wayland/shm_pool.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <cerrno>
#include <limits>
#include <set>
#include <utility>

#include "logging/system_error.h"

namespace tarvik {

SlotAllocator::SlotAllocator(std::size_t length) : length_(length) {
  if (length_ > 0) free_[0] = length_;
}

std::optional<std::size_t> SlotAllocator::allocate(std::size_t size) {
  if (size == 0) return std::nullopt;
  for (auto it = free_.begin(); it != free_.end(); ++it) {
    if (it->second < size) continue;
    std::size_t offset = it->first;
    std::size_t rest = it->second - size;
    free_.erase(it);
    if (rest > 0) free_[offset + size] = rest;
    used_[offset] = size;
    return offset;
  }
  return std::nullopt;
}

void SlotAllocator::release(std::size_t offset) {
  auto used = used_.find(offset);
  if (used == used_.end()) return;
  std::size_t start = offset;
  std::size_t length = used->second;
  used_.erase(used);
  auto next = free_.find(start + length);
  if (next != free_.end()) {
    length += next->second;
    free_.erase(next);
  }
  auto after = free_.lower_bound(start);
  if (after != free_.begin()) {
    auto before = std::prev(after);
    if (before->first + before->second == start) {
      start = before->first;
      length += before->second;
      free_.erase(before);
    }
  }
  free_[start] = length;
}

void SlotAllocator::grow(std::size_t length) {
  if (length <= length_) return;
  std::size_t added = length - length_;
  std::size_t start = length_;
  length_ = length;
  // Merge with a free range that ends at the old end.
  if (!free_.empty()) {
    auto last = std::prev(free_.end());
    if (last->first + last->second == start) {
      last->second += added;
      return;
    }
  }
  free_[start] = added;
}

std::size_t SlotAllocator::used_bytes() const {
  std::size_t total = 0;
  for (const auto& [offset, size] : used_) total += size;
  return total;
}

// The memory file, its mapping and the protocol pool. Shared by the pool handle and every
// buffer cut from it, so memory a held buffer refers to outlives a replaced pool.
struct PoolMemory {
  int fd = -1;
  std::uint8_t* map = nullptr;
  std::size_t length = 0;
  wl_shm_pool* pool = nullptr;
  SlotAllocator slots{0};
  // Every buffer cut from this memory and not yet destroyed (each keeps the memory alive).
  std::set<BufferState*> buffers;
  // The pool handle is gone with the connection: releases are no longer awaited.
  bool closed = false;

  ~PoolMemory() {
    if (pool) wl_shm_pool_destroy(pool);
    if (map) munmap(map, length);
    if (fd >= 0) close(fd);
  }

  std::expected<void, std::string> grow(std::size_t new_length) {
    if (new_length <= length) return {};
    if (new_length > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
      return std::unexpected(std::string(kBufferTooLarge));
    }
    if (ftruncate(fd, static_cast<off_t>(new_length)) != 0) {
      return std::unexpected(os_error_text(errno));
    }
    void* remapped = mremap(map, length, new_length, MREMAP_MAYMOVE);
    if (remapped == MAP_FAILED) return std::unexpected(os_error_text(errno));
    map = static_cast<std::uint8_t*>(remapped);
    length = new_length;
    wl_shm_pool_resize(pool, static_cast<std::int32_t>(new_length));
    slots.grow(new_length);
    return {};
  }
};

struct BufferState {
  std::shared_ptr<PoolMemory> memory;
  wl_buffer* buffer = nullptr;
  std::size_t offset = 0;
  std::size_t size = 0;
  bool active = false;       // attached and not yet released by the compositor
  bool handle_alive = true;  // the daemon still holds the ShmBuffer

  void destroy() {
    wl_buffer_destroy(buffer);
    memory->slots.release(offset);
    memory->buffers.erase(this);
    delete this;  // may free the memory with its last buffer
  }

  static void on_release(void* data, wl_buffer*) {
    auto* state = static_cast<BufferState*>(data);
    state->active = false;
    if (!state->handle_alive) state->destroy();
  }
};

namespace {
const wl_buffer_listener buffer_listener = {.release = &BufferState::on_release};
}

ShmBuffer::ShmBuffer(ShmBuffer&& other) noexcept : state_(std::exchange(other.state_, nullptr)) {}

ShmBuffer& ShmBuffer::operator=(ShmBuffer&& other) noexcept {
  if (this != &other) {
    ShmBuffer dropped(std::move(*this));
    state_ = std::exchange(other.state_, nullptr);
  }
  return *this;
}

ShmBuffer::~ShmBuffer() {
  if (!state_) return;
  state_->handle_alive = false;
  if (!state_->active || state_->memory->closed) state_->destroy();
}

std::span<std::uint8_t> ShmBuffer::bytes() {
  return {state_->memory->map + state_->offset, state_->size};
}

wl_buffer* ShmBuffer::buffer() const { return state_->buffer; }

bool ShmBuffer::active() const { return state_ && state_->active; }

void ShmBuffer::mark_active() { state_->active = true; }

void ShmBuffer::mark_released() { state_->active = false; }

bool ShmBuffer::belongs_to(const ShmPool& pool) const {
  return state_ && state_->memory == pool.memory_;
}

std::expected<void, std::string> ShmBuffer::attach(wl_surface* surface) {
  if (state_->active) return std::unexpected(std::string(kBufferAlreadyActive));
  wl_surface_attach(surface, state_->buffer, 0, 0);
  state_->active = true;
  return {};
}

namespace {

std::expected<std::shared_ptr<PoolMemory>, std::string> map_memory(wl_shm* shm,
                                                                   std::size_t length) {
  if (length == 0) length = 1;
  if (length > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
    return std::unexpected(std::string(kBufferTooLarge));
  }
  auto memory = std::make_shared<PoolMemory>();
  memory->fd = memfd_create("tarvik-shm", MFD_CLOEXEC);
  if (memory->fd < 0) return std::unexpected(os_error_text(errno));
  if (ftruncate(memory->fd, static_cast<off_t>(length)) != 0) {
    return std::unexpected(os_error_text(errno));
  }
  void* map = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, memory->fd, 0);
  if (map == MAP_FAILED) return std::unexpected(os_error_text(errno));
  memory->map = static_cast<std::uint8_t*>(map);
  memory->length = length;
  memory->pool = wl_shm_create_pool(shm, memory->fd, static_cast<std::int32_t>(length));
  memory->slots = SlotAllocator(length);
  return memory;
}

// No release event will come for the buffers the daemon dropped: destroy them now. Held
// handles destroy theirs when dropped.
void close_memory(const std::shared_ptr<PoolMemory>& memory) {
  memory->closed = true;
  std::vector<BufferState*> orphans;
  for (BufferState* state : memory->buffers) {
    if (!state->handle_alive) orphans.push_back(state);
  }
  for (BufferState* state : orphans) state->destroy();
}

}  // namespace

std::expected<ShmPool, std::string> ShmPool::create(wl_shm* shm, std::size_t length) {
  auto memory = map_memory(shm, length);
  if (!memory) return std::unexpected(memory.error());
  return ShmPool(shm, std::move(*memory));
}

ShmPool::ShmPool(ShmPool&& other) noexcept
    : shm_(std::exchange(other.shm_, nullptr)),
      memory_(std::move(other.memory_)),
      retired_(std::move(other.retired_)) {}

ShmPool& ShmPool::operator=(ShmPool&& other) noexcept {
  if (this != &other) {
    close();
    shm_ = std::exchange(other.shm_, nullptr);
    memory_ = std::move(other.memory_);
    retired_ = std::move(other.retired_);
  }
  return *this;
}

ShmPool::~ShmPool() { close(); }

void ShmPool::close() {
  if (memory_) close_memory(memory_);
  memory_.reset();
  for (const auto& weak : retired_) {
    if (auto memory = weak.lock()) close_memory(memory);
  }
  retired_.clear();
}

std::expected<void, std::string> ShmPool::renew(std::size_t length) {
  auto fresh = map_memory(shm_, length);
  if (!fresh) return std::unexpected(fresh.error());
  std::erase_if(retired_, [](const std::weak_ptr<PoolMemory>& weak) { return weak.expired(); });
  if (!memory_->buffers.empty()) retired_.push_back(memory_);
  memory_ = std::move(*fresh);
  return {};
}

std::size_t ShmPool::length() const { return memory_->length; }

std::size_t ShmPool::slots_in_use() const { return memory_->slots.slot_count(); }

std::expected<void, std::string> ShmPool::ensure_length(std::size_t length) {
  return memory_->grow(length);
}

std::expected<ShmBuffer, std::string> ShmPool::create_buffer(std::int32_t width,
                                                             std::int32_t height,
                                                             std::int32_t stride,
                                                             std::uint32_t format) {
  if (width <= 0 || height <= 0 || stride < width * 4) {
    return std::unexpected(std::string(kBufferTooLarge));
  }
  std::size_t size = static_cast<std::size_t>(stride) * static_cast<std::size_t>(height);
  auto offset = memory_->slots.allocate(size);
  if (!offset) {
    // Every fitting slot is still held: grow rather than reuse memory the compositor may read.
    std::size_t wanted = memory_->length + size;
    if (auto grown = memory_->grow(std::max(wanted, memory_->length * 2)); !grown) {
      if (auto exact = memory_->grow(wanted); !exact) return std::unexpected(exact.error());
    }
    offset = memory_->slots.allocate(size);
    if (!offset) return std::unexpected(std::string(kBufferTooLarge));
  }
  auto* state = new BufferState{memory_, nullptr, *offset, size};
  memory_->buffers.insert(state);
  state->buffer = wl_shm_pool_create_buffer(memory_->pool, static_cast<std::int32_t>(*offset),
                                            width, height, stride, format);
  wl_buffer_add_listener(state->buffer, &buffer_listener, state);
  return ShmBuffer(state);
}

}  // namespace tarvik
