// Two rows of pieces of work shared by the calling thread and one helper thread.
// The pieces of a row are done one after another, in order, never two at once;
// the two rows are independent. Run() hands out a new set of pieces: the caller
// starts on row 0 and the helper, once it is woken and has a processor, on row 1;
// whichever thread is free takes the next piece that nobody has started, from its
// own row first and then from the other. So when the helper has no processor
// (the machine is busy with other work) the caller does the pieces the helper has
// not started, and waits only for a piece the helper is in the middle of, which is
// short. The helper sleeps between sets; it is woken when one is handed out.
//
// The helper's spare time can carry one more job that must run in order, one
// step at a time (encoding the sound being rendered): the helper does a step of
// it whenever it finds no piece to take, between sets too, and sleeps only when
// there is none. When the job has fallen behind, its steps come before the
// helper's pieces, and the caller takes those pieces over. So on two processors
// the job fills the time the rows leave free, and takes a processor of its own
// only when it is the larger work; no third thread competes with the two.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace platform {

class PieceSharing {
 public:
  // Does piece number piece of row 0 or 1; called on either thread.
  using Work = std::function<void(int row, int piece)>;

  // Who may take which pieces. Anyone is the rule; the others are for tests,
  // which must get the same results whoever does the work.
  enum class Who { kAnyone, kCallerOnly, kHelperOnly, kTakingTurns };

  static constexpr int kMaxPieces = 15;

  // Starts the helper thread.
  explicit PieceSharing(Work work);
  // Ends the helper thread; no Run may be under way.
  ~PieceSharing();
  PieceSharing(const PieceSharing&) = delete;
  PieceSharing& operator=(const PieceSharing&) = delete;

  // Does pieces pieces (at most kMaxPieces) of each row and returns when all are
  // done; what the pieces wrote is then visible to the caller.
  void Run(int pieces);

  // One step of the spare-time job, on the helper thread, never two at once:
  // true when it did a step, false when it has none to do now. urgent: do one
  // only if the job has fallen behind.
  using SpareWork = std::function<bool(bool urgent)>;
  // Sets the spare-time job of owner; an empty one removes owner's job (another
  // owner's stays). When it returns, no step of a job it replaces or removes is
  // under way.
  void SetSpareWork(SpareWork work, const void* owner);

  void SetWhoForTest(Who who) { who_.store(who); }

 private:
  // The state word: each row's next piece and whether it is being done, the
  // pieces of the set, which thread sleeps until it changes, and which set of
  // pieces it belongs to. A piece is taken only by changing this word from the
  // value it was decided on, so a late helper never takes one of a set gone by.
  static constexpr std::uint32_t kNextMask = 0xF;
  static constexpr std::uint32_t kBusy = 0x10;
  static constexpr int kRowShift = 5;
  static constexpr int kCountShift = 10;
  static constexpr std::uint32_t kCallerWaits = 1u << 14;
  static constexpr std::uint32_t kHelperWaits = 1u << 15;
  static constexpr std::uint32_t kStop = 1u << 16;
  static constexpr std::uint32_t kSetUnit = 1u << 17;

  static int Next(std::uint32_t state, int row) { return static_cast<int>((state >> (row * kRowShift)) & kNextMask); }
  static bool Busy(std::uint32_t state, int row) { return ((state >> (row * kRowShift)) & kBusy) != 0; }
  static int Count(std::uint32_t state) { return static_cast<int>((state >> kCountShift) & kNextMask); }

  // May the caller (or the helper) take this piece of row?
  bool May(bool caller, int row, int piece) const;
  // Takes the next piece the thread may take, from its own row first; false,
  // with the state it found, when there is none.
  bool Take(bool caller, int& row, int& piece, std::uint32_t& seen);
  // The piece being done in row is done: the row moves on to its next piece.
  void Finish(int row);
  // Sleeps until the state is no longer seen (at once when it has changed).
  void SleepUntilChanged(std::uint32_t seen, bool caller);
  // One step of the spare-time job, if there is one to do.
  bool SpareStep(bool urgent);
  void RunHelper();

  Work work_;
  std::atomic<Who> who_{Who::kAnyone};
  std::atomic<std::uint32_t> state_{0};
  std::mutex spareLock_;  // held while a step of the job is done
  SpareWork spare_;
  const void* spareOwner_ = nullptr;
  std::atomic<bool> hasSpare_{false};
  std::thread helper_;
};

}  // namespace platform
