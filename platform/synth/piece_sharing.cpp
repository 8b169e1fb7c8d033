#include "platform/synth/piece_sharing.h"

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

#include <algorithm>
#include <chrono>
#include <utility>

namespace platform {
namespace {

// How long the caller spins for a piece the helper is in the middle of before
// it sleeps. A piece takes a fraction of a millisecond on a processor of its
// own, and waking a sleeping thread costs tens of microseconds; but when the
// helper has lost its processor, spinning only keeps it from getting one back,
// so the spin is short.
constexpr auto kSpin = std::chrono::microseconds(20);

void Relax() {
#if defined(__SSE__)
  _mm_pause();
#endif
}

}  // namespace

PieceSharing::PieceSharing(Work work) : work_(std::move(work)) {
  helper_ = std::thread([this] { RunHelper(); });
}

PieceSharing::~PieceSharing() {
  state_.fetch_or(kStop);
  state_.notify_all();
  helper_.join();
}

bool PieceSharing::May(bool caller, int row, int piece) const {
  switch (who_.load(std::memory_order_relaxed)) {
    case Who::kAnyone:
      return true;
    case Who::kCallerOnly:
      return caller;
    case Who::kHelperOnly:
      return !caller;
    case Who::kTakingTurns:
      return ((row + piece) % 2 == 0) == caller;
  }
  return true;
}

bool PieceSharing::Take(bool caller, int& row, int& piece, std::uint32_t& seen) {
  std::uint32_t state = state_.load(std::memory_order_acquire);
  for (;;) {
    int chosen = -1;
    for (int i = 0; i < 2 && chosen < 0; ++i) {
      const int r = caller ? i : 1 - i;
      if (!Busy(state, r) && Next(state, r) < Count(state) && May(caller, r, Next(state, r))) chosen = r;
    }
    if (chosen < 0) {
      seen = state;
      return false;
    }
    const std::uint32_t taken = state | (kBusy << (chosen * kRowShift));
    if (state_.compare_exchange_weak(state, taken, std::memory_order_acq_rel, std::memory_order_acquire)) {
      row = chosen;
      piece = Next(state, chosen);
      return true;
    }
  }
}

void PieceSharing::Finish(int row) {
  const int shift = row * kRowShift;
  std::uint32_t state = state_.load(std::memory_order_relaxed);
  std::uint32_t done = 0, wake = 0;
  do {
    // The caller waits only for the pieces to be done. The helper sleeps until
    // the next set: whatever is left now, the caller takes (unless a test has
    // given the helper pieces of its own).
    wake = state & kCallerWaits;
    if (who_.load(std::memory_order_relaxed) != Who::kAnyone) wake |= state & kHelperWaits;
    done = ((state & ~(kBusy << shift)) + (1u << shift)) & ~wake;
  } while (!state_.compare_exchange_weak(state, done, std::memory_order_acq_rel, std::memory_order_relaxed));
  if (wake != 0) state_.notify_all();
}

void PieceSharing::SleepUntilChanged(std::uint32_t seen, bool caller) {
  const std::uint32_t flag = caller ? kCallerWaits : kHelperWaits;
  if ((seen & flag) == 0) {
    if (!state_.compare_exchange_strong(seen, seen | flag, std::memory_order_acq_rel, std::memory_order_acquire))
      return;
    seen |= flag;
  }
  state_.wait(seen, std::memory_order_acquire);
}

void PieceSharing::Run(int pieces) {
  pieces = std::clamp(pieces, 0, kMaxPieces);
  // A new set: each row at its first piece, nobody waiting; the helper is woken.
  std::uint32_t state = state_.load(std::memory_order_relaxed);
  std::uint32_t fresh = 0;
  do {
    fresh =
        ((state & ~(kSetUnit - 1)) + kSetUnit) | (state & kStop) | (static_cast<std::uint32_t>(pieces) << kCountShift);
  } while (!state_.compare_exchange_weak(state, fresh, std::memory_order_acq_rel, std::memory_order_relaxed));
  if ((state & kHelperWaits) != 0) state_.notify_all();

  for (;;) {
    int row = 0, piece = 0;
    std::uint32_t seen = 0;
    if (Take(true, row, piece, seen)) {
      work_(row, piece);
      Finish(row);
      continue;
    }
    if (Next(seen, 0) >= pieces && Next(seen, 1) >= pieces) return;
    // The helper is in the middle of a piece (the caller may take every other).
    const auto until = std::chrono::steady_clock::now() + kSpin;
    bool changed = false;
    for (unsigned round = 1; !changed; ++round) {
      Relax();
      changed = state_.load(std::memory_order_acquire) != seen;
      if (round % 32 == 0 && std::chrono::steady_clock::now() >= until) break;
    }
    if (!changed) SleepUntilChanged(seen, true);
  }
}

void PieceSharing::SetSpareWork(SpareWork work, const void* owner) {
  std::lock_guard lock(spareLock_);
  if (!work && owner != spareOwner_) return;
  hasSpare_.store(static_cast<bool>(work), std::memory_order_release);
  spareOwner_ = work ? owner : nullptr;
  spare_ = std::move(work);
  // A sleeping helper starts on the new job: the state changes (the pieces of a
  // set under way stay as they are) and it is woken.
  if (spare_ && (state_.fetch_add(kSetUnit, std::memory_order_acq_rel) & kHelperWaits) != 0) state_.notify_all();
}

bool PieceSharing::SpareStep(bool urgent) {
  if (!hasSpare_.load(std::memory_order_acquire)) return false;
  std::lock_guard lock(spareLock_);
  return spare_ && spare_(urgent);
}

void PieceSharing::RunHelper() {
  for (;;) {
    if ((state_.load(std::memory_order_acquire) & kStop) != 0) return;
    // A job that has fallen behind first: the caller takes this thread's pieces.
    if (SpareStep(true)) continue;
    int row = 0, piece = 0;
    std::uint32_t seen = 0;
    if (Take(false, row, piece, seen)) {
      work_(row, piece);
      Finish(row);
      continue;
    }
    if ((seen & kStop) != 0) return;
    if (SpareStep(false)) continue;
    SleepUntilChanged(seen, false);
  }
}

}  // namespace platform
