// How the event handlers judge and make the service calls they share: a call succeeds only when
// its HRESULT and the error part of its result code both say so, a sign-in only with the service's
// own success code, and an RPC failure means the service's process has gone away.
#pragma once

#include <windows.h>

#include "Handles.h"
#include "KyGSService.h"

namespace ServiceCalls {

constexpr long kErrorBits = 0x1FFFF;
constexpr long kSignedIn = 0x08020000;
constexpr long kNoSuchUser = 0x08020003;
constexpr long kUsersCollection = 102;
constexpr long kUserName = 200;
constexpr wchar_t kTemporaryUser[] = L"adult_temp";

constexpr bool Succeeded(HRESULT hr, long result) { return SUCCEEDED(hr) && (result & kErrorBits) == 0; }

// The Win32 RPC errors 1700 to 1931.
constexpr bool IsRpcFailure(HRESULT hr) {
  return static_cast<ULONG>(hr) >= 0x800706A4UL && static_cast<ULONG>(hr) <= 0x8007078BUL;
}

struct Answer {
  HRESULT hr;
  long result;
  bool Succeeded() const { return ServiceCalls::Succeeded(hr, result); }
  bool SignedIn() const { return Succeeded() && result == kSignedIn; }
};

// Signs `name` in for `session`, with no password.
inline Answer SignIn(IKyGSService* service, unsigned long session, const wchar_t* name) {
  Strata::UniqueBstr user(::SysAllocString(name));
  if (!user) return {E_OUTOFMEMORY, -1};
  long result = -1;
  HRESULT hr = service->SignIn(session, user.get(), nullptr, &result);
  return {hr, result};
}

inline bool SameNameIgnoringCase(const wchar_t* first, const wchar_t* second) {
  return first && second && ::CompareStringOrdinal(first, -1, second, -1, TRUE) == CSTR_EQUAL;
}

}  // namespace ServiceCalls
