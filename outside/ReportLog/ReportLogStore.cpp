#include "ReportLogStore.h"

#include <cwchar>

#include "StandInState.h"

namespace ZelStandIns {

namespace {

void AppendAction(HKEY recordKey, const tagKYLOG_ACTION& action) {
  Strata::UniqueHkey key = OpenKey(recordKey, L"Action", true);
  if (!key) return;
  std::vector<DWORD> ids;
  if (action.pdwActionID) ids.assign(action.pdwActionID, action.pdwActionID + action.dwActionCount);
  ::RegSetValueExW(key.get(), L"ActionIDs", 0, REG_BINARY, reinterpret_cast<const BYTE*>(ids.data()),
                   static_cast<DWORD>(ids.size() * sizeof(DWORD)));
  WriteDword(key.get(), L"AdminRequired", action.bAdminRequired);
  WriteText(key.get(), L"UserName", action.pwszUserName);
  if (action.pclsidAction) {
    wchar_t text[40] = {};
    ::StringFromGUID2(*action.pclsidAction, text, 40);
    WriteText(key.get(), L"Class", text);
  }
}

std::wstring NowAsText() {
  SYSTEMTIME now{};
  ::GetLocalTime(&now);
  wchar_t text[32] = {};
  swprintf(text, 32, L"%04u-%02u-%02u %02u:%02u:%02u", now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
           now.wSecond);
  return text;
}

StoredAction ReadAction(HKEY recordKey) {
  StoredAction action;
  Strata::UniqueHkey key = OpenKey(recordKey, L"Action", false);
  DWORD size = 0;
  if (::RegGetValueW(key.get(), nullptr, L"ActionIDs", RRF_RT_REG_BINARY, nullptr, nullptr, &size) == ERROR_SUCCESS &&
      size > 0) {
    action.actionIds.resize(size / sizeof(DWORD));
    ::RegGetValueW(key.get(), nullptr, L"ActionIDs", RRF_RT_REG_BINARY, nullptr, action.actionIds.data(), &size);
  }
  action.adminRequired = ReadDword(key.get(), L"AdminRequired").value_or(0);
  action.userName = ReadText(key.get(), L"UserName");
  action.actionClass = ReadText(key.get(), L"Class");
  return action;
}

}  // namespace

HRESULT ReportLogStore::Append(const tagKYLOG_INFO& record) const {
  Strata::UniqueHkey root = OpenKey(HKEY_LOCAL_MACHINE, keyPath_, true);
  Strata::UniqueHkey key = root ? CreateNextEntry(root.get(), L"Records") : Strata::UniqueHkey();
  if (!key) return E_FAIL;
  WriteText(key.get(), L"Stored", NowAsText().c_str());
  WriteText(key.get(), L"Category", record.pwszLogCategoryID);
  WriteDword(key.get(), L"AdminOnly", record.bViewByTARNAdminOnly);
  WriteDword(key.get(), L"FieldCount", record.dwFieldCount);
  WriteDword(key.get(), L"DetailsTemplateID", record.dwDetailsTemplateID);
  WriteDword(key.get(), L"DetailsDataCount", record.dwDetailsDataCount);
  for (DWORD i = 0; record.pFields && i < record.dwFieldCount; ++i) {
    Strata::UniqueHkey field = CreateNextEntry(key.get(), L"Fields");
    WriteDword(field.get(), L"ID", record.pFields[i].dwFieldID);
    WriteText(field.get(), L"Data", record.pFields[i].pwszData);
  }
  for (DWORD i = 0; record.pDetailsData && i < record.dwDetailsDataCount; ++i) {
    Strata::UniqueHkey detail = CreateNextEntry(key.get(), L"Details");
    WriteText(detail.get(), L"Token", record.pDetailsData[i].pwszToken);
    WriteText(detail.get(), L"Value", record.pDetailsData[i].pwszValue);
  }
  if (record.pAction) AppendAction(key.get(), *record.pAction);
  // Written last: a reader skips a record that is still being written.
  WriteDword(key.get(), L"Complete", 1);
  return S_OK;
}

std::vector<StoredRecord> ReportLogStore::ReadAll() const {
  std::vector<StoredRecord> records;
  Strata::UniqueHkey list = OpenKey(HKEY_LOCAL_MACHINE, RecordsPath(), false);
  if (!list) return records;
  for (const std::wstring& name : EntryNames(list.get())) {
    Strata::UniqueHkey key = OpenKey(list.get(), name, false);
    if (!key || !ReadDword(key.get(), L"Complete")) continue;
    StoredRecord record;
    record.stored = ReadText(key.get(), L"Stored");
    record.category = ReadText(key.get(), L"Category");
    record.adminOnly = ReadDword(key.get(), L"AdminOnly").value_or(0);
    record.fieldCount = ReadDword(key.get(), L"FieldCount").value_or(0);
    record.detailsTemplateId = ReadDword(key.get(), L"DetailsTemplateID").value_or(0);
    record.detailsDataCount = ReadDword(key.get(), L"DetailsDataCount").value_or(0);
    if (Strata::UniqueHkey fields = OpenKey(key.get(), L"Fields", false)) {
      for (const std::wstring& entry : EntryNames(fields.get())) {
        Strata::UniqueHkey field = OpenKey(fields.get(), entry, false);
        record.fields.push_back({ReadDword(field.get(), L"ID").value_or(0), ReadText(field.get(), L"Data")});
      }
    }
    if (Strata::UniqueHkey details = OpenKey(key.get(), L"Details", false)) {
      for (const std::wstring& entry : EntryNames(details.get())) {
        Strata::UniqueHkey detail = OpenKey(details.get(), entry, false);
        record.details.push_back({ReadText(detail.get(), L"Token"), ReadText(detail.get(), L"Value")});
      }
    }
    if (OpenKey(key.get(), L"Action", false)) record.action = ReadAction(key.get());
    records.push_back(std::move(record));
  }
  return records;
}

}  // namespace ZelStandIns
