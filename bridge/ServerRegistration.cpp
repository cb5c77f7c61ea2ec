#include "ServerRegistration.h"

#include <oleauto.h>

#include <string>

#include <wrl/client.h>

#include "ComApartment.h"
#include "Registrar.h"
#include "ZelTARN.h"
#include "ZelTARNModule.h"
#include "ZelTARNResources.h"

namespace ServerRegistration {
namespace {

using Microsoft::WRL::ComPtr;

constexpr wchar_t kScriptType[] = L"REGISTRY";

std::wstring GuidText(REFGUID guid) {
  wchar_t text[40];
  return ::StringFromGUID2(guid, text, 40) ? std::wstring(text) : std::wstring();
}

class Scripts {
 public:
  HRESULT Open() {
    HRESULT hr = ::CoCreateInstance(CLSID_Registrar, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IRegistrar),
                                    reinterpret_cast<void**>(registrar_.ReleaseAndGetAddressOf()));
    if (FAILED(hr)) return hr;
    modulePath_ = g_module.ModulePath();
    return modulePath_.empty() ? HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND) : S_OK;
  }

  // Runs script `id` with the library's own replacements and, for a class script, the class's.
  HRESULT Run(UINT id, bool install, const ZelTARNClass* forClass) {
    HRESULT hr = registrar_->ClearReplacements();
    if (SUCCEEDED(hr)) hr = registrar_->AddReplacement(L"MODULE", modulePath_.c_str());
    if (SUCCEEDED(hr)) hr = registrar_->AddReplacement(L"APPID", GuidText(kZelTARNAppId).c_str());
    if (SUCCEEDED(hr)) hr = registrar_->AddReplacement(L"LIBID", GuidText(LIBID_ZelTARNLib).c_str());
    if (forClass) {
      if (SUCCEEDED(hr)) hr = registrar_->AddReplacement(L"CLSID", GuidText(*forClass->clsid).c_str());
      if (SUCCEEDED(hr)) hr = registrar_->AddReplacement(L"PROGID", forClass->progId);
      if (SUCCEEDED(hr)) hr = registrar_->AddReplacement(L"DESCRIPTION", forClass->description);
    }
    if (FAILED(hr)) return hr;
    return install ? registrar_->ResourceRegister(modulePath_.c_str(), id, kScriptType)
                   : registrar_->ResourceUnregister(modulePath_.c_str(), id, kScriptType);
  }

  HRESULT RunAll(bool install) {
    HRESULT hr = Run(IDR_APPID_SCRIPT, install, nullptr);
    for (const ZelTARNClass* entry = ZelTARNClassesBegin(); SUCCEEDED(hr) && entry != ZelTARNClassesEnd(); ++entry) {
      // A control's keys go in after its class key and out before it.
      if (install) hr = Run(IDR_CLASS_SCRIPT, true, entry);
      if (SUCCEEDED(hr) && entry->control) hr = Run(IDR_CONTROL_SCRIPT, install, entry);
      if (SUCCEEDED(hr) && !install) hr = Run(IDR_CLASS_SCRIPT, false, entry);
    }
    return hr;
  }

  const std::wstring& ModulePath() const { return modulePath_; }

 private:
  ComPtr<IRegistrar> registrar_;
  std::wstring modulePath_;
};

HRESULT RegisterTypeLibrary(const std::wstring& modulePath) {
  ComPtr<ITypeLib> library;
  HRESULT hr = ::LoadTypeLibEx(modulePath.c_str(), REGKIND_NONE, &library);
  if (FAILED(hr)) return hr;
  return ::RegisterTypeLib(library.Get(), const_cast<wchar_t*>(modulePath.c_str()), nullptr);
}

HRESULT UnregisterTypeLibrary() {
  HRESULT hr = ::UnRegisterTypeLib(LIBID_ZelTARNLib, 1, 0, LANG_NEUTRAL, SYS_WIN64);
  // Nothing registered is nothing to remove.
  return hr == TYPE_E_REGISTRYACCESS || hr == TYPE_E_LIBNOTREGISTERED ? S_OK : hr;
}

}  // namespace

HRESULT Register() {
  // COM for the registrar, on a thread that may or may not have it already.
  const Strata::SingleThreadedApartment com;
  Scripts scripts;
  HRESULT hr = scripts.Open();
  if (SUCCEEDED(hr)) hr = scripts.RunAll(true);
  if (SUCCEEDED(hr)) hr = RegisterTypeLibrary(scripts.ModulePath());
  return hr;
}

HRESULT Unregister() {
  const Strata::SingleThreadedApartment com;
  Scripts scripts;
  HRESULT hr = scripts.Open();
  if (SUCCEEDED(hr)) hr = scripts.RunAll(false);
  HRESULT typeLibrary = UnregisterTypeLibrary();
  return FAILED(hr) ? hr : typeLibrary;
}

}  // namespace ServerRegistration
