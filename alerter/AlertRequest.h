// One call to show an alert, copied from the caller's arguments. After construction only the
// alert handle changes, and only under the lock of the collection that holds the request; the
// show path keeps a reference of its own, so the texts handed to the library stay valid for the
// whole show call even when a notification ends the request meanwhile.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <wrl/client.h>

#include "KyAlert.h"

class CAlert;

struct AlertButtonText {
  std::wstring label;
  std::wstring action;
};

struct AlertRequest {
  // A null BSTR stays null, so that the record tells absent from empty texts.
  using Text = std::optional<std::wstring>;

  Microsoft::WRL::ComPtr<IAlert> owner;  // keeps the CAlert, and so the server, alive
  CAlert* ownerObject = nullptr;         // the same object, for the replay
  Microsoft::WRL::ComPtr<IAlertCallback> callback;
  std::vector<AlertButtonText> buttons;
  Text language, title, defaultContent, detailsContent, appId, typeId;
  int32_t priority = 0;
  int32_t status = 0;
  int32_t timeout = 0;
  bool noRepeat = false;
  bool retryIfFailed = false;
  std::wstring doNotShowText;
  uint32_t alertHandle = 0;

  // Tracked alerts end with a notification: those with buttons, and those that must not repeat.
  bool Tracked() const noexcept { return !buttons.empty() || noRepeat; }
  // Both must not repeat, and everything the user sees apart from buttons and option is equal.
  bool IsSameAlert(const AlertRequest& other) const noexcept;
  bool HasType(const Text& type) const noexcept { return typeId == type; }

  static Text CopyText(BSTR text) { return text ? Text(std::wstring(text, ::SysStringLen(text))) : std::nullopt; }
  // The buttons of `value`, directly or through a script variable's reference: none unless it is
  // an array (a safe array, or a JScript array object), none for an empty one; E_INVALIDARG for a
  // malformed one. Only the first two elements of each button are read.
  static HRESULT ReadButtons(const VARIANT& value, std::vector<AlertButtonText>* buttons);
};

using AlertRequestPtr = std::shared_ptr<AlertRequest>;
