// The alerter's binding to the platform alert library "kypltalt.dll": found through the
// platform's "Install Dir" (else beside the program), loaded only after its publisher check and
// by full path, initialised once. Immutable once bound, so any thread may call it without a lock.
#pragma once

#include <windows.h>

#include <string>

#include "Handles.h"
#include "KyPltAlt.h"

class CAltLib {
 public:
  CAltLib() = default;
  CAltLib(const CAltLib&) = delete;
  CAltLib& operator=(const CAltLib&) = delete;

  // 0 or the error: `folder` (ending in "\") takes the place of the platform's folder when not
  // empty; from neither, the library beside the program is loaded. Called before any other thread
  // can use the binding.
  DWORD Bind(const std::wstring& folder);
  // Frees the library without closing the alerts it still shows.
  void Unbind() noexcept;
  bool Bound() const noexcept { return library_.valid(); }

  // ERROR_CALL_NOT_IMPLEMENTED (120) without a show export.
  int32_t Show(const AlertShowRecord& record, KyAlertNotification notify, void* context, int32_t timeout,
               uint32_t* alertHandle) const noexcept;
  void Close(uint32_t alertHandle) const noexcept;

  static constexpr wchar_t kFileName[] = L"kypltalt.dll";

 private:
  struct Exports {
    KyInitTARNAlertFn init = nullptr;
    KyShowTARNAlertFn show = nullptr;
    KyShowTARNAlert2Fn show2 = nullptr;
    KyCloseTARNAlertFn close = nullptr;
    KyShowBriefcardNotificationFn showBriefcard = nullptr;
    KyCloseBriefcardNotificationFn closeBriefcard = nullptr;
    KyShowMetroToastFn showMetroToast = nullptr;  // optional
  };

  DWORD Load(const std::wstring& folder);
  DWORD ResolveExports();

  Strata::UniqueModule library_;
  Exports exports_;
};
