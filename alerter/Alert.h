// The alerter's one COM class: each IAlert call becomes an AlertRequest that is shown now, dropped
// as a duplicate, or queued for the retry thread.
#pragma once

#include <windows.h>

#include <mutex>

#include "AlertRequest.h"
#include "AlertServices.h"
#include "ComObject.h"
#include "KyAlert.h"
#include "KyPltAlt.h"
#include "RetryList.h"

// The object's hold on the server process is the one its lifetime services keep, so its base
// holds nothing.
class CAlert final : public Ky::ComObject<Ky::NoModuleLock, IAlert> {
 public:
  static HRESULT Create(AlertServices& services, REFIID iid, void** object) noexcept;

  STDMETHODIMP GetTypeInfoCount(UINT* count) override;
  STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** info) override;
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* parameters, VARIANT* result,
                      EXCEPINFO* exception, UINT* argumentError) override;

  STDMETHODIMP ShowSimpleAlert(BSTR language, BSTR title, BSTR defaultContent, BSTR detailsContent, BSTR appId,
                               BSTR typeId, LONG priority, LONG status, LONG timeout, VARIANT_BOOL noRepeat,
                               VARIANT_BOOL retryIfFailed) override;
  STDMETHODIMP ShowAlertWithActionsToLaunchUI(BSTR language, BSTR title, BSTR defaultContent, BSTR detailsContent,
                                              BSTR appId, BSTR typeId, LONG priority, LONG status, LONG timeout,
                                              VARIANT buttons, VARIANT_BOOL noRepeat,
                                              VARIANT_BOOL retryIfFailed) override;
  STDMETHODIMP ShowAlertWithDoNotShowAgainOption(BSTR language, BSTR title, BSTR defaultContent,
                                                 BSTR detailsContent, BSTR appId, BSTR typeId, LONG priority,
                                                 LONG status, LONG timeout, VARIANT_BOOL noRepeat,
                                                 VARIANT_BOOL retryIfFailed, IAlertCallback* callback,
                                                 BSTR doNotShowText) override;

  // Shows a copy of a queued request again, bypassing the queue; S_OK when it was shown.
  HRESULT Replay(const AlertRequest& queued) noexcept;

 private:
  friend class Ky::ComObject<Ky::NoModuleLock, IAlert>;
  explicit CAlert(AlertServices& services) noexcept;
  ~CAlert();

  AlertRequestPtr NewRequest(BSTR language, BSTR title, BSTR defaultContent, BSTR detailsContent, BSTR appId,
                             BSTR typeId, LONG priority, LONG status, LONG timeout, VARIANT_BOOL noRepeat,
                             VARIANT_BOOL retryIfFailed);
  HRESULT ShowAlert(const AlertRequestPtr& request, bool isRetry);
  HRESULT ShowTracked(const AlertRequestPtr& request, bool isRetry);
  // The library's show of the request, under this object's lock.
  int32_t LockedShow(const AlertRequest& request, KyAlertNotification notify, void* context, uint32_t* handle);
  CRetryList::AddResult Queue(const AlertRequestPtr& request);

  AlertServices& services_;
  // Held around each show of this object's alerts. A library may call back into the alerter from
  // inside a show, so the lock is one the same thread may take again.
  std::recursive_mutex showLock_;
};
