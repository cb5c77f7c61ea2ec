#include "TarnRecordContext.h"

#include "ProductSettings.h"

std::wstring CTarnRecordContext::UserNameOfSession(DWORD sessionId) {
  wchar_t name[CTarnUserHelper::kUserNameCapacity] = {};
  if (!users_.GetCurrentlyLoggedOnUser(sessionId, name, CTarnUserHelper::kUserNameCapacity, nullptr, nullptr, nullptr))
    return std::wstring();
  return name;
}

std::wstring CTarnRecordContext::UserNameOfCurrentSession() { return UserNameOfSession(getSessionId()); }

bool CTarnRecordContext::IsSessionUserAdmin(DWORD sessionId) { return users_.IsSessionCurrentUserAdmin(sessionId); }

std::wstring CTarnRecordContext::ProductString(UINT id) { return ProductSettings::LoadProductString(id); }
