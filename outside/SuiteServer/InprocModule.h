// The library side of the stand-ins' server lifetime.
#pragma once

namespace ZelStandIns {

// True while no object of the library is alive (the answer of DllCanUnloadNow).
bool ModuleIsIdle() noexcept;

}  // namespace ZelStandIns
