#include "ObjectMap.h"

#include <optional>

#include <new>
#include <vector>

#include <wrl/client.h>

#include "ClassObject.h"
#include "GSAccessDeniedEventHandler.h"
#include "GSImageBlockedEventHandler.h"
#include "GSOffensiveContentDetectionEventHandler.h"
#include "GSSignInEventHandler.h"
#include "GSSignInRequiredEventHandler.h"
#include "GSSignOutEventHandler.h"
#include "GSUrlVisitedEventHandler.h"
#include "SuiteClassObject.h"
#include "UserEvents.h"
#include "ZELEventHandlerModule.h"
#include "ZelEventHandler.h"

#include "OnceFlag.h"

namespace {

template <typename Handler>
constexpr CreateObjectFn kCreate = &Handler::template CreateInstance<Handler>;

const ObjectMapEntry kEntries[] = {
    {&CLSID_UserEvents, 112, ClassObjectKind::Suite, kCreate<CUserEvents>, L"ZelEventHandler.UserEvents.1",
     L"ZelEventHandler.UserEvents", L"UserEvents Class"},
    {&CLSID_GSAccessDeniedEventHandler, 104, ClassObjectKind::Standard, kCreate<CGSAccessDeniedEventHandler>,
     L"ZelEventHandler.GSAccessDeniedEventHa.1", L"ZelEventHandler.GSAccessDeniedEventHand",
     L"GSAccessDeniedEventHandler Class"},
    {&CLSID_GSImageBlockedEventHandler, 110, ClassObjectKind::Standard, kCreate<CGSImageBlockedEventHandler>,
     L"ZelEventHandler.GSImageBlockedEventHa.1", L"ZelEventHandler.GSImageBlockedEventHand",
     L"GSImageBlockedEventHandler Class"},
    {&CLSID_GSKeywordBlockedEventHandler, 107, ClassObjectKind::Standard, kCreate<CGSKeywordBlockedEventHandler>,
     L"ZelEventHandler.GSKeywordDetec.1", L"ZelEventHandler.GSKeywordDetecti", L"GSKeywordBlockedEventHandler Class"},
    {&CLSID_GSSignInEventHandler, 105, ClassObjectKind::Standard, kCreate<CGSSignInEventHandler>,
     L"ZelEventHandler.GSSignInEventHandler.1", L"ZelEventHandler.GSSignInEventHandler",
     L"GSSignInEventHandler Class"},
    {&CLSID_GSSignInRequiredEventHandler, 103, ClassObjectKind::Standard, kCreate<CGSSignInRequiredEventHandler>,
     L"ZelEventHandler.GSSignInRequiredEvent.1", L"ZelEventHandler.GSSignInRequiredEventHa",
     L"GSSignInRequiredEventHandler Class"},
    {&CLSID_GSSignOutEventHandler, 106, ClassObjectKind::Standard, kCreate<CGSSignOutEventHandler>,
     L"ZelEventHandler.GSSignOutEventHandler.1", L"ZelEventHandler.GSSignOutEventHandler",
     L"GSSignOutEventHandler Class"},
    {&CLSID_GSUrlVisitedEventHandler, 111, ClassObjectKind::Standard, kCreate<CGSUrlVisitedEventHandler>,
     L"ZelEventHandler.GSUrlVisitedEventHand.1", L"ZelEventHandler.GSUrlVisitedEventHandle",
     L"GSUrlVisitedEventHandler Class"},
};

const ObjectMap kObjectMap{kEntries, ARRAYSIZE(kEntries)};

Microsoft::WRL::ComPtr<IUnknown> NewClassObject(const ObjectMapEntry& entry) {
  if (!entry.create) return nullptr;
  if (entry.kind == ClassObjectKind::Suite) {
    return Ky::AdoptNew<IKyClassFactory>(new (std::nothrow) Ky::CSuiteClassObject(entry.create, L"ZEL EventHandler",
                                                                                   g_module.ClassObjectHolds()));
  }
  return Ky::AdoptNew<IClassFactory>(new (std::nothrow) CClassObject(entry.create, g_module.ClassObjectHolds()));
}

// One class object per served class, made on first request and kept until the library unloads.
class ClassObjectCache {
 public:
  ClassObjectCache() {
    for (const ObjectMapEntry& entry : kObjectMap) objects_.push_back(NewClassObject(entry));
  }
  IUnknown* Find(REFCLSID clsid) const {
    for (size_t index = 0; index < kObjectMap.count; ++index)
      if (*kEntries[index].clsid == clsid) return objects_[index].Get();
    return nullptr;
  }

 private:
  std::vector<Microsoft::WRL::ComPtr<IUnknown>> objects_;
};

}  // namespace

const ObjectMap& EventHandlerObjectMap() { return kObjectMap; }

namespace {
// Made on first use, outside the loader lock (see OnceFlag.h for why not a function-local static).
std::optional<ClassObjectCache> g_classObjects;
Strata::OnceFlag g_classObjectsMade;
}  // namespace

HRESULT GetEventHandlerClassObject(REFCLSID clsid, REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  g_classObjectsMade.Run([] { g_classObjects.emplace(); });
  IUnknown* classObject = g_classObjects ? g_classObjects->Find(clsid) : nullptr;
  if (!classObject) return CLASS_E_CLASSNOTAVAILABLE;
  return classObject->QueryInterface(iid, object);
}
