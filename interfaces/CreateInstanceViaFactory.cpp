// One creation path for every suite and service object, shared by the product's libraries.
#include "CreateInstanceViaFactory.h"

#include <wrl/client.h>

#include <string>

#include "KyClassFactory.h"
#include "LogInstance.h"
#include "ServerCommandLine.h"
#include "VerifiedLibrary.h"

using Microsoft::WRL::ComPtr;

namespace Ky {
namespace {

constexpr wchar_t kSource[] = L"CreateInstanceViaFactory";
constexpr wchar_t kFunction[] = L"Ky::CreateInstanceViaFactory";

// The class object through whichever of the two factory interfaces it serves.
class SuiteFactory {
 public:
  HRESULT Get(REFCLSID clsid, DWORD classContext) {
    HRESULT hr = ::CoGetClassObject(clsid, classContext, nullptr, IID_IKyClassFactory, &current_);
    if (SUCCEEDED(hr)) return hr;
    return ::CoGetClassObject(clsid, classContext, nullptr, IID_IKyClassFactory_PreComponentization, &older_);
  }

  IUnknown* Object() const { return current_ ? static_cast<IUnknown*>(current_.Get()) : older_.Get(); }

  // The code that CreateInstance is about to run: the first method after IUnknown's three.
  const void* CreationMethod() const { return (*reinterpret_cast<void* const* const*>(Object()))[3]; }

  HRESULT CreateInstance(REFIID iid, void** object) {
    auto* out = reinterpret_cast<IUnknown**>(object);
    return current_ ? current_->CreateInstance(iid, out) : older_->CreateInstance(iid, out);
  }

 private:
  ComPtr<IKyClassFactory> current_;
  ComPtr<IKyClassFactory_PreComponentization> older_;
};

std::wstring ClassIdText(REFCLSID clsid) {
  wchar_t text[40] = L"";
  ::StringFromGUID2(clsid, text, ARRAYSIZE(text));
  return text;
}

// The file a class's registration names under `serverKind` ("InprocServer32" or "LocalServer32"),
// read from the machine's classes only: a per-user registration, which Windows lets override them,
// is under the control of whoever runs the process. Empty when there is none.
std::wstring RegisteredServerPath(REFCLSID clsid, const wchar_t* serverKind) {
  const std::wstring subKey = L"Software\\Classes\\CLSID\\" + ClassIdText(clsid) + L"\\" + serverKind;
  // RRF_RT_REG_SZ also takes REG_EXPAND_SZ, expanded.
  DWORD size = 0;
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, subKey.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, nullptr, &size) !=
      ERROR_SUCCESS)
    return std::wstring();
  std::wstring commandLine(size / sizeof(wchar_t) + 1, L'\0');
  size = static_cast<DWORD>(commandLine.size() * sizeof(wchar_t));
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, subKey.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, &commandLine[0], &size) !=
      ERROR_SUCCESS)
    return std::wstring();
  commandLine.resize(commandLine.find(L'\0'));
  return ServerPathOfCommandLine(commandLine);
}

HRESULT Refuse(REFCLSID clsid, const std::wstring& module, const wchar_t* reason, HRESULT hr) {
  ZEL_LOG(ETWLogging::kLevelError, kSource, kFunction, L"Refusing to create %s from \"%s\": %s [0x%08X]\r\n",
          ClassIdText(clsid).c_str(), module.c_str(), reason, hr);
  return E_ACCESSDENIED;
}

// A proxy's identity is COM's own proxy manager, whose code is the system's COM runtime. An object
// that some module of this process registered under the class is served from that module instead,
// whatever interfaces it claims.
bool IsSystemComProxy(IUnknown* classObject) {
  ComPtr<IUnknown> identity;
  if (FAILED(classObject->QueryInterface(IID_PPV_ARGS(&identity)))) return false;
  HMODULE module = ModuleOfCode(**reinterpret_cast<void* const* const*>(identity.Get()));
  if (!module) return false;
  wchar_t systemFolder[MAX_PATH] = L"";
  UINT chars = ::GetSystemDirectoryW(systemFolder, ARRAYSIZE(systemFolder));
  if (chars == 0 || chars >= ARRAYSIZE(systemFolder)) return false;
  const std::wstring path = ModuleFileName(module);
  for (const wchar_t* runtime : {L"\\ole32.dll", L"\\combase.dll"}) {
    if (::lstrcmpiW(path.c_str(), (std::wstring(systemFolder) + runtime).c_str()) == 0) return true;
  }
  return false;
}

