#include "UserDirectory.h"

#include "StandInState.h"

namespace ZelStandIns {

std::optional<UserRecord> UserDirectory::FindUser(const std::wstring& logonName) const {
  if (logonName.empty()) return std::nullopt;
  Strata::UniqueHkey key = OpenKey(HKEY_LOCAL_MACHINE, keyPath_ + L"\\Users\\" + logonName, false);
  if (!key) return std::nullopt;
  UserRecord user;
  user.logonName = logonName;
  user.displayName = ReadText(key.get(), L"DisplayName");
  user.kind = ReadDword(key.get(), L"Kind").value_or(0);
  user.startup = ReadDword(key.get(), L"Startup").value_or(0);
  user.adminFlag = ReadDword(key.get(), L"AdminFlag").value_or(0);
  user.userFlag = ReadDword(key.get(), L"UserFlag").value_or(0);
  user.groupSids = ReadTexts(key.get(), L"GroupSids");
  user.nameResult = ReadDword(key.get(), L"NameResult").value_or(0);
  return user;
}

std::vector<std::wstring> UserDirectory::UserNames() const {
  Strata::UniqueHkey users = OpenKey(HKEY_LOCAL_MACHINE, keyPath_ + L"\\Users", false);
  return users ? EntryNames(users.get()) : std::vector<std::wstring>();
}

SessionAnswer UserDirectory::LoggedOnUser(DWORD sessionId) const {
  SessionAnswer answer;
  Strata::UniqueHkey session =
      OpenKey(HKEY_LOCAL_MACHINE, keyPath_ + L"\\Sessions\\" + std::to_wstring(sessionId), false);
  if (!session) {
    answer.result = ERROR_NOT_LOGGED_ON;
    return answer;
  }
  // A user who logs on a while after the session started: "not logged on" this many more times.
  if (std::optional<DWORD> notYet = ReadDword(session.get(), L"NotLoggedOnTimes"); notYet && *notYet > 0) {
    Strata::UniqueHkey writable =
        OpenKey(HKEY_LOCAL_MACHINE, keyPath_ + L"\\Sessions\\" + std::to_wstring(sessionId), true);
    WriteDword(writable.get(), L"NotLoggedOnTimes", *notYet - 1);
    answer.result = ERROR_NOT_LOGGED_ON;
    return answer;
  }
  answer.hr = static_cast<HRESULT>(ReadDword(session.get(), L"HResult").value_or(S_OK));
  answer.result = static_cast<LONG>(ReadDword(session.get(), L"Result").value_or(0));
  if (FAILED(answer.hr) || (answer.result & kErrorMask) != 0) return answer;
  answer.user = FindUser(ReadText(session.get(), L"User").value_or(L""));
  if (!answer.user) answer.result = ERROR_NO_SUCH_USER;
  return answer;
}

void UserDirectory::StoreUser(const std::wstring& logonName, DWORD startup) const {
  if (logonName.empty()) return;
  if (Strata::UniqueHkey key = OpenKey(HKEY_LOCAL_MACHINE, keyPath_ + L"\\Users\\" + logonName, true)) {
    WriteDword(key.get(), L"Startup", startup);
  }
}

}  // namespace ZelStandIns
