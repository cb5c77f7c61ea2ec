#include "AlertRecorder.h"

#include <cstddef>

#include "FormatText.h"
#include "StandInState.h"

namespace ZelStandIns {

namespace {

bool BytesAreZero(const void* start, size_t from, size_t to) {
  const auto* bytes = static_cast<const unsigned char*>(start);
  for (size_t at = from; at < to; ++at) {
    if (bytes[at] != 0) return false;
  }
  return true;
}

// The reserved members and the padding between members, of the record and what it points to.
bool ReservedMembersAreZero(const AlertShowRecord& record) {
  bool zero = record.reserved0 == 0 && record.reserved1 == 0 && record.reserved2[0] == 0 && record.reserved2[1] == 0 &&
              record.reserved2[2] == 0;
  zero = zero && BytesAreZero(&record, offsetof(AlertShowRecord, marker) + sizeof(record.marker),
                              offsetof(AlertShowRecord, title));
  zero = zero && BytesAreZero(&record, offsetof(AlertShowRecord, hasOption) + sizeof(record.hasOption),
                              offsetof(AlertShowRecord, option));
  for (uint32_t i = 0; record.buttons && i < record.buttonCount; ++i) {
    zero = zero && BytesAreZero(&record.buttons[i], sizeof(uint32_t), offsetof(AlertButton, label));
  }
  if (record.option) zero = zero && record.option->reserved == 0 && record.option->reserved2 == 0;
  return zero;
}

void WriteButtons(HKEY key, const AlertShowRecord& record) {
  std::vector<std::wstring> buttons;
  for (uint32_t i = 0; record.buttons && i < record.buttonCount; ++i) {
    const AlertButton& button = record.buttons[i];
    buttons.push_back(Strata::Format(L"%u=%s", button.buttonNumber, button.label ? button.label : L"(null)"));
  }
  WriteTexts(key, L"Buttons", buttons);
}

void WriteOption(HKEY key, const AlertOption& option) {
  WriteDword(key, L"OptionId", option.optionId);
  WriteText(key, L"OptionText", option.text);
  WriteDword(key, L"OptionChecked", option.checked);
}

Strata::UniqueHkey CreateEntry(const std::wstring& keyPath, const wchar_t* list, DWORD* number) {
  Strata::UniqueHkey root = OpenKey(HKEY_LOCAL_MACHINE, keyPath, true);
  return root ? CreateNextEntry(root.get(), list, number) : Strata::UniqueHkey();
}

}  // namespace

AlertRecorder::AlertRecorder() : keyPath_(StateKeyPath(L"KyPltAlt")) {}

uint32_t AlertRecorder::RecordAlert(const AlertShowRecord& record, const char* exportName, int32_t timeout,
                                    uint32_t flags, bool tracked) const {
  DWORD handle = 0;
  Strata::UniqueHkey key = CreateEntry(keyPath_, L"Alerts", &handle);
  if (!key) return 0;
  WriteText(key.get(), L"TypeId", record.typeId);
  WriteText(key.get(), L"Language", record.language);
  WriteDword(key.get(), L"Priority", static_cast<DWORD>(record.priority));
  WriteDword(key.get(), L"Status", static_cast<DWORD>(record.status));
  WriteDword(key.get(), L"Marker", record.marker);
  WriteText(key.get(), L"Title", record.title);
  WriteText(key.get(), L"AppId", record.appId);
  WriteText(key.get(), L"DetailsContent", record.detailsContent);
  WriteText(key.get(), L"DefaultContent", record.defaultContent);
  WriteDword(key.get(), L"ButtonCount", record.buttonCount);
  WriteDword(key.get(), L"HasButtons", record.hasButtons);
  WriteButtons(key.get(), record);
  WriteDword(key.get(), L"HasOption", record.hasOption);
  if (record.option) WriteOption(key.get(), *record.option);
  WriteDword(key.get(), L"ReservedZero", ReservedMembersAreZero(record) ? 1 : 0);
  WriteDword(key.get(), L"Timeout", static_cast<DWORD>(timeout));
  WriteDword(key.get(), L"Flags", flags);
  std::wstring exportText(exportName, exportName + strlen(exportName));
  WriteText(key.get(), L"Export", exportText.c_str());
  WriteDword(key.get(), L"Tracked", tracked ? 1 : 0);
  return handle;
}

void AlertRecorder::MarkAlert(uint32_t handle, const wchar_t* name, DWORD value) const {
  if (Strata::UniqueHkey key = OpenKey(HKEY_LOCAL_MACHINE, keyPath_ + L"\\Alerts\\" + EntryName(handle), false)) {
    WriteDword(key.get(), name, value);
  }
}

uint32_t AlertRecorder::RecordBriefcard(const wchar_t* title, const wchar_t* text) const {
  DWORD handle = 0;
  Strata::UniqueHkey key = CreateEntry(keyPath_, L"Briefcards", &handle);
  WriteText(key.get(), L"Title", title);
  WriteText(key.get(), L"Text", text);
  return key ? handle : 0;
}

void AlertRecorder::MarkBriefcardClosed(uint32_t handle) const {
  if (Strata::UniqueHkey key = OpenKey(HKEY_LOCAL_MACHINE, keyPath_ + L"\\Briefcards\\" + EntryName(handle), false)) {
    WriteDword(key.get(), L"Closed", 1);
  }
}

void AlertRecorder::RecordToast(const wchar_t* appId, const wchar_t* title, const wchar_t* text) const {
  Strata::UniqueHkey key = CreateEntry(keyPath_, L"Toasts", nullptr);
  WriteText(key.get(), L"AppId", appId);
  WriteText(key.get(), L"Title", title);
  WriteText(key.get(), L"Text", text);
}

}  // namespace ZelStandIns
