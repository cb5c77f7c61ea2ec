// The word a logger publishes for its call sites, watched by a test, and the check that the word
// follows each change to the logger at once.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

#include "LevelGate.h"
#include "LoggingIf.h"

namespace ZelTest {

// The levels `logger` accepts, mirrored into a word of the test's while this lives.
class PublishedLevels {
 public:
  PublishedLevels(const ETWLogging::LevelPublisher& logger, uint64_t initial) : word_(initial), logger_(logger) {
    logger_.MirrorLevelsInto(&word_);
  }
  ~PublishedLevels() { logger_.MirrorLevelsInto(nullptr); }
  PublishedLevels(const PublishedLevels&) = delete;
  PublishedLevels& operator=(const PublishedLevels&) = delete;

  uint64_t Word() const { return word_.load(); }

 private:
  std::atomic<uint64_t> word_;
  const ETWLogging::LevelPublisher& logger_;
};

// A change to a logger and the levels it accepts afterwards: bit n for level n, of levels 0 to 7.
struct LevelChange {
  const char* change;
  std::function<void()> apply;
  unsigned levels;
};

// Makes each change in turn; after each, the word answers every level as the logger itself does,
// accepts exactly the change's levels, and sends no call site to the logger.
inline void ExpectWordFollowsEachChange(const ETWLogging::CLoggingIf& logger, const PublishedLevels& published,
                                        const std::vector<LevelChange>& changes) {
  using ETWLogging::LevelGate;
  for (const LevelChange& c : changes) {
    SCOPED_TRACE(c.change);
    c.apply();
    const uint64_t word = published.Word();
    ASSERT_EQ(0u, word & LevelGate::kAskLogger);
    for (DWORD level = 0; level < 40; ++level) {
      EXPECT_EQ(logger.IsLevelEnabled(level), LevelGate::Allows(word, level)) << "level " << level;
      if (level < 8) EXPECT_EQ(((c.levels >> level) & 1) != 0, LevelGate::Allows(word, level)) << "level " << level;
    }
  }
}

}  // namespace ZelTest
