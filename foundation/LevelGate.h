// What every diagnostic call site tests before it formats: the levels a logger accepts, kept by
// the logger itself in one word, so that a disabled diagnostic costs a load and a compare rather
// than a one-time-initialisation call and a virtual call.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>

#include "SlimLock.h"

namespace ETWLogging {

class LevelGate {
 public:
  // Bit n answers level n, and bit 31 every level from 31 up. kAskLogger: the word does not know,
  // and the caller asks the logger (a logger that keeps no gate, or one with work to do on its
  // first test).
  static constexpr uint64_t kNoLevel = 0;
  static constexpr uint64_t kAskLogger = uint64_t{1} << 32;

  static bool Allows(uint64_t levels, DWORD level) { return ((levels >> (level < 31 ? level : 31)) & 1) != 0; }

  // The word of a rule that accepts every level from some threshold up, and perhaps some below.
  template <typename Accepts>
  static uint64_t LevelsOf(Accepts accepts) {
    uint64_t levels = kNoLevel;
    for (DWORD level = 0; level < 32; ++level) {
      if (accepts(level)) levels |= uint64_t{1} << level;
    }
    return levels;
  }

  LevelGate() = default;
  // The mirror of a gate that goes asks the logger again: the logger it spoke for is gone.
  ~LevelGate() {
    if (mirror_) mirror_->store(kAskLogger, std::memory_order_release);
  }
  LevelGate(const LevelGate&) = delete;
  LevelGate& operator=(const LevelGate&) = delete;

  // Stores the word `compute` gives, here and in the mirror. The logger publishes after every
  // change of what it accepts; computing under the lock makes the word of the last change the one
  // that stays, whichever thread changed what.
  template <typename Compute>
  void Publish(Compute compute) {
    std::lock_guard<Strata::SlimLock> guard(lock_);
    levels_ = compute();
    if (mirror_) mirror_->store(levels_, std::memory_order_release);
  }

  // From now on the word is also kept in `mirror` (null: nowhere else), starting with a copy now.
  void MirrorInto(std::atomic<uint64_t>* mirror) {
    std::lock_guard<Strata::SlimLock> guard(lock_);
    mirror_ = mirror;
    if (mirror_) mirror_->store(levels_, std::memory_order_release);
  }

 private:
  // Guards levels_ and mirror_; held for a computation from the logger's atomics and a store.
  Strata::SlimLock lock_;
  uint64_t levels_ = kAskLogger;
  std::atomic<uint64_t>* mirror_ = nullptr;
};

// Beside the logger interface, whose operations keep their order, the back ends that keep a gate
// derive from this, so that the process's log instance can find their gate.
class LevelPublisher {
 public:
  // Keeps the levels this logger accepts in `word` too, from now on (null: no longer).
  void MirrorLevelsInto(std::atomic<uint64_t>* word) const { levels_.MirrorInto(word); }

 protected:
  LevelPublisher() = default;
  ~LevelPublisher() = default;

  // The back end publishes after every change of what it accepts.
  mutable LevelGate levels_;
};

}  // namespace ETWLogging
