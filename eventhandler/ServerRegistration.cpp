#include "ServerRegistration.h"

#include <oleauto.h>

#include <string>

#include <wrl/client.h>

#include "ComApartment.h"
#include "EventBindings.h"
#include "LogInstance.h"
#include "ObjectMap.h"
#include "Registrar.h"
#include "ZELEventHandlerModule.h"
#include "ZelEventHandler.h"

using Microsoft::WRL::ComPtr;
using ETWLogging::kLevelError;

namespace {

constexpr wchar_t kSource[] = L"ZEL EventHandler";
constexpr wchar_t kAppId[] = L"{9621B5DF-9559-4959-BB32-87F61D4EEC21}";
constexpr UINT kAppIdScript = 101;
constexpr wchar_t kScriptType[] = L"REGISTRY";

// Registry texts are written with the system's locale, whatever the caller's thread uses.
class SystemThreadLocale {
 public:
  SystemThreadLocale() : saved_(::GetThreadLocale()) { ::SetThreadLocale(LOCALE_SYSTEM_DEFAULT); }
  ~SystemThreadLocale() { ::SetThreadLocale(saved_); }
  SystemThreadLocale(const SystemThreadLocale&) = delete;
  SystemThreadLocale& operator=(const SystemThreadLocale&) = delete;

 private:
  LCID saved_;
};

std::wstring GuidText(REFGUID guid) {
  wchar_t text[40];
  ::StringFromGUID2(guid, text, ARRAYSIZE(text));
  return text;
}

std::wstring ModulePath() {
  wchar_t path[MAX_PATH];
  DWORD length = ::GetModuleFileNameW(g_module.Instance(), path, ARRAYSIZE(path));
  return std::wstring(path, length);
}

// Runs the library's registry scripts with the system registrar.
class RegistryScripts {
 public:
  explicit RegistryScripts(const std::wstring& modulePath) : modulePath_(modulePath) {}

  HRESULT Open() {
    return ::CoCreateInstance(CLSID_Registrar, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IRegistrar),
                              reinterpret_cast<void**>(registrar_.GetAddressOf()));
  }
  // The AppID script when `entry` is null, else the entry's class script.
  HRESULT Run(const ObjectMapEntry* entry, bool install) {
    HRESULT hr = SetReplacements(entry);
    if (FAILED(hr)) return hr;
    UINT script = entry ? entry->registryScript : kAppIdScript;
    return install ? registrar_->ResourceRegister(modulePath_.c_str(), script, kScriptType)
                   : registrar_->ResourceUnregister(modulePath_.c_str(), script, kScriptType);
  }

 private:
  HRESULT SetReplacements(const ObjectMapEntry* entry) {
    registrar_->ClearReplacements();
    HRESULT hr = Replace(L"MODULE", modulePath_);
    if (SUCCEEDED(hr)) hr = Replace(L"APPID", kAppId);
    if (SUCCEEDED(hr)) hr = Replace(L"LIBID", GuidText(LIBID_ZelEventHandlerLib));
    if (!entry) return hr;
    if (SUCCEEDED(hr)) hr = Replace(L"CLSID", GuidText(*entry->clsid));
    if (SUCCEEDED(hr)) hr = Replace(L"PROGID", entry->progId);
    if (SUCCEEDED(hr)) hr = Replace(L"VIPROGID", entry->versionIndependentProgId);
    if (SUCCEEDED(hr)) hr = Replace(L"DESCRIPTION", entry->description);
    return hr;
  }
  HRESULT Replace(const wchar_t* key, const std::wstring& item) {
    return registrar_->AddReplacement(key, item.c_str());
  }

  const std::wstring modulePath_;
  ComPtr<IRegistrar> registrar_;
};

HRESULT RegisterTypeLibrary(const std::wstring& modulePath) {
  ComPtr<ITypeLib> typeLibrary;
  HRESULT hr = ::LoadTypeLibEx(modulePath.c_str(), REGKIND_NONE, typeLibrary.GetAddressOf());
  if (FAILED(hr)) return hr;
  return ::RegisterTypeLib(typeLibrary.Get(), const_cast<wchar_t*>(modulePath.c_str()), nullptr);
}

HRESULT UnregisterTypeLibrary(const std::wstring& modulePath) {
  ComPtr<ITypeLib> typeLibrary;
  HRESULT hr = ::LoadTypeLibEx(modulePath.c_str(), REGKIND_NONE, typeLibrary.GetAddressOf());
  if (FAILED(hr)) return hr;
  TLIBATTR* attributes = nullptr;
  hr = typeLibrary->GetLibAttr(&attributes);
  if (FAILED(hr)) return hr;
  hr = ::UnRegisterTypeLib(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum, attributes->lcid,
                           attributes->syskind);
  typeLibrary->ReleaseTLibAttr(attributes);
  return hr;
}

HRESULT RegisterClassesAndTypeLibrary() {
  SystemThreadLocale locale;
  const std::wstring modulePath = ModulePath();
  RegistryScripts scripts(modulePath);
  HRESULT hr = scripts.Open();
  if (SUCCEEDED(hr)) hr = scripts.Run(nullptr, true);
  for (const ObjectMapEntry& entry : EventHandlerObjectMap()) {
    if (FAILED(hr)) return hr;
    hr = scripts.Run(&entry, true);
  }
  if (FAILED(hr)) return hr;
  return RegisterTypeLibrary(modulePath);
}

// Removes as much as it can; the first failure is the result.
HRESULT UnregisterClassesAndTypeLibrary() {
  SystemThreadLocale locale;
  const std::wstring modulePath = ModulePath();
  RegistryScripts scripts(modulePath);
  HRESULT hr = scripts.Open();
  if (FAILED(hr)) return hr;
  auto keepFirstFailure = [&hr](HRESULT next) {
    if (SUCCEEDED(hr)) hr = next;
  };
  for (const ObjectMapEntry& entry : EventHandlerObjectMap()) keepFirstFailure(scripts.Run(&entry, false));
  keepFirstFailure(UnregisterTypeLibrary(modulePath));
  keepFirstFailure(scripts.Run(nullptr, false));
  return hr;
}

}  // namespace

HRESULT RegisterServer() {
  // Registration may be called on a thread without COM, as regsvr32 does.
  const Strata::MultithreadedApartment com;
  if (!registerEventHandlers()) {
    ZEL_LOG(kLevelError, kSource, L"DllRegisterServer", L"ZelEventHandler: Failed to register event handlers!\r\n");
    return S_FALSE;
  }
  return RegisterClassesAndTypeLibrary();
}

HRESULT UnregisterServer() {
  const Strata::MultithreadedApartment com;
  if (!unregisterEventHandlers()) {
    ZEL_LOG(kLevelError, kSource, L"DllUnregisterServer",
            L"ZelEventHandler: Failed to unregister event handlers!\r\n");
    return S_FALSE;
  }
  return UnregisterClassesAndTypeLibrary();
}
