// Runs `body` and turns an exception (an allocation failure, here) into `failure`, so that nothing
// throws across a COM or C boundary of a stand-in.
#pragma once

#include <windows.h>

namespace ZelStandIns {

template <typename Body>
auto Guarded(Body&& body, decltype(body()) failure = E_OUTOFMEMORY) noexcept -> decltype(body()) {
  try {
    return body();
  } catch (...) {
    return failure;
  }
}

}  // namespace ZelStandIns
