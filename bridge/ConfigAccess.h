// The small steps the configuration object repeats against the service: reaching a configuration
// object held in a VARIANT, judging an HRESULT together with its result code, and turning what a
// script hands over (numbers in any VARIANT form, arrays of either script engine) into checked
// values. Script input is never trusted: anything that does not convert is refused.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <wrl/client.h>

#include <string>
#include <vector>

#include "CallResult.h"
#include "KyGSService.h"
#include "ScriptInput.h"
#include "VariantValue.h"

namespace ConfigAccess {

// What a result code says before the service has answered, and after any step that failed
// without the service saying why: its error part is not zero.
constexpr long kResultUnknown = -1;

constexpr auto Succeeded = Ky::CallSucceeded;

// The source the configuration object's log lines name.
constexpr wchar_t kLogSource[] = L"ZelConfig";

// Ends an enumerator of users that never says it is done.
constexpr int kMaxEnumeratedUsers = 10000;

// Keeps the service's own code when it names an error; otherwise a failed HRESULT must still leave
// a code that callers read as a failure.
constexpr long FailureCode(HRESULT hr, long result) {
  return (FAILED(hr) && Ky::ResultError(result) == 0) ? kResultUnknown : result;
}

// The interface `iid` of the object a VARIANT holds (by value or by reference); E_NOINTERFACE for
// a VARIANT that holds no object, so a missing object is never used.
HRESULT QueryHeld(const VARIANT& holder, REFIID iid, void** object);

template <typename Interface>
HRESULT QueryHeld(const VARIANT& holder, Microsoft::WRL::ComPtr<Interface>& object) {
  return QueryHeld(holder, __uuidof(Interface), reinterpret_cast<void**>(object.ReleaseAndGetAddressOf()));
}

// Object `id` of the service root as `Interface`, *result the read's result code, which must say
// success too.
template <typename Interface>
HRESULT GetServiceObject(IKyGSService* service, long id, Microsoft::WRL::ComPtr<Interface>& object, long* result) {
  CVariantValue held;
  *result = kResultUnknown;
  HRESULT hr = service->GetValue(id, held.Put(), result);
  if (FAILED(hr)) return hr;
  if (!Succeeded(hr, *result)) return E_FAIL;
  return QueryHeld(held.Get(), object);
}

using ScriptInput::ToLong;

// A deep copy with references resolved, as the service must never hold a script's variable.
HRESULT CopyResolved(const VARIANT& source, CVariantValue* copy);

// Whether a script left an optional argument out.
bool IsMissing(const VARIANT& argument);

// The first `count` elements of a script array: a one-dimensional safe array of VARIANTs (by
// value or by reference) or a script engine's array object. E_INVALIDARG for any other shape, a
// count beyond the array's length or ScriptInput::kMaxElements, or an element that cannot be read.
HRESULT ReadScriptArray(const VARIANT& source, LONG count, std::vector<CVariantValue>* elements);

}  // namespace ConfigAccess
