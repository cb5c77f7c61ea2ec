// Whether an HRESULT says that the process behind a remote object has gone away (the Win32 RPC
// errors 1700 to 1931): the caller drops the object, makes it afresh and tries once more.
#pragma once

#include <windows.h>

namespace Strata {

constexpr bool IsRpcFailure(HRESULT hr) {
  return static_cast<ULONG>(hr) >= 0x800706A4UL && static_cast<ULONG>(hr) <= 0x8007078BUL;
}

}  // namespace Strata
