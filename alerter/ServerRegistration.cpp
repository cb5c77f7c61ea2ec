#include "ServerRegistration.h"

#include <oleauto.h>
#include <shellapi.h>

#include <string>

#include <wrl/client.h>

#include "AlerterResources.h"
#include "Handles.h"
#include "KyAlert.h"
#include "PublisherCheck.h"
#include "Registrar.h"

namespace ServerRegistration {
namespace {

using Microsoft::WRL::ComPtr;

constexpr wchar_t kScriptType[] = L"REGISTRY";
// {4A3FACE3-7CCA-4DD6-853D-8823949F9592}
constexpr GUID kAlerterAppId = {0x4A3FACE3, 0x7CCA, 0x4DD6, {0x85, 0x3D, 0x88, 0x23, 0x94, 0x9F, 0x95, 0x92}};
constexpr wchar_t kUserClassesKey[] = L"Software\\Classes";

std::wstring GuidText(REFGUID guid) {
  wchar_t text[40];
  return ::StringFromGUID2(guid, text, 40) ? std::wstring(text) : std::wstring();
}

struct SwitchName {
  const wchar_t* name;
  Switch value;
};
constexpr SwitchName kSwitches[] = {{L"RegServer", Switch::RegServer},
                                    {L"UnregServer", Switch::UnregServer},
                                    {L"RegServerPerUser", Switch::RegServerPerUser},
                                    {L"UnregServerPerUser", Switch::UnregServerPerUser}};

// Writes meant for HKEY_CLASSES_ROOT go to the user's own classes while it lives.
class UserClassesOverride {
 public:
  UserClassesOverride() {
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, kUserClassesKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key_.put(),
                          nullptr) != ERROR_SUCCESS) {
      result_ = HRESULT_FROM_WIN32(::GetLastError());
      return;
    }
    const LSTATUS overridden = ::RegOverridePredefKey(HKEY_CLASSES_ROOT, key_.get());
    result_ = HRESULT_FROM_WIN32(overridden);
  }
  ~UserClassesOverride() {
    if (SUCCEEDED(result_)) ::RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
  }
  UserClassesOverride(const UserClassesOverride&) = delete;
  UserClassesOverride& operator=(const UserClassesOverride&) = delete;
  HRESULT Result() const noexcept { return result_; }

 private:
  Strata::UniqueHkey key_;
  HRESULT result_ = E_FAIL;
};

class Scripts {
 public:
  HRESULT Open() {
    modulePath_ = Ky::ModuleFileName(nullptr);
    if (modulePath_.empty()) return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
    return ::CoCreateInstance(CLSID_Registrar, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IRegistrar),
                              reinterpret_cast<void**>(registrar_.ReleaseAndGetAddressOf()));
  }

  HRESULT Run(bool install) {
    HRESULT hr = registrar_->ClearReplacements();
    const std::pair<const wchar_t*, std::wstring> replacements[] = {{L"MODULE", LocalServerScriptText(modulePath_)},
                                                                    {L"APPID", GuidText(kAlerterAppId)},
                                                                    {L"CLSID", GuidText(CLSID_Alert)},
                                                                    {L"LIBID", GuidText(LIBID_AlerterLib)}};
    for (const auto& replacement : replacements) {
      if (SUCCEEDED(hr)) hr = registrar_->AddReplacement(replacement.first, replacement.second.c_str());
    }
    for (UINT id : {IDR_APPID_SCRIPT, IDR_CLASS_SCRIPT}) {
      if (SUCCEEDED(hr)) {
        hr = install ? registrar_->ResourceRegister(modulePath_.c_str(), id, kScriptType)
                     : registrar_->ResourceUnregister(modulePath_.c_str(), id, kScriptType);
      }
    }
    return hr;
  }

  // For the current user, HKEY_CLASSES_ROOT is redirected to the user's classes meanwhile.
  HRESULT RegisterTypeLibrary() const {
    ComPtr<ITypeLib> library;
    HRESULT hr = ::LoadTypeLibEx(modulePath_.c_str(), REGKIND_NONE, &library);
    if (FAILED(hr)) return hr;
    return ::RegisterTypeLib(library.Get(), const_cast<wchar_t*>(modulePath_.c_str()), nullptr);
  }

 private:
  ComPtr<IRegistrar> registrar_;
  std::wstring modulePath_;
};

HRESULT UnregisterTypeLibrary() {
  const HRESULT hr = ::UnRegisterTypeLib(LIBID_AlerterLib, 1, 0, LANG_NEUTRAL, SYS_WIN64);
  // Nothing registered is nothing to remove.
  return hr == TYPE_E_REGISTRYACCESS || hr == TYPE_E_LIBNOTREGISTERED ? S_OK : hr;
}

HRESULT Register() {
  Scripts scripts;
  HRESULT hr = scripts.Open();
  if (SUCCEEDED(hr)) hr = scripts.Run(true);
  if (SUCCEEDED(hr)) hr = scripts.RegisterTypeLibrary();
  return hr;
}

HRESULT Unregister() {
  Scripts scripts;
  HRESULT hr = scripts.Open();
  if (SUCCEEDED(hr)) hr = scripts.Run(false);
  const HRESULT typeLibrary = UnregisterTypeLibrary();
  return FAILED(hr) ? hr : typeLibrary;
}

HRESULT ApplyForUser(bool install) {
  UserClassesOverride userClasses;
  if (FAILED(userClasses.Result())) return userClasses.Result();
  return install ? Register() : Unregister();
}

}  // namespace

std::wstring LocalServerScriptText(const std::wstring& programPath) {
  std::wstring text = L"\"";
  for (wchar_t c : programPath) {
    text += c;
    if (c == L'\'') text += L'\'';
  }
  return text + L"\"";
}

Switch ParseSwitch(const wchar_t* commandLine) {
  int count = 0;
  Strata::UniqueLocalMem arguments(::CommandLineToArgvW(commandLine ? commandLine : L"", &count));
  auto* words = static_cast<wchar_t**>(arguments.get());
  for (int index = 1; words && index < count; ++index) {
    const wchar_t* word = words[index];
    if (word[0] != L'-' && word[0] != L'/') continue;
    for (const SwitchName& known : kSwitches) {
      if (::lstrcmpiW(word + 1, known.name) == 0) return known.value;
    }
    return Switch::None;
  }
  return Switch::None;
}

HRESULT Apply(Switch what) {
  switch (what) {
    case Switch::RegServer:
      return Register();
    case Switch::UnregServer:
      return Unregister();
    case Switch::RegServerPerUser:
      return ApplyForUser(true);
    case Switch::UnregServerPerUser:
      return ApplyForUser(false);
    case Switch::None:
      break;
  }
  return S_OK;
}

}  // namespace ServerRegistration
