// Runs an initialisation once, whichever thread comes first, on the system's one-time
// initialisation. The C++ runtime's std::call_once and guarded function-local statics keep runtime
// objects (a condition variable, per-thread slots) that a library never gives back when it is
// unloaded, so a library the service loads and unloads again and again leaks them every time.
#pragma once

#include <windows.h>

#include <utility>

namespace Strata {

class OnceFlag {
 public:
  constexpr OnceFlag() = default;
  OnceFlag(const OnceFlag&) = delete;
  OnceFlag& operator=(const OnceFlag&) = delete;

  // Runs `action` unless it has run; later callers wait until it has. An exception from `action`
  // leaves the flag unset, so that the next caller tries again, and is not passed on.
  template <typename Action>
  void Run(Action&& action) {
    ::InitOnceExecuteOnce(&once_, &Call<Action>, &action, nullptr);
  }

 private:
  template <typename Action>
  static BOOL CALLBACK Call(INIT_ONCE*, void* parameter, void**) {
    try {
      (*static_cast<Action*>(parameter))();
      return TRUE;
    } catch (...) {
      return FALSE;
    }
  }

  INIT_ONCE once_ = INIT_ONCE_STATIC_INIT;
};

}  // namespace Strata
