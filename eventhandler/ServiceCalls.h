// How the event handlers judge and make the service calls they share: a call succeeds only when
// its HRESULT and the error part of its result code both say so, a sign-in only with the service's
// own success code, and an RPC failure means the service's process has gone away.
#pragma once

#include <windows.h>

#include <oaidl.h>

#include "CallResult.h"
#include "Handles.h"
#include "KyGSService.h"
#include "LogInstance.h"
#include "VariantValue.h"

namespace ServiceCalls {

constexpr long kSignedIn = 0x08020000;
constexpr long kNoSuchUser = 0x08020003;
constexpr long kUsersCollection = 102;
constexpr long kUserName = 200;
constexpr wchar_t kTemporaryUser[] = L"adult_temp";

using Ky::IsRpcFailure;
constexpr auto Succeeded = Ky::CallSucceeded;

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

// The items of one of the service's enumerations, one after another and at most
// kMaxEnumeratedItems of them: an enumerator that never says it is done must not hold its caller
// (and the users lock) for ever. Stopping at the bound is logged at level 4 under the caller's
// source file and function.
class BoundedEnumeration {
 public:
  static constexpr ULONG kMaxEnumeratedItems = 10000;

  BoundedEnumeration(IEnumVARIANT* items, const wchar_t* source, const wchar_t* function)
      : items_(items), source_(source), function_(function) {}

  // S_OK with the next item; S_FALSE at the end of the enumeration or at the bound; an RPC failure
  // as the enumerator answered it.
  HRESULT Next(CVariantValue* item) {
    if (fetched_ == kMaxEnumeratedItems) {
      ZEL_LOG(ETWLogging::kLevelError, source_, function_,
              L"Stopped after %lu ZEL users: the service's enumeration does not end\r\n", fetched_);
      return S_FALSE;
    }
    ULONG given = 0;
    HRESULT hr = items_->Next(1, item->Put(), &given);
    if (IsRpcFailure(hr)) return hr;
    if (hr != S_OK || given != 1) return S_FALSE;
    ++fetched_;
    return S_OK;
  }

 private:
  IEnumVARIANT* const items_;
  const wchar_t* const source_;
  const wchar_t* const function_;
  ULONG fetched_ = 0;
};

inline bool SameNameIgnoringCase(const wchar_t* first, const wchar_t* second) {
  return first && second && ::CompareStringOrdinal(first, -1, second, -1, TRUE) == CSTR_EQUAL;
}

}  // namespace ServiceCalls
