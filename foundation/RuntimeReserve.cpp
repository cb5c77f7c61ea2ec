#include "RuntimeReserve.h"

#include <cstddef>  // defines which C++ runtime this is

namespace __gnu_cxx {
// The runtime's own release of what it keeps for the process's life; it has no header.
void __freeres();
}  // namespace __gnu_cxx

namespace Strata {

void ReleaseRuntimeReserve() noexcept {
#if defined(__GLIBCXX__)
  __gnu_cxx::__freeres();
#endif
}

}  // namespace Strata
