// One creation path for every suite and service object, shared by the product's libraries.
#include "CreateInstanceViaFactory.h"

#include <wrl/client.h>

#include <string>

#include "KyClassFactory.h"

using Microsoft::WRL::ComPtr;

namespace Ky {
namespace {

// The class object through whichever of the two factory interfaces it serves.
class SuiteFactory {
 public:
  HRESULT Get(REFCLSID clsid, DWORD classContext) {
    HRESULT hr = ::CoGetClassObject(clsid, classContext, nullptr, IID_IKyClassFactory, &current_);
    if (SUCCEEDED(hr)) return hr;
    return ::CoGetClassObject(clsid, classContext, nullptr, IID_IKyClassFactory_PreComponentization, &older_);
  }

  IUnknown* Object() const { return current_ ? static_cast<IUnknown*>(current_.Get()) : older_.Get(); }

  HRESULT CreateInstance(REFIID iid, void** object) {
    auto* out = reinterpret_cast<IUnknown**>(object);
    return current_ ? current_->CreateInstance(iid, out) : older_->CreateInstance(iid, out);
  }

 private:
  ComPtr<IKyClassFactory> current_;
  ComPtr<IKyClassFactory_PreComponentization> older_;
};

// The executable registered to serve a class out of process, from its LocalServer32 command line.
HRESULT LocalServerPath(REFCLSID clsid, std::wstring& path) {
  wchar_t clsidText[40];
  ::StringFromGUID2(clsid, clsidText, ARRAYSIZE(clsidText));
  std::wstring subKey = std::wstring(L"CLSID\\") + clsidText + L"\\LocalServer32";
  // RRF_RT_REG_SZ also takes REG_EXPAND_SZ, expanded.
  DWORD size = 0;
  LSTATUS status = ::RegGetValueW(HKEY_CLASSES_ROOT, subKey.c_str(), nullptr, RRF_RT_REG_SZ,
                                  nullptr, nullptr, &size);
  if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
  std::wstring commandLine(size / sizeof(wchar_t) + 1, L'\0');
  size = static_cast<DWORD>(commandLine.size() * sizeof(wchar_t));
  status = ::RegGetValueW(HKEY_CLASSES_ROOT, subKey.c_str(), nullptr, RRF_RT_REG_SZ, nullptr,
                          &commandLine[0], &size);
  if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
  commandLine.resize(commandLine.find(L'\0'));

  if (!commandLine.empty() && commandLine[0] == L'"') {
    size_t end = commandLine.find(L'"', 1);
    path = commandLine.substr(1, end == std::wstring::npos ? std::wstring::npos : end - 1);
  } else {
    // An unquoted path may contain spaces; it ends with its ".exe".
    std::wstring lower = commandLine;
    ::CharLowerBuffW(&lower[0], static_cast<DWORD>(lower.size()));
    size_t exe = lower.find(L".exe");
    path = exe == std::wstring::npos ? commandLine.substr(0, commandLine.find(L' ')) : commandLine.substr(0, exe + 4);
  }
  return path.empty() ? REGDB_E_INVALIDVALUE : S_OK;
}

// A class object that COM reaches in another process comes as a proxy, whose code is COM's own:
// the module that serves the class is then the registered local server. In process, the serving
// module is the one that holds the class object's code, whatever the registry says.
HRESULT CheckServingModule(REFCLSID clsid, IUnknown* classObject, UnsignedModules unsignedPolicy) {
  ComPtr<IClientSecurity> proxy;
  if (SUCCEEDED(classObject->QueryInterface(IID_PPV_ARGS(&proxy)))) {
    std::wstring serverPath;
    HRESULT hr = LocalServerPath(clsid, serverPath);
    if (FAILED(hr)) return hr;
    return CheckPublisher(serverPath.c_str(), unsignedPolicy);
  }
  const void* firstMethod = **reinterpret_cast<void* const* const*>(classObject);
  return CheckPublisherOfCode(firstMethod, unsignedPolicy);
}

}  // namespace

HRESULT CreateInstanceViaFactory(REFCLSID clsid, DWORD classContext, REFIID iid, void** object, CreationForm form,
                                 UnsignedModules unsignedPolicy) noexcept {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (form == CreationForm::CoCreate) return ::CoCreateInstance(clsid, nullptr, classContext, iid, object);

  try {
    SuiteFactory factory;
    HRESULT hr = factory.Get(clsid, classContext);
    if (FAILED(hr)) return hr;
    if (form == CreationForm::Checked && FAILED(CheckServingModule(clsid, factory.Object(), unsignedPolicy))) {
      return E_ACCESSDENIED;
    }
    hr = factory.CreateInstance(iid, object);
    // A factory that fails yet leaves something behind must not hand it on.
    if (FAILED(hr)) *object = nullptr;
    return hr;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace Ky
