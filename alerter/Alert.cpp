#include "Alert.h"

#include <oleauto.h>

#include "ActiveAlerts.h"
#include "AlertNotification.h"
#include "AlertRecord.h"
#include "AltLib.h"
#include "CallingProcess.h"
#include "ComGuard.h"
#include "LogInstance.h"
#include "RetryList.h"
#include "RetryThread.h"
#include "ServerLifetime.h"

namespace {

constexpr wchar_t kSource[] = L"Alert";

// Only the product's own processes may put an alert, and the program its buttons start, in front
// of the user.
HRESULT AdmitCaller() {
  std::wstring refused;
  const HRESULT hr = Ky::CheckCallingProcess(&refused);
  if (FAILED(hr)) {
    ZEL_LOG(ETWLogging::kLevelError, kSource, L"CAlert::_ShowAlert", L"Refused an alert from %s (0x%08X)\r\n",
            refused.c_str(), hr);
  }
  return hr;
}

// A call from a client: the caller is admitted before anything of the call is read.
template <typename Body>
HRESULT FromAdmittedCaller(Body&& body) noexcept {
  return GuardHResult([&] {
    const HRESULT admitted = AdmitCaller();
    return FAILED(admitted) ? admitted : body();
  });
}
constexpr wchar_t kFunction[] = L"CAlert::_ShowAlert";

// What a caller learns of a queue that refused its request for want of room.
constexpr HRESULT kQueueFull = HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_QUOTA);

}  // namespace

HRESULT CAlert::Create(AlertServices& services, REFIID iid, void** object) noexcept {
  return CreateInstance<CAlert>(iid, object, services);
}

CAlert::CAlert(AlertServices& services) noexcept : services_(services) {
  if (services_.lifetime) services_.lifetime->ObjectCreated();
}

CAlert::~CAlert() {
  if (services_.lifetime) services_.lifetime->ObjectDestroyed();
}

STDMETHODIMP CAlert::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = services_.alertTypeInfo ? 1 : 0;
  return S_OK;
}

STDMETHODIMP CAlert::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
  if (!info) return E_POINTER;
  *info = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  if (!services_.alertTypeInfo) return TYPE_E_ELEMENTNOTFOUND;
  return services_.alertTypeInfo.CopyTo(info);
}

STDMETHODIMP CAlert::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  if (!services_.alertTypeInfo) return E_NOTIMPL;
  return ::DispGetIDsOfNames(services_.alertTypeInfo.Get(), names, count, ids);
}

STDMETHODIMP CAlert::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* parameters, VARIANT* result,
                            EXCEPINFO* exception, UINT* argumentError) {
  if (!services_.alertTypeInfo) return E_NOTIMPL;
  return ::DispInvoke(static_cast<IAlert*>(this), services_.alertTypeInfo.Get(), id, flags, parameters, result,
                      exception, argumentError);
}

STDMETHODIMP CAlert::ShowSimpleAlert(BSTR language, BSTR title, BSTR defaultContent, BSTR detailsContent, BSTR appId,
                                     BSTR typeId, LONG priority, LONG status, LONG timeout, VARIANT_BOOL noRepeat,
                                     VARIANT_BOOL retryIfFailed) {
  return FromAdmittedCaller([&] {
    return ShowAlert(NewRequest(language, title, defaultContent, detailsContent, appId, typeId, priority, status,
                                timeout, noRepeat, retryIfFailed),
                     false);
  });
}

STDMETHODIMP CAlert::ShowAlertWithActionsToLaunchUI(BSTR language, BSTR title, BSTR defaultContent,
                                                    BSTR detailsContent, BSTR appId, BSTR typeId, LONG priority,
                                                    LONG status, LONG timeout, VARIANT buttons, VARIANT_BOOL noRepeat,
                                                    VARIANT_BOOL retryIfFailed) {
  return FromAdmittedCaller([&] {
    AlertRequestPtr request = NewRequest(language, title, defaultContent, detailsContent, appId, typeId, priority,
                                         status, timeout, noRepeat, retryIfFailed);
    HRESULT hr = AlertRequest::ReadButtons(buttons, &request->buttons);
    return FAILED(hr) ? hr : ShowAlert(request, false);
  });
}

STDMETHODIMP CAlert::ShowAlertWithDoNotShowAgainOption(BSTR language, BSTR title, BSTR defaultContent,
                                                       BSTR detailsContent, BSTR appId, BSTR typeId, LONG priority,
                                                       LONG status, LONG timeout, VARIANT_BOOL noRepeat,
                                                       VARIANT_BOOL retryIfFailed, IAlertCallback* callback,
                                                       BSTR doNotShowText) {
  return FromAdmittedCaller([&] {
    AlertRequestPtr request = NewRequest(language, title, defaultContent, detailsContent, appId, typeId, priority,
                                         status, timeout, noRepeat, retryIfFailed);
    request->callback = callback;
    if (doNotShowText) request->doNotShowText.assign(doNotShowText, ::SysStringLen(doNotShowText));
    return ShowAlert(request, false);
  });
}