// In process: the registered library is verified before it is loaded, so a library that fails never
// runs, and the creation method must then be code of that very library.
HRESULT GetVerifiedInprocFactory(REFCLSID clsid, const std::wstring& library, UnsignedModules unsignedPolicy,
                                 SuiteFactory& factory) {
  Strata::UniqueModule verified;
  HRESULT hr = LoadVerifiedLibrary(library.c_str(), verified, unsignedPolicy);
  // The refusal's line, naming the library, is the load's own.
  if (FAILED(hr)) return E_ACCESSDENIED;
  hr = factory.Get(clsid, CLSCTX_INPROC_SERVER);
  if (FAILED(hr)) return hr;
  const HMODULE creator = ModuleOfCode(factory.CreationMethod());
  if (creator != verified.get()) {
    return Refuse(clsid, creator ? ModuleFileName(creator) : library,
                  L"the class object's creation method is not code of the verified library", E_ACCESSDENIED);
  }
  // COM holds a load of its own for as long as the class's objects need the library.
  return S_OK;
}

// Out of process: the registered executable is verified, and the class object must be COM's proxy
// to a server, not an object of this process posing as one.
HRESULT GetVerifiedLocalFactory(REFCLSID clsid, const std::wstring& server, UnsignedModules unsignedPolicy,
                                SuiteFactory& factory) {
  HRESULT hr = CheckPublisher(server.c_str(), unsignedPolicy);
  if (FAILED(hr)) return Refuse(clsid, server, L"the server fails the publisher check", hr);
  hr = factory.Get(clsid, CLSCTX_LOCAL_SERVER);
  if (FAILED(hr)) return hr;
  if (!IsSystemComProxy(factory.Object())) {
    HMODULE module = ModuleOfCode(factory.CreationMethod());
    return Refuse(clsid, module ? ModuleFileName(module) : server,
                  L"the class object is served in this process, not by the registered server", E_ACCESSDENIED);
  }
  return S_OK;
}

HRESULT GetVerifiedFactory(REFCLSID clsid, DWORD classContext, UnsignedModules unsignedPolicy,
                           SuiteFactory& factory) {
  if (classContext & CLSCTX_INPROC_SERVER) {
    std::wstring library = RegisteredServerPath(clsid, L"InprocServer32");
    if (!library.empty()) return GetVerifiedInprocFactory(clsid, library, unsignedPolicy, factory);
  }
  if (classContext & CLSCTX_LOCAL_SERVER) {
    std::wstring server = RegisteredServerPath(clsid, L"LocalServer32");
    if (!server.empty()) return GetVerifiedLocalFactory(clsid, server, unsignedPolicy, factory);
  }
  ZEL_LOG(ETWLogging::kLevelError, kSource, kFunction,
          L"No machine-wide registration of %s to verify for class context 0x%X\r\n", ClassIdText(clsid).c_str(),
          classContext);
  return REGDB_E_CLASSNOTREG;
}

}  // namespace

HRESULT CreateInstanceViaFactory(REFCLSID clsid, DWORD classContext, REFIID iid, void** object, CreationForm form,
                                 UnsignedModules unsignedPolicy) noexcept {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (form == CreationForm::CoCreate) return ::CoCreateInstance(clsid, nullptr, classContext, iid, object);

  try {
    SuiteFactory factory;
    HRESULT hr = form == CreationForm::Checked ? GetVerifiedFactory(clsid, classContext, unsignedPolicy, factory)
                                               : factory.Get(clsid, classContext);
    if (FAILED(hr)) return hr;
    hr = factory.CreateInstance(iid, object);
    // A factory that fails yet leaves something behind must not hand it on.
    if (FAILED(hr)) *object = nullptr;
    return hr;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace Ky
