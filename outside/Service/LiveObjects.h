// The service stand-in's count of live objects and class objects, which DllCanUnloadNow reads,
// and the base of its COM classes, each of which holds one count while it lives.
#pragma once

#include <atomic>

#include "ComObject.h"

namespace ZelService {

// Objects and class objects alive in this process; the library can unload only at zero.
inline std::atomic<long> g_liveObjects{0};

struct LiveObjectCount {
  static void Lock() noexcept { ++g_liveObjects; }
  static void Unlock() noexcept { --g_liveObjects; }
};

template <typename First, typename... Others>
using ComObject = Ky::ComObject<LiveObjectCount, First, Others...>;

}  // namespace ZelService
