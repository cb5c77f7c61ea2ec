// Lifetime of a stand-in served from a library: DllCanUnloadNow says yes once no object is left.
#include "InprocModule.h"

#include <atomic>

#include "ServerLock.h"

namespace ZelStandIns {

namespace {
std::atomic<long> liveObjects{0};
}

void LockServer() noexcept { ++liveObjects; }
void UnlockServer() noexcept { --liveObjects; }
bool ModuleIsIdle() noexcept { return liveObjects == 0; }

}  // namespace ZelStandIns