HRESULT CAlert::Replay(const AlertRequest& queued) noexcept {
  return GuardHResult([&] {
    auto copy = std::make_shared<AlertRequest>(queued);
    copy->alertHandle = 0;
    return ShowAlert(copy, true);
  });
}

AlertRequestPtr CAlert::NewRequest(BSTR language, BSTR title, BSTR defaultContent, BSTR detailsContent, BSTR appId,
                                   BSTR typeId, LONG priority, LONG status, LONG timeout, VARIANT_BOOL noRepeat,
                                   VARIANT_BOOL retryIfFailed) {
  auto request = std::make_shared<AlertRequest>();
  request->owner = this;
  request->ownerObject = this;
  request->language = AlertRequest::CopyText(language);
  request->title = AlertRequest::CopyText(title);
  request->defaultContent = AlertRequest::CopyText(defaultContent);
  request->detailsContent = AlertRequest::CopyText(detailsContent);
  request->appId = AlertRequest::CopyText(appId);
  request->typeId = AlertRequest::CopyText(typeId);
  request->priority = priority;
  request->status = status;
  request->timeout = timeout;
  request->noRepeat = noRepeat != VARIANT_FALSE;
  request->retryIfFailed = retryIfFailed != VARIANT_FALSE;
  return request;
}

HRESULT CAlert::ShowAlert(const AlertRequestPtr& request, bool isRetry) {
  if (!isRetry && services_.active->AnyDisplayed()) {
    return Queue(request) == CRetryList::AddResult::Full ? kQueueFull : S_OK;
  }
  if (!services_.library) {
    ZEL_LOG(ETWLogging::kLevelCritical, kSource, kFunction, L"Failed to get CAltLib for toaster laert!\r\n");
    return E_FAIL;
  }
  if (request->Tracked()) return ShowTracked(request, isRetry);
  // An untracked alert is shown and forgotten: its outcome changes nothing for the caller, but a
  // failed show is written down, so that no alert goes missing without a trace.
  uint32_t handle = 0;
  const int32_t result = LockedShow(*request, nullptr, nullptr, &handle);
  if (result != 0)
    ZEL_LOG(ETWLogging::kLevelError, kSource, kFunction, L"Failed to show the TARN Alert (lResult 0x%X)\r\n",
            static_cast<unsigned>(result));
  return S_OK;
}

HRESULT CAlert::ShowTracked(const AlertRequestPtr& request, bool isRetry) {
  const uint64_t id = services_.active->AddUnlessSame(request);
  if (id == 0) return S_OK;
  uint32_t handle = 0;
  const int32_t result =
      LockedShow(*request, &CAlertNotification::OnAlertNotification, CAlertNotification::ContextOf(id), &handle);
  if (result == 0) {
    // Purged (a do-not-show-again answer for its type) while it was being shown: it must not stay
    // on screen. An alert its notification already ended is gone, and closing it changes nothing.
    if (!services_.active->SetHandle(id, handle) && handle != 0) services_.library->Close(handle);
    return S_OK;
  }
  // A notification that ended the alert meanwhile has already decided its fate.
  if (!services_.active->Claim(id)) return S_OK;
  ZEL_LOG(ETWLogging::kLevelError, kSource, kFunction, L"Failed to show the TARN Alert (lResult 0x%X)\r\n",
          static_cast<unsigned>(result));
  if (isRetry || !request->retryIfFailed) return E_FAIL;
  const CRetryList::AddResult queued = Queue(request);
  if (queued == CRetryList::AddResult::Added) {
    ZEL_LOG(ETWLogging::kLevelNormal, kSource, kFunction, L"Added failed alert to retry list\r\n");
  }
  return queued == CRetryList::AddResult::Full ? kQueueFull : E_FAIL;
}

int32_t CAlert::LockedShow(const AlertRequest& request, KyAlertNotification notify, void* context,
                           uint32_t* handle) {
  CAlertRecord record(request);
  // The library may notify from inside the call; the notification takes none of this object's locks.
  std::lock_guard<std::recursive_mutex> guard(showLock_);
  return services_.library->Show(record.Get(), notify, context, request.timeout, handle);
}

CRetryList::AddResult CAlert::Queue(const AlertRequestPtr& request) {
  const CRetryList::AddResult result = services_.retry->Add(request);
  // A same alert already queued is replayed now as well.
  const bool waiting = result == CRetryList::AddResult::Added || result == CRetryList::AddResult::AlreadyQueued;
  if (waiting && services_.retryThread) services_.retryThread->Wake();
  return result;
}
