// Stands in for the bridge library in the prefix tests: its configuration class answers
// REGDB_E_IIDNOTREG until its registration has run with "RegistrationRepairs" set, as a bridge
// whose interface registration was lost would, and names the platform user of the session. State
// under HKCU\Software\ZelTests\FakeBridge:
//   RegistrationRepairs  REG_DWORD  1: DllRegisterServer makes creation work
//   Registered           REG_DWORD  set by such a registration
//   Registrations        REG_DWORD  how many times DllRegisterServer ran
//   CurrentUser          REG_SZ     the platform user GetCurrentTarnUserNameAndType and
//                                   GetSessionCurrentTarnUserNameAndType name (absent: result code
//                                   0x08020002)
//   StartupUser          REG_DWORD  the startup flag GetCurrentTarnUserNameAndType gives (VT_I4)
//   PendingAnswers       REG_DWORD  how many session questions answer E_PENDING (not logged on) first
//   RpcFailures          REG_DWORD  how many session questions answer 0x800706BA first
//   CreateDelayMs        REG_DWORD  how long each creation takes, as a library being checked would
#include <windows.h>
#include <objbase.h>

#include <utility>

#include "ComObject.h"
#include "Handles.h"
#include "KyClassFactory.h"
#include "TypelessDispatch.h"
#include "ZelTARN.h"

namespace {

constexpr wchar_t kStateKey[] = L"Software\\ZelTests\\FakeBridge";

DWORD ReadState(const wchar_t* name) {
  DWORD value = 0;
  DWORD bytes = sizeof(value);
  ::RegGetValueW(HKEY_CURRENT_USER, kStateKey, name, RRF_RT_REG_DWORD, nullptr, &value, &bytes);
  return value;
}

void WriteState(const wchar_t* name, DWORD value) {
  ::RegSetKeyValueW(HKEY_CURRENT_USER, kStateKey, name, REG_DWORD, &value, sizeof(value));
}

template <typename Interface>
using Object = Ky::ComObject<Ky::NoModuleLock, Interface>;

// A configuration object that is only ever held and released by the tests.
class FakeConfig final : public Object<Ky::TypelessDispatch<IZelConfig>> {
 public:
  STDMETHODIMP GetGlobalConfigsValue(VARIANT, VARIANT*, VARIANT*) override { return E_NOTIMPL; }
  STDMETHODIMP SetGlobalConfigsValue(VARIANT, VARIANT, long*) override { return E_NOTIMPL; }
  STDMETHODIMP GetTARNUserList(VARIANT*) override { return E_NOTIMPL; }
  STDMETHODIMP GetCurrentTarnUserNameAndType(VARIANT* name, VARIANT* kind, VARIANT* startup, long* result) override {
    if (!name || !kind || !startup || !result) return E_POINTER;
    wchar_t text[256] = L"";
    DWORD bytes = sizeof(text);
    if (::RegGetValueW(HKEY_CURRENT_USER, kStateKey, L"CurrentUser", RRF_RT_REG_SZ, nullptr, text, &bytes) !=
        ERROR_SUCCESS) {
      *result = 0x08020002;
      return S_OK;
    }
    V_VT(name) = VT_BSTR;
    V_BSTR(name) = ::SysAllocString(text);
    V_VT(kind) = VT_I4;
    V_I4(kind) = 1;
    // As the real bridge writes it.
    V_VT(startup) = VT_I4;
    V_I4(startup) = static_cast<LONG>(ReadState(L"StartupUser"));
    *result = 0;
    return V_BSTR(name) ? S_OK : E_OUTOFMEMORY;
  }
  STDMETHODIMP GetInstallDir(VARIANT*) override { return E_NOTIMPL; }
  STDMETHODIMP GetSessionCurrentTarnUserNameAndType(ULONG, VARIANT* name, long* result) override {
    if (!name || !result) return E_POINTER;
    for (const auto& [knob, answer] : {std::pair{L"RpcFailures", static_cast<HRESULT>(0x800706BA)},
                                       std::pair{L"PendingAnswers", E_PENDING}}) {
      DWORD left = ReadState(knob);
      if (left == 0) continue;
      WriteState(knob, left - 1);
      *result = -1;
      return answer;
    }
    VARIANT kind;
    VARIANT startup;
    return GetCurrentTarnUserNameAndType(name, &kind, &startup, result);
  }
  STDMETHODIMP CreateNewZelUser(BSTR, long*) override { return E_NOTIMPL; }
  STDMETHODIMP GetUserConfigValue(BSTR, long, VARIANT*) override { return E_NOTIMPL; }
  STDMETHODIMP SetUserConfigValue(BSTR, long, VARIANT, long*) override { return E_NOTIMPL; }
  STDMETHODIMP DoesUserExist(BSTR, long*) override { return E_NOTIMPL; }
  STDMETHODIMP SetUserConfigValues(BSTR, VARIANT, VARIANT, long, long*) override { return E_NOTIMPL; }
  STDMETHODIMP GetResourceDir(VARIANT*) override { return E_NOTIMPL; }
  STDMETHODIMP GetAdminSettingsConfigValue(VARIANT, VARIANT*, VARIANT*) override { return E_NOTIMPL; }
  STDMETHODIMP SetAdminSettingsConfigValue(VARIANT, VARIANT, long*) override { return E_NOTIMPL; }
  STDMETHODIMP VerifyAdminPassword(BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP IsAdminPasswordAbsent(VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP VerifyAdminSecurityAnswer(BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP GetAgeGroupConfigsValue(long, VARIANT, VARIANT*, VARIANT*) override { return E_NOTIMPL; }
  STDMETHODIMP GetSupportedCategoryList(VARIANT*) override { return E_NOTIMPL; }
  STDMETHODIMP IsUserProtected(BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP SetUserProtected(BSTR, VARIANT_BOOL, long*) override { return E_NOTIMPL; }
  STDMETHODIMP RegisterZelPlugin(long*) override { return E_NOTIMPL; }
  STDMETHODIMP IsZelPluginRegistered(VARIANT_BOOL*) override { return E_NOTIMPL; }
};

class FakeFactory final : public Object<IKyClassFactory> {
 public:
  STDMETHODIMP CreateInstance(REFIID iid, IUnknown** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (!ReadState(L"Registered")) return REGDB_E_IIDNOTREG;
    if (DWORD delay = ReadState(L"CreateDelayMs")) ::Sleep(delay);
    return FakeConfig::CreateInstance<FakeConfig>(iid, reinterpret_cast<void**>(object));
  }
};

}  // namespace

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID, REFIID iid, void** object) {
  return FakeFactory::ComObject::CreateInstance<FakeFactory>(iid, object);
}

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllCanUnloadNow() { return S_FALSE; }

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllRegisterServer() {
  WriteState(L"Registrations", ReadState(L"Registrations") + 1);
  if (ReadState(L"RegistrationRepairs")) WriteState(L"Registered", 1);
  return S_OK;
}
