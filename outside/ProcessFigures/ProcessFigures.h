// What a process holds, for load runs and tests that check nothing grows.
#pragma once

#include <windows.h>

#include <cstddef>

namespace ZelStandIns {

// How many handles process `processId` holds; 0 when the system will not say. (GetProcessHandleCount
// answers 0 under Wine; the system's handle table is read instead.)
size_t HandleCountOf(DWORD processId);

// The private bytes this process has committed; 0 when the system will not say.
size_t PrivateBytesOfThisProcess();

}  // namespace ZelStandIns
