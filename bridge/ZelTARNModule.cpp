#include "ZelTARNModule.h"

#include <cstring>
#include <iterator>

#include "UserHelper.h"
#include "ZelConfig.h"
#include "ZelLogger.h"
#include "ZelTARN.h"
#include "SlimLock.h"

// {5D7B6C2E-1A0F-4E3B-9C8D-7F2A4B6E1C03}
const GUID kZelTARNAppId = {0x5d7b6c2e, 0x1a0f, 0x4e3b, {0x9c, 0x8d, 0x7f, 0x2a, 0x4b, 0x6e, 0x1c, 0x03}};

CZelTARNModule g_module;

namespace {

bool GuidLess(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) < 0; }

const ZelTARNClass kClasses[] = {
    {&CLSID_ZelConfig, &CZelConfig::Create, L"ZelTARN.ZelConfig", L"ZelConfig Class", true},
    {&CLSID_UserHelper, &CUserHelper::Create, L"ZelTARN.UserHelper", L"UserHelper Class", false},
    {&CLSID_ZelLogger, &CZelLogger::Create, L"ZelTARN.ZelLogger", L"ZelLogger Class", false},
};

}  // namespace

const ZelTARNClass* ZelTARNClassesBegin() { return std::begin(kClasses); }
const ZelTARNClass* ZelTARNClassesEnd() { return std::end(kClasses); }

CZelTARNModule::CZelTARNModule() : classObjects_(GuidLess), typeInfos_(GuidLess) {}

CZelTARNModule::~CZelTARNModule() {
  // Whatever the type library still holds is left to the process's end: releasing it here would
  // call into another library under the loader lock.
  for (auto& entry : typeInfos_) entry.second.Detach();
  typeLibrary_.Detach();
}

HRESULT CZelTARNModule::CanUnloadNow() {
  if (lockCount_.load() != 0 || classObjectHolds_.load() != 0) return S_FALSE;
  std::lock_guard<Strata::SlimLock> guard(typeLock_);
  typeInfos_.clear();
  typeLibrary_.Reset();
  return S_OK;
}

std::wstring CZelTARNModule::ModulePath() const {
  wchar_t path[MAX_PATH + 1];
  DWORD chars = ::GetModuleFileNameW(instance_, path, static_cast<DWORD>(std::size(path)));
  return (chars == 0 || chars >= std::size(path)) ? std::wstring() : std::wstring(path, chars);
}

HRESULT CZelTARNModule::GetClassObject(REFCLSID clsid, REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  for (const ZelTARNClass& served : kClasses) {
    if (*served.clsid != clsid) continue;
    if (!served.create) return CLASS_E_CLASSNOTAVAILABLE;
    std::lock_guard<Strata::SlimLock> guard(classObjectLock_);
    Microsoft::WRL::ComPtr<Ky::CSuiteClassObject>& classObject = classObjects_[clsid];
    if (!classObject)
      classObject = Ky::AdoptNew(new (std::nothrow) Ky::CSuiteClassObject(served.create, L"ZelTARN", classObjectHolds_));
    if (!classObject) return E_OUTOFMEMORY;
    return classObject->QueryInterface(iid, object);
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT CZelTARNModule::GetTypeInfo(REFIID iid, ITypeInfo** info) {
  if (!info) return E_POINTER;
  *info = nullptr;
  std::lock_guard<Strata::SlimLock> guard(typeLock_);
  Microsoft::WRL::ComPtr<ITypeInfo>& cached = typeInfos_[iid];
  if (!cached) {
    if (!typeLibrary_) {
      HRESULT hr = ::LoadTypeLibEx(ModulePath().c_str(), REGKIND_NONE, &typeLibrary_);
      if (FAILED(hr)) return hr;
    }
    HRESULT hr = typeLibrary_->GetTypeInfoOfGuid(iid, &cached);
    if (FAILED(hr)) return hr;
  }
  return cached.CopyTo(info);
}
