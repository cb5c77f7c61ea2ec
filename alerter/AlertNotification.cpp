#include "AlertNotification.h"

#include <oleauto.h>

#include <mutex>
#include <shared_mutex>

#include "ActiveAlerts.h"
#include "AltLib.h"
#include "ComGuard.h"
#include "Handles.h"
#include "LogInstance.h"
#include "RetryList.h"
#include "UiLauncher.h"

Strata::SlimLock CAlertNotification::gate_;
AlertServices* CAlertNotification::services_ = nullptr;

namespace {

bool OptionTicked(const AlertResult& result) {
  return result.optionCount > 0 && result.options && result.options[0].checked != 0;
}

}  // namespace

void CAlertNotification::Attach(AlertServices* services) noexcept {
  std::unique_lock<Strata::SlimLock> guard(gate_);
  services_ = services;
}

void __stdcall CAlertNotification::OnAlertNotification(uint32_t, int32_t code, const AlertResult* result,
                                                       void* context) noexcept {
  GuardHResult([&] {
    std::shared_lock<Strata::SlimLock> guard(gate_);
    if (code != 0 || !services_ || !services_->notificationThread) return S_OK;
    EndedAlert ended;
    ended.request = services_->active->Claim(reinterpret_cast<uintptr_t>(context));
    if (!ended.request) {
      ZEL_LOG(ETWLogging::kLevelNormal, L"Alert", L"CAlert::OnAlertNotification",
              L"Notification for an alert no longer shown\r\n");
      return S_OK;
    }
    ended.completed = result && result->status == 0;
    ended.chosenButton = ended.completed ? result->chosenButton : 0;
    ended.optionTicked = ended.completed && OptionTicked(*result);
    services_->notificationThread->Post(std::move(ended));
    return S_OK;
  });
}

void CAlertNotification::End(AlertServices& services, const EndedAlert& ended) {
  const AlertRequest& request = *ended.request;
  if (!ended.completed) return;
  LaunchChosenButton(services, request, ended.chosenButton);
  if (!request.callback || !ended.optionTicked) return;
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
