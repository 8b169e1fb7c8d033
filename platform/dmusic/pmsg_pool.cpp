#include "platform/dmusic/pmsg_pool.h"

#include <cstring>

namespace platform {

DMUS_PMSG* PMsgPool::Alloc(std::size_t cb) {
  if (cb < sizeof(DMUS_PMSG) || cb > kMaxMessageBytes) return nullptr;
  const std::size_t capacity = (cb + 15) & ~std::size_t{15};
  Header* header = nullptr;
  {
    std::lock_guard lock(lock_);
    auto it = free_.find(capacity);
    if (it != free_.end() && !it->second.empty()) {
      header = it->second.back();
      it->second.pop_back();
    } else {
      const std::size_t units = (sizeof(Header) + capacity + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t);
      blocks_.push_back(std::make_unique<std::max_align_t[]>(units));
      header = reinterpret_cast<Header*>(blocks_.back().get());
      header->capacity = capacity;
      known_.insert(header);
    }
    header->magic = kLiveMagic;
    ++outstanding_;
  }
  auto* bytes = reinterpret_cast<std::byte*>(header + 1);
  std::memset(bytes, 0, capacity);
  auto* msg = reinterpret_cast<DMUS_PMSG*>(bytes);
  msg->dwSize = static_cast<DWORD>(cb);
  return msg;
}

HRESULT PMsgPool::Free(DMUS_PMSG* msg) {
  if (msg == nullptr) return E_POINTER;
  Header* header = reinterpret_cast<Header*>(msg) - 1;
  {
    std::lock_guard lock(lock_);
    // Only a live message of ours may be freed; the header is ours to read once
    // the block is found among the pool's blocks.
    if (known_.count(header) == 0 || header->magic != kLiveMagic) return DMUS_E_CANNOT_FREE;
    header->magic = kFreeMagic;
  }
  // The references go outside the lock: a tool's last Release may call back.
  if (msg->pTool != nullptr) msg->pTool->Release();
  if (msg->pGraph != nullptr) msg->pGraph->Release();
  if (msg->punkUser != nullptr) msg->punkUser->Release();
  msg->pTool = nullptr;
  msg->pGraph = nullptr;
  msg->punkUser = nullptr;
  std::lock_guard lock(lock_);
  free_[header->capacity].push_back(header);
  --outstanding_;
  return S_OK;
}

std::size_t PMsgPool::Outstanding() const {
  std::lock_guard lock(lock_);
  return outstanding_;
}

}  // namespace platform
