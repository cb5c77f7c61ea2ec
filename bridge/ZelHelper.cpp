#include "ZelHelper.h"

#include "CallResult.h"
#include "CreateInstanceViaFactory.h"
#include "LogInstance.h"
#include "ZelPlugin.h"

using ETWLogging::kLevelError;
using ETWLogging::kLevelWarning;
using Ky::IsRpcFailure;

namespace {

constexpr wchar_t kSource[] = L"ZelTARNHelper";

HRESULT CreateService(IKyGSService** service) {
  return Ky::CreateInstanceViaFactory(CLSID_KyGSService, Ky::kAnyClassContext, IID_IKyGSService,
                                      reinterpret_cast<void**>(service), Ky::CreationForm::Checked);
}

}  // namespace

HRESULT CZelHelper::GetConfig(IKyGSService** service) {
  constexpr wchar_t kFunction[] = L"CZelHelper::GetConfig";
  if (!service) return E_POINTER;
  *service = nullptr;
  std::lock_guard<Strata::CriticalSection> guard(lock_);
  VARIANT_BOOL registered = VARIANT_FALSE;
  HRESULT hr = IsZelPluginRegistered(&registered);
  if (FAILED(hr)) return hr;
  if (registered != VARIANT_TRUE) return RPC_E_NOT_REGISTERED;
  if (FAILED(creationResult_)) return creationResult_;
  if (!service_ && FAILED(createConfigLocked())) return creationResult_;

  hr = service_->QueryInterface(IID_IKyGSService, reinterpret_cast<void**>(service));
  if (IsRpcFailure(hr)) {
    ZEL_LOG(kLevelWarning, kSource, kFunction, L"ZEL gave RPC error 0x%08X\r\n", hr);
    service_.Reset();
    if (FAILED(createConfigLocked())) {
      ZEL_LOG(kLevelError, kSource, kFunction, L"Failed to reacquire ZEL [0x%08X]\r\n", creationResult_);
      return creationResult_;
    }
    hr = service_->QueryInterface(IID_IKyGSService, reinterpret_cast<void**>(service));
  }
  return hr;
}

HRESULT CZelHelper::Reconnect(IKyGSService* failed, IKyGSService** service) {
  if (!service) return E_POINTER;
  *service = nullptr;
  std::lock_guard<Strata::CriticalSection> guard(lock_);
  // A caller that met the same failure first has made the object afresh: that one is used.
  if (!service_ || service_.Get() == failed) {
    service_.Reset();
    if (FAILED(createConfigLocked())) {
      ZEL_LOG(kLevelError, kSource, L"CZelHelper::GetConfig", L"Failed to reacquire ZEL [0x%08X]\r\n", creationResult_);
      return creationResult_;
    }
  }
  return service_->QueryInterface(IID_IKyGSService, reinterpret_cast<void**>(service));
}

HRESULT CZelHelper::createConfigLocked() {
  constexpr wchar_t kFunction[] = L"CZelHelper::createConfig";
  creationResult_ = CreateService(service_.ReleaseAndGetAddressOf());
  if (FAILED(creationResult_)) {
    ZEL_LOG(kLevelError, kSource, kFunction, L"Failed to create ZEL Config instance [0x%08X]\r\n", creationResult_);
  }
  if (creationResult_ == E_FAIL) {
    creationResult_ = CreateService(service_.ReleaseAndGetAddressOf());
    if (FAILED(creationResult_)) {
      ZEL_LOG(kLevelError, kSource, kFunction,
              L"Failed to create ZEL Config object after restarting the service [0x%08X]\r\n", creationResult_);
    }
  }
  // A creation that claims success without an object would be used as one.
  if (SUCCEEDED(creationResult_) && !service_) {
    creationResult_ = E_UNEXPECTED;
    ZEL_LOG(kLevelError, kSource, kFunction, L"Failed to create ZEL Config instance [0x%08X]\r\n", creationResult_);
  }
  return creationResult_;
}
