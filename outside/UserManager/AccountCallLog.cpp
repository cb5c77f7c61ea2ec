#include "AccountCallLog.h"

#include "FormatText.h"
#include "StandInState.h"

namespace ZelStandIns {

void AccountCallLog::Record(const std::wstring& call) const {
  Strata::UniqueHkey root = OpenKey(HKEY_LOCAL_MACHINE, keyPath_, true);
  if (!root) return;
  if (Strata::UniqueHkey entry = CreateNextEntry(root.get(), L"AccountCalls")) WriteText(entry.get(), L"Call", call.c_str());
}

std::vector<std::wstring> AccountCallLog::ReadAll() const {
  std::vector<std::wstring> calls;
  Strata::UniqueHkey list = OpenKey(HKEY_LOCAL_MACHINE, keyPath_ + L"\\AccountCalls", false);
  if (!list) return calls;
  for (const std::wstring& name : EntryNames(list.get())) {
    Strata::UniqueHkey entry = OpenKey(list.get(), name, false);
    calls.push_back(ReadText(entry.get(), L"Call").value_or(L""));
  }
  return calls;
}

std::wstring AccountCallLog::Quoted(const wchar_t* text) {
  return text ? L"\"" + std::wstring(text) + L"\"" : L"(null)";
}

std::wstring AccountCallLog::Hex(const BYTE* bytes, ULONG count) {
  if (!bytes) return L"(null)";
  std::wstring hex = L"[";
  for (ULONG i = 0; i < count; ++i) hex += Strata::Format(L"%02X", bytes[i]);
  return hex + L"]";
}

}  // namespace ZelStandIns
