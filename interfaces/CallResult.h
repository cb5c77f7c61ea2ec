// How a call into the service or the platform is judged. Both answer an HRESULT and a result code
// of their own whose low 17 bits are the error part: a call succeeded only when both say so. An RPC
// failure (the Win32 RPC errors 1700 to 1931) says that the process behind a remote object has gone
// away: the caller drops the object, makes it afresh and tries once more. Their objects are made in
// any class context, as the platform registers them in- or out-of-process.
#pragma once

#include <windows.h>

namespace Ky {

constexpr long kResultErrorMask = 0x1FFFF;

constexpr DWORD kAnyClassContext =
    CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;

// The error part of a result code.
constexpr long ResultError(long result) { return result & kResultErrorMask; }

constexpr bool CallSucceeded(HRESULT hr, long result) { return SUCCEEDED(hr) && ResultError(result) == 0; }

constexpr bool IsRpcFailure(HRESULT hr) {
  return static_cast<ULONG>(hr) >= 0x800706A4UL && static_cast<ULONG>(hr) <= 0x8007078BUL;
}

}  // namespace Ky
