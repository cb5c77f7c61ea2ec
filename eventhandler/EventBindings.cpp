#include "EventBindings.h"

#include <wrl/client.h>

#include "CallResult.h"
#include "Handles.h"
#include "KyClassFactory.h"
#include "KyGSService.h"
#include "ZelEventHandler.h"

using Microsoft::WRL::ComPtr;

namespace {

struct EventBinding {
  // The service expects these texts exactly as written.
  const wchar_t* eventIid;
  const CLSID* handler;
};

// In the order the service is told of them.
constexpr EventBinding kBindings[] = {
    {L"{C4C934D0-4BD7-44cb-B6A3-84B06A6C8D7A}", &CLSID_GSSignInRequiredEventHandler},
    {L"{EFE55865-5455-402c-93F1-4973A0EB26D2}", &CLSID_GSSignInEventHandler},
    {L"{47B95115-84B0-46ca-A4E5-8F8E537510BE}", &CLSID_GSSignOutEventHandler},
    {L"{DAE60262-42CB-4406-BAF4-24B7E29D7772}", &CLSID_GSAccessDeniedEventHandler},
    {L"{0A5E1C69-91C4-4e4b-85A8-3B56EDC04217}", &CLSID_GSPIIDetectedEventHandler},
    {L"{F1DB377E-6701-411c-B31B-53A187FAAF15}", &CLSID_GSKeywordBlockedEventHandler},
    {L"{662FEFCB-D7F9-47fe-A4AB-328E123594BF}", &CLSID_GSImageBlockedEventHandler},
    {L"{F976049B-8A30-4267-BDCA-69C36AC94E10}", &CLSID_GSUrlVisitedEventHandler},
};

Strata::UniqueBstr Bstr(const wchar_t* text) { return Strata::UniqueBstr(::SysAllocString(text)); }

// Registry form: braced and upper case.
Strata::UniqueBstr ClassIdText(REFCLSID clsid) {
  wchar_t text[40];
  ::StringFromGUID2(clsid, text, ARRAYSIZE(text));
  return Bstr(text);
}

ComPtr<IKyGSEventRegistry> OpenEventRegistry() {
  ComPtr<IKyClassFactory> factory;
  ComPtr<IKyGSEventRegistry> registry;
  if (FAILED(::CoGetClassObject(CLSID_KyGSEventRegistry, Ky::kAnyClassContext, nullptr, IID_IKyClassFactory,
                                reinterpret_cast<void**>(factory.GetAddressOf()))) ||
      FAILED(factory->CreateInstance(IID_IKyGSEventRegistry, reinterpret_cast<IUnknown**>(registry.GetAddressOf()))))
    return nullptr;
  long result = 0;
  Strata::UniqueBstr product = Bstr(L"ZEL");
  HRESULT hr = registry->OpenProduct(product.get(), &result);
  if (!Ky::CallSucceeded(hr, result)) return nullptr;
  return registry;
}

template <typename ChangeOne>
bool ChangeEveryBinding(ChangeOne changeOne) {
  ComPtr<IKyGSEventRegistry> registry = OpenEventRegistry();
  if (!registry) return false;
  for (const EventBinding& binding : kBindings) {
    Strata::UniqueBstr eventIid = Bstr(binding.eventIid);
    Strata::UniqueBstr handler = ClassIdText(*binding.handler);
    long ignored = 0;
    changeOne(registry.Get(), eventIid.get(), handler.get(), &ignored);
  }
  long result = 0;
  HRESULT hr = registry->Save(&result);
  return Ky::CallSucceeded(hr, result);
}

}  // namespace

bool registerEventHandlers() {
  return ChangeEveryBinding([](IKyGSEventRegistry* registry, BSTR eventIid, BSTR handler, long* result) {
    registry->AddBinding(eventIid, handler, 0, result);
  });
}

bool unregisterEventHandlers() {
  return ChangeEveryBinding([](IKyGSEventRegistry* registry, BSTR eventIid, BSTR handler, long* result) {
    registry->RemoveBinding(eventIid, handler, result);
  });
}
