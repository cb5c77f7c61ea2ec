// Counts that several threads move and that must never go below 0.
#pragma once

#include <atomic>

namespace Strata {

// Takes one from `count` unless it is 0 already; whether it took one.
template <typename T>
bool TakeOneIfAny(std::atomic<T>& count) noexcept {
  T held = count.load();
  do {
    if (held <= 0) return false;
  } while (!count.compare_exchange_weak(held, held - 1));
  return true;
}

}  // namespace Strata
