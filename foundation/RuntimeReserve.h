// The C++ runtime is linked into each library, and it sets aside a reserve for exceptions thrown
// when memory runs out (some 70 KB) as the library loads, which it never gives back. The service
// loads and unloads the libraries all day; each unload would leave one reserve behind.
#pragma once

namespace Strata {

// Gives the reserve back. Only for a library being unloaded while its process goes on: called from
// DllMain's process detach, where the runtime's own destructors free memory next.
void ReleaseRuntimeReserve() noexcept;

}  // namespace Strata
