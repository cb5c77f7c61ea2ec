// What the alert library stand-in keeps under its state key (stand-in "KyPltAlt": the loading
// process's subkey "Processes\<id>" when a test made it, else HKLM\Software\ZelStandIns\KyPltAlt):
//   Alerts\<handle>        every shown alert, its whole record: texts by member name ("TypeId",
//                          "Language", "Title", "AppId", "DetailsContent", "DefaultContent"; absent
//                          when null), "Priority", "Status", "Marker", "ButtonCount", "HasButtons",
//                          "Buttons" (multi-text "<number>=<label>"), "HasOption", "OptionId",
//                          "OptionText", "OptionChecked", "ReservedZero" (1 when every reserved member
//                          and padding byte is 0), "Timeout", "Flags", "Export", "Tracked" (a notification was given);
//                          later "Closed", "Completed", "ChosenButton", "DoNotShowAgain"
//   Briefcards\<handle>    "Title", "Text", later "Closed"
//   Toasts\<n>             "AppId", "Title", "Text"
// The entry number of an alert is its handle.
#pragma once

#include <windows.h>

#include <string>

#include "KyPltAlt.h"

namespace ZelStandIns {

class AlertRecorder {
 public:
  AlertRecorder();

  // The new alert's handle, or 0 when it could not be recorded.
  uint32_t RecordAlert(const AlertShowRecord& record, const char* exportName, int32_t timeout, uint32_t flags,
                       bool tracked) const;
  void MarkAlert(uint32_t handle, const wchar_t* name, DWORD value) const;
  uint32_t RecordBriefcard(const wchar_t* title, const wchar_t* text) const;
  void MarkBriefcardClosed(uint32_t handle) const;
  void RecordToast(const wchar_t* appId, const wchar_t* title, const wchar_t* text) const;

  const std::wstring& KeyPath() const { return keyPath_; }

 private:
  const std::wstring keyPath_;
};

}  // namespace ZelStandIns
