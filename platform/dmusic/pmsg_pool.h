// The performance's message store: AllocPMsg and FreePMsg. Freed messages go to
// a free list of their size and are handed out again, so a playing performance
// allocates nothing once it has warmed up. Everything still out is freed with the
// pool.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_set>
#include <vector>

#include "platform/dmusic/dmusic.h"

namespace platform {

class PMsgPool {
 public:
  PMsgPool() = default;
  PMsgPool(const PMsgPool&) = delete;
  PMsgPool& operator=(const PMsgPool&) = delete;

  // A zeroed message of cb bytes (at least sizeof(DMUS_PMSG)) with dwSize set;
  // null when cb is too small or too large.
  DMUS_PMSG* Alloc(std::size_t cb);
  // Releases the message's pTool, pGraph and punkUser and takes it back.
  // DMUS_E_CANNOT_FREE for a message that is not one of this pool's or is free
  // already.
  HRESULT Free(DMUS_PMSG* msg);
  // Messages handed out and not yet freed.
  std::size_t Outstanding() const;

  static constexpr std::size_t kMaxMessageBytes = 1u << 24;

 private:
  struct alignas(16) Header {
    std::uint32_t magic;
    std::uint32_t pad;
    std::uint64_t capacity;  // bytes of message room after the header
  };
  static constexpr std::uint32_t kLiveMagic = 0x504D5347;  // "PMSG"
  static constexpr std::uint32_t kFreeMagic = 0x46524545;  // "FREE"

  mutable std::mutex lock_;
  std::vector<std::unique_ptr<std::max_align_t[]>> blocks_;  // every block ever made
  std::unordered_set<const Header*> known_;                  // the headers of those blocks
  std::map<std::size_t, std::vector<Header*>> free_;         // by capacity
  std::size_t outstanding_ = 0;
};

}  // namespace platform
