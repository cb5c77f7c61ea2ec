#include "AlertNotification.h"

#include <oleauto.h>

#include "ActiveAlerts.h"
#include "AltLib.h"
#include "ComGuard.h"
#include "Handles.h"
#include "LogInstance.h"
#include "RetryList.h"
#include "UiLauncher.h"

std::atomic<AlertServices*> CAlertNotification::services_{nullptr};

namespace {

bool OptionTicked(const AlertResult& result) {
  return result.optionCount > 0 && result.options && result.options[0].checked != 0;
}

// The callback is a proxy into the caller's process, reached from this apartment.
class MultithreadedApartment {
 public:
  MultithreadedApartment() noexcept : hr_(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
  ~MultithreadedApartment() {
    if (SUCCEEDED(hr_)) ::CoUninitialize();
  }
  MultithreadedApartment(const MultithreadedApartment&) = delete;
  MultithreadedApartment& operator=(const MultithreadedApartment&) = delete;

 private:
  const HRESULT hr_;
};

}  // namespace

void __stdcall CAlertNotification::OnAlertNotification(uint32_t, int32_t code, const AlertResult* result,
                                                       void* context) noexcept {
  GuardHResult([&] {
    AlertServices* services = services_.load();
    if (code != 0 || !services) return S_OK;
    AlertRequestPtr request = services->active->Claim(reinterpret_cast<uintptr_t>(context));
    if (!request) {
      ZEL_LOG(ETWLogging::kLevelNormal, L"Alert", L"CAlert::OnAlertNotification",
              L"Notification for an alert no longer shown\r\n");
    }
    if (request && result && result->status == 0) Complete(*services, *request, *result);
    return S_OK;
  });
}

void CAlertNotification::Complete(AlertServices& services, const AlertRequest& request, const AlertResult& result) {
  LaunchChosenButton(services, request, result.chosenButton);
  if (!request.callback || !OptionTicked(result)) return;
  CallBackDoNotShowAgain(request);
  Purge(services, request.typeId);
}

void CAlertNotification::LaunchChosenButton(AlertServices& services, const AlertRequest& request, uint32_t chosen) {
  if (chosen < 1 || chosen > request.buttons.size()) return;
  const std::wstring& action = request.buttons[chosen - 1].action;
  if (!action.empty() && services.launcher) services.launcher->Launch(action);
}

void CAlertNotification::CallBackDoNotShowAgain(const AlertRequest& request) {
  DWORD session = 0;
  if (!::ProcessIdToSessionId(::GetCurrentProcessId(), &session)) return;
  MultithreadedApartment apartment;
  const std::wstring& type = request.typeId ? *request.typeId : std::wstring();
  Strata::UniqueBstr typeId(::SysAllocStringLen(type.data(), static_cast<UINT>(type.size())));
  if (!typeId && request.typeId) return;
  // Its failure changes nothing: the user has answered, and the purge follows regardless.
  request.callback->DoNotShowAgain(typeId.get(), static_cast<LONG>(session));
}

void CAlertNotification::Purge(AlertServices& services, const AlertRequest::Text& typeId) {
  // Both lists are discarded here, after each collection's lock is gone.
  std::vector<AlertRequestPtr> queued = services.retry->RemoveType(typeId);
  std::vector<AlertRequestPtr> shown = services.active->ClaimType(typeId);
  for (const AlertRequestPtr& request : shown) {
    if (request->alertHandle != 0 && services.library) services.library->Close(request->alertHandle);
  }
}
