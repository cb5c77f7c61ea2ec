// Whether the process on the other end of the COM call this thread is serving may use a local
// server that serves only the product's own processes. The client is known from the call itself:
// a local server's creation may run on a call from the activation service rather than from the
// client, so the check belongs on the calls that act.
#pragma once

#include <windows.h>

#include <string>

#include "PublisherCheck.h"

namespace Ky {

// S_OK when this thread serves no call from another process (the caller is this process) or when
// the calling process's program passes the publisher check. Otherwise E_ACCESSDENIED, with
// *refused naming the program, or the process when its program cannot be named.
HRESULT CheckCallingProcess(std::wstring* refused,
                            UnsignedModules unsignedPolicy = BuildUnsignedModulePolicy()) noexcept;

}  // namespace Ky
